#pragma once

#include <string>

namespace qvb {

// The user's home folder: $HOME when it is set, non-empty and absolute,
// otherwise the password database's entry of the real user. cron with
// `env -i` and some service managers start programs without HOME; a fallback
// such as /tmp would be a folder any other user can make first. Empty only when
// neither source knows the user.
std::string homeFolder();

}  // namespace qvb
