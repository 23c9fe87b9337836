#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/CopyFile.h"
#include "engine/CopyIt.h"
#include "engine/DestTree.h"
#include "engine/QV_FileList.h"

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
    // Nobody to ask (a run the scheduler started): a large deletion is skipped unless allowed.
    bool fUnattended = false;
    // Threads that list and copy at the same time; 1 does everything on the
    // calling thread. A destination on a network file system gets one copier.
    int fWorkers = 2;

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
    TCopyEnd copyPhase();
    void emptyFolderPhase();
    // What the copier would copy: counted, nothing written.
    bool previewCopy(const TFileEntry& entry);
    bool checkDestFolder(const std::string& folder, int& dirFd);
    void applyChangedTypes(const std::vector<TTypeChange>& changes);
    bool isBlocked(const std::string& name) const;
    bool attributesDiffer(const TFileEntry& source, const TFileEntry& dest) const;
    void alignFile(const TFileEntry& source, const TFileEntry& dest);
    void applyAttributes(const std::string& name, uint16_t mode, const TOwner* owner);
    void alignFolders();
    void noteAttributeFailure(int err, const std::string& path);
    void removeEmptiedFolders(std::vector<std::string>& folders);
    void logTrace(const TFileEntry& entry, const TFileEntry* destEntry);
    void setClosingText();

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
};

}  // namespace qvb
