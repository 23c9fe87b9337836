#include "util/Sys.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

extern char** environ;

namespace qvb::sys {

namespace {

FaultHook& hook() {
    static FaultHook instance;
    return instance;
}

// Without a hook a call costs one relaxed load; with one, the calls of all
// threads reach it one at a time, so that a test's counting hook sees every
// worker's calls without a race of its own.
std::atomic<bool> hookSet{false};
std::mutex hookMutex;

// True when the hook asks this call to fail; errno is then set.
bool injected(Op op, const char* path) {
    if (!hookSet.load(std::memory_order_relaxed)) return false;
    int err = 0;
    {
        const std::lock_guard<std::mutex> lock(hookMutex);
        const FaultHook& h = hook();
        if (!h) return false;
        err = h(op, path);
    }
    if (err == 0) return false;
    errno = err;
    return true;
}

}  // namespace

void setFaultHook(FaultHook h) {
    const std::lock_guard<std::mutex> lock(hookMutex);
    hookSet.store(static_cast<bool>(h), std::memory_order_relaxed);
    hook() = std::move(h);
}

int open(const char* path, int flags, mode_t mode) {
    if (injected(Op::Open, path)) return -1;
    return ::open(path, flags | O_CLOEXEC, mode);
}

int openat(int dirfd, const char* name, int flags, mode_t mode) {
    if (injected(Op::Open, name)) return -1;
    return ::openat(dirfd, name, flags | O_CLOEXEC, mode);
}

int openBeneath(int dirfd, const char* rel, int flags, mode_t mode) {
    if (injected(Op::OpenBeneath, rel) || injected(Op::Open, rel)) return -1;
    struct open_how how {};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    // EAGAIN: a rename elsewhere raced the walk; a few more tries settle it.
    long fd = -1;
    for (int attempt = 0; attempt < 8; ++attempt) {
        fd = ::syscall(SYS_openat2, dirfd, rel, &how, sizeof how);
        if (fd >= 0 || errno != EAGAIN) break;
    }
    return static_cast<int>(fd);
}

int dup(int fd) {
    if (injected(Op::Open, nullptr)) return -1;
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

int close(int fd) {
    return ::close(fd);
}

ssize_t read(int fd, void* buf, size_t count) {
    if (injected(Op::Read, nullptr)) return -1;
    ssize_t n;
    do {
        n = ::read(fd, buf, count);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t write(int fd, const void* buf, size_t count) {
    if (injected(Op::Write, nullptr)) return -1;
    ssize_t n;
    do {
        n = ::write(fd, buf, count);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t copyFileRange(int in, int out, size_t count) {
    if (injected(Op::CopyRange, nullptr)) return -1;
    ssize_t n;
    do {
        n = ::copy_file_range(in, nullptr, out, nullptr, count, 0);
    } while (n < 0 && errno == EINTR);
    return n;
}

int fstat(int fd, struct stat* st) {
    if (injected(Op::Stat, nullptr)) return -1;
    return ::fstat(fd, st);
}

int fstatat(int dirfd, const char* name, struct stat* st, int flags) {
    if (injected(Op::Stat, name)) return -1;
    return ::fstatat(dirfd, name, st, flags);
}

int lstat(const char* path, struct stat* st) {
    if (injected(Op::Stat, path)) return -1;
    return ::lstat(path, st);
}

int stat(const char* path, struct stat* st) {
    if (injected(Op::Stat, path)) return -1;
    return ::stat(path, st);
}

int mkdir(const char* path, mode_t mode) {
    if (injected(Op::Mkdir, path)) return -1;
    return ::mkdir(path, mode);
}

int mkdirat(int dirfd, const char* name, mode_t mode) {
    if (injected(Op::Mkdir, name)) return -1;
    return ::mkdirat(dirfd, name, mode);
}

int unlink(const char* path) {
    if (injected(Op::Unlink, path)) return -1;
    return ::unlink(path);
}

int unlinkat(int dirfd, const char* name, int flags) {
    if (injected(Op::Unlink, name)) return -1;
    return ::unlinkat(dirfd, name, flags);
}

int rename(const char* from, const char* to) {
    if (injected(Op::Rename, to)) return -1;
    return ::rename(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    if (injected(Op::Rename, to)) return -1;
    return ::renameat(fromDir, from, toDir, to);
}

int rmdir(const char* path) {
    if (injected(Op::Rmdir, path)) return -1;
    return ::rmdir(path);
}

int chmod(const char* path, mode_t mode) {
    if (injected(Op::Chmod, path)) return -1;
    return ::chmod(path, mode);
}

int fchmod(int fd, mode_t mode) {
    if (injected(Op::Chmod, nullptr)) return -1;
    return ::fchmod(fd, mode);
}

int fchown(int fd, uid_t uid, gid_t gid) {
    if (injected(Op::Chown, nullptr)) return -1;
    return ::fchown(fd, uid, gid);
}

int fchmodat(int dirfd, const char* name, mode_t mode, int flags) {
    if (injected(Op::Chmod, name)) return -1;
    return ::fchmodat(dirfd, name, mode, flags);
}

int fchownat(int dirfd, const char* name, uid_t uid, gid_t gid, int flags) {
    if (injected(Op::Chown, name)) return -1;
    return ::fchownat(dirfd, name, uid, gid, flags);
}

int futimens(int fd, const struct timespec times[2]) {
    if (injected(Op::SetTimes, nullptr)) return -1;
    return ::futimens(fd, times);
}

int utimensat(int dirfd, const char* name, const struct timespec times[2], int flags) {
    if (injected(Op::SetTimes, name)) return -1;
    return ::utimensat(dirfd, name, times, flags);
}

int symlinkat(const char* target, int dirfd, const char* linkName) {
    if (injected(Op::Symlink, linkName)) return -1;
    return ::symlinkat(target, dirfd, linkName);
}

int linkOpenFileAt(int fd, int dirfd, const char* newName) {
    if (injected(Op::Link, newName)) return -1;
    // Root may link the descriptor itself (CAP_DAC_READ_SEARCH), which spares
    // the path walk through /proc that everyone else needs.
    static const bool direct = ::geteuid() == 0;
    if (direct) {
        if (::linkat(fd, "", dirfd, newName, AT_EMPTY_PATH) == 0) return 0;
        if (errno != ENOENT && errno != EPERM) return -1;
    }
    char procPath[64];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, procPath, dirfd, newName, AT_SYMLINK_FOLLOW);
}

bool canLinkOpenFiles() {
    static const bool can = ::geteuid() == 0 || ::access("/proc/self/fd", F_OK) == 0;
    return can;
}

ssize_t readlink(const char* path, std::string& target) {
    if (injected(Op::Readlink, path)) return -1;
    std::string buf(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path, buf.data(), buf.size());
        if (n < 0) return -1;
        if (static_cast<size_t>(n) < buf.size()) {
            buf.resize(static_cast<size_t>(n));
            target = std::move(buf);
            return n;
        }
        buf.resize(buf.size() * 2);
    }
}

int fsync(int fd) {
    if (injected(Op::Fsync, nullptr)) return -1;
    return ::fsync(fd);
}

int flock(int fd, int operation) {
    if (injected(Op::Lock, nullptr)) return -1;
    return ::flock(fd, operation);
}

off_t lseek(int fd, off_t offset, int whence) {
    if (injected(Op::Seek, nullptr)) return -1;
    return ::lseek(fd, offset, whence);
}

int ftruncate(int fd, off_t length) {
    if (injected(Op::Truncate, nullptr)) return -1;
    return ::ftruncate(fd, length);
}

int linkat(int oldDir, const char* existing, int newDir, const char* newName) {
    if (injected(Op::Link, newName)) return -1;
    return ::linkat(oldDir, existing, newDir, newName, 0);
}

ssize_t flistxattr(int fd, char* list, size_t size) {
    if (injected(Op::GetXattr, nullptr)) return -1;
    return ::flistxattr(fd, list, size);
}

ssize_t llistxattr(const char* path, char* list, size_t size) {
    if (injected(Op::GetXattr, path)) return -1;
    return ::llistxattr(path, list, size);
}

ssize_t fgetxattr(int fd, const char* name, void* value, size_t size) {
    if (injected(Op::GetXattr, nullptr)) return -1;
    return ::fgetxattr(fd, name, value, size);
}

ssize_t lgetxattr(const char* path, const char* name, void* value, size_t size) {
    if (injected(Op::GetXattr, path)) return -1;
    return ::lgetxattr(path, name, value, size);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size) {
    if (injected(Op::SetXattr, nullptr)) return -1;
    return ::fsetxattr(fd, name, value, size, 0);
}

int lsetxattr(const char* path, const char* name, const void* value, size_t size) {
    if (injected(Op::SetXattr, path)) return -1;
    return ::lsetxattr(path, name, value, size, 0);
}

int fremovexattr(int fd, const char* name) {
    if (injected(Op::SetXattr, nullptr)) return -1;
    return ::fremovexattr(fd, name);
}

int lremovexattr(const char* path, const char* name) {
    if (injected(Op::SetXattr, path)) return -1;
    return ::lremovexattr(path, name);
}

int statvfs(const char* path, struct statvfs* st) {
    if (injected(Op::StatVfs, path)) return -1;
    return ::statvfs(path, st);
}

int statfs(const char* path, struct statfs* st) {
    if (injected(Op::StatVfs, path)) return -1;
    return ::statfs(path, st);
}

int fstatfs(int fd, struct statfs* st) {
    if (injected(Op::StatVfs, nullptr)) return -1;
    return ::fstatfs(fd, st);
}

DIR* opendir(const char* path) {
    if (injected(Op::OpenDir, path)) return nullptr;
    return ::opendir(path);
}

DIR* fdopendir(int fd) {
    if (injected(Op::OpenDir, nullptr)) return nullptr;
    return ::fdopendir(fd);
}

int spawn(pid_t& pid, const char* path, char* const argv[], const char* directory) {
    if (injected(Op::Spawn, path)) return errno;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (directory) posix_spawn_file_actions_addchdir_np(&actions, directory);
    const int rc = ::posix_spawn(&pid, path, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

int kill(pid_t pid, int signal) {
    return ::kill(pid, signal);
}

struct dirent* readdir(DIR* dir) {
    if (injected(Op::ReadDir, nullptr)) return nullptr;
    errno = 0;
    return ::readdir(dir);
}

ssize_t getdents(int fd, char* buffer, size_t size) {
    if (injected(Op::ReadDir, nullptr)) return -1;
    return ::getdents64(fd, buffer, size);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

int UniqueFd::release() {
    return std::exchange(fFd, -1);
}

int UniqueFd::reset(int fd) {
    int rc = 0;
    if (fFd >= 0) rc = ::close(fFd);
    fFd = fd;
    return rc;
}

DirStream::~DirStream() {
    if (fDir) ::closedir(fDir);
}

namespace {

// The protocol is German: the causes a backup meets most often in German, as
// the user would read them in a German system's own messages.
struct TErrorText {
    int errnum;
    const char* text;
};

constexpr TErrorText kGermanErrorTexts[] = {
    {ENOSPC, "Auf dem Datenträger ist nicht genügend Speicherplatz vorhanden"},
    {EDQUOT, "Das Speicherkontingent auf dem Datenträger ist erschöpft"},
    {EACCES, "Zugriff verweigert"},
    {EPERM, "Vorgang nicht zulässig"},
    {EROFS, "Das Dateisystem ist schreibgeschützt"},
    {ENAMETOOLONG, "Der Dateiname oder der Pfad ist zu lang"},
    {EINVAL, "Ungültiger Name oder ungültiges Argument"},
    {EIO, "Ein-/Ausgabefehler am Datenträger"},
    {EBADF, "Ungültiger Dateideskriptor"},
    {ENOENT, "Die Datei oder das Verzeichnis ist nicht vorhanden"},
    {ENOTDIR, "Ein Teil des Pfades ist kein Verzeichnis"},
    {EISDIR, "Das Ziel ist ein Verzeichnis"},
    {EEXIST, "Die Datei ist bereits vorhanden"},
    {ENOTEMPTY, "Das Verzeichnis ist nicht leer"},
    {EBUSY, "Die Datei oder das Gerät wird gerade verwendet"},
    {ETXTBSY, "Die Datei wird gerade ausgeführt"},
    {ELOOP, "Zu viele symbolische Verknüpfungen"},
    {EFBIG, "Die Datei ist für das Zieldateisystem zu groß"},
    {EMFILE, "Zu viele offene Dateien"},
    {ENOMEM, "Nicht genügend Arbeitsspeicher"},
    {EOPNOTSUPP, "Das Dateisystem unterstützt den Vorgang nicht"},
    {ENOSYS, "Der Vorgang ist nicht verfügbar"},
    {EXDEV, "Der Vorgang geht über Dateisystemgrenzen"},
    {ESTALE, "Die Datei auf dem Netzlaufwerk ist nicht mehr gültig"},
    {ENOTCONN, "Die Verbindung zum Dateisystem ist getrennt"},
    {ETIMEDOUT, "Zeitüberschreitung der Verbindung"},
    {EINTR, "Der Vorgang wurde unterbrochen"},
};

}  // namespace

std::string errorText(int errnum) {
    for (const TErrorText& entry : kGermanErrorTexts)
        if (entry.errnum == errnum) return entry.text;
    char buf[256];
    // GNU strerror_r returns the text, which may or may not live in buf.
    return ::strerror_r(errnum, buf, sizeof buf);
}

}  // namespace qvb::sys
