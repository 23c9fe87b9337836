#include "ui/FileSystemRoots.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qvb {

namespace {

namespace fs = std::filesystem;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// mountinfo writes blanks, tabs, line feeds and backslashes of a path as "\040".
std::string decodeOctal(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
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

struct TMount {
    std::string point;
    std::string device;
};

// Field 5 is the mount point; the device follows the file system type after
// the lone "-".
std::vector<TMount> parseMounts(const std::string& mountinfo) {
    std::vector<TMount> mounts;
    std::istringstream lines(mountinfo);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string field; fields >> field;) f.push_back(field);
        size_t dash = 6;
        while (dash < f.size() && f[dash] != "-") ++dash;
        if (f.size() < 5 || dash + 2 >= f.size()) continue;
        mounts.push_back({decodeOctal(f[4]), decodeOctal(f[dash + 2])});
    }
    return mounts;
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
    for (const TMount& mount : parseMounts(mountinfo)) {
        if (!isVolumeFolder(mount.point)) continue;
        addRoot(roots, withoutTrailingSlash(mount.point), labelOf(mount.device, labelDir));
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
