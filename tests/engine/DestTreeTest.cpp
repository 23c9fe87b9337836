#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "engine/DestTree.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/Sys.h"

namespace qvb {
namespace {

using test::exists;
using test::file;
using test::readTree;

// Each case runs with openat2 and once more as on a kernel without it.
class DestTreeTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (!GetParam())
            sys::setFaultHook(
                [](sys::Op op, const char*) { return op == sys::Op::OpenBeneath ? ENOSYS : 0; });
        test::buildTree(tmp / "outside/", {file("keep", "K")});
        test::buildTree(dst,
                        {file("a/b/f", "F"), file("plain", "P"), test::link("out", tmp / "outside"),
                         test::link("a/rel", "../../outside"), test::link("inner", "a")});
        ASSERT_TRUE(tree.open(dst));
    }
    void TearDown() override { sys::setFaultHook({}); }

    test::TempDir tmp;
    std::string dst = tmp / "dst/";
    TDestTree tree;
};

TEST_P(DestTreeTest, NeverGoesThroughALinkOrAFile) {
    EXPECT_GE(tree.folder("a/b/"), 0);
    for (const std::string rel :
         {"out", "out/", "a/rel/", "inner", "inner/b", "plain/", "a/b/f/x", "../dst/a"}) {
        SCOPED_TRACE(rel);
        EXPECT_LT(tree.folder(rel), 0);
        bool created = true;
        EXPECT_LT(tree.makeFolder(rel + "/new", created), 0);
        EXPECT_FALSE(created);
        EXPECT_NE(tree.removeFile(rel + "/keep"), 0);
        EXPECT_FALSE(tree.removeDir(rel + "/"));
        EXPECT_NE(tree.setMode(rel + "/keep", 0600), 0);
    }
    EXPECT_EQ(readTree(tmp / "outside/").size(), 1u);
    EXPECT_TRUE(exists(tmp / "outside/keep"));
    EXPECT_FALSE(exists(dst + "a/new"));  // a link within the destination counts as well
}

TEST_P(DestTreeTest, MakesMissingFoldersPrivateAndTellsWhetherItDid) {
    bool created = false;
    EXPECT_GE(tree.makeFolder("x/y/z/", created), 0);
    EXPECT_TRUE(created);
    for (const std::string path : {"x", "x/y", "x/y/z"}) {
        struct stat st {};
        ASSERT_EQ(::lstat((dst + path).c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u) << path;
    }
    EXPECT_GE(tree.makeFolder("a/b", created), 0);
    EXPECT_FALSE(created);
}

// A whole folder with a link to the outside goes; the outside stays.
TEST_P(DestTreeTest, RemovesAllBelowANameWithoutFollowingLinks) {
    std::vector<std::string> removed;
    EXPECT_EQ(tree.removeAll("a",
                             [&](const std::string& rel, bool isFolder) {
                                 removed.push_back(rel + (isFolder ? " D" : ""));
                             }),
              0);
    std::sort(removed.begin(), removed.end());
    EXPECT_EQ(removed, (std::vector<std::string>{"a/ D", "a/b/ D", "a/b/f", "a/rel"}));
    EXPECT_FALSE(exists(dst + "a"));
    EXPECT_TRUE(exists(tmp / "outside/keep"));
    EXPECT_EQ(tree.removeAll("out", [](const std::string&, bool) {}), 0);
    EXPECT_TRUE(exists(tmp / "outside/keep"));
    EXPECT_EQ(tree.removeAll("gone", [](const std::string&, bool) {}), ENOENT);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutOpenat2, DestTreeTest, ::testing::Bool());

}  // namespace
}  // namespace qvb
