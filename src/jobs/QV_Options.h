#pragma once

// The general program options: window geometry and protocol settings, and the
// stores through which options and job records are kept. Which store is used
// is decided once, when the object is made: the program INI file when it
// exists (or was given on the command line), otherwise the user's registry
// store.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/IniFile.h"
#include "platform/RegistryStore.h"

namespace qvb {

class TQVOptions;
using TOptionsEvent = std::function<void(TQVOptions* sender)>;

// The name under which the options are kept: the INI section; in the registry
// store they are the values of the top level.
inline constexpr const char* kOptionsSection = "Options";

class TQVOptions {
  public:
    // Program INI file and export file come from the data folder.
    TQVOptions();
    TQVOptions(std::string iniFileName, std::string exportFileName, bool forceIniFile = false);
    virtual ~TQVOptions();
    TQVOptions(const TQVOptions&) = delete;
    TQVOptions& operator=(const TQVOptions&) = delete;

    // Each returns false on failure, after queuing the error line.
    virtual bool loadOptions();
    virtual bool saveOptions();
    virtual bool importOptions();
    // Replaces the export file by one holding only the options.
    virtual bool exportOptions();

    // The steps of a save, for a caller that saves the options together with
    // the jobs as one write of the store. stageOptions changes nothing and
    // returns false when a value cannot be stored: the German reason, naming
    // the value, comes from unstorableOptionReason (empty when all can).
    std::string unstorableOptionReason(const TSettingsStore& store) const;
    bool stageOptions();
    // The store chosen for options and jobs.
    TSettingsStore& store() const;
    // Writes the pending changes of the chosen store: one replace of its file.
    bool flushStore() { return store().commit(); }
    // What puts the chosen store back as it is now, pending changes dropped.
    std::function<void()> undoPoint() { return store().undoPoint(); }
    // The file behind the chosen store (for messages).
    std::string storeFileName() const { return store().storeFileName(); }

    std::unique_ptr<TRegistryStore> fRegistry;
    std::string fIniFileName;
    std::unique_ptr<TIniFile> fIniFile;
    bool fUseIniFile = false;
    std::string fExportFileName;
    std::unique_ptr<TIniFile> fExportFile;

    bool Logging = false;
    uint8_t LogLevel = 1;
    int32_t WinMainTop = 0;
    int32_t WinMainLeft = 0;
    int32_t WinMainHeight = 600;
    int32_t WinMainWidth = 600;
    // Kept for the backup program: the last directories chosen and the
    // selected job.
    std::string LastSrcDir;
    std::string LastDestDir;
    int32_t CurrentJob = 0;
    // Automatic jobs run from systemd user timers also while no window is open.
    bool Background = false;

    std::vector<std::string> fMessages;
    TOptionsEvent OnMessage;

    // Sets LogLevel and hands it to the copy engine.
    void setLogLevel(int level);

  protected:
    // For derived classes, which load once they are complete.
    struct NoLoad {};
    TQVOptions(std::string iniFileName, std::string exportFileName, bool forceIniFile, NoLoad);
    // The load of a new object; raises OnMessage for whatever it queued.
    void loadAtCreation();
    void addMessages(std::initializer_list<const char*> lines);

  private:
    void setDefaults();
    // Reads the values of the options record in table order, from `first`
    // up to `last`; false at one that is required but cannot be read.
    bool readValues(TSettingsStore& from, size_t first, size_t last);
    bool writeValues(TSettingsStore& to) const;
};

}  // namespace qvb
