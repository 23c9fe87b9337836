// What a backup keeps beyond names, contents and modes: holes, inode groups,
// extended attributes and ACLs, folder times. The destination is read back
// whole and compared with the source.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "engine/CopyFolder.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/Sys.h"

namespace qvb {
namespace {

using test::dir;
using test::file;

constexpr time_t kT = 1700000000;
constexpr int64_t kSparseSize = int64_t{16} << 20;
constexpr int64_t kMaxSparseCopy = 64 << 10;

// A file of `size` bytes whose only data is "data" at `offset`.
void writeSparse(const std::string& path, int64_t offset, int64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "data", 4, offset), 4);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

int64_t allocated(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? int64_t{st.st_blocks} * 512 : -1;
}

std::string xattrsOf(const std::string& path) {
    char names[4096];
    const ssize_t n = ::llistxattr(path.c_str(), names, sizeof names);
    std::map<std::string, std::string> sorted;
    for (ssize_t i = 0; i < n; i += static_cast<ssize_t>(std::string(names + i).size()) + 1) {
        char value[4096];
        const ssize_t v = ::lgetxattr(path.c_str(), names + i, value, sizeof value);
        sorted[names + i] = std::string(value, static_cast<size_t>(std::max<ssize_t>(v, 0)));
    }
    std::string out;
    for (const auto& [name, value] : sorted) out += " " + name + "=" + value;
    return out;
}

// Everything below `root` that a restore would give back: per name its kind,
// contents, mode, time, holes, attributes and the first name of its inode group.
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> out;
    std::map<std::pair<dev_t, ino_t>, std::string> groups;
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        const std::string rel = pending.back();
        pending.pop_back();
        DIR* d = ::opendir((root + rel).c_str());
        if (!d) continue;
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            const std::string path = root + rel + name;
            struct stat st {};
            ::lstat(path.c_str(), &st);
            std::string& text = out[rel + name];
            text = "mode=" + std::to_string(st.st_mode) +
                   " mtime=" + std::to_string(st.st_mtim.tv_sec) + "." +
                   std::to_string(st.st_mtim.tv_nsec) + xattrsOf(path);
            if (S_ISDIR(st.st_mode)) {
                pending.push_back(rel + name + "/");
            } else if (S_ISREG(st.st_mode)) {
                text += " size=" + std::to_string(st.st_size) +
                        (int64_t{st.st_blocks} * 512 < st.st_size ? " holes" : "") +
                        " data=" + std::to_string(std::hash<std::string>{}(test::readFile(path)));
                if (st.st_nlink > 1) {
                    auto [it, fresh] = groups.try_emplace({st.st_dev, st.st_ino}, rel + name);
                    text += " group=" + (fresh ? rel + name : it->second);
                }
            }
        }
        ::closedir(d);
    }
    return out;
}

class KeptOnDiskTest : public ::testing::Test {
  protected:
    KeptOnDiskTest() {
        mirror.setPassTo(mirror.fCopier.get());
        mirror.fSource = src;
        mirror.fDest = dst;
        mirror.fDelete = true;
    }
    ~KeptOnDiskTest() override { sys::setFaultHook({}); }

    bool run() {
        const bool ok = mirror.Execute();
        log = mirror.takeMessages();
        const std::vector<std::string> lines = mirror.fCopier->takeMessages();
        log.insert(log.end(), lines.begin(), lines.end());
        return ok;
    }
    // The destination as the source, the base folder aside (it is the user's own).
    void expectSameTree() {
        std::map<std::string, std::string> want = snapshot(src), have = snapshot(dst);
        EXPECT_EQ(want, have);
    }

    test::RecordingUserInterface ui;
    test::TempDir tmp;
    std::string src = tmp / "src/";
    std::string dst = tmp / "dst/";
    TCopyFolder mirror;
    std::vector<std::string> log;
};

TEST_F(KeptOnDiskTest, HolesAndFolderTimesArriveAndStay) {
    test::buildTree(src, {file("plain.txt", "plain", kT), dir("a/b/"), file("a/b/c.txt", "c", kT)});
    writeSparse(src + "a/disk.img", kSparseSize / 2, kSparseSize);
    writeSparse(src + "tail.img", kSparseSize - 4, kSparseSize);
    writeSparse(src + "head.img", 0, kSparseSize);
    for (const char* folder : {"a/b", "a"}) test::setMtime(src + folder, kT - 100);
    ASSERT_TRUE(run());
    expectSameTree();
    for (const char* name : {"a/disk.img", "tail.img", "head.img"})
        EXPECT_LE(allocated(dst + name), kMaxSparseCopy) << name;

    // A later run that writes into a folder gives it its time back.
    test::writeFile(src + "a/b/new.txt", "new", kT);
    test::setMtime(src + "a/b", kT - 50);
    ASSERT_TRUE(run());
    expectSameTree();
    EXPECT_EQ(mirror.fStatistics.fAdded, 1);
}

TEST_F(KeptOnDiskTest, FailedSearchForDataHandsTheFileToTheNextMethod) {
    ::mkdir(src.c_str(), 0755);
    writeSparse(src + "disk.img", 4096 * 16, kSparseSize);
    sys::setFaultHook([](sys::Op op, const char*) { return op == sys::Op::Seek ? EIO : 0; });
    ASSERT_TRUE(run());
    sys::setFaultHook({});
    const std::vector<std::string> expected{
        "TCopyFile.copyWithBlockWrite: Fehler = \"" + sys::errorText(EIO) + "\"",
        "  2. Versuch: Kopiermethode \"XCopy\"... "};
    EXPECT_NE(std::search(log.begin(), log.end(), expected.begin(), expected.end()), log.end());
    expectSameTree();
}

}  // namespace
}  // namespace qvb
