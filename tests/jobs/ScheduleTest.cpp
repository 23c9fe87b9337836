#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "jobs/CopyJob.h"
#include "jobs/Schedule.h"
#include "util/DateTime.h"

namespace qvb {
namespace {

TDateTime at(int year, int month, int day, int hour, int minute, int second = 0) {
    return encodeDateTime({year, month, day, hour, minute, second, 0});
}

std::string text(TDateTime value) {
    return formatGermanDateTime(value);
}

// Every test sets the clock it needs; the system clock comes back afterwards.
class Schedule : public ::testing::Test {
  protected:
    void TearDown() override { setClock({}); }
    void setNow(TDateTime now) {
        fNow = now;
        setClock([this] { return fNow; });
    }
    TDateTime fNow = 0;
    TCopyJob fJob;
};

TEST_F(Schedule, WeeklyRunsOnItsWeekdayAndCarriesThatWeeksNumber) {
    setNow(at(2027, 2, 11, 10, 0));  // a Thursday
    fJob.fWeekday = 1;
    fJob.setSchedule(kIntervalWeekly, encodeTime(8, 0, 0));
    EXPECT_EQ(text(fJob.fNextRun), "15.02.2027 08:00:00");
    EXPECT_EQ(fJob.fIntervalFolder, "wöchentlich/w_07/");

    // The weekday is today and the start time still ahead: today.
    fJob.fWeekday = 4;
    fJob.setStartTime(encodeTime(10, 30, 0));
    EXPECT_EQ(text(fJob.fNextRun), "11.02.2027 10:30:00");
    // The weekday is today but its time has passed: a week later.
    fJob.setStartTime(encodeTime(9, 59, 0));
    EXPECT_EQ(text(fJob.fNextRun), "18.02.2027 09:59:00");
    // Only the time of day of a stored start time counts.
    fJob.setStartTime(at(2019, 5, 1, 11, 0));
    EXPECT_EQ(text(fJob.fNextRun), "11.02.2027 11:00:00");
}

TEST_F(Schedule, WeekNumbersAtTheTurnOfTheYear) {
    struct Case {
        TDateTime now;
        int weekday;
        const char* nextRun;
        const char* folder;
    } cases[] = {
        {at(2026, 12, 28, 12, 0), 4, "31.12.2026 08:00:00", "wöchentlich/w_53/"},
        {at(2026, 12, 28, 12, 0), 5, "01.01.2027 08:00:00", "wöchentlich/w_53/"},
        {at(2027, 1, 1, 12, 0), 1, "04.01.2027 08:00:00", "wöchentlich/w_01/"},
        {at(2025, 12, 27, 12, 0), 1, "29.12.2025 08:00:00", "wöchentlich/w_01/"},
    };
    for (const Case& c : cases) {
        setNow(c.now);
        fJob.fWeekday = c.weekday;
        fJob.setSchedule(kIntervalWeekly, encodeTime(8, 0, 0));
        EXPECT_EQ(text(fJob.fNextRun), c.nextRun) << c.folder;
        EXPECT_EQ(fJob.fIntervalFolder, c.folder) << c.nextRun;
    }
}

TEST_F(Schedule, DailyAfterTheStartTimeRunsTomorrow) {
    setNow(at(2027, 1, 31, 23, 45));
    fJob.fEndTime = at(2020, 1, 1, 17, 0);
    fJob.setSchedule(kIntervalDaily, encodeTime(23, 30, 0));
    EXPECT_EQ(text(fJob.fNextRun), "01.02.2027 23:30:00");
    EXPECT_EQ(fJob.fIntervalFolder, "täglich/d_01/");
    // Start and end time are moved onto today's date.
    EXPECT_EQ(text(fJob.fStartTime), "31.01.2027 23:30:00");
    EXPECT_EQ(text(fJob.fEndTime), "31.01.2027 17:00:00");

    setNow(at(2027, 1, 31, 23, 30));  // exactly the start time: still today
    fJob.updateSchedule();
    EXPECT_EQ(text(fJob.fNextRun), "31.01.2027 23:30:00");
    EXPECT_EQ(fJob.fIntervalFolder, "täglich/d_31/");
}

TEST_F(Schedule, HourlyBeforeInsideAndAfterItsWindow) {
    struct Case {
        TDateTime now;
        TDateTime start, end;
        const char* nextRun;
        const char* folder;
    } cases[] = {
        {at(2027, 3, 3, 7, 10), encodeTime(8, 0, 0), encodeTime(18, 0, 0), "03.03.2027 08:00:00",
         "stündlich/h_08/"},
        {at(2027, 3, 3, 9, 10), encodeTime(8, 0, 0), encodeTime(17, 0, 0), "03.03.2027 10:00:00",
         "stündlich/h_10/"},
        {at(2027, 3, 3, 17, 30), encodeTime(8, 0, 0), encodeTime(17, 0, 0), "04.03.2027 08:00:00",
         "stündlich/h_08/"},
        {at(2027, 3, 3, 18, 30), encodeTime(8, 0, 0), encodeTime(18, 0, 0), "04.03.2027 08:00:00",
         "stündlich/h_08/"},
        // The end time is compared with now, not with the slot.
        {at(2027, 3, 3, 17, 50), encodeTime(8, 15, 0), encodeTime(18, 0, 0), "03.03.2027 18:15:00",
         "stündlich/h_18/"},
        // An early hour still gets two digits.
        {at(2027, 3, 3, 1, 10), encodeTime(0, 5, 0), encodeTime(23, 0, 0), "03.03.2027 02:05:00",
         "stündlich/h_02/"},
    };
    for (const Case& c : cases) {
        setNow(c.now);
        fJob.fEndTime = c.end;
        fJob.setSchedule(kIntervalHourly, c.start);
        EXPECT_EQ(text(fJob.fNextRun), c.nextRun) << text(c.now);
        EXPECT_EQ(fJob.fIntervalFolder, c.folder) << text(c.now);
    }
}

TEST(RunIntervalFolder, ARunWritesIntoItsOwnPeriodAndTheSchedulerIntoItsSlots) {
    const struct {
        TJobInterval interval;
        TDateTime nextRun, now;
        const char* folder;
    } cases[] = {
        // By hand after the start time: today's folder, not tomorrow's.
        {kIntervalDaily, at(2026, 12, 8, 8, 0), at(2026, 12, 7, 9, 0), "täglich/d_07/"},
        // Monday evening, next run next Monday: this week's folder.
        {kIntervalWeekly, at(2026, 12, 14, 8, 0), at(2026, 12, 7, 19, 0), "wöchentlich/w_50/"},
        {kIntervalWeekly, at(2026, 12, 14, 8, 0), at(2026, 12, 7, 19, 14), "wöchentlich/w_50/"},
        {kIntervalHourly, at(2026, 12, 7, 10, 30), at(2026, 12, 7, 9, 45), "stündlich/h_09/"},
        // The scheduler's run in the minute after its slot keeps the slot's folder.
        {kIntervalDaily, at(2026, 12, 7, 23, 59, 30), at(2026, 12, 8, 0, 0, 20), "täglich/d_07/"},
        {kIntervalHourly, at(2026, 12, 7, 9, 59, 50), at(2026, 12, 7, 10, 0, 40),
         "stündlich/h_09/"},
        // A minute late is no longer the slot's run.
        {kIntervalHourly, at(2026, 12, 7, 9, 59, 0), at(2026, 12, 7, 10, 0, 0), "stündlich/h_10/"},
        {kIntervalOnce, at(2026, 12, 7, 8, 0), at(2026, 12, 7, 9, 0), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(runIntervalFolder(c.interval, c.nextRun, c.now), c.folder) << text(c.now);
}

TEST_F(Schedule, DueDuringTheMinuteAfterTheScheduledMoment) {
    const TDateTime moment = at(2027, 2, 15, 8, 0);
    setNow(at(2027, 2, 11, 10, 0));
    fJob.fWeekday = 1;
    fJob.setSchedule(kIntervalWeekly, encodeTime(8, 0, 0));
    ASSERT_EQ(fJob.fNextRun, moment);

    setNow(moment - encodeTime(0, 4, 30));
    EXPECT_EQ(fJob.minutesToNextRun(), 5);
    setNow(moment);
    EXPECT_EQ(fJob.minutesToNextRun(), 1);

    fJob.fDone = true;
    setNow(moment + encodeTime(0, 0, 30));
    EXPECT_EQ(fJob.minutesToNextRun(), 0);
    EXPECT_EQ(text(fJob.fNextRun), "22.02.2027 08:00:00");
    EXPECT_FALSE(fJob.fDone);
    // Every call of that minute is due; the run moved on only once.
    fJob.fDone = true;
    setNow(moment + encodeTime(0, 0, 59));
    EXPECT_EQ(fJob.minutesToNextRun(), 0);
    EXPECT_TRUE(fJob.fDone);
    EXPECT_EQ(text(fJob.fNextRun), "22.02.2027 08:00:00");

    setNow(moment + encodeTime(0, 1, 1));
    EXPECT_EQ(fJob.minutesToNextRun(), 10079);
}

TEST_F(Schedule, AFirstCallTwoMinutesLateWaitsForTheNextPeriod) {
    setNow(at(2027, 2, 11, 6, 0));
    fJob.setSchedule(kIntervalDaily, encodeTime(8, 0, 0));
    setNow(at(2027, 2, 11, 8, 2));
    EXPECT_EQ(fJob.minutesToNextRun(), 1439);
    EXPECT_EQ(text(fJob.fNextRun), "12.02.2027 08:00:00");

    fJob.fEndTime = encodeTime(20, 0, 0);
    fJob.setSchedule(kIntervalHourly, encodeTime(8, 0, 0));
    setNow(at(2027, 2, 11, 9, 0, 30));
    EXPECT_EQ(fJob.minutesToNextRun(), 0);
    setNow(at(2027, 2, 11, 10, 2));
    EXPECT_EQ(fJob.minutesToNextRun(), 59);
}

TEST_F(Schedule, AJobRunByHandHasNoSubfolderAndIsNeverCountedDown) {
    setNow(at(2027, 2, 11, 10, 0));
    fJob.setSchedule(kIntervalDaily, encodeTime(8, 0, 0));
    fJob.setInterval(kIntervalOnce);
    EXPECT_EQ(fJob.fIntervalFolder, "");
    EXPECT_EQ(fJob.minutesToNextRun(), 0);
    fJob.setInterval(static_cast<TJobInterval>(7));  // an unknown code behaves like "once"
    EXPECT_EQ(fJob.fIntervalFolder, "");
    EXPECT_EQ(fJob.minutesToNextRun(), 0);
}

// Runs the scheduler's rule once a second over a stretch of real time in
// Berlin, with the clock derived from the UTC instant as the program's own
// clock is, and returns the local times at which the job was started.
class DaylightSaving : public Schedule {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        if (tz) fOldTz = tz;
        fHadTz = tz != nullptr;
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
    }
    void TearDown() override {
        if (fHadTz)
            setenv("TZ", fOldTz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        Schedule::TearDown();
    }

    std::vector<std::string> runsBetween(time_t from, time_t to) {
        std::vector<std::string> runs;
        for (time_t t = from; t < to; ++t) {
            setNow(dateTimeFromUnix(t));
            if (fJob.minutesToNextRun() != 0 || fJob.fDone) continue;
            runs.push_back(text(fNow));
            fJob.fDone = true;
            fJob.updateSchedule();
        }
        return runs;
    }

    static time_t utc(int year, int month, int day, int hour) {
        struct tm tm {};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = hour;
        return timegm(&tm);
    }

    std::string fOldTz;
    bool fHadTz = false;
};

TEST_F(DaylightSaving, ADailyJobKeepsItsWallClockTimeAcrossBothChanges) {
    setNow(dateTimeFromUnix(utc(2027, 3, 26, 12)));
    fJob.setSchedule(kIntervalDaily, encodeTime(8, 0, 0));
    EXPECT_EQ(runsBetween(utc(2027, 3, 26, 12), utc(2027, 3, 29, 12)),
              (std::vector<std::string>{"27.03.2027 08:00:01", "28.03.2027 08:00:01",
                                        "29.03.2027 08:00:01"}));

    setNow(dateTimeFromUnix(utc(2027, 10, 29, 12)));
    fJob.updateSchedule();
    EXPECT_EQ(runsBetween(utc(2027, 10, 29, 12), utc(2027, 11, 1, 12)),
              (std::vector<std::string>{"30.10.2027 08:00:01", "31.10.2027 08:00:01",
                                        "01.11.2027 08:00:01"}));
}

TEST_F(DaylightSaving, AnHourlyJobRunsOncePerWallClockHour) {
    // 28.03.2027: 02:00 does not exist; its slot is taken just after 03:00.
    setNow(dateTimeFromUnix(utc(2027, 3, 27, 22)));  // 23:00 local
    fJob.fEndTime = encodeTime(23, 59, 0);
    fJob.setSchedule(kIntervalHourly, encodeTime(0, 0, 0));
    const std::vector<std::string> spring = runsBetween(utc(2027, 3, 27, 23), utc(2027, 3, 28, 3));
    EXPECT_EQ(spring, (std::vector<std::string>{"28.03.2027 00:00:01", "28.03.2027 01:00:01",
                                                "28.03.2027 03:00:01", "28.03.2027 04:00:01"}));

    // 31.10.2027: the hour from 02:00 comes twice; the job does not run twice in it.
    setNow(dateTimeFromUnix(utc(2027, 10, 30, 22)));
    fJob.updateSchedule();
    const std::vector<std::string> autumn =
        runsBetween(utc(2027, 10, 30, 22), utc(2027, 10, 31, 4));
    EXPECT_EQ(autumn, (std::vector<std::string>{"31.10.2027 00:00:01", "31.10.2027 01:00:01",
                                                "31.10.2027 02:00:01", "31.10.2027 03:00:01",
                                                "31.10.2027 04:00:01"}));
}

}  // namespace
}  // namespace qvb
