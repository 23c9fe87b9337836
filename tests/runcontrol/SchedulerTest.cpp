// The scheduler's tick on a fixed clock: which jobs run when, in which order,
// and what their rows of the next-run list say meanwhile.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jobs/CopyJob.h"
#include "jobs/CopyJobList.h"
#include "jobs/Schedule.h"
#include "runcontrol/RunControl.h"
#include "runcontrol/Scheduler.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/DateTime.h"

namespace qvb {
namespace {

// 10.02.2027 is a Wednesday.
TDateTime at(int hour, int minute, int second = 0, int day = 10, int month = 2) {
    return encodeDateTime({2027, month, day, hour, minute, second, 0});
}

class SchedulerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setClock([this] { return fNow; });
        scheduler.setHooks({[this](int row, const std::string& text) { rows[row] = text; },
                            [this](TCopyJob& job) { return fakeRun(job); },
                            {}});
    }
    void TearDown() override { setClock({}); }

    TCopyJob& addJob(const std::string& name, int interval, TDateTime start, bool active = true) {
        TCopyJob& job = jobs.add(std::make_unique<TCopyJob>());
        job.fJobName = name;
        job.fActive = active;
        job.fWeekday = 1;
        job.fEndTime = encodeTime(23, 59, 0);
        job.setSchedule(static_cast<TJobInterval>(interval), start);
        return job;
    }
    // A run as Execute ends it, taking `runTime` on the clock.
    bool fakeRun(TCopyJob& job) {
        runs.push_back(job.fJobName);
        rowDuringRun = rows[jobs.indexOf(&job)];
        fNow += runTime;
        job.fDone = true;
        return true;
    }
    void tickAt(TDateTime now) {
        fNow = now;
        ASSERT_TRUE(scheduler.tick(jobs));
    }

    TDateTime fNow = at(7, 0);
    TDateTime runTime = 20 * kOneSecond;
    test::RecordingUserInterface ui;
    TCopyJobList jobs;
    TScheduler scheduler;
    std::map<int, std::string> rows;
    std::vector<std::string> runs;
    std::string rowDuringRun;
};

TEST(MinutesToText, DaysHoursAndMinutesInGerman) {
    EXPECT_EQ(minutesToText(1), "1 Minute...");
    EXPECT_EQ(minutesToText(60), "1 Stunde, ");
    EXPECT_EQ(minutesToText(61), "1 Stunde, 1 Minute...");
    EXPECT_EQ(minutesToText(1441), "1 Tag, 1 Minute...");
    EXPECT_EQ(minutesToText(1500), "1 Tag, 1 Stunde, ");
    EXPECT_EQ(minutesToText(2 * 1440 + 2 * 60 + 2), "2 Tage, 2 Stunden, 2 Minuten...");
}

TEST_F(SchedulerTest, DueJobRunsOnceAndShowsDoneUntilItsMinuteEnds) {
    addJob("A", kIntervalDaily, encodeTime(8, 0, 0));
    tickAt(at(7, 59, 30));
    EXPECT_EQ(rows[0], "1 Minute...");
    for (int second : {1, 2, 30, 59}) tickAt(at(8, 0, second));
    tickAt(at(8, 1, 0));
    EXPECT_EQ(rows[0], kRowDone);
    EXPECT_EQ(runs, std::vector<std::string>{"A"});
    EXPECT_EQ(rowDuringRun, kRowRunning);

    tickAt(at(8, 1, 1));
    EXPECT_EQ(rows[0], "23 Stunden, 59 Minuten...");
}

TEST_F(SchedulerTest, StartWithinTheMinuteRunsButTwoMinutesLateWaitsForTheNextPeriod) {
    fNow = at(8, 0, 30);
    addJob("in time", kIntervalDaily, encodeTime(8, 0, 0));
    tickAt(at(8, 0, 31));
    fNow = at(7, 0);
    addJob("late", kIntervalDaily, encodeTime(8, 0, 0));
    tickAt(at(8, 2, 0));
    EXPECT_EQ(runs, std::vector<std::string>{"in time"});
    EXPECT_EQ(rows[1], "23 Stunden, 59 Minuten...");
    tickAt(at(8, 0, 1, 11));
    EXPECT_EQ(runs, (std::vector<std::string>{"in time", "in time", "late"}));
}

