#include "util/DateTime.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

namespace qvb {

namespace {

// Days from 1970-01-01 for a proleptic Gregorian date (H. Hinnant's algorithm).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

// 1899-12-30 counted from 1970-01-01.
constexpr long long kEpochOffsetDays = -25569;

TClock& clockSource() {
    static TClock clock;
    return clock;
}

TDateTime systemNow() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return dateTimeFromUnix(ts.tv_sec, ts.tv_nsec);
}

// Milliseconds of the day, rounded, so that 0.9999999 of a second does not
// show as the second before.
long long totalMilliseconds(TDateTime value) {
    return std::llround(value * kSecondsPerDay * 1000.0);
}

}  // namespace

TDateTime nowDateTime() {
    const TClock& c = clockSource();
    return c ? c() : systemNow();
}

void setClock(TClock clock) {
    clockSource() = std::move(clock);
}

TDateTime encodeDate(int year, int month, int day) {
    return static_cast<TDateTime>(
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
        kEpochOffsetDays);
}

TDateTime encodeTime(int hour, int minute, int second, int millisecond) {
    return (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) /
           (kSecondsPerDay * 1000.0);
}

TDateTime encodeDateTime(const TDateParts& p) {
    return encodeDate(p.year, p.month, p.day) +
           encodeTime(p.hour, p.minute, p.second, p.millisecond);
}

TDateParts decodeDateTime(TDateTime value) {
    const long long ms = totalMilliseconds(value);
    long long days = ms / 86400000;
    long long rest = ms % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    TDateParts p;
    civilFromDays(days + kEpochOffsetDays, p.year, p.month, p.day);
    p.hour = static_cast<int>(rest / 3600000);
    p.minute = static_cast<int>(rest / 60000 % 60);
    p.second = static_cast<int>(rest / 1000 % 60);
    p.millisecond = static_cast<int>(rest % 1000);
    return p;
}

TDateTime dateOf(TDateTime value) {
    const TDateParts p = decodeDateTime(value);
    return encodeDate(p.year, p.month, p.day);
}

TDateTime timeOf(TDateTime value) {
    const TDateParts p = decodeDateTime(value);
    return encodeTime(p.hour, p.minute, p.second, p.millisecond);
}

int isoDayOfWeek(TDateTime value) {
    const TDateParts p = decodeDateTime(value);
    const long long days =
        daysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day));
    // 1970-01-01 was a Thursday (4).
    long long wd = (days + 3) % 7;
    if (wd < 0) wd += 7;
    return static_cast<int>(wd) + 1;
}

int isoWeekNumber(TDateTime value) {
    const TDateTime day = dateOf(value);
    // The week belongs to the year of its Thursday.
    const TDateTime thursday = day + (4 - isoDayOfWeek(day));
    const int year = decodeDateTime(thursday).year;
    const TDateTime firstOfYear = encodeDate(year, 1, 1);
    return static_cast<int>((thursday - firstOfYear) / 7) + 1;
}

int64_t fileTimeNs(const struct timespec& time) {
    constexpr int64_t kPerSecond = 1'000'000'000;
    constexpr int64_t kLatest = std::numeric_limits<int64_t>::max() / kPerSecond - 1;
    constexpr int64_t kEarliest = std::numeric_limits<int64_t>::min() / kPerSecond;
    if (time.tv_sec > kLatest) return std::numeric_limits<int64_t>::max();
    if (time.tv_sec < kEarliest) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(time.tv_sec) * kPerSecond + time.tv_nsec;
}

TDateTime dateTimeFromUnix(time_t seconds, long nanoseconds) {
    struct tm local {};
    localtime_r(&seconds, &local);
    const TDateTime date = encodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    const double secondsOfDay = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec +
                                static_cast<double>(nanoseconds) / 1e9;
    return date + secondsOfDay / kSecondsPerDay;
}

struct timespec unixFromDateTime(TDateTime value) {
    const TDateParts p = decodeDateTime(value);
    struct tm local {};
    local.tm_year = p.year - 1900;
    local.tm_mon = p.month - 1;
    local.tm_mday = p.day;
    local.tm_hour = p.hour;
    local.tm_min = p.minute;
    local.tm_sec = p.second;
    local.tm_isdst = -1;
    struct timespec ts {};
    ts.tv_sec = mktime(&local);
    ts.tv_nsec = static_cast<long>(p.millisecond) * 1000000L;
    return ts;
}

std::string formatGermanDate(TDateTime value) {
    const TDateParts p = decodeDateTime(value);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", p.day, p.month, p.year);
    return buf;
}

std::string formatGermanTime(TDateTime value) {
    const TDateParts p = decodeDateTime(value);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    return buf;
}

std::string formatGermanDateTime(TDateTime value) {
    return formatGermanDate(value) + " " + formatGermanTime(value);
}

std::optional<TDateTime> parseGermanDateTime(const std::string& text) {
    int d = 0, mo = 0, y = 0, h = 0, mi = 0, s = 0;
    int used = 0;
    TDateTime result = 0;
    const char* rest = text.c_str();
    while (*rest == ' ') ++rest;
    bool hasDate = false;
    if (std::sscanf(rest, "%2d.%2d.%4d%n", &d, &mo, &y, &used) == 3) {
        if (mo < 1 || mo > 12 || d < 1 || d > 31 || y < 1) return std::nullopt;
        const TDateTime date = encodeDate(y, mo, d);
        if (decodeDateTime(date).day != d) return std::nullopt;  // 31.02. and the like
        result = date;
        rest += used;
        hasDate = true;
        while (*rest == ' ') ++rest;
    }
    if (*rest != '\0') {
        used = 0;
        const int n = std::sscanf(rest, "%2d:%2d%n:%2d%n", &h, &mi, &used, &s, &used);
        if (n < 2 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59) return std::nullopt;
        rest += used;
        while (*rest == ' ') ++rest;
        if (*rest != '\0') return std::nullopt;
        result += encodeTime(h, mi, n == 3 ? s : 0);
    } else if (!hasDate) {
        return std::nullopt;
    }
    return result;
}

}  // namespace qvb
