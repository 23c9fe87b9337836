#include "engine/Wildcard.h"

#include "util/TextCase.h"

namespace qvb {

namespace {

using Iter = std::string_view::const_iterator;

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// "?" stands for one character, which in UTF-8 may take several bytes.
Iter nextCharacter(Iter t, Iter end) {
    ++t;
    for (int k = 0; k < 3 && t != end && isContinuationByte(*t); ++k) ++t;
    return t;
}

bool matchFrom(Iter t, Iter te, Iter p, Iter pe) {
    while (t != te && p != pe && *p != '*') {
        if (*p == '?') {
            t = nextCharacter(t, te);
        } else {
            if (*p != *t) return false;
            ++t;
        }
        ++p;
    }
    if (t != te && (p == pe || *p != '*')) return false;
    while (p != pe && (*p == '*' || *p == '?')) ++p;
    if (t == te || p == pe) return p == pe;
    const char c = *p++;
    for (;;) {
        while (t != te && *t != c) ++t;
        if (t == te) return false;
        ++t;
        if (matchFrom(t, te, p, pe)) return true;
        if (t == te) return false;
    }
}

bool isBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view trimmed(std::string_view piece) {
    while (!piece.empty() && isBlankOrControl(piece.front())) piece.remove_prefix(1);
    while (!piece.empty() && isBlankOrControl(piece.back())) piece.remove_suffix(1);
    return piece;
}

}  // namespace

bool matchesWildcardFolded(std::string_view text, std::string_view pattern) {
    return matchFrom(text.begin(), text.end(), pattern.begin(), pattern.end());
}

bool MatchesWildcard(std::string_view text, std::string_view pattern) {
    return matchesWildcardFolded(foldCase(text), foldCase(pattern));
}

bool matchesListingMask(std::string_view name, std::string_view mask) {
    if (mask == "*" || mask == "*.*") return true;
    return MatchesWildcard(name, mask);
}

std::vector<std::string> SplitList(std::string_view text, std::string_view separators) {
    std::vector<std::string> items;
    std::vector<std::string> folded;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(separators, start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view piece = trimmed(text.substr(start, end - start));
        if (!piece.empty()) {
            std::string key = foldCase(piece);
            bool known = false;
            for (const std::string& k : folded) known = known || k == key;
            if (!known) {
                items.emplace_back(piece);
                folded.push_back(std::move(key));
            }
        }
        start = end + 1;
    }
    return items;
}

}  // namespace qvb
