#pragma once

// Search over one or more directory trees for files that meet a set of
// criteria: names and folders (with level limits and filter rules),
// attributes, times, sizes and content. Runs in the caller's thread, or in a
// worker thread whose end is reported back in the owner's thread.

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/DirWalk.h"
#include "engine/NameMask.h"
#include "util/DateTime.h"

namespace qvb {

enum TFileAttributeStatus : uint8_t { fsIgnore, fsSet, fsUnset, fsAnySet, fsAnyUnset };
enum TFolderIgnore : uint8_t { fiNone, fiJustThis, fiJustSubfolders, fiThisAndSubfolders };
enum TContentSearchOption : unsigned { csoCaseSensitive = 1u, csoWholeWord = 2u, csoNegate = 4u };
using TContentSearchOptions = unsigned;  // TContentSearchOption bits

// Attribute bits of an entry. On Linux: Directory a folder, Hidden a name
// beginning with ".", ReadOnly no write permission for the owner, ReparsePoint
// a symbolic link, Device a character or block device, FIFO or socket, Normal
// none of these. The other bits never occur here.
enum : uint32_t {
    faReadOnly = 0x1,
    faHidden = 0x2,
    faSystem = 0x4,
    faDirectory = 0x10,
    faArchive = 0x20,
    faDevice = 0x40,
    faNormal = 0x80,
    faTemporary = 0x100,
    faSparseFile = 0x200,
    faReparsePoint = 0x400,
    faCompressed = 0x800,
    faOffline = 0x1000,
    faNotContentIndexed = 0x2000,
    faEncrypted = 0x4000,
    faVirtual = 0x10000,
};

// The attribute criteria's fields by index; the bit is 1 << (index - 1).
enum TAttributeIndex : uint8_t {
    aiReadonly = 1,
    aiHidden = 2,
    aiSystem = 3,
    aiDirectory = 5,
    aiArchive = 6,
    aiDevice = 7,
    aiNormal = 8,
    aiTemporary = 9,
    aiSparseFile = 10,
    aiReparsePoint = 11,
    aiCompressed = 12,
    aiOffline = 13,
    aiNotContentIndexed = 14,
    aiEncrypted = 15,
    aiVirtual = 17,
};

uint32_t fileAttributes(const std::string& name, const struct stat& st);

// Local date-time value of a file-system (UTC) time.
TDateTime FileTimeToLocalDateTime(const struct timespec& time);

// A bound of 0 is absent; a whole number of days compares with the date part
// of the value, a bound without a date part with its time of day, any other
// with the whole value. Both bounds are inclusive.
bool MatchesDateBounds(TDateTime before, TDateTime after, TDateTime value);

// The times are converted on request only: a listing of a million files
// reads them for none or one of them.
struct TFileDetails {
    std::string Folder;    // with trailing "/"
    std::string FileName;  // as the listing gives it
    uint32_t Attributes = 0;
    int64_t Size = 0;
    struct stat Stat {};  // the entry itself; a link is not followed

    TDateTime Created() const;  // Linux keeps no creation time: the status change time stands in
    TDateTime Modified() const;
    TDateTime Accessed() const;
};

class TCustomCriteria {
  public:
    virtual ~TCustomCriteria() = default;
    // Accept everything for this aspect.
    virtual void Clear() = 0;
};

struct TTargetPath {
    std::string Folder;  // absolute, with trailing "/"
    std::vector<std::string> FileMasks;
    bool Subfolders = true;
    uint16_t MinLevel = 0;
    uint16_t MaxLevel = 0;  // 0 = unlimited
};
using TTargetPaths = std::vector<TTargetPath>;

class TFileCriteria : public TCustomCriteria {
  public:
    void Assign(const TFileCriteria& source) { *this = source; }
    void Clear() override;

    const std::string& FileName() const { return fFileName; }
    void setFileName(const std::string& masks);  // ";"-separated, empty = "*.*"
    const std::string& Location() const { return fLocation; }
    void setLocation(const std::string& folders);  // ";"-separated, each with optional prefix
    const std::vector<std::string>& Paths() const { return fPaths; }
    void setPaths(std::vector<std::string> lines);  // folder + mask per line
    bool Subfolders() const { return fSubfolders; }
    void setSubfolders(bool value);
    uint16_t MinLevel() const { return fMinLevel; }
    void setMinLevel(uint16_t value);
    uint16_t MaxLevel() const { return fMaxLevel; }
    void setMaxLevel(uint16_t value);

