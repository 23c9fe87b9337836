#include "session/ProtocolHistory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <regex>
#include <utility>

#include "jobs/CopyJob.h"
#include "runcontrol/Protocol.h"
#include "util/EscapedText.h"
#include "util/QV_Basics.h"
#include "util/Sys.h"

namespace qvb {

namespace {

// Long names are cut, at a character's first byte, so file names stay well
// below the file system's limit.
constexpr size_t kNamePartLimit = 80;
// The closing line is the last of the file; this much of the end holds it.
constexpr off_t kTailBytes = 8192;

const std::regex& historyNamePattern() {
    static const std::regex pattern(R"(^(\d{4})-(\d\d)-(\d\d)_(\d\d)-(\d\d)-(\d\d)_.*\.log$)");
    return pattern;
}

const std::regex& closingLinePattern() {
    static const std::regex pattern(
        R"re(^Ergebnis von (Wiederherstellung aus )?Backup-(\S*) "(.*)": ([^;]+); (\d+) Fehler, (\d+) Warnungen, (\d+) kopiert, (\d+) gelöscht$)re");
    return pattern;
}

std::string fileNamePart(const std::string& text) {
    std::string part;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        part += byte < 0x20 || byte == 0x7f || c == '/' ? '_' : c;
    }
    if (part.size() > kNamePartLimit) {
        size_t cut = kNamePartLimit;
        while (cut > 0 && (static_cast<unsigned char>(part[cut]) & 0xC0) == 0x80) --cut;
        part.resize(cut);
    }
    return part;
}

uint32_t pathMark(const std::string& path) {
    uint32_t hash = 2166136261u;
    for (const char c : path) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return hash;
}

std::vector<std::string> historyFiles(const std::string& folder) {
    std::vector<std::string> names;
    sys::DirStream dir(sys::opendir(folder.c_str()));
    if (!dir.get()) return names;
    while (const dirent* entry = sys::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (std::regex_match(name, historyNamePattern())) names.push_back(name);
    }
    // By start (the head of the name), and within one second in the order
    // the runs were kept: a second run's "-2" must not sort before the
    // first's ".log", nor "-10" before "-2".
    const auto keptOrder = [](const std::string& name) {
        static const std::regex numbered(R"(-(\d{1,9})\.log$)");
        std::smatch number;
        const bool second = std::regex_search(name, number, numbered);
        return std::pair(
            second ? name.substr(0, number.position(0)) : name.substr(0, name.size() - 4),
            second ? std::stoi(number[1]) : 1);
    };
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return keptOrder(a) < keptOrder(b);
    });
    return names;
}

