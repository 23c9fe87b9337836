#pragma once

// Name masks with "*" and "?" and the list splitter of the file search.

#include <string>
#include <string_view>
#include <vector>

namespace qvb {

// Case-insensitive (Unicode case folding) match of the whole text against a
// pattern. "*" matches any run of characters, "/" included; "?" one character.
// Kept on purpose from the original matcher: a "?" right after a "*" matches
// nothing ("*?x" acts as "*x"), "?" left over when the text has ended matches
// nothing ("abc?" matches "abc"), and "abc" does not match "*.*".
bool MatchesWildcard(std::string_view text, std::string_view pattern);
// The same on texts that are already case-folded (callers fold once, match often).
bool matchesWildcardFolded(std::string_view text, std::string_view pattern);

// The folder listing's rule: "*" and "*.*" list every name, any other mask
// goes through MatchesWildcard.
bool matchesListingMask(std::string_view name, std::string_view mask);

// Blanks and control characters: what surrounds an item of a list.
inline bool isBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}
std::string_view trimmed(std::string_view piece);

// Cuts the text at each of the separator characters, trims blanks and control
// characters, drops empty pieces and pieces already present (ignoring case);
// the order of first occurrence stays.
std::vector<std::string> SplitList(std::string_view text, std::string_view separators);

}  // namespace qvb
