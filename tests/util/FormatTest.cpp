#include <gtest/gtest.h>

#include "util/CommaText.h"
#include "util/QV_Basics.h"
#include "util/QV_Utils.h"

namespace qvb {
namespace {

TEST(FormatThousands, GroupsDigitsWithDots) {
    EXPECT_EQ(formatThousands(0), "0");
    EXPECT_EQ(formatThousands(999), "999");
    EXPECT_EQ(formatThousands(1000), "1.000");
    EXPECT_EQ(formatThousands(100000), "100.000");
    EXPECT_EQ(formatThousands(1234567), "1.234.567");
    EXPECT_EQ(formatThousands(9223372036854775807LL), "9.223.372.036.854.775.807");
}

TEST(FormatFileSize, ThresholdsAreStrictlyGreater) {
    EXPECT_EQ(formatFileSize(-5), "0 Bytes");
    EXPECT_EQ(formatFileSize(0), "0 Bytes");
    EXPECT_EQ(formatFileSize(1), "1 Bytes");
    EXPECT_EQ(formatFileSize(1024), "1024 Bytes");
    EXPECT_EQ(formatFileSize(1025), "1 KB");
    EXPECT_EQ(formatFileSize(1536), "1,5 KB");
    EXPECT_EQ(formatFileSize(1048576), "1024 KB");
    EXPECT_EQ(formatFileSize(1073741824), "1024 MB");
    EXPECT_EQ(formatFileSize(1073741824LL * 3 / 2), "1,5 GB");
}

TEST(FormatFileSize, RoundsToTwoDecimalsAndDropsTrailingZeros) {
    EXPECT_EQ(formatFileSize(1024 + 1024 / 4), "1,25 KB");
    EXPECT_EQ(formatFileSize(2047), "2 KB");  // 1,999 rounds up
    EXPECT_EQ(formatFileSize(1048576 + 104858), "1,1 MB");
}

TEST(ParentDir, SkipsTheLastCharacter) {
    EXPECT_EQ(parentDir("/daten/sub/"), "/daten/");
    EXPECT_EQ(parentDir("/daten/sub"), "/daten/");
    EXPECT_EQ(parentDir("/"), "/");
    EXPECT_EQ(parentDir("a"), "a");
    EXPECT_EQ(parentDir("abc"), "abc");
    EXPECT_EQ(parentDir("C:\\Daten\\Sub\\", '\\'), "C:\\Daten\\");
    EXPECT_EQ(parentDir("C:", '\\'), "C:");
}

TEST(ExpandFileName, ResolvesDotsByText) {
    EXPECT_EQ(expandFileName("/a/./b/../c"), "/a/c");
    EXPECT_EQ(expandFileName("/a/b/"), "/a/b/");
    EXPECT_EQ(expandFileName("/../.."), "/");
    EXPECT_EQ(expandFileName("//a//b"), "/a/b");
}

TEST(CommaText, SplitsLikeTheStoredFilters) {
    EXPECT_EQ(splitCommaText("*.tmp,*.bak"), (std::vector<std::string>{"*.tmp", "*.bak"}));
    EXPECT_EQ(splitCommaText("*.tmp *.bak"), (std::vector<std::string>{"*.tmp", "*.bak"}));
    EXPECT_EQ(splitCommaText("  a;b"), (std::vector<std::string>{"a;b"}));
    EXPECT_EQ(splitCommaText("\"a b\",\"x\"\"y\""), (std::vector<std::string>{"a b", "x\"y"}));
    EXPECT_EQ(splitCommaText("a,"), (std::vector<std::string>{"a", ""}));
    EXPECT_TRUE(splitCommaText("").empty());
    EXPECT_EQ(splitDelimitedText("Test;\\_", ';'), (std::vector<std::string>{"Test", "\\_"}));
}

TEST(CommaText, JoinQuotesWhatSplitWouldCut) {
    const std::vector<std::string> items{"1 Datei hinzugefügt. ", "plain", "", "say \"hi\""};
    const std::string text = joinCommaText(items);
    EXPECT_EQ(text, "\"1 Datei hinzugefügt. \",plain,\"\",\"say \"\"hi\"\"\"");
    EXPECT_EQ(splitCommaText(text), items);
}

}  // namespace
}  // namespace qvb
