// The name rule of a scan as the mirror applies it (mask rule and filter
// rules of the file search): any masks, rules and names are decided without a
// crash, and the rules a user relies on hold: no masks list every file,
// include "*" lists every file whatever is excluded, excluding "*" lists none,
// and a leading ">*" or "<*" filter rule decides alone.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "engine/FindFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvb;
    if (size > 8192) return 0;
    auto parts = fuzz::pieces(data, size, 16);
    parts.resize(std::max<size_t>(parts.size(), 4));
    const std::string base = "/base/";
    const std::string folder = base + parts[0] + "/";
    const std::string& name = parts[1];
    TFileCriteria criteria;
    criteria.setLiteralFolder(base);
    criteria.setMaskRule("", "");
    QVB_CHECK(criteria.AcceptFileName(folder, name));
    criteria.setMaskRule(parts[2], parts[3]);
    const bool decided = criteria.AcceptFileName(folder, name);
    criteria.setMaskRule("*", parts[3]);
    QVB_CHECK(criteria.AcceptFileName(folder, name));
    criteria.setMaskRule("", "*," + parts[3]);
    QVB_CHECK(!criteria.AcceptFileName(folder, name));
    criteria.setMaskRule(parts[2], parts[3]);
    criteria.Filters.assign(parts.begin() + 4, parts.end());
    criteria.Filters.insert(criteria.Filters.begin(), ">*");
    QVB_CHECK(criteria.AcceptFileName(folder, name) == decided);
    criteria.Filters.front() = "<*";
    QVB_CHECK(!criteria.AcceptFileName(folder, name));
    return 0;
}
