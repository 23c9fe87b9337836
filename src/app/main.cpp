#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/WindowLoader.h"
#include "jobs/BU_Options.h"
#include "jobs/CopyJobList.h"
#include "platform/DataFolder.h"
#include "platform/SettingsFolders.h"
#include "runcontrol/CancelSignals.h"
#include "runcontrol/ConsoleOutput.h"
#include "runcontrol/ProgressDisplay.h"
#include "runcontrol/RunControl.h"
#include "selftest/QV_BackupTest.h"
#include "util/EscapedText.h"
#include "util/Konstanten.h"
#include "util/QV_Basics.h"
#include "util/QV_Utils.h"
#include "util/UserInterface.h"

namespace qvb {
namespace {

// The texts name jobs, folders and files: their control characters go escaped.
void printError(const std::string& text) {
    std::fprintf(stderr, "QV_Backup: %s\n", escapeControls(text).c_str());
}

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

// One run of the program without a window: the protocol goes to standard
// output line by line (gathered for a few milliseconds when that is no
// terminal), progress to a terminal on standard error, and Ctrl+C or SIGTERM
// becomes the cancel action at the engine's next event.
class TConsoleSession {
  public:
    explicit TConsoleSession(const TCommandLine& line)
        : fLine(line),
          fProgress(STDERR_FILENO, ::isatty(STDERR_FILENO) == 1),
          fOutput(STDOUT_FILENO, &fProgress),
          fInterface(fProgress, fOutput) {
        installCancelSignals();
        fOutput.setBuffered(::isatty(STDOUT_FILENO) != 1);
        fProtocol.setSink([this](const std::string& text) { fOutput.writeLine(text); });
        fInterface.setPollHook([this] {
            pollCancel();
            fOutput.flushIfDue();
        });
        fControl.setCallbacks({[this](bool running) {
                                   if (!running) fProgress.clear();
                               },
                               [this](const TRunView& view) {
                                   fProgress.update(view.totalPercent, view.progressText,
                                                    view.copyText);
                               },
                               {}});
    }
    ~TConsoleSession() {
        setJobList(nullptr);
        setBackupOptions(nullptr);
    }

    int execute() {
        switch (fLine.command) {
            case TCommand::List:
                return loadSettings() ? listJobs() : kExitUsage;
            case TCommand::Run:
                return loadSettings() ? runJobs() : kExitUsage;
            case TCommand::SelfTest:
                return loadSettings() ? runSelfTest() : kExitUsage;
            case TCommand::Window:
            case TCommand::Help:
            case TCommand::Version:
                break;
        }
        return kExitUsage;
    }

  private:
    void pollCancel() {
        if (fCancelled || !cancelRequested() || !fControl.running()) return;
        fCancelled = true;
        fControl.cancel();
        fOutput.flush();
    }

    bool loadSettings() {
        if (!fLine.iniFile.empty()) {
            const std::string ini = expandFileName(fLine.iniFile);
            setProgramIniFile(ini);
            fProtocolFile =
                ini.substr(0, ini.rfind('.') > ini.rfind('/') ? ini.rfind('.') : ini.size()) +
                ".log";
        } else {
            fProtocolFile = protocolFileName();
        }
        fOptions = std::make_unique<TQV_BackupOptions>();
        setBackupOptions(fOptions.get());
        if (!fOptions->store().readable()) {
            printError("Die Einstellungen in \"" + fOptions->storeFileName() +
                       "\" können nicht gelesen werden.");
            return false;
        }
        fJobs = std::make_unique<TCopyJobList>(fOptions.get());
        setJobList(fJobs.get());
        fJobs->loadJobs();
        for (int i = 0; i < fJobs->count(); ++i) fControl.hookJob(fJobs->getJob(i));
        return true;
    }

    int listJobs() {
        std::string out;
        for (int i = 0; i < fJobs->count(); ++i) {
            const TCopyJob& job = fJobs->getJob(i);
            // A tab or line feed in a name must not make a field or a line of its own.
            out += escapeControls(job.fJobKey) + '\t' + escapeControls(job.fJobName) + '\t' +
                   std::to_string(job.fInterval) + '\t' + (job.fActive ? "1" : "0") + '\t' +
                   (job.fDelete ? "1" : "0") + '\t' + escapeControls(job.fDestination);
            for (const std::string& source : job.fSources) out += '\t' + escapeControls(source);
            out += '\n';
        }
        if (!out.empty()) fOutput.writeLine(out.substr(0, out.size() - 1));
        return kExitOk;
    }

    // By key, else by name; a name that several jobs share is no choice.
    std::vector<TCopyJob*> findJobs(const std::string& name) {
        std::vector<TCopyJob*> found;
        for (int i = 0; i < fJobs->count(); ++i)
            if (fJobs->getJob(i).fJobKey == name) return {&fJobs->getJob(i)};
        for (int i = 0; i < fJobs->count(); ++i)
            if (fJobs->getJob(i).fJobName == name) found.push_back(&fJobs->getJob(i));
        return found;
    }

