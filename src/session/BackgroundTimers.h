#pragma once

// Keeps the systemd user units of a settings file in step with its jobs:
// every active automatic job has a timer and a service while the option
// "Hintergrund" is on, no other unit of the settings file stays.

#include <set>
#include <string>
#include <vector>

namespace qvb {

class TCopyJob;
class TCopyJobList;
class TSession;

// $XDG_CONFIG_HOME/systemd/user/, else ~/.config/systemd/user/.
std::string userUnitFolder();

// Files written, but the user's service manager was not told.
inline const std::string kManagerUnreachable =
    "Der Dienstverwalter des Benutzers ist nicht erreichbar (systemctl --user): die "
    "Timer-Dateien sind geschrieben, aber nicht aktiviert.";

struct TTimerSync {
    std::vector<std::string> report;  // German, one line per unit file written or removed
    std::string error;                // German; the files may have been written all the same
    bool managerReached = true;
};

// Always: also when no file changed, so that a call after the manager was
// unreachable enables what was written then. OnChange: only when a unit file
// was written or removed.
enum class TTellManager { Always, OnChange };

// Gives every job without an identifier (or with one another job has) a new
// one and stores it, writes, updates and removes the unit files in
// `unitFolder` and tells the user's service manager through `systemctl
// --user`. `program`: what the services start.
TTimerSync syncTimers(TSession& session, const std::string& unitFolder, const std::string& program,
                      TTellManager tell = TTellManager::Always);

// Gives every job without an identifier (or with one another job has) a new
// one, in memory only; the jobs that got one.
std::vector<TCopyJob*> giveMissingJobIds(TCopyJobList& jobs);

// Whether `systemctl --user` reaches the user's service manager.
bool userManagerReachable();

// The identifiers of the jobs whose timer lies in `unitFolder`.
std::set<std::string> jobIdsWithTimers(TSession& session, const std::string& unitFolder);

// Why automatic jobs cannot run while the window is closed here, and a cron
// line that runs `job` (its name, when given) every evening instead.
std::string cronAdvice(TSession& session, const TCopyJob* job, const std::string& program);

}  // namespace qvb
