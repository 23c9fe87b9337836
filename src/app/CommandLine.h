#pragma once

// The command line of QV_Backup: runs stored jobs and the self-test without a
// window.

#include <string>
#include <vector>

namespace qvb {

enum class TCommand {
    Window,
    Help,
    Version,
    List,
    Run,
    SelfTest,
    Timers,
    History,
    Versions,
    Restore,
    // Not in the help: the process a run without a window leaves behind to
    // wait for a click on its notification.
    NoticeWait
};

struct TCommandLine {
    TCommand command = TCommand::Window;
    std::string iniFile;            // empty: the program's own storage
    // --run: keys or names, in run order; --history: at most one; --versions,
    // --restore: the one job.
    std::vector<std::string> jobs;
    // --versions: at most one; --restore: original paths in the job's sources.
    std::vector<std::string> paths;
    std::string versionName;        // --restore --version NAME
    std::string toDir;              // --restore --to DIR
    bool overwrite = false;         // --restore: differing files in the way are replaced
    bool allowMassDelete = false;   // --run: large deletions go ahead without asking
    bool preview = false;           // --run, --restore: show what would be done, write nothing
    // --run: said explicitly by the units of the background jobs; runs
    // without a window answer their questions so in any case.
    bool unattended = false;
    // The window: a kept run's protocol to show in "Frühere Protokolle".
    std::string showProtocol;
    std::string sourceRoot;         // --selftest: empty for the default roots
    std::string destRoot;
    uint32_t noticeId = 0;  // --notice-wait ID FILE (FILE in paths)
};

struct TParsedCommandLine {
    bool ok = false;
    TCommandLine line;
    std::string error;  // German, for standard error
};

// `args` without the program name. No command (at most --ini): the window.
TParsedCommandLine parseCommandLine(const std::vector<std::string>& args);

std::string helpText();

// Exit codes of the command line.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

}  // namespace qvb
