#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "support/TempDir.h"
#include "util/Mounts.h"
#include "util/QV_Basics.h"

namespace qvb {
namespace {

// Every user of the mount table reads it through one parser: escaped blanks,
// optional fields of any number and lines that break off must all come out
// the same for the scan, the clock probe and the folder dialog.
TEST(FolderHelpers, MountInfoLinesParseIntoTheirFields) {
    const std::string table =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 8:17 / /media/anna/USB\\040Stick rw shared:1 master:2 - vfat /dev/sdb1 rw\n"
        "41 22 0:50 / /mnt/share rw - nfs4 server:/export\\040x rw\n"
        "42 22 0:51 / /mnt/broken rw shared:3\n"
        "43 22 0:52 /\n"
        "44 22 0:53 / /mnt/nosource rw - tmpfs\n";
    const std::vector<TMountEntry> expected = {
        {"8:1", "/", "ext4", "/dev/sda1"},
        {"8:17", "/media/anna/USB Stick", "vfat", "/dev/sdb1"},
        {"0:50", "/mnt/share", "nfs4", "server:/export x"},
        {"0:53", "/mnt/nosource", "tmpfs", ""},
    };
    const std::vector<TMountEntry> parsed = parseMountInfo(table);
    ASSERT_EQ(parsed.size(), expected.size());
    for (size_t i = 0; i < parsed.size(); ++i) {
        EXPECT_EQ(parsed[i].device, expected[i].device) << i;
        EXPECT_EQ(parsed[i].point, expected[i].point) << i;
        EXPECT_EQ(parsed[i].type, expected[i].type) << i;
        EXPECT_EQ(parsed[i].source, expected[i].source) << i;
    }
    EXPECT_EQ(mountTypeOf(table, "/media/anna/USB Stick/backup"), "vfat");
    EXPECT_EQ(mountTypeOf(table, "/home/anna"), "ext4");
}

TEST(FolderHelpers, FoldersAreToldAndCreatedWithTheirParents) {
    const test::TempDir dir;
    std::ofstream(dir / "file") << "x";
    ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
    ASSERT_TRUE(forceDirectories(dir / "real/"));
    struct Case {
        std::string path;
        bool created;  // forceDirectories' answer
    };
    const Case cases[] = {
        {dir / "a/b/c/", true},     // three new levels
        {dir / "a/b", true},        // exists already
        {dir / "link/sub", true},   // through a link to a folder
        {dir / "file/sub", false},  // a file on the way
        {dir / "file", false},      // a file in the place
        {"", false},
        {"/", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(forceDirectories(c.path), c.created) << c.path;
        EXPECT_EQ(isDirectory(c.path), c.created) << c.path;
    }
    EXPECT_TRUE(isRealDirectory(dir / "real/"));
    EXPECT_FALSE(isRealDirectory(dir / "link/"));
    EXPECT_TRUE(isDirectory(dir / "link/"));
}

}  // namespace
}  // namespace qvb
