#include "engine/DestTree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

#include "engine/CopyFile.h"
#include "util/QV_Basics.h"

namespace qvb {

namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW;
// What a dry tree hands out for a folder that only a run would make; never
// used to write, since a preview writes nothing.
constexpr int kDryFolder = 0x7FFFFFFF;

std::string withoutTrailingSlash(const std::string& rel) {
    return !rel.empty() && rel.back() == '/' ? rel.substr(0, rel.size() - 1) : rel;
}

// Root writes into any folder; a user's own read-only folder needs its write
// bit before anything inside it changes.
bool needsWriteBit(const struct stat& st) {
    const uid_t user = ::geteuid();
    return S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR) && st.st_uid == user && user != 0;
}

// A read-only folder that is emptied gets its write bit, and its mode back
// when it stays after all.
struct TEmptiedFolder {
    TEmptiedFolder(int fd, const struct stat& st, bool dry)
        : fd(fd),
          mode(st.st_mode & 07777),
          unlocked(!dry && needsWriteBit(st) && sys::fchmod(fd, mode | S_IWUSR) == 0) {}
    TEmptiedFolder(const TEmptiedFolder&) = delete;
    TEmptiedFolder& operator=(const TEmptiedFolder&) = delete;
    ~TEmptiedFolder() {
        if (unlocked && !gone) sys::fchmod(fd, mode);
    }
    const int fd;
    const mode_t mode;
    const bool unlocked;
    bool gone = false;
};

int removeAllBelow(int dirFd, const std::string& name, const std::string& rel,
                   const TRemoved& removed, bool dry) {
    struct stat st {};
    if (sys::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) {
        if (!dry && sys::unlinkat(dirFd, name.c_str(), 0) != 0) return errno;
        removed(rel, false);
        return 0;
    }
    sys::UniqueFd fd(sys::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!fd.valid()) return errno;
    sys::DirStream dir(sys::fdopendir(fd.get()));
    if (!dir.valid()) return errno;
    fd.release();
    TEmptiedFolder emptied(::dirfd(dir.get()), st, dry);
    std::vector<std::string> names;
    while (const struct dirent* item = sys::readdir(dir.get())) {
        const std::string child = item->d_name;
        if (child != "." && child != "..") names.push_back(child);
    }
    if (errno != 0) return errno;
    int first = 0;
    for (const std::string& child : names) {
        const int err = removeAllBelow(::dirfd(dir.get()), child, rel + "/" + child, removed, dry);
        if (first == 0) first = err;
    }
    if (first != 0) return first;
    if (!dry && sys::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) return errno;
    emptied.gone = true;
    removed(rel + "/", true);
    return 0;
}

}  // namespace

int linkAt(int fromDir, const std::string& existing, int dirFd, const std::string& name) {
    // A link is made whole at once: a free name needs no temporary one.
    if (sys::linkat(fromDir, existing.c_str(), dirFd, name.c_str()) == 0) return 0;
    if (errno != EEXIST) return errno;
    static std::atomic<unsigned> counter{0};
    std::string temp;
    for (int attempt = 0;; ++attempt) {
        temp = std::string(kTempFilePrefix) + "link-" + std::to_string(::getpid()) + "-" +
               std::to_string(++counter);
        if (sys::linkat(fromDir, existing.c_str(), dirFd, temp.c_str()) == 0) break;
        if (errno != EEXIST || attempt == 100) return errno;
    }
    int err = sys::renameat(dirFd, temp.c_str(), dirFd, name.c_str()) == 0 ? 0 : errno;
    // A rename onto another name of the same file leaves both names.
    sys::unlinkat(dirFd, temp.c_str(), 0);
    return err;
}

bool runningAsRoot() {
    static const bool root = ::geteuid() == 0;
    return root;
}

int removeAllAt(int dirFd, const std::string& name, const TRemoved& removed) {
    return removeAllBelow(dirFd, name, name, removed, false);
}

bool TDestTree::open(const std::string& base) {
    close();
    fGone.clear();
    fMade.clear();
    fFilled.clear();
    fBase.reset(sys::open(base.c_str(), O_PATH | O_DIRECTORY));
    fBaseMissing = fDry && !fBase.valid() && errno == ENOENT;
    fBasePath = base;
    return fBase.valid();
}

void TDestTree::close() {
    std::string failed;
    restoreModes(failed);
    forget();
    fBase.reset();
}

