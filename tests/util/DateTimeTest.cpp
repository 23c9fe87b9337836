#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

#include "util/DateTime.h"

namespace qvb {
namespace {

TEST(DateTime, DayNumbersMatchTheStoredEpoch) {
    EXPECT_DOUBLE_EQ(encodeDate(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(encodeDate(1900, 1, 1), 2.0);
    EXPECT_DOUBLE_EQ(encodeDate(2026, 12, 7), 46363.0);
    const TDateParts p = decodeDateTime(encodeDate(2026, 12, 7) + encodeTime(14, 30, 5));
    EXPECT_EQ(p.year, 2026);
    EXPECT_EQ(p.month, 12);
    EXPECT_EQ(p.day, 7);
    EXPECT_EQ(p.hour, 14);
    EXPECT_EQ(p.minute, 30);
    EXPECT_EQ(p.second, 5);
}

TEST(DateTime, FileTimesBeyondTheNanosecondRangeAreClampedInOrder) {
    const int64_t max = std::numeric_limits<int64_t>::max();
    const int64_t min = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(fileTimeNs({1, 5}), 1'000'000'005);
    EXPECT_EQ(fileTimeNs({-1, 0}), -1'000'000'000);
    EXPECT_EQ(fileTimeNs({9'223'372'035, 999'999'999}), 9'223'372'035'999'999'999);
    EXPECT_EQ(fileTimeNs({9'223'372'036, 0}), max) << "year 2262";
    EXPECT_EQ(fileTimeNs({std::numeric_limits<time_t>::max(), 0}), max);
    EXPECT_EQ(fileTimeNs({-9'223'372'036, 0}), -9'223'372'036'000'000'000);
    EXPECT_EQ(fileTimeNs({-9'223'372'037, 0}), min) << "year 1677";
    EXPECT_EQ(fileTimeNs({std::numeric_limits<time_t>::min(), 0}), min);
}

TEST(DateTime, IsoWeeksAtYearEnds) {
    EXPECT_EQ(isoWeekNumber(encodeDate(2026, 12, 31)), 53);
    EXPECT_EQ(isoWeekNumber(encodeDate(2027, 1, 1)), 53);
    EXPECT_EQ(isoWeekNumber(encodeDate(2027, 1, 4)), 1);
    EXPECT_EQ(isoWeekNumber(encodeDate(2024, 12, 30)), 1);
    EXPECT_EQ(isoDayOfWeek(encodeDate(2026, 12, 7)), 1);   // Monday
    EXPECT_EQ(isoDayOfWeek(encodeDate(2026, 12, 13)), 7);  // Sunday
}

TEST(DateTime, GermanTextRoundTrips) {
    const TDateTime t = encodeDate(2026, 12, 7) + encodeTime(14, 30, 0);
    EXPECT_EQ(formatGermanDateTime(t), "07.12.2026 14:30:00");
    EXPECT_EQ(parseGermanDateTime("07.12.2026 14:30:00"), t);
    EXPECT_EQ(parseGermanDateTime("07.12.2026"), encodeDate(2026, 12, 7));
    EXPECT_EQ(parseGermanDateTime("08:15"), encodeTime(8, 15, 0));
    EXPECT_FALSE(parseGermanDateTime("31.02.2026").has_value());
    EXPECT_FALSE(parseGermanDateTime("gestern").has_value());
    EXPECT_FALSE(parseGermanDateTime("").has_value());
    EXPECT_FALSE(parseGermanDateTime("07.12.2026 25:00").has_value());
}

TEST(DateTime, LocalTimeFollowsTheTimeZone) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    // 2026-10-25 00:30 UTC is 02:30 summer time; 01:30 UTC is 02:30 winter time.
    const TDateTime summer = dateTimeFromUnix(1792888200);
    const TDateTime winter = dateTimeFromUnix(1792891800);
    EXPECT_EQ(formatGermanDateTime(summer), "25.10.2026 02:30:00");
    EXPECT_EQ(formatGermanDateTime(winter), "25.10.2026 02:30:00");
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(DateTime, InjectedClockIsUsed) {
    setClock([] { return 1234.5; });
    EXPECT_DOUBLE_EQ(nowDateTime(), 1234.5);
    setClock({});
    EXPECT_GT(nowDateTime(), encodeDate(2020, 1, 1));
}

}  // namespace
}  // namespace qvb
