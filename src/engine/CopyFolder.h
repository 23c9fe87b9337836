#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/CopyFile.h"
#include "engine/CopyIt.h"
#include "engine/QV_FileList.h"

namespace qvb {

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

  private:
    bool scanSource();
    bool scanDest();
    void logWarnings(const TFileList& list);
    void removeTempLeftovers();
    bool enoughSpace();
    bool deletionWanted();
    bool sourceNotEmptied();
    int32_t countDoomed() const;
    bool largeDeletionConfirmed(int32_t doomed);
    // False (and the run's position kept) after a cancel during a copy.
    bool copyPhase(bool& ok);
    void copyOne(const TFileEntry& entry);
    bool checkDestFolder(const std::string& folder);
    bool folderHidesLink(const std::string& folder) const;
    void removeEmptiedFolders(std::vector<std::string>& folders, class TDirCursor& cursor);
    void logTrace(const TFileEntry& entry, const TFileEntry* destEntry);
    void setClosingText();

    std::string fSourceFolder;  // fSource up to its last "/"
    std::string fDestFolder;    // fDest up to its last "/"
    bool fDeletePass = false;   // this run deletes surplus files
};

}  // namespace qvb
