#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "runcontrol/Protocol.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/Sys.h"

namespace qvb {
namespace {

// A folder that cannot be written passes the protocol on to the next place.
TEST(Protocol, FallsBackToTheNextPlaceAndSaysWhenNoneTakesIt) {
    test::TempDir beside, data;
    TProtocol protocol;
    protocol.appendText("Zeile 1\nZeile 2");
    const std::string first = beside / "einstellungen.log";
    const std::string second = data / "QV_Backup.log";
    sys::setFaultHook([&](sys::Op op, const char* path) {
        return op == sys::Op::Open && path && std::string(path).starts_with(beside.path()) ? EACCES
                                                                                           : 0;
    });
    EXPECT_EQ(protocol.saveToFirstOf({first, second}), second);
    EXPECT_EQ(test::readFile(second), "Zeile 1\nZeile 2\n");
    EXPECT_FALSE(test::exists(first));
    sys::setFaultHook([](sys::Op op, const char*) { return op == sys::Op::Rename ? EROFS : 0; });
    EXPECT_EQ(protocol.saveToFirstOf({first, second}), "");
    sys::setFaultHook({});
    EXPECT_EQ(test::readTree(data.path()).size(), 1u) << "no temporary file is left";
    EXPECT_EQ(protocol.saveToFirstOf({first, second}), first);
}

// A long protocol is written in pieces; every line arrives once, in order,
// and a closing line given apart follows it.
TEST(Protocol, LongProtocolArrivesWholeWithItsClosingLine) {
    test::TempDir folder;
    std::vector<std::string> lines;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        lines.push_back("kopiere Datei-" + std::to_string(i));
        expected += lines.back() + "\n";
    }
    const std::string closing = "Ergebnis";
    const std::string path = folder / "lang.log";
    ASSERT_TRUE(saveLinesToFile({lines, {&closing, 1}}, path));
    EXPECT_EQ(test::readFile(path), expected + "Ergebnis\n");
}

}  // namespace
}  // namespace qvb
