#pragma once

#include "app/CommandLine.h"

namespace qvb {

// Opens the main window and runs until it closes; the exit status. Without a
// reachable display: one German line on standard error and kExitUsage.
int runWindow(int& argc, char** argv, const TCommandLine& line);

}  // namespace qvb
