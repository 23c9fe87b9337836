#pragma once

// The places the directory choice starts from: the file system's root, the
// home folder and the removable or extra volumes the system mounted.

#include <string>
#include <vector>

namespace qvb {

struct TFileSystemRoot {
    std::string path;  // without a trailing "/", except "/" itself
    std::string name;  // the volume's label, else the folder's name
};

// "/", `home`, then every mount point at or below /media, /run/media and /mnt
// from the text of /proc/self/mountinfo, each once. Labels are looked up in
// `labelDir` (normally /dev/disk/by-label).
std::vector<TFileSystemRoot> fileSystemRoots(const std::string& mountinfo, const std::string& home,
                                             const std::string& labelDir);

// The same for the running system.
std::vector<TFileSystemRoot> systemFileSystemRoots();

// The root of `roots` that `path` lies on: the one with the longest matching
// leading folders ("/" when none other matches).
std::string rootOf(const std::string& path, const std::vector<TFileSystemRoot>& roots);

// "Backup  (/media/anna/Backup)"; "/" alone for the root.
std::string displayText(const TFileSystemRoot& root);

}  // namespace qvb
