// Preloaded into QV_Backup by the end-to-end tests: every data step of a file
// copy takes 20 ms longer, so a signal sent when a large file's copy begins
// reliably arrives in the middle of it.

#include <dlfcn.h>
#include <sys/types.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

void pause20ms() {
    struct timespec delay {
        0, 20 * 1000 * 1000
    };
    while (nanosleep(&delay, &delay) != 0) {
    }
}

bool isCopyTarget(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[PATH_MAX];
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return false;
    path[n] = '\0';
    return std::strstr(path, ".qvb-tmp-") != nullptr;
}

}  // namespace

extern "C" ssize_t copy_file_range(int in, loff_t* inOffset, int out, loff_t* outOffset,
                                   size_t count, unsigned int flags) {
    using Fn = ssize_t (*)(int, loff_t*, int, loff_t*, size_t, unsigned int);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "copy_file_range"));
    pause20ms();
    return real(in, inOffset, out, outOffset, count, flags);
}

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
    using Fn = ssize_t (*)(int, const void*, size_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "write"));
    if (fd > 2 && isCopyTarget(fd)) pause20ms();
    return real(fd, buffer, count);
}
