#pragma once

// A destination as the user types it, in the wizard and in the main window:
// "~" stands for the home folder; anything else must be an absolute path
// outside the folders no backup may write into.

#include <string>

namespace qvb {

// "~" and "~/..." with the home folder in front; anything else as typed.
std::string expandedDestination(const std::string& typed);

// Why an expanded destination is refused, in German; empty when it is taken.
std::string destinationInputError(const std::string& expanded);

}  // namespace qvb
