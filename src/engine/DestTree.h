#pragma once

// Work below one destination folder without ever resolving a name through a
// symbolic link or out of that folder: a link planted in the destination, or
// one the user made there, must never carry a copy, a new folder or a deletion
// somewhere else. Every name below the base is reached from the base's
// descriptor, with openat2 where the kernel has it and one folder at a time
// with O_NOFOLLOW where it has not.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "util/Sys.h"

namespace qvb {

// Owners are carried over only by root, the one user who may give files away.
bool runningAsRoot();

// Called with the path (relative to the folder given) of each file, link or
// folder removed.
using TRemoved = std::function<void(const std::string& rel, bool isFolder)>;

// Removes `name` in the folder `dirFd` whatever it is, a folder with all it
// holds (links inside are removed, never followed); 0 or the errno of the
// first failure (what could be removed is gone then).
int removeAllAt(int dirFd, const std::string& name, const TRemoved& removed);

// Gives the file `existing` of the folder `fromDir` the name `name` in the
// folder `dirFd` as well. A name that stands there already is replaced through
// a temporary name, so that the old file stays until the link is in place; 0
// or the errno.
int linkAt(int fromDir, const std::string& existing, int dirFd, const std::string& name);

class TDestTree {
  public:
    TDestTree() = default;
    TDestTree(const TDestTree&) = delete;
    TDestTree& operator=(const TDestTree&) = delete;
    ~TDestTree() { close(); }

    // A dry tree writes nothing and answers as if its removals and new
    // folders had happened, so that a preview meets the decisions of a run.
    // Set before open. A dry tree's missing base counts as a folder to make.
    void setDryRun(bool dry) { fDry = dry; }
    // Called right before each change this tree makes (a new folder, a
    // removal, a mode, an owner, a link); not for the write bit a folder
    // lends for the run's own writes. A dry tree never calls it.
    void setBeforeWrite(std::function<void()> hook) { fBeforeWrite = std::move(hook); }
    // Dry tree: a run would write a file or link at `name` now.
    void noteWritten(const std::string& name);

    // Opens the base folder; a link naming the base itself is followed (the
    // user chose that path). False with errno.
    bool open(const std::string& base);
    // Also after a failed or cancelled run: the unlocked folders get their modes back.
    void close();

    // Descriptor of the folder `rel` ("" for the base, "a/b/" or "a/b"); -1
    // with errno: ENOTDIR or ELOOP when one of its names is a file or a link.
    // Stays valid until the next call on this tree.
    int folder(const std::string& rel);
    // The same, creating missing folders with mode 0700 (their real mode is
    // set once their contents are in place); `created` tells whether the last
    // one was made now.
    int makeFolder(const std::string& rel, bool& created);
    // Deletes the file or link `name`; 0, ENOENT when there is none (a folder
    // counts as none), or the errno of the failure.
    int removeFile(const std::string& name);
    // Removes the empty folder `rel`; false when it is not empty or gone.
    bool removeDir(const std::string& rel);
    // Removes whatever stands at `name`, see removeAllAt.
    int removeAll(const std::string& name, const TRemoved& removed);
    // Mode and owner of `name` ("a/b" or a folder "a/b/"), never of what a link
    // points to; 0 or the errno. A link has no mode of its own: EOPNOTSUPP.
    int setMode(const std::string& name, mode_t mode);
    int setOwner(const std::string& name, uid_t uid, gid_t gid);
    // The modification time of `name` (nanoseconds since 1970); 0 or the errno.
    int setModified(const std::string& name, int64_t mtimeNs);
    // Opens the file or folder `name` without following a link (O_NOFOLLOW is
    // added to `flags`); -1 with errno. A dry tree opens nothing (errno 0).
    int openEntry(const std::string& name, int flags);
    // Gives the file `existing` the name `name` in the folder `dirFd` as well,
    // in place of what stood there; 0 or the errno.
    int linkFile(const std::string& existing, int dirFd, const std::string& name);

    // A folder of the user's that lacks its owner's write bit (a read-only
    // folder of the source, copied with its mode) refuses every update and
    // deletion inside it: it gets the bit until restoreModes. `dirFd` is the
    // folder `rel`. False when it had the bit, is another user's, or kept its mode.
    bool unlockFolder(int dirFd, const std::string& rel);
    // Gives each unlocked folder its mode again (close does too); 0 or the
    // errno of the first failure, whose folder is then `failed`.
    int restoreModes(std::string& failed);

  private:
    int walk(const std::string& rel, bool create, bool& created);
    // The parent's descriptor and the last name of `name`; -1 with errno.
    int parentOf(const std::string& name, std::string& last);
    // `write` (0 or an errno) in the folder `dirFd` (`rel`), once more after
    // the folder was unlocked when it was refused for lack of permission.
    int writeIn(int dirFd, const std::string& rel, const std::function<int()>& write);
    void forget();
    void beforeWrite() {
        if (fBeforeWrite && !fDry) fBeforeWrite();
    }
    int dryWalk(const std::string& rel, bool create, bool& created);
    int dryRemoveFile(const std::string& name);
    bool dryRemoveDir(const std::string& path);
    // `path` or one of its folders was removed (dry).
    bool gone(const std::string& path) const;
    bool holdsOnlyGone(const std::string& path);

    bool fDry = false;
    std::function<void()> fBeforeWrite;
    bool fBaseMissing = false;
    std::unordered_set<std::string> fGone;    // removed names, folders with "/"
    std::unordered_set<std::string> fMade;    // new folders, without "/"
    std::unordered_set<std::string> fFilled;  // folders a new file lands in, without "/"
    sys::UniqueFd fBase;
    std::string fBasePath;
    sys::UniqueFd fFd;
    std::string fRel;
    std::vector<std::pair<std::string, mode_t>> fUnlocked;  // folders and their own modes
};

}  // namespace qvb
