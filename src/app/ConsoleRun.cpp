#include "app/ConsoleRun.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

#include "engine/CopyFile.h"
#include "jobs/BU_Options.h"
#include "jobs/CopyJobList.h"
#include "jobs/Versions.h"
#include "runcontrol/CancelSignals.h"
#include "runcontrol/ConsoleOutput.h"
#include "runcontrol/ProgressDisplay.h"
#include "session/BackgroundTimers.h"
#include "session/NoticeWaiter.h"
#include "session/ProtocolHistory.h"
#include "session/Session.h"
#include "session/TimerUnits.h"
#include "util/DateTime.h"
#include "util/EscapedText.h"
#include "util/QV_Basics.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

// Message boxes of a run without a window: on standard error (the operations
// that show them write the same text into the protocol themselves), after the
// progress line has been erased.
class TCommandLineInterface : public TConsoleUserInterface {
  public:
    TCommandLineInterface(TProgressDisplay& progress, TLineOutput& output)
        : fProgress(progress), fOutput(output) {
        setUserInterface(this);
    }
    ~TCommandLineInterface() override { setUserInterface(nullptr); }

    TMsgResult showMessage(TMsgKind kind, const std::string& text, unsigned buttons,
                           TMsgResult unattended, const std::string& title) override {
        // The protocol lines leading up to the message come first.
        fOutput.flush();
        fProgress.clear();
        return TConsoleUserInterface::showMessage(kind, text, buttons, unattended, title);
    }

  private:
    TProgressDisplay& fProgress;
    TLineOutput& fOutput;
};

// The protocol goes to standard output line by line (gathered for a few
// milliseconds when that is no terminal), progress to a terminal on standard
// error, and Ctrl+C or SIGTERM becomes the cancel action at the engine's next
// event. Nobody answers a run's questions: they take their unattended answer.
class TConsoleRun {
  public:
    explicit TConsoleRun(const TCommandLine& line)
        : fLine(line),
          fSession(line.iniFile),
          fProgress(STDERR_FILENO, ::isatty(STDERR_FILENO) == 1),
          fOutput(STDOUT_FILENO, &fProgress),
          fInterface(fProgress, fOutput) {
        installCancelSignals();
        fSession.setRunsByHand(!line.unattended);
        // Its notices are the unattended runs'; this process ends before a click.
        if (line.unattended)
            fSession.leaveWaiterForNoticeActions([this](uint32_t id, const std::string& file) {
                startDetached(
                    noticeWaiterCommand(ownProgramPath(), fSession.namedSettingsFile(), id, file));
            });
        fOutput.setBuffered(::isatty(STDOUT_FILENO) != 1);
        fSession.protocol().setSink([this](const std::string& text) { fOutput.writeLine(text); });
        fInterface.setPollHook([this] {
            pollCancel();
            fOutput.flushIfDue();
        });
        fSession.control().setCallbacks({[this](bool running) {
                                             if (!running) fProgress.clear();
                                         },
                                         [this](const TRunView& view) {
                                             fProgress.update(view.totalPercent, view.progressText,
                                                              view.copyText);
                                         },
                                         {}});
    }

    int execute() {
        if (const std::string error = fSession.open(); !error.empty()) {
            printError(error);
            return kExitUsage;
        }
        switch (fLine.command) {
            case TCommand::List:
                return listJobs();
            case TCommand::Run:
                return runJobs();
            case TCommand::SelfTest:
                return runSelfTest();
            case TCommand::Timers:
                return syncTimers();
            case TCommand::History:
                return listHistory();
            case TCommand::Versions:
                return listVersions();
            case TCommand::Restore:
                return restore();
            default:
                return kExitUsage;
        }
    }

  private:
    void pollCancel() {
        if (fCancelled || !cancelRequested()) return;
        if (fSession.restoring()) {
            fSession.cancelRestore();
        } else if (fSession.control().running()) {
            fSession.control().cancel();
        } else {
            return;
        }
        fCancelled = true;
        fOutput.flush();
    }

    TCopyJob* namedJob() {
        std::string error;
        TCopyJob* job = fSession.findJob(fLine.jobs.front(), error);
        if (!job) printError(error);
        return job;
    }

    int listVersions() {
        TCopyJob* job = namedJob();
        if (!job) return kExitUsage;
        const std::string path = fLine.paths.empty() ? std::string() : fLine.paths.front();
        const std::string text = versionsText(*job, path);
        if (!text.empty()) fOutput.writeLine(text.substr(0, text.size() - 1));
        fOutput.flush();
        return kExitOk;
    }

    // Without --overwrite a differing file in the way stays: a restore by hand
    // in a script must never lose the newer work of the user.
    int restore() {
        TCopyJob* job = namedJob();
        if (!job) return kExitUsage;
        const std::vector<TVersion> versions = jobVersions(*job);
        std::string error;
        const std::vector<TRestoreItem> items =
            planRestore(*job, versions, fLine.versionName, fLine.paths, fLine.toDir, error);
        if (!error.empty()) {
            printError(error);
            return fLine.versionName.empty() || findVersion(versions, fLine.versionName)
                       ? kExitFailed
                       : kExitUsage;
        }
        TRestoreEvents events;
        events.onProgress = [this](const TRestore& r) {
            fProgress.update(r.fPercent, r.fProgressText, r.fCopier->fStatusText);
        };
        const TConflictAnswer answer =
            fLine.overwrite ? TConflictAnswer::Replace : TConflictAnswer::Skip;
        events.onConflict = [answer](const std::string&, const std::string&) { return answer; };
        const TRestoreOutcome outcome =
            fSession.restore(*job, fLine.versionName, items, fLine.preview, events);
        fProgress.clear();
        fOutput.flush();
        if (!fLine.preview) saveProtocol();
        return outcome.ok ? kExitOk : kExitFailed;
    }

