#pragma once

// Tells a destination on a disk that is not plugged in from one on a mounted
// file system. An empty mount point folder lies on the system disk, so a
// backup created there would silently fill the wrong disk.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace qvb {

// Where the mount tables are read and which folders hold the mount points of
// removable media; tests point them at their own files and folders.
struct TMountTables {
    std::string fstab = "/etc/fstab";
    std::string mountinfo = "/proc/self/mountinfo";
    std::vector<std::string> mediaRoots{"/media/", "/run/media/"};
};

// The mount point (with a trailing "/") that `path` needs but that is not
// mounted: a mount point of fstab at or above `path` that no mounted file
// system covers, or a media root whose file system still holds the nearest
// existing folder of `path`. Empty when `path` lies on a mounted file system
// or in an ordinary folder. `path` is absolute.
std::optional<std::string> missingMount(const std::string& path, const TMountTables& tables);

// True when `path` lies on a file system reached over the network (NFS,
// SMB/CIFS, sshfs and other FUSE mounts, AFS, Ceph, 9P), where one copy at a
// time keeps the order of writes and spares the server. False when unknown.
bool onNetworkFileSystem(const std::string& path);

// True for a file system that keeps file times in 2-second steps (FAT).
bool storesTwoSecondSteps(const std::string& path);

// True when the file system of `path` keeps file times in local time (FAT,
// also through FUSE): its times move by the clock's offset when daylight-saving
// time begins or ends. `tables.mountinfo` names FUSE mounts.
bool storesLocalTime(const std::string& path, const TMountTables& tables = {});
// The same decision from the statfs type and the mount table's type field
// ("vfat", "fuse.fusefat").
bool isLocalTimeType(unsigned long fsType, const std::string& mountType);
// The file system type of `path` as the mount table names it ("ext4",
// "vfat", "fuse.sshfs"); empty when unknown.
std::string fileSystemType(const std::string& path, const TMountTables& tables = {});
// The type field of the mount that holds the absolute `path` in a mountinfo table; empty when none.
std::string mountTypeOf(const std::string& mountinfo, const std::string& path);

// Whether the file system of `folder` takes two names that differ only in
// letter case for one (exFAT, FAT, SMB, NTFS through FUSE): a probe file is
// created there, looked up in capitals and removed again, and the folder gets
// its times back. Empty when the probe cannot tell (not writable).
std::optional<bool> namesIgnoreCase(const std::string& folder);

// The type name ("proc", "sysfs", "devtmpfs", ...) of the kernel's own file
// system that the folder open at `fd`, lying on device `dev`, belongs to: its
// entries are no user data, and some never end. Empty for any other file system.
std::string pseudoFileSystemType(int fd, dev_t dev);

// One line of a mountinfo table, its fields unescaped.
struct TMountEntry {
    std::string device;  // "major:minor"
    std::string point;   // the mount point, without a trailing "/"
    std::string type;    // "ext4", "fuse.sshfs"
    std::string source;  // "/dev/sdb1", "server:/share"
};
// The lines of a mountinfo table in its order; broken lines are left out.
std::vector<TMountEntry> parseMountInfo(const std::string& mountinfo);

// The mount point field of a mount table: "\040" and the like stand for
// blanks, tabs, newlines and backslashes.
std::string unescapeMountField(const std::string& field);

}  // namespace qvb
