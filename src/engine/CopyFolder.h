#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/CopyFile.h"
#include "engine/CopyIt.h"
#include "engine/CopyPool.h"
#include "engine/DestTree.h"
#include "engine/HardLinks.h"
#include "engine/QV_FileList.h"
#include "engine/RunThreads.h"

namespace qvb {

// A name that is a folder on one side and a file or link on the other, or a
// file on one side and a link on the other.
struct TTypeChange {
    std::string name;  // below the destination folder, no trailing "/"
    bool destIsFolder = false;
    bool sourceIsFolder = false;
    TEntryKind destKind = ekFile;  // when not a folder
    TEntryKind sourceKind = ekFile;
};

// Makes one destination folder a mirror of one source folder.
class TCopyFolder : public TCopyIt {
  public:
    TCopyFolder();
    ~TCopyFolder() override;

    // True when the run went to its end without a cancel or a stop.
    bool Execute() override;
    bool checkFolders();
    // Returns the number of files deleted.
    int deleteSurplus();
    // Returns the number of folders created.
    int createEmptyFolders();
    // The names whose object in the destination has another type than in the
    // source; found from both listings.
    std::vector<TTypeChange> findChangedTypes() const;

    std::string fSource;
    std::string fDest;
    std::unique_ptr<TFileList> fSourceList;
    std::unique_ptr<TFileList> fDestList;
    std::unique_ptr<TCopyFile> fCopier;
    std::string fExclude;
    std::string fIncludeOnly;
    int32_t fTimeTolerance = 0;
    std::string fSkipFolders;
    // Folders the destination scan never enters: the job's sources that lie in its destination.
    std::vector<std::string> fProtectedDirs;
    // Sources whose contents share this destination folder: the deletion keeps
    // what any of them would list at the same place.
    std::vector<std::string> fSharedSources;
    // The job withholds the delete pass of this run.
    bool fHoldDeletion = false;
    // A large deletion goes ahead without asking.
    bool fAllowMassDelete = false;
    // The job never finished a run into this destination: it may hold the
    // user's own files, so a deletion of even one file is asked like a large one.
    bool fUnconfirmedDestination = false;
    // After Execute: the delete option was off, or its pass went ahead.
    bool fDeletionDecided = false;
    // The same folder in the version of the backup that the job's previous
    // run wrote: a file to be created or replaced whose copy there matches the
    // source (size, time, mode, owner) becomes a link to that copy, so that
    // versions share the space of unchanged files. Empty: every file is copied.
    std::string fPreviousDest;
    // Threads that list and copy at the same time; 1 does everything on the
    // calling thread. A destination on a network file system gets one copier.
    int fWorkers = kDefaultWorkers;

  private:
    // How the copy phase ended: Interrupted by a cancel during a copy (the
    // run's position is kept), Failed by a cancel between files or a failed
    // folder check on the last file.
    enum class TCopyEnd { Done, Failed, Interrupted };

    // `list` is fSourceList or fDestList.
    bool scanTree(TFileList& list);
    // Both listings at once; false when either failed (`sourceScanned` tells which).
    bool scanBoth(bool& sourceScanned);
    void announceScan(bool source);
    void prepareScan(TFileList& list, bool source) const;
    bool runScan(TFileList& list, bool source) const;
    bool reportScan(TFileList& list, bool source, bool ok);
    void logWarnings(const TFileList& list);
    void removeTempLeftovers();
    bool enoughSpace();
    bool deletionWanted();
    bool sourceNotEmptied();
    int32_t countDoomed() const;
    bool largeDeletionConfirmed(int32_t doomed);
    // What issuing one file came to: go on, or a cancel seen before the
    // copy (Interrupted) or after it (Cancelled).
    enum class TStep { Next, Interrupted, Cancelled };
    // Where the walk through the source list stands in the destination.
    struct TFolderWalk {
        std::string last;  // the folder checked last
        bool tested = false;
        bool probed = false;                    // tried for writing
        size_t destNear = TFileList::kNowhere;  // where the last file's copy was listed
        int dirFd = -1;
        // With workers: a descriptor of the folder of their own (keepOpen).
        bool keepOpen = false;
        std::shared_ptr<sys::UniqueFd> open;
        // The source folder of the last file copied, opened for its copier.
        std::string sourceLast;
        std::shared_ptr<sys::UniqueFd> sourceOpen;
    };
    // One file as the walk decided it, issued later in list order.
    struct TPlannedFile {
        const TFileEntry* entry = nullptr;
        const TFileEntry* destEntry = nullptr;
        std::string target;
        std::string folderError;  // the target's folder failed its check
        TFileAction action = kActionNone;
        int dirFd = -1;
        std::shared_ptr<sys::UniqueFd> folder;        // keeps dirFd open, with workers
        std::shared_ptr<sys::UniqueFd> sourceFolder;  // the source's, when it is copied
        int sourceDir() const {
            return sourceFolder && sourceFolder->valid() ? sourceFolder->get() : AT_FDCWD;
        }
        std::unique_ptr<TPoolCopy> copy;     // set when a worker copies the file
        const TFileEntry* linkTo = nullptr;  // the name whose copy this one becomes
        // On a destination blind to letter case: the earlier source name this
        // one lands on (the file is not copied), or the copy's name before it
        // took the source's spelling.
        std::string_view twinOf;
        std::string_view renamedFrom;
        // Becomes a link to its copy in the previous version.
        bool fromPrevious = false;
    };

