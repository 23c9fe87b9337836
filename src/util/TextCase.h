#pragma once

// Case-insensitive comparison for masks and skip texts: Unicode case folding
// ("Ä" matches "ä"). Names that are not valid UTF-8 fold their ASCII letters
// only and keep every other byte.

#include <string>
#include <string_view>

namespace qvb {

std::string foldCase(std::string_view text);
// Lower case as the stored masks keep it (Unicode-aware, "ß" stays "ß");
// invalid UTF-8 has its ASCII letters lowered only.
std::string toLowerCase(std::string_view text);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
// True when `needle` occurs in `haystack`, ignoring case; an empty needle never does.
bool containsIgnoreCase(std::string_view haystack, std::string_view needle);

}  // namespace qvb
