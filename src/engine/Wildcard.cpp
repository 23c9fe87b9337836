#include "engine/Wildcard.h"

#include <vector>

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

// Matches text against pattern, one "*" at a time. Each "*" tries every later
// place of the next literal character; a mask with many stars against a long
// name would retry the same places over and over, so after a few retries the
// places known to fail are remembered.
class TMatcher {
  public:
    TMatcher(std::string_view text, std::string_view pattern)
        : fText(text.begin()),
          fTextEnd(text.end()),
          fPattern(pattern.begin()),
          fPatternEnd(pattern.end()) {}

    bool match() { return matchFrom(fText, fPattern); }

  private:
    static constexpr int kRetriesBeforeMemo = 64;

    bool matchFrom(Iter t, Iter p) {
        const Iter te = fTextEnd, pe = fPatternEnd;
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
            if (retry(t, p)) return true;
            if (t == te) return false;
        }
    }

    bool retry(Iter t, Iter p) {
        if (++fRetries <= kRetriesBeforeMemo) return matchFrom(t, p);
        const size_t width = static_cast<size_t>(fPatternEnd - fPattern) + 1;
        if (fFailed.empty())
            fFailed.assign((static_cast<size_t>(fTextEnd - fText) + 1) * width, false);
        const size_t at =
            static_cast<size_t>(t - fText) * width + static_cast<size_t>(p - fPattern);
        if (fFailed[at]) return false;
        const bool matched = matchFrom(t, p);
        if (!matched) fFailed[at] = true;
        return matched;
    }

    Iter fText, fTextEnd, fPattern, fPatternEnd;
    int fRetries = 0;
    std::vector<bool> fFailed;
};

}  // namespace

std::string_view trimmed(std::string_view piece) {
    while (!piece.empty() && isBlankOrControl(piece.front())) piece.remove_prefix(1);
    while (!piece.empty() && isBlankOrControl(piece.back())) piece.remove_suffix(1);
    return piece;
}

bool matchesWildcardFolded(std::string_view text, std::string_view pattern) {
    return TMatcher(text, pattern).match();
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
