#include "jobs/CopyJobList.h"

#include <algorithm>

#include "engine/CopyFolder.h"
#include "jobs/BU_Options.h"
#include "util/TextCase.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

TCopyJobList* gJobList = nullptr;

}  // namespace

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
    for (const std::string& name : names) {
        // Section names match in any letter case: "[OPTIONS]" of a file
        // edited on Windows holds the options, not a job.
        if (equalsIgnoreCase(name, kOptionsSection)) continue;
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

bool TCopyJobList::saveJobs() {
    TQV_BackupOptions* opts = options();
    if (!opts) return false;
    if (fCurrentJob < 1) fCurrentJob = 1;
    opts->CurrentJob = fCurrentJob;
    for (int i = 0; i < count(); ++i) {
        TCopyJob& job = *fJobs[static_cast<size_t>(i)];
        job.fJobKey = jobKeyFor(i + 1);
        if (!job.saveToStorage(*opts)) return false;
    }
    return true;
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
