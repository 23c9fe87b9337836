#include "engine/HardLinks.h"

#include <vector>

namespace qvb {

namespace {

bool sameInode(const TLinkedName& a, const TLinkedName& b) {
    return a.dev == b.dev && a.ino == b.ino;
}

// Calls `group(first, last)` for each run of names of one inode in `names`
// (sorted by inode).
template <class Group>
void forEachGroup(const std::vector<TLinkedName>& names, Group group) {
    for (size_t first = 0; first < names.size();) {
        size_t last = first + 1;
        while (last < names.size() && sameInode(names[last], names[first])) ++last;
        group(first, last);
        first = last;
    }
}

}  // namespace

void TLinkPlan::build(const TFileList& source, const TFileList& dest) {
    fLeader.clear();
    fLeaders.clear();
    fBroken.clear();
    fDestInode.clear();
    fOutside.clear();
    const std::vector<TLinkedName>& names = source.linkedNames();
    forEachGroup(names, [&](size_t first, size_t last) {
        if (last - first > 1) fLeaders.insert(names[first].index);
        for (size_t i = first + 1; i < last; ++i) fLeader[names[i].index] = names[first].index;
    });
    const std::vector<TLinkedName>& copies = dest.linkedNames();
    const TFileEntry* const sourceEntries = source.entries().data();
    forEachGroup(copies, [&](size_t first, size_t last) {
        // The names of one copy should all stand for one source group: the
        // group of the first name with a source keeps the copy, the others leave it.
        int64_t keeper = -1;
        const bool outside = copies[first].links > last - first;
        for (size_t i = first; i < last; ++i) {
            const std::string_view name = dest.entries()[copies[i].index].name;
            fDestInode[name] = {copies[i].dev, copies[i].ino};
            if (outside) fOutside.insert(name);
            const TFileEntry* entry = source.find(name);
            if (entry == nullptr) continue;
            const auto index = static_cast<uint32_t>(entry - sourceEntries);
            const int64_t lead = leaderOf(index);
            const int64_t group = lead < 0 ? index : lead;
            if (keeper < 0)
                keeper = group;
            else if (group != keeper)
                fBroken.insert(index);
        }
    });
}

int64_t TLinkPlan::leaderOf(uint32_t index) const {
    const auto it = fLeader.find(index);
    return it == fLeader.end() ? -1 : static_cast<int64_t>(it->second);
}

bool TLinkPlan::shared(std::string_view a, std::string_view b) const {
    const auto first = fDestInode.find(a);
    const auto second = fDestInode.find(b);
    return first != fDestInode.end() && second != fDestInode.end() &&
           first->second == second->second;
}

}  // namespace qvb
