#pragma once

namespace qvb {

// The program's log level: above 3 the engine and the run control add trace
// lines, above 2 the empty-folder phase adds its per-folder lines. The program
// options own the value and hand it here whenever they load or change it.
int logLevel();
void setLogLevel(int level);

}  // namespace qvb