    int listJobs() {
        const std::string text = fSession.jobListText();
        if (!text.empty()) fOutput.writeLine(text.substr(0, text.size() - 1));
        return kExitOk;
    }

    int runJobs() {
        std::vector<TCopyJob*> jobs;
        for (const std::string& name : fLine.jobs) {
            std::string error;
            TCopyJob* job = fSession.findJob(name, error);
            if (!job) {
                printError(error);
                return kExitUsage;
            }
            jobs.push_back(job);
        }
        bool allDone = true;
        for (TCopyJob* job : jobs) {
            if (cancelRequested()) {
                allDone = false;
                break;
            }
            allDone = runOne(*job) && allDone;
            fOutput.flush();
        }
        // A background timer's run tells the overdue jobs of its settings as an
        // open window would: with the window closed, nothing else would.
        if (!fLine.preview && fLine.unattended && fSession.options().Background)
            fSession.noticeOverdueJobs(nowDateTime(), {jobs.begin(), jobs.end()});
        // A preview writes nothing anywhere, its protocol included.
        if (!fLine.preview) saveProtocol();
        return allDone ? kExitOk : kExitFailed;
    }

    bool runOne(TCopyJob& job) {
        job.fAllowMassDelete = fLine.allowMassDelete;
        const TRunKind kind = fLine.preview ? TRunKind::Preview : TRunKind::Backup;
        const std::string versionsBefore = job.fVersionRuns;
        const bool finished = fSession.runJob(job, kind, TAnswers::Unattended);
        // A run that broke off may still have written into its version.
        const bool stored = fLine.preview || (finished ? fSession.storeRunResult(job)
                                                       : job.fVersionRuns == versionsBefore ||
                                                             fSession.storeVersionRuns(job));
        if (!stored) {
            printError("Die letzte Sicherung von \"" + job.fJobName +
                       "\" konnte nicht gespeichert werden.");
            return false;
        }
        return finished && job.fStatistics.fErrors == 0;
    }

    // A job removed since keeps its protocols: its key or name still finds them.
    int listHistory() {
        std::vector<THistoryEntry> entries = qvb::listHistory(fSession.historyFolder());
        if (!fLine.jobs.empty()) {
            const std::string& wanted = fLine.jobs.front();
            std::string error;
            const TCopyJob* job = fSession.findJob(wanted, error);
            std::erase_if(entries, [&](const THistoryEntry& e) {
                return job ? e.jobKey != job->fJobKey
                           : e.jobKey != wanted && e.jobName != escapeControls(wanted);
            });
            if (!job && entries.empty()) {
                printError(error);
                return kExitUsage;
            }
        }
        const std::string text = historyListText(entries);
        if (!text.empty()) fOutput.writeLine(text.substr(0, text.size() - 1));
        return kExitOk;
    }

    int syncTimers() {
        const TTimerSync sync = qvb::syncTimers(fSession, userUnitFolder(), ownProgramPath());
        for (const std::string& line : sync.report) fOutput.writeLine(line);
        fOutput.flush();
        if (!sync.error.empty()) printError(sync.error);
        if (!sync.managerReached) printError(kManagerUnreachable);
        return sync.managerReached && sync.error.empty() ? kExitOk : kExitFailed;
    }

    int runSelfTest() {
        TSelfTestRoots roots = defaultSelfTestRoots();
        if (!fLine.sourceRoot.empty())
            roots.source = includeTrailingDelimiter(expandFileName(fLine.sourceRoot));
        if (!fLine.destRoot.empty())
            roots.dest = includeTrailingDelimiter(expandFileName(fLine.destRoot));
        const bool passed = fSession.runSelfTest(roots);
        saveProtocol();
        return passed ? kExitOk : kExitFailed;
    }

    // A protocol that fits in no place is reported, never dropped unnoticed.
    void saveProtocol() {
        if (!fSession.protocolWanted()) return;
        if (const std::string error = fSession.saveProtocol(); !error.empty()) printError(error);
    }

    const TCommandLine& fLine;
    TSession fSession;
    TProgressDisplay fProgress;
    TLineOutput fOutput;
    TCommandLineInterface fInterface;
    bool fCancelled = false;
};

}  // namespace

void printError(const std::string& text) {
    std::fprintf(stderr, "QV_Backup: %s\n", escapeControls(text).c_str());
}

int runConsole(const TCommandLine& line) {
    // The waiter reads no settings and keeps SIGTERM's default: a session's
    // end must end it.
    if (line.command == TCommand::NoticeWait)
        return awaitNoticeAction(
                   line.noticeId,
                   showProtocolCommand(ownProgramPath(), line.iniFile, line.paths.front()),
                   kNoticeWaitMs, startDetached)
                   ? kExitOk
                   : kExitFailed;
    TConsoleRun run(line);
    return run.execute();
}

}  // namespace qvb
