#include "engine/CopyFile.h"

namespace qvb {

int64_t fileSize64(const std::string& path) {
    struct stat st {};
    if (sys::lstat(path.c_str(), &st) != 0) return -1;
    return st.st_size;
}

TCopyFile::TCopyFile() { setName("TCopyFile"); }

bool TCopyFile::Execute() { return false; }
bool TCopyFile::copyWithBlockWrite(const std::string&, const std::string&) { return false; }
bool TCopyFile::copyWithXCopy(const std::string&, const std::string&) { return false; }
bool TCopyFile::copyWithCopyFile(const std::string&, const std::string&) { return false; }
bool TCopyFile::copyWithRobocopy(const std::string&, const std::string&) { return false; }
bool TCopyFile::copyWithDosCopy(const std::string&, const std::string&) { return false; }

}  // namespace qvb
