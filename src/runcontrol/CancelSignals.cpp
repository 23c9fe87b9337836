#include "runcontrol/CancelSignals.h"

#include <csignal>

namespace qvb {

namespace {

volatile std::sig_atomic_t gCancelRequested = 0;

extern "C" void noteCancelRequest(int) {
    gCancelRequested = 1;
}

}  // namespace

void installCancelSignals() {
    struct sigaction action {};
    action.sa_handler = noteCancelRequest;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: a signal must not turn a read or write of the
    // copier into a spurious failure.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool cancelRequested() {
    return gCancelRequested != 0;
}

void clearCancelRequest() {
    gCancelRequested = 0;
}

}  // namespace qvb
