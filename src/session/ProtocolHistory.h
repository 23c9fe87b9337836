#pragma once

// The protocols of earlier runs: each run's own lines kept as a file of its
// own in the data folder, one folder per settings file, so that an error of a
// run nobody watched is still there to read after later runs. The names start
// with the run's start time, so name order is time order.

#include <span>
#include <string>
#include <vector>

#include "util/DateTime.h"

namespace qvb {

class TCopyIt;
class TCopyJob;
class TCopyStatistics;

inline constexpr int kHistoryKept = 200;

// "Protokolle/<settings file's name>-<mark of its path>/" in `dataFolder`:
// two settings files of the same name in different folders keep apart.
std::string historyFolderFor(const std::string& dataFolder, const std::string& settingsFile);
// "2026-12-08_05-30-12_Job01_Fotos.log": nothing of the job's name can leave
// the folder or make a name the listing would not take.
std::string historyFileName(TDateTime start, const std::string& jobKey, const std::string& jobName);

// How a run ended, in the words the history, the listing and the
// notifications use: "erfolgreich", "Warnungen", "Fehler", "abgebrochen".
std::string runVerdict(const TCopyIt& run);
bool verdictNeedsAttention(const std::string& verdict);

struct THistoryEntry {
    std::string path;
    TDateTime start = 0;
    std::string jobKey;
    std::string jobName;
    std::string verdict;  // empty when the file has no closing line
    bool restore = false;  // a restore from the job's backup, not a run of it
    int errors = 0;
    int warnings = 0;
    int copied = 0;
    int deleted = 0;
};

// Saves `lines` and a closing line with the job, verdict and counts as a new
// file in `folder` (created when missing), then removes the oldest files
// beyond `keep`; the new file's path, empty when it could not be written.
std::string keepRunProtocol(const std::string& folder, TDateTime start, const TCopyJob& job,
                            std::span<const std::string> lines, int keep = kHistoryKept);
// The same for a restore from `job`'s backup: its closing line says so
// ("Ergebnis von Wiederherstellung aus Backup-Job01 ...").
std::string keepRestoreProtocol(const std::string& folder, TDateTime start, const TCopyJob& job,
                                const std::string& verdict, const TCopyStatistics& stats,
                                std::span<const std::string> lines, int keep = kHistoryKept);
// The kept runs, oldest first; other files in the folder are left out.
std::vector<THistoryEntry> listHistory(const std::string& folder);
// The text of a kept run's protocol, or the German reason in `error` why it
// cannot be read (removed meanwhile, no right to read it).
std::string readKeptProtocol(const std::string& path, std::string& error);
// Whether `file` names a kept run in `folder`, by any spelling of the
// folder: a name handed in from outside must open no other file.
bool isKeptProtocolOf(const std::string& folder, const std::string& file);
// One line per entry, fields separated by tabs: start, key, name, verdict
// (a restore's as "Wiederherstellung: Fehler"), errors, warnings, copied,
// deleted, file.
std::string historyListText(const std::vector<THistoryEntry>& entries);

}  // namespace qvb
