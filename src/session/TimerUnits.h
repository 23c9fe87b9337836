#pragma once

// The systemd user units that run an automatic job while no window is open:
// a timer whose calendar follows the job's schedule and catches up one run
// missed while the computer was off, and a service that starts the program
// on the job without asking anybody.

#include <string>
#include <vector>

namespace qvb {

class TCopyJob;

// The timer's OnCalendar= values for the job's interval: daily at its time,
// weekly on its weekday, hourly at its minute in each hour from its start to
// its end time (a window across midnight gives two values). Empty for a job
// that runs by hand only.
std::vector<std::string> calendarLines(const TCopyJob& job);

// "qvbackup-<settings name>-<hash of its path>-<job id>", without suffix;
// the hash keeps two settings files of the same name apart.
std::string unitBaseName(const std::string& settingsFile, const std::string& jobId);

// One word of a unit's command line: quoted, with what systemd would expand
// (% and $) doubled and control characters escaped.
std::string execWord(const std::string& word);

struct TJobUnits {
    std::string baseName;
    std::string timer;
    std::string service;
};

// `program`: the executable the service starts; `iniFile`: the absolute INI
// file the settings live in, empty for the program's own store. Empty units
// for a job that runs by hand only.
TJobUnits jobUnits(const TCopyJob& job, const std::string& jobId, const std::string& program,
                   const std::string& settingsFile, const std::string& iniFile);

// The path of the running program, so that a unit starts the very build that
// wrote it.
std::string ownProgramPath();

}  // namespace qvb
