#include "session/DesktopBus.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <utility>

#include "session/DesktopBusModule.h"
#include "session/ModuleFile.h"

namespace qvb {

const TDesktopBusCalls* desktopBus(std::string& why) {
    static std::mutex mutex;
    static const TDesktopBusCalls* calls = nullptr;
    const std::lock_guard lock(mutex);
    if (calls) return calls;
    const char* named = std::getenv(kDesktopBusModuleVariable);
    std::string module = named && *named ? named : moduleFile(kDesktopBusModuleFile, why);
    if (module.empty()) return nullptr;
    // Never closed: QtDBus keeps threads and connections until the program ends.
    void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto entry =
        handle ? reinterpret_cast<TDesktopBusEntry>(::dlsym(handle, kDesktopBusEntryName))
               : nullptr;
    if (!entry) {
        const char* error = ::dlerror();
        why = "das D-Bus-Modul lässt sich nicht laden (" + (error ? std::string(error) : module) +
              ").";
        if (handle) ::dlclose(handle);
        return nullptr;
    }
    calls = entry();
    return calls;
}

std::string TSleepInhibitor::acquire() {
    if (fLock.valid()) return {};
    std::string reason;
    const TDesktopBusCalls* bus = desktopBus(reason);
    if (!bus) return "Der Ruhezustand wird nicht verhindert: " + reason;
    fLock.reset(bus->inhibitSleep(reason));
    return reason;
}

bool noticeActionsOffered() {
    std::string why;
    const TDesktopBusCalls* bus = desktopBus(why);
    return bus && bus->noticeActionsOffered();
}

uint32_t sendNotice(const TNotice& notice, std::string& trace) {
    std::string why;
    if (const TDesktopBusCalls* bus = desktopBus(why)) return bus->sendNotice(notice, trace);
    trace = "Keine Benachrichtigung: " + why;
    return 0;
}

// The module's listener, ended with the watch.
class TNoticeWatch::TReceiver {
  public:
    TReceiver(TOnAction onAction, TOnClosed onClosed) {
        std::string why;
        fBus = desktopBus(why);
        if (fBus) fListener = fBus->listen(std::move(onAction), std::move(onClosed));
    }
    ~TReceiver() {
        if (fListener) fBus->stopListening(fListener);
    }
    TReceiver(const TReceiver&) = delete;
    TReceiver& operator=(const TReceiver&) = delete;
    bool listening() const { return fListener && fBus->listening(fListener); }

  private:
    const TDesktopBusCalls* fBus = nullptr;
    TNoticeListener* fListener = nullptr;
};

TNoticeWatch::TNoticeWatch(TOnAction onAction, TOnClosed onClosed)
    : fReceiver(std::make_unique<TReceiver>(std::move(onAction), std::move(onClosed))) {}

TNoticeWatch::~TNoticeWatch() = default;

bool TNoticeWatch::listening() const {
    return fReceiver->listening();
}

}  // namespace qvb
