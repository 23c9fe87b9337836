#include "jobs/ProtectedFolders.h"

#include <array>
#include <string_view>

#include "util/HomeFolder.h"
#include "util/QV_Basics.h"

namespace qvb {

namespace {

constexpr std::array<std::string_view, 21> kSystemFolders = {
    "/",    "/home", "/root",    "/usr",   "/etc",  "/var",       "/boot",
    "/opt", "/srv",  "/bin",     "/sbin",  "/proc", "/sys",       "/dev",
    "/run", "/tmp",  "/var/tmp", "/media", "/mnt",  "/run/media", "/lib",
};

// "/a/b/", "/a/./b", "/a/c/../b" all give "/a/b"; "/" stays "/".
std::string normalised(const std::string& path) {
    const std::string full = expandFileName(path);
    return full == "/" ? full : excludeTrailingDelimiter(full);
}

// /lib, /lib32, /lib64, /libx32 and whatever else the system keeps there.
bool isLibraryFolder(const std::string& path) {
    return path.rfind("/lib", 0) == 0 && path.find('/', 1) == std::string::npos;
}

bool isSystemFolder(const std::string& path) {
    for (std::string_view folder : kSystemFolders)
        if (path == folder) return true;
    return isLibraryFolder(path);
}

// True when `folder` is `inner` or lies above it.
bool contains(const std::string& folder, const std::string& inner) {
    if (folder == "/" || folder == inner) return true;
    return inner.size() > folder.size() && inner.compare(0, folder.size(), folder) == 0 &&
           inner[folder.size()] == '/';
}

std::string refusal(const std::string& destination, const std::string& reason) {
    return "Das Ziel \"" + destination + "\" ist nicht erlaubt: " + reason +
           ". Bitte einen eigenen Ordner für die Sicherung wählen.";
}

}  // namespace

std::string protectedDestinationError(const std::string& destination) {
    if (destination.empty()) return {};
    const std::string path = normalised(destination);
    const std::string home = homeFolder();
    if (!home.empty()) {
        const std::string homePath = normalised(home);
        if (path == homePath) return refusal(destination, "es ist der Benutzerordner");
        if (contains(path, homePath)) return refusal(destination, "es enthält den Benutzerordner");
    }
    if (isSystemFolder(path)) return refusal(destination, "es ist ein Systemordner");
    return {};
}

}  // namespace qvb
