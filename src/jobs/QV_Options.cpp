#include "jobs/QV_Options.h"

#include <algorithm>

#include "engine/LogLevel.h"
#include "platform/DataFolder.h"

namespace qvb {

namespace {

constexpr const char* kLogging = "Logging";
constexpr const char* kWinMainTop = "WinMainTop";
constexpr const char* kWinMainLeft = "WinMainLeft";
constexpr const char* kWinMainHeight = "WinMainHeight";
constexpr const char* kWinMainWidth = "WinMainWidth";
constexpr const char* kLogLevel = "LogLevel";

uint8_t toLogLevel(int32_t value) {
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

}  // namespace

TQVOptions::TQVOptions() : TQVOptions(programIniFileName(), exportFileName(), iniStorageForced()) {}

TQVOptions::TQVOptions(std::string iniFileName, std::string exportFileName, bool forceIniFile)
    : TQVOptions(std::move(iniFileName), std::move(exportFileName), forceIniFile, NoLoad{}) {
    loadAtCreation();
}

TQVOptions::TQVOptions(std::string iniFileName, std::string exportFileName, bool forceIniFile,
                       NoLoad)
    : fIniFileName(std::move(iniFileName)), fExportFileName(std::move(exportFileName)) {
    fExportFile = std::make_unique<TIniFile>(fExportFileName);
    fIniFile = std::make_unique<TIniFile>(fIniFileName);
    // What a save killed before its rename left behind.
    removeStaleTemporaries(fIniFileName);
    removeStaleTemporaries(fExportFileName);
    fUseIniFile = forceIniFile || fIniFile->exists();
    fRegistry = std::make_unique<TRegistryStore>();
}

TQVOptions::~TQVOptions() = default;

void TQVOptions::loadAtCreation() {
    loadOptions();
    if (OnMessage) OnMessage(this);
}

void TQVOptions::addMessages(std::initializer_list<const char*> lines) {
    fMessages.insert(fMessages.end(), lines.begin(), lines.end());
    if (OnMessage) OnMessage(this);
}

void TQVOptions::setLogLevel(int level) {
    LogLevel = toLogLevel(level);
    qvb::setLogLevel(LogLevel);
}

void TQVOptions::setDefaults() {
    WinMainTop = 0;
    WinMainLeft = 0;
    WinMainHeight = 600;
    WinMainWidth = 600;
    LogLevel = 1;
}

bool TQVOptions::readBaseFromIni(TIniFile& ini, bool keepLogging) {
    if (!ini.readable()) return false;
    Logging = ini.readBool(kOptionsSection, kLogging, true);
    // The program's own INI file means "portable use with a protocol file".
    if (!keepLogging) Logging = true;
    WinMainTop = ini.readInteger(kOptionsSection, kWinMainTop, 0);
    WinMainLeft = ini.readInteger(kOptionsSection, kWinMainLeft, 0);
    WinMainHeight = ini.readInteger(kOptionsSection, kWinMainHeight, 600);
    WinMainWidth = ini.readInteger(kOptionsSection, kWinMainWidth, 600);
    LogLevel = toLogLevel(ini.readInteger(kOptionsSection, kLogLevel, 1));
    return true;
}

bool TQVOptions::readBaseFromRegistry() {
    if (!fRegistry->hasRecord("")) return false;
    int32_t v = 0;
    const auto read = [&](const char* name) {
        return fRegistry->readNumber("", name, v) == TReadResult::Ok;
    };
    if (!read(kLogging)) return false;
    Logging = v != 0;
    if (!read(kWinMainTop)) return false;
    WinMainTop = v;
    if (!read(kWinMainLeft)) return false;
    WinMainLeft = v;
    if (!read(kWinMainHeight)) return false;
    WinMainHeight = v;
    if (!read(kWinMainWidth)) return false;
    WinMainWidth = v;
    if (!read(kLogLevel)) return false;
    LogLevel = toLogLevel(v);
    return true;
}

bool TQVOptions::writeBaseToIni(TIniFile& ini) {
    return ini.writeBool(kOptionsSection, kLogging, Logging) &&
           ini.writeInteger(kOptionsSection, kWinMainTop, WinMainTop) &&
           ini.writeInteger(kOptionsSection, kWinMainLeft, WinMainLeft) &&
           ini.writeInteger(kOptionsSection, kWinMainHeight, WinMainHeight) &&
           ini.writeInteger(kOptionsSection, kWinMainWidth, WinMainWidth) &&
           ini.writeInteger(kOptionsSection, kLogLevel, LogLevel);
}

void TQVOptions::writeBaseToRegistry() {
    fRegistry->writeNumber("", kLogging, Logging ? 1 : 0);
    fRegistry->writeNumber("", kWinMainTop, WinMainTop);
    fRegistry->writeNumber("", kWinMainLeft, WinMainLeft);
    fRegistry->writeNumber("", kWinMainHeight, WinMainHeight);
    fRegistry->writeNumber("", kWinMainWidth, WinMainWidth);
    fRegistry->writeNumber("", kLogLevel, LogLevel);
}

std::vector<std::pair<const char*, std::string>> TQVOptions::extraTexts() const {
    return {};
}
bool TQVOptions::readExtraFromIni(TIniFile&) {
    return true;
}
bool TQVOptions::readExtraFromRegistry() {
    return true;
}
bool TQVOptions::writeExtraToIni(TIniFile&) {
    return true;
}
bool TQVOptions::writeExtraToRegistry() {
    return true;
}

bool TQVOptions::loadOptions() {
    setDefaults();
    const bool baseOk = fUseIniFile ? readBaseFromIni(*fIniFile, false) : readBaseFromRegistry();
    qvb::setLogLevel(LogLevel);
    if (!baseOk) addMessages({"  FEHLER:  Die Einstellungen können nicht gelesen werden.", " "});
    bool extraOk = true;
    if (fUseIniFile)
        extraOk = readExtraFromIni(*fIniFile);
    else if (fRegistry->hasRecord(""))
        extraOk = readExtraFromRegistry();
    if (!extraOk) addMessages({"  FEHLER:  Optionen nicht lesbar.", " "});
    return baseOk && extraOk;
}

std::string TQVOptions::unstorableOptionReason(const TSettingsStore& store) const {
    for (const auto& [name, value] : extraTexts()) {
        const std::string reason = store.unstorableReason(value);
        if (!reason.empty()) return "Der Wert \"" + std::string(name) + "\" " + reason + ".";
    }
    return "";
}

bool TQVOptions::stageOptions() {
    // Checked first: a value refused half-way would leave the others pending,
    // to be written by whichever save comes next.
    if (!unstorableOptionReason(store()).empty()) return false;
    if (fUseIniFile) return writeBaseToIni(*fIniFile) && writeExtraToIni(*fIniFile);
    writeBaseToRegistry();
    return writeExtraToRegistry();
}

TSettingsStore& TQVOptions::store() const {
    if (fUseIniFile) return *fIniFile;
    return *fRegistry;
}

bool TQVOptions::saveOptions() {
    const bool ok = stageOptions() && flushStore();
    if (!ok) addMessages({"  FEHLER:  Die Einstellungen können nicht gespeichert werden.", " "});
    return ok;
}

bool TQVOptions::exportOptions() {
    // Replacing the file as a whole drops the sections of jobs that are gone,
    // and a failed export leaves the previous one intact.
    if (!unstorableOptionReason(*fExportFile).empty()) return false;
    fExportFile->clear();
    return writeBaseToIni(*fExportFile) && writeExtraToIni(*fExportFile) &&
           fExportFile->updateFile();
}

bool TQVOptions::importOptions() {
    const bool ok = readBaseFromIni(*fExportFile, true) && readExtraFromIni(*fExportFile);
    qvb::setLogLevel(LogLevel);
    return ok;
}

}  // namespace qvb
