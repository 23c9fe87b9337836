#pragma once

#include <cstdint>
#include <memory>
#include <string>

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

  private:
    bool scanSource();
    bool scanDest();
    void logWarnings(const TFileList& list);
    void removeTempLeftovers();
    bool enoughSpace();
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
};

}  // namespace qvb
