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

bool giveJobIds(TSession& session) {
    std::set<std::string> taken;
    bool stored = true;
    for (int i = 0; i < session.jobs().count(); ++i) {
        TCopyJob& job = session.jobs().getJob(i);
        if (job.fJobId.empty() || taken.count(job.fJobId)) {
            job.fJobId = newJobId();
            stored = storeJobId(job, session.options()) && stored;
        }
        taken.insert(job.fJobId);
    }
    return stored;
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
    const std::string ini = session.namedSettingsFile();
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

std::string userUnitFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string base =
        config && *config ? config : std::string(home ? home : "") + "/.config";
    return base + "/systemd/user/";
}

TTimerSync syncTimers(TSession& session, const std::string& unitFolder,
                      const std::string& program) {
    TTimerSync sync;
    if (!giveJobIds(session))
        sync.error = "Die Kennungen der Jobs konnten nicht gespeichert werden.";
    const fs::path folder(unitFolder);
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::map<std::string, TJobUnits> wanted = wantedUnits(session, program);
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
    reached = systemctl({"daemon-reload"}) && reached;
    for (const auto& [base, units] : wanted)
        reached = systemctl({"enable", "--now", base + ".timer"}) && reached;
    sync.managerReached = reached;
    return sync;
}

}  // namespace qvb
