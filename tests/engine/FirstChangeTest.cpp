#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <map>
#include <string>

#include "engine/CopyFolder.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"

// The hook a run calls before it first changes its destination: exactly once,
// while the destination still looks as before the run, and never for a run
// that finds nothing to do or only previews.

namespace qvb {
namespace {

using test::file;

constexpr time_t kT = 1700000000;

// What a folder holds, modes included.
std::map<std::string, std::string> stateOf(const std::string& root) {
    std::map<std::string, std::string> state = test::readTree(root);
    for (auto& [path, description] : state) {
        struct stat st {};
        if (::lstat((root + path).c_str(), &st) == 0)
            description += " " + std::to_string(st.st_mode);
    }
    return state;
}

TEST(FirstChange, ARunCallsItsHookOnceBeforeItsFirstChangeAndOnlyThen) {
    test::RecordingUserInterface ui;
    const struct {
        const char* name;
        std::function<void(const std::string& src, const std::string& dst)> change;
        bool preview;
        int calls;
    } cases[] = {
        {"nothing to do", [](const std::string&, const std::string&) {}, false, 0},
        {"one new file",
         [](const std::string& src, const std::string&) {
             test::writeFile(src + "neu.txt", "N", kT);
         },
         false, 1},
        {"a large new file",
         [](const std::string& src, const std::string&) {
             test::writeFile(src + "gross.bin", std::string(3 << 20, 'g'), kT);
         },
         false, 1},
        {"only a deletion",
         [](const std::string& src, const std::string&) { ::unlink((src + "a.txt").c_str()); },
         false, 1},
        {"only a mode",
         [](const std::string& src, const std::string&) { ::chmod((src + "a.txt").c_str(), 0600); },
         false, 1},
        {"a new empty folder",
         [](const std::string& src, const std::string&) { ::mkdir((src + "leer").c_str(), 0755); },
         false, 1},
        {"a missing destination",
         [](const std::string&, const std::string& dst) { test::removeTree(dst); }, false, 1},
        {"a preview of a new file",
         [](const std::string& src, const std::string&) {
             test::writeFile(src + "neu.txt", "N", kT);
         },
         true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir tmp;
        const std::string src = tmp / "src/";
        const std::string dst = tmp / "dst/";
        test::buildTree(src, {file("a.txt", "A", kT), file("sub/b.txt", "B", kT)});
        TCopyFolder mirror;
        mirror.setPassTo(mirror.fCopier.get());
        mirror.fSource = src;
        mirror.fDest = dst;
        mirror.setDelete(true);
        ASSERT_TRUE(mirror.Execute());
        c.change(src, dst);
        const auto before = stateOf(dst);
        int calls = 0;
        bool untouched = false;
        mirror.setBeforeFirstChange([&] {
            ++calls;
            untouched = stateOf(dst) == before;
        });
        mirror.setPreview(c.preview);
        EXPECT_TRUE(mirror.Execute());
        EXPECT_EQ(calls, c.calls);
        EXPECT_TRUE(calls == 0 || untouched);
        EXPECT_EQ(stateOf(dst) != before, c.calls > 0);
    }
}

}  // namespace
}  // namespace qvb
