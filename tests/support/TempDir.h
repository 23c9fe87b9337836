#pragma once

#include <string>

namespace qvb::test {

// A fresh private folder below $TMPDIR (or /tmp), removed with everything in
// it when the object goes. path() ends with "/".
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "qvb-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return fPath; }
    // path() + relative.
    std::string operator/(const std::string& relative) const { return fPath + relative; }

  private:
    std::string fPath;
};

// Removes a tree without following links (permissions are restored first so
// that read-only folders left by a test go too).
void removeTree(const std::string& path);

}  // namespace qvb::test
