#pragma once

// All backup jobs of the program in their fixed order, which also gives their
// storage keys: "Job01" ... "Job99", "Job100" by position at each save.

#include <memory>
#include <string>
#include <vector>

#include "jobs/CopyJob.h"

namespace qvb {

class TQV_BackupOptions;

// What an import did: how many jobs of the file it read, and how many of them
// matched no job of the list and were appended.
struct TImportResult {
    int imported = 0;
    int appended = 0;
};

// "Job" + the 1-based number, two digits at least.
std::string jobKeyFor(int number);
// The order in which stored records load: numbered records ("Job" + number,
// any letter case) by number, then the others in the order given; "Options"
// and a name repeated in another letter case are left out.
std::vector<std::string> jobRecordOrder(const std::vector<std::string>& names);

class TCopyJobList {
  public:
    // Without options the program's options object is used.
    explicit TCopyJobList(TQV_BackupOptions* options = nullptr);
    ~TCopyJobList();
    TCopyJobList(const TCopyJobList&) = delete;
    TCopyJobList& operator=(const TCopyJobList&) = delete;

    int count() const { return static_cast<int>(fJobs.size()); }
    // The job at a 0-based index. A bad index shows "Datensatz <i> nicht in
    // JobList enthalten!" and gives a fresh job outside the list (kept alive
    // by the list until it goes).
    TCopyJob& getJob(int index);
    int indexOf(const TCopyJob* job) const;
    // A job without a key gets a free one, so that it has its record in an
    // export and its key in a run's header before the first save.
    TCopyJob& add(std::unique_ptr<TCopyJob> job);
    // Removes and destroys the job.
    void remove(int index);

    // Whether a job other than `except` is called `name`.
    bool nameTaken(const std::string& name, const TCopyJob* except = nullptr) const;
    // "Job_" + the first number from count + 1 on that no job is called.
    std::string freeJobName() const;
    // The first key from count + 1 on that no job has (in any letter case).
    std::string freeJobKey() const;

    // Creates one job per stored record (the list is not emptied first);
    // returns the number of jobs in the list, 0 when the records could not be
    // listed.
    int loadJobs();
    // Renumbers the keys by position and writes every job; CurrentJob of the
    // options takes fCurrentJob (written with the options). Afterwards the
    // store holds the options and exactly the records Job01 ... of the list.
    // Every value is checked first: one that cannot be stored refuses the
    // whole save, leaves the store as it was and sets fSaveError. The store
    // is written once (one replace of its file).
    bool saveJobs();
    // The same, with the options in the same write.
    bool saveJobsAndOptions();
    // The window's delete command: erases the records of all jobs, removes
    // the job and saves the rest renumbered, all in one write of the store.
    // Refused when the rest cannot be saved: list, keys and store stay as
    // they were.
    bool deleteJob(int index);
    // Erases only the record of the job and removes it; the others keep their
    // keys. Refused like deleteJob when the store cannot be written.
    bool eraseJob(int index);
    // Every job into the export file; false (and fSaveError) when one cannot
    // be written.
    bool exportJobs();
    // Why the export file cannot be imported, in German; empty when it can.
    std::string importRefusal() const;
    // Each job of the export file goes to the job of the list with its name
    // (a name that several jobs of the list share: the one with the file's
    // key); jobs of the file that match none are appended, jobs of the list
    // that the file does not name stay as they are.
    TImportResult importJobs();

    // 1-based number of the selected job; 0 or below: none.
    int fCurrentJob = 0;
    // Why the last save failed, in German; empty after a good one.
    std::string fSaveError;

  private:
    TQV_BackupOptions* options() const;
    bool checkStorable(const TQV_BackupOptions& opts, bool withOptions, int skippedIndex);
    bool save(TQV_BackupOptions& opts, bool withOptions, int skippedIndex = -1);
    TCopyJob* importTarget(const std::string& section, const std::string& name,
                           std::vector<bool>& matched, bool byKey);

    TQV_BackupOptions* fOptions;
    std::vector<std::unique_ptr<TCopyJob>> fJobs;
    std::vector<std::unique_ptr<TCopyJob>> fStrays;  // handed out for bad indexes
};

// The program's one job list (set by whoever creates it; null before).
TCopyJobList* jobList();
void setJobList(TCopyJobList* list);

}  // namespace qvb
