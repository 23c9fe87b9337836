#include "jobs/BU_Options.h"

#include "platform/DataFolder.h"

namespace qvb {

namespace {

TQV_BackupOptions* gOptions = nullptr;

}  // namespace

TQV_BackupOptions* backupOptions() {
    return gOptions;
}
void setBackupOptions(TQV_BackupOptions* options) {
    gOptions = options;
}

TQV_BackupOptions::TQV_BackupOptions()
    : TQV_BackupOptions(programIniFileName(), exportFileName(), iniStorageForced()) {}

TQV_BackupOptions::TQV_BackupOptions(std::string iniFileName, std::string exportFileName,
                                     bool forceIniFile)
    : TQVOptions(std::move(iniFileName), std::move(exportFileName), forceIniFile, NoLoad{}) {
    loadAtCreation();
}

}  // namespace qvb
