#pragma once

#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace qvb {

// Where the window module may be, in the order they are tried: beside the
// executable (the build tree, a portable copy), then the private library
// folder of an install.
std::vector<std::string> windowModuleCandidates(const std::string& executable);

// Loads the window module and opens the window; the exit status. A module
// that cannot be loaded is one German line on standard error and kExitUsage.
int runWindow(int& argc, char** argv, const TCommandLine& line);

}  // namespace qvb
