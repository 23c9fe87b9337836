// Stand-ins for the desktop's notification service and for logind on a
// private bus of a test: each call becomes a line on standard output, and an
// inhibitor's descriptor that is closed becomes the line "Freigegeben". A
// line "ActionInvoked <id> <key>" or "NotificationClosed <id> <reason>" on
// standard input is sent as that signal;
// with the argument "--ohne-aktionen" the service shows no actions.

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QStringList>
#include <cstdio>

namespace {

void say(const QStringList& fields) {
    std::printf("%s\n", fields.join(QLatin1Char('\t')).toUtf8().constData());
    std::fflush(stdout);
}

class StandIn : public QDBusVirtualObject {
  public:
    explicit StandIn(bool actions) : fActions(actions) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        const QVariantList a = call.arguments();
        QVariant answer;
        if (call.member() == QLatin1String("Notify") && a.size() == 8) {
            QStringList line{call.member(), a[0].toString(), a[2].toString(), a[3].toString(),
                             a[4].toString()};
            // The number only where a test is to click it.
            if (!a[5].toStringList().isEmpty())
                line << a[5].toStringList() << QString::number(fNotices + 1);
            say(line);
            answer = QVariant::fromValue(++fNotices);
        } else if (call.member() == QLatin1String("GetCapabilities")) {
            answer = fActions ? QStringList{QStringLiteral("body"), QStringLiteral("actions")}
                              : QStringList{QStringLiteral("body")};
        } else if (call.member() == QLatin1String("Inhibit") && a.size() == 4) {
            say({call.member(), a[0].toString(), a[1].toString(), a[2].toString(),
                 a[3].toString()});
            int ends[2];
            if (::pipe2(ends, O_CLOEXEC) != 0) return false;
            watchForRelease(ends[0]);
            answer = QVariant::fromValue(QDBusUnixFileDescriptor(ends[1]));
            ::close(ends[1]);
        } else {
            return false;
        }
        bus.send(call.createReply(answer));
        return true;
    }

  private:
    // The read end sees the end of the file once every copy of the write end is closed.
    void watchForRelease(int readEnd) {
        auto* notifier = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
        QObject::connect(notifier, &QSocketNotifier::activated, [notifier, readEnd] {
            char byte;
            if (::read(readEnd, &byte, 1) > 0) return;
            say({QStringLiteral("Freigegeben")});
            notifier->setEnabled(false);
            ::close(readEnd);
        });
    }

    bool fActions;
    uint fNotices = 0;
};

void clickOnRequest(QDBusConnection bus) {
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, [bus, notifier]() mutable {
        char text[256];
        const ssize_t n = ::read(STDIN_FILENO, text, sizeof text - 1);
        if (n <= 0) {
            notifier->setEnabled(false);
            return;
        }
        for (const QString& line : QString::fromUtf8(text, n).split(QLatin1Char('\n'))) {
            const QStringList words = line.trimmed().split(QLatin1Char(' '));
            const bool closed = words[0] == QLatin1String("NotificationClosed");
            if (words.size() != 3 || (words[0] != QLatin1String("ActionInvoked") && !closed))
                continue;
            QDBusMessage signal = QDBusMessage::createSignal(
                QStringLiteral("/org/freedesktop/Notifications"),
                QStringLiteral("org.freedesktop.Notifications"), words[0]);
            signal << words[1].toUInt();
            if (closed)
                signal << words[2].toUInt();
            else
                signal << words[2];
            bus.send(signal);
        }
    });
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    StandIn standIn(!app.arguments().contains(QStringLiteral("--ohne-aktionen")));
    clickOnRequest(bus);
    const bool ok =
        bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &standIn) &&
        bus.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &standIn) &&
        bus.registerService(QStringLiteral("org.freedesktop.Notifications")) &&
        bus.registerService(QStringLiteral("org.freedesktop.login1"));
    say({ok ? QStringLiteral("bereit") : QStringLiteral("kein Bus")});
    return ok ? app.exec() : 1;
}
