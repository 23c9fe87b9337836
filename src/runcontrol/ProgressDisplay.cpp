#include "runcontrol/ProgressDisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace qvb {

namespace {

constexpr int64_t kRedrawMillis = 100;

int64_t steadyMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// Length of the UTF-8 sequence starting with `lead`, or 0 when `lead` cannot
// start one.
size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Keeps valid UTF-8 (one column per character), shows control characters as
// "?" and broken bytes as U+FFFD, and stops after `columns` characters. A file
// name with a line feed or an escape sequence cannot break the terminal line.
std::string terminalSafe(const std::string& text, int columns) {
    std::string out;
    int used = 0;
    for (size_t i = 0; i < text.size() && used < columns; ++used) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t len = sequenceLength(lead);
        bool valid = len > 0 && i + len <= text.size();
        for (size_t k = 1; valid && k < len; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (!valid) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else if (len == 1 && (lead < 0x20 || lead == 0x7F)) {
            out += '?';
            ++i;
        } else if (len == 2 && lead == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            out += '?';  // C1 control characters
            i += 2;
        } else {
            out.append(text, i, len);
            i += len;
        }
    }
    return out;
}

}  // namespace

TProgressDisplay::TProgressDisplay(int fd, bool enabled, MilliClock clock)
    : fFd(fd), fEnabled(enabled), fClock(clock ? std::move(clock) : MilliClock(steadyMillis)) {}

TProgressDisplay::~TProgressDisplay() {
    clear();
}

std::string TProgressDisplay::formatLine(int percent, const std::string& counterText,
                                         const std::string& currentFile, int columns) {
    char head[16];
    std::snprintf(head, sizeof head, "[%3d%%]", percent < 0 ? 0 : percent > 100 ? 100 : percent);
    std::string line = head;
    auto trimmed = [](const std::string& s) {
        const size_t first = s.find_first_not_of(' ');
        return first == std::string::npos ? std::string() : s.substr(first);
    };
    if (!trimmed(counterText).empty()) line += " " + trimmed(counterText);
    if (!trimmed(currentFile).empty()) line += " | " + trimmed(currentFile);
    return terminalSafe(line, columns);
}

int TProgressDisplay::columns() const {
    struct winsize size {};
    if (::ioctl(fFd, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1;
    return 79;
}

void TProgressDisplay::update(int percent, const std::string& counterText,
                              const std::string& currentFile) {
    if (!fEnabled) return;
    fPercent = percent;
    fCounterText = counterText;
    fCurrentFile = currentFile;
    const int64_t now = fClock();
    if (now - fLastDraw < kRedrawMillis) return;
    fLastDraw = now;
    draw();
}

void TProgressDisplay::draw() {
    writeAll(fFd, "\r" + formatLine(fPercent, fCounterText, fCurrentFile, columns()) + "\x1b[K");
    fShown = true;
}

void TProgressDisplay::clear() {
    if (!fShown) return;
    writeAll(fFd, "\r\x1b[K");
    fShown = false;
}

}  // namespace qvb
