#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/CopyIt.h"
#include "jobs/Schedule.h"
#include "util/DateTime.h"
#include "util/Mounts.h"
#include "util/Sys.h"

namespace qvb {

class TCopyFolder;

// One source entry of a job is the directory followed by "=1" (active) or
// "=0" (inactive). The flag is taken after the LAST "=", because a Linux
// directory name may itself contain "=".
std::string sourceEntryDirectory(const std::string& entry);
bool sourceEntryActive(const std::string& entry);
std::string makeSourceEntry(const std::string& directory, bool active);

// The one spelling of an absolute destination: "//", "/./" and ".." resolved,
// with a trailing "/". Anything else (a relative path, "E:\Backup\" made on
// Windows) stays as written, so that the run can refuse it.
std::string normalizedDestination(const std::string& directory);

// True when `folder` is `ancestor` or lies below it; false when either does
// not exist.
bool isAtOrBelow(const std::string& folder, const std::string& ancestor);

// The end of a job's closing sentence for the status it ended with: " wurde
// erfolgreich ausgeführt." and the like; empty for idle and running.
std::string verdictText(TCopyStatus status, const TCopyStatistics& statistics);

// The question a run asks before it backs up onto the source's own file system.
std::string sameDriveQuestion();

// --- Storage of job records (CopyJobStorage.cpp) ---------------------------
class TQVOptions;
class TCopyJob;
// Removes one value of the job's record (the window drops "Quelle" + row when
// a source goes). A job without a key has no record: true, nothing done.
// Without options the program's options object is used.
bool deleteStorageValue(TCopyJob& job, const std::string& valueName);
bool deleteStorageValue(TCopyJob& job, const std::string& valueName, TQVOptions& options);
// Rewrites the stored source values of the job's record from fSources (the
// window drops a source this way) and removes the stored ones beyond them;
// the other values of the record stay as stored. No record: true, nothing done.
bool saveSourcesToStorage(TCopyJob& job);
bool saveSourcesToStorage(TCopyJob& job, TQVOptions& options);
// --- end of storage -------------------------------------------------------

// One backup job: what to back up, where to and when. Execute mirrors every
// active source into the destination (or its interval subfolder) with the
// job's own folder mirror and ends with a one-line verdict in fStatusText.
class TCopyJob : public TCopyIt {
  public:
    TCopyJob();
    ~TCopyJob() override;

    bool Execute() override;

    // Stores interval and start time and recomputes fNextRun and
    // fIntervalFolder from the current time.
    void setSchedule(TJobInterval interval, TDateTime startTime);
    void setInterval(TJobInterval interval) { setSchedule(interval, fStartTime); }
    void setStartTime(TDateTime startTime) { setSchedule(fInterval, startTime); }
    void updateSchedule() { setSchedule(fInterval, fStartTime); }
    // Minutes until the next automatic run, 0 when it is due now or the job runs
    // by hand only. Moves fNextRun on by one period once it has passed.
    int32_t minutesToNextRun();

    // See normalizedDestination; the mirror's destination follows.
    void setDestination(const std::string& directory);
    int sourceCount() const { return static_cast<int>(fSources.size()); }

    // Steps of Execute.
    bool checkDestination();
    bool checkSource(const std::string& source);
    // Clock difference local minus destination in days when the destination
    // lies on a network file system, measured with a probe file there alone
    // (a source is never written; a network source counts as 0); 0 otherwise;
    // empty when the probe file could not be written (the error is logged and counted).
    virtual std::optional<TDateTime> measureClockOffset();

    // --- Storage of the job's record (CopyJobStorage.cpp) -------------------
    // The record lives where the options say: a section of the program INI
    // file or a group of the registry store, named fJobKey. Without options
    // the program's options object is used (false when there is none).
    // loadFromStorage returns false when a required value is missing or of
    // the wrong type; what was read before it stays.
    bool loadFromStorage();
    bool loadFromStorage(TQVOptions& options);
    bool saveToStorage();
    bool saveToStorage(TQVOptions& options);
    bool deleteFromStorage();
    bool deleteFromStorage(TQVOptions& options);
    // The job's section of the export file.
    bool exportToIni();
    bool exportToIni(TQVOptions& options);
    bool importFromIni();
    bool importFromIni(TQVOptions& options);
    // The record of another section of the export file; the key stays.
    bool importFromIni(TQVOptions& options, const std::string& section);
    // --- end of storage ---------------------------------------------------

