#include "session/DesktopBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <cerrno>
#include <utility>

namespace qvb {

namespace {

// A bus that answers slowly must not hold up a run for long.
constexpr int kCallTimeoutMs = 3000;

QString qs(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::string TSleepInhibitor::acquire() {
    if (fLock.valid()) return {};
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return "Der Ruhezustand wird nicht verhindert: kein Systembus erreichbar.";
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("QV_Backup")
         << QStringLiteral("Sicherung läuft") << QStringLiteral("block");
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (!reply.isValid() || !reply.value().isValid())
        return "Der Ruhezustand wird nicht verhindert: " + reply.error().message().toStdString();
    // The reply's descriptor closes with the reply; ours lasts until release().
    fLock.reset(sys::dup(reply.value().fileDescriptor()));
    return fLock.valid() ? "" : "Der Ruhezustand wird nicht verhindert: " + sys::errorText(errno);
}

namespace {

const QString kNoticeService = QStringLiteral("org.freedesktop.Notifications");
const QString kNoticePath = QStringLiteral("/org/freedesktop/Notifications");

}  // namespace

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

// QtDBus delivers signals to slots only, so the callbacks sit behind a
// receiver of its own.
class TNoticeWatch::TReceiver : public QObject {
    Q_OBJECT

  public:
    TReceiver(TOnAction onAction, TOnClosed onClosed)
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
    TOnAction fOnAction;
    TOnClosed fOnClosed;
    bool fListening = false;
};

TNoticeWatch::TNoticeWatch(TOnAction onAction, TOnClosed onClosed)
    : fReceiver(std::make_unique<TReceiver>(std::move(onAction), std::move(onClosed))) {}

TNoticeWatch::~TNoticeWatch() = default;

bool TNoticeWatch::listening() const {
    return fReceiver->listening();
}

}  // namespace qvb

#include "DesktopBus.moc"
