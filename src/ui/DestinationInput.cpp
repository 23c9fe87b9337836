#include "ui/DestinationInput.h"

#include "jobs/ProtectedFolders.h"
#include "util/HomeFolder.h"

namespace qvb {

namespace {

// The text of the wizard's own warning: a relative path names no folder the
// user could find again.
const char* const kNoDestinationWarning =
    "Wohin soll gesichert werden?\r\nBitte geben Sie das Zielverzeichnis an.";

}  // namespace

std::string expandedDestination(const std::string& typed) {
    if (typed != "~" && !typed.starts_with("~/")) return typed;
    const std::string home = homeFolder();
    return home.empty() ? typed : home + typed.substr(1);
}

std::string destinationInputError(const std::string& expanded) {
    if (!expanded.starts_with('/')) return kNoDestinationWarning;
    return protectedDestinationError(expanded);
}

}  // namespace qvb