    // Ordered rules: ">mask" accepts, "<mask" or a bare mask rejects; the first
    // that matches folder + name decides, none matching accepts.
    std::vector<std::string> Filters;

    // A folder searched as it is written: never split at ";" nor read with
    // the prefix grammar (a name from a listing may hold any of them). It comes
    // first among the targets and is the base of the mask rule.
    const std::string& LiteralFolder() const { return fLiteralFolder; }
    void setLiteralFolder(const std::string& folder);
    // The mask rule of a job (NameMask.h): include masks, when there are any,
    // take precedence over the exclude masks; both match the path below the
    // literal folder with a leading "/".
    void setMaskRule(std::string_view includeOnly, std::string_view exclude);

    const TTargetPaths& GetTargetPaths() const;
    // Filter rules and mask rule on folder + name.
    bool AcceptFileName(const std::string& folder, const std::string& name) const;

  private:
    void discardTargets() { fTargets.reset(); }

    bool acceptedByMaskRule(const std::string& folder, const std::string& name) const;

    std::string fFileName;
    std::string fLocation;
    std::string fLiteralFolder;
    std::string fMaskBase;  // fLiteralFolder with its "/", asked for every name
    TNameMasks fIncludeOnly;
    TNameMasks fExclude;
    std::vector<std::string> fPaths;
    bool fSubfolders = true;
    uint16_t fMinLevel = 0;
    uint16_t fMaxLevel = 0;
    mutable std::shared_ptr<const TTargetPaths> fTargets;
};

class TAttributesCriteria : public TCustomCriteria {
  public:
    void Assign(const TAttributesCriteria& source) { *this = source; }
    // Every attribute ignored, Directory included (unlike a new object).
    void Clear() override;
    TFileAttributeStatus get(TAttributeIndex index) const;
    void set(TAttributeIndex index, TFileAttributeStatus status);
    bool Matches(uint32_t attributes) const;

    uint32_t SetMask = 0;
    uint32_t UnsetMask = faHidden | faSystem | faDirectory;
    uint32_t AnySetMask = 0;
    uint32_t AnyUnsetMask = 0;
};

class TDateTimeCriteria : public TCustomCriteria {
  public:
    void Assign(const TDateTimeCriteria& source) { *this = source; }
    void Clear() override { *this = TDateTimeCriteria(); }
    bool Matches(const TFileDetails& file) const;

    TDateTime CreatedBefore = 0, CreatedAfter = 0;
    TDateTime ModifiedBefore = 0, ModifiedAfter = 0;
    TDateTime AccessedBefore = 0, AccessedAfter = 0;
};

class TSizeCriteria : public TCustomCriteria {
  public:
    void Assign(const TSizeCriteria& source) { *this = source; }
    void Clear() override { Min = Max = 0; }
    bool Matches(int64_t size) const;

    int64_t Min = 0, Max = 0;  // 0 = no bound
};

// The phrase in the three forms a file may hold it in.
struct TStringVariants {
    std::string Ansi;        // the phrase's bytes as given
    std::u16string Unicode;  // UTF-16, precomposed
    std::string Utf8;        // UTF-8, precomposed
};

class TContentCriteria : public TCustomCriteria {
  public:
    void Assign(const TContentCriteria& source) { *this = source; }
    void Clear() override;
    const std::string& Phrase() const { return fPhrase; }
    void setPhrase(const std::string& phrase);
    const TStringVariants& Variants() const { return fVariants; }
    // True when the phrase is empty or found (inverted by csoNegate); a file
    // that cannot be read, or is no regular file, never matches.
    bool AcceptContent(const std::string& path) const;

    TContentSearchOptions Options = 0;

  private:
    std::string fPhrase;
    TStringVariants fVariants;
};

class TSearchCriteria : public TCustomCriteria {
  public:
    void Clear() override;
    bool Matches(const TFileDetails& file) const;
    // The part of Matches that needs no more than the name: a search decides
    // it before it reads an entry's details.
    bool MatchesName(const std::string& folder, const std::string& name) const;
    bool MatchesDetails(const TFileDetails& file) const;

