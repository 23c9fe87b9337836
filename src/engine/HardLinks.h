#pragma once

// Names of one source that share an inode share one in the destination too:
// the first name in list order is copied, the others are linked to its copy.

#include <sys/types.h>

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "engine/QV_FileList.h"

namespace qvb {

class TLinkPlan {
  public:
    // From both listings, before anything is copied.
    void build(const TFileList& source, const TFileList& dest);
    bool empty() const { return fLeader.empty() && fBroken.empty(); }
    // The entry `index` is the first name of a group.
    bool leads(uint32_t index) const { return fLeaders.count(index) != 0; }
    // The source entry whose copy the entry `index` is to share, or -1.
    int64_t leaderOf(uint32_t index) const;
    // The copy of `index` shares its inode with a name outside its own group
    // (a name that left the group in the source): it needs a copy of its own.
    bool broken(uint32_t index) const { return fBroken.count(index) != 0; }
    // The destination names `a` and `b` are one inode already.
    bool shared(std::string_view a, std::string_view b) const;
    // The destination name `name` shares its inode with a name outside the
    // destination tree (another version): changed only by a new name.
    bool sharedOutside(std::string_view name) const { return fOutside.count(name) != 0; }

  private:
    std::unordered_map<uint32_t, uint32_t> fLeader;  // follower -> leader
    std::unordered_set<uint32_t> fLeaders;
    std::unordered_set<uint32_t> fBroken;
    std::unordered_map<std::string_view, std::pair<dev_t, ino_t>> fDestInode;
    std::unordered_set<std::string_view> fOutside;
};

}  // namespace qvb
