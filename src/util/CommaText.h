#pragma once

// The delimited-text form of string lists used by the stored filters and the
// statistics summaries: an item ends at the delimiter or at any character up to
// and including the blank (tabs, line breaks); blanks before an item are
// skipped; with a quote character, an item that starts with it runs to the
// closing one (a doubled quote stands for one); a delimiter at the very end
// adds an empty item.

#include <string>
#include <vector>

namespace qvb {

std::vector<std::string> splitDelimitedText(const std::string& text, char delimiter,
                                            char quote = '\0');
// Items joined by the delimiter; an item holding a blank, a delimiter or a quote
// is quoted (its quotes doubled), as is an empty item.
std::string joinDelimitedText(const std::vector<std::string>& items, char delimiter,
                              char quote = '"');

inline std::vector<std::string> splitCommaText(const std::string& text) {
    return splitDelimitedText(text, ',', '"');
}
inline std::string joinCommaText(const std::vector<std::string>& items) {
    return joinDelimitedText(items, ',', '"');
}

}  // namespace qvb
