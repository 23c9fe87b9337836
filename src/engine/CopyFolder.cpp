#include "engine/CopyFolder.h"

namespace qvb {

TCopyFolder::TCopyFolder()
    : fSourceList(std::make_unique<TFileList>()),
      fDestList(std::make_unique<TFileList>()),
      fCopier(std::make_unique<TCopyFile>()) {
    setName("TCopyFolder");
    fSourceList->fOwner = this;
    fDestList->fOwner = this;
}

TCopyFolder::~TCopyFolder() = default;

bool TCopyFolder::Execute() { return false; }
bool TCopyFolder::checkFolders() { return false; }
int TCopyFolder::deleteSurplus() { return 0; }
int TCopyFolder::createEmptyFolders() { return 0; }

}  // namespace qvb
