#pragma once

// The steps of a job's storage operations, for the job list, which puts the
// records of all its jobs (and the options) together into one write of the
// store, so that a crash leaves either the old settings or the new ones.

#include <string>
#include <vector>

namespace qvb {

class TCopyJob;
class TQVOptions;
class TSettingsStore;

// Why the job's record cannot be kept in the store as it stands, in German,
// naming the job and the value; empty when it can.
std::string unstorableRecordReason(const TCopyJob& job, const TSettingsStore& store);

// The names of the values of a job's record, in the order they are written;
// "Quelle" stands for "Quelle0", "Quelle1", ...
std::vector<std::string> storedJobValueNames();

// Put the record into, or take it out of, the pending changes of the chosen
// store; nothing reaches the file before flushStore. The record must have
// passed unstorableRecordReason.
bool stageRecord(const TCopyJob& job, TQVOptions& options);
void stageRecordErase(const TCopyJob& job, TQVOptions& options);
// Writes only what a finished run changed (the last backup, the last
// destination once there is one, the interval folder it wrote) into the chosen
// store and writes the store out; whatever else the record holds stays as it is there.
bool storeRunResult(const TCopyJob& job, TQVOptions& options);
// Takes what a run from another process stored for the job (the values
// storeRunResult writes) when that run finished after the job's own last
// one, so that a save of the job list keeps it; true when it took them.
bool takeNewerRunResult(TCopyJob& job, TQVOptions& options);
// Writes the versions' notes alone: a run that did not finish may still have
// written into its version.
bool storeVersionRuns(const TCopyJob& job, TQVOptions& options);
// Writes the job's identifier alone into its record.
bool storeJobId(const TCopyJob& job, TQVOptions& options);

// Takes every record out of the chosen store but the options and the given
// keys (in the INI store the first section of each, in any letter case).
void stageKeepOnlyRecords(const std::vector<std::string>& jobKeys, TQVOptions& options);

}  // namespace qvb
