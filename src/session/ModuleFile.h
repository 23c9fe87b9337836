#pragma once

// The parts of the program loaded only when needed (the window, the
// desktop's D-Bus services) are modules beside the executable.

#include <string>

namespace qvb {

// Where the module `file` is: beside the executable (the build tree, a
// portable copy), else in the install's private library folder. When it is
// in neither, the install's place, so that a message names where it belongs;
// empty with the German reason in `error` when the executable's own path is
// unknown.
std::string moduleFile(const std::string& file, std::string& error);

}  // namespace qvb
