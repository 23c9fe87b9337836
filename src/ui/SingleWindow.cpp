#include "ui/SingleWindow.h"

#include <fcntl.h>
#include <sys/file.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QWidget>

namespace qvb {

namespace {

const QByteArray kRequest = QByteArrayLiteral("activate\n");
// Followed by the file's name in Base64 (any byte may be in a name) and a
// line feed. A window of an older version reads no more than "activate".
const QByteArray kShowRequest = QByteArrayLiteral("activate-show ");
// A name longer than any path the system takes is no request.
constexpr qint64 kRequestLimit = 8192;
// The running window may itself be starting: it listens right after taking
// the lock, so a short wait covers that.
constexpr int kAskMilliseconds = 1500;

// The same file by any spelling: symbolic links and "..", also before the
// file itself exists.
QString canonicalSettingsFile(const QString& settingsFile) {
    const QFileInfo info(settingsFile);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (folder.isEmpty()) return QDir::cleanPath(info.absoluteFilePath());
    const QString file = info.canonicalFilePath();
    return file.isEmpty() ? folder + u'/' + info.fileName() : file;
}

QString baseName(const QString& settingsFile) {
    const QByteArray hash = QCryptographicHash::hash(canonicalSettingsFile(settingsFile).toUtf8(),
                                                     QCryptographicHash::Sha256);
    // Half the hash keeps the socket path well inside the 108 bytes a Unix
    // socket address may have.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder + QStringLiteral("/QV_Backup-") + QString::fromLatin1(hash.left(16).toHex());
}

}  // namespace

TSingleWindow::TSingleWindow(const QString& settingsFile, QObject* parent)
    : QObject(parent), fSettingsFile(settingsFile) {}

TSingleWindow::~TSingleWindow() = default;

QString TSingleWindow::lockFileName(const QString& settingsFile) {
    return baseName(settingsFile) + QStringLiteral(".lock");
}

QString TSingleWindow::socketName(const QString& settingsFile) {
    return baseName(settingsFile) + QStringLiteral(".socket");
}

TSingleWindow::TClaim TSingleWindow::claim(const QByteArray& showProtocol) {
    const QByteArray path = QFile::encodeName(lockFileName(fSettingsFile));
    fLock = sys::UniqueFd(sys::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    // The kernel drops the lock with its holder, so a crashed window never
    // blocks the next start.
    if (!fLock.valid() || sys::flock(fLock.get(), LOCK_EX | LOCK_NB) == 0) {
        listen();
        return TClaim::Owner;
    }
    fLock.reset();
    const QByteArray request =
        showProtocol.isEmpty() ? kRequest : kShowRequest + showProtocol.toBase64() + '\n';
    return sendRequest(request) ? TClaim::AskedRunning : TClaim::Unreachable;
}

void TSingleWindow::listen() {
    fServer = new QLocalServer(this);
    fServer->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file left by a crashed window would make listen() fail.
    const QString name = socketName(fSettingsFile);
    QLocalServer::removeServer(name);
    connect(fServer, &QLocalServer::newConnection, this, &TSingleWindow::readRequest);
    fServer->listen(name);
}

void TSingleWindow::readRequest() {
    while (QLocalSocket* socket = fServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto check = [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kRequestLimit) socket->disconnectFromServer();
                return;
            }
            const QByteArray line = socket->readLine(kRequestLimit);
            if (line == kRequest) {
                emit activationRequested();
            } else if (line.startsWith(kShowRequest) && line.endsWith('\n')) {
                const auto file =
                    QByteArray::fromBase64Encoding(line.mid(kShowRequest.size()).chopped(1),
                                                   QByteArray::AbortOnBase64DecodingErrors);
                if (file && !file.decoded.isEmpty()) {
                    emit activationRequested();
                    emit protocolRequested(file.decoded);
                }
            }
            socket->disconnectFromServer();
        };
        connect(socket, &QLocalSocket::readyRead, this, check);
        check();
    }
}

bool TSingleWindow::sendRequest(const QByteArray& request) {
    const QDeadlineTimer deadline(kAskMilliseconds);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(socketName(fSettingsFile));
        if (socket.waitForConnected(int(deadline.remainingTime()))) {
            socket.write(request);
            return socket.waitForBytesWritten(int(deadline.remainingTime()));
        }
        QThread::msleep(50);
    }
    return false;
}

void TSingleWindow::bringForwardOnRequest(QWidget* window) {
    connect(this, &TSingleWindow::activationRequested, window,
            [window] { bringWindowForward(window); });
}

void bringWindowForward(QWidget* window) {
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized));
    window->show();
    window->raise();
    window->activateWindow();
    // Activation is answered by the desktop later, if at all.
    QTimer::singleShot(250, window, [window] {
        if (!window->isActiveWindow()) QApplication::alert(window);
    });
}

}  // namespace qvb
