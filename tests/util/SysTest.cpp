#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "util/Sys.h"

namespace qvb {
namespace {

// The mirror's workers call the seam at the same time as its own thread: a
// test's hook must see each of their calls, one at a time, and fail the ones it names.
TEST(SysTest, FaultHookSeesEveryThreadsCallsOneAtATime) {
    int calls = 0;  // deliberately not atomic: the seam serialises the hook
    sys::setFaultHook([&](sys::Op op, const char* path) {
        if (op != sys::Op::Stat) return 0;
        ++calls;
        return std::string(path) == "/proc" ? EIO : 0;
    });
    constexpr int kThreads = 4;
    constexpr int kCalls = 20000;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&failures, t] {
            struct stat st {};
            for (int i = 0; i < kCalls; ++i)
                if (sys::stat(i % 2 ? "/" : "/proc", &st) != 0 && errno == EIO) ++failures[t];
        });
    for (std::thread& thread : threads) thread.join();
    sys::setFaultHook({});
    EXPECT_EQ(calls, kThreads * kCalls);
    for (const int failed : failures) EXPECT_EQ(failed, kCalls / 2);
}

}  // namespace
}  // namespace qvb
