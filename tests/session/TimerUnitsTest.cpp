#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "jobs/CopyJob.h"
#include "jobs/Schedule.h"
#include "session/TimerUnits.h"
#include "support/TempDir.h"
#include "util/DateTime.h"

namespace qvb {
namespace {

std::string commandOutput(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, pipe)) out += buf;
    ::pclose(pipe);
    return out;
}

std::string stamp(TDateTime value) {
    const TDateParts p = decodeDateTime(value);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
    return buf;
}

TDateTime at(int day, int hour, int minute) {
    return encodeDate(2026, 12, day) + encodeTime(hour, minute, 0);
}

// The first `count` elapses of all calendar lines together, as systemd
// computes them from `base`.
std::vector<std::string> systemdElapses(const std::vector<std::string>& lines, TDateTime base,
                                        int count) {
    std::string command = "TZ=UTC systemd-analyze calendar --iterations=" + std::to_string(count) +
                          " --base-time='" + stamp(base) + "'";
    for (const std::string& line : lines) command += " '" + line + "'";
    const std::string out = commandOutput(command);
    std::vector<std::string> elapses;
    for (size_t pos = 0; (pos = out.find('\n', pos)) != std::string::npos;) {
        const size_t start = ++pos;
        const size_t colon = out.find(": ", start);
        const size_t end = out.find('\n', start);
        if (colon == std::string::npos || end == std::string::npos || colon > end) continue;
        const std::string label = out.substr(start, colon - start);
        if (label.find("Next elapse") == std::string::npos &&
            label.find("Iter.") == std::string::npos)
            continue;
        // "Tue 2026-12-08 22:15:00 UTC": the date and time only.
        elapses.push_back(out.substr(colon + 2 + 4, 19));
    }
    std::sort(elapses.begin(), elapses.end());
    elapses.resize(std::min<size_t>(elapses.size(), count));
    return elapses;
}

struct TScheduleCase {
    TJobInterval interval;
    TDateTime start, end;
    int weekday;
    TDateTime now;
    std::vector<std::string> lines;
    // The following elapses; the first must be the program's own next run
    // wherever the program computes one for that moment.
    std::vector<std::string> elapses;
};

TDateTime programNextRun(const TScheduleCase& c) {
    switch (c.interval) {
        case kIntervalWeekly:
            return weeklyNextRun(c.now, c.start, c.weekday);
        case kIntervalDaily:
            return dailyNextRun(c.now, c.start);
        default: {
            TDateTime start = onDayOf(c.now, c.start);
            if (c.now > onDayOf(c.now, c.end)) start += 1;
            return hourlyNextRun(c.now, start);
        }
    }
}

class TimerUnitsTest : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("TZ", "UTC", 1); }
};

