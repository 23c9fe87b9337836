#include "session/TimerUnits.h"

#include <unistd.h>

#include <cstdio>

#include "jobs/CopyJob.h"
#include "util/DateTime.h"

namespace qvb {

namespace {

struct TClockTime {
    int hour, minute, second;
};

TClockTime clockTime(TDateTime value) {
    const TDateParts parts = decodeDateTime(value);
    return {parts.hour, parts.minute, parts.second};
}

std::string twoDigits(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", n);
    return buf;
}

std::string minuteAndSecond(const TClockTime& t) {
    return ":" + twoDigits(t.minute) + ":" + twoDigits(t.second);
}

std::string hourRange(int first, int last) {
    return first == last ? twoDigits(first) : twoDigits(first) + ".." + twoDigits(last);
}

int secondsOfDay(const TClockTime& t) {
    return (t.hour * 60 + t.minute) * 60 + t.second;
}

// The last hour whose slot (at the start's minute) is not after `end`; -1
// when even the slot of hour 0 is.
int lastSlotHour(const TClockTime& start, const TClockTime& end) {
    const TClockTime slot{end.hour, start.minute, start.second};
    return secondsOfDay(slot) <= secondsOfDay(end) ? end.hour : end.hour - 1;
}

std::vector<std::string> hourlyLines(const TClockTime& start, const TClockTime& end) {
    const std::string tail = minuteAndSecond(start);
    const int last = lastSlotHour(start, end);
    if (secondsOfDay(end) >= secondsOfDay(start))
        return {"*-*-* " + hourRange(start.hour, last) + tail};
    std::vector<std::string> lines{"*-*-* " + hourRange(start.hour, 23) + tail};
    if (last >= 0) lines.push_back("*-*-* " + hourRange(0, last) + tail);
    return lines;
}

// A job name in a Description= line: one line, nothing systemd expands.
std::string describedName(const std::string& name) {
    std::string out;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            out += ' ';
        else if (c == '%')
            out += "%%";
        else
            out += c;
    }
    return out;
}

std::string safeNamePart(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        out += plain ? c : '_';
    }
    return out;
}

std::string pathHash(const std::string& path) {
    uint32_t hash = 2166136261u;
    for (const char c : path) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", hash);
    return buf;
}

}  // namespace

std::vector<std::string> calendarLines(const TCopyJob& job) {
    static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    const TClockTime start = clockTime(job.fStartTime);
    const std::string time = " " + twoDigits(start.hour) + minuteAndSecond(start);
    switch (job.fInterval) {
        case kIntervalDaily:
            return {"*-*-*" + time};
        case kIntervalWeekly:
            if (job.fWeekday < 1 || job.fWeekday > 7) return {};
            return {std::string(kDays[job.fWeekday - 1]) + " *-*-*" + time};
        case kIntervalHourly:
            return hourlyLines(start, clockTime(job.fEndTime));
        default:
            return {};
    }
}

std::string unitBaseName(const std::string& settingsFile, const std::string& jobId) {
    const size_t slash = settingsFile.rfind('/');
    std::string name = settingsFile.substr(slash == std::string::npos ? 0 : slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return "qvbackup-" + safeNamePart(name) + "-" + pathHash(settingsFile) + "-" +
           safeNamePart(jobId);
}

std::string execWord(const std::string& word) {
    std::string out = "\"";
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '%' || c == '$') {
            out += std::string(2, c);
        } else if (byte < 0x20 || byte == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", byte);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

TJobUnits jobUnits(const TCopyJob& job, const std::string& jobId, const std::string& program,
                   const std::string& settingsFile, const std::string& iniFile) {
    const std::vector<std::string> lines = calendarLines(job);
    if (lines.empty()) return {};
    TJobUnits units;
    units.baseName = unitBaseName(settingsFile, jobId);
    const std::string unit = "[Unit]\nDescription=QV_Backup: " + describedName(job.fJobName) + "\n";
    units.timer = unit + "\n[Timer]\n";
    for (const std::string& line : lines) units.timer += "OnCalendar=" + line + "\n";
    units.timer += "Persistent=true\n\n[Install]\nWantedBy=timers.target\n";
    std::string command = execWord(program);
    if (!iniFile.empty()) command += " --ini " + execWord(iniFile);
    command += " --run " + execWord(jobId) + " --unattended";
    // KillMode=process: the run's end must not take the process it left to
    // wait for a click on its notification.
    units.service =
        unit + "\n[Service]\nType=oneshot\nKillMode=process\nExecStart=" + command + "\n";
    return units;
}

std::string ownProgramPath() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    path.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return path;
}

}  // namespace qvb