std::string lastLineOf(const std::string& path) {
    sys::UniqueFd fd(sys::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.valid()) return {};
    const off_t size = sys::lseek(fd.get(), 0, SEEK_END);
    if (size <= 0) return {};
    const off_t from = std::max<off_t>(0, size - kTailBytes);
    if (sys::lseek(fd.get(), from, SEEK_SET) != from) return {};
    std::string tail(static_cast<size_t>(size - from), '\0');
    size_t done = 0;
    while (done < tail.size()) {
        const ssize_t n = sys::read(fd.get(), tail.data() + done, tail.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    tail.resize(done);
    while (!tail.empty() && tail.back() == '\n') tail.pop_back();
    const size_t newline = tail.rfind('\n');
    return newline == std::string::npos ? tail : tail.substr(newline + 1);
}

constexpr const char* kRestoreOf = "Wiederherstellung aus ";

std::string keepProtocol(const std::string& folder, TDateTime start, const TCopyJob& job,
                         bool restore, const std::string& verdict, const TCopyStatistics& stats,
                         std::span<const std::string> lines, int keep);

std::string twoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

}  // namespace

std::string historyFolderFor(const std::string& dataFolder, const std::string& settingsFile) {
    std::string name = extractFileName(settingsFile);
    name.erase(0, name.find_first_not_of('.'));
    char mark[16];
    std::snprintf(mark, sizeof mark, "%08x", pathMark(settingsFile));
    return includeTrailingDelimiter(dataFolder) + "Protokolle/" + fileNamePart(name) + "-" + mark +
           "/";
}

std::string historyFileName(TDateTime start, const std::string& jobKey,
                            const std::string& jobName) {
    const TDateParts p = decodeDateTime(start);
    std::string name = std::to_string(p.year) + "-" + twoDigits(p.month) + "-" + twoDigits(p.day) +
                       "_" + twoDigits(p.hour) + "-" + twoDigits(p.minute) + "-" +
                       twoDigits(p.second) + "_" + fileNamePart(jobKey);
    if (!jobName.empty()) name += "_" + fileNamePart(jobName);
    return name + ".log";
}

std::string runVerdict(const TCopyIt& run) {
    if (run.fStatus == csCancelled) return "abgebrochen";
    if (run.fStatus == csError || run.fStatistics.fErrors > 0) return "Fehler";
    if (run.fStatus == csWarnings || run.fStatistics.fWarnings > 0) return "Warnungen";
    return run.fStatus == csDone ? "erfolgreich" : "Fehler";
}

bool verdictNeedsAttention(const std::string& verdict) {
    return verdict != "erfolgreich";
}

std::string keepRunProtocol(const std::string& folder, TDateTime start, const TCopyJob& job,
                            std::span<const std::string> lines, int keep) {
    return keepProtocol(folder, start, job, false, runVerdict(job), job.fStatistics, lines, keep);
}

std::string keepRestoreProtocol(const std::string& folder, TDateTime start, const TCopyJob& job,
                                const std::string& verdict, const TCopyStatistics& stats,
                                std::span<const std::string> lines, int keep) {
    return keepProtocol(folder, start, job, true, verdict, stats, lines, keep);
}

namespace {

std::string keepProtocol(const std::string& folder, TDateTime start, const TCopyJob& job,
                         bool restore, const std::string& verdict, const TCopyStatistics& stats,
                         std::span<const std::string> lines, int keep) {
    if (!isDirectory(folder) && !forceDirectories(folder)) return {};
    const std::string closing =
        std::string("Ergebnis von ") + (restore ? kRestoreOf : "") + "Backup-" +
        escapeControls(job.fJobKey) + " \"" + escapeControls(job.fJobName) + "\": " + verdict +
        "; " + std::to_string(stats.fErrors) + " Fehler, " + std::to_string(stats.fWarnings) +
        " Warnungen, " + std::to_string(stats.fAdded + stats.fReplaced) + " kopiert, " +
        std::to_string(stats.fDeleted) + " gelöscht";
    const std::string name = historyFileName(start, job.fJobKey, job.fJobName);
    std::string path = folder + name;
    // A second run of the job within the same second gets a name of its own.
    struct stat st {};
    for (int n = 2; sys::lstat(path.c_str(), &st) == 0; ++n)
        path = folder + name.substr(0, name.size() - 4) + "-" + std::to_string(n) + ".log";
    if (!saveLinesToFile({lines, {&closing, 1}}, path)) return {};
    const std::vector<std::string> files = historyFiles(folder);
    const size_t surplus = files.size() > static_cast<size_t>(std::max(keep, 1))
                               ? files.size() - static_cast<size_t>(std::max(keep, 1))
                               : 0;
    for (size_t i = 0; i < surplus; ++i) sys::unlink((folder + files[i]).c_str());
    return path;
}

}  // namespace

std::vector<THistoryEntry> listHistory(const std::string& folder) {
    std::vector<THistoryEntry> entries;
    for (const std::string& name : historyFiles(folder)) {
        std::smatch time;
        std::regex_match(name, time, historyNamePattern());
        TDateParts parts;
        parts.year = std::stoi(time[1]);
        parts.month = std::stoi(time[2]);
        parts.day = std::stoi(time[3]);
        parts.hour = std::stoi(time[4]);
        parts.minute = std::stoi(time[5]);
        parts.second = std::stoi(time[6]);
        THistoryEntry entry;
        entry.path = includeTrailingDelimiter(folder) + name;
        entry.start = encodeDateTime(parts);
        const std::string last = lastLineOf(entry.path);
        std::smatch closing;
        if (std::regex_match(last, closing, closingLinePattern())) {
            entry.restore = closing[1].matched;
            entry.jobKey = closing[2];
            entry.jobName = closing[3];
            entry.verdict = closing[4];
            entry.errors = std::stoi(closing[5]);
            entry.warnings = std::stoi(closing[6]);
            entry.copied = std::stoi(closing[7]);
            entry.deleted = std::stoi(closing[8]);
        } else {
            // Not written by a run: the name still tells the time and the key.
            const std::string rest = name.substr(20, name.size() - 24);
            entry.jobKey = rest.substr(0, rest.find('_'));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string readKeptProtocol(const std::string& path, std::string& error) {
    sys::UniqueFd fd(sys::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    std::string text;
    char chunk[65536];
    ssize_t n = 0;
    while (fd.valid() && (n = sys::read(fd.get(), chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(n));
    if (!fd.valid() || n < 0) {
        error = "Das Protokoll \"" + escapeControls(path) +
                "\" kann nicht gelesen werden: " + sys::errorText(errno);
        return {};
    }
    // Written with the line ends of the protocol file.
    std::erase(text, '\r');
    return text;
}

bool isKeptProtocolOf(const std::string& folder, const std::string& file) {
    const std::string name = extractFileName(file);
    std::string parent = extractFilePath(file);
    if (parent.empty()) parent = "./";
    struct stat inFolder {};
    struct stat kept {};
    struct stat entry {};
    return std::regex_match(name, historyNamePattern()) && sys::stat(folder.c_str(), &kept) == 0 &&
           sys::stat(parent.c_str(), &inFolder) == 0 && kept.st_dev == inFolder.st_dev &&
           kept.st_ino == inFolder.st_ino && sys::lstat(file.c_str(), &entry) == 0 &&
           S_ISREG(entry.st_mode);
}

std::string historyListText(const std::vector<THistoryEntry>& entries) {
    std::string text;
    for (const THistoryEntry& e : entries)
        text += formatGermanDateTime(e.start) + '\t' + e.jobKey + '\t' + e.jobName + '\t' +
                (e.restore ? "Wiederherstellung: " : "") + e.verdict + '\t' +
                std::to_string(e.errors) + '\t' + std::to_string(e.warnings) + '\t' +
                std::to_string(e.copied) + '\t' + std::to_string(e.deleted) + '\t' +
                escapeControls(e.path) + '\n';
    return text;
}

}  // namespace qvb
