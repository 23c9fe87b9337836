#include "runcontrol/ConsoleOutput.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "runcontrol/ProgressDisplay.h"

namespace qvb {

namespace {

constexpr size_t kFlushBytes = 64 * 1024;
constexpr int64_t kFlushMillis = 100;

int64_t steadyMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void TLineOutput::setBuffered(bool buffered, MilliClock clock) {
    flush();
    fBuffered = buffered;
    fClock = clock ? std::move(clock) : MilliClock(steadyMillis);
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
