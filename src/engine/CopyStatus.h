#pragma once

#include <cstdint>

namespace qvb {

enum TCopyStatus : uint8_t {
    csIdle = 0,
    csRunning = 1,
    csDone = 2,
    csError = 3,
    csCancelled = 4,
    csWarnings = 5,
};

}  // namespace qvb
