#pragma once

// The window is a module of its own, loaded only when it is to open, so that
// a run from the command line never maps Qt Widgets, Qt Gui and what they
// bring along. This is the one function the module offers.

namespace qvb {

// The file name of the module and the name of its entry point.
inline constexpr char kWindowModuleFile[] = "qvb_window.so";
inline constexpr char kWindowEntryName[] = "qvb_open_window";

// Opens the main window and runs until it closes; the exit status. `iniFile`
// is the --ini argument as given, or empty; `showProtocol` a kept run's
// protocol to show, or empty. Without a reachable display: one German line
// on standard error and kExitUsage.
using TOpenWindow = int (*)(int* argc, char** argv, const char* iniFile, const char* showProtocol);

}  // namespace qvb

extern "C" int qvb_open_window(int* argc, char** argv, const char* iniFile,
                               const char* showProtocol);
