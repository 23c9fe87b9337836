#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/CopyIt.h"
#include "util/Sys.h"

namespace qvb {

// Files the block copy writes before it renames them over their target begin
// with this; the mirror removes leftovers of an interrupted run.
inline constexpr std::string_view kTempFilePrefix = ".qvb-tmp-";

// The folder and name of a copy's target (defined with the copier).
struct TTargetPlace;
struct TExternalMethod;

// What a listing saw of a regular source file: its copier may take it as the
// status the copy starts from and look at the file only once, after the copy.
struct TListedStatus {
    bool known = false;
    int64_t size = 0;
    int64_t mtimeNs = 0;  // as fileTimeNs gives it
    mode_t mode = 0;
    uid_t uid = 0;
};

// The size of a file (a link's own size), or -1 when there is none.
int64_t fileSize64(const std::string& path);

// Copies one file, trying its own copy first and then the system's copy
// programs, until one of them succeeds.
class TCopyFile : public TCopyIt {
  public:
    TCopyFile();

    // True when the file was copied and the run was not cancelled.
    bool Execute() override;

    // Each takes the source and the full target path and reports its own failure.
    bool copyWithBlockWrite(const std::string& source, const std::string& target);
    bool copyWithXCopy(const std::string& source, const std::string& target);
    bool copyWithCopyFile(const std::string& source, const std::string& target);
    bool copyWithRobocopy(const std::string& source, const std::string& target);
    bool copyWithDosCopy(const std::string& source, const std::string& target);

    std::string fSource;
    std::string fDest;
    int64_t fBytesCopied = 0;
    uint8_t fFirstMethod = 0;
    // Set by a caller that already knows the target does not exist (the
    // mirror's listing); spares asking the file system once more. Only a hint:
    // a target that appeared meanwhile is still replaced safely. Cleared by
    // every Execute.
    bool fTargetMissing = false;
    // Set by a caller that listed the source (the mirror). Only a hint: a
    // source that changed since is copied again. Cleared by every Execute.
    TListedStatus fListed;
    // The source's folder, opened by a caller that walks the source (the
    // mirror): a listed source is opened by its name there, which spares
    // walking its whole path. AT_FDCWD: the path is used as it is. Cleared by
    // every Execute.
    int fSourceDir = AT_FDCWD;
    // The target's folder, opened by a caller that made sure no link leads
    // there (the mirror); the target is then created and replaced only in
    // that folder. AT_FDCWD: the target path is used as it is. Cleared by every Execute.
    int fDestDir = AT_FDCWD;
    // Set when the copy is whole but the destination refused its owner or mode (errno).
    int fAttributeError = 0;
    // Set when the copy is whole but the destination refused its times (errno).
    int fTimesError = 0;
    // The destination lies on a network or FUSE file system: a copy's times
    // are set again once it has its name.
    bool fTimesAfterCommit = false;
    // Set when the copy is whole but the destination refused its extended attributes or ACLs
    // (errno).
    int fXattrError = 0;
    // What was learnt of the destination's folders: forgotten before each run,
    // since their ACLs may have changed meanwhile.
    void forgetFolders() { fFolder = TFolderLore{}; }

    // A source opened without following a link: `fd` is open for a regular
    // file (or any non-link), `st` describes it; `err` is the errno of a failure.
    struct TSource {
        sys::UniqueFd fd;
        struct stat st {};
        int err = 0;
        // `st` holds what the listing saw (the copy is bounded by its size),
        // not yet confirmed by the file; once the copy is made, a look at the
        // file replaces it and sets `settled`: no other look is needed to tell
        // whether the file changed while it was copied.
        bool listed = false;
        bool settled = false;
        bool isLink() const { return err == 0 && S_ISLNK(st.st_mode); }
    };

  private:
    enum class TRunOutcome { NotFound, StartFailed, Failed, Succeeded, Cancelled };

    TRunOutcome runAndWait(const std::string& program, const std::string& directory,
                           const std::vector<std::string>& args);
    bool externalCopy(const TExternalMethod& method, const std::string& source,
                      const std::string& target);
    TTargetPlace placeOf(const std::string& target) const;
    bool copyRegularFile(const std::string& source, TSource& src, const TTargetPlace& place);
    // Replaces a listed status by the file's own after the copy; false (with
    // its line) when the look fails or finds no regular file any more.
    bool settleListed(const std::string& source, TSource& src);
    bool copyLink(const std::string& source, const struct stat& st, const TTargetPlace& place);
    // 0, the errno of a failure, or ECANCELED.
    int moveData(int in, int out, const struct stat& st, bool bounded);
    void copyXattrs(int in, int out, bool bare);
    // The destination folder copies went to last, and what they showed of it;
    // asked for anew when the copies enter another folder.
    struct TFolderLore {
        std::string path;
        // The folder hands attributes down to a new file (a default ACL): copies
        // into a folder that hands none down need no look at what they start with.
        bool handsDown = true;
        // The owner and group every new file in the folder gets (the creator's,
        // or the folder's group when it is setgid, or what the file system
        // gives all alike): learnt from the first copy, so that a copy already
        // owned as its source needs neither a look nor a chown.
        bool ownerKnown = false;
        uid_t uid = 0;
        gid_t gid = 0;
    };

    TFolderLore& folderOf(const std::string& target);
    int applyAttributes(int fd, const struct stat& st, mode_t createdMode, TFolderLore& folder);
    int moveSparse(int in, int out, int64_t size);
    // From `offset` to `end` (-1: to the end of the file), both files at `offset`.
    int moveStretch(int in, int out, int64_t offset, int64_t end, int64_t size);
    int readWriteStep(int in, int out, size_t count, ssize_t& moved);
    // `destination`: the failure is the destination's, not the source's;
    // `path` is the file of the side that failed.
    void reportBlockWriteError(int err, bool destination, const std::string& path);
    // Opens fSource into fOpened; false (with its line) when it cannot be copied at all.
    bool openCopyableSource();
    bool copyWithMethods(const std::string& target);
    void leaveStale(const std::string& target);

    // The source as opened by Execute, so that the block copy opens and
    // examines the file only once.
    TSource fOpened;
    std::string fOpenedPath;
    std::string fDestTarget;  // the target fDestDir speaks of
    // True when the block copy failed in a way no copy program can get round
    // (folder not writable, read-only file system, no space, a name the
    // destination cannot store, a source this user cannot read).
    bool fHopeless = false;
    std::vector<char> fBuffer;
    int32_t fLastPercent = 0;  // the percentage last reported for this file
    TFolderLore fFolder;
};

}  // namespace qvb