TEST_F(SchedulerTest, JobsDueTogetherRunInListOrderWhileTheirMinuteLasts) {
    addJob("A", kIntervalHourly, encodeTime(8, 0, 0));
    addJob("B", kIntervalHourly, encodeTime(8, 0, 0));
    addJob("C", kIntervalHourly, encodeTime(8, 0, 0));
    tickAt(at(8, 0, 5));
    EXPECT_EQ(runs, (std::vector<std::string>{"A", "B", "C"}));

    runs.clear();
    runTime = 50 * kOneSecond;
    tickAt(at(9, 0, 5));
    // B ends at 09:01:45: C's minute is over and it waits for 10:00.
    EXPECT_EQ(runs, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(rows[2], "59 Minuten...");
}

TEST_F(SchedulerTest, RowsOfJobsTheSchedulerDoesNotStart) {
    TCopyJob& inactive = addJob("inactive", kIntervalDaily, encodeTime(8, 0, 0), false);
    addJob("once", kIntervalOnce, encodeTime(8, 0, 0));
    addJob("unknown", 7, encodeTime(8, 0, 0));
    rows[1] = rows[2] = "unchanged";
    for (int second : {1, 30}) tickAt(at(8, 0, second));
    EXPECT_EQ(rows[0], kRowInactive);
    EXPECT_EQ(rows[1], "unchanged");
    EXPECT_EQ(rows[2], "unchanged");
    EXPECT_TRUE(runs.empty());
    EXPECT_EQ(formatGermanDateTime(inactive.fNextRun), "10.02.2027 08:00:00");
}

TEST_F(SchedulerTest, WeeklyMondayComputedOnAWednesday) {
    fNow = at(10, 0);
    TCopyJob& job = addJob("weekly", kIntervalWeekly, encodeTime(8, 0, 0));
    tickAt(at(10, 0));
    EXPECT_EQ(formatGermanDateTime(job.fNextRun), "15.02.2027 08:00:00");
    EXPECT_EQ(rows[0], "4 Tage, 22 Stunden, 1 Minute...");
}

TEST_F(SchedulerTest, WakingUpLateSkipsMissedSlotsInsteadOfCatchingUp) {
    addJob("hourly", kIntervalHourly, encodeTime(8, 0, 0));
    for (int second : {30, 31, 32, 33}) tickAt(at(11, 59, second));
    EXPECT_TRUE(runs.empty());
    EXPECT_EQ(rows[0], "1 Minute...");
    tickAt(at(12, 0, 30));
    tickAt(at(12, 0, 31));
    EXPECT_EQ(runs, std::vector<std::string>{"hourly"});
    EXPECT_EQ(rows[0], kRowDone);

    // Asleep until the Monday three weeks on, woken in the due minute of the
    // latest slots: one run each.
    addJob("weekly", kIntervalWeekly, encodeTime(8, 0, 0));
    runs.clear();
    for (int second : {20, 21}) tickAt(at(8, 0, second, 8, 3));
    EXPECT_EQ(runs, (std::vector<std::string>{"hourly", "weekly"}));
}

TEST_F(SchedulerTest, TickDuringATickDoesNothing) {
    addJob("A", kIntervalDaily, encodeTime(8, 0, 0));
    addJob("B", kIntervalDaily, encodeTime(8, 0, 0));
    std::vector<bool> nested;
    bool inside = false;
    ui.onEvents = [&] {
        if (inside) return;
        inside = true;
        nested.push_back(scheduler.tick(jobs));
        inside = false;
    };
    tickAt(at(8, 0, 10));
    EXPECT_EQ(nested, (std::vector<bool>{false, false}));
    EXPECT_EQ(runs, (std::vector<std::string>{"A", "B"}));
    EXPECT_FALSE(scheduler.ticking());
}

TEST_F(SchedulerTest, RebuiltListShowsManualStartInactiveAndCountdowns) {
    addJob("once", kIntervalOnce, 0);
    addJob("due", kIntervalDaily, encodeTime(8, 0, 0));
    addJob("inactive", kIntervalDaily, encodeTime(9, 0, 0), false);
    addJob("waiting", kIntervalHourly, encodeTime(8, 30, 0));
    fNow = at(8, 0, 30);
    EXPECT_EQ(TScheduler::nextRunRows(jobs),
              (std::vector<std::string>{kRowManual, kRowManual, kRowInactive, "30 Minuten..."}));
}

// The overdue rule at its edges: twice the interval, but a day at least; the
// last run without errors counts, the last backup only when none is stored.
TEST_F(SchedulerTest, OverdueAfterTwiceTheIntervalAndAtLeastADay) {
    const TDateTime clean = at(8, 0);
    const struct {
        int interval;
        bool active;
        TDateTime lastClean, lastBackup, now;
        const char* since;
    } cases[] = {
        {kIntervalDaily, true, clean, clean, clean + 2.0, nullptr},
        {kIntervalDaily, true, clean, clean, clean + 2.0 + kOneMinute, "12.02.2027 08:00"},
        {kIntervalHourly, true, clean, clean, clean + 0.5, nullptr},
        {kIntervalHourly, true, clean, clean, clean + 1.0 + kOneMinute, "11.02.2027 08:00"},
        {kIntervalWeekly, true, clean, clean, clean + 13.9, nullptr},
        {kIntervalWeekly, true, clean, clean, clean + 14.1, "24.02.2027 08:00"},
        {kIntervalDaily, false, clean, clean, clean + 30, nullptr},
        {kIntervalOnce, true, clean, clean, clean + 30, nullptr},
        {kIntervalDaily, true, 0, clean, clean + 3, "12.02.2027 08:00"},
        {kIntervalDaily, true, clean - 5, clean, clean + 1, "07.02.2027 08:00"},
        {kIntervalDaily, true, 0, 0, clean + 30, nullptr},
    };
    for (const auto& c : cases) {
        TCopyJob job;
        job.fActive = c.active;
        job.setInterval(static_cast<TJobInterval>(c.interval));
        job.fLastCleanRun = c.lastClean;
        job.fLastBackup = c.lastBackup;
        const std::optional<TDateTime> since = overdueSince(job, c.now);
        EXPECT_EQ(since ? overdueText(*since) : "",
                  c.since ? std::string("überfällig seit ") + c.since : "")
            << c.interval << " " << formatGermanDateTime(c.now);
    }

    // A run with errors moves the last backup on, not the last clean run.
    TCopyJob& job = addJob("alt", kIntervalDaily, encodeTime(8, 30, 0));
    job.fLastBackup = clean - 5;
    job.fStatistics.fErrors = 1;
    job.noteFinishedRun(clean - 1);
    EXPECT_EQ(job.fLastCleanRun, clean - 5);
    EXPECT_EQ(job.fLastBackup, clean - 1);
    fNow = clean + 30 * kOneSecond;
    EXPECT_EQ(TScheduler::nextRunRows(jobs),
              std::vector<std::string>{"überfällig seit 07.02.2027 08:00, 30 Minuten..."});
    job.fStatistics.fErrors = 0;
    job.noteFinishedRun(clean);
    EXPECT_EQ(job.fLastCleanRun, clean);
    EXPECT_EQ(TScheduler::nextRunRows(jobs), std::vector<std::string>{"30 Minuten..."});
}

// Real runs through the run control, as the window makes them.
class ScheduledRunTest : public SchedulerTest {
  protected:
    void SetUp() override {
        SchedulerTest::SetUp();
        scheduler.setHooks(
            {[this](int row, const std::string& text) { rows[row] = text; },
             [this](TCopyJob& job) { return control.runJob(job, TAnswers::Unattended); },
             {}});
        control.setCurrentJob(&shown);
    }
    TCopyJob& addBackup(int interval, TDateTime start, TDateTime end) {
        TCopyJob& job = addJob("Fotos", interval, start);
        control.hookJob(job);
        job.fEndTime = end;
        job.updateSchedule();
        job.fSources = {dir / "quelle=1"};
        job.setDestination(dir / "ziel");
        return job;
    }
    bool logged(const std::string& line) const {
        const auto& lines = protocol.lines();
        return std::count(lines.begin(), lines.end(), line) > 0;
    }

    test::TempDir dir;
    TProtocol protocol;
    TRunControl control{protocol};
    TCopyJob shown;
};

TEST_F(ScheduledRunTest, FailedHourlyJobRunsEveryHourOutsideItsWindowUntilItFinishes) {
    fNow = at(8, 30);
    TCopyJob& job = addBackup(kIntervalHourly, encodeTime(8, 0, 0), encodeTime(9, 0, 0));
    // A box of the window itself during the scheduled run (a refused save)
    // is still shown; only the run's own boxes are answered unattended.
    ui.onEvents = [this] {
        if (control.running() && ui.shown.empty())
            userInterface().showMessage(TMsgKind::Error, "eigene", mbOK, TMsgResult::OK);
    };
    tickAt(at(9, 0, 30));
    ui.onEvents = {};
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, "eigene");
    EXPECT_EQ(job.fAnswers, TAnswers::User);
    ui.shown.clear();
    tickAt(at(9, 0, 40));
    EXPECT_EQ(rows[0], kRowDone);
    EXPECT_TRUE(
        logged("FEHLER:  Das Quellverzeichnis \"" + dir / "quelle/" + "\" existiert nicht!"));
    tickAt(at(10, 0, 30));
    EXPECT_EQ(job.fLastBackup, 0.0);

    test::buildTree(dir / "quelle/", {test::file("a.txt", "a")});
    tickAt(at(11, 0, 30));
    EXPECT_EQ(job.fLastBackup, at(11, 0, 30));
    EXPECT_EQ(formatGermanDateTime(job.fNextRun), "11.02.2027 08:00:00");
    const auto& lines = protocol.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) {
                                return l.find(":  starte Backup-") != std::string::npos;
                            }),
              3);
    // The window's job stays the one it shows; the run asked nobody.
    EXPECT_EQ(control.currentJob(), &shown);
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(ScheduledRunTest, LockedDestinationIsRefusedAndShowsDoneForItsMinute) {
    test::buildTree(dir / "quelle/", {test::file("a.txt", "a")});
    test::buildTree(dir / "ziel/", {test::dir("x/")});
    addBackup(kIntervalDaily, encodeTime(8, 0, 0), 0);
    const int lock = ::open((dir / "ziel").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    tickAt(at(8, 0, 5));
    tickAt(at(8, 0, 6));
    ::close(lock);
    EXPECT_EQ(rows[0], kRowDone);
    EXPECT_TRUE(logged("FEHLER:  Das Zielverzeichnis \"" + dir / "ziel/" +
                       "\" wird gerade von einer anderen Sicherung benutzt; diese Sicherung wird "
                       "nicht ausgeführt."));
    EXPECT_TRUE(ui.shown.empty());
}

}  // namespace
}  // namespace qvb
