#pragma once

// Snapshot of one directory tree for the folder mirror: one entry per file or
// symbolic link, keyed by its path below the base folder, plus one entry per
// empty folder. Names are bytes, kept as they are on disk; look-ups are exact.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/NameStore.h"
#include "util/DateTime.h"

namespace qvb {

class TCopyIt;
class TFindFile;

enum TEntryKind : uint8_t { ekFile, ekLink, ekEmptyDir };

struct TFileEntry {
    // Path below fBaseDir, "/"-separated, unescaped. For ekEmptyDir: the full
    // folder path without its leading "/" and ending in "/". Held by the list's
    // name store: valid while the list is neither cleared nor destroyed.
    std::string_view name;
    int64_t mtimeNs = 0;  // UTC nanoseconds since 1970; a link's own time
    int64_t size = 0;
    uint16_t mode = 0;   // st_mode (type and permission bits fit in 16)
    uint16_t owner = 0;  // index into the list's owners
    // Last, so that it shares the padding after `owner`: a million entries per list are common.
    TEntryKind kind = ekFile;
    // How long before the list's fStatusEpochNs the file's status (attributes,
    // links) last changed, as statusAgeCode; it fills the rest of the padding.
    uint8_t statusAgeBytes[3] = {};

    uint32_t statusAge() const {
        return statusAgeBytes[0] | uint32_t{statusAgeBytes[1]} << 8 |
               uint32_t{statusAgeBytes[2]} << 16;
    }
};

// Exact below half a second, then to about four parts in a million; never
// decreasing with the age, so two codes compare as their ages do (equal codes
// may hide a small difference). Fits 24 bits.
uint32_t statusAgeCode(int64_t ageUs);

inline constexpr uint16_t kUnknownOwner = 0xFFFF;

// Every folder of a listed tree, for the modes and owners of the copies and to
// tell a folder from a file of the same name.
struct TFolderEntry {
    std::string name;  // path below fBaseDir ending in "/"; "" for the base folder
    uint16_t mode = 0;
    uint16_t owner = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;  // the last change of its status
};

// A file of more than one name (hard links) and its inode.
struct TLinkedName {
    dev_t dev = 0;
    ino_t ino = 0;
    uint32_t index = 0;  // into the list's entries
    // All its names, those outside the listed tree too (another version of a backup).
    uint32_t links = 0;
};

struct TOwner {
    uid_t uid = 0;
    gid_t gid = 0;
    bool operator==(const TOwner&) const = default;
};

// What the mirror does with one source file.
enum TFileAction : int {
    kActionNone = -1,  // nothing: its name is blocked or its folder failed the check
    kActionSkip = 0,
    kActionReplace = 1,
    kActionCreate = 2,
    kActionReplaceNewer = 3,
};

class TFileList {
  public:
    TFileList();
    ~TFileList();
    TFileList(const TFileList&) = delete;
    TFileList& operator=(const TFileList&) = delete;

