#include "engine/RunThreads.h"

#include <fcntl.h>

#include <algorithm>
#include <charconv>

#include "util/Sys.h"

namespace qvb {

std::optional<int> parseThreads(std::string_view value) {
    int count = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), count);
    if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
    if (count < 1 || count > kMostThreads) return std::nullopt;
    return count;
}

std::optional<int> parseRunning(std::string_view loadavg) {
    size_t start = 0;
    for (int field = 0; field < 3; ++field) {
        start = loadavg.find(' ', start);
        if (start == std::string_view::npos) return std::nullopt;
        ++start;
    }
    int running = 0;
    const char* first = loadavg.data() + start;
    const auto [end, error] = std::from_chars(first, loadavg.data() + loadavg.size(), running);
    if (error != std::errc() || end == first || *end != '/') return std::nullopt;
    return running;
}

int freeCores(int cores, int running, int most) {
    const int others = std::max(running - 1, 0);
    return std::clamp(cores - others, 1, std::max(most, 1));
}

namespace {

std::optional<int> runningNow() {
    const sys::UniqueFd fd(sys::open("/proc/loadavg", O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return std::nullopt;
    char text[128];
    const ssize_t got = sys::read(fd.get(), text, sizeof text);
    if (got <= 0) return std::nullopt;
    return parseRunning(std::string_view(text, static_cast<size_t>(got)));
}

}  // namespace

int freeCores(int most) {
    const int cores = sys::allowedCores();
    const std::optional<int> running = runningNow();
    // Unknown counts take nothing away.
    return freeCores(cores > 0 ? cores : most, running.value_or(1), most);
}

}  // namespace qvb
