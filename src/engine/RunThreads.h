#pragma once

#include <optional>
#include <string_view>

namespace qvb {

// The environment variable that sets the number of threads of a run (1: all
// on one thread); without it a run follows the cores free of other work.
inline constexpr const char* kThreadsVariable = "QVB_THREADS";
inline constexpr int kMostThreads = 16;
// What a run uses when nothing says otherwise.
inline constexpr int kDefaultWorkers = 2;

// The number `value` asks for; nullopt when it is none from 1 to kMostThreads.
std::optional<int> parseThreads(std::string_view value);

}  // namespace qvb
