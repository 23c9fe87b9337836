#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <cerrno>
#include <memory>
#include <utility>

#include "session/DesktopBusModule.h"
#include "util/Sys.h"

namespace qvb {

namespace {

// A bus that answers slowly must not hold up a run for long.
constexpr int kCallTimeoutMs = 3000;

// How often a wait looks whether the session bus is still there: a lost
// connection sends no signal of its own.
constexpr int kBusCheckMs = 60 * 1000;

QString qs(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

const QString kNoticeService = QStringLiteral("org.freedesktop.Notifications");
const QString kNoticePath = QStringLiteral("/org/freedesktop/Notifications");

int inhibitSleep(std::string& reason) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        reason = "Der Ruhezustand wird nicht verhindert: kein Systembus erreichbar.";
        return -1;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("QV_Backup")
         << QStringLiteral("Sicherung läuft") << QStringLiteral("block");
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (!reply.isValid() || !reply.value().isValid()) {
        reason = "Der Ruhezustand wird nicht verhindert: " + reply.error().message().toStdString();
        return -1;
    }
    // The reply's descriptor closes with the reply; the caller's lasts.
    const int lock = sys::dup(reply.value().fileDescriptor());
    if (lock < 0) reason = "Der Ruhezustand wird nicht verhindert: " + sys::errorText(errno);
    return lock;
}

bool noticeActionsOffered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        kNoticeService, kNoticePath, kNoticeService, QStringLiteral("GetCapabilities"));
    const QDBusReply<QStringList> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    return reply.isValid() && reply.value().contains(QStringLiteral("actions"));
}

uint32_t sendNotice(const TNotice& notice, std::string& trace) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        trace = "Keine Benachrichtigung: kein Sitzungsbus erreichbar.";
        return 0;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kNoticeService, kNoticePath, kNoticeService,
                                                       QStringLiteral("Notify"));
    // Pairs of key and label, as the service expects them.
    QStringList actions;
    for (const TNoticeAction& action : notice.actions)
        actions << qs(action.key) << qs(action.label);
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), qs(kProgramIcon));
    call << QStringLiteral("QV_Backup") << 0u << qs(kProgramIcon) << qs(notice.summary)
         << qs(notice.body) << actions << hints << -1;
    const QDBusReply<uint> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (!reply.isValid()) {
        trace = "Keine Benachrichtigung: " + reply.error().message().toStdString();
        return 0;
    }
    return reply.value();
}

}  // namespace

// QtDBus delivers signals to slots only, so the callbacks sit behind a
// receiver of their own.
struct TNoticeListener : public QObject {
    Q_OBJECT

  public:
    TNoticeListener(TNoticeWatch::TOnAction onAction, TNoticeWatch::TOnClosed onClosed)
        : fOnAction(std::move(onAction)), fOnClosed(std::move(onClosed)) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        fListening = bus.isConnected() &&
                     bus.connect(kNoticeService, kNoticePath, kNoticeService,
                                 QStringLiteral("ActionInvoked"), this,
                                 SLOT(actionInvoked(uint, QString))) &&
                     bus.connect(kNoticeService, kNoticePath, kNoticeService,
                                 QStringLiteral("NotificationClosed"), this,
                                 SLOT(notificationClosed(uint, uint)));
    }
    bool listening() const { return fListening; }

  public slots:
    void actionInvoked(uint id, const QString& key) {
        if (fOnAction) fOnAction(id, key.toStdString());
    }
    void notificationClosed(uint id, uint reason) {
        if (fOnClosed) fOnClosed(id, reason);
    }

  private:
    TNoticeWatch::TOnAction fOnAction;
    TNoticeWatch::TOnClosed fOnClosed;
    bool fListening = false;
};

namespace {

TNoticeListener* listen(TNoticeWatch::TOnAction onAction, TNoticeWatch::TOnClosed onClosed) {
    return new TNoticeListener(std::move(onAction), std::move(onClosed));
}

bool listening(const TNoticeListener* listener) {
    return listener->listening();
}

void stopListening(TNoticeListener* listener) {
    delete listener;
}

bool awaitNoticeAction(uint32_t id, const std::vector<std::string>& command, int limitMs,
                       const TCommandRunner& run) {
    // The waiter is a command-line process: it has no event loop of its own yet.
    static int argc = 1;
    static char name[] = "QV_Backup";
    static char* argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QEventLoop loop;
    bool ran = false;
    const TNoticeListener watch(
        [&](uint32_t notice, const std::string& key) {
            if (notice != id || key != kShowProtocolAction.key || ran) return;
            ran = run(command);
            loop.quit();
        },
        [&](uint32_t notice, uint32_t) {
            if (notice == id) loop.quit();
        });
    if (!watch.listening()) return false;
    // Without the service the notification is gone, and no click can come.
    QDBusServiceWatcher service(kNoticeService, bus, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&service, &QDBusServiceWatcher::serviceUnregistered, &loop, &QEventLoop::quit);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(limitMs);
    QTimer busCheck;
    QObject::connect(&busCheck, &QTimer::timeout, &loop, [&] {
        if (!QDBusConnection::sessionBus().isConnected()) loop.quit();
    });
    busCheck.start(kBusCheckMs);
    loop.exec();
    return ran;
}

const TDesktopBusCalls kCalls{inhibitSleep, noticeActionsOffered, sendNotice,       listen,
                              listening,    stopListening,        awaitNoticeAction};

}  // namespace

}  // namespace qvb

extern "C" const qvb::TDesktopBusCalls* qvb_desktop_bus() {
    return &qvb::kCalls;
}

#include "DesktopBusCalls.moc"
