#pragma once

// What the program tells the desktop over D-Bus: logind keeps the computer
// awake while a run writes, and the notification service shows the end of a
// run nobody watched. Both may be missing (no logind in a container, no
// desktop for a background timer): then nothing happens but a trace line.
// The D-Bus side is a module loaded by the first call (DesktopBusModule.h);
// without it, all is as without a bus.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "util/Sys.h"

namespace qvb {

// The icon name of the installed program.
inline const std::string kProgramIcon = "de.nerk.QV_Backup";

// logind's "sleep" inhibitor in the mode "block": it lasts as long as the
// descriptor logind hands over, so the kernel lets go of it however the
// program ends.
class TSleepInhibitor {
  public:
    // Empty when the inhibitor is held, else the German reason why not.
    std::string acquire();
    void release() { fLock.reset(); }
    bool held() const { return fLock.valid(); }

  private:
    sys::UniqueFd fLock;
};

// A button on a notification. The key "default" is also a click on the
// notification's body where the desktop has no buttons.
struct TNoticeAction {
    std::string key;
    std::string label;
};

// The action that opens a run's kept protocol.
inline const TNoticeAction kShowProtocolAction{"default", "Protokoll anzeigen"};

struct TNotice {
    std::string summary;
    std::string body;
    // Sent as they are: ask noticeActionsOffered() first.
    std::vector<TNoticeAction> actions;
};

// Whether the notification service shows actions (its capabilities list
// "actions"); false without a service.
bool noticeActionsOffered();

// Shows `notice` through the desktop's notification service under the name
// "QV_Backup" with the program's icon; the notification's number, or 0 with
// the German reason in `trace` when no service took it.
uint32_t sendNotice(const TNotice& notice, std::string& trace);

// What the notification service reports about notifications: the action the
// user chose and the notification that went away (reason as the service
// gives it: 1 expired, 2 dismissed, 3 closed by a call, 4 other). Needs a
// running event loop; create it before sending, so that no early click is
// missed. The ids are those sendNotice() returned.
class TNoticeWatch {
  public:
    using TOnAction = std::function<void(uint32_t id, const std::string& actionKey)>;
    using TOnClosed = std::function<void(uint32_t id, uint32_t reason)>;

    TNoticeWatch(TOnAction onAction, TOnClosed onClosed = {});
    ~TNoticeWatch();
    TNoticeWatch(const TNoticeWatch&) = delete;
    TNoticeWatch& operator=(const TNoticeWatch&) = delete;

    // False when there is no session bus to listen on.
    bool listening() const;

  private:
    class TReceiver;
    std::unique_ptr<TReceiver> fReceiver;
};

}  // namespace qvb
