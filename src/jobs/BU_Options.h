#pragma once

// The options of the backup program: the options of every program plus the
// last directories chosen and the selected job.

#include <cstdint>
#include <string>

#include "jobs/QV_Options.h"

namespace qvb {

class TQV_BackupOptions : public TQVOptions {
  public:
    TQV_BackupOptions();
    TQV_BackupOptions(std::string iniFileName, std::string exportFileName,
                      bool forceIniFile = false);
};

// The program's one options object (set by whoever creates it; null before).
TQV_BackupOptions* backupOptions();
void setBackupOptions(TQV_BackupOptions* options);

}  // namespace qvb
