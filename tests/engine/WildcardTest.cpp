#include <gtest/gtest.h>

#include "engine/Wildcard.h"

using namespace qvb;

TEST(Wildcard, KeepsTheQuirksOfTheOriginalMatcher) {
    EXPECT_TRUE(MatchesWildcard("abc", "ABC?")) << "a '?' after the text's end matches nothing";
    EXPECT_TRUE(MatchesWildcard("b", "*?b")) << "'*?b' acts as '*b'";
    EXPECT_TRUE(MatchesWildcard("xb", "*?b"));
    EXPECT_FALSE(MatchesWildcard("abc", "*.*"));
    EXPECT_TRUE(MatchesWildcard("abc.", "*.*"));
    EXPECT_TRUE(matchesListingMask("abc", "*.*")) << "the folder listing lists every name";
    EXPECT_TRUE(matchesListingMask("abc", "*"));
    EXPECT_FALSE(matchesListingMask("abc", "*.txt"));
}

TEST(Wildcard, MatchesWholeTextsCaseInsensitively) {
    EXPECT_TRUE(MatchesWildcard("/a/Temp/b.txt", "*/temp/*"));
    EXPECT_TRUE(MatchesWildcard("/x/kopie von a.doc", "*kopie*.doc"));
    EXPECT_FALSE(MatchesWildcard("/x/kopie von a.doc", "kopie*.doc"));
    EXPECT_TRUE(MatchesWildcard("ÄRGER.TXT", "ärger.*"));
    EXPECT_TRUE(MatchesWildcard("ä.txt", "?.txt")) << "'?' takes a whole UTF-8 character";
    EXPECT_FALSE(MatchesWildcard("abc", "ab"));
    EXPECT_FALSE(MatchesWildcard("ab", "abc"));
    EXPECT_FALSE(MatchesWildcard("x", ""));
    EXPECT_TRUE(MatchesWildcard("", "*"));
    EXPECT_TRUE(MatchesWildcard("aaab", "*ab"));
    EXPECT_FALSE(MatchesWildcard("aaac", "*ab"));
    EXPECT_TRUE(MatchesWildcard("\xff\xfe.bin", "*.BIN")) << "names that are no UTF-8 still match";
}

TEST(Wildcard, SplitListTrimsAndDropsEmptyAndRepeatedPieces) {
    EXPECT_EQ(SplitList(" a ; B;;A ;b\t; \n", ";"), (std::vector<std::string>{"a", "B"}));
    EXPECT_EQ(SplitList("*.txt;*.TXT", ";"), std::vector<std::string>{"*.txt"});
    EXPECT_EQ(SplitList("x,y;z", ",;"), (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_TRUE(SplitList("", ";").empty());
}

namespace qvb {
namespace {

TEST(MatchesWildcard, ManyStarsAgainstALongNameStayQuick) {
    // Without remembering failed places this takes longer than the universe.
    const std::string name(300, 'a');
    std::string mask;
    for (int i = 0; i < 20; ++i) mask += "*a";
    EXPECT_FALSE(MatchesWildcard(name, mask + "*b"));
    EXPECT_TRUE(MatchesWildcard(name + "b", mask + "*b"));
    EXPECT_TRUE(MatchesWildcard(name, mask + "*"));
}

}  // namespace
}  // namespace qvb
