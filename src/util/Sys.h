#pragma once

// The thin seam over the POSIX calls that touch files and processes. Every
// file-system and process call of util and engine goes through here, so that
// tests can make any of them fail with a chosen errno (ENOSPC, EACCES, EIO),
// which running as root would otherwise never show.

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/vfs.h>

#include <functional>
#include <string>

namespace qvb::sys {

enum class Op {
    Open,
    Read,
    Write,
    CopyRange,
    Stat,
    Mkdir,
    Unlink,
    Rename,
    Rmdir,
    Chmod,
    Chown,
    SetTimes,
    Symlink,
    Readlink,
    Fsync,
    StatVfs,
    OpenDir,
    ReadDir,
    Spawn,
    Link,
    Lock,
    // openat2 confined below a folder; a hook failing it with ENOSYS stands
    // for a kernel without openat2.
    OpenBeneath,
    Seek,
    Truncate,
    // Listing and reading extended attributes; setting or removing one.
    GetXattr,
    SetXattr,
};

// Returns 0 to let the call run, or an errno value with which it fails.
// `path` is the name the call works on, or null for calls on a descriptor.
using FaultHook = std::function<int(Op op, const char* path)>;

// Installs a hook for the whole process (tests only); an empty hook removes
// it. Calls from several threads reach the hook one at a time. Set it while no
// run is going.
void setFaultHook(FaultHook hook);

int open(const char* path, int flags, mode_t mode = 0);
int openat(int dirfd, const char* name, int flags, mode_t mode = 0);
// Opens `rel` below `dirfd` with openat2, refusing any link on the way and any
// step out of `dirfd` ("..", an absolute path). ENOSYS where the kernel has no openat2.
int openBeneath(int dirfd, const char* rel, int flags, mode_t mode = 0);
// A second descriptor of the same open file (close-on-exec).
int dup(int fd);
int close(int fd);
ssize_t read(int fd, void* buf, size_t count);
ssize_t write(int fd, const void* buf, size_t count);
// copy_file_range from the current offsets; -1 with errno when the kernel or
// file system cannot do it (the caller then falls back to read/write).
ssize_t copyFileRange(int in, int out, size_t count);
int fstat(int fd, struct stat* st);
int fstatat(int dirfd, const char* name, struct stat* st, int flags);
int lstat(const char* path, struct stat* st);
int stat(const char* path, struct stat* st);
int mkdir(const char* path, mode_t mode);
int mkdirat(int dirfd, const char* name, mode_t mode);
int unlink(const char* path);
int unlinkat(int dirfd, const char* name, int flags);
int rename(const char* from, const char* to);
int renameat(int fromDir, const char* from, int toDir, const char* to);
int rmdir(const char* path);
int chmod(const char* path, mode_t mode);
int fchmod(int fd, mode_t mode);
int fchown(int fd, uid_t uid, gid_t gid);
int fchmodat(int dirfd, const char* name, mode_t mode, int flags);
int fchownat(int dirfd, const char* name, uid_t uid, gid_t gid, int flags);
int futimens(int fd, const struct timespec times[2]);
int utimensat(int dirfd, const char* name, const struct timespec times[2], int flags);
int symlinkat(const char* target, int dirfd, const char* linkName);
// Gives the unnamed file open at `fd` (O_TMPFILE) the name `newName` in the
// folder `dirfd`; fails with EEXIST when that name is taken.
int linkOpenFileAt(int fd, int dirfd, const char* newName);
// False where linkOpenFileAt cannot work (no /proc and no privilege).
bool canLinkOpenFiles();
ssize_t readlink(const char* path, std::string& target);
int fsync(int fd);
// lseek; SEEK_DATA and SEEK_HOLE find the data of a file with holes.
off_t lseek(int fd, off_t offset, int whence);
int ftruncate(int fd, off_t length);
// A new name `newName` in `newDir` for the file `existing` in `oldDir`
// (never following a link).
int linkat(int oldDir, const char* existing, int newDir, const char* newName);
// Extended attributes of an open file (f...) or of a path, never of what a
// link points to (l...). The list is the names, each ended by a NUL.
ssize_t flistxattr(int fd, char* list, size_t size);
ssize_t llistxattr(const char* path, char* list, size_t size);
ssize_t fgetxattr(int fd, const char* name, void* value, size_t size);
ssize_t lgetxattr(const char* path, const char* name, void* value, size_t size);
int fsetxattr(int fd, const char* name, const void* value, size_t size);
int lsetxattr(const char* path, const char* name, const void* value, size_t size);
int fremovexattr(int fd, const char* name);
int lremovexattr(const char* path, const char* name);
// flock on an open descriptor; EWOULDBLOCK when another holder has it.
int flock(int fd, int operation);
int statvfs(const char* path, struct statvfs* st);
// The file system's type (f_type) and sizes; fails like statvfs.
int statfs(const char* path, struct statfs* st);
int fstatfs(int fd, struct statfs* st);
DIR* opendir(const char* path);
DIR* fdopendir(int fd);
// Starts `path` with `argv` (null-terminated) in `directory` (null: the
// current one), never through a shell. Returns 0 or the errno of the failure.
int spawn(pid_t& pid, const char* path, char* const argv[], const char* directory);
// Sends a signal to a program this process started.
int kill(pid_t pid, int signal);
// readdir with errno cleared first: null and errno 0 mean the end.
struct dirent* readdir(DIR* dir);
// The next entries of the folder open as `fd`, packed as struct dirent64
// records into `buffer`: the bytes filled, 0 at the end, -1 with errno.
ssize_t getdents(int fd, char* buffer, size_t size);

// Moves a descriptor and closes it on destruction.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fFd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fFd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fFd; }
    bool valid() const { return fFd >= 0; }
    int release();
    // Closes the descriptor; returns the result of close (0 when none was open).
    int reset(int fd = -1);

  private:
    int fFd = -1;
};

// Owns an open directory stream.
class DirStream {
  public:
    DirStream() = default;
    explicit DirStream(DIR* dir) : fDir(dir) {}
    DirStream(DirStream&& other) noexcept : fDir(other.fDir) { other.fDir = nullptr; }
    DirStream(const DirStream&) = delete;
    DirStream& operator=(const DirStream&) = delete;
    ~DirStream();

    DIR* get() const { return fDir; }
    bool valid() const { return fDir != nullptr; }

  private:
    DIR* fDir = nullptr;
};

// The German text for the errno values a backup meets often ("Zugriff
// verweigert"), the system's message text for the rest.
std::string errorText(int errnum);

}  // namespace qvb::sys
