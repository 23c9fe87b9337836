#include "runcontrol/Scheduler.h"

#include <algorithm>

#include "jobs/CopyJob.h"
#include "jobs/CopyJobList.h"
#include "jobs/Schedule.h"
#include "util/DateTime.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

void appendCount(std::string& text, int32_t count, const char* one, const char* many) {
    if (count > 0) text += std::to_string(count) + (count == 1 ? one : many);
}

}  // namespace

std::string minutesToText(int32_t minutes) {
    const int32_t rest = minutes % 1440;
    std::string text;
    appendCount(text, minutes / 1440, " Tag, ", " Tage, ");
    appendCount(text, rest / 60, " Stunde, ", " Stunden, ");
    appendCount(text, rest % 60, " Minute...", " Minuten...");
    return text;
}

bool isAutomatic(const TCopyJob& job) {
    return periodMilliseconds(job.fInterval) > 0;
}

std::optional<TDateTime> overdueSince(const TCopyJob& job, TDateTime now) {
    if (!job.fActive || !isAutomatic(job)) return std::nullopt;
    const TDateTime lastClean = job.fLastCleanRun > 0 ? job.fLastCleanRun : job.fLastBackup;
    if (lastClean <= 0) return std::nullopt;
    const double twoIntervals =
        2.0 * static_cast<double>(periodMilliseconds(job.fInterval)) / (kSecondsPerDay * 1000.0);
    const TDateTime since = lastClean + std::max(twoIntervals, 1.0);
    if (now <= since) return std::nullopt;
    return since;
}

std::string overdueText(TDateTime since) {
    const std::string time = formatGermanTime(since);
    return "überfällig seit " + formatGermanDate(since) + " " + time.substr(0, 5);
}

// An overdue job's row says so before its countdown.
static std::string withOverdue(const TCopyJob& job, const std::string& text) {
    const std::optional<TDateTime> since = overdueSince(job, nowDateTime());
    return since ? overdueText(*since) + ", " + text : text;
}

int32_t minutesToScheduledRun(TCopyJob& job) {
    job.fNextRun = skipMissedSlots(job.fInterval, job.fNextRun, nowDateTime());
    return job.minutesToNextRun();
}

bool TScheduler::tick(TCopyJobList& jobs) {
    if (fTicking || fHalted) return false;
    fTicking = true;
    struct TEndTick {
        bool& ticking;
        ~TEndTick() { ticking = false; }
    } endTick{fTicking};
    for (int row = 0; row < jobs.count() && !fHalted; ++row) {
        processPendingEvents();
        // The events may have removed jobs from the end of the list, or
        // closed the window.
        if (row >= jobs.count() || fHalted) break;
        checkJob(jobs.getJob(row), row);
    }
    return true;
}

void TScheduler::checkJob(TCopyJob& job, int row) {
    if (!isAutomatic(job)) return;
    if (!job.fActive) {
        setRow(row, kRowInactive);
        return;
    }
    const int32_t minutes = minutesToScheduledRun(job);
    if (minutes != 0) {
        setRow(row, withOverdue(job, minutesToText(minutes)));
    } else if (job.fDone) {
        setRow(row, kRowDone);
    } else {
        setRow(row, kRowRunning);
        runScheduled(job);
    }
}

void TScheduler::runScheduled(TCopyJob& job) {
    if (fHooks.runsElsewhere && fHooks.runsElsewhere(job)) return;
    if (fHooks.runJob) fHooks.runJob(job);
}

void TScheduler::setRow(int row, const std::string& text) {
    if (fHooks.setRow) fHooks.setRow(row, text);
}

std::vector<std::string> TScheduler::nextRunRows(TCopyJobList& jobs) {
    std::vector<std::string> rows;
    for (int i = 0; i < jobs.count(); ++i) {
        TCopyJob& job = jobs.getJob(i);
        const int32_t minutes = minutesToScheduledRun(job);
        if (minutes <= 0)
            rows.push_back(kRowManual);
        else
            rows.push_back(job.fActive ? withOverdue(job, minutesToText(minutes)) : kRowInactive);
    }
    return rows;
}

}  // namespace qvb
