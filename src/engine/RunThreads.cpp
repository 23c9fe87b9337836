#include "engine/RunThreads.h"

#include <charconv>

namespace qvb {

std::optional<int> parseThreads(std::string_view value) {
    int count = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), count);
    if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
    if (count < 1 || count > kMostThreads) return std::nullopt;
    return count;
}

}  // namespace qvb
