#include "ui/SessionEnd.h"

#include <fcntl.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>

namespace qvb {

namespace {

// One watcher at a time: the handler needs the pipe without any lock.
int gPipe[2] = {-1, -1};

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a request; nothing is lost.
    [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

void install(int signal, struct sigaction& old) {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, &old);
}

}  // namespace

TSessionEnd::TSessionEnd(std::function<void()> onEnd, QObject* parent)
    : QObject(parent), fOnEnd(std::move(onEnd)) {
    if (gPipe[0] >= 0 || ::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    fNotifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(fNotifier, &QSocketNotifier::activated, this, &TSessionEnd::readPipe);
    install(SIGTERM, fOldTerm);
    install(SIGHUP, fOldHup);
#ifndef QT_NO_SESSIONMANAGER
    // A logout must not wait for a backup: the request is answered at once,
    // never cancelled.
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this, [this] { fOnEnd(); });
#endif
}

TSessionEnd::~TSessionEnd() {
    if (!fNotifier) return;
    ::sigaction(SIGTERM, &fOldTerm, nullptr);
    ::sigaction(SIGHUP, &fOldHup, nullptr);
    delete fNotifier;
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

void TSessionEnd::readPipe() {
    char bytes[16];
    bool requested = false;
    while (::read(gPipe[0], bytes, sizeof bytes) > 0) requested = true;
    if (requested) fOnEnd();
}

}  // namespace qvb
