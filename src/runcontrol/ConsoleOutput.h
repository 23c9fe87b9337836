#pragma once

// Protocol lines on standard output for runs without a window: each line
// leaves in one write as soon as it is complete, so a reader of a pipe sees it
// at once and a run of many files costs one system call per line.

#include <string>

namespace qvb {

class TProgressDisplay;

class TLineOutput {
  public:
    // `progress` (may be null) is erased before a line is written, for the
    // case that both share one terminal.
    explicit TLineOutput(int fd, TProgressDisplay* progress = nullptr)
        : fFd(fd), fProgress(progress) {}

    void writeLine(const std::string& line);

  private:
    int fFd;
    TProgressDisplay* fProgress;
    std::string fBuffer;
    bool fClosed = false;  // the reader went away: the run goes on without output
};

}  // namespace qvb
