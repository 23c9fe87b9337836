#include "util/QV_Basics.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "util/Sys.h"

namespace qvb {

std::string parentDir(const std::string& text, char delimiter) {
    if (text.size() <= 1) return text;
    for (size_t i = text.size() - 1; i-- > 0;)
        if (text[i] == delimiter) return text.substr(0, i + 1);
    return text;
}

std::string includeTrailingDelimiter(const std::string& path) {
    if (!path.empty() && path.back() == '/') return path;
    return path + '/';
}

std::string excludeTrailingDelimiter(const std::string& path) {
    if (path.size() > 1 && path.back() == '/') return path.substr(0, path.size() - 1);
    return path;
}

std::string extractFilePath(std::string_view path) {
    const size_t pos = path.rfind('/');
    return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos + 1));
}

std::string extractFileName(std::string_view path) {
    const size_t pos = path.rfind('/');
    return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string concat(std::string_view a, std::string_view b) {
    std::string out;
    out.reserve(a.size() + b.size());
    out.append(a).append(b);
    return out;
}

std::string expandFileName(const std::string& path) {
    if (path.empty()) return path;
    std::string full = path;
    if (full[0] != '/') {
        std::string cwd(4096, '\0');
        while (!::getcwd(cwd.data(), cwd.size())) cwd.resize(cwd.size() * 2);
        cwd.resize(cwd.find('\0'));
        full = includeTrailingDelimiter(cwd) + full;
    }
    const bool trailing = full.back() == '/';
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= full.size()) {
        size_t end = full.find('/', start);
        if (end == std::string::npos) end = full.size();
        const std::string part = full.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& p : parts) result += '/' + p;
    if (result.empty()) return "/";
    if (trailing) result += '/';
    return result;
}

std::string nearestExistingAncestor(const std::string& path) {
    std::string current = expandFileName(path);
    for (;;) {
        struct stat st {};
        if (sys::stat(current.c_str(), &st) == 0) return current;
        if (current == "/") return current;
        current = parentDir(current);
    }
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && sys::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRealDirectory(const std::string& path) {
    struct stat st {};
    const std::string folder = excludeTrailingDelimiter(path);
    return !folder.empty() && sys::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool forceDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (isDirectory(path)) return true;
    const std::string folder = excludeTrailingDelimiter(path);
    if (sys::mkdir(folder.c_str(), 0777) == 0) return true;
    if (errno == EEXIST) return isDirectory(folder);
    if (errno != ENOENT) return false;
    const std::string parent = extractFilePath(folder);
    if (parent.empty() || parent.size() >= folder.size() || !forceDirectories(parent)) return false;
    return sys::mkdir(folder.c_str(), 0777) == 0 || (errno == EEXIST && isDirectory(folder));
}

bool isSameDrive(const std::string& pathA, const std::string& pathB) {
    struct stat a {
    }, b{};
    if (sys::stat(nearestExistingAncestor(pathA).c_str(), &a) != 0) return false;
    if (sys::stat(nearestExistingAncestor(pathB).c_str(), &b) != 0) return false;
    return a.st_dev == b.st_dev;
}

}  // namespace qvb
