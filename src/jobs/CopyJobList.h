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
    // options takes fCurrentJob (written with the options).
    bool saveJobs();
    bool exportJobs();
    bool importJobs();

    // 1-based number of the selected job; 0 or below: none.
    int fCurrentJob = 0;

  private:
    TQV_BackupOptions* options() const;

    TQV_BackupOptions* fOptions;
    std::vector<std::unique_ptr<TCopyJob>> fJobs;
    std::vector<std::unique_ptr<TCopyJob>> fStrays;  // handed out for bad indexes
};

// The program's one job list (set by whoever creates it; null before).
TCopyJobList* jobList();
void setJobList(TCopyJobList* list);

}  // namespace qvb
