#pragma once

// Protocol lines on standard output for runs without a window. Unbuffered,
// each line leaves in one write as soon as it is complete. Buffered (for a
// pipe or a file, where a run of many files would otherwise cost one system
// call per line), lines are collected and written once 64 KiB have gathered or
// 100 ms have passed since the last write; `flushIfDue` lets a long quiet step
// (a big file) send what waits, and `flush` (also on destruction) sends the rest.

#include <cstdint>
#include <functional>
#include <string>

namespace qvb {

class TProgressDisplay;

class TLineOutput {
  public:
    using MilliClock = std::function<int64_t()>;

    // `progress` (may be null) is erased before lines are written, for the
    // case that both share one terminal.
    explicit TLineOutput(int fd, TProgressDisplay* progress = nullptr)
        : fFd(fd), fProgress(progress) {}
    ~TLineOutput() { flush(); }
    TLineOutput(const TLineOutput&) = delete;
    TLineOutput& operator=(const TLineOutput&) = delete;

    // Lines then wait in the buffer as described above; `clock` (milliseconds)
    // defaults to the steady clock.
    void setBuffered(bool buffered, MilliClock clock = {});

    void writeLine(const std::string& line);
    // Writes what waits when the last write is 100 ms old.
    void flushIfDue();
    void flush();

  private:
    bool due() const;

    int fFd;
    TProgressDisplay* fProgress;
    std::string fBuffer;
    bool fBuffered = false;
    MilliClock fClock;
    int64_t fLastFlush = 0;
    bool fClosed = false;  // the reader went away: the run goes on without output
};

}  // namespace qvb
