#include "engine/QV_FileList.h"

namespace qvb {

TFileList::TFileList() = default;
TFileList::~TFileList() = default;

void TFileList::Clear() {
    fEntries.clear();
    fSlots.clear();
    fIndexValid = false;
    fFileCount = 0;
    fDirCount = 0;
    fTotalSize = 0;
    fErrorCode = 0;
    fErrorText.clear();
    fUnreadableDirs.clear();
    fWarningLines.clear();
}

void TFileList::setBaseDir(const std::string& dir) { fBaseDir = dir; }
void TFileList::setSkipFolders(const std::string& text) { fSkipFolders = text; }
bool TFileList::scan() { return false; }
int TFileList::compare(std::string_view, std::optional<int64_t>) const { return 2; }
const TFileEntry* TFileList::find(std::string_view) const { return nullptr; }
TDateTime TFileList::valueOf(const TFileEntry&) const { return 0; }
void TFileList::rebuildIndex() const {}

}  // namespace qvb
