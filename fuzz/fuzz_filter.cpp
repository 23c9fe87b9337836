// The ordered filter rules of the file search: any rules and names are decided
// without a crash, and the first matching rule decides: a leading ">*" takes
// every name, a leading "<*" refuses every name, and rules after them change
// nothing.
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
    const std::string folder = "/" + parts[0] + "/";
    const std::string name = parts.size() > 1 ? parts[1] : std::string("a.txt");
    TFileCriteria criteria;
    criteria.Filters.assign(parts.begin() + std::min<size_t>(2, parts.size()), parts.end());
    const bool decided = criteria.AcceptFileName(folder, name);
    if (criteria.Filters.empty()) QVB_CHECK(decided);
    criteria.Filters.insert(criteria.Filters.begin(), ">*");
    QVB_CHECK(criteria.AcceptFileName(folder, name));
    criteria.Filters.front() = "<*";
    QVB_CHECK(!criteria.AcceptFileName(folder, name));
    criteria.Filters.front() = "*";
    QVB_CHECK(!criteria.AcceptFileName(folder, name));
    criteria.Filters.erase(criteria.Filters.begin());
    criteria.Filters.push_back(">*");
    QVB_CHECK(criteria.AcceptFileName(folder, name) == decided);
    return 0;
}
