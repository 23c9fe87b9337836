#pragma once

#include "app/CommandLine.h"

namespace qvb {

// Loads the window module and opens the window; the exit status. A module
// that cannot be loaded is one German line on standard error and kExitUsage.
int runWindow(int& argc, char** argv, const TCommandLine& line);

}  // namespace qvb
