#include "engine/LogLevel.h"

namespace qvb {

namespace {
int gLogLevel = 1;
}

int logLevel() {
    return gLogLevel;
}
void setLogLevel(int level) {
    gLogLevel = level;
}

}  // namespace qvb