    // Removes the entries and resets counters and errors; keeps base folder,
    // filters, skip list and tolerance.
    void Clear();
    void setBaseDir(const std::string& dir);
    // Splits the text into skip items (the rule of NameMask.h, ";" separating)
    // and removes every "*" from them.
    void setSkipFolders(const std::string& text);
    // Skip items given as absolute paths at or below `folder` name that folder
    // exactly: they move from fSkipList to fSkipBelow as paths below it ("/tmp/").
    void anchorSkipItems(const std::string& folder);
    // Lists the tree below fBaseDir; false when the base folder is missing or
    // unreadable. Symbolic links are listed as links, never followed; FIFOs,
    // sockets and devices are left out with a warning line. Masks and skip texts
    // are matched against the path below the base with a leading "/"
    // ("/sub/a.txt"); a mask without "/" also against the name alone.
    bool scan();
    // Skip: destination current; Replace: source newer beyond the
    // tolerance, or times within it and sizes different (a copy cut short);
    // Create: no entry, or no destination time; ReplaceNewer: a destination
    // newer beyond the tolerance whose size differs or whose time lies beyond
    // fRunStartNs plus the tolerance (a wrong clock; an older version put
    // back). A newer destination of the same size and a past time is current.
    // Without a size only the times count.
    TFileAction compare(std::string_view name, std::optional<int64_t> destMtimeNs,
                        std::optional<int64_t> destSize = std::nullopt) const;
    // The same for an entry of this list, without looking it up again.
    TFileAction compare(const TFileEntry& entry, std::optional<int64_t> destMtimeNs,
                        std::optional<int64_t> destSize = std::nullopt) const;
    // Exact, case-sensitive, hashed.
    const TFileEntry* find(std::string_view name) const;
    // The same for names asked in about this list's order or its reverse (two
    // trees listed alike): the neighbours of the entry found last, whose
    // position `near` holds (start with kNowhere), are tried before the hash.
    static constexpr size_t kNowhere = SIZE_MAX;
    const TFileEntry* find(std::string_view name, size_t& near) const;
    const std::vector<TFileEntry>& entries() const { return fEntries; }
    const std::vector<TFolderEntry>& folders() const { return fFolders; }
    // The files of more than one name, sorted by inode and then by position in
    // the list; the others need no room for an inode.
    const std::vector<TLinkedName>& linkedNames() const { return fLinked; }
    // The folder `name` ("a/b/"), or null; exact.
    const TFolderEntry* findFolder(std::string_view name) const;
    // Few trees have more than a handful of owners, so entries keep an index;
    // kUnknownOwner (uid and gid -1) stands for owners beyond the table.
    const TOwner& ownerOf(uint16_t index) const;
    // The day-number value of an entry for display and trace lines (0 for an empty folder).
    TDateTime valueOf(const TFileEntry& entry) const;

    std::string fBaseDir;
    int32_t fFileCount = 0;
    int32_t fDirCount = 0;
    int64_t fTotalSize = 0;
    // 0 = none, 1 = no base folder given, 2 = base folder does not exist,
    // 3 = base folder cannot be read (the scan then fails rather than report an empty tree).
    int32_t fErrorCode = 0;
    std::string fErrorText;
    std::string fExclude, fIncludeOnly;
    int32_t fTimeTolerance = 0;
    // The destination keeps times in local time: a time one hour off (within
    // the tolerance) is the same time seen across a change of daylight-saving time.
    bool fDestLocalTime = false;
    // When the run started (ns since 1970, UTC): a destination time beyond it is in the future.
    int64_t fRunStartNs = INT64_MAX;
    // The moment the entries' status ages count back from (UTC nanoseconds);
    // 0 leaves them 0. Two lists compared with each other share it.
    int64_t fStatusEpochNs = 0;
    TCopyIt* fOwner = nullptr;
    // Scanned on a thread other than the window's: the scan leaves the
    // window's events alone (give it no owner either).
    bool fOffThread = false;
    bool fListEmptyDirs = false;
    std::string fSkipFolders;
    std::vector<std::string> fSkipList;
    // Folders skipped with all they hold, as "/" + path below the base + "/".
    std::vector<std::string> fSkipBelow;
    // Absolute folder (with "/") the scan leaves out entirely (a destination inside the source).
    std::string fExcludeDir;
    // More absolute folders the scan leaves out (the job's sources inside a destination).
    std::vector<std::string> fExcludeDirs;
    // The base folder held no entry at all, whatever masks and skip items say.
    bool fBaseEmpty = false;
    // Relative paths (ending "/") of folders that could not be read, or could be
    // read only in part; nothing below them may be taken as deleted.
    std::vector<std::string> fUnreadableDirs;
    // German warning lines: unreadable folders, skipped FIFOs/sockets/devices.
    std::vector<std::string> fWarningLines;
    // Trace lines (log level above 3): the folders of the kernel's own file
    // systems that the scan left out.
    std::vector<std::string> fTraceLines;

  private:
    class Scanner;
    void rebuildIndex();

    std::unique_ptr<TFindFile> fFindFile;
    TNameStore fNames;
    std::vector<TFileEntry> fEntries;
    std::vector<TFolderEntry> fFolders;  // sorted by name after a scan
    std::vector<TLinkedName> fLinked;
    std::vector<TOwner> fOwners;
    std::vector<uint32_t> fSlots;  // open addressing: entry index + 1, 0 = free
};

}  // namespace qvb
