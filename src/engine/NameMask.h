#pragma once

// How the name masks (exclude, include-only) and the folder skip items of a
// job are read and matched. Every part that filters names goes through here,
// so that the window's hints, the help and every scan mean the same thing.

#include <string>
#include <string_view>
#include <vector>

namespace qvb {

inline constexpr std::string_view kMaskSeparators = ",;";
inline constexpr std::string_view kSkipSeparators = ";";

// Splits a mask or skip text into items. An item ends at one of `separators`;
// an item that starts with a double quote runs to the closing one (a doubled
// quote inside stands for one); blanks around an item are dropped. A blank
// inside an item separates only when the text before it and the word after it
// each hold a wildcard: "*.bak *.tmp" gives two masks, "Kopie von*.doc" and
// "Neuer Ordner" one each. Empty items are dropped.
std::vector<std::string> splitNameItems(std::string_view text, std::string_view separators);

// A set of masks with "*" and "?", case-insensitive. A mask matches the path
// below the base folder with its leading "/" ("/sub/a.txt") and, without a "/"
// of its own, the name alone; a name without "." is tried as it is and with a
// "." appended, so both "Makefile" and "*.*" match the file Makefile.
class TNameMasks {
  public:
    TNameMasks() = default;
    explicit TNameMasks(std::string_view text);
    bool empty() const { return fMasks.empty(); }
    // `foldedPath` is already case-folded and starts with "/".
    bool matches(std::string_view foldedPath) const;

  private:
    std::vector<std::string> fMasks;
};

// Whether a scan lists the file at `foldedPath`: include masks, when there
// are any, take precedence over the exclude masks.
inline bool listedByMasks(const TNameMasks& include, const TNameMasks& exclude,
                          std::string_view foldedPath) {
    if (!include.empty()) return include.matches(foldedPath);
    return exclude.empty() || !exclude.matches(foldedPath);
}

}  // namespace qvb
