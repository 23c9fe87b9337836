#include <gtest/gtest.h>

#include "util/TextCase.h"

namespace qvb {
namespace {

TEST(TextCase, FoldsUnicodeAndKeepsInvalidBytes) {
    EXPECT_EQ(foldCase("ÄÖÜ"), "äöü");
    EXPECT_TRUE(equalsIgnoreCase("Kopie.DOC", "kopie.doc"));
    EXPECT_TRUE(containsIgnoreCase("/Daten/TEMP/x", "temp"));
    EXPECT_FALSE(containsIgnoreCase("/Daten", ""));
    const std::string invalid =
        "A\xff\xfe"
        "B";
    EXPECT_EQ(foldCase(invalid),
              "a\xff\xfe"
              "b");
    EXPECT_EQ(foldCase("Ärger\x91.TXT"), "ärger\x91.txt");  // a stray byte folds the rest still
    EXPECT_EQ(toLowerCase("*.TMP;Straße;ÄRGER"), "*.tmp;straße;ärger");
    EXPECT_EQ(toLowerCase(invalid),
              "a\xff\xfe"
              "b");
}

}  // namespace
}  // namespace qvb
