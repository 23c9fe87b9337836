// The storage side of TCopyJob: the job's record in the program INI file, the
// registry store or the export file.

#include "jobs/CopyJobStorage.h"

#include <algorithm>

#include "engine/CopyFolder.h"
#include "jobs/BU_Options.h"
#include "jobs/CopyJob.h"
#include "util/TextCase.h"

namespace qvb {

namespace {

constexpr const char* kName = "Name";
constexpr const char* kDestination = "Ziel";
constexpr const char* kSourceCount = "AnzahlQuellen";
constexpr const char* kSource = "Quelle";
constexpr const char* kInterval = "Intervall";
constexpr const char* kStartTime = "Startzeit";
constexpr const char* kEndTime = "Endzeit";
constexpr const char* kWeekday = "Wochentag";
constexpr const char* kActive = "Aktiv";
constexpr const char* kDelete = "Löschen";
constexpr const char* kLastBackup = "LetztesBackup";
constexpr const char* kExclude = "Ausschliessen";
constexpr const char* kIncludeOnly = "NurDiese";
constexpr const char* kSkipFolders = "Verzeichnis überspringen";
constexpr const char* kContentOnly = "NurVerzeichnisInhalt";
constexpr const char* kTimeTolerance = "Zeitunterschied";
constexpr const char* kLastDestination = "LetztesZiel";

// A record that names no destination gets none: the run then stops at its
// destination check instead of writing into the root folder.
constexpr const char* kDefaultDestination = "";

std::string sourceName(int index) {
    return kSource + std::to_string(index);
}

// A stored count larger than the record's values cannot be real; it must not
// make the job grow millions of empty sources.
int boundedSourceCount(int32_t stored, size_t valuesInRecord) {
    return static_cast<int>(std::clamp<int64_t>(stored, 0, static_cast<int64_t>(valuesInRecord)));
}

TQVOptions* programOptions() {
    return backupOptions();
}

// Reads the record of section `s` from an INI file with the INI defaults;
// `importing` selects the order and limits of the import.
void readFromIni(TCopyJob& job, TIniFile& ini, const std::string& s, bool importing) {
    const TDateTime now = nowDateTime();
    job.fSources.clear();
    job.fJobName = ini.readString(s, kName, s);
    job.fDestination = ini.readString(s, kDestination, kDefaultDestination);
    const int count = boundedSourceCount(ini.readInteger(s, kSourceCount, 0), ini.entryCount(s));
    for (int i = 0; i < count; ++i) job.fSources.push_back(ini.readString(s, sourceName(i), ""));
    job.fStartTime = ini.readDateTime(s, kStartTime, now);
    job.fEndTime = ini.readDateTime(s, kEndTime, now);
    job.fWeekday = ini.readInteger(s, kWeekday, 1);
    if (job.fWeekday == 0) job.fWeekday = 1;
    job.setInterval(static_cast<TJobInterval>(ini.readInteger(s, kInterval, 0)));
    job.fActive = ini.readBool(s, kActive, true);
    job.setDelete(ini.readBool(s, kDelete, false));
    job.fLastBackup = ini.readDateTime(s, kLastBackup, now);
    job.fExclude = toLowerCase(ini.readString(s, kExclude, ""));
    job.fIncludeOnly = toLowerCase(ini.readString(s, kIncludeOnly, ""));
    if (importing) job.fSkipFolders = ini.readString(s, kSkipFolders, "");
    job.fContentOnly = ini.readBool(s, kContentOnly, false);
    job.fTimeTolerance = ini.readInteger(s, kTimeTolerance, 2);
    if (!importing) job.fSkipFolders = ini.readString(s, kSkipFolders, "");
    job.fLastDestination = normalizedDestination(ini.readString(s, kLastDestination, ""));
}

bool writeToIni(const TCopyJob& job, TIniFile& ini) {
    const std::string& s = job.fJobKey;
    bool ok = ini.writeString(s, kName, job.fJobName) &&
              ini.writeString(s, kDestination, job.fDestination) &&
              ini.writeInteger(s, kSourceCount, job.sourceCount());
    for (int i = 0; ok && i < job.sourceCount(); ++i)
        ok = ini.writeString(s, sourceName(i), job.fSources[static_cast<size_t>(i)]);
    return ok && ini.writeInteger(s, kInterval, job.fInterval) &&
           ini.writeDateTime(s, kStartTime, job.fStartTime) &&
           ini.writeDateTime(s, kEndTime, job.fEndTime) &&
           ini.writeInteger(s, kWeekday, job.fWeekday) && ini.writeBool(s, kActive, job.fActive) &&
           ini.writeBool(s, kDelete, job.fDelete) &&
           ini.writeDateTime(s, kLastBackup, job.fLastBackup) &&
           ini.writeString(s, kExclude, job.fExclude) &&
           ini.writeString(s, kIncludeOnly, job.fIncludeOnly) &&
           ini.writeString(s, kSkipFolders, job.fSkipFolders) &&
           ini.writeBool(s, kContentOnly, job.fContentOnly) &&
           ini.writeInteger(s, kTimeTolerance, job.fTimeTolerance) &&
           ini.writeString(s, kLastDestination, job.fLastDestination);
}

// Reads a registry record in its order; false at the first required value
// that is absent or any value of the wrong type.
bool readFromRegistry(TCopyJob& job, TRegistryStore& reg) {
    const std::string& g = job.fJobKey;
    std::string text;
    int32_t number = 0;
    double date = 0;
    // An optional value: absent gives the fallback; a wrong type stops.
    const auto optionalText = [&](const char* name, std::string& out, const std::string& fallback) {
        const TReadResult r = reg.readText(g, name, text);
        if (r == TReadResult::WrongType) return false;
        out = r == TReadResult::Ok ? text : fallback;
        return true;
    };
    const auto requiredInt = [&](const char* name) {
        return reg.readNumber(g, name, number) == TReadResult::Ok;
    };
    const auto requiredDate = [&](const char* name) {
        return reg.readTime(g, name, date) == TReadResult::Ok;
    };

    if (!optionalText(kName, job.fJobName, "") || !optionalText(kDestination, job.fDestination, ""))
        return false;
    if (!requiredInt(kSourceCount)) return false;
    const int count = boundedSourceCount(number, reg.valueCount(g));
    for (int i = 0; i < count; ++i) {
        std::string entry;
        if (!optionalText(sourceName(i).c_str(), entry, "")) return false;
        job.fSources.push_back(entry);
    }
    if (!requiredDate(kStartTime)) return false;
    job.fStartTime = date;
    if (!requiredDate(kEndTime)) return false;
    job.fEndTime = date;
    if (!requiredInt(kWeekday)) return false;
    job.fWeekday = number;

    const TReadResult last = reg.readTime(g, kLastBackup, date);
    if (last == TReadResult::WrongType) return false;
    if (last == TReadResult::Ok) {
        job.fLastBackup = date;
        job.addMessage(job.fJobName + ": Letzte Sicherung = " + formatGermanDateTime(date));
    } else {
        job.fLastBackup = 0;
        job.addMessage(job.fJobName + ": Letzte Sicherung nicht gespeichert");
    }
    if (!requiredInt(kInterval)) return false;
    job.setInterval(static_cast<TJobInterval>(number));
    if (!requiredInt(kActive)) return false;
    job.fActive = number != 0;

    const auto optionalInt = [&](const char* name, int32_t fallback) -> std::optional<int32_t> {
        const TReadResult r = reg.readNumber(g, name, number);
        if (r == TReadResult::WrongType) return std::nullopt;
        return r == TReadResult::Ok ? number : fallback;
    };
    const auto del = optionalInt(kDelete, 0);
    if (!del) return false;
    job.setDelete(*del != 0);
    std::string exclude, includeOnly;
    if (!optionalText(kExclude, exclude, "")) return false;
    job.fExclude = toLowerCase(exclude);
    if (!optionalText(kIncludeOnly, includeOnly, "")) return false;
    job.fIncludeOnly = toLowerCase(includeOnly);
    const auto contentOnly = optionalInt(kContentOnly, 0);
    if (!contentOnly) return false;
    job.fContentOnly = *contentOnly != 0;
    const auto tolerance = optionalInt(kTimeTolerance, 2);
    if (!tolerance) return false;
    job.fTimeTolerance = *tolerance;
    if (!optionalText(kLastDestination, job.fLastDestination, "")) return false;
    job.fLastDestination = normalizedDestination(job.fLastDestination);
    return optionalText(kSkipFolders, job.fSkipFolders, "");
}

bool writeToRegistry(const TCopyJob& job, TRegistryStore& reg) {
    const std::string& g = job.fJobKey;
    bool ok =
        reg.writeText(g, kName, job.fJobName) && reg.writeText(g, kDestination, job.fDestination);
    reg.writeNumber(g, kSourceCount, job.sourceCount());
    for (int i = 0; ok && i < job.sourceCount(); ++i)
        ok = reg.writeText(g, sourceName(i), job.fSources[static_cast<size_t>(i)]);
    if (!ok) return false;
    reg.writeNumber(g, kInterval, job.fInterval);
    reg.writeTime(g, kStartTime, job.fStartTime);
    reg.writeTime(g, kEndTime, job.fEndTime);
    reg.writeNumber(g, kWeekday, job.fWeekday);
    reg.writeNumber(g, kActive, job.fActive ? 1 : 0);
    reg.writeNumber(g, kDelete, job.fDelete ? 1 : 0);
    reg.writeTime(g, kLastBackup, job.fLastBackup);
    ok = reg.writeText(g, kExclude, job.fExclude) &&
         reg.writeText(g, kIncludeOnly, job.fIncludeOnly) &&
         reg.writeText(g, kSkipFolders, job.fSkipFolders) &&
         reg.writeText(g, kLastDestination, job.fLastDestination);
    reg.writeNumber(g, kContentOnly, job.fContentOnly ? 1 : 0);
    reg.writeNumber(g, kTimeTolerance, job.fTimeTolerance);
    return ok;
}

// The text values of a record by value name, in table order.
std::vector<std::pair<std::string, const std::string*>> recordTexts(const TCopyJob& job) {
    std::vector<std::pair<std::string, const std::string*>> texts{
        {kName, &job.fJobName}, {kDestination, &job.fDestination}};
    for (int i = 0; i < job.sourceCount(); ++i)
        texts.emplace_back(sourceName(i), &job.fSources[static_cast<size_t>(i)]);
    texts.emplace_back(kExclude, &job.fExclude);
    texts.emplace_back(kIncludeOnly, &job.fIncludeOnly);
    texts.emplace_back(kSkipFolders, &job.fSkipFolders);
    texts.emplace_back(kLastDestination, &job.fLastDestination);
    return texts;
}

}  // namespace

std::string unstorableRecordReason(const TCopyJob& job, const TSettingsStore& store) {
    for (const auto& [name, value] : recordTexts(job)) {
        const std::string reason = store.unstorableReason(*value);
        if (!reason.empty())
            return "Der Job \"" + job.fJobName + "\" kann nicht gespeichert werden: Der Wert \"" +
                   name + "\" " + reason + ".";
    }
    return "";
}

bool stageRecord(const TCopyJob& job, TQVOptions& options) {
    return options.fUseIniFile ? writeToIni(job, *options.fIniFile)
                               : writeToRegistry(job, *options.fRegistry);
}

void stageRecordErase(const TCopyJob& job, TQVOptions& options) {
    if (!job.fJobKey.empty()) options.store().eraseRecord(job.fJobKey);
}

void stageKeepOnlyRecords(const std::vector<std::string>& jobKeys, TQVOptions& options) {
    TSettingsStore& store = options.store();
    std::vector<std::string> kept = jobKeys;
    kept.push_back(kOptionsSection);
    // A record of the options in another letter case is no job either.
    for (const std::string& record : store.records())
        if (equalsIgnoreCase(record, kOptionsSection)) kept.push_back(record);
    store.keepOnlyRecords(kept);
}

bool TCopyJob::loadFromStorage() {
    TQVOptions* options = programOptions();
    return options && loadFromStorage(*options);
}

bool TCopyJob::loadFromStorage(TQVOptions& options) {
    const TDateTime now = nowDateTime();
    fJobName = fJobKey;
    fDestination = kDefaultDestination;
    fStartTime = now;
    fEndTime = now;
    fWeekday = 1;
    fInterval = kIntervalOnce;
    fActive = true;
    fSources.clear();
    fLastDestination.clear();
    bool result = true;
    if (options.fUseIniFile) {
        result = options.fIniFile->readable();
        readFromIni(*this, *options.fIniFile, fJobKey, false);
    } else if (options.fRegistry->hasRecord(fJobKey)) {
        result = readFromRegistry(*this, *options.fRegistry);
    }
    fDestination = normalizedDestination(fDestination);
    if (fWeekday == 0) fWeekday = 1;
    if (fTimeTolerance < 2) fTimeTolerance = 2;
    return result;
}

bool TCopyJob::saveToStorage() {
    TQVOptions* options = programOptions();
    return options && saveToStorage(*options);
}

bool TCopyJob::saveToStorage(TQVOptions& options) {
    // A job gets its key from the list's save; without one it has no record.
    // Every value is checked before any is written: a value refused half-way
    // would leave half a record pending for whichever save comes next.
    if (fJobKey.empty() || !unstorableRecordReason(*this, options.store()).empty()) return false;
    return stageRecord(*this, options) && options.flushStore();
}

bool TCopyJob::deleteFromStorage() {
    TQVOptions* options = programOptions();
    return options && deleteFromStorage(*options);
}

bool TCopyJob::deleteFromStorage(TQVOptions& options) {
    if (fJobKey.empty()) return true;
    stageRecordErase(*this, options);
    return options.flushStore();
}

bool TCopyJob::exportToIni() {
    TQVOptions* options = programOptions();
    return options && exportToIni(*options);
}

bool TCopyJob::exportToIni(TQVOptions& options) {
    if (fJobKey.empty() || !options.fExportFile ||
        !unstorableRecordReason(*this, *options.fExportFile).empty())
        return false;
    return writeToIni(*this, *options.fExportFile) && options.fExportFile->updateFile();
}

bool TCopyJob::importFromIni() {
    TQVOptions* options = programOptions();
    return options && importFromIni(*options);
}

bool TCopyJob::importFromIni(TQVOptions& options) {
    return importFromIni(options, fJobKey);
}

bool TCopyJob::importFromIni(TQVOptions& options, const std::string& section) {
    if (!options.fExportFile) return false;
    readFromIni(*this, *options.fExportFile, section, true);
    fDestination = normalizedDestination(fDestination);
    return options.fExportFile->readable();
}

bool deleteStorageValue(TCopyJob& job, const std::string& valueName) {
    TQVOptions* options = programOptions();
    return options && deleteStorageValue(job, valueName, *options);
}

bool deleteStorageValue(TCopyJob& job, const std::string& valueName, TQVOptions& options) {
    TSettingsStore& store = options.store();
    if (job.fJobKey.empty() || !store.hasRecord(job.fJobKey)) return true;
    return store.eraseValue(job.fJobKey, valueName) && store.commit();
}

bool saveSourcesToStorage(TCopyJob& job) {
    TQVOptions* options = programOptions();
    return options && saveSourcesToStorage(job, *options);
}

bool saveSourcesToStorage(TCopyJob& job, TQVOptions& options) {
    TSettingsStore& store = options.store();
    const std::string& key = job.fJobKey;
    const int count = job.sourceCount();
    if (key.empty() || !store.hasRecord(key)) return true;
    // Checked first: a source refused half-way would leave the others pending.
    for (const std::string& source : job.fSources)
        if (!store.unstorableReason(source).empty()) return false;
    int32_t stored = 0;
    if (store.readNumber(key, kSourceCount, stored) != TReadResult::Ok) stored = 0;
    bool ok = store.writeNumber(key, kSourceCount, count);
    for (int i = 0; ok && i < count; ++i)
        ok = store.writeText(key, sourceName(i), job.fSources[static_cast<size_t>(i)]);
    for (int i = count; ok && i < stored; ++i) store.eraseValue(key, sourceName(i));
    return ok && store.commit();
}

}  // namespace qvb
