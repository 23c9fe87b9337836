#include "ui/FileSystemRoots.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "util/Mounts.h"

namespace qvb {

namespace {

namespace fs = std::filesystem;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// udev writes unsafe characters of a label as "\x20".
std::string decodeHex(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
            hexDigit(name[i + 2]) >= 0 && hexDigit(name[i + 3]) >= 0) {
            out += static_cast<char>(hexDigit(name[i + 2]) * 16 + hexDigit(name[i + 3]));
            i += 3;
        } else {
            out += name[i];
        }
    }
    return out;
}

bool isAtOrBelow(const std::string& path, const std::string& base) {
    if (base == "/") return true;
    return path == base || (path.size() > base.size() && path.compare(0, base.size(), base) == 0 &&
                            path[base.size()] == '/');
}

bool isVolumeFolder(const std::string& mountPoint) {
    return isAtOrBelow(mountPoint, "/media") || isAtOrBelow(mountPoint, "/run/media") ||
           isAtOrBelow(mountPoint, "/mnt");
}

std::string folderName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string labelOf(const std::string& device, const std::string& labelDir) {
    std::error_code error;
    const fs::path target = fs::canonical(device, error);
    if (error) return {};
    for (fs::directory_iterator it(labelDir, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        std::error_code linkError;
        if (fs::canonical(it->path(), linkError) == target && !linkError)
            return decodeHex(it->path().filename().string());
    }
    return {};
}

void addRoot(std::vector<TFileSystemRoot>& roots, const std::string& path,
             const std::string& name) {
    for (const TFileSystemRoot& root : roots)
        if (root.path == path) return;
    roots.push_back({path, name.empty() ? folderName(path) : name});
}

}  // namespace

std::vector<TFileSystemRoot> fileSystemRoots(const std::string& mountinfo, const std::string& home,
                                             const std::string& labelDir) {
    std::vector<TFileSystemRoot> roots{{"/", "/"}};
    if (!home.empty() && home[0] == '/') addRoot(roots, withoutTrailingSlash(home), {});
    for (const TMountEntry& mount : parseMountInfo(mountinfo)) {
        if (!isVolumeFolder(mount.point)) continue;
        addRoot(roots, withoutTrailingSlash(mount.point), labelOf(mount.source, labelDir));
    }
    return roots;
}

std::vector<TFileSystemRoot> systemFileSystemRoots() {
    std::ifstream file("/proc/self/mountinfo");
    std::stringstream text;
    text << file.rdbuf();
    const char* home = std::getenv("HOME");
    return fileSystemRoots(text.str(), home ? home : "", "/dev/disk/by-label");
}

std::string rootOf(const std::string& path, const std::vector<TFileSystemRoot>& roots) {
    std::string best = "/";
    for (const TFileSystemRoot& root : roots)
        if (isAtOrBelow(path, root.path) && root.path.size() > best.size()) best = root.path;
    return best;
}

std::string displayText(const TFileSystemRoot& root) {
    return root.path == "/" ? root.path : root.name + "  (" + root.path + ")";
}

}  // namespace qvb
