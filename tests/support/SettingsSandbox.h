#pragma once

// Points the user's settings store and data folder at fresh temporary folders
// for the lifetime of the object, so no test ever reads or writes the real
// user's settings. Header-only: only test programs that link Qt include it.

#include <sys/stat.h>

#include <QSettings>
#include <QString>
#include <cstdlib>
#include <string>

#include "platform/DataFolder.h"
#include "support/TempDir.h"

namespace qvb::test {

class SettingsSandbox {
  public:
    SettingsSandbox() {
        ::setenv("XDG_CONFIG_HOME", fConfig.path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", fData.path().c_str(), 1);
        // QSettings takes the folder once per process; tell it again each time.
        const QString config = QString::fromStdString(fConfig.path());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
        // Nor the machine's system-wide settings.
        const QString system = QString::fromStdString(fSystem.path());
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, system);
        QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, system);
        ::mkdir(dataFolder().c_str(), 0700);
        setDataFolder(dataFolder());
        setProgramIniFile("");
    }
    ~SettingsSandbox() {
        setDataFolder("");
        setProgramIniFile("");
    }
    SettingsSandbox(const SettingsSandbox&) = delete;
    SettingsSandbox& operator=(const SettingsSandbox&) = delete;

    const std::string& configHome() const { return fConfig.path(); }
    // Where the system-wide settings are looked for.
    const std::string& systemConfig() const { return fSystem.path(); }
    // The data folder the program uses in the sandbox (not created).
    std::string dataFolder() const { return fData.path() + "QV_Backup/"; }
    std::string registryFile() const { return fConfig.path() + "Nerk/QV_Backup.conf"; }

  private:
    TempDir fConfig{"qvb-config"};
    TempDir fData{"qvb-data"};
    TempDir fSystem{"qvb-system"};
};

}  // namespace qvb::test
