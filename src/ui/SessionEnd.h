#pragma once

// The end of the desktop session reaches the window: SIGTERM (what a logout
// sends before it kills), SIGHUP (the terminal or the session went away) and
// the session manager's request to save. The signal handler only writes a
// byte into a pipe; the window learns of it at its next event processing,
// also in the middle of a run.

#include <signal.h>

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace qvb {

class TSessionEnd : public QObject {
  public:
    // `onEnd` runs on the window's thread, once per request.
    explicit TSessionEnd(std::function<void()> onEnd, QObject* parent = nullptr);
    ~TSessionEnd() override;
    TSessionEnd(const TSessionEnd&) = delete;
    TSessionEnd& operator=(const TSessionEnd&) = delete;

  private:
    void readPipe();

    std::function<void()> fOnEnd;
    QSocketNotifier* fNotifier = nullptr;
    struct sigaction fOldTerm {};
    struct sigaction fOldHup {};
};

}  // namespace qvb
