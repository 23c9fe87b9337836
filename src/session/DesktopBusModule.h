#pragma once

// The D-Bus side of DesktopBus.h and NoticeWaiter.h is a module of its own,
// loaded on first use: QtDBus and the libraries it brings would add some
// megabytes to every run, and most runs never talk to the desktop (a run
// that changes nothing needs no inhibitor). This is the table of calls the
// module offers.

#include <cstdint>
#include <string>
#include <vector>

#include "session/DesktopBus.h"
#include "session/NoticeWaiter.h"

namespace qvb {

// The file name of the module and the name of its entry point.
inline constexpr char kDesktopBusModuleFile[] = "qvb_desktopbus.so";
inline constexpr char kDesktopBusEntryName[] = "qvb_desktop_bus";
// Names the module to load in place of the program's own (a build tree's
// test programs have none beside them).
inline constexpr char kDesktopBusModuleVariable[] = "QVB_DESKTOPBUS_MODULE";

// A receiver of the notification service's signals, the module's own.
struct TNoticeListener;

// Each as its counterpart in DesktopBus.h or NoticeWaiter.h describes it.
struct TDesktopBusCalls {
    // logind's descriptor, the caller's to close; -1 with the German reason.
    int (*inhibitSleep)(std::string& reason);
    bool (*noticeActionsOffered)();
    uint32_t (*sendNotice)(const TNotice& notice, std::string& trace);
    // Never null; stopListening ends it.
    TNoticeListener* (*listen)(TNoticeWatch::TOnAction onAction, TNoticeWatch::TOnClosed onClosed);
    bool (*listening)(const TNoticeListener* listener);
    void (*stopListening)(TNoticeListener* listener);
    bool (*awaitNoticeAction)(uint32_t id, const std::vector<std::string>& command, int limitMs,
                              const TCommandRunner& run);
};

using TDesktopBusEntry = const TDesktopBusCalls* (*)();

// The module's calls, loaded on the first call; null with the German reason
// in `why` while it cannot be loaded (then it is looked for again next time).
const TDesktopBusCalls* desktopBus(std::string& why);

}  // namespace qvb

extern "C" const qvb::TDesktopBusCalls* qvb_desktop_bus();
