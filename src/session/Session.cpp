#include "session/Session.h"

#include <fcntl.h>
#include <sys/file.h>

#include <QFileInfo>
#include <QSettings>
#include <algorithm>
#include <cerrno>
#include <exception>
#include <optional>

#include "engine/CopyFile.h"
#include "engine/LogLevel.h"
#include "jobs/BU_Options.h"
#include "jobs/CopyJobList.h"
#include "jobs/CopyJobStorage.h"
#include "jobs/Versions.h"
#include "platform/DataFolder.h"
#include "platform/SettingsFolders.h"
#include "runcontrol/Scheduler.h"
#include "session/ProtocolHistory.h"
#include "util/EscapedText.h"
#include "util/Konstanten.h"
#include "util/QV_Basics.h"
#include "util/QV_Utils.h"
#include "util/Sys.h"

namespace qvb {

std::string protocolFileBeside(const std::string& settingsFile) {
    const size_t slash = settingsFile.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = settingsFile.rfind('.');
    const bool extension = dot != std::string::npos && dot > nameStart;
    return settingsFile.substr(0, extension ? dot : settingsFile.size()) + ".log";
}

std::string untrustedSettingsReason(const std::string& settingsFile) {
    settleUserEnvironment();
    return untrustedSettingsFolder(settingsFile);
}

std::string useSettingsFile(const std::string& settingsFile) {
    if (!settingsFile.empty()) setProgramIniFile(expandFileName(settingsFile));
    return settingsFileInUse();
}

std::string settingsFileInUse() {
    const std::string ini = programIniFileName();
    if (iniStorageForced() || QFileInfo::exists(QString::fromStdString(ini))) return ini;
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromLatin1(kOrganisation), QString::fromLatin1(kApplicationTitle))
        .fileName()
        .toStdString();
}

TSession::TSession(const std::string& settingsFile)
    : fSettingsFile(settingsFile.empty() ? std::string() : expandFileName(settingsFile)) {
    if (!fSettingsFile.empty()) setProgramIniFile(fSettingsFile);
    fControl.setRunHooks({[this](const TRunRecord& run) { runStarted(run); },
                          [this](const TRunRecord& run) { runEnded(run); }});
}

TSession::~TSession() {
    fProtocol.setSink({});
    if (fJobs && jobList() == fJobs.get()) setJobList(nullptr);
    if (fOptions && backupOptions() == fOptions.get()) setBackupOptions(nullptr);
}

std::string TSession::open() {
    const std::string unreadable =
        "Die Einstellungen in \"" + programIniFileName() + "\" können nicht gelesen werden.";
    try {
        fOptions = std::make_unique<TQV_BackupOptions>();
    } catch (const std::exception&) {
        return unreadable;
    }
    if (!fOptions->store().readable()) return unreadable;
    setBackupOptions(fOptions.get());
    try {
        fJobs = std::make_unique<TCopyJobList>(fOptions.get());
    } catch (const std::exception&) {
        return "Die JobList kann nicht erstellt werden.";
    }
    setJobList(fJobs.get());
    fJobs->loadJobs();
    hookJobs();
    return {};
}

void TSession::hookJobs() {
    for (int i = 0; i < fJobs->count(); ++i) hookJob(fJobs->getJob(i));
}

void TSession::hookJob(TCopyJob& job) {
    fControl.hookJob(job);
}

TCopyJob* TSession::findJob(const std::string& keyOrName, std::string& error) {
    std::vector<TCopyJob*> named;
    for (int i = 0; i < fJobs->count(); ++i) {
        TCopyJob& job = fJobs->getJob(i);
        const bool byId = !job.fJobId.empty() && job.fJobId == keyOrName;
        if (job.fJobKey == keyOrName || byId) return &job;
        if (job.fJobName == keyOrName) named.push_back(&job);
    }
    if (named.size() == 1) return named.front();
    if (named.empty()) {
        error = "Unbekannter Job: \"" + keyOrName + "\"";
        return nullptr;
    }
    std::string keys;
    for (const TCopyJob* job : named) keys += (keys.empty() ? "" : ", ") + job->fJobKey;
    error = "Mehrere Jobs heißen \"" + keyOrName + "\": " + keys +
            ". Bitte den Job mit seinem Schlüssel angeben.";
    return nullptr;
}

std::string TSession::jobListText() {
    std::string text;
    for (int i = 0; i < fJobs->count(); ++i) {
        const TCopyJob& job = fJobs->getJob(i);
        // A tab or line feed in a name must not make a field or a line of its own.
        text += escapeControls(job.fJobKey) + '\t' + escapeControls(job.fJobName) + '\t' +
                std::to_string(job.fInterval) + '\t' + (job.fActive ? "1" : "0") + '\t' +
                (job.fDelete ? "1" : "0") + '\t' + escapeControls(job.fDestination);
        for (const std::string& source : job.fSources) text += '\t' + escapeControls(source);
        text += '\n';
    }
    return text;
}

