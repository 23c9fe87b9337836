// Name masks: any text and pattern are matched without a crash or a runaway,
// and the rules a user relies on hold: "*" takes everything, a mask without
// wildcards takes its own text, and "*" before a plain ending takes every text
// with that ending.
#include <cstdint>

#include "FuzzInput.h"
#include "engine/Wildcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvb;
    if (size > 4096) return 0;  // names and masks are short; keeps each run quick
    const auto parts = fuzz::pieces(data, size, 2);
    const std::string& text = parts[0];
    const std::string pattern = parts.size() > 1 ? parts[1] : std::string();
    MatchesWildcard(text, pattern);
    matchesListingMask(text, pattern);
    QVB_CHECK(MatchesWildcard(text, "*"));
    QVB_CHECK(matchesListingMask(text, "*.*"));
    if (!fuzz::hasWildcard(text)) QVB_CHECK(MatchesWildcard(text, text));
    // An ending that starts with a plain ASCII character is folded alike
    // whatever stands before it.
    if (!pattern.empty() && static_cast<unsigned char>(pattern[0]) < 0x80 &&
        !fuzz::hasWildcard(pattern))
        QVB_CHECK(MatchesWildcard(text + pattern, "*" + pattern));
    for (const std::string& item : SplitList(text, pattern)) {
        QVB_CHECK(!item.empty());
        QVB_CHECK(item.find_first_of(pattern) == std::string::npos);
    }
    return 0;
}
