#include "session/NoticeWaiter.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <memory>

#include "session/DesktopBus.h"

namespace qvb {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

std::vector<std::string> withSettings(const std::string& program, const std::string& settingsFile) {
    std::vector<std::string> command{program};
    if (!settingsFile.empty()) command.insert(command.end(), {"--ini", settingsFile});
    return command;
}

// How often the wait looks whether the session bus is still there: a lost
// connection sends no signal of its own.
constexpr int kBusCheckMs = 60 * 1000;

}  // namespace

std::vector<std::string> noticeWaiterCommand(const std::string& program,
                                             const std::string& settingsFile, uint32_t id,
                                             const std::string& historyFile) {
    std::vector<std::string> command = withSettings(program, settingsFile);
    command.insert(command.end(), {"--notice-wait", std::to_string(id), historyFile});
    return command;
}

std::vector<std::string> showProtocolCommand(const std::string& program,
                                             const std::string& settingsFile,
                                             const std::string& historyFile) {
    std::vector<std::string> command = withSettings(program, settingsFile);
    command.insert(command.end(), {"--show-protocol", historyFile});
    return command;
}

bool startDetached(const std::vector<std::string>& command) {
    if (command.empty()) return false;
    QStringList arguments;
    for (size_t i = 1; i < command.size(); ++i) arguments << qs(command[i]);
    QProcess process;
    process.setProgram(qs(command.front()));
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
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
    TNoticeWatch watch(
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
    QDBusServiceWatcher service(QStringLiteral("org.freedesktop.Notifications"), bus,
                                QDBusServiceWatcher::WatchForUnregistration);
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

}  // namespace qvb