bool TSession::runJob(TCopyJob& job, TRunKind kind, TAnswers answers) {
    fControl.setCurrentJob(&job);
    return kind == TRunKind::Preview ? fControl.runPreview(job, answers)
                                     : fControl.runJob(job, answers);
}

bool TSession::storeRunResult(const TCopyJob& job) {
    return qvb::storeRunResult(job, *fOptions);
}

bool TSession::storeVersionRuns(const TCopyJob& job) {
    return qvb::storeVersionRuns(job, *fOptions);
}

bool TSession::runSelfTest(const TSelfTestRoots& roots) {
    TSelfTest test(fControl, roots);
    fKeepHistory = false;
    const bool passed = test.runAndReport();
    fKeepHistory = true;
    return passed;
}

// Like the protocol file: a settings file the user named keeps its history
// beside it (a portable setup carries it along), where that folder takes files.
std::string historyFolderInUse() {
    const bool beside = iniStorageForced() && isDirWritable(extractFilePath(programIniFileName()));
    return historyFolderFor(beside ? extractFilePath(programIniFileName()) : dataFolder(),
                            settingsFileInUse());
}

std::string TSession::historyFolder() const {
    return historyFolderInUse();
}

// A preview neither copies nor deletes: the computer may sleep. A run keeps
// it awake from its first change on; one that changes nothing never asks (nor
// loads what it takes to ask).
void TSession::runStarted(const TRunRecord& run) {
    if (run.preview || !run.job) return;
    run.job->setBeforeFirstChange([this] {
        if (const std::string reason = fSleepInhibitor.acquire(); !reason.empty() && logLevel() > 3)
            fProtocol.append(reason);
    });
}

void TSession::notice(TNotice notice, const std::string& historyFile) {
    const bool offer =
        (fShowProtocol || fLeaveWaiter) && !historyFile.empty() && noticeActionsOffered();
    if (offer) notice.actions.push_back(kShowProtocolAction);
    std::string trace;
    const uint32_t id = sendNotice(notice, trace);
    if (id == 0 && logLevel() > 3) fProtocol.append(trace);
    if (id == 0 || !offer) return;
    if (fLeaveWaiter) {
        fLeaveWaiter(id, historyFile);
        return;
    }
    // Notifications the user never closes must not gather without end.
    constexpr size_t kRemembered = 50;
    if (fNoticedRuns.size() >= kRemembered) fNoticedRuns.erase(fNoticedRuns.begin());
    fNoticedRuns.emplace_back(id, historyFile);
}

void TSession::showProtocolOnNoticeAction(std::function<void(const std::string&)> show) {
    fShowProtocol = std::move(show);
    const auto find = [this](uint32_t id) {
        return std::find_if(fNoticedRuns.begin(), fNoticedRuns.end(),
                            [id](const auto& run) { return run.first == id; });
    };
    fNoticeWatch = std::make_unique<TNoticeWatch>(
        [this, find](uint32_t id, const std::string& key) {
            const auto run = find(id);
            if (run == fNoticedRuns.end() || key != kShowProtocolAction.key || !fShowProtocol)
                return;
            const std::string file = run->second;
            fShowProtocol(file);
        },
        [this, find](uint32_t id, uint32_t) {
            if (const auto run = find(id); run != fNoticedRuns.end()) fNoticedRuns.erase(run);
        });
}

namespace {

// One value of the settings: the day and the jobs told overdue on it, so that
// the window and the background runs together tell each job once a day. Kept
// apart from the jobs' records: saving, exporting or renumbering a job never
// carries it, and it empties itself with the next day.
constexpr const char* kOverdueTold = "ÜberfälligGemeldet";

struct TOverdueTold {
    TDateTime day = 0;
    std::vector<std::string> jobs;
};

TOverdueTold readOverdueTold(TSettingsStore& store) {
    std::string text;
    if (store.readText(store.optionsRecord(), kOverdueTold, text) != TReadResult::Ok) return {};
    std::vector<std::string> fields;
    for (size_t from = 0, end = 0; end != std::string::npos; from = end + 1) {
        end = text.find(';', from);
        fields.push_back(text.substr(from, end == std::string::npos ? end : end - from));
    }
    const std::optional<TDateTime> day = parseGermanDateTime(fields.front());
    if (!day) return {};
    return {*day, {fields.begin() + 1, fields.end()}};
}

std::string overdueToldText(const TOverdueTold& told) {
    std::string text = formatGermanDate(told.day);
    for (const std::string& job : told.jobs) text += ";" + job;
    return text;
}

// The identifier stays with the job through renames and new keys.
std::string overdueMark(const TCopyJob& job) {
    return job.fJobId.empty() ? job.fJobKey : job.fJobId;
}

}  // namespace

