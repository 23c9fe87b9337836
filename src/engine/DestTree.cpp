#include "engine/DestTree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "util/QV_Basics.h"

namespace qvb {

namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW;

std::string withoutTrailingSlash(const std::string& rel) {
    return !rel.empty() && rel.back() == '/' ? rel.substr(0, rel.size() - 1) : rel;
}

int removeAllBelow(int dirFd, const std::string& name, const std::string& rel,
                   const TRemoved& removed) {
    struct stat st {};
    if (sys::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) {
        if (sys::unlinkat(dirFd, name.c_str(), 0) != 0) return errno;
        removed(rel, false);
        return 0;
    }
    sys::UniqueFd fd(sys::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!fd.valid()) return errno;
    sys::DirStream dir(sys::fdopendir(fd.get()));
    if (!dir.valid()) return errno;
    fd.release();
    std::vector<std::string> names;
    while (const struct dirent* item = sys::readdir(dir.get())) {
        const std::string child = item->d_name;
        if (child != "." && child != "..") names.push_back(child);
    }
    if (errno != 0) return errno;
    int first = 0;
    for (const std::string& child : names) {
        const int err = removeAllBelow(::dirfd(dir.get()), child, rel + "/" + child, removed);
        if (first == 0) first = err;
    }
    if (first != 0) return first;
    if (sys::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) return errno;
    removed(rel + "/", true);
    return 0;
}

}  // namespace

bool runningAsRoot() {
    static const bool root = ::geteuid() == 0;
    return root;
}

int removeAllAt(int dirFd, const std::string& name, const TRemoved& removed) {
    return removeAllBelow(dirFd, name, name, removed);
}

bool TDestTree::open(const std::string& base) {
    close();
    fBase.reset(sys::open(base.c_str(), O_PATH | O_DIRECTORY));
    fBasePath = base;
    return fBase.valid();
}

void TDestTree::close() {
    forget();
    fBase.reset();
}

void TDestTree::forget() {
    fFd.reset();
    fRel.clear();
}

int TDestTree::folder(const std::string& rel) {
    bool created = false;
    return walk(rel, false, created);
}

int TDestTree::makeFolder(const std::string& rel, bool& created) {
    created = false;
    return walk(rel, true, created);
}

int TDestTree::walk(const std::string& relPath, bool create, bool& created) {
    if (!fBase.valid()) return errno = EBADF, -1;
    const std::string rel = withoutTrailingSlash(relPath);
    if (rel.empty()) return fBase.get();
    if (fFd.valid() && rel == fRel) return fFd.get();
    forget();
    // One call where the kernel has openat2 (ENOSYS costs one more call per
    // folder where it has not); missing folders are made one at a time.
    fFd.reset(sys::openBeneath(fBase.get(), rel.c_str(), kFolderFlags));
    if (fFd.valid()) {
        fRel = rel;
        return fFd.get();
    }
    if (errno != ENOSYS && !(create && errno == ENOENT)) return -1;
    sys::UniqueFd current;
    int at = fBase.get();
    for (size_t begin = 0; begin <= rel.size();) {
        const size_t end = std::min(rel.find('/', begin), rel.size());
        const std::string name = rel.substr(begin, end - begin);
        if (name.empty() || name == "." || name == "..") return errno = EINVAL, -1;
        // The parent stays open until its child is: `at` is that parent.
        sys::UniqueFd next(sys::openat(at, name.c_str(), kFolderFlags));
        if (!next.valid() && errno == ENOENT && create) {
            if (sys::mkdirat(at, name.c_str(), 0700) == 0)
                created = true;
            else if (errno != EEXIST)
                return -1;
            next.reset(sys::openat(at, name.c_str(), kFolderFlags));
        }
        if (!next.valid()) return -1;
        current = std::move(next);
        at = current.get();
        begin = end + 1;
    }
    fFd = std::move(current);
    fRel = rel;
    return fFd.get();
}

int TDestTree::parentOf(const std::string& name, std::string& last) {
    const std::string path = withoutTrailingSlash(name);
    last = extractFileName(path);
    return folder(extractFilePath(path));
}

int TDestTree::removeFile(const std::string& name) {
    std::string last;
    const int dir = parentOf(name, last);
    const auto notThere = [](int err) { return err == ENOENT || err == ENOTDIR || err == ELOOP; };
    if (dir < 0) return notThere(errno) ? ENOENT : errno;
    struct stat st {};
    if (sys::fstatat(dir, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return notThere(errno) ? ENOENT : errno;
    if (S_ISDIR(st.st_mode)) return ENOENT;
    return sys::unlinkat(dir, last.c_str(), 0) == 0 ? 0 : errno;
}

bool TDestTree::removeDir(const std::string& rel) {
    std::string last;
    const std::string path = withoutTrailingSlash(rel);
    if (fRel.compare(0, path.size(), path) == 0) forget();
    const int dir = parentOf(path, last);
    return dir >= 0 && sys::unlinkat(dir, last.c_str(), AT_REMOVEDIR) == 0;
}

int TDestTree::removeAll(const std::string& name, const TRemoved& removed) {
    std::string last;
    const std::string path = withoutTrailingSlash(name);
    if (fRel.compare(0, path.size(), path) == 0) forget();
    const int dir = parentOf(path, last);
    if (dir < 0) return errno;
    const std::string folderPart = extractFilePath(path);
    return removeAllAt(dir, last, [&](const std::string& rel, bool isFolder) {
        removed(folderPart + rel, isFolder);
    });
}

int TDestTree::setMode(const std::string& name, mode_t mode) {
    std::string last;
    if (withoutTrailingSlash(name).empty())
        return sys::chmod(fBasePath.c_str(), mode) == 0 ? 0 : errno;
    const int dir = parentOf(name, last);
    if (dir < 0) return errno;
    return sys::fchmodat(dir, last.c_str(), mode, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int TDestTree::setOwner(const std::string& name, uid_t uid, gid_t gid) {
    std::string last;
    if (withoutTrailingSlash(name).empty())
        return sys::fchownat(fBase.get(), "", uid, gid, AT_EMPTY_PATH) == 0 ? 0 : errno;
    const int dir = parentOf(name, last);
    if (dir < 0) return errno;
    return sys::fchownat(dir, last.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

}  // namespace qvb
