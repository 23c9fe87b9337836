#pragma once

// All backup jobs of the program in their fixed order, which also gives their
// storage keys: "Job01" ... "Job99", "Job100" by position at each save.

#include <memory>
#include <string>
#include <vector>

#include "jobs/CopyJob.h"

namespace qvb {

class TQV_BackupOptions;

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
    TCopyJob& add(std::unique_ptr<TCopyJob> job);
    // Removes and destroys the job.
    void remove(int index);

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
    // Refused (the job stays) when the rest cannot be saved.
    bool deleteJob(int index);
    bool exportJobs();
    bool importJobs();

    // 1-based number of the selected job; 0 or below: none.
    int fCurrentJob = 0;
    // Why the last save failed, in German; empty after a good one.
    std::string fSaveError;

  private:
    TQV_BackupOptions* options() const;
    bool checkStorable(const TQV_BackupOptions& opts, bool withOptions, int skippedIndex);
    bool save(TQV_BackupOptions& opts, bool withOptions);

    TQV_BackupOptions* fOptions;
    std::vector<std::unique_ptr<TCopyJob>> fJobs;
    std::vector<std::unique_ptr<TCopyJob>> fStrays;  // handed out for bad indexes
};

// The program's one job list (set by whoever creates it; null before).
TCopyJobList* jobList();
void setJobList(TCopyJobList* list);

}  // namespace qvb
