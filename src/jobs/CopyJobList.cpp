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
    fJobs.push_back(std::move(job));
    return *fJobs.back();
}

void TCopyJobList::remove(int index) {
    if (index >= 0 && index < count()) fJobs.erase(fJobs.begin() + index);
}

int TCopyJobList::loadJobs() {
    TQV_BackupOptions* opts = options();
    if (!opts) return 0;
    std::vector<std::string> names;
    if (opts->fUseIniFile) {
        if (!opts->fIniFile->readable()) return 0;
        names = opts->fIniFile->readSections();
    } else {
        names = opts->fRegistry->subkeys();
    }
    for (const std::string& name : jobRecordOrder(names)) {
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
            fSaveError = unstorableRecordReason(*fJobs[static_cast<size_t>(i)], opts.fUseIniFile);
    if (withOptions && fSaveError.empty())
        if (const std::string reason = opts.unstorableOptionReason(opts.fUseIniFile);
            !reason.empty())
            fSaveError = "Die Einstellungen können nicht gespeichert werden: " + reason;
    return fSaveError.empty();
}

bool TCopyJobList::save(TQV_BackupOptions& opts, bool withOptions) {
    if (fCurrentJob < 1) fCurrentJob = 1;
    opts.CurrentJob = fCurrentJob;
    std::vector<std::string> keys;
    for (int i = 0; i < count(); ++i) keys.push_back(jobKeyFor(i + 1));
    // Records of keys no longer used (a gap, a duplicate, a hand-made name)
    // would load again as ghost jobs.
    stageKeepOnlyRecords(keys, opts);
    bool ok = true;
    for (int i = 0; i < count(); ++i) {
        TCopyJob& job = *fJobs[static_cast<size_t>(i)];
        job.fJobKey = keys[static_cast<size_t>(i)];
        ok = stageRecord(job, opts) && ok;
    }
    if (withOptions) ok = opts.stageOptions() && ok;
    ok = opts.flushStore() && ok;
    if (!ok)
        fSaveError = "Die Einstellungen können nicht in \"" + opts.storeFileName() +
                     "\" gespeichert werden.";
    return ok;
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
    for (const auto& job : fJobs) stageRecordErase(*job, *opts);
    remove(index);
    return save(*opts, false);
}

bool TCopyJobList::exportJobs() {
    TQV_BackupOptions* opts = options();
    if (!opts) return false;
    // A job that has no key yet has no section; the others are still written.
    bool ok = true;
    for (const auto& job : fJobs) ok = job->exportToIni(*opts) && ok;
    return ok;
}

bool TCopyJobList::importJobs() {
    TQV_BackupOptions* opts = options();
    if (!opts) return false;
    bool ok = true;
    for (const auto& job : fJobs) ok = job->importFromIni(*opts) && ok;
    return ok;
}

}  // namespace qvb
