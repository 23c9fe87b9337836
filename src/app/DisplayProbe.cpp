#include "app/DisplayProbe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QDir>
#include <QLibraryInfo>
#include <cstdlib>
#include <string>

namespace qvb {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A full handshake, authorisation included: a socket that merely exists
// proves nothing.
bool xDisplayReachable() {
    if (environment("DISPLAY").empty()) return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

bool waylandDisplayReachable() {
    std::string path = environment("WAYLAND_DISPLAY");
    if (path.empty()) return false;
    if (path[0] != '/') {
        const std::string runtime = environment("XDG_RUNTIME_DIR");
        if (runtime.empty()) return false;
        path = runtime + "/" + path;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return false;
    path.copy(address.sun_path, path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool reachable =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return reachable;
}

bool qtHasWayland() {
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                         QStringLiteral("/platforms"));
    return !platforms.entryList({QStringLiteral("libqwayland*")}, QDir::Files).isEmpty();
}

// QT_QPA_PLATFORM names one platform or a ";"-list Qt tries in order, each
// possibly with ":options".
bool platformReachable(const std::string& platforms) {
    size_t start = 0;
    while (start <= platforms.size()) {
        const size_t end = std::min(platforms.find(';', start), platforms.size());
        const std::string entry = platforms.substr(start, end - start);
        const std::string name = entry.substr(0, entry.find(':'));
        if (name == "xcb") {
            if (xDisplayReachable()) return true;
        } else if (name.rfind("wayland", 0) == 0) {
            if (waylandDisplayReachable()) return true;
        } else if (!name.empty()) {
            return true;  // offscreen, vnc and the like need no display
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

bool canOpenDisplay() {
    const std::string platform = environment("QT_QPA_PLATFORM");
    if (!platform.empty()) return platformReachable(platform);
    if (xDisplayReachable()) return true;
    if (waylandDisplayReachable() && qtHasWayland()) {
        ::setenv("QT_QPA_PLATFORM", "wayland", 1);
        return true;
    }
    return false;
}

}  // namespace qvb
