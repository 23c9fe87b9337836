#pragma once

// Helpers of the fuzz targets. Cuts one fuzzer input into pieces at NUL bytes, so that a target can
// take several texts (a name and a pattern, a list of rules) from one input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A broken invariant ends the run with the condition named.
#define QVB_CHECK(condition)                                  \
    do {                                                      \
        if (!(condition)) {                                   \
            std::fprintf(stderr, "broken: %s\n", #condition); \
            std::abort();                                     \
        }                                                     \
    } while (false)

namespace qvb::fuzz {

inline std::vector<std::string> pieces(const uint8_t* data, size_t size, size_t most) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && out.size() < most)
            out.emplace_back();
        else
            out.back() += static_cast<char>(data[i]);
    }
    return out;
}

inline bool hasWildcard(const std::string& text) {
    return text.find_first_of("*?") != std::string::npos;
}

}  // namespace qvb::fuzz
