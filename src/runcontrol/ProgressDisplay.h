#pragma once

// The one-line progress display of a run without a window, on a terminal:
// overall percent, the counter text and the current file, redrawn in place at
// most ten times a second. Protocol lines written to the same terminal first
// erase it (`clear`), and the next update draws it again below them.

#include <cstdint>
#include <functional>
#include <string>

namespace qvb {

class TProgressDisplay {
  public:
    using MilliClock = std::function<int64_t()>;

    // Draws on `fd` only when `enabled` (the caller decides, normally isatty).
    TProgressDisplay(int fd, bool enabled, MilliClock clock = {});
    ~TProgressDisplay();
    TProgressDisplay(const TProgressDisplay&) = delete;
    TProgressDisplay& operator=(const TProgressDisplay&) = delete;

    bool enabled() const { return fEnabled; }
    // Remembers the state and redraws when the last drawing is 100 ms old.
    void update(int percent, const std::string& counterText, const std::string& currentFile);
    // Erases the line if one is shown.
    void clear();

    // The line as drawn: "[ 42%] bearbeite Datei 3 von 9... | /a/b.txt", control
    // characters shown as "?", cut to `columns` characters.
    static std::string formatLine(int percent, const std::string& counterText,
                                  const std::string& currentFile, int columns);

  private:
    int columns() const;
    void draw();

    int fFd;
    bool fEnabled;
    MilliClock fClock;
    int64_t fLastDraw = INT64_MIN / 2;
    bool fShown = false;
    int fPercent = 0;
    std::string fCounterText;
    std::string fCurrentFile;
};

}  // namespace qvb
