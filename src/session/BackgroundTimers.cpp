#include "session/BackgroundTimers.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "jobs/BU_Options.h"
#include "jobs/CopyJobList.h"
#include "jobs/CopyJobStorage.h"
#include "session/Session.h"
#include "session/TimerUnits.h"

extern char** environ;

namespace qvb {

namespace {

namespace fs = std::filesystem;

std::string newJobId() {
    std::random_device random;
    char buf[20];
    std::snprintf(buf, sizeof buf, "%08x%08x", random(), random());
    return buf;
}

// Quietly: what systemctl says is summed up in one German line.
bool systemctl(const std::vector<std::string>& args) {
    std::vector<std::string> words{"systemctl", "--user"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "systemctl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (rc != 0 || ::waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeIfChanged(const fs::path& path, const std::string& text, bool& changed) {
    changed = !fs::exists(path) || fileText(path) != text;
    if (!changed) return true;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

// Base name to units of every job that should have them.
std::map<std::string, TJobUnits> wantedUnits(TSession& session, const std::string& program) {
    std::map<std::string, TJobUnits> wanted;
    if (!session.options().Background) return wanted;
    const std::string settings = session.options().storeFileName();
    // The INI file in use, whether it was named or found in the data folder:
    // the service must read the very settings the window shows.
    const std::string ini =
        session.options().fUseIniFile ? fs::absolute(settings).lexically_normal().string() : "";
    for (int i = 0; i < session.jobs().count(); ++i) {
        const TCopyJob& job = session.jobs().getJob(i);
        if (!job.fActive) continue;
        TJobUnits units = jobUnits(job, job.fJobId, program, settings, ini);
        if (!units.timer.empty()) wanted[units.baseName] = std::move(units);
    }
    return wanted;
}

// The base names of the timers of this settings file that lie in `folder`.
std::set<std::string> presentUnits(const fs::path& folder, const std::string& prefix) {
    std::set<std::string> present;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        for (const char* suffix : {".timer", ".service"})
            if (name.size() > std::string(suffix).size() &&
                name.compare(name.size() - std::string(suffix).size(), std::string::npos, suffix) ==
                    0)
                present.insert(name.substr(0, name.size() - std::string(suffix).size()));
    }
    return present;
}

}  // namespace

std::vector<TCopyJob*> giveMissingJobIds(TCopyJobList& jobs) {
    std::set<std::string> taken;
    std::vector<TCopyJob*> given;
    for (int i = 0; i < jobs.count(); ++i) {
        TCopyJob& job = jobs.getJob(i);
        if (job.fJobId.empty() || taken.count(job.fJobId)) {
            job.fJobId = newJobId();
            given.push_back(&job);
        }
        taken.insert(job.fJobId);
    }
    return given;
}

bool userManagerReachable() {
    return systemctl({"show", "--property=Version"});
}

std::set<std::string> jobIdsWithTimers(TSession& session, const std::string& unitFolder) {
    std::set<std::string> ids;
    const std::string settings = session.options().storeFileName();
    std::error_code ec;
    for (int i = 0; i < session.jobs().count(); ++i) {
        const std::string& id = session.jobs().getJob(i).fJobId;
        if (!id.empty() &&
            fs::exists(fs::path(unitFolder) / (unitBaseName(settings, id) + ".timer"), ec))
            ids.insert(id);
    }
    return ids;
}

namespace {

// A word for the shell cron hands its lines to.
std::string shellWord(const std::string& word) {
    std::string out = "'";
    for (const char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

std::string cronAdvice(TSession& session, const TCopyJob* job, const std::string& program) {
    std::string command = shellWord(program);
    if (session.options().fUseIniFile)
        command += " --ini " + shellWord(session.options().storeFileName());
    const std::string name = job && !job->fJobName.empty() ? job->fJobName : "Fotos";
    // cron ends a command at an unescaped "%".
    std::string line = "0 20 * * * " + command + " --run " + shellWord(name) + " --unattended";
    std::string escaped;
    for (const char c : line) escaped += c == '%' ? std::string("\\%") : std::string(1, c);
    return "Automatische Jobs können bei geschlossenem Fenster nur mit dem Dienstverwalter des "
           "Benutzers (systemd, \"systemctl --user\") ausgeführt werden, und der ist hier nicht "
           "erreichbar.\r\n\r\nStattdessen kann cron einen Job zu festen Zeiten starten; "
           "eine Zeile wie diese (mit \"crontab -e\" eingetragen) startet ihn jeden Tag um "
           "20:00 Uhr:\r\n\r\n" +
           escaped +
           "\r\n\r\nVerpasste Läufe (Rechner aus) holt cron nicht nach. Die README beschreibt "
           "beides genauer.";
}

namespace {

bool giveJobIds(TSession& session) {
    bool stored = true;
    for (TCopyJob* job : giveMissingJobIds(session.jobs()))
        stored = storeJobId(*job, session.options()) && stored;
    return stored;
}

}  // namespace

std::string userUnitFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string base =
        config && *config ? config : std::string(home ? home : "") + "/.config";
    return base + "/systemd/user/";
}

TTimerSync syncTimers(TSession& session, const std::string& unitFolder, const std::string& program,
                      TTellManager tell) {
    TTimerSync sync;
    // Identifiers are written into the settings only where units need them.
    if (session.options().Background && !giveJobIds(session))
        sync.error = "Die Kennungen der Jobs konnten nicht gespeichert werden.";
    const fs::path folder(unitFolder);
    std::error_code ec;
    const std::map<std::string, TJobUnits> wanted = wantedUnits(session, program);
    if (!wanted.empty()) fs::create_directories(folder, ec);
    const std::string prefix = unitBaseName(session.options().storeFileName(), "");
    bool reached = true;
    for (const std::string& base : presentUnits(folder, prefix)) {
        if (wanted.count(base)) continue;
        reached = systemctl({"disable", "--now", base + ".timer"}) && reached;
        fs::remove(folder / (base + ".timer"), ec);
        fs::remove(folder / (base + ".service"), ec);
        sync.report.push_back("Timer entfernt: " + base + ".timer");
    }
    for (const auto& [base, units] : wanted) {
        bool timerChanged = false, serviceChanged = false;
        if (!writeIfChanged(folder / (base + ".timer"), units.timer, timerChanged) ||
            !writeIfChanged(folder / (base + ".service"), units.service, serviceChanged)) {
            sync.error = "Die Timer-Datei \"" + (folder / base).string() +
                         ".timer\" kann nicht geschrieben werden.";
            continue;
        }
        if (timerChanged || serviceChanged)
            sync.report.push_back("Timer geschrieben: " + base + ".timer");
    }
    if (tell == TTellManager::OnChange && sync.report.empty()) return sync;
    reached = systemctl({"daemon-reload"}) && reached;
    for (const auto& [base, units] : wanted)
        reached = systemctl({"enable", "--now", base + ".timer"}) && reached;
    sync.managerReached = reached;
    return sync;
}

}  // namespace qvb