void TSession::leaveWaiterForNoticeActions(
    std::function<void(uint32_t id, const std::string& historyFile)> leave) {
    fLeaveWaiter = std::move(leave);
}

std::vector<std::string> TSession::noticeOverdueJobs(TDateTime now,
                                                     const std::vector<const TCopyJob*>& leaveOut) {
    const TDateTime today = dateOf(now);
    std::vector<std::pair<const TCopyJob*, TDateTime>> due;
    for (int i = 0; i < fJobs->count(); ++i) {
        const TCopyJob& job = fJobs->getJob(i);
        if (std::find(leaveOut.begin(), leaveOut.end(), &job) != leaveOut.end()) continue;
        const std::optional<TDateTime> since = overdueSince(job, now);
        const bool seen = std::any_of(fOverdueTold.begin(), fOverdueTold.end(), [&](const auto& e) {
            return e.first == overdueMark(job) && e.second == today;
        });
        if (since && !seen) due.emplace_back(&job, *since);
    }
    if (due.empty()) return {};
    TSettingsStore& store = fOptions->store();
    // Nothing is pending here: the commit makes the registry store read what
    // other processes wrote (an INI file is read again when it changed).
    store.commit();
    TOverdueTold told = readOverdueTold(store);
    if (told.day != today) told = {today, {}};
    std::vector<std::string> toldNow;
    for (const auto& [job, since] : due) {
        const std::string mark = overdueMark(*job);
        std::erase_if(fOverdueTold, [&](const auto& e) { return e.first == mark; });
        fOverdueTold.emplace_back(mark, today);
        if (std::find(told.jobs.begin(), told.jobs.end(), mark) != told.jobs.end()) continue;
        notice({"Sicherung überfällig",
                "Backup-" + escapeControls(job->fJobKey) + " \"" + escapeControls(job->fJobName) +
                    "\": " + overdueText(since),
                {}});
        told.jobs.push_back(mark);
        toldNow.push_back(job->fJobKey);
    }
    // Settings that cannot be written: this process still tells each job once,
    // and the change must not stay pending for the next save.
    const std::function<void()> undo = fOptions->undoPoint();
    if (!toldNow.empty() &&
        !(store.writeText(store.optionsRecord(), kOverdueTold, overdueToldText(told)) &&
          store.commit()))
        undo();
    return toldNow;
}

// A preview changed nothing: keeping it would push real runs out.
void TSession::runEnded(const TRunRecord& run) {
    if (run.job) run.job->setBeforeFirstChange({});
    fSleepInhibitor.release();
    fLastHistoryFile.clear();
    if (run.preview || !fKeepHistory || !run.job) return;
    const auto& lines = fProtocol.lines();
    const size_t first = std::min(run.firstLine, lines.size());
    fLastHistoryFile =
        keepRunProtocol(historyFolder(), run.start, *run.job, std::span(lines).subspan(first));
    if (fLastHistoryFile.empty())
        fProtocol.append("Das Protokoll dieses Laufs konnte nicht in \"" + historyFolder() +
                         "\" aufbewahrt werden.");
    // Only a run nobody watched: the user saw the others end.
    const std::string verdict = runVerdict(*run.job);
    if (run.answers != TAnswers::Unattended || fRunsByHand || !verdictNeedsAttention(verdict))
        return;
    const std::string summary = verdict == "abgebrochen" ? "Sicherung abgebrochen"
                                : verdict == "Warnungen" ? "Sicherung mit Warnungen"
                                                         : "Sicherung mit Fehlern";
    notice({summary, escapeControls(run.job->fStatusText), {}}, fLastHistoryFile);
}

