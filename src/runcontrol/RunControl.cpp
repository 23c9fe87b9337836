#include "runcontrol/RunControl.h"

#include <exception>

#include "engine/CopyFile.h"
#include "engine/CopyFolder.h"
#include "engine/LogLevel.h"
#include "engine/QV_FileList.h"
#include "jobs/CopyJob.h"
#include "util/CommaText.h"
#include "util/DateTime.h"
#include "util/QV_Utils.h"

namespace qvb {

namespace {

TCopyFolder* mirrorOf(TCopyJob& job) {
    return job.fCopyFolder.get();
}

void drainInto(TProtocol& protocol, TCopyIt& operation) {
    if (operation.fMessages.empty()) return;
    for (const std::string& line : operation.takeMessages()) protocol.append(line);
}

const std::string kFrameLine = "  ***************************************************** ";

}  // namespace

std::string TRunControl::countText(int files, int folders) {
    std::string text = files == 1 ? "1 Datei in " : std::to_string(files) + " Dateien in ";
    text += folders == 1 ? "1 Verzeichnis" : std::to_string(folders) + " Verzeichnissen";
    return text;
}

void TRunControl::hookJob(TCopyJob& job) {
    job.setOnProgress([this](TCopyIt* sender) { showProgress(sender); });
    job.setOnStatusChange([this](TCopyIt* sender) { showFileCounts(sender); });
    job.setOnMessage([this](TCopyIt* sender) { showMessages(sender); });
}

bool TRunControl::run(TCopyJob& runningJob, bool preview, TAnswers answers) {
    if (fRunningJob) return false;
    TCopyJob* job = &runningJob;
    fRunningJob = job;
    job->setPreview(preview);
    job->fAnswers = answers;
    TRunRecord record{job, preview, answers, nowDateTime(), fProtocol.lines().size(), false};
    if (fHooks.started) fHooks.started(record);
    if (fCallbacks.onRunning) fCallbacks.onRunning(true);
    bool finished = false;
    // A run that breaks off, by whatever was thrown, must still leave a
    // readable protocol and an unlocked program; the job did not finish.
    try {
        logRun(*job, preview);
        finished = job->fStatus == csDone;
    } catch (const std::exception& e) {
        logBrokenRun(*job, e.what());
    } catch (...) {
        logBrokenRun(*job, "Unbekannter Fehler");
    }
    job->setPreview(false);
    job->fAnswers = TAnswers::User;
    record.finished = finished;
    if (fHooks.ended) fHooks.ended(record);
    finishRun();
    return finished;
}

void TRunControl::logRun(TCopyJob& job, bool preview) {
    log(" ");
    log(formatGermanDateTime(nowDateTime()) +
        (preview ? ":  Vorschau (es wird nichts geschrieben) von Backup-" : ":  starte Backup-") +
        job.fJobKey + " \"" + job.fJobName + "\"");
    log(std::string(85, '-'));
    if (logLevel() > 3) log("Zeittoleranz = " + std::to_string(job.fTimeTolerance) + " Sekunden");
    const bool ok = job.Execute();
    showMessages(&job);
    if (ok) {
        fView.copyText = job.fStatusText;
        log(job.fStatusText);
        logErrorBanner(job.fStatistics.fErrors);
    }
    if (job.fActiveSourceCount > 1) logOverallResult(job);
    const bool finished = job.fStatus == csDone;
    if (finished && !preview) {
        job.noteFinishedRun(nowDateTime());
        fView.lastBackupText = formatGermanDateTime(job.fLastBackup);
        log("letzte Sicherung: " + fView.lastBackupText);
        job.updateSchedule();
    } else if (!finished) {
        log(job.fStatusText);
    }
    log("");
}

void TRunControl::logBrokenRun(TCopyJob& job, const std::string& reason) {
    showMessages(&job);
    job.fStatus = csError;
    ++job.fStatistics.fErrors;
    log("FEHLER:  " + reason);
    logErrorBanner(job.fStatistics.fErrors);
    log("");
}

void TRunControl::logErrorBanner(int errors) {
    if (errors <= 0) return;
    log(kFrameLine);
    if (errors == 1)
        log("  Es ist ein FEHLER augetreten, bitte Protokoll prüfen! ");
    else
        log("  Es sind " + std::to_string(errors) + " FEHLER augetreten, bitte Protokoll prüfen! ");
    log(kFrameLine);
}

void TRunControl::logOverallResult(TCopyJob& job) {
    log("Gesamtergebnis:");
    if (job.fStatistics.fSourceFiles > 0) {
        for (const std::string& line : splitCommaText(job.fStatistics.summaryText())) log(line);
        if (job.fStatistics.fLinked > 0) log(job.fStatistics.linkedText());
    } else if (job.fStatus == csDone) {
        TCopyFolder* mirror = mirrorOf(job);
        const bool filtered = mirror && !mirror->fExclude.empty();
        log(filtered ? "  Keine passenden Dateien im Quellverzeichnis."
                     : "  keine Dateien im Quellverzeichnis.");
    } else {
        log(job.fStatusText);
    }
}

void TRunControl::finishRun() {
    fView.totalPercent = 100;
    fView.filePercent = 100;
    setBars(100, 100);
    viewChanged();
    fRunningJob = nullptr;
    if (fCallbacks.onRunning) fCallbacks.onRunning(false);
}

void TRunControl::showMessages(TCopyIt*) {
    TCopyJob* job = activeJob();
    if (!job) return;
    if (TCopyFolder* mirror = mirrorOf(*job)) {
        if (TCopyFile* copier = mirror->fCopier.get()) drainInto(fProtocol, *copier);
        drainInto(fProtocol, *mirror);
    }
    drainInto(fProtocol, *job);
}

void TRunControl::showProgress(TCopyIt*) {
    TCopyJob* job = activeJob();
    if (!job) return;
    TCopyFolder* mirror = mirrorOf(*job);
    if (mirror) {
        fView.totalPercent = mirror->fPercent;
        if (!mirror->fProgressText.empty()) {
            fView.progressText = mirror->fProgressText;
            mirror->clearProgressText();
        } else {
            const TFileList* sourceList = mirror->fSourceList.get();
            const int total = sourceList ? sourceList->fFileCount : 0;
            fView.progressText = " bearbeite Datei " +
                                 formatThousands(mirror->fStatistics.fCurrent) + " von " +
                                 formatThousands(total) + "...";
        }
        if (TCopyFile* copier = mirror->fCopier.get()) {
            fView.filePercent = copier->fPercent;
            fView.copyText = copier->fStatusText;
        }
    }
    setBars(fView.totalPercent, fView.filePercent);
    viewChanged();
}

void TRunControl::showFileCounts(TCopyIt*) {
    TCopyJob* job = activeJob();
    if (!job) return;
    TCopyFolder* mirror = mirrorOf(*job);
    if (!mirror) return;
    auto update = [](const TFileList* list, std::string& text, int(&counted)[2]) {
        if (!list || (list->fFileCount == counted[0] && list->fDirCount == counted[1])) return;
        counted[0] = list->fFileCount;
        counted[1] = list->fDirCount;
        text = countText(counted[0], counted[1]);
    };
    update(mirror->fSourceList.get(), fView.sourceCountText, fCountedSource);
    update(mirror->fDestList.get(), fView.destCountText, fCountedDest);
    viewChanged();
}

void TRunControl::cancel() {
    if (TCopyJob* job = fRunningJob) {
        job->setStatus(csCancelled);
        if (TCopyFolder* mirror = mirrorOf(*job)) {
            mirror->setStatus(csCancelled);
            if (TCopyFile* copier = mirror->fCopier.get()) copier->setStatus(csCancelled);
        }
    }
    log("  ->  Vorgang abgebrochen!");
}

void TRunControl::viewChanged() {
    if (fCallbacks.onView) fCallbacks.onView(fView);
}

void TRunControl::setBars(int total, int file) {
    if (total == fShownTotal && file == fShownFile) return;
    fShownTotal = total;
    fShownFile = file;
    if (fCallbacks.onBars) fCallbacks.onBars(total, file);
}

}  // namespace qvb
