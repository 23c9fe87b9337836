#pragma once

// The scheduler behind the window's one-second timer: it looks at every job in
// list order, writes the job's row of the next-run list and runs the jobs that
// are due, one after the other. It holds no widgets; the window tells it how
// to show a row and how to run a job. "Now" comes from the program's clock.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "util/DateTime.h"

namespace qvb {

class TCopyJob;
class TCopyJobList;

inline const std::string kRowRunning = "Sicherung läuft...";
inline const std::string kRowDone = "Sicherung durchgeführt.";
inline const std::string kRowInactive = "(nicht aktiviert)";
inline const std::string kRowManual = "(manueller Start)";

// Countdown text: 1 gives "1 Minute...", 60 "1 Stunde, ", 1500
// "1 Tag, 1 Stunde, ".
std::string minutesToText(int32_t minutes);

// True for the intervals the scheduler starts by itself (weekly, daily,
// hourly). A stored code it does not know counts as "by hand": such a job
// would otherwise be due at once and never again.
bool isAutomatic(const TCopyJob& job);

// When an active automatic job became overdue: its last run without errors
// (its last backup when none is stored) lies more than twice its interval, and
// at least a day, before `now`. Nothing for a job that is not overdue or never
// finished a run.
std::optional<TDateTime> overdueSince(const TCopyJob& job, TDateTime now);
// "überfällig seit 03.12.2026 14:00"
std::string overdueText(TDateTime since);

// The job's minutesToNextRun after the slots missed while nobody looked have
// been skipped; see skipMissedSlots.
int32_t minutesToScheduledRun(TCopyJob& job);

struct TSchedulerHooks {
    // Replaces the text of one row of the next-run list.
    std::function<void(int row, const std::string& text)> setRow;
    // Runs the job to its end, unattended, without making it the window's
    // current job; true when it finished.
    std::function<bool(TCopyJob& job)> runJob;
    // True for a job that a timer of the user's service manager starts: its
    // row follows the schedule, but the tick does not run it.
    std::function<bool(const TCopyJob& job)> runsElsewhere;
};

class TScheduler {
  public:
    void setHooks(TSchedulerHooks hooks) { fHooks = std::move(hooks); }

    // One look at every job. Pending events are processed before each job,
    // and a timer event among them must not start a second pass: a tick that
    // comes while one is under way does nothing and returns false.
    bool tick(TCopyJobList& jobs);
    bool ticking() const { return fTicking; }
    // The window is closing: no job starts any more, and a tick under way
    // ends after the run it is in.
    void halt() { fHalted = true; }

    // The rows of the rebuilt list, one per job in list order.
    static std::vector<std::string> nextRunRows(TCopyJobList& jobs);

  private:
    void checkJob(TCopyJob& job, int row);
    void runScheduled(TCopyJob& job);
    void setRow(int row, const std::string& text);

    TSchedulerHooks fHooks;
    bool fTicking = false;
    bool fHalted = false;
};

}  // namespace qvb
