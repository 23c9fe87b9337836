#pragma once

// Date-time values as the program stores and shows them: days since
// 1899-12-30 in local time, the time of day as the fraction (one second is
// 1/86400). Decisions about which file is newer never use these; they compare
// the file system's UTC times (see engine/FileTime.h).

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

namespace qvb {

using TDateTime = double;

inline constexpr double kSecondsPerDay = 86400.0;
inline constexpr double kOneSecond = 1.0 / kSecondsPerDay;
inline constexpr double kOneMinute = 1.0 / 1440.0;
inline constexpr double kOneHour = 1.0 / 24.0;

struct TDateParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// The clock that all "now" of the program comes from; tests set a fixed one.
using TClock = std::function<TDateTime()>;
TDateTime nowDateTime();
void setClock(TClock clock);  // an empty clock restores the system clock

TDateTime encodeDate(int year, int month, int day);
TDateTime encodeTime(int hour, int minute, int second, int millisecond = 0);
TDateTime encodeDateTime(const TDateParts& parts);
TDateParts decodeDateTime(TDateTime value);

// The whole-day part and the time-of-day part of a value.
TDateTime dateOf(TDateTime value);
TDateTime timeOf(TDateTime value);

// 1 = Monday ... 7 = Sunday.
int isoDayOfWeek(TDateTime value);
// ISO 8601 week number, 1..53.
int isoWeekNumber(TDateTime value);

// Local wall time of a UTC instant, and back.
TDateTime dateTimeFromUnix(time_t seconds, long nanoseconds = 0);
// A file time as UTC nanoseconds since 1970. Times before 1677 or after 2262
// do not fit and are clamped to the nearest value that does, so that they
// still compare in their order with every other time.
int64_t fileTimeNs(const struct timespec& time);
struct timespec unixFromDateTime(TDateTime value);

// "07.12.2026 14:30:00", "07.12.2026", "14:30:00" whatever the locale.
std::string formatGermanDateTime(TDateTime value);
std::string formatGermanDate(TDateTime value);
std::string formatGermanTime(TDateTime value);
// Reads "dd.MM.yyyy HH:mm:ss", "dd.MM.yyyy" or "HH:mm:ss" (seconds optional).
std::optional<TDateTime> parseGermanDateTime(const std::string& text);

}  // namespace qvb