    TCopyEnd copyPhase();
    int copyWorkers() const;
    TCopyEnd copyInTurn();
    TCopyEnd copyInParallel(int workers);
    bool suitsWorker(const TPlannedFile& file) const;
    std::unique_ptr<TPoolCopy> poolCopyOf(const TPlannedFile& file) const;
    TStep issueReady(std::deque<TPlannedFile>& window, TCopyPool* pool, size_t keep, bool& ok);
    void issueCopiedAfterCancel(std::deque<TPlannedFile>& window, TCopyPool& pool);
    TPlannedFile planFile(const TFileEntry& entry, TFolderWalk& walk);
    void keepFolderOpen(TFolderWalk& walk);
    std::shared_ptr<sys::UniqueFd> sourceFolderOf(const TFileEntry& entry, TFolderWalk& walk) const;
    void planLink(TPlannedFile& file);
    void leaveAlone(TPlannedFile& file);
    bool linkHere(const TPlannedFile& file);
    // False when there is no previous version to link to.
    bool openPrevious();
    bool matchesPrevious(const TFileEntry& entry);
    bool sameXattrsAsPrevious(const TFileEntry& entry) const;
    // A file to be written: aligning its copy in place would change a shared inode.
    bool needsNewName(const TFileEntry& source, const TFileEntry& dest) const;
    void linkOrCopy(TPlannedFile& file, const char* copyLine, int32_t& done);
    bool linkedToPrevious(const TPlannedFile& file);
    void noteLinksRefused(int err, const std::string& path);
    TStep issueFile(TPlannedFile& file);
    void countCopy(TPlannedFile& file, int32_t& done);
    bool copyHere(const TPlannedFile& file);
    // What the source listing saw of a file, for its copier.
    TListedStatus listedStatusOf(const TFileEntry& entry) const;
    bool takeOverCopy(TPoolCopy& copy);
    void emptyFolderPhase();
    // What the copier would copy: counted, nothing written.
    bool previewCopy(const TFileEntry& entry);
    // The error line for a destination folder that cannot be made or
    // written, or empty; `dirFd` is its descriptor.
    std::string destFolderProblem(const std::string& folder, int& dirFd, bool& created);
    std::string writableProblem(TFolderWalk& walk);
    void reportFolderProblem(const std::string& error);
    void applyChangedTypes(const std::vector<TTypeChange>& changes);
    bool isBlocked(std::string_view name) const;
    bool attributesDiffer(const TFileEntry& source, const TFileEntry& dest) const;
    void alignFile(const TFileEntry& source, const TFileEntry& dest);
    void applyAttributes(const std::string& name, uint16_t mode, const TOwner* owner);
    void alignFolders();
    // `dest`: the folder as the destination's listing saw it, if it was there.
    void alignFolderTime(const TFolderEntry& folder, const TFolderEntry* dest);
    // Brings the extended attributes and ACLs of the copy `name` in line with the source's.
    void alignXattrs(const std::string& name, bool folder);
    void noteXattrFailure(int err, const std::string& path);
    void noteAttributeFailure(int err, const std::string& path);
    void noteTimesFailure(int err, const std::string& path);
    bool readOnlyCause(int err, const std::string& folder) const;
    static std::string folderCause(int err);
    void removeEmptiedFolders(std::vector<std::string>& folders);
    void logTrace(const TFileEntry& entry, const TFileEntry* destEntry);
    void setClosingText();
    void detectCaseBlindness();
    // False for a name that lands on an earlier source name's copy.
    bool isFirstOfItsCase(TPlannedFile& file) const;
    void takeSourceSpelling(TPlannedFile& file);
    void reportCaseTwin(const TPlannedFile& file);

    std::string fSourceFolder;  // fSource up to its last "/"
    std::string fDestFolder;    // fDest up to its last "/"
    bool fDeletePass = false;   // this run deletes surplus files
    TDestTree fTree;            // fDestFolder, reached without following links
    // Names whose object of another type stays (no delete option): nothing is
    // written at them or below them.
    std::set<std::string> fBlocked;
    // Names whose object of another type was removed: their copy is new.
    std::unordered_set<std::string> fRetyped;
    bool fAttributesWarned = false;
    // Files or folders were removed or made outside the counted copies and deletions.
    bool fTreeWritten = false;
    bool fTimesWarned = false;
    bool fXattrsWarned = false;
    int64_t fScanEpochNs = 0;  // the listings' status ages count back from here
    TLinkPlan fLinks;
    TDestTree fPrevious;  // the folder of fPreviousDest, while it is linked to
    bool fLinkPrevious = false;
    bool fLinksWarned = false;
    // What was planned for the first name of each group of hard links (compare's answer).
    std::unordered_map<uint32_t, TFileAction> fLeaderActions;
    // The destination takes names that differ only in letter case for one
    // (exFAT, FAT, SMB). Then: the first source name of each folded name, and
    // the destination's files without a source of the exact name.
    bool fCaseBlind = false;
    std::unordered_map<std::string, std::string_view> fFoldedSource;
    std::unordered_map<std::string, const TFileEntry*> fFoldedDest;
};

}  // namespace qvb
