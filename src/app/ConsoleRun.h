#pragma once

// The program without a window: lists the jobs, runs them or the self-test on
// the session of the settings the command line names.

#include <string>

#include "app/CommandLine.h"

namespace qvb {

// "QV_Backup: <text>" on standard error, control characters escaped.
void printError(const std::string& text);

// Runs a List, Run or SelfTest command line to its end; the exit code.
int runConsole(const TCommandLine& line);

}  // namespace qvb
