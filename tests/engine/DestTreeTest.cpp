#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
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

// A user's read-only folders (the base, "ro", "ro/sub") take every change
// inside them, and get their modes back when the tree goes.
TEST_P(DestTreeTest, ReadOnlyFoldersTakeChangesAndGetTheirModesBack) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root hands the tree to another user";
    test::buildTree(dst, {file("ro/f", "F"), file("ro/sub/f", "F"), file("ro/all/f", "F")});
    ::chmod(tmp.path().c_str(), 0755);
    for (const auto& [path, what] : readTree(dst))
        ASSERT_EQ(::lchown((dst + path).c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(dst.c_str(), 65534, 65534), 0);
    const std::vector<std::function<bool(TDestTree&)>> writes = {
        [](TDestTree& t) { return t.removeFile("plain") == 0; },
        [](TDestTree& t) { return t.removeFile("ro/sub/f") == 0 && t.removeDir("ro/sub/"); },
        [](TDestTree& t) { return t.removeAll("ro/all", [](const std::string&, bool) {}) == 0; },
        [](TDestTree& t) {
            bool created = false;
            return t.makeFolder("ro/new/", created) >= 0 && created;
        }};
    for (const std::string folder : {"", "ro", "ro/sub", "ro/all"})
        ::chmod((dst + folder).c_str(), 0555);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
        for (size_t i = 0; i < writes.size(); ++i) {
            TDestTree own;
            if (!own.open(dst) || !writes[i](own)) ::_exit(static_cast<int>(i + 1));
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write that failed, counted from 1";
    for (const std::string folder : {"", "ro"}) {
        struct stat st {};
        ASSERT_EQ(::stat((dst + folder).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0555u) << folder;
    }
    EXPECT_EQ(readTree(dst + "ro/"),
              (std::map<std::string, std::string>{{"f", "file:F"}, {"new/", "dir"}}));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutOpenat2, DestTreeTest, ::testing::Bool());

}  // namespace
}  // namespace qvb
