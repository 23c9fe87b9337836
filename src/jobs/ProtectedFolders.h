#pragma once

#include <string>

namespace qvb {

// A backup destination gets files written and, with deletion on, files of
// its own removed. The user's home folder, the folders above it and the
// system's top folders hold data that is not the backup's, so none of them
// may be a destination; folders below them may. Returns an empty text when
// `destination` is allowed, else the German reason. The comparison is by text,
// after "." and ".." and trailing delimiters are resolved.
std::string protectedDestinationError(const std::string& destination);

}  // namespace qvb
