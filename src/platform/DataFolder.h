#pragma once

// Where the program keeps its own files: the program INI file, the export
// file and the protocol. That is the executable's folder when it is writable
// (portable use) and the program is not installed there (no AppStream file in
// the prefix's share folder), otherwise $XDG_DATA_HOME/QV_Backup/ (by default
// ~/.local/share/QV_Backup/), created when first asked for.

#include <string>

namespace qvb {

// The data folder, with a trailing "/".
std::string dataFolder();
// The choice for a given executable folder (exposed for tests).
std::string dataFolderFor(const std::string& executableFolder);
// Sets the data folder (tests); an empty text returns to the automatic choice.
void setDataFolder(const std::string& folder);

// "QV_Backup.ini", "QV_Backup.export.ini" and "QV_Backup.log" in the data
// folder; the program INI file may be set explicitly instead.
std::string programIniFileName();
std::string exportFileName();
std::string protocolFileName();

// The command line's "--ini FILE": FILE is the program INI file and the
// settings are kept in it whether or not it exists yet. An empty text returns
// to the default.
void setProgramIniFile(const std::string& fileName);
bool iniStorageForced();

}  // namespace qvb
