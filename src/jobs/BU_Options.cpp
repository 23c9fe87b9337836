#include "jobs/BU_Options.h"

#include "platform/DataFolder.h"

namespace qvb {

namespace {

constexpr const char* kLastDestDir = "LastDestDir";
constexpr const char* kLastSrcDir = "LastSrcDir";
constexpr const char* kCurrentJob = "CurrentJob";

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

std::vector<std::pair<const char*, std::string>> TQV_BackupOptions::extraTexts() const {
    return {{kLastDestDir, LastDestDir}, {kLastSrcDir, LastSrcDir}};
}

bool TQV_BackupOptions::readExtraFromIni(TIniFile& ini) {
    LastDestDir = ini.readString(kOptionsSection, kLastDestDir, "");
    LastSrcDir = ini.readString(kOptionsSection, kLastSrcDir, "");
    CurrentJob = ini.readInteger(kOptionsSection, kCurrentJob, 0);
    return true;
}

bool TQV_BackupOptions::readExtraFromRegistry() {
    std::string text;
    LastDestDir = fRegistry->readText("", kLastDestDir, text) == TReadResult::Ok ? text : "";
    LastSrcDir = fRegistry->readText("", kLastSrcDir, text) == TReadResult::Ok ? text : "";
    int32_t current = 0;
    if (fRegistry->readNumber("", kCurrentJob, current) != TReadResult::Ok) return false;
    CurrentJob = current;
    return true;
}

bool TQV_BackupOptions::writeExtraToIni(TIniFile& ini) {
    return ini.writeString(kOptionsSection, kLastDestDir, LastDestDir) &&
           ini.writeString(kOptionsSection, kLastSrcDir, LastSrcDir) &&
           ini.writeInteger(kOptionsSection, kCurrentJob, CurrentJob);
}

bool TQV_BackupOptions::writeExtraToRegistry() {
    const bool ok = fRegistry->writeText("", kLastDestDir, LastDestDir) &&
                    fRegistry->writeText("", kLastSrcDir, LastSrcDir);
    fRegistry->writeNumber("", kCurrentJob, CurrentJob);
    return ok;
}

}  // namespace qvb
