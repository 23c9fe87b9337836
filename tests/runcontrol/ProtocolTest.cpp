#include <gtest/gtest.h>

#include <cerrno>
#include <string>

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

}  // namespace
}  // namespace qvb