    std::string fJobKey;
    // Stays with the job through renames and the renumbering of keys: the
    // background timers of the job are named after it.
    std::string fJobId;
    std::string fJobName = "CopyJob";
    std::string fDestination;
    std::vector<std::string> fSources;
    TJobInterval fInterval = kIntervalOnce;
    TDateTime fStartTime = 0;
    TDateTime fEndTime = 0;
    int fWeekday = 0;
    bool fActive = false;
    TDateTime fLastBackup = 0;
    // When the job last finished a run without errors ("LetzterFehlerfreierLauf");
    // 0 for none stored yet: then fLastBackup stands for it.
    TDateTime fLastCleanRun = 0;
    std::string fExclude;
    std::string fIncludeOnly;
    std::string fSkipFolders;
    bool fContentOnly = false;
    int fTimeTolerance = 2;
    TDateTime fNextRun = 0;
    // The interval subfolder of the next scheduled run.
    std::string fIntervalFolder;
    // The interval subfolder the current or last run writes into.
    std::string fRunIntervalFolder;
    // The destination of the job's last finished run ("LetztesZiel"), empty
    // when it never finished one. Deletion elsewhere needs a confirmation:
    // a new or changed destination may hold the user's own files.
    std::string fLastDestination;
    // Files unchanged since the job's previous finished run become links to
    // their copies in the interval folder that run wrote ("Platzsparen").
    bool fSaveSpace = false;
    // The interval subfolder the job's last finished run wrote
    // ("LetzterIntervallordner"), empty for none or a job run once.
    std::string fLastIntervalFolder;
    // When runs last wrote each version and how they ended ("Versionen",
    // see jobs/Versions.h).
    std::string fVersionRuns;
    bool fDone = false;
    int fActiveSourceCount = 0;
    // Run property, not stored: a deletion of more than half the files of a
    // destination (and more than 50) goes ahead without asking.
    bool fAllowMassDelete = false;
    std::unique_ptr<TCopyFolder> fCopyFolder;
    // Where checkDestination learns which disks are mounted.
    TMountTables fMountTables;

    // The run ended as csDone or csWarnings at `when`: the last backup, and
    // the last clean run when it had no errors.
    void noteFinishedRun(TDateTime when);

  protected:
    // Seam for tests: whether `path` lies on a network file system.
    virtual bool isNetworkDrive(const std::string& path) const;

  private:
    void prepareMirror();
    // The mirror's threads for this run, as the environment sets them.
    void chooseThreads();
    // Sources at or below the destination, which its scans must never enter;
    // the active ones are refused with an error.
    std::vector<std::string> refuseSourcesInDestination(const std::vector<std::string>& sources);
    void shareDestination(const std::vector<std::string>& sources,
                          const std::vector<std::string>& refused);
    bool mirrorSource(const std::string& source);
    std::string mirrorDestination(const std::string& source) const;
    std::string mirrorDestination(const std::string& source, const std::string& folder) const;
    // The mirror's destination in the interval folder of the previous run, or empty.
    std::string previousDestination(const std::string& source) const;
    void applyClockOffset();
    void logResult();
    void failWith(const std::string& text, const std::string& boxText);
    void refuseWith(const std::string& text);
    bool lockDestination(sys::UniqueFd& lock);
    bool createDestination();
    void countMirrorFailure(int mirrorErrors);
    std::optional<double> probeDestination(const std::string& directory, const std::string& name);
    void noteKeptTime(const std::string& directory, double missed);
    // The destination keeps file times only in steps (FAT: 2 seconds; whole seconds).
    bool fCoarseDestTimes = false;
    // The warning about a destination that keeps no file times was given in this run.
    bool fTimesWarned = false;
};

}  // namespace qvb
