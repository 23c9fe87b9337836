#pragma once

// Keeps the systemd user units of a settings file in step with its jobs:
// every active automatic job has a timer and a service while the option
// "Hintergrund" is on, no other unit of the settings file stays.

#include <string>
#include <vector>

namespace qvb {

class TSession;

// $XDG_CONFIG_HOME/systemd/user/, else ~/.config/systemd/user/.
std::string userUnitFolder();

struct TTimerSync {
    std::vector<std::string> report;  // German, one line per unit file written or removed
    std::string error;                // German; the files may have been written all the same
    bool managerReached = true;
};

// Gives every job without an identifier (or with one another job has) a new
// one and stores it, writes, updates and removes the unit files in
// `unitFolder` and tells the user's service manager through `systemctl
// --user`. `program`: what the services start.
TTimerSync syncTimers(TSession& session, const std::string& unitFolder, const std::string& program);

}  // namespace qvb
