#pragma once

// One window per settings file, so that two schedulers never run the same
// jobs. The start that opens the window holds a lock keyed by the settings
// file and listens on a local socket beside it; a later start of the window
// on the same settings finds the lock taken, asks the running one to come
// forward through the socket and ends. The command-line modes never ask.
// A request may carry a kept run's protocol for the window to show.

#include <QObject>
#include <QString>

#include "util/Sys.h"

class QLocalServer;
class QWidget;

namespace qvb {

class TSingleWindow : public QObject {
    Q_OBJECT

  public:
    explicit TSingleWindow(const QString& settingsFile, QObject* parent = nullptr);
    ~TSingleWindow() override;

    enum class TClaim { Owner, AskedRunning, Unreachable };
    // Owner: this start shows the window (also when no lock can be made at
    // all: a window is better than none). AskedRunning: the running window
    // got the request. Unreachable: it holds the lock but does not answer.
    // `showProtocol`: the file the running window is asked to show.
    TClaim claim(const QByteArray& showProtocol = {});
    // From now on every request raises and activates `window`.
    void bringForwardOnRequest(QWidget* window);

    // Where lock and socket live for a settings file: equal for every
    // spelling of the same file.
    static QString lockFileName(const QString& settingsFile);
    static QString socketName(const QString& settingsFile);

  signals:
    void activationRequested();
    // After activationRequested(), when the request names a file; the name
    // comes from another process and is checked by whoever opens it.
    void protocolRequested(const QByteArray& file);

  private:
    bool sendRequest(const QByteArray& request);
    void listen();
    void readRequest();

    QString fSettingsFile;
    sys::UniqueFd fLock;
    QLocalServer* fServer = nullptr;
};

// Raises the window and gives it the focus; where the desktop refuses that to
// a program that was not clicked, the window asks for attention instead.
void bringWindowForward(QWidget* window);

}  // namespace qvb
