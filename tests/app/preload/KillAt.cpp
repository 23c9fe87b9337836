// Preloaded into QV_Backup by the fault tests: kills the program with SIGKILL
// right before the chosen call, so that a crash lands at an exact point of a
// file replace or a settings save instead of at a random moment.
//
//   QVB_KILL_OP     "write" (write or copy_file_range into a file) or "rename"
//   QVB_KILL_MATCH  a text the written file's path, or the rename's target, holds
//   QVB_KILL_AT     the number of the matching call that is not made (default 1)

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<long> gMatches{0};

bool wanted(const char* op) {
    const char* chosen = std::getenv("QVB_KILL_OP");
    return chosen && std::strcmp(chosen, op) == 0;
}

void killOnMatch(const char* op, const char* path) {
    const char* match = std::getenv("QVB_KILL_MATCH");
    if (!path || !match || !wanted(op) || !std::strstr(path, match)) return;
    const char* at = std::getenv("QVB_KILL_AT");
    if (++gMatches >= (at ? std::atol(at) : 1)) ::kill(::getpid(), SIGKILL);
}

void killOnWriteTo(int fd) {
    if (fd <= 2 || !wanted("write")) return;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[PATH_MAX];
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    if (n <= 0) return;
    path[n] = '\0';
    killOnMatch("write", path);
}

template <typename Fn>
Fn real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
    static auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
    killOnWriteTo(fd);
    return next(fd, buffer, count);
}

extern "C" ssize_t copy_file_range(int in, loff_t* inOffset, int out, loff_t* outOffset,
                                   size_t count, unsigned int flags) {
    static auto next =
        real<ssize_t (*)(int, loff_t*, int, loff_t*, size_t, unsigned int)>("copy_file_range");
    killOnWriteTo(out);
    return next(in, inOffset, out, outOffset, count, flags);
}

extern "C" int rename(const char* from, const char* to) {
    static auto next = real<int (*)(const char*, const char*)>("rename");
    killOnMatch("rename", to);
    return next(from, to);
}

extern "C" int renameat(int fromDir, const char* from, int toDir, const char* to) {
    static auto next = real<int (*)(int, const char*, int, const char*)>("renameat");
    killOnMatch("rename", to);
    return next(fromDir, from, toDir, to);
}

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to,
                         unsigned int flags) {
    static auto next = real<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
    killOnMatch("rename", to);
    return next(fromDir, from, toDir, to, flags);
}