    TFileCriteria Files;
    TAttributesCriteria Attributes;
    TDateTimeCriteria TimeStamp;
    TSizeCriteria Size;
    TContentCriteria Content;
};

class TFindFile {
  public:
    using TFileMatchEvent = std::function<void(TFindFile& sender, const TFileDetails& file)>;
    using TFolderChangeEvent =
        std::function<void(TFindFile& sender, const std::string& folder, TFolderIgnore& ignore)>;
    using TNotifyEvent = std::function<void(TFindFile& sender)>;
    using TReadErrorEvent =
        std::function<void(TFindFile& sender, const std::string& folder, int err)>;
    using TPseudoFolderEvent =
        std::function<void(TFindFile& sender, const std::string& folder, const std::string& type)>;

    TFindFile();
    // Aborts a running search and, unlike a plain flag, waits for the worker:
    // a handler must never run on a destroyed search.
    virtual ~TFindFile();
    TFindFile(const TFindFile&) = delete;
    TFindFile& operator=(const TFindFile&) = delete;

    // Searches all targets. Does nothing while busy. Threaded: returns at once,
    // and OnSearchFinish arrives in this thread at its next processPendingEvents.
    void StartSearch();
    void AbortSearch();

    bool Aborted() const { return fAborted.load(); }
    bool Busy() const { return fBusy.load(); }
    uint16_t Level() const { return fLevel; }
    const TTargetPath* CurrentTarget() const { return fCurrentTarget; }
    // While OnFolderChange runs: the folder as listed (its status and entries),
    // or null for a folder that cannot be opened.
    const TDirWalker::TFolder* CurrentFolder() const { return fCurrentFolder; }

    TSearchCriteria Criteria;
    bool Threaded = false;
    int ThreadPriority = 0;  // nice increment of the worker thread
    TFileMatchEvent OnFileMatch;
    TFolderChangeEvent OnFolderChange;
    TNotifyEvent OnSearchBegin;
    TNotifyEvent OnSearchFinish;
    // A folder that cannot be opened or listed completely, or holds an entry
    // whose details cannot be read (once per folder). Not raised for a folder
    // the OnFolderChange handler ignored with all it holds.
    TReadErrorEvent OnReadError;
    // A folder not entered because the kernel's own file system `type` (proc,
    // sysfs, ...) is mounted there.
    TPseudoFolderEvent OnPseudoFolder;

  protected:
    virtual void NotifySearchBegin();
    virtual void NotifySearchFinish();
    virtual TFolderIgnore NotifyFolderChange(const std::string& folder);
    virtual void NotifyFileMatch(const TFileDetails& file);
    // The name criteria have been decided before the details were read.
    virtual bool AcceptFile(const TFileDetails& file);

  private:
    // The state of one entry's details while its folder is searched.
    enum TStatState : uint8_t { ssUnread, ssRead, ssFailed };

    void searchAllTargets();
    void searchTarget(const TTargetPath& target);
    void visitFolder(TDirWalker::TFolder& folder, std::vector<std::string>& descend);
    TFolderIgnore announceFolder(const std::string& path, TDirWalker::TFolder* folder);
    void searchEntries(const TDirWalker::TFolder& folder, bool files, bool deeper,
                       std::vector<std::string>& descend);
    bool readDetails(const TDirWalker::TFolder& folder, size_t index);
    struct stat& statOf(size_t index) {
        return fStats[fStats.size() == 1 ? 0 : index];
    }
    void reportFile(const TDirWalker::TFolder& folder, size_t index);
    bool skipsFolder(const std::string& name) const;
    void endSearch();
    void runWorker();

    std::atomic<bool> fAborted{false};
    std::atomic<bool> fBusy{false};
    uint16_t fLevel = 0;
    std::unique_ptr<TSearchCriteria> fActiveCriteria;
    const TTargetPath* fCurrentTarget = nullptr;
    uint32_t fFolderSkipMask = 0;
    bool fFoldersMayMatch = false;  // else a folder's details are read only when it may be one
    const TDirWalker::TFolder* fCurrentFolder = nullptr;
    // Per folder, kept across folders so that a big tree allocates them once;
    // the details of every entry only while more masks than one revisit them.
    std::vector<struct stat> fStats;
    std::vector<TStatState> fStatStates;
    int fStatError = 0;
    TFileDetails fDetails;
    std::thread fSearchThread;
    std::thread::id fOwnerThread;
    // Expires with the object, so that a finish posted by the worker after the
    // destruction has begun does nothing.
    std::shared_ptr<TFindFile*> fAlive;
};

}  // namespace qvb
