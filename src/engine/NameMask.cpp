#include "engine/NameMask.h"

#include "engine/Wildcard.h"
#include "util/TextCase.h"

namespace qvb {

namespace {

bool hasWildcard(std::string_view text) {
    return text.find_first_of("*?") != std::string_view::npos;
}

class TItemReader {
  public:
    TItemReader(std::string_view text, std::string_view separators)
        : fText(text), fSeparators(separators) {}

    std::vector<std::string> readAll() {
        std::vector<std::string> items;
        while (skipBlanks()) {
            if (isSeparator(fText[fPos])) {
                ++fPos;
                continue;
            }
            std::string item = fText[fPos] == '"' ? quoted() : words();
            if (!item.empty()) items.push_back(std::move(item));
        }
        return items;
    }

  private:
    bool isSeparator(char c) const { return fSeparators.find(c) != std::string_view::npos; }
    bool atEnd() const { return fPos >= fText.size(); }

    // False at the end of the text.
    bool skipBlanks() {
        while (!atEnd() && isBlankOrControl(fText[fPos])) ++fPos;
        return !atEnd();
    }

    std::string quoted() {
        std::string item;
        for (++fPos; !atEnd(); ++fPos) {
            if (fText[fPos] != '"') {
                item += fText[fPos];
            } else if (fPos + 1 < fText.size() && fText[fPos + 1] == '"') {
                item += '"';
                ++fPos;
            } else {
                ++fPos;
                break;
            }
        }
        return item;
    }

    std::string_view word() {
        const size_t start = fPos;
        while (!atEnd() && !isBlankOrControl(fText[fPos]) && !isSeparator(fText[fPos])) ++fPos;
        return fText.substr(start, fPos - start);
    }

    // Words joined by their blanks until a separator, or until a blank stands
    // between two pieces that each hold a wildcard.
    std::string words() {
        std::string item(word());
        for (;;) {
            const size_t blankStart = fPos;
            if (!skipBlanks() || isSeparator(fText[fPos]) || fText[fPos] == '"') break;
            const size_t wordStart = fPos;
            const std::string_view next = word();
            if (hasWildcard(item) && hasWildcard(next)) {
                fPos = wordStart;
                break;
            }
            item += fText.substr(blankStart, wordStart - blankStart);
            item += next;
        }
        return item;
    }

    std::string_view fText;
    std::string_view fSeparators;
    size_t fPos = 0;
};

}  // namespace

std::vector<std::string> splitNameItems(std::string_view text, std::string_view separators) {
    return TItemReader(text, separators).readAll();
}

TNameMasks::TNameMasks(std::string_view text) {
    for (const std::string& item : splitNameItems(text, kMaskSeparators))
        fMasks.push_back(foldCase(item));
}

bool TNameMasks::matches(std::string_view foldedPath) const {
    const size_t nameStart = foldedPath.rfind('/') + 1;
    const bool dotless = foldedPath.find('.', nameStart) == std::string_view::npos;
    // The name with the "." appended, built once for all masks.
    const std::string dotted = dotless ? std::string(foldedPath) + '.' : std::string();
    const auto matchesAnyForm = [&](size_t start, const std::string& mask) {
        return matchesWildcardFolded(foldedPath.substr(start), mask) ||
               (dotless && matchesWildcardFolded(std::string_view(dotted).substr(start), mask));
    };
    for (const std::string& mask : fMasks) {
        if (matchesAnyForm(0, mask)) return true;
        if (mask.find('/') == std::string::npos && matchesAnyForm(nameStart, mask)) return true;
    }
    return false;
}

}  // namespace qvb
