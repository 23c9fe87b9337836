#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ConsoleRun.h"
#include "app/WindowLoader.h"
#include "session/ProtocolHistory.h"
#include "session/Session.h"
#include "util/Konstanten.h"
#include "util/QV_Basics.h"

namespace {

// A file named from outside (a notification's action, a script) opens only
// a run these settings kept.
int openWindow(int& argc, char** argv, qvb::TCommandLine line) {
    using namespace qvb;
    if (!line.showProtocol.empty()) {
        useSettingsFile(line.iniFile);
        line.showProtocol = expandFileName(line.showProtocol);
        if (!isKeptProtocolOf(historyFolderInUse(), line.showProtocol)) {
            printError("Das Protokoll \"" + line.showProtocol +
                       "\" gehört nicht zu den aufbewahrten Läufen dieser Einstellungen.");
            return kExitUsage;
        }
    }
    return runWindow(argc, argv, line);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace qvb;
    const TParsedCommandLine parsed =
        parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok) {
        printError(parsed.error);
        std::fprintf(stderr, "Hilfe: QV_Backup --help\n");
        return kExitUsage;
    }
    if (parsed.line.command != TCommand::Help && parsed.line.command != TCommand::Version) {
        const std::string untrusted = untrustedSettingsReason(parsed.line.iniFile);
        if (!untrusted.empty()) {
            printError(untrusted);
            return kExitUsage;
        }
    }
    switch (parsed.line.command) {
        case TCommand::Help:
            std::fputs(helpText().c_str(), stdout);
            return kExitOk;
        case TCommand::Version:
            std::printf("%s\n", versionText().c_str());
            return kExitOk;
        case TCommand::Window:
            return openWindow(argc, argv, parsed.line);
        default:
            break;
    }
    try {
        return runConsole(parsed.line);
    } catch (const std::exception& e) {
        printError(std::string("Unerwarteter Fehler: ") + e.what());
        return kExitFailed;
    }
}
