#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "engine/RunThreads.h"

namespace qvb {
namespace {

TEST(RunThreads, OneThreadPerCoreNoOtherProcessHolds) {
    const struct {
        int cores, running, most, threads;
    } cases[] = {
        {2, 1, 2, 2},   // quiet: the run alone
        {2, 2, 2, 1},   // the second core busy
        {2, 9, 2, 1},   // far more work than cores
        {1, 1, 2, 1},   // one core allowed
        {8, 3, 2, 2},   // never more than asked for
        {4, 2, 16, 3},  //
        {2, 0, 2, 2},   // a count that missed the caller
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cores << " cores, " << c.running << " running");
        EXPECT_EQ(freeCores(c.cores, c.running, c.most), c.threads);
    }
    const int now = freeCores(2);
    EXPECT_TRUE(now == 1 || now == 2);
}

TEST(RunThreads, RunningProcessesAreReadFromTheLoadLine) {
    const struct {
        std::string_view text;
        std::optional<int> running;
    } cases[] = {
        {"0.52 0.58 0.59 3/467 12345\n", 3},
        {"10.10 9.60 9.78 12/1024 99", 12},
        {"0.52 0.58 0.59 /467 12345", std::nullopt},
        {"0.52 0.58 0.59 3 467", std::nullopt},
        {"0.52 0.58", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseRunning(c.text), c.running);
    }
}

}  // namespace
}  // namespace qvb
