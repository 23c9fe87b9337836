#pragma once

// Where the user's own folders are and whether the program may trust them.
// Started without HOME (cron with `env -i`, some service managers) the
// program must still find the user's folders, never a folder such as /tmp
// that any other user can make first and fill with jobs of their own.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace qvb {

// Sets HOME from the password database when it is unset, empty or not
// absolute, and drops relative XDG_CONFIG_HOME and XDG_DATA_HOME (the XDG
// rules ignore them), so that the settings store follows the same folders.
void settleUserEnvironment();

// $XDG_DATA_HOME when it is absolute, else `home`/.local/share, each followed
// by "QV_Backup/".
std::string userDataFolderFor(const char* xdgDataHome, const std::string& home);

// The German reason why `folder`, as `st` describes it, must not hold the
// settings or the protocol of user `user`: another owner, or write permission
// for others or for a group other than `privateGroup`, the user's own group
// of one member (umask 002 systems give it write permission everywhere).
std::string untrustedFolderReason(const std::string& folder, const struct stat& st, uid_t user,
                                  gid_t privateGroup);

// The user's primary group when it is named after the user and has no other
// members, else (gid_t)-1.
gid_t userPrivateGroup();

// The same for the folders this start would read from: the folder of the
// settings file given with --ini (`iniFile`, may be empty), the data folder,
// and the settings store's folder when it exists.
std::string untrustedSettingsFolder(const std::string& iniFile);

}  // namespace qvb
