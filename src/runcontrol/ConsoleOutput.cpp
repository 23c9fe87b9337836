#include "runcontrol/ConsoleOutput.h"

#include <unistd.h>

#include <cerrno>

#include "runcontrol/ProgressDisplay.h"

namespace qvb {

void TLineOutput::writeLine(const std::string& line) {
    if (fClosed) return;
    if (fProgress) fProgress->clear();
    fBuffer.assign(line);
    fBuffer += '\n';
    size_t done = 0;
    while (done < fBuffer.size()) {
        const ssize_t n = ::write(fFd, fBuffer.data() + done, fBuffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fClosed = true;
            return;
        }
        done += static_cast<size_t>(n);
    }
}

}  // namespace qvb