bool TDestTree::unlockFolder(int dirFd, const std::string& rel) {
    struct stat st {};
    if (fDry || sys::fstat(dirFd, &st) != 0 || !needsWriteBit(st)) return false;
    // The tree's descriptors are O_PATH, which fchmod refuses.
    const sys::UniqueFd fd(sys::openat(dirFd, ".", O_RDONLY | O_DIRECTORY));
    const mode_t mode = st.st_mode & 07777;
    if (!fd.valid() || sys::fchmod(fd.get(), mode | S_IWUSR) != 0) return false;
    fUnlocked.emplace_back(withoutTrailingSlash(rel), mode);
    return true;
}

// A folder that went meanwhile needs nothing back.
int TDestTree::restoreModes(std::string& failed) {
    int first = 0;
    for (const auto& [rel, mode] : fUnlocked) {
        const int err = setMode(rel, mode);
        if (err == 0 || err == ENOENT || first != 0) continue;
        first = err;
        failed = rel;
    }
    fUnlocked.clear();
    return first;
}

int TDestTree::writeIn(int dirFd, const std::string& rel, const std::function<int()>& write) {
    beforeWrite();
    const int err = write();
    return err == EACCES && unlockFolder(dirFd, rel) ? write() : err;
}

void TDestTree::forget() {
    fFd.reset();
    fRel.clear();
}

int TDestTree::folder(const std::string& rel) {
    bool created = false;
    return fDry ? dryWalk(rel, false, created) : walk(rel, false, created);
}

int TDestTree::makeFolder(const std::string& rel, bool& created) {
    created = false;
    return fDry ? dryWalk(rel, true, created) : walk(rel, true, created);
}

bool TDestTree::gone(const std::string& path) const {
    if (fGone.empty()) return false;
    for (size_t pos = path.find('/'); pos != std::string::npos; pos = path.find('/', pos + 1))
        if (fGone.count(path.substr(0, pos)) || fGone.count(path.substr(0, pos + 1))) return true;
    return fGone.count(path) || fGone.count(path + "/");
}

// A folder in place of a removed name, or below a missing base, is one a run
// would make; its parents are then the run's too.
int TDestTree::dryWalk(const std::string& relPath, bool create, bool& created) {
    const std::string rel = withoutTrailingSlash(relPath);
    if (fBaseMissing && rel.empty()) return kDryFolder;
    if (fMade.count(rel)) return kDryFolder;
    if (!fBaseMissing && !gone(rel)) {
        const int fd = walk(rel, false, created);
        if (fd >= 0 || errno != ENOENT || !create) return fd;
    } else if (!create) {
        return errno = ENOENT, -1;
    }
    for (size_t pos = rel.find('/'); pos != std::string::npos; pos = rel.find('/', pos + 1))
        fMade.insert(rel.substr(0, pos));
    fMade.insert(rel);
    created = true;
    return kDryFolder;
}

void TDestTree::noteWritten(const std::string& name) {
    fGone.erase(name);
    for (size_t pos = name.find('/'); pos != std::string::npos; pos = name.find('/', pos + 1))
        fFilled.insert(name.substr(0, pos));
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
            const int err = writeIn(at, rel.substr(0, begin), [&] {
                return sys::mkdirat(at, name.c_str(), 0700) == 0 ? 0 : errno;
            });
            if (err == 0)
                created = true;
            else if (err != EEXIST)
                return errno = err, -1;
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
    bool created = false;
    return walk(extractFilePath(path), false, created);
}

