#pragma once

// Names and other data in the program's lines (the protocol, standard output
// and error) are the user's bytes: a file name with a line feed or an escape
// sequence could fake a line of its own or steer a terminal.

#include <string>
#include <string_view>
#include <vector>

namespace qvb {

// `text` with each control character written as "\xHH", byte by byte: C0
// (line feed, carriage return, tab, Escape, ...), DEL, the C1 controls of
// UTF-8 (U+0080..U+009F) and its line and paragraph separators (U+2028,
// U+2029). A backslash followed by "x" is written "\x5C", so every "\x" of
// the result begins an escape; any other backslash stays as it is.
std::string escapeControls(std::string_view text);

// The lines of a text of the program's own: a line ends at "\r\n", "\n" or "\r".
std::vector<std::string> splitLines(std::string_view text);

}  // namespace qvb
