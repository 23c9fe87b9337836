#include "session/DesktopBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QStringList>
#include <QVariantMap>
#include <cerrno>

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

uint32_t sendNotice(const TNotice& notice, std::string& trace) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        trace = "Keine Benachrichtigung: kein Sitzungsbus erreichbar.";
        return 0;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), qs(kProgramIcon));
    call << QStringLiteral("QV_Backup") << 0u << qs(kProgramIcon) << qs(notice.summary)
         << qs(notice.body) << QStringList() << hints << -1;
    const QDBusReply<uint> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (!reply.isValid()) {
        trace = "Keine Benachrichtigung: " + reply.error().message().toStdString();
        return 0;
    }
    return reply.value();
}

}  // namespace qvb
