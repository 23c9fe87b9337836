#include "support/Tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qvb::test {

namespace {

void makeParents(const std::string& path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1))
        ::mkdir(path.substr(0, pos).c_str(), 0755);
}

void walk(const std::string& root, const std::string& rel, bool withTimes,
          std::map<std::string, std::string>& out) {
    DIR* d = ::opendir((root + rel).c_str());
    if (!d) return;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string relPath = rel + name;
        const std::string full = root + relPath;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0) continue;
        std::string time;
        if (withTimes)
            time =
                " @" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
        if (S_ISDIR(st.st_mode)) {
            out[relPath + "/"] = "dir";
            walk(root, relPath + "/", withTimes, out);
        } else if (S_ISLNK(st.st_mode)) {
            char buf[4096];
            const ssize_t n = ::readlink(full.c_str(), buf, sizeof buf);
            out[relPath] = "link:" + std::string(buf, n > 0 ? static_cast<size_t>(n) : 0) + time;
        } else if (S_ISREG(st.st_mode)) {
            out[relPath] = "file:" + readFile(full) + time;
        } else {
            out[relPath] = "special";
        }
    }
    ::closedir(d);
}

}  // namespace

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void setMtime(const std::string& path, time_t seconds, long nanoseconds) {
    struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("utimensat " + path);
}

void writeFile(const std::string& path, const std::string& content, time_t mtime) {
    makeParents(path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (mtime) setMtime(path, mtime);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void buildTree(const std::string& root, const std::vector<TNode>& nodes) {
    for (const TNode& n : nodes) {
        const std::string full = root + n.path;
        switch (n.kind) {
            case TNode::Dir:
                makeParents(full + "/");
                ::mkdir(full.c_str(), 0755);
                if (n.mode) ::chmod(full.c_str(), n.mode);
                break;
            case TNode::Link:
                makeParents(full);
                if (::symlink(n.content.c_str(), full.c_str()) != 0)
                    throw std::runtime_error("symlink " + full);
                break;
            case TNode::File:
                writeFile(full, n.content);
                if (n.mode) ::chmod(full.c_str(), n.mode);
                break;
        }
        if (n.mtime) setMtime(full, n.mtime, n.mtimeNsec);
    }
}

std::map<std::string, std::string> readTree(const std::string& root, bool withTimes) {
    std::map<std::string, std::string> out;
    walk(root.back() == '/' ? root : root + "/", "", withTimes, out);
    return out;
}

}  // namespace qvb::test