int TDestTree::removeFile(const std::string& name) {
    if (fDry) return dryRemoveFile(name);
    std::string last;
    const int dir = parentOf(name, last);
    const auto notThere = [](int err) { return err == ENOENT || err == ENOTDIR || err == ELOOP; };
    if (dir < 0) return notThere(errno) ? ENOENT : errno;
    struct stat st {};
    if (sys::fstatat(dir, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return notThere(errno) ? ENOENT : errno;
    if (S_ISDIR(st.st_mode)) return ENOENT;
    return writeIn(dir, extractFilePath(withoutTrailingSlash(name)),
                   [&] { return sys::unlinkat(dir, last.c_str(), 0) == 0 ? 0 : errno; });
}

int TDestTree::dryRemoveFile(const std::string& name) {
    if (fBaseMissing || gone(name)) return ENOENT;
    std::string last;
    const int dir = parentOf(name, last);
    struct stat st {};
    if (dir < 0 || sys::fstatat(dir, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        S_ISDIR(st.st_mode))
        return ENOENT;
    fGone.insert(name);
    return 0;
}

bool TDestTree::dryRemoveDir(const std::string& path) {
    if (fBaseMissing || gone(path) || fFilled.count(path) || fMade.count(path) ||
        !holdsOnlyGone(path))
        return false;
    fGone.insert(path + "/");
    return true;
}

bool TDestTree::holdsOnlyGone(const std::string& path) {
    bool created = false;
    const int at = walk(path, false, created);
    if (at < 0) return false;
    sys::UniqueFd fd(sys::openat(at, ".", O_RDONLY | O_DIRECTORY));
    sys::DirStream dir(fd.valid() ? sys::fdopendir(fd.get()) : nullptr);
    if (!dir.valid()) return false;
    fd.release();
    while (const struct dirent* item = sys::readdir(dir.get())) {
        const std::string child = item->d_name;
        if (child == "." || child == "..") continue;
        if (!fGone.count(path + "/" + child) && !fGone.count(path + "/" + child + "/"))
            return false;
    }
    return errno == 0;
}

bool TDestTree::removeDir(const std::string& rel) {
    std::string last;
    const std::string path = withoutTrailingSlash(rel);
    if (fDry) return dryRemoveDir(path);
    if (fRel.compare(0, path.size(), path) == 0) forget();
    const int dir = parentOf(path, last);
    return dir >= 0 && writeIn(dir, extractFilePath(path), [&] {
                           return sys::unlinkat(dir, last.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
                       }) == 0;
}

int TDestTree::removeAll(const std::string& name, const TRemoved& removed) {
    std::string last;
    const std::string path = withoutTrailingSlash(name);
    if (fDry && (fBaseMissing || gone(path))) return ENOENT;
    if (fRel.compare(0, path.size(), path) == 0) forget();
    const int dir = parentOf(path, last);
    if (dir < 0) return errno;
    const std::string folderPart = extractFilePath(path);
    // Run again after an unlock, it finds only what is left.
    return writeIn(dir, folderPart, [&] {
        return removeAllBelow(
            dir, last, last,
            [&](const std::string& rel, bool isFolder) {
                if (fDry) fGone.insert(folderPart + rel);
                removed(folderPart + rel, isFolder);
            },
            fDry);
    });
}

int TDestTree::setMode(const std::string& name, mode_t mode) {
    if (fDry) return 0;
    beforeWrite();
    std::string last;
    if (withoutTrailingSlash(name).empty())
        return sys::chmod(fBasePath.c_str(), mode) == 0 ? 0 : errno;
    const int dir = parentOf(name, last);
    if (dir < 0) return errno;
    return sys::fchmodat(dir, last.c_str(), mode, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int TDestTree::setOwner(const std::string& name, uid_t uid, gid_t gid) {
    if (fDry) return 0;
    beforeWrite();
    std::string last;
    if (withoutTrailingSlash(name).empty())
        return sys::fchownat(fBase.get(), "", uid, gid, AT_EMPTY_PATH) == 0 ? 0 : errno;
    const int dir = parentOf(name, last);
    if (dir < 0) return errno;
    return sys::fchownat(dir, last.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int TDestTree::linkFile(const std::string& existing, int dirFd, const std::string& name) {
    if (fDry) return 0;
    beforeWrite();
    std::string last;
    const int from = parentOf(existing, last);
    if (from < 0) return errno;
    return linkAt(from, last, dirFd, name);
}

int TDestTree::openEntry(const std::string& name, int flags) {
    errno = 0;
    if (fDry) return -1;
    flags |= O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    std::string last;
    if (withoutTrailingSlash(name).empty()) return sys::open(fBasePath.c_str(), flags);
    const int dir = parentOf(name, last);
    if (dir < 0) return -1;
    return sys::openat(dir, last.c_str(), flags);
}

int TDestTree::setModified(const std::string& name, int64_t mtimeNs) {
    if (fDry) return 0;
    int64_t seconds = mtimeNs / 1'000'000'000;
    int64_t nanos = mtimeNs % 1'000'000'000;
    if (nanos < 0) {
        nanos += 1'000'000'000;
        --seconds;
    }
    const struct timespec times[2] = {{0, UTIME_OMIT},
                                      {static_cast<time_t>(seconds), static_cast<long>(nanos)}};
    // A time already right is left alone: setting it would still move the
    // change time of a folder the run did not touch.
    const auto alreadySet = [&times](int dir, const char* path, int flags) {
        struct stat st {};
        return sys::fstatat(dir, path, &st, flags) == 0 && st.st_mtim.tv_sec == times[1].tv_sec &&
               st.st_mtim.tv_nsec == times[1].tv_nsec;
    };
    std::string last;
    if (withoutTrailingSlash(name).empty()) {
        if (alreadySet(AT_FDCWD, fBasePath.c_str(), 0)) return 0;
        return sys::utimensat(AT_FDCWD, fBasePath.c_str(), times, 0) == 0 ? 0 : errno;
    }
    const int dir = parentOf(name, last);
    if (dir < 0) return errno;
    if (alreadySet(dir, last.c_str(), AT_SYMLINK_NOFOLLOW)) return 0;
    return sys::utimensat(dir, last.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

}  // namespace qvb
