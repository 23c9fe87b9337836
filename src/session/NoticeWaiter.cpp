#include "session/NoticeWaiter.h"

#include <QProcess>
#include <QStringList>

#include "session/DesktopBusModule.h"

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
    std::string why;
    const TDesktopBusCalls* bus = desktopBus(why);
    return bus && bus->awaitNoticeAction(id, command, limitMs, run);
}

}  // namespace qvb
