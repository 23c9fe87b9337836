#include "util/EscapedText.h"

namespace qvb {

namespace {

// How many bytes from `i` on are written escaped: 0 for a byte that stays.
size_t escapedLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t at) {
        return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
    };
    const unsigned c = byte(i);
    if (c < 0x20 || c == 0x7F) return 1;
    if (c == '\\') return byte(i + 1) == 'x' ? 1 : 0;
    if (c == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) return 2;
    if (c == 0xE2 && byte(i + 1) == 0x80 && (byte(i + 2) == 0xA8 || byte(i + 2) == 0xA9)) return 3;
    return 0;
}

void appendEscaped(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

}  // namespace

std::string escapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t escaped = escapedLength(text, i);
        if (escaped == 0) {
            out += text[i++];
            continue;
        }
        for (const size_t end = i + escaped; i < end; ++i)
            appendEscaped(out, static_cast<unsigned char>(text[i]));
    }
    return out;
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    lines.emplace_back(text.substr(start));
    return lines;
}

}  // namespace qvb
