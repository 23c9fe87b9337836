#pragma once

// A run without a window ends long before the user could click its
// notification. Where the desktop offers actions, a small process of the
// program's own is left behind to wait for that click and then open the
// run's kept protocol; it ends with the notification, with the desktop's
// session, or after a few hours.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvb {

// Longer than a working day is not worth a waiting process.
inline constexpr int kNoticeWaitMs = 8 * 3600 * 1000;

using TCommandRunner = std::function<bool(const std::vector<std::string>& command)>;

// The hidden command line of the waiter, and what a click on notification
// `id` starts: the program on the same settings showing `historyFile`.
std::vector<std::string> noticeWaiterCommand(const std::string& program,
                                             const std::string& settingsFile, uint32_t id,
                                             const std::string& historyFile);
std::vector<std::string> showProtocolCommand(const std::string& program,
                                             const std::string& settingsFile,
                                             const std::string& historyFile);

// Starts `command` as a process of its own, detached from this one and from
// its standard streams (whoever reads this process's output must not wait
// for the waiter); false when it could not be started.
bool startDetached(const std::vector<std::string>& command);

// Waits for the user's answer to notification `id`: its action "default"
// hands `command` to `run` and ends the wait; its closing, the notification
// service or the session bus going away, and `limitMs` end it as well.
// Whether the command was run.
bool awaitNoticeAction(uint32_t id, const std::vector<std::string>& command, int limitMs,
                       const TCommandRunner& run);

}  // namespace qvb