    void printUnknownJob(const std::string& name, const std::vector<TCopyJob*>& found) {
        if (found.empty()) {
            printError("Unbekannter Job: \"" + name + "\"");
            return;
        }
        std::string keys;
        for (const TCopyJob* job : found) keys += (keys.empty() ? "" : ", ") + job->fJobKey;
        printError("Mehrere Jobs heißen \"" + name + "\": " + keys +
                   ". Bitte den Job mit seinem Schlüssel angeben.");
    }

    int runJobs() {
        std::vector<TCopyJob*> jobs;
        for (const std::string& name : fLine.jobs) {
            const std::vector<TCopyJob*> found = findJobs(name);
            if (found.size() != 1) {
                printUnknownJob(name, found);
                return kExitUsage;
            }
            jobs.push_back(found.front());
        }
        bool allDone = true;
        for (TCopyJob* job : jobs) {
            if (cancelRequested()) {
                allDone = false;
                break;
            }
            job->fAllowMassDelete = fLine.allowMassDelete;
            fControl.setCurrentJob(job);
            const bool finished = fLine.preview ? fControl.runPreview() : fControl.runJob();
            if (finished && !fLine.preview && !storeLastBackup(*job)) {
                printError("Die letzte Sicherung von \"" + job->fJobName +
                           "\" konnte nicht gespeichert werden.");
                allDone = false;
            }
            allDone = allDone && finished && job->fStatistics.fErrors == 0;
            fOutput.flush();
        }
        // A preview writes nothing anywhere, its protocol included.
        if (!fLine.preview) saveProtocol();
        return allDone ? kExitOk : kExitFailed;
    }

    // Only the run's own values change: whatever else the record holds stays
    // as the user left it.
    bool storeLastBackup(const TCopyJob& job) {
        TSettingsStore& store = fOptions->store();
        return store.writeTime(job.fJobKey, "LetztesBackup", job.fLastBackup) &&
               storeLastDestination(job) && store.commit();
    }

    // Written once the job finished a run into its destination: from then on
    // its deletions there need no confirmation.
    bool storeLastDestination(const TCopyJob& job) {
        return job.fLastDestination.empty() ||
               fOptions->store().writeText(job.fJobKey, "LetztesZiel", job.fLastDestination);
    }

    int runSelfTest() {
        TSelfTestRoots roots = defaultSelfTestRoots();
        if (!fLine.sourceRoot.empty())
            roots.source = includeTrailingDelimiter(expandFileName(fLine.sourceRoot));
        if (!fLine.destRoot.empty())
            roots.dest = includeTrailingDelimiter(expandFileName(fLine.destRoot));
        TSelfTest test(fControl, roots);
        const bool passed = test.runAndReport();
        saveProtocol();
        return passed ? kExitOk : kExitFailed;
    }

    // Beside the settings file given with --ini, or else in the data folder;
    // a protocol that fits in neither is reported, never dropped unnoticed.
    void saveProtocol() {
        if (!fOptions->Logging || fProtocol.empty()) return;
        std::vector<std::string> places{fProtocolFile};
        if (protocolFileName() != fProtocolFile) places.push_back(protocolFileName());
        if (!fProtocol.saveToFirstOf(places).empty()) return;
        std::string names;
        for (const std::string& place : places)
            names += (names.empty() ? "\"" : ", \"") + place + '"';
        printError("Das Protokoll konnte nicht gespeichert werden: " + names);
    }

    const TCommandLine& fLine;
    TProgressDisplay fProgress;
    TLineOutput fOutput;
    TCommandLineInterface fInterface;
    TProtocol fProtocol;
    TRunControl fControl{fProtocol};
    std::unique_ptr<TQV_BackupOptions> fOptions;
    std::unique_ptr<TCopyJobList> fJobs;
    std::string fProtocolFile;
    bool fCancelled = false;
};

}  // namespace
}  // namespace qvb

int main(int argc, char** argv) {
    using namespace qvb;
    const TParsedCommandLine parsed =
        parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok) {
        printError(parsed.error);
        std::fprintf(stderr, "Hilfe: QV_Backup --help\n");
        return kExitUsage;
    }
    if (parsed.line.command != TCommand::Help && parsed.line.command != TCommand::Version) {
        settleUserEnvironment();
        // Jobs placed by another user would run with this user's rights.
        const std::string untrusted = untrustedSettingsFolder(parsed.line.iniFile);
        if (!untrusted.empty()) {
            printError(untrusted);
            return kExitUsage;
        }
    }
    switch (parsed.line.command) {
        case TCommand::Help:
            std::fputs(helpText().c_str(), stdout);
            return kExitOk;
        case TCommand::Version:
            std::printf("%s\n", versionText().c_str());
            return kExitOk;
        case TCommand::Window:
            return runWindow(argc, argv, parsed.line);
        default:
            break;
    }
    try {
        TConsoleSession session(parsed.line);
        return session.execute();
    } catch (const std::exception& e) {
        printError(std::string("Unerwarteter Fehler: ") + e.what());
        return kExitFailed;
    }
}
