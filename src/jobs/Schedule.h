#pragma once

// When an automatic job runs next and which interval subfolder that run writes
// into. The arithmetic works on the local wall clock in whole milliseconds, so a
// daily job at 08:00 stays at 08:00 across a daylight-saving change and a slot
// that lies exactly on "now" is not lost to rounding.

#include <cstdint>
#include <string>

#include "util/DateTime.h"

namespace qvb {

// Interval codes of a job, in the order of the choices in the window.
enum TJobInterval : int {
    kIntervalOnce = 0,
    kIntervalWeekly = 1,
    kIntervalDaily = 2,
    kIntervalHourly = 3,
};

// Length of one period of an automatic interval; 0 for "once" and unknown codes.
int64_t periodMilliseconds(TJobInterval interval);

// The time of day of `time` on the date of `day`.
TDateTime onDayOf(TDateTime day, TDateTime time);

// First moment not before `now` on weekday `weekday` (1 = Monday) at the time of
// day of `startTime`.
TDateTime weeklyNextRun(TDateTime now, TDateTime startTime, int weekday);
// First moment not before `now` at the time of day of `startTime`.
TDateTime dailyNextRun(TDateTime now, TDateTime startTime);
// First slot of the hourly grid through `startTime` that is not before `now` and
// not more than a minute before `startTime` itself.
TDateTime hourlyNextRun(TDateTime now, TDateTime startTime);

// "wöchentlich/w_07/", "täglich/d_31/", "stündlich/h_08/"; empty for "once".
std::string intervalFolderFor(TJobInterval interval, TDateTime nextRun);

// The interval subfolder of a run starting at `now`: the slot's when `now`
// lies in the minute after `nextRun` (the scheduler's run), otherwise the
// folder of `now`'s own hour, day or week, so that a run by hand or from cron
// never writes into the folder of a later period.
std::string runIntervalFolder(TJobInterval interval, TDateTime nextRun, TDateTime now);

// Moves `nextRun` on by one period when it lies before `now` (and reports that in
// `movedOn`), then gives the whole minutes between both plus one, where a full
// period counts as 0: the run is due during the minute after its moment.
int32_t minutesUntilRun(TJobInterval interval, TDateTime& nextRun, TDateTime now, bool& movedOn);

// When `nextRun` lies more than one period before `now` (the machine slept, or
// a long run held the scheduler up), the last slot of its grid before `now`;
// otherwise `nextRun` itself. Stepping one period per call from further back
// would pass a slot that lies just under a period behind, and the absolute
// difference would then report it due: a run at no scheduled moment.
TDateTime skipMissedSlots(TJobInterval interval, TDateTime nextRun, TDateTime now);

}  // namespace qvb
