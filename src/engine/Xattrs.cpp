#include "engine/Xattrs.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "util/Sys.h"

namespace qvb {

namespace {

bool startsWith(std::string_view text, std::string_view start) {
    return text.compare(0, start.size(), start) == 0;
}

bool noAttributes(int err) {
    return err == ENOTSUP || err == EOPNOTSUPP || err == ENODATA;
}

// Calls `ask(buffer, size)` until the buffer holds the whole answer (an
// attribute may grow between the two calls). Most files have no attributes or
// short ones, so a first guess answers them in one call rather than two.
template <class Ask>
int readWhole(Ask ask, std::string& out) {
    constexpr size_t kFirstGuess = 256;
    out.resize(std::max(out.capacity(), kFirstGuess));
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t got = ask(out.data(), out.size());
        if (got >= 0) {
            out.resize(static_cast<size_t>(got));
            return 0;
        }
        if (errno != ERANGE) return errno;
        const ssize_t size = ask(nullptr, 0);
        if (size < 0) return errno;
        // Never a buffer of 0: that would be a size query again, read as the answer.
        out.resize(std::max<size_t>(static_cast<size_t>(size), 1));
    }
    return ERANGE;
}

}  // namespace

bool carriesXattr(std::string_view name, bool root) {
    if (startsWith(name, "user.") || name == "system.posix_acl_access" ||
        name == "system.posix_acl_default")
        return true;
    return root && (startsWith(name, "security.") || startsWith(name, "trusted."));
}

int readXattrs(int fd, const char* path, TXattrs& out) {
    out.clear();
    static const bool root = ::geteuid() == 0;
    std::string names;
    int err = readWhole(
        [&](char* buf, size_t size) {
            return fd >= 0 ? sys::flistxattr(fd, buf, size) : sys::llistxattr(path, buf, size);
        },
        names);
    if (err != 0) return noAttributes(err) ? 0 : err;
    for (size_t pos = 0; pos < names.size();) {
        const std::string name(names.c_str() + pos);
        pos += name.size() + 1;
        if (!carriesXattr(name, root)) continue;
        std::string value;
        err = readWhole(
            [&](char* buf, size_t size) {
                return fd >= 0 ? sys::fgetxattr(fd, name.c_str(), buf, size)
                               : sys::lgetxattr(path, name.c_str(), buf, size);
            },
            value);
        if (err == ENODATA) continue;  // removed meanwhile
        if (err != 0) return err;
        out.push_back({name, std::move(value)});
    }
    std::sort(out.begin(), out.end(),
              [](const TXattr& a, const TXattr& b) { return a.name < b.name; });
    return 0;
}

int writeXattrs(int fd, const TXattrs& want, bool bare) {
    TXattrs have;
    int first = bare ? 0 : readXattrs(fd, nullptr, have);
    const auto note = [&first](int result) {
        if (result != 0 && first == 0) first = errno;
    };
    for (const TXattr& attr : want)
        if (std::find(have.begin(), have.end(), attr) == have.end())
            note(sys::fsetxattr(fd, attr.name.c_str(), attr.value.data(), attr.value.size()));
    for (const TXattr& attr : have) {
        const bool wanted = std::any_of(want.begin(), want.end(),
                                        [&](const TXattr& w) { return w.name == attr.name; });
        if (!wanted) note(sys::fremovexattr(fd, attr.name.c_str()));
    }
    return first;
}

bool handsDownXattrs(const char* folder) {
    TXattrs attrs;
    return readXattrs(-1, folder, attrs) != 0 || !attrs.empty();
}

}  // namespace qvb
