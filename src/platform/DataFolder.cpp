#include "platform/DataFolder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "platform/SettingsFolders.h"
#include "util/HomeFolder.h"
#include "util/QV_Basics.h"
#include "util/QV_Utils.h"
#include "util/Sys.h"

namespace qvb {

namespace {

std::mutex gMutex;
std::optional<std::string> gDataFolder;  // chosen or set folder
std::string gIniFile;                    // set by --ini

std::string executableFolder() {
    std::string target;
    if (sys::readlink("/proc/self/exe", target) <= 0) return {};
    return extractFilePath(target);
}

std::string userDataFolder() {
    return userDataFolderFor(std::getenv("XDG_DATA_HOME"), homeFolder());
}

// Creates the folder and its missing parents (mode 0700 for what is new).
void makeFolders(const std::string& folder) {
    for (size_t pos = 1; pos < folder.size(); ++pos) {
        if (folder[pos] != '/') continue;
        const std::string part = folder.substr(0, pos);
        if (sys::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
    }
}

// An installed program (its AppStream file beside it in PREFIX/share) is not a
// portable one: a user install in ~/.local/bin would otherwise fill that folder
// with settings and protocol files.
bool isInstalled(const std::string& exeFolder) {
    struct stat st {};
    const std::string marker =
        includeTrailingDelimiter(exeFolder) + "../share/metainfo/de.nerk.QV_Backup.metainfo.xml";
    return sys::stat(marker.c_str(), &st) == 0;
}

}  // namespace

std::string dataFolderFor(const std::string& exeFolder) {
    if (!exeFolder.empty() && !isInstalled(exeFolder) && isDirWritable(exeFolder))
        return includeTrailingDelimiter(exeFolder);
    const std::string folder = userDataFolder();
    makeFolders(folder);
    return folder;
}

std::string dataFolder() {
    std::lock_guard lock(gMutex);
    if (!gDataFolder) gDataFolder = dataFolderFor(executableFolder());
    return *gDataFolder;
}

void setDataFolder(const std::string& folder) {
    std::lock_guard lock(gMutex);
    if (folder.empty())
        gDataFolder.reset();
    else
        gDataFolder = includeTrailingDelimiter(folder);
}

std::string programIniFileName() {
    {
        std::lock_guard lock(gMutex);
        if (!gIniFile.empty()) return gIniFile;
    }
    return dataFolder() + "QV_Backup.ini";
}

std::string exportFileName() {
    return dataFolder() + "QV_Backup.export.ini";
}

std::string protocolFileName() {
    return dataFolder() + "QV_Backup.log";
}

void setProgramIniFile(const std::string& fileName) {
    std::lock_guard lock(gMutex);
    gIniFile = fileName.empty() ? std::string() : expandFileName(fileName);
}

bool iniStorageForced() {
    std::lock_guard lock(gMutex);
    return !gIniFile.empty();
}

}  // namespace qvb
