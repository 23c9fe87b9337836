#pragma once

// Extended attributes and POSIX ACLs (stored as the attributes
// "system.posix_acl_access" and "system.posix_acl_default") travel with a
// copy as raw values, so that no ACL library is needed to keep them.

#include <string>
#include <string_view>
#include <vector>

namespace qvb {

struct TXattr {
    std::string name;
    std::string value;
    bool operator==(const TXattr&) const = default;
};
// Sorted by name.
using TXattrs = std::vector<TXattr>;

// The attributes a backup carries: "user." and the ACLs always, and for root
// also "security." and "trusted." (file capabilities among them).
bool carriesXattr(std::string_view name, bool root);

// The carried attributes of the open file `fd`, or of `path` when `fd` < 0
// (never of what a link points to); 0 or the errno. A file system without
// attributes has none.
int readXattrs(int fd, const char* path, TXattrs& out);

// Makes the carried attributes of the open file `fd` equal `want`: sets what
// differs and removes what `want` lacks (an ACL the target inherited from its
// folder). A file known to carry none (`bare`) is not asked first. 0 or the
// errno of the first refusal; the rest are still tried.
int writeXattrs(int fd, const TXattrs& want, bool bare = false);

// False when a file new in `folder` starts without carried attributes: the
// folder has no default ACL to hand down, and no label a security module
// gives every new file (it would carry one too). An unreadable folder may.
bool handsDownXattrs(const char* folder);

}  // namespace qvb
