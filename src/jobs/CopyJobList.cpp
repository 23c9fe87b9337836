#include "jobs/CopyJobList.h"

#include <algorithm>
#include <unordered_set>

#include "engine/CopyFolder.h"
#include "jobs/BU_Options.h"
#include "jobs/CopyJobStorage.h"
#include "util/TextCase.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

TCopyJobList* gJobList = nullptr;

// The number of a numbered record, -1 for any other name.
long recordNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 12 || !equalsIgnoreCase(name.substr(0, 3), "Job"))
        return -1;
    if (!std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return std::stol(name.substr(3));
}

}  // namespace

std::vector<std::string> jobRecordOrder(const std::vector<std::string>& names) {
    std::vector<std::string> order;
    std::unordered_set<std::string> seen{foldCase(kOptionsSection)};
    for (const std::string& name : names)
        if (seen.insert(foldCase(name)).second) order.push_back(name);
    // "Job100" after "Job11", and "Job02" before "Job01" only in the file: the
    // list keeps the same order at every load and save.
    std::stable_sort(order.begin(), order.end(), [](const std::string& a, const std::string& b) {
        const long na = recordNumber(a), nb = recordNumber(b);
        if (na < 0 || nb < 0) return na >= 0 && nb < 0;
        return na < nb;
    });
    return order;
}

TCopyJobList* jobList() {
    return gJobList;
}
void setJobList(TCopyJobList* list) {
    gJobList = list;
}

std::string jobKeyFor(int number) {
    return std::string("Job") + (number >= 0 && number < 10 ? "0" : "") + std::to_string(number);
}

TCopyJobList::TCopyJobList(TQV_BackupOptions* options) : fOptions(options) {}

TCopyJobList::~TCopyJobList() = default;

TQV_BackupOptions* TCopyJobList::options() const {
    return fOptions ? fOptions : backupOptions();
}

TCopyJob& TCopyJobList::getJob(int index) {
    if (index >= 0 && index < count()) return *fJobs[static_cast<size_t>(index)];
    userInterface().showMessage(
        TMsgKind::Error, "Datensatz " + std::to_string(index) + " nicht in JobList enthalten!",
        mbOK, TMsgResult::OK);
    fStrays.push_back(std::make_unique<TCopyJob>());
    return *fStrays.back();
}

int TCopyJobList::indexOf(const TCopyJob* job) const {
    const auto it =
        std::find_if(fJobs.begin(), fJobs.end(), [&](const auto& j) { return j.get() == job; });
    return it == fJobs.end() ? -1 : static_cast<int>(it - fJobs.begin());
}

TCopyJob& TCopyJobList::add(std::unique_ptr<TCopyJob> job) {
    if (job->fJobKey.empty()) job->fJobKey = freeJobKey();
    fJobs.push_back(std::move(job));
    return *fJobs.back();
}

bool TCopyJobList::nameTaken(const std::string& name, const TCopyJob* except) const {
    return std::any_of(fJobs.begin(), fJobs.end(), [&](const auto& job) {
        return job.get() != except && job->fJobName == name;
    });
}

std::string TCopyJobList::freeJobName() const {
    int number = count() + 1;
    while (nameTaken("Job_" + std::to_string(number))) ++number;
    return "Job_" + std::to_string(number);
}

std::string TCopyJobList::freeJobKey() const {
    const auto taken = [this](const std::string& key) {
        return std::any_of(fJobs.begin(), fJobs.end(),
                           [&](const auto& job) { return equalsIgnoreCase(job->fJobKey, key); });
    };
    int number = count() + 1;
    while (taken(jobKeyFor(number))) ++number;
    return jobKeyFor(number);
}

void TCopyJobList::remove(int index) {
    if (index >= 0 && index < count()) fJobs.erase(fJobs.begin() + index);
}

int TCopyJobList::loadJobs() {
    TQV_BackupOptions* opts = options();
    if (!opts) return 0;
    TSettingsStore& store = opts->store();
    if (!store.readable()) return 0;
    for (const std::string& name : jobRecordOrder(store.records())) {
        auto job = std::make_unique<TCopyJob>();
        job->fJobKey = name;
        job->setPassTo(job->fCopyFolder.get());
        // A record that reads only in part still gives a job.
        add(std::move(job)).loadFromStorage(*opts);
    }
    // A stale number beyond the jobs would select nothing.
    fCurrentJob = std::min(opts->CurrentJob, count());
    return count();
}

bool TCopyJobList::checkStorable(const TQV_BackupOptions& opts, bool withOptions,
                                 int skippedIndex) {
    fSaveError.clear();
    for (int i = 0; i < count() && fSaveError.empty(); ++i)
        if (i != skippedIndex)
            fSaveError = unstorableRecordReason(*fJobs[static_cast<size_t>(i)], opts.store());
    if (withOptions && fSaveError.empty())
        if (const std::string reason = opts.unstorableOptionReason(opts.store()); !reason.empty())
            fSaveError = "Die Einstellungen können nicht gespeichert werden: " + reason;
    return fSaveError.empty();
}

