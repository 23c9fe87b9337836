#pragma once

// One session of the program on one settings file, the same for the window
// and the command line: it owns the options, the job list, the protocol and
// the run control, finds and runs jobs, keeps what a finished run leaves in
// the store and saves the protocol where both faces look for it.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/Restore.h"
#include "runcontrol/Protocol.h"
#include "runcontrol/RunControl.h"
#include "selftest/QV_BackupTest.h"
#include "session/DesktopBus.h"

namespace qvb {

class TCopyJob;
class TCopyJobList;
class TQV_BackupOptions;

// The protocol file beside a settings file: its last extension replaced by
// ".log" ("/x/qvb.ini" gives "/x/qvb.log"). A name whose only dot is its first
// character has no extension to replace: "/x/.qvb" gives "/x/.qvb.log".
std::string protocolFileBeside(const std::string& settingsFile);

// Before any settings are read: settles the user's environment, then the
// German reason why the folders this start would read from (`settingsFile`'s,
// the data folder, the settings store's) must not be trusted; empty when
// they may. Jobs placed by another user would run with this user's rights.
std::string untrustedSettingsReason(const std::string& settingsFile);
// The file the settings are read from now: the program INI file when it is
// forced or exists, otherwise the user's settings store.
std::string settingsFileInUse();
// Where the runs of the settings in use keep their protocols: beside a
// settings file the user named, where its folder takes files, else in the
// data folder.
std::string historyFolderInUse();
// Makes `settingsFile` (when not empty) the program's settings file and gives
// the file the settings are going to be read from: that file when it is
// forced or exists, otherwise the user's settings store.
std::string useSettingsFile(const std::string& settingsFile);

enum class TRunKind { Backup, Preview };

// How one restore reports and asks.
struct TRestoreEvents {
    // After each file, with the operation's percentage and progress text.
    std::function<void(const TRestore& restore)> onProgress;
    // A differing file in the way; unset: it stays.
    std::function<TConflictAnswer(const std::string& from, const std::string& to)> onConflict;
};

// How a restore ended, for the exit status and the closing summary.
struct TRestoreOutcome {
    bool ok = false;  // gone through without errors, not cancelled, not refused
    bool cancelled = false;
    std::vector<std::string> summary;  // the "Ergebnis:" lines
    std::string verdict;
};

class TSession {
  public:
    // `settingsFile`: the file the user named, kept in whether it exists or
    // not; empty for the settings the program finds by itself. Nothing is
    // read before open().
    explicit TSession(const std::string& settingsFile = {});
    ~TSession();
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    // Reads the options and the jobs; the German reason when they cannot be
    // read, and nothing else of the session may be used then. Settings that
    // exist but cannot be read would look like settings without jobs, and
    // the next save would empty them.
    std::string open();

    TQV_BackupOptions& options() { return *fOptions; }
    TCopyJobList& jobs() { return *fJobs; }
    TProtocol& protocol() { return fProtocol; }
    TRunControl& control() { return fControl; }

    // Routes the events of every job (again, after an import) or of one new
    // job to the run control.
    void hookJobs();
    void hookJob(TCopyJob& job);

    // By key or identifier, else by name; null with the German reason in `error` when no
    // job or several jobs have that name.
    TCopyJob* findJob(const std::string& keyOrName, std::string& error);
    // The jobs as lines of tab-separated fields: key, name, interval, active,
    // delete, destination, sources.
    std::string jobListText();

    // Runs `job` to its end as the current job; true when it finished.
    bool runJob(TCopyJob& job, TRunKind kind, TAnswers answers);
    // Writes the values a finished run changed (the last backup, the last
    // destination) into the store, leaving the rest of the job's record as
    // it is there; false when the store could not be written.
    bool storeRunResult(const TCopyJob& job);
    // Only the notes on the versions, after a run that did not finish.
    bool storeVersionRuns(const TCopyJob& job);
    bool runSelfTest(const TSelfTestRoots& roots);

    // Brings `items` back from the backup of `job` (`what` names the version
    // in the protocol, when there is one). Holds the destination's run lock while it reads, so
    // no backup changes the files under it, and refuses targets inside the
    // backup; its lines go into the protocol like a run's.
    TRestoreOutcome restore(const TCopyJob& job, const std::string& what,
                            const std::vector<TRestoreItem>& items, bool preview,
                            const TRestoreEvents& events);
    bool restoring() const { return fRestore != nullptr; }
    void cancelRestore();

    // The settings file the user named, made absolute; empty for the
    // settings the program finds by itself.
    const std::string& namedSettingsFile() const { return fSettingsFile; }
    // Whether the folder of the settings file takes files.
    bool settingsFolderWritable() const;
    // Beside a settings file the user named, else in the data folder.
    std::string protocolFile() const;
    // Logging is on and there is something to save.
    bool protocolWanted() const;
    // Saves the protocol to protocolFile(), or where that fails into the data
    // folder; the German reason when neither took it.
    std::string saveProtocol();

    // Where every run of these settings keeps its own protocol (beside a
    // settings file the user named, else in the data folder), and the
    // file the last run kept there (empty when none was kept).
    std::string historyFolder() const;
    const std::string& lastHistoryFile() const { return fLastHistoryFile; }

    // The command line's runs are the user's own unless --unattended says
    // otherwise; the window's are when the user starts them.
    void setRunsByHand(bool byHand) { fRunsByHand = byHand; }
    // Tells the desktop about each overdue job (but those in `leaveOut`) once
    // a day, whichever process of these settings tells it first; the keys of
    // the jobs told now.
    std::vector<std::string> noticeOverdueJobs(TDateTime now,
                                               const std::vector<const TCopyJob*>& leaveOut = {});
    // For a window, which stays to take a click: the notices of its runs
    // offer "Protokoll anzeigen" where the desktop shows actions, and that
    // action hands the run's kept protocol file to `show`.
    void showProtocolOnNoticeAction(std::function<void(const std::string& historyFile)> show);
    // For a run without a window, which ends before a click could come: the
    // notices of its runs offer "Protokoll anzeigen" where the desktop shows
    // actions, and `leave` is given each such notification's number and the
    // run's kept protocol file, to leave a waiter for the click behind.
    void leaveWaiterForNoticeActions(
        std::function<void(uint32_t id, const std::string& historyFile)> leave);

  private:
    void runStarted(const TRunRecord& run);
    void runEnded(const TRunRecord& run);
    void notice(TNotice notice, const std::string& historyFile = {});

    std::string fSettingsFile;
    std::unique_ptr<TQV_BackupOptions> fOptions;
    std::unique_ptr<TCopyJobList> fJobs;
    TProtocol fProtocol;
    TRunControl fControl{fProtocol};
    // The self-test's runs are no backups of the user's.
    bool fKeepHistory = true;
    std::string fLastHistoryFile;
    TRestore* fRestore = nullptr;  // the restore going on, not owned
    bool fRunsByHand = false;
    TSleepInhibitor fSleepInhibitor;
    // Job (identifier, else key) and the day this process last saw it told
    // overdue: the store is asked once a day per job, not every second.
    std::vector<std::pair<std::string, TDateTime>> fOverdueTold;
    std::function<void(const std::string&)> fShowProtocol;
    std::unique_ptr<TNoticeWatch> fNoticeWatch;
    std::function<void(uint32_t, const std::string&)> fLeaveWaiter;
    // Notification number and the kept protocol its action opens.
    std::vector<std::pair<uint32_t, std::string>> fNoticedRuns;
};

}  // namespace qvb
