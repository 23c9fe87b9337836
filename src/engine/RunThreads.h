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

// The threads worth starting, at most `most`: one per core this process may
// use that no other running process holds. Workers on a core shared with
// other work cost more in waiting for each other than they save.
int freeCores(int most);
// The same from the number of cores and of the processes running now, the caller included.
int freeCores(int cores, int running, int most);
// The processes running now from the text of /proc/loadavg ("0.52 0.58 0.59 3/467 12345").
std::optional<int> parseRunning(std::string_view loadavg);

}  // namespace qvb
