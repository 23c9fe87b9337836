#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "engine/NameStore.h"
#include "engine/QV_FileList.h"
#include "support/TempDir.h"
#include "support/Tree.h"

namespace qvb {
namespace {

std::string nameNumber(size_t i) {
    return "t" + std::to_string(i % 97) + "/s" + std::to_string(i % 13) + "/f" + std::to_string(i) +
           std::string(i % 40, 'x') + ".dat";
}

// Names keep their bytes across many blocks, at block ends and beyond a block's size.
TEST(NameStore, EveryNameStaysAsItWasKept) {
    TNameStore store;
    std::vector<std::pair<std::string_view, std::string>> kept;
    for (size_t i = 0; i < 200000; ++i) {
        const std::string name = nameNumber(i);
        kept.emplace_back(store.keep(name), name);
        if (i == 1000) {
            const std::string huge(3u << 20, 'h');
            kept.emplace_back(store.keep(huge), huge);
        }
    }
    kept.emplace_back(store.keep(""), "");
    char* placed = store.place(4);
    std::copy_n("abcd", 4, placed);
    kept.emplace_back(std::string_view(placed, 4), "abcd");
    for (const auto& [view, name] : kept) ASSERT_EQ(view, name);
}

// A list scanned again after Clear holds only the second tree's names.
TEST(NameStore, AClearedListListsAnew) {
    test::TempDir dir;
    const std::string root = dir.path() + "src/";
    test::buildTree(root, {test::file("a/first.txt", "1", 1700000000)});
    TFileList list;
    list.setBaseDir(root);
    ASSERT_TRUE(list.scan());
    list.Clear();
    test::buildTree(root, {test::file("b/second_with_a_longer_name.txt", "2", 1700000000)});
    ASSERT_TRUE(list.scan());
    std::vector<std::string> names;
    for (const TFileEntry& entry : list.entries()) names.emplace_back(entry.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a/first.txt", "b/second_with_a_longer_name.txt"}));
    ASSERT_NE(list.find("a/first.txt"), nullptr);
}

}  // namespace
}  // namespace qvb