// A save that fails leaves the keys and the store as they were: nothing of
// it waits in the store for whichever write comes next.
bool TCopyJobList::save(TQV_BackupOptions& opts, bool withOptions, int skippedIndex) {
    if (fCurrentJob < 1) fCurrentJob = 1;
    opts.CurrentJob = fCurrentJob;
    // A run from another process (a timer, cron) may have finished since the
    // list was read: what it stored must survive this save.
    for (int i = 0; i < count(); ++i)
        if (i != skippedIndex) takeNewerRunResult(*fJobs[static_cast<size_t>(i)], opts);
    const auto undo = opts.undoPoint();
    std::vector<std::string> oldKeys, keys;
    for (int i = 0; i < count(); ++i) {
        oldKeys.push_back(fJobs[static_cast<size_t>(i)]->fJobKey);
        if (i != skippedIndex) keys.push_back(jobKeyFor(static_cast<int>(keys.size()) + 1));
    }
    // Records of keys no longer used (a gap, a duplicate, a hand-made name)
    // would load again as ghost jobs.
    // A deletion moves records to other keys: written anew, nothing of the
    // job that had the key before stays in it.
    if (skippedIndex >= 0)
        for (const auto& job : fJobs) stageRecordErase(*job, opts);
    stageKeepOnlyRecords(keys, opts);
    bool ok = true;
    for (int i = 0, k = 0; i < count(); ++i) {
        if (i == skippedIndex) continue;
        TCopyJob& job = *fJobs[static_cast<size_t>(i)];
        job.fJobKey = keys[static_cast<size_t>(k++)];
        ok = stageRecord(job, opts) && ok;
    }
    if (withOptions) ok = opts.stageOptions() && ok;
    ok = opts.flushStore() && ok;
    if (ok) return true;
    undo();
    for (int i = 0; i < count(); ++i)
        fJobs[static_cast<size_t>(i)]->fJobKey = oldKeys[static_cast<size_t>(i)];
    fSaveError =
        "Die Einstellungen können nicht in \"" + opts.storeFileName() + "\" gespeichert werden.";
    return false;
}

bool TCopyJobList::saveJobs() {
    TQV_BackupOptions* opts = options();
    return opts && checkStorable(*opts, false, -1) && save(*opts, false);
}

bool TCopyJobList::saveJobsAndOptions() {
    TQV_BackupOptions* opts = options();
    return opts && checkStorable(*opts, true, -1) && save(*opts, true);
}

bool TCopyJobList::deleteJob(int index) {
    TQV_BackupOptions* opts = options();
    if (!opts || index < 0 || index >= count() || !checkStorable(*opts, false, index)) return false;
    if (!save(*opts, false, index)) return false;
    remove(index);
    return true;
}

bool TCopyJobList::eraseJob(int index) {
    TQV_BackupOptions* opts = options();
    if (!opts || index < 0 || index >= count()) return false;
    const auto undo = opts->undoPoint();
    stageRecordErase(*fJobs[static_cast<size_t>(index)], *opts);
    if (!opts->flushStore()) {
        undo();
        fSaveError = "Die Einstellungen können nicht in \"" + opts->storeFileName() +
                     "\" gespeichert werden.";
        return false;
    }
    remove(index);
    return true;
}

bool TCopyJobList::exportJobs() {
    TQV_BackupOptions* opts = options();
    if (!opts) return false;
    fSaveError.clear();
    for (const auto& job : fJobs) {
        if (job->exportToIni(*opts)) continue;
        fSaveError = unstorableRecordReason(*job, *opts->fExportFile);
        return false;
    }
    return true;
}

std::string TCopyJobList::importRefusal() const {
    const TQV_BackupOptions* opts = options();
    if (!opts || !opts->fExportFile) return "Es gibt keine Exportdatei.";
    TIniFile& file = *opts->fExportFile;
    if (!file.exists())
        return "Die Exportdatei \"" + file.fileName() +
               "\" ist nicht vorhanden.\r\nEs wurde nichts importiert.";
    if (!file.readable())
        return "Die Exportdatei \"" + file.fileName() +
               "\" kann nicht gelesen werden.\r\nEs wurde nichts importiert.";
    return "";
}

// `matched` marks the jobs of the list that a section of the file took
// already: each takes at most one. With `byKey` only a job of the section's
// key is taken, so that two jobs of one name each get their own section.
TCopyJob* TCopyJobList::importTarget(const std::string& section, const std::string& name,
                                     std::vector<bool>& matched, bool byKey) {
    for (size_t i = 0; i < matched.size(); ++i) {
        if (matched[i] || fJobs[i]->fJobName != name) continue;
        if (byKey && !equalsIgnoreCase(fJobs[i]->fJobKey, section)) continue;
        matched[i] = true;
        return fJobs[i].get();
    }
    return nullptr;
}

TImportResult TCopyJobList::importJobs() {
    TImportResult result;
    TQV_BackupOptions* opts = options();
    if (!importRefusal().empty()) return result;
    struct Incoming {
        std::string section;
        std::unique_ptr<TCopyJob> job;
        TCopyJob* target = nullptr;
    };
    std::vector<Incoming> incoming;
    for (const std::string& section : jobRecordOrder(opts->fExportFile->readSections())) {
        incoming.push_back({section, std::make_unique<TCopyJob>()});
        incoming.back().job->importFromIni(*opts, section);
    }
    std::vector<bool> matched(fJobs.size(), false);
    for (const bool byKey : {true, false})
        for (Incoming& in : incoming)
            if (!in.target) in.target = importTarget(in.section, in.job->fJobName, matched, byKey);
    for (Incoming& in : incoming) {
        ++result.imported;
        if (in.target) {
            in.target->importFromIni(*opts, in.section);
            continue;
        }
        in.job->setPassTo(in.job->fCopyFolder.get());
        add(std::move(in.job));
        ++result.appended;
    }
    return result;
}

}  // namespace qvb
