#include "engine/DirWalk.h"

#include <dirent.h>
#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "util/Mounts.h"
#include "util/Sys.h"

namespace qvb {

namespace {

struct Frame {
    sys::UniqueFd fd;
    dev_t dev = 0;
    ino_t ino = 0;
    size_t pathLength = 0;
    std::vector<std::string> pending;
    size_t next = 0;
};

constexpr size_t kListingBuffer = 64 * 1024;

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Reads every name but "." and ".."; returns 0 or the errno that broke the listing off.
// The walker's own descriptor is read: its position matters to nothing else,
// and a large buffer takes a whole folder in one or two calls.
int readItems(int dirFd, std::vector<TDirWalker::TItem>& items, std::vector<char>& buffer) {
    for (;;) {
        const ssize_t filled = sys::getdents(dirFd, buffer.data(), buffer.size());
        if (filled == 0) return 0;
        if (filled < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        for (size_t at = 0; at < static_cast<size_t>(filled);) {
            const auto* e = reinterpret_cast<const struct dirent64*>(buffer.data() + at);
            at += e->d_reclen;
            if (!isDotOrDotDot(e->d_name)) items.push_back({e->d_name, e->d_type});
        }
    }
}

bool sameFolder(int fd, const Frame& frame) {
    struct stat st {};
    return sys::fstat(fd, &st) == 0 && st.st_dev == frame.dev && st.st_ino == frame.ino;
}

}  // namespace

int openSubDir(int dirFd, const char* name) {
    return sys::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK);
}

void TDirWalker::walk(const std::string& root, const Visit& visit, const Fail& fail,
                      const std::atomic<bool>* aborted) {
    auto stop = [aborted] {
        return aborted != nullptr && aborted->load(std::memory_order_relaxed);
    };
    std::string path = root;
    std::vector<Frame> stack;
    std::vector<char> listing(kListingBuffer);
    size_t openFloor = 0;  // frames below this index have their descriptor closed

    auto enter = [&](sys::UniqueFd fd) {
        struct stat st {};
        if (sys::fstat(fd.get(), &st) != 0) {
            fail(path, stack.size() + 1, errno);
            return false;
        }
        // Only where the device changes can another file system begin.
        if (!stack.empty() && st.st_dev != stack.back().dev) {
            const std::string type = pseudoFileSystemType(fd.get(), st.st_dev);
            if (!type.empty()) {
                if (fOnPseudo) fOnPseudo(path, type);
                return false;
            }
        }
        Frame frame;
        frame.dev = st.st_dev;
        frame.ino = st.st_ino;
        std::vector<TItem> items;
        const int readError = readItems(fd.get(), items, listing);
        TFolder folder{path, stack.size() + 1, fd.get(), st, items, readError};
        visit(folder, frame.pending);
        frame.fd = std::move(fd);
        stack.push_back(std::move(frame));
        if (stack.size() - openFloor > fMaxOpenDirs) stack[openFloor++].fd.reset();
        return true;
    };

    // Before leaving the top frame, its parent gets its descriptor back if it was closed.
    auto leave = [&] {
        Frame child = std::move(stack.back());
        stack.pop_back();
        if (stack.empty()) return;
        path.resize(child.pathLength);
        Frame& parent = stack.back();
        if (parent.fd.valid()) return;
        openFloor = stack.size() - 1;
        const int fd = sys::openat(child.fd.get(), "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        parent.fd.reset(fd);
        if (fd < 0 || !sameFolder(fd, parent)) {
            // Moved away while we were below it: its remaining subfolders are out of reach.
            parent.fd.reset();
            if (parent.next < parent.pending.size())
                fail(path, stack.size(), fd < 0 ? errno : ESTALE);
            parent.next = parent.pending.size();
        }
    };

    {
        const int fd = sys::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK);
        if (fd < 0) {
            fail(path, 1, errno);
            return;
        }
        if (!enter(sys::UniqueFd(fd))) return;
        stack.back().pathLength = path.size();
    }
    while (!stack.empty() && !stop()) {
        Frame& top = stack.back();
        if (top.next == top.pending.size() || !top.fd.valid()) {
            leave();
            continue;
        }
        const std::string& name = top.pending[top.next++];
        const size_t parentLength = path.size();
        path += name;
        path += '/';
        const int fd = openSubDir(top.fd.get(), name.c_str());
        if (fd < 0) {
            fail(path, stack.size() + 1, errno);
        } else if (enter(sys::UniqueFd(fd))) {
            stack.back().pathLength = parentLength;
            continue;
        }
        path.resize(parentLength);
    }
}

}  // namespace qvb
