#include "platform/SettingsFolders.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/DataFolder.h"
#include "util/HomeFolder.h"
#include "util/QV_Basics.h"
#include "util/Sys.h"

namespace qvb {

namespace {

bool isAbsolute(const char* path) {
    return path && path[0] == '/';
}

std::string settingsStoreFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const std::string base = isAbsolute(xdg) ? std::string(xdg) : homeFolder() + "/.config";
    return includeTrailingDelimiter(base) + "Nerk/";
}

}  // namespace

void settleUserEnvironment() {
    if (!isAbsolute(std::getenv("HOME"))) {
        const std::string home = homeFolder();
        if (!home.empty()) ::setenv("HOME", home.c_str(), 1);
    }
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"})
        if (std::getenv(name) && !isAbsolute(std::getenv(name))) ::unsetenv(name);
}

std::string userDataFolderFor(const char* xdgDataHome, const std::string& home) {
    const std::string base =
        isAbsolute(xdgDataHome) ? std::string(xdgDataHome) : home + "/.local/share";
    return includeTrailingDelimiter(base) + "QV_Backup/";
}

gid_t userPrivateGroup() {
    const struct passwd* user = ::getpwuid(::geteuid());
    if (!user) return static_cast<gid_t>(-1);
    const std::string name = user->pw_name;
    const gid_t gid = user->pw_gid;
    const struct group* group = ::getgrgid(gid);
    if (!group || name != group->gr_name) return static_cast<gid_t>(-1);
    for (char** member = group->gr_mem; *member; ++member)
        if (name != *member) return static_cast<gid_t>(-1);
    return gid;
}

std::string untrustedFolderReason(const std::string& folder, const struct stat& st, uid_t user,
                                  gid_t privateGroup) {
    const bool groupMayWrite = (st.st_mode & S_IWGRP) != 0 && st.st_gid != privateGroup;
    if (st.st_uid != user)
        return "Der Ordner \"" + folder +
               "\" gehört einem anderen Benutzer; Einstellungen und Protokoll werden dort nicht "
               "gelesen.";
    if (groupMayWrite || (st.st_mode & S_IWOTH) != 0)
        return "Der Ordner \"" + folder +
               "\" ist für andere Benutzer beschreibbar; Einstellungen und Protokoll werden dort "
               "nicht gelesen.";
    return {};
}

std::string untrustedSettingsFolder(const std::string& iniFile) {
    std::vector<std::string> folders;
    if (!iniFile.empty()) folders.push_back(extractFilePath(expandFileName(iniFile)));
    folders.push_back(dataFolder());
    folders.push_back(settingsStoreFolder());
    for (const std::string& folder : folders) {
        struct stat st {};
        if (folder.empty() || sys::stat(folder.c_str(), &st) != 0) continue;
        const std::string reason =
            untrustedFolderReason(folder, st, ::geteuid(), userPrivateGroup());
        if (!reason.empty()) return reason;
    }
    return {};
}

}  // namespace qvb
