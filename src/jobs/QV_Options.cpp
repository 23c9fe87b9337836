#include "jobs/QV_Options.h"

#include <algorithm>

#include "engine/LogLevel.h"
#include "jobs/StoredValues.h"
#include "platform/DataFolder.h"

namespace qvb {

namespace {

using O = TQVOptions;
using TOptionValue = TStoredRow<O>;

int32_t toLogLevelRange(int32_t value) {
    return std::clamp(value, 0, 255);
}

const std::string kEmpty;

// The options in the order they are read and written. The first six are
// those of every program, read as one part; the last three those of the
// backup program, read as a second part with its own error line.
// clang-format off
const TOptionValue kOptionValues[] = {
    // name, type, registry default (none: required), INI and import default, field
    {"Logging", kNumber, kRequired, {kFixed, 1},
     fieldValue<&O::Logging>, setField<&O::Logging>},
    {"WinMainTop", kNumber, kRequired, {kFixed, 0},
     fieldValue<&O::WinMainTop>, setField<&O::WinMainTop>},
    {"WinMainLeft", kNumber, kRequired, {kFixed, 0},
     fieldValue<&O::WinMainLeft>, setField<&O::WinMainLeft>},
    {"WinMainHeight", kNumber, kRequired, {kFixed, 600},
     fieldValue<&O::WinMainHeight>, setField<&O::WinMainHeight>},
    {"WinMainWidth", kNumber, kRequired, {kFixed, 600},
     fieldValue<&O::WinMainWidth>, setField<&O::WinMainWidth>},
    {"LogLevel", kNumber, kRequired, {kFixed, 1},
     fieldValue<&O::LogLevel>, setField<&O::LogLevel>, toLogLevelRange},
    {"LastDestDir", kText, kEmpty, {kFixed, kEmpty},
     fieldValue<&O::LastDestDir>, setField<&O::LastDestDir>},
    {"LastSrcDir", kText, kEmpty, {kFixed, kEmpty},
     fieldValue<&O::LastSrcDir>, setField<&O::LastSrcDir>},
    {"CurrentJob", kNumber, kRequired, {kFixed, 0},
     fieldValue<&O::CurrentJob>, setField<&O::CurrentJob>},
    {"Hintergrund", kNumber, 0, {kFixed, 0},
     fieldValue<&O::Background>, setField<&O::Background>},
};
// clang-format on
constexpr size_t kProgramPart = 6;
constexpr size_t kAll = std::size(kOptionValues);

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
    LogLevel = static_cast<uint8_t>(toLogLevelRange(level));
    qvb::setLogLevel(LogLevel);
}

void TQVOptions::setDefaults() {
    WinMainTop = 0;
    WinMainLeft = 0;
    WinMainHeight = 600;
    WinMainWidth = 600;
    LogLevel = 1;
}

// In a store that keeps value types an optional value of the wrong type
// counts as absent: the options do not end there.
bool TQVOptions::readValues(TSettingsStore& from, size_t first, size_t last) {
    const bool typed = from.keepsValueTypes();
    const std::string record = from.optionsRecord();
    for (size_t i = first; i < last; ++i) {
        const TOptionValue& value = kOptionValues[i];
        TStoredValue read;
        if (readStored(from, record, value.name, value.type, read) != TReadResult::Ok) {
            if (typed && !value.registryDefault) return false;
            read = typed ? *value.registryDefault : value.iniDefault.resolve(record);
        }
        value.set(*this, limited(read, value.limit));
    }
    return true;
}

bool TQVOptions::writeValues(TSettingsStore& to) const {
    return std::all_of(std::begin(kOptionValues), std::end(kOptionValues), [&](const auto& value) {
        return writeStored(to, to.optionsRecord(), value.name, value.get(*this));
    });
}

bool TQVOptions::loadOptions() {
    setDefaults();
    TSettingsStore& from = store();
    // The registry store without the program's key has no options.
    const bool present = !from.keepsValueTypes() || from.hasRecord(from.optionsRecord());
    const bool baseOk = from.readable() && present && readValues(from, 0, kProgramPart);
    // The program's own INI file means "portable use with a protocol file".
    if (baseOk && &from == fIniFile.get()) Logging = true;
    qvb::setLogLevel(LogLevel);
    if (!baseOk) addMessages({"  FEHLER:  Die Einstellungen können nicht gelesen werden.", " "});
    const bool extraOk = !present || readValues(from, kProgramPart, kAll);
    if (!extraOk) addMessages({"  FEHLER:  Optionen nicht lesbar.", " "});
    return baseOk && extraOk;
}

std::string TQVOptions::unstorableOptionReason(const TSettingsStore& store) const {
    for (const TOptionValue& value : kOptionValues) {
        if (value.type != TValueType::Text) continue;
        const std::string reason = store.unstorableReason(std::get<std::string>(value.get(*this)));
        if (!reason.empty()) return "Der Wert \"" + std::string(value.name) + "\" " + reason + ".";
    }
    return "";
}

bool TQVOptions::stageOptions() {
    // Checked first: a value refused half-way would leave the others pending,
    // to be written by whichever save comes next.
    return unstorableOptionReason(store()).empty() && writeValues(store());
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
    return writeValues(*fExportFile) && fExportFile->updateFile();
}

bool TQVOptions::importOptions() {
    const bool ok = fExportFile->readable() && readValues(*fExportFile, 0, kAll);
    qvb::setLogLevel(LogLevel);
    return ok;
}

}  // namespace qvb
