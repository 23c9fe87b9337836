#include "jobs/Schedule.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace qvb {

namespace {

constexpr int64_t kMinuteMs = 60 * 1000;
constexpr int64_t kHourMs = 60 * kMinuteMs;
constexpr int64_t kDayMs = 24 * kHourMs;

int64_t toMs(TDateTime value) {
    return std::llround(value * static_cast<double>(kDayMs));
}
TDateTime fromMs(int64_t ms) {
    return static_cast<double>(ms) / static_cast<double>(kDayMs);
}

int64_t dateMs(int64_t ms) {
    int64_t days = ms / kDayMs;
    if (ms % kDayMs < 0) --days;
    return days * kDayMs;
}

int64_t timeOfDayMs(int64_t ms) {
    return ms - dateMs(ms);
}

// The date of `now` a week ago at the time of day of `startTime`: every search
// starts there and steps forward.
int64_t searchStart(int64_t now, TDateTime startTime) {
    return dateMs(now) - 7 * kDayMs + timeOfDayMs(toMs(startTime));
}

std::string twoDigits(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", n);
    return buf;
}

}  // namespace

int64_t periodMilliseconds(TJobInterval interval) {
    switch (interval) {
        case kIntervalWeekly:
            return 7 * kDayMs;
        case kIntervalDaily:
            return kDayMs;
        case kIntervalHourly:
            return kHourMs;
        default:
            return 0;
    }
}

TDateTime onDayOf(TDateTime day, TDateTime time) {
    return fromMs(dateMs(toMs(day)) + timeOfDayMs(toMs(time)));
}

TDateTime weeklyNextRun(TDateTime now, TDateTime startTime, int weekday) {
    const int64_t nowMs = toMs(now);
    int64_t next = searchStart(nowMs, startTime) + (weekday - isoDayOfWeek(now)) * kDayMs;
    while (next < nowMs) next += 7 * kDayMs;
    return fromMs(next);
}

TDateTime dailyNextRun(TDateTime now, TDateTime startTime) {
    const int64_t nowMs = toMs(now);
    int64_t next = searchStart(nowMs, startTime);
    while (next < nowMs) next += kDayMs;
    return fromMs(next);
}

TDateTime hourlyNextRun(TDateTime now, TDateTime startTime) {
    const int64_t nowMs = toMs(now);
    int64_t next = searchStart(nowMs, startTime);
    while (next < nowMs) next += kHourMs;
    const int64_t notBefore = toMs(startTime) - kMinuteMs;
    while (notBefore > next) next += kHourMs;
    return fromMs(next);
}

std::string intervalFolderFor(TJobInterval interval, TDateTime nextRun) {
    switch (interval) {
        case kIntervalWeekly:
            return "wöchentlich/w_" + twoDigits(isoWeekNumber(nextRun)) + "/";
        case kIntervalDaily:
            return "täglich/d_" + twoDigits(decodeDateTime(nextRun).day) + "/";
        case kIntervalHourly:
            return "stündlich/h_" + twoDigits(decodeDateTime(nextRun).hour) + "/";
        default:
            return {};
    }
}

std::string runIntervalFolder(TJobInterval interval, TDateTime nextRun, TDateTime now) {
    const int64_t sinceSlot = toMs(now) - toMs(nextRun);
    const bool atSlot = sinceSlot >= 0 && sinceSlot < 60'000;
    return intervalFolderFor(interval, atSlot ? nextRun : now);
}

int32_t minutesUntilRun(TJobInterval interval, TDateTime& nextRun, TDateTime now, bool& movedOn) {
    movedOn = false;
    const int64_t period = periodMilliseconds(interval);
    if (period == 0) return 0;
    const int64_t nowMs = toMs(now);
    int64_t next = toMs(nextRun);
    if (next < nowMs) {
        next += period;
        nextRun = fromMs(next);
        movedOn = true;
    }
    int64_t minutes = std::llabs(next - nowMs) / kMinuteMs + 1;
    if (minutes == period / kMinuteMs) minutes = 0;
    return static_cast<int32_t>(std::min<int64_t>(minutes, std::numeric_limits<int32_t>::max()));
}

TDateTime skipMissedSlots(TJobInterval interval, TDateTime nextRun, TDateTime now) {
    const int64_t period = periodMilliseconds(interval);
    const int64_t next = toMs(nextRun);
    const int64_t nowMs = toMs(now);
    if (period == 0 || next + period >= nowMs) return nextRun;
    return fromMs(next + (nowMs - next - 1) / period * period);
}

}  // namespace qvb
