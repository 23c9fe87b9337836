#pragma once

// The run control shared by the window and the command line: it starts the
// current job, frames its output in the protocol, turns the copy engine's
// events into progress texts, bar values and protocol lines, and cancels a
// run. It holds no widgets; whoever shows a run subscribes to the callbacks.

#include <functional>
#include <string>

#include "runcontrol/Protocol.h"
#include "util/DateTime.h"
#include "util/UserInterface.h"

namespace qvb {

class TCopyIt;
class TCopyJob;

// What a window shows of a run besides the protocol.
struct TRunView {
    int totalPercent = 0;         // overall bar
    int filePercent = 0;          // bar of the current file
    std::string progressText;     // " bearbeite Datei 3 von 9..." or the mirror's phase text
    std::string copyText;         // the copier's status, after a run the verdict
    std::string sourceCountText;  // "12 Dateien in 3 Verzeichnissen"
    std::string destCountText;
    std::string lastBackupText;  // "07.12.2026 14:30:00" after a finished run
};

struct TRunCallbacks {
    // true when a run starts (lock the actions, scheduler off), false after it.
    std::function<void(bool running)> onRunning;
    // After any change of the view's texts or percentages.
    std::function<void(const TRunView& view)> onView;
    // Only when one of the two bar values differs from the one shown.
    std::function<void(int totalPercent, int filePercent)> onBars;
};

// One run as those who keep its traces see it, whichever face started it.
struct TRunRecord {
    TCopyJob* job = nullptr;
    bool preview = false;
    TAnswers answers = TAnswers::User;
    TDateTime start = 0;
    size_t firstLine = 0;   // the run's first line in the protocol
    bool finished = false;  // set for `ended`
};

struct TRunHooks {
    std::function<void(const TRunRecord& run)> started;
    // Before the faces hear that the run is over.
    std::function<void(const TRunRecord& run)> ended;
};

class TRunControl {
  public:
    explicit TRunControl(TProtocol& protocol) : fProtocol(protocol) {}
    TRunControl(const TRunControl&) = delete;
    TRunControl& operator=(const TRunControl&) = delete;

    void setCallbacks(TRunCallbacks callbacks) { fCallbacks = std::move(callbacks); }
    // Kept apart from the faces' callbacks, which each face replaces.
    void setRunHooks(TRunHooks hooks) { fHooks = std::move(hooks); }

    // The window's current job (not owned). While a run is active the handlers
    // stay with the job that runs, whatever is chosen meanwhile.
    void setCurrentJob(TCopyJob* job) { fCurrentJob = job; }
    TCopyJob* currentJob() const { return fCurrentJob; }
    bool running() const { return fRunningJob != nullptr; }
    TCopyJob* runningJob() const { return fRunningJob; }

    // Routes the job's three events to the handlers below.
    void hookJob(TCopyJob& job);

    // Runs the current job; true when it ended with status csDone. Only then
    // the job's last backup time and schedule change.
    bool runJob() { return fCurrentJob && run(*fCurrentJob, false, TAnswers::User); }
    // Runs `job` without making it the current one (the scheduler's runs).
    // Refused (false) while another run is active.
    bool runJob(TCopyJob& job, TAnswers answers) { return run(job, false, answers); }
    // The current job with its writing switched off: true when it would end
    // with csDone; the last backup time and schedule stay.
    bool runPreview() { return fCurrentJob && run(*fCurrentJob, true, TAnswers::User); }
    bool runPreview(TCopyJob& job, TAnswers answers) { return run(job, true, answers); }
    void showMessages(TCopyIt* sender);
    void showProgress(TCopyIt* sender);
    void showFileCounts(TCopyIt* sender);
    // The cancel action: stops the running job, its mirror and its copier, and
    // notes it in the protocol.
    void cancel();

    TProtocol& protocol() { return fProtocol; }
    const TRunView& view() const { return fView; }

    // "12 Dateien in 1 Verzeichnis".
    static std::string countText(int files, int folders);

  private:
    bool run(TCopyJob& job, bool preview, TAnswers answers);
    void logRun(TCopyJob& job, bool preview);
    void logBrokenRun(TCopyJob& job, const std::string& reason);
    TCopyJob* activeJob() const { return fRunningJob ? fRunningJob : fCurrentJob; }
    void log(const std::string& line) { fProtocol.append(line); }
    void logErrorBanner(int errors);
    void logOverallResult(TCopyJob& job);
    void finishRun();
    void viewChanged();
    void setBars(int total, int file);

    TProtocol& fProtocol;
    TRunCallbacks fCallbacks;
    TRunHooks fHooks;
    TCopyJob* fCurrentJob = nullptr;
    TCopyJob* fRunningJob = nullptr;
    TRunView fView;
    int fShownTotal = -1;
    int fShownFile = -1;
    // The counts the count texts were made from: a status change per file
    // then costs no new texts.
    int fCountedSource[2] = {-1, -1};
    int fCountedDest[2] = {-1, -1};
};

}  // namespace qvb
