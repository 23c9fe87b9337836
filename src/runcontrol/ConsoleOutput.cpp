#include "runcontrol/ConsoleOutput.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "runcontrol/ProgressDisplay.h"

namespace qvb {

namespace {

constexpr size_t kFlushBytes = 64 * 1024;
constexpr int64_t kFlushMillis = 100;

// Asked at every event of a run, so the cheap clock: its few milliseconds of
// granularity do not matter for a pause of 100 ms.
int64_t coarseMillis() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

}  // namespace

void TLineOutput::setBuffered(bool buffered, MilliClock clock) {
    flush();
    fBuffered = buffered;
    fClock = clock ? std::move(clock) : MilliClock(coarseMillis);
    fLastFlush = fClock();
}

bool TLineOutput::due() const {
    return fBuffer.size() >= kFlushBytes || fClock() - fLastFlush >= kFlushMillis;
}

void TLineOutput::writeLine(const std::string& line) {
    if (fClosed) return;
    fBuffer += line;
    fBuffer += '\n';
    if (!fBuffered || due()) flush();
}

void TLineOutput::flushIfDue() {
    if (!fBuffer.empty() && due()) flush();
}

void TLineOutput::flush() {
    if (fBuffered) fLastFlush = fClock();
    if (fBuffer.empty() || fClosed) return;
    if (fProgress) fProgress->clear();
    size_t done = 0;
    while (done < fBuffer.size()) {
        const ssize_t n = ::write(fFd, fBuffer.data() + done, fBuffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fClosed = true;
            break;
        }
        done += static_cast<size_t>(n);
    }
    fBuffer.clear();
}

}  // namespace qvb
