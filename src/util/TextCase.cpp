#include "util/TextCase.h"

#include <utf8proc.h>

#include <cstdlib>

namespace qvb {

namespace {

bool isAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace

namespace {

// Folds valid UTF-8; false when the text is not.
bool foldValid(std::string_view text, std::string& out) {
    utf8proc_uint8_t* folded = nullptr;
    const utf8proc_ssize_t n = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
        static_cast<utf8proc_ssize_t>(text.size()), &folded,
        static_cast<utf8proc_option_t>(UTF8PROC_CASEFOLD | UTF8PROC_COMPOSE | UTF8PROC_STABLE));
    if (n < 0) return false;
    out.append(reinterpret_cast<const char*>(folded), static_cast<size_t>(n));
    std::free(folded);
    return true;
}

void foldPiece(std::string_view piece, std::string& out) {
    if (!foldValid(piece, out)) out += asciiLower(piece);
}

}  // namespace

std::string foldCase(std::string_view text) {
    // Most names are plain ASCII; spare them the Unicode machinery.
    if (isAscii(text)) return asciiLower(text);
    std::string out;
    if (foldValid(text, out)) return out;
    // A name with a stray byte (an old 8-bit name) still folds its valid parts
    // like any other text, so that "*Ä*" finds the "Ä" in it.
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    size_t start = 0, pos = 0;
    while (pos < text.size()) {
        utf8proc_int32_t cp = 0;
        const utf8proc_ssize_t n =
            utf8proc_iterate(p + pos, static_cast<utf8proc_ssize_t>(text.size() - pos), &cp);
        if (n > 0) {
            pos += static_cast<size_t>(n);
            continue;
        }
        foldPiece(text.substr(start, pos - start), out);
        out += text[pos];
        start = ++pos;
    }
    foldPiece(text.substr(start), out);
    return out;
}

std::string toLowerCase(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t rest = static_cast<utf8proc_ssize_t>(text.size());
    while (rest > 0) {
        utf8proc_int32_t cp = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(p, rest, &cp);
        if (n <= 0) {
            const char c = static_cast<char>(*p);
            out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            ++p;
            --rest;
            continue;
        }
        utf8proc_uint8_t buf[4];
        const utf8proc_ssize_t len = utf8proc_encode_char(utf8proc_tolower(cp), buf);
        out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(len));
        p += n;
        rest -= n;
    }
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return foldCase(a) == foldCase(b);
}

bool containsIgnoreCase(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) return false;
    return foldCase(haystack).find(foldCase(needle)) != std::string::npos;
}

}  // namespace qvb
