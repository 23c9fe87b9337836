#include <gtest/gtest.h>

#include <string>

#include "util/EscapedText.h"

namespace qvb {
namespace {

// Every "\x" of the result begins an escape, so the bytes can be read back.
TEST(EscapedText, ControlCharactersAndOnlyTheyAreWrittenAsHex) {
    const struct {
        std::string text, escaped;
    } cases[] = {
        {"Fotos 2024/Bild ä.jpg", "Fotos 2024/Bild ä.jpg"},
        {"a\nb\rc\td", "a\\x0Ab\\x0Dc\\x09d"},
        {std::string("\0\x1b[2J\x7f", 6), "\\x00\\x1B[2J\\x7F"},
        {"\xC2\x85|\xC2\x9B|\xC2\xA0", "\\xC2\\x85|\\xC2\\x9B|\xC2\xA0"},  // C1 controls, not NBSP
        {"\xE2\x80\xA8|\xE2\x80\xA9|\xE2\x80\xA6", "\\xE2\\x80\\xA8|\\xE2\\x80\\xA9|\xE2\x80\xA6"},
        {"C:\\Daten\\\\neu\\", "C:\\Daten\\\\neu\\"},
        {"\\x41 \\\\x0A \\X", "\\x5Cx41 \\\\x5Cx0A \\X"},
        {"\xC2", "\xC2"},
    };
    for (const auto& c : cases) EXPECT_EQ(escapeControls(c.text), c.escaped) << c.text;
}

}  // namespace
}  // namespace qvb
