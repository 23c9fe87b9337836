// The storage side of TCopyJob: the job's record in the program INI file, the
// registry store or the export file.

#include "jobs/CopyJobStorage.h"

#include <algorithm>

#include "engine/CopyFolder.h"
#include "jobs/BU_Options.h"
#include "jobs/CopyJob.h"
#include "jobs/StoredValues.h"
#include "util/TextCase.h"

namespace qvb {

namespace {

constexpr const char* kSourceCount = "AnzahlQuellen";
constexpr const char* kSource = "Quelle";

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

using J = TCopyJob;
using TJobValue = TStoredRow<J>;

// The registry store tells whether it held the last backup's time.
void announceLastBackup(J& job, bool held) {
    job.addMessage(job.fJobName +
                   (held ? ": Letzte Sicherung = " + formatGermanDateTime(job.fLastBackup)
                         : ": Letzte Sicherung nicht gespeichert"));
}

int32_t zeroIsMonday(int32_t weekday) {
    return weekday == 0 ? 1 : weekday;
}
int32_t atLeastTwoSeconds(int32_t seconds) {
    return std::max(seconds, 2);
}

const TIniDefault kNow{TDefaultFrom::Now, {}};
const std::string kEmpty;

// The job's record in the order it is written. A record that names no
// destination gets none: the run then stops at its destination check
// instead of writing into the root folder.
// clang-format off
const TJobValue kJobValues[] = {
    // name, type, registry default (none: required), INI and import default, field, limit
    {"Name", kText, kEmpty, {TDefaultFrom::RecordName, {}},
     fieldValue<&J::fJobName>, setField<&J::fJobName>},
    {"Ziel", kText, kEmpty, {kFixed, kEmpty},
     fieldValue<&J::fDestination>, setField<&J::fDestination>},
    {kSourceCount, kNumber, kRequired, {kFixed, 0},
     [](const J& j) { return TStoredValue(j.sourceCount()); }, nullptr, nullptr, true,
     kSource, &J::fSources},
    {"Intervall", kNumber, kRequired, {kFixed, 0},
     fieldValue<&J::fInterval>, [](J& j, const TStoredValue& v) {
         j.setInterval(static_cast<TJobInterval>(std::get<int32_t>(v))); }},
    {"Startzeit", kTime, kRequired, kNow,
     fieldValue<&J::fStartTime>, setField<&J::fStartTime>},
    {"Endzeit", kTime, kRequired, kNow,
     fieldValue<&J::fEndTime>, setField<&J::fEndTime>},
    {"Wochentag", kNumber, kRequired, {kFixed, 1},
     fieldValue<&J::fWeekday>, setField<&J::fWeekday>, zeroIsMonday},
    {"Aktiv", kNumber, kRequired, {kFixed, 1},
     fieldValue<&J::fActive>, setField<&J::fActive>},
    {"Löschen", kNumber, 0, {kFixed, 0},
     fieldValue<&J::fDelete>, [](J& j, const TStoredValue& v) {
         j.setDelete(std::get<int32_t>(v) != 0); }},
    {"LetztesBackup", kTime, TDateTime{0}, kNow,
     fieldValue<&J::fLastBackup>, setField<&J::fLastBackup>, nullptr, true, nullptr, nullptr,
     announceLastBackup},
    {"Ausschliessen", kText, kEmpty, {kFixed, kEmpty},
     fieldValue<&J::fExclude>, [](J& j, const TStoredValue& v) {
         j.fExclude = toLowerCase(std::get<std::string>(v)); }},
    {"NurDiese", kText, kEmpty, {kFixed, kEmpty},
     fieldValue<&J::fIncludeOnly>, [](J& j, const TStoredValue& v) {
         j.fIncludeOnly = toLowerCase(std::get<std::string>(v)); }},
    {"Verzeichnis überspringen", kText, kEmpty, {kFixed, kEmpty},
     fieldValue<&J::fSkipFolders>, setField<&J::fSkipFolders>},
    {"NurVerzeichnisInhalt", kNumber, 0, {kFixed, 0},
     fieldValue<&J::fContentOnly>, setField<&J::fContentOnly>},
    {"Zeitunterschied", kNumber, 2, {kFixed, 2},
     fieldValue<&J::fTimeTolerance>, setField<&J::fTimeTolerance>, atLeastTwoSeconds, false},
    {"LetztesZiel", kText, kEmpty, {kFixed, kEmpty},
     fieldValue<&J::fLastDestination>, [](J& j, const TStoredValue& v) {
         j.fLastDestination = normalizedDestination(std::get<std::string>(v)); }},
    {"Platzsparen", kNumber, 0, {kFixed, 0},
     fieldValue<&J::fSaveSpace>, setField<&J::fSaveSpace>},
    {"LetzterIntervallordner", kText, kEmpty, {kFixed, kEmpty},
     fieldValue<&J::fLastIntervalFolder>, setField<&J::fLastIntervalFolder>},
    {"Kennung", kText, kEmpty, {kFixed, kEmpty},
     fieldValue<&J::fJobId>, setField<&J::fJobId>},
    {"LetzterFehlerfreierLauf", kTime, TDateTime{0}, {kFixed, TDateTime{0}},
     fieldValue<&J::fLastCleanRun>, setField<&J::fLastCleanRun>},
    {"Versionen", kText, kEmpty, {kFixed, kEmpty},
     fieldValue<&J::fVersionRuns>, setField<&J::fVersionRuns>},
};
// clang-format on

// The orders in which the stores read: the order decides what a broken
// registry record keeps, and the interval is applied with the start time and
// weekday read before it. A value not named here is read last, in table order.
constexpr const char* kIniOrder[] = {"Name",
                                     "Ziel",
                                     kSourceCount,
                                     "Startzeit",
                                     "Endzeit",
                                     "Wochentag",
                                     "Intervall",
                                     "Aktiv",
                                     "Löschen",
                                     "LetztesBackup",
                                     "Ausschliessen",
                                     "NurDiese",
                                     "NurVerzeichnisInhalt",
                                     "Zeitunterschied",
                                     "Verzeichnis überspringen",
                                     "LetztesZiel"};
constexpr const char* kImportOrder[] = {"Name",
                                        "Ziel",
                                        kSourceCount,
                                        "Startzeit",
                                        "Endzeit",
                                        "Wochentag",
                                        "Intervall",
                                        "Aktiv",
                                        "Löschen",
                                        "LetztesBackup",
                                        "Ausschliessen",
                                        "NurDiese",
                                        "Verzeichnis überspringen",
                                        "NurVerzeichnisInhalt",
                                        "Zeitunterschied",
                                        "LetztesZiel"};
constexpr const char* kRegistryOrder[] = {"Name",
                                          "Ziel",
                                          kSourceCount,
                                          "Startzeit",
                                          "Endzeit",
                                          "Wochentag",
                                          "LetztesBackup",
                                          "Intervall",
                                          "Aktiv",
                                          "Löschen",
                                          "Ausschliessen",
                                          "NurDiese",
                                          "NurVerzeichnisInhalt",
                                          "Zeitunterschied",
                                          "LetztesZiel",
                                          "Verzeichnis überspringen"};

// The values the registry's order does not name came after the record's
// first form: a broken one takes its default rather than cost the values
// read after it (the versions kept, the last clean run).
bool endsRegistryRecord(const TJobValue& value) {
    return std::any_of(std::begin(kRegistryOrder), std::end(kRegistryOrder),
                       [&](const char* name) { return std::string_view(name) == value.name; });
}

using TReadOrder = std::vector<const TJobValue*>;

template <size_t N>
TReadOrder orderOf(const char* const (&names)[N]) {
    TReadOrder order;
    for (const char* name : names)
        for (const TJobValue& value : kJobValues)
            if (std::string_view(value.name) == name) order.push_back(&value);
    for (const TJobValue& value : kJobValues)
        if (std::find(order.begin(), order.end(), &value) == order.end()) order.push_back(&value);
    return order;
}

const TReadOrder& readOrder(const TSettingsStore& store, bool importing) {
    static const TReadOrder ini = orderOf(kIniOrder), import = orderOf(kImportOrder),
                            registry = orderOf(kRegistryOrder);
    return importing ? import : store.keepsValueTypes() ? registry : ini;
}

// One value (a list with its texts) in the store's terms; false where a
// store that keeps value types ends the reading.
bool readJobValue(TCopyJob& job, TSettingsStore& store, const std::string& record,
                  const TJobValue& value, bool importing) {
    const bool typed = store.keepsValueTypes();
    TStoredValue read;
    const TReadResult result = readStored(store, record, value.name, value.type, read);
    if (typed && ((result == TReadResult::WrongType && endsRegistryRecord(value)) ||
                  (result == TReadResult::Absent && !value.registryDefault)))
        return false;
    if (result != TReadResult::Ok)
        read = typed ? *value.registryDefault : value.iniDefault.resolve(record);
    if (!importing || value.limitOnImport) read = limited(read, value.limit);
    if (value.list) {
        const int count = boundedSourceCount(std::get<int32_t>(read), store.valueCount(record));
        for (int i = 0; i < count; ++i) {
            TStoredValue entry;
            const std::string name = value.listName + std::to_string(i);
            if (readStored(store, record, name, TValueType::Text, entry) ==
                TReadResult::WrongType) {
                if (typed) return false;
                entry = kEmpty;
            }
            (job.*value.list).push_back(std::get<std::string>(entry));
        }
        return true;
    }
    value.set(job, read);
    if (typed && value.announce) value.announce(job, result == TReadResult::Ok);
    return true;
}

bool readRecord(TCopyJob& job, TSettingsStore& store, const std::string& record, bool importing) {
    const TReadOrder& order = readOrder(store, importing);
    return std::all_of(order.begin(), order.end(), [&](const TJobValue* value) {
        return readJobValue(job, store, record, *value, importing);
    });
}

bool writeRecord(const TCopyJob& job, TSettingsStore& store) {
    for (const TJobValue& value : kJobValues) {
        if (!writeStored(store, job.fJobKey, value.name, value.get(job))) return false;
        if (!value.list) continue;
        const auto& list = job.*value.list;
        for (size_t i = 0; i < list.size(); ++i)
            if (!store.writeText(job.fJobKey, value.listName + std::to_string(i), list[i]))
                return false;
    }
    return true;
}

}  // namespace

std::string unstorableRecordReason(const TCopyJob& job, const TSettingsStore& store) {
    std::vector<std::pair<std::string, std::string>> texts;
    for (const TJobValue& value : kJobValues) {
        if (value.type == TValueType::Text)
            texts.emplace_back(value.name, std::get<std::string>(value.get(job)));
        if (!value.list) continue;
        const auto& list = job.*value.list;
        for (size_t i = 0; i < list.size(); ++i)
            texts.emplace_back(value.listName + std::to_string(i), list[i]);
    }
    for (const auto& [name, text] : texts) {
        const std::string reason = store.unstorableReason(text);
        if (!reason.empty())
            return "Der Job \"" + job.fJobName + "\" kann nicht gespeichert werden: Der Wert \"" +
                   name + "\" " + reason + ".";
    }
    return "";
}

std::vector<std::string> storedJobValueNames() {
    std::vector<std::string> names;
    for (const TJobValue& value : kJobValues) {
        names.emplace_back(value.name);
        if (value.list) names.emplace_back(value.listName);
    }
    return names;
}

bool stageRecord(const TCopyJob& job, TQVOptions& options) {
    return writeRecord(job, options.store());
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
    fDestination = "";
    fStartTime = now;
    fEndTime = now;
    fWeekday = 1;
    fInterval = kIntervalOnce;
    fActive = true;
    fSources.clear();
    fLastDestination.clear();
    fSaveSpace = false;
    fLastIntervalFolder.clear();
    fVersionRuns.clear();
    TSettingsStore& store = options.store();
    bool result = store.readable();
    // A registry record that is not there is not read: the defaults stand.
    if (!store.keepsValueTypes() || store.hasRecord(fJobKey))
        result = readRecord(*this, store, fJobKey, false) && result;
    fDestination = normalizedDestination(fDestination);
    // Also for the values a broken record did not reach.
    for (const TJobValue& value : kJobValues)
        if (value.limit) value.set(*this, limited(value.get(*this), value.limit));
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
    return writeRecord(*this, *options.fExportFile) && options.fExportFile->updateFile();
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
    fSources.clear();
    readRecord(*this, *options.fExportFile, section, true);
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

namespace {

// The values a finished run changes; the rest of the record is the user's.
constexpr const char* kLastBackup = "LetztesBackup";
constexpr const char* kLastDestination = "LetztesZiel";
constexpr const char* kLastIntervalFolder = "LetzterIntervallordner";
constexpr const char* kLastCleanRun = "LetzterFehlerfreierLauf";
constexpr const char* kVersionRuns = "Versionen";

}  // namespace

bool storeJobId(const TCopyJob& job, TQVOptions& options) {
    TSettingsStore& store = options.store();
    return store.writeText(job.fJobKey, "Kennung", job.fJobId) && store.commit();
}

// The record that holds the job now: found by its identifier where it has
// one, since another process may have saved the list with new keys meanwhile.
std::string currentRecord(const TCopyJob& job, TSettingsStore& store) {
    if (job.fJobId.empty()) return store.hasRecord(job.fJobKey) ? job.fJobKey : std::string();
    for (const std::string& record : store.records()) {
        std::string id;
        if (store.readText(record, "Kennung", id) == TReadResult::Ok && id == job.fJobId)
            return record;
    }
    return {};
}

bool takeNewerRunResult(TCopyJob& job, TQVOptions& options) {
    TSettingsStore& store = options.store();
    // Nothing is pending before a save: the commit only makes the registry
    // store read what other processes wrote (an INI file is read again on
    // every change anyway).
    if (!store.commit()) return false;
    const std::string record = currentRecord(job, store);
    if (record.empty()) return false;
    // Whichever run was the later clean one, the window's or the other's.
    TDateTime stored = 0;
    if (store.readTime(record, kLastCleanRun, stored) == TReadResult::Ok &&
        stored > job.fLastCleanRun)
        job.fLastCleanRun = stored;
    if (store.readTime(record, kLastBackup, stored) != TReadResult::Ok || stored <= job.fLastBackup)
        return false;
    for (const TJobValue& value : kJobValues) {
        const std::string_view name = value.name;
        if (name != kLastBackup && name != kLastDestination && name != kLastIntervalFolder &&
            name != kVersionRuns)
            continue;
        TStoredValue read;
        if (readStored(store, record, value.name, value.type, read) == TReadResult::Ok)
            value.set(job, read);
    }
    return true;
}

bool storeVersionRuns(const TCopyJob& job, TQVOptions& options) {
    TSettingsStore& store = options.store();
    return store.writeText(job.fJobKey, kVersionRuns, job.fVersionRuns) && store.commit();
}

bool storeRunResult(const TCopyJob& job, TQVOptions& options) {
    TSettingsStore& store = options.store();
    return store.writeTime(job.fJobKey, kLastBackup, job.fLastBackup) &&
           (job.fLastDestination.empty() ||
            store.writeText(job.fJobKey, kLastDestination, job.fLastDestination)) &&
           store.writeText(job.fJobKey, kLastIntervalFolder, job.fLastIntervalFolder) &&
           (job.fLastCleanRun <= 0 ||
            store.writeTime(job.fJobKey, kLastCleanRun, job.fLastCleanRun)) &&
           store.writeText(job.fJobKey, kVersionRuns, job.fVersionRuns) && store.commit();
}

}  // namespace qvb