TRestoreOutcome TSession::restore(const TCopyJob& job, const std::string& what,
                                  const std::vector<TRestoreItem>& items, bool preview,
                                  const TRestoreEvents& events) {
    TRestoreOutcome outcome;
    auto log = [this](const std::string& line) { fProtocol.append(line); };
    const size_t firstLine = fProtocol.lines().size();
    const TDateTime startTime = nowDateTime();
    // Like a run's, a restore's protocol is kept (a preview's is not): what
    // came back, and what did not, is still there to read later.
    const auto keep = [&](const std::string& verdict, const TCopyStatistics& stats) {
        fLastHistoryFile.clear();
        if (preview) return;
        const auto& lines = fProtocol.lines();
        fLastHistoryFile =
            keepRestoreProtocol(historyFolder(), startTime, job, verdict, stats,
                                std::span(lines).subspan(std::min(firstLine, lines.size())));
        if (fLastHistoryFile.empty())
            log("Das Protokoll dieser Wiederherstellung konnte nicht in \"" + historyFolder() +
                "\" aufbewahrt werden.");
    };
    log(" ");
    log(formatGermanDateTime(nowDateTime()) +
        (preview ? ":  Vorschau (es wird nichts geschrieben) der Wiederherstellung aus Backup-"
                 : ":  Wiederherstellung aus Backup-") +
        job.fJobKey + " \"" + job.fJobName + "\"" + (what.empty() ? "" : ", Version " + what));
    log(std::string(85, '-'));
    const auto refuse = [&](const std::string& line) {
        log(line);
        outcome.verdict = "Die Wiederherstellung wurde wegen Fehler(n) abgebrochen.";
        log(outcome.verdict);
        log("");
        TCopyStatistics refused;
        refused.fErrors = 1;
        keep("Fehler", refused);
        return outcome;
    };
    for (const TRestoreItem& item : items)
        if (const std::string reason = refusedTarget(job, item.to); !reason.empty())
            return refuse("FEHLER:  " + reason);
    // Shared: restores may read side by side, a backup run waits for none of them.
    sys::UniqueFd lock(sys::open(job.fDestination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (lock.valid() && sys::flock(lock.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return refuse("FEHLER:  Das Zielverzeichnis \"" + job.fDestination +
                      "\" wird gerade von einer Sicherung benutzt; es wird nichts "
                      "wiederhergestellt.");
    TRestore restore;
    restore.fItems = items;
    restore.fTimeTolerance = job.fTimeTolerance;
    restore.fOnConflict = events.onConflict;
    restore.setPreview(preview);
    const auto drain = [this, &restore](TCopyIt*) {
        for (const std::string& line : restore.fCopier->takeMessages()) fProtocol.append(line);
        for (const std::string& line : restore.takeMessages()) fProtocol.append(line);
    };
    restore.setOnMessage(drain);
    restore.setOnProgress([&](TCopyIt*) {
        if (events.onProgress) events.onProgress(restore);
    });
    for (const TRestoreItem& item : items)
        log("stelle \"" + item.from + "\" nach \"" + item.to + "\" wieder her");
    // It writes into the user's folders: the computer must not sleep midway.
    if (!preview)
        if (const std::string reason = fSleepInhibitor.acquire(); !reason.empty() && logLevel() > 3)
            log(reason);
    fRestore = &restore;
    const bool ok = restore.Execute();
    fRestore = nullptr;
    fSleepInhibitor.release();
    drain(nullptr);
    outcome.cancelled = restore.fStatus == csCancelled;
    outcome.ok = ok;
    outcome.summary = restore.summaryLines();
    log("Ergebnis:");
    for (const std::string& line : outcome.summary) log(line);
    const std::string start = preview ? "Vorschau: Die Wiederherstellung" : "Die Wiederherstellung";
    outcome.verdict = outcome.cancelled ? start + " wurde vom Benutzer abgebrochen."
                      : restore.fStatistics.fErrors > 0
                          ? start + " wurde ausgeführt, aber es sind Fehler aufgetreten."
                      : restore.fStatistics.fWarnings > 0
                          ? start + " wurde ausgeführt, aber es sind Warnungen aufgetreten."
                          : start + " wurde erfolgreich ausgeführt.";
    log(outcome.verdict);
    log("");
    keep(runVerdict(restore), restore.fStatistics);
    return outcome;
}

void TSession::cancelRestore() {
    if (!fRestore) return;
    fRestore->setStatus(csCancelled);
    fProtocol.append("  ->  Vorgang abgebrochen!");
}

bool TSession::settingsFolderWritable() const {
    return isDirWritable(extractFilePath(programIniFileName()));
}

std::string TSession::protocolFile() const {
    return iniStorageForced() ? protocolFileBeside(programIniFileName()) : protocolFileName();
}

bool TSession::protocolWanted() const {
    return fOptions->Logging && !fProtocol.empty();
}

std::string TSession::saveProtocol() {
    std::vector<std::string> places{protocolFile()};
    if (protocolFileName() != places.front()) places.push_back(protocolFileName());
    if (!fProtocol.saveToFirstOf(places).empty()) return {};
    std::string names;
    for (const std::string& place : places) names += (names.empty() ? "\"" : ", \"") + place + '"';
    return "Das Protokoll konnte nicht gespeichert werden: " + names;
}

}  // namespace qvb
