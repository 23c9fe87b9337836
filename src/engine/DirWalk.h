#pragma once

// Depth-first walk over a directory tree that never follows symbolic links and
// never recurses: the folders being walked sit on an explicit stack, and only
// the deepest few keep their descriptor open (a shallower one is reopened
// through ".." and checked to be the same folder), so a tree thousands of
// levels deep needs neither a deep call stack nor thousands of descriptors.

#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qvb {

class TDirWalker {
  public:
    struct TItem {
        std::string name;
        unsigned char type;  // DT_* from the listing; DT_UNKNOWN when the file system keeps none
    };

    // One folder, read completely, while its descriptor is open.
    struct TFolder {
        const std::string& path;  // root + relative path, ends with "/"
        size_t depth;             // the root is 1
        int fd;                   // for fstatat/openat on the items
        const struct stat& st;    // the folder itself
        std::vector<TItem>& items;
        int readError;  // errno when the listing broke off (items then incomplete), else 0
    };

    // Called for each folder entered; fills `descend` with the names of the
    // subfolders to enter next, in that order.
    using Visit = std::function<void(TFolder& folder, std::vector<std::string>& descend)>;
    // Called for a folder that cannot be opened (the root included).
    using Fail = std::function<void(const std::string& path, size_t depth, int err)>;

    // Called instead of entering a folder below the root that holds one of the
    // kernel's own file systems (proc, sysfs, ...), with its type name.
    using Pass = std::function<void(const std::string& path, const std::string& type)>;

    void setMaxOpenDirs(size_t count) { fMaxOpenDirs = count < 2 ? 2 : count; }
    void setOnPseudoFolder(Pass pass) { fOnPseudo = std::move(pass); }
    // Walks the tree below `root` (which should end with "/"). The root itself is
    // opened following links; below it nothing is. Stops early when `aborted` turns true.
    void walk(const std::string& root, const Visit& visit, const Fail& fail,
              const std::atomic<bool>* aborted = nullptr);

  private:
    size_t fMaxOpenDirs = 64;
    Pass fOnPseudo;
};

// Opens a folder by name relative to `dirFd` without following a link; -1 and errno on failure.
int openSubDir(int dirFd, const char* name);

}  // namespace qvb
