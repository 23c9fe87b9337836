#include <gtest/gtest.h>

#include "engine/NameMask.h"
#include "util/TextCase.h"

namespace qvb {
namespace {

using Items = std::vector<std::string>;

TEST(NameMaskTest, ItemsSplitAtSeparatorsAndAtBlanksOnlyBetweenWildcards) {
    EXPECT_EQ(splitNameItems("*.bak *.tmp", kMaskSeparators), (Items{"*.bak", "*.tmp"}));
    EXPECT_EQ(splitNameItems("Kopie von*.doc", kMaskSeparators), (Items{"Kopie von*.doc"}));
    EXPECT_EQ(splitNameItems("Kopie von*.doc *.bak", kMaskSeparators),
              (Items{"Kopie von*.doc", "*.bak"}));
    EXPECT_EQ(splitNameItems(" *.a ; *.b,Makefile;;  ,", kMaskSeparators),
              (Items{"*.a", "*.b", "Makefile"}));
    EXPECT_EQ(splitNameItems("\"a,b; c.txt\",\"x\"\"y\" *.z", kMaskSeparators),
              (Items{"a,b; c.txt", "x\"y", "*.z"}))
        << "quotes keep separators and blanks, a doubled quote stands for one";
    EXPECT_EQ(splitNameItems("Neuer Ordner;cache", kSkipSeparators),
              (Items{"Neuer Ordner", "cache"}));
    EXPECT_EQ(splitNameItems("Briefe, alt", kSkipSeparators), (Items{"Briefe, alt"}))
        << "a comma is part of a skip item";
    EXPECT_TRUE(splitNameItems("  ; ", kMaskSeparators).empty());
}

TEST(NameMaskTest, MaskMatchesTheNameAsItIsAndWithTheAppendedDot) {
    const auto matches = [](const std::string& masks, const std::string& path) {
        return TNameMasks(masks).matches(foldCase(path));
    };
    EXPECT_TRUE(matches("Makefile", "/Makefile"));
    EXPECT_TRUE(matches("README", "/doc/README"));
    EXPECT_TRUE(matches("*~", "/notes~"));
    EXPECT_TRUE(matches("*.", "/README")) << "the appended dot still counts";
    EXPECT_TRUE(matches("*.*", "/README"));
    EXPECT_FALSE(matches("README", "/README.md"));
    EXPECT_FALSE(matches("*~", "/notes~.txt~x"));
    EXPECT_TRUE(matches("kopie von*.doc", "/Briefe/Kopie von Brief.DOC"));
    EXPECT_FALSE(matches("Kopie von*.doc", "/Kopie.doc")) << "one mask, not two";
    EXPECT_FALSE(matches("Kopie von*.doc", "/von x.doc"));
    EXPECT_TRUE(matches("*.bak *.tmp", "/a.tmp"));
    EXPECT_TRUE(matches("*.bak *.tmp", "/a.bak"));
    EXPECT_TRUE(matches("/sub/*", "/sub/x"));
    EXPECT_FALSE(matches("/sub/*", "/other/sub"));
    EXPECT_TRUE(TNameMasks("  ; ").empty());
}

}  // namespace
}  // namespace qvb