TEST_F(TimerUnitsTest, CalendarFollowsTheScheduleAtEveryEdge) {
    const TDateTime t0830 = encodeTime(8, 30, 0), t1700 = encodeTime(17, 0, 0);
    const TDateTime t2215 = encodeTime(22, 15, 0), t0200 = encodeTime(2, 0, 0);
    const std::vector<TScheduleCase> cases = {
        // Daily: long before, just before and after the time of day.
        {kIntervalDaily, t0830, 0, 0, at(8, 0, 0), {"*-*-* 08:30:00"}, {"2026-12-08 08:30:00"}},
        {kIntervalDaily, t0830, 0, 0, at(8, 8, 29), {"*-*-* 08:30:00"}, {"2026-12-08 08:30:00"}},
        {kIntervalDaily, t0830, 0, 0, at(8, 9, 0), {"*-*-* 08:30:00"}, {"2026-12-09 08:30:00"}},
        // Weekly: 2026-12-08 is a Tuesday; Sunday is weekday 7.
        {kIntervalWeekly,
         t0830,
         0,
         2,
         at(8, 9, 0),
         {"Tue *-*-* 08:30:00"},
         {"2026-12-15 08:30:00"}},
        {kIntervalWeekly,
         t2215,
         0,
         7,
         at(8, 9, 0),
         {"Sun *-*-* 22:15:00"},
         {"2026-12-13 22:15:00"}},
        {kIntervalWeekly,
         t0830,
         0,
         1,
         at(8, 9, 0),
         {"Mon *-*-* 08:30:00"},
         {"2026-12-14 08:30:00"}},
        // Hourly inside, before and after the window; at 16:40 the program's
        // grid would go on to 17:30, past the window's end.
        {kIntervalHourly,
         t0830,
         t1700,
         0,
         at(8, 10, 0),
         {"*-*-* 08..16:30:00"},
         {"2026-12-08 10:30:00", "2026-12-08 11:30:00"}},
        {kIntervalHourly,
         t0830,
         t1700,
         0,
         at(8, 6, 0),
         {"*-*-* 08..16:30:00"},
         {"2026-12-08 08:30:00", "2026-12-08 09:30:00"}},
        {kIntervalHourly,
         t0830,
         t1700,
         0,
         at(8, 16, 40),
         {"*-*-* 08..16:30:00"},
         {"2026-12-09 08:30:00", "2026-12-09 09:30:00"}},
        // An end exactly on a slot keeps that slot; one slot only.
        {kIntervalHourly,
         t0830,
         encodeTime(16, 30, 0),
         0,
         at(8, 16, 0),
         {"*-*-* 08..16:30:00"},
         {"2026-12-08 16:30:00", "2026-12-09 08:30:00"}},
        {kIntervalHourly,
         t0830,
         t0830,
         0,
         at(8, 7, 0),
         {"*-*-* 08:30:00"},
         {"2026-12-08 08:30:00", "2026-12-09 08:30:00"}},
        // Across midnight: two lines, the night's slots continue after 0:00.
        {kIntervalHourly,
         t2215,
         t0200,
         0,
         at(8, 23, 0),
         {"*-*-* 22..23:15:00", "*-*-* 00..01:15:00"},
         {"2026-12-08 23:15:00", "2026-12-09 00:15:00", "2026-12-09 01:15:00",
          "2026-12-09 22:15:00"}},
        {kIntervalHourly,
         t2215,
         encodeTime(0, 10, 0),
         0,
         at(8, 23, 0),
         {"*-*-* 22..23:15:00"},
         {"2026-12-08 23:15:00", "2026-12-09 22:15:00"}},
    };
    for (const TScheduleCase& c : cases) {
        TCopyJob job;
        job.fInterval = c.interval;
        job.fStartTime = c.start;
        job.fEndTime = c.end;
        job.fWeekday = c.weekday;
        SCOPED_TRACE(c.lines.front() + " from " + stamp(c.now));
        EXPECT_EQ(calendarLines(job), c.lines);
        const auto elapses = systemdElapses(c.lines, c.now, static_cast<int>(c.elapses.size()));
        EXPECT_EQ(elapses, c.elapses);
        // Only a run inside a window that ends on its own day is the program's
        // own to compare with.
        const TDateTime next = programNextRun(c);
        const bool inWindow = c.interval != kIntervalHourly ||
                              (c.end >= c.start && timeOf(next) <= timeOf(c.end) + 1e-9);
        if (inWindow) {
            EXPECT_EQ(stamp(next), c.elapses.front());
        }
    }
    TCopyJob once;
    EXPECT_TRUE(calendarLines(once).empty());
    EXPECT_TRUE(jobUnits(once, "a1", "/p", "/s.ini", "").timer.empty());
}

TEST_F(TimerUnitsTest, WrittenUnitsPassVerification) {
    test::TempDir dir;
    TCopyJob job;
    job.fJobName = "Fotos 100% \"neu\"\nzweite Zeile";
    job.fInterval = kIntervalHourly;
    job.fStartTime = encodeTime(22, 15, 0);
    job.fEndTime = encodeTime(2, 0, 0);
    const std::string ini = dir / "mein $HOME%n.ini";
    const TJobUnits units = jobUnits(job, "4f2a", "/bin/true", ini, ini);
    EXPECT_EQ(units.baseName.rfind("qvbackup-mein__HOME_n-", 0), 0u) << units.baseName;
    EXPECT_NE(units.baseName, unitBaseName(dir / "anders/mein $HOME%n.ini", "4f2a"));
    EXPECT_NE(units.timer.find("Persistent=true\n"), std::string::npos);
    EXPECT_NE(units.service.find("Description=QV_Backup: Fotos 100%% \"neu\" zweite Zeile\n"),
              std::string::npos);
    EXPECT_NE(units.service.find("ExecStart=\"/bin/true\" --ini \"" + dir.path() +
                                 "mein $$HOME%%n.ini\" --run \"4f2a\" --unattended\n"),
              std::string::npos)
        << units.service;
    std::ofstream(dir / (units.baseName + ".timer")) << units.timer;
    std::ofstream(dir / (units.baseName + ".service")) << units.service;
    const std::string out =
        commandOutput("cd '" + dir.path() + "' && systemd-analyze verify ./" + units.baseName +
                      ".timer ./" + units.baseName + ".service; echo rc=$?");
    EXPECT_NE(out.find("rc=0"), std::string::npos) << out;
}

}  // namespace
}  // namespace qvb
