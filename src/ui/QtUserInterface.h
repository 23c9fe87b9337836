#pragma once

// The user interface of the window: Qt message boxes with German buttons, the
// wait cursor, and event processing that keeps the window responsive while the
// copy engine works on the window thread. Installs itself for its lifetime.

#include <QPointer>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

#include "util/UserInterface.h"

class QMessageBox;
class QWidget;

namespace qvb {

// A message box of `kind` with the German captions of `buttons`; the button
// pressed is read back with messageBoxResult.
std::unique_ptr<QMessageBox> createMessageBox(TMsgKind kind, const std::string& text,
                                              unsigned buttons, const std::string& title,
                                              QWidget* parent);
TMsgResult messageBoxResult(const QMessageBox& box);

class TQtUserInterface : public TUserInterface {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit TQtUserInterface(Clock clock = std::chrono::steady_clock::now);
    ~TQtUserInterface() override;
    TQtUserInterface(const TQtUserInterface&) = delete;
    TQtUserInterface& operator=(const TQtUserInterface&) = delete;

    // The window that message boxes belong to and that bringToFront raises.
    void setMainWindow(QWidget* window) { fMainWindow = window; }

    TMsgResult showMessage(TMsgKind kind, const std::string& text, unsigned buttons,
                           TMsgResult unattended, const std::string& title = {}) override;
    void setBusy(bool busy) override;
    // Processing events costs far more than a copied block: calls within 20 ms
    // of the last processing return at once.
    void processEvents() override;
    void bringToFront() override;

    static constexpr std::chrono::milliseconds kEventInterval{20};

  private:
    Clock fClock;
    std::chrono::steady_clock::time_point fLastEvents{};
    bool fEventsProcessed = false;
    int fBusyDepth = 0;
    QPointer<QWidget> fMainWindow;
    // Calls that worker threads post reach the window even while no run is
    // active.
    QTimer fPostedCallsTimer;
};

}  // namespace qvb
