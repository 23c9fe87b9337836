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
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/CopyFolder.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/Mounts.h"
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
    std::map<std::pair<dev_t, ino_t>, std::vector<std::string>> groups;
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
                if (st.st_nlink > 1) groups[{st.st_dev, st.st_ino}].push_back(rel + name);
            }
        }
        ::closedir(d);
    }
    for (auto& [inode, names] : groups)
        for (const std::string& name : names)
            if (names.size() > 1)
                out[name] += " group=" + *std::min_element(names.begin(), names.end());
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
    const std::vector<std::string> expected{"TCopyFile.copyWithBlockWrite: Fehler = \"" +
                                                sys::errorText(EIO) + "\" bei \"" + src +
                                                "disk.img\"",
                                            "  2. Versuch: Kopiermethode \"XCopy\"... "};
    EXPECT_NE(std::search(log.begin(), log.end(), expected.begin(), expected.end()), log.end());
    expectSameTree();
}

// A POSIX ACL as the kernel stores it: version 2, then (tag, permissions, id) entries.
std::string rawAcl(std::initializer_list<std::array<uint32_t, 3>> entries) {
    std::string out;
    const auto put = [&out](uint32_t value, size_t bytes) {
        for (size_t i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
    };
    put(2, 4);
    for (const auto& [tag, perm, id] : entries) {
        put(tag, 2);
        put(perm, 2);
        put(id, 4);
    }
    return out;
}

constexpr uint32_t kUserObj = 1, kUser = 2, kGroupObj = 4, kMask = 0x10, kOther = 0x20;
constexpr uint32_t kNoId = 0xFFFFFFFF;

void setXattr(const std::string& path, const std::string& name, const std::string& value) {
    ASSERT_EQ(::lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0), 0)
        << path << " " << name << ": " << std::strerror(errno);
}

TEST_F(KeptOnDiskTest, AttributesAndAclsArriveAndFollowAChangeWithoutACopy) {
    test::buildTree(src, {file("f.txt", "F", kT), file("sub/g.txt", "G", kT), dir("shared/"),
                          file("plain.txt", "p", kT), file("sub/h.txt", "H", kT)});
    const std::string readOnlyForUser = rawAcl({{kUserObj, 6, kNoId},
                                                {kUser, 4, 1234},
                                                {kGroupObj, 4, kNoId},
                                                {kMask, 4, kNoId},
                                                {kOther, 0, kNoId}});
    // A folder of the backup that hands an ACL down: the copies made in it
    // must not keep what their sources lack. Made before the source's
    // attributes change, so that the run brings the folder's own in line.
    test::buildTree(dst, {dir("sub/")});
    setXattr(dst + "sub", "system.posix_acl_default", readOnlyForUser);
    setXattr(src + "f.txt", "user.note", "eins");
    setXattr(src + "f.txt", "user.long", std::string(3000, 'l'));  // beyond a first read's guess
    setXattr(src + "sub", "user.folder", "ordner");
    setXattr(src + "sub/g.txt", "system.posix_acl_access", readOnlyForUser);
    setXattr(src + "shared", "system.posix_acl_default", readOnlyForUser);
    // Made after the default ACL: the kernel gives it an ACL of its own, as it does to its copy.
    test::writeFile(src + "shared/new.txt", "n", kT);
    if (::geteuid() == 0) setXattr(src + "f.txt", "trusted.mark", "root");
    for (const char* folder : {"sub", "shared"}) test::setMtime(src + folder, kT);
    ASSERT_TRUE(run());
    expectSameTree();

    setXattr(src + "f.txt", "user.note", "zwei");
    ::lremovexattr((src + "f.txt").c_str(), "trusted.mark");
    setXattr(src + "plain.txt", "user.new", "neu");
    setXattr(src + "sub", "user.folder", "anders");
    ASSERT_EQ(::lremovexattr((src + "shared").c_str(), "system.posix_acl_default"), 0);
    ASSERT_TRUE(run());
    EXPECT_EQ(mirror.fStatistics.fAdded + mirror.fStatistics.fReplaced, 0);
    expectSameTree();
}

TEST_F(KeptOnDiskTest, RefusedAttributesWarnOncePerRunAndTheFilesArrive) {
    test::buildTree(src, {file("a.txt", "A", kT), file("b.txt", "B", kT), dir("d/")});
    for (const char* name : {"a.txt", "b.txt", "d"}) setXattr(src + name, "user.x", "1");
    sys::setFaultHook(
        [](sys::Op op, const char*) { return op == sys::Op::SetXattr ? ENOTSUP : 0; });
    mirror.fWorkers = 1;
    ASSERT_TRUE(run());
    const auto warning = [&](const std::string& name) {
        return "WARNUNG: das Dateisystem \"" + fileSystemType(dst) +
               "\" des Zielverzeichnisses nimmt erweiterte Attribute oder ACLs nicht an (\"" + dst +
               name + "\": " + sys::errorText(ENOTSUP) +
               "); die Dateien werden ohne sie kopiert, weitere Fälle werden nicht gemeldet";
    };
    // The files are copied in the order in which the folder lists them.
    EXPECT_EQ(std::count(log.begin(), log.end(), warning("a.txt")) +
                  std::count(log.begin(), log.end(), warning("b.txt")),
              1);
    EXPECT_EQ(mirror.fStatistics.fAdded, 2);
    EXPECT_EQ(mirror.fStatistics.fWarnings, 1);
    EXPECT_EQ(test::readFile(dst + "b.txt"), "B");
}

TEST_F(KeptOnDiskTest, HardLinksShareOneCopyAndFollowAChangedLinkSet) {
    test::buildTree(src, {file("h/one", "1", kT), file("solo", "s", kT), file("h/pair", "p", kT)});
    test::buildTree(src, {dir("other/")});
    for (const char* name : {"h/two", "other/three"})
        ASSERT_EQ(::link((src + "h/one").c_str(), (src + name).c_str()), 0);
    ASSERT_EQ(::link((src + "h/pair").c_str(), (src + "h/pair2").c_str()), 0);
    for (const int workers : {1, 2}) {
        mirror.fWorkers = workers;
        test::removeTree(dst);
        ASSERT_TRUE(run());
        expectSameTree();
        EXPECT_EQ(mirror.fStatistics.fAdded, 6) << "each name counts";
    }

    // "two" leaves the group with a copy of its own (same time, same bytes), "four" joins it.
    test::writeFile(src + "h/two.new", "1", kT);
    ASSERT_EQ(::rename((src + "h/two.new").c_str(), (src + "h/two").c_str()), 0);
    ASSERT_EQ(::link((src + "h/one").c_str(), (src + "h/four").c_str()), 0);
    ASSERT_TRUE(run());
    expectSameTree();

    // Rewritten in place: every name sees the new bytes, and so does every copy.
    test::writeFile(src + "h/pair", "neu", kT + 10);
    ASSERT_TRUE(run());
    expectSameTree();
    ASSERT_TRUE(run());
    EXPECT_EQ(mirror.fStatistics.fAdded + mirror.fStatistics.fReplaced, 0);
}

TEST(LocalTimeDestination, FatTypesDirectAndThroughFuse) {
    const std::string mountinfo =
        "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "45 22 0:40 / /media/mein\\040stick rw,nosuid - fuse.fusefat fusefat rw\n"
        "46 45 0:41 / /media/mein\\040stick/innen rw - fuse.sshfs host: rw\n"
        "47 22 8:17 / /media/exfat rw - fuseblk /dev/sdb1 rw\n";
    const struct {
        std::string path;
        std::string type;
    } mounts[] = {{"/home/anna/", "ext4"},
                  {"/media/mein stick/Backup/", "fuse.fusefat"},
                  {"/media/mein stick/innen/x", "fuse.sshfs"},
                  {"/media/exfat", "fuseblk"}};
    for (const auto& m : mounts) EXPECT_EQ(mountTypeOf(mountinfo, m.path), m.type) << m.path;

    const struct {
        unsigned long fsType;
        const char* mountType;
        bool local;
    } types[] = {{0x4d44, "vfat", true},
                 {0x4d44, "", true},
                 {0x65735546, "fuse.fusefat", true},
                 {0x65735546, "fuse.vfat", true},
                 {0x65735546, "fuseblk", false},
                 {0x65735546, "fuse.sshfs", false},
                 {0xEF53, "ext4", false},
                 {0x2011BAB0, "exfat", false}};
    for (const auto& t : types)
        EXPECT_EQ(isLocalTimeType(t.fsType, t.mountType), t.local) << t.mountType;
}

TEST(LocalTimeDestination, AnHourOffWithinTheToleranceIsTheSameTime) {
    test::TempDir tmp;
    test::writeFile(tmp / "f", "12345", kT);
    TFileList list;
    list.setBaseDir(tmp.path());
    ASSERT_TRUE(list.scan());
    list.fTimeTolerance = 2;
    constexpr int64_t kS = 1'000'000'000;
    const int64_t source = int64_t{kT} * kS;
    const struct {
        int64_t destOffsetS;  // destination time minus source time
        int64_t destSize;
        int localTime;  // compare's answer with a local-time destination
        int utc;        // and with any other
    } cases[] = {{-3600, 5, 0, 1}, {-3602, 5, 0, 1}, {-3603, 5, 1, 1}, {3600, 5, 0, 0},
                 {-3600, 4, 1, 1}, {-1800, 5, 1, 1}, {-7200, 5, 1, 1}, {0, 5, 0, 0}};
    for (const auto& c : cases) {
        for (const bool local : {true, false}) {
            list.fDestLocalTime = local;
            EXPECT_EQ(list.compare("f", source + c.destOffsetS * kS, c.destSize),
                      local ? c.localTime : c.utc)
                << c.destOffsetS << " s, size " << c.destSize << (local ? ", local" : ", UTC");
        }
    }
}

// A FAT image mounted through FUSE by a driver that reads its times in the
// zone `tz`; two mounts in zones an hour apart show what a change of
// daylight-saving time does to a FAT disk.
class FatMount {
  public:
    FatMount(const std::string& image, const std::string& point) : fImage(image), fPoint(point) {
        ::mkdir(point.c_str(), 0755);
        fCreated = std::system(("truncate -s 32M '" + image + "' && mkfs.vfat '" + image +
                                "' >/dev/null 2>&1")
                                   .c_str()) == 0;
    }
    ~FatMount() { unmount(); }
    bool mount(const std::string& tz) {
        unmount();
        fMounted = fCreated && std::system(("TZ=" + tz + " fusefat -o rw+ '" + fImage + "' '" +
                                            fPoint + "' >/dev/null 2>&1")
                                               .c_str()) == 0;
        return fMounted;
    }
    void unmount() {
        if (fMounted) {
            EXPECT_EQ(std::system(("fusermount3 -u '" + fPoint + "'").c_str()), 0);
        }
        fMounted = false;
    }

  private:
    std::string fImage, fPoint;
    bool fCreated = false;
    bool fMounted = false;
};

TEST_F(KeptOnDiskTest, FatDestinationSkipsTheDaylightSavingHour) {
    FatMount fat(tmp / "fat.img", tmp / "fat");
    if (!fat.mount("UTC0")) {
        // CI runs as root with FUSE: there the FAT disk must be reachable.
        if (::geteuid() == 0) FAIL() << "no FAT file system through fusefat";
        GTEST_SKIP() << "fusefat needs root or /dev/fuse";
    }
    test::buildTree(src, {file("a.txt", "A", kT), file("sub/b.txt", "BB", kT + 2)});
    mirror.fDest = dst = tmp / "fat/Backup/";
    mirror.fTimeTolerance = 2;
    ASSERT_TRUE(mirror.Execute());
    EXPECT_EQ(mirror.fStatistics.fAdded, 2);
    // The driver loses a time on a rename: the times a FAT disk holds after a copy.
    test::setMtime(dst + "a.txt", kT);
    test::setMtime(dst + "sub/b.txt", kT + 2);
    ASSERT_TRUE(fat.mount("XXX-1"));
    mirror.Execute();
    EXPECT_EQ(mirror.fStatistics.fSkipped, 2);
    EXPECT_EQ(mirror.fStatistics.fReplaced, 0);
    EXPECT_EQ(test::readFile(dst + "sub/b.txt"), "BB");
}

struct stat statOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}
ino_t inodeOf(const std::string& path) {
    return statOf(path).st_ino;
}

// Interval folders of one job: each run writes one, linking what the one before holds unchanged.
TEST_F(KeptOnDiskTest, VersionsShareUnchangedFilesAndNeverChangeEachOther) {
    test::buildTree(src, {file("a.txt", "A", kT), file("b.txt", "B", kT),
                          file("sub/c.txt", "C", kT), test::link("l", "a.txt")});
    ASSERT_EQ(::link((src + "a.txt").c_str(), (src + "sub/a2").c_str()), 0);
    const auto runInto = [&](const std::string& version, const std::string& previous) {
        mirror.fDest = tmp / version;
        mirror.fPreviousDest = previous.empty() ? "" : tmp / previous;
        return run();
    };
    const auto logged = [&](const std::string& line) {
        return std::count(log.begin(), log.end(), line);
    };
    ASSERT_TRUE(runInto("v1/", ""));

    test::writeFile(src + "b.txt", "B2", kT + 60);
    ASSERT_TRUE(runInto("v2/", "v1/"));
    for (const char* name : {"a.txt", "sub/a2", "sub/c.txt"})
        EXPECT_EQ(inodeOf(tmp / "v2/" + name), inodeOf(tmp / "v1/" + name)) << name;
    EXPECT_NE(inodeOf(tmp / "v2/b.txt"), inodeOf(tmp / "v1/b.txt"));
    EXPECT_EQ(logged("  verknüpfe " + tmp / "v2/sub/c.txt"), 1);
    EXPECT_EQ(logged("  erstelle " + tmp / "v2/b.txt"), 1);
    // The second name of the source's pair follows its first name's copy.
    EXPECT_EQ(mirror.fStatistics.fLinked, 2);
    EXPECT_EQ(mirror.fStatistics.fAdded, 5) << "linked files count as created";
    EXPECT_EQ(mirror.fStatistics.fCopiedBytes, 2) << "only b.txt's bytes";
    EXPECT_EQ(mirror.fStatistics.linkedText(), "2 Dateien verknüpft.");
    EXPECT_EQ(snapshot(tmp / "v2/"), snapshot(src));

    // A new mode reaches the next version by a copy; the older ones keep theirs.
    ASSERT_EQ(::chmod((src + "sub/c.txt").c_str(), 0600), 0);
    setXattr(src + "b.txt", "user.x", "1");
    ASSERT_TRUE(runInto("v3/", "v2/"));
    EXPECT_NE(inodeOf(tmp / "v3/sub/c.txt"), inodeOf(tmp / "v2/sub/c.txt"));
    EXPECT_NE(inodeOf(tmp / "v3/b.txt"), inodeOf(tmp / "v2/b.txt"));
    EXPECT_EQ(xattrsOf(tmp / "v2/b.txt"), "");
    // The folder of an earlier period written again: its copy, shared with v1,
    // gets a new name (here a link to v3's) instead of a new mode.
    ASSERT_TRUE(runInto("v2/", "v3/"));
    EXPECT_EQ(inodeOf(tmp / "v2/sub/c.txt"), inodeOf(tmp / "v3/sub/c.txt"));
    EXPECT_EQ(statOf(tmp / "v1/sub/c.txt").st_mode & 07777, 0644u);
    EXPECT_EQ(mirror.fStatistics.fLinked, 1);

    // Deleting in one version leaves the others whole.
    ASSERT_EQ(::unlink((src + "a.txt").c_str()), 0);
    ASSERT_TRUE(runInto("v3/", "v2/"));
    EXPECT_FALSE(test::exists(tmp / "v3/a.txt"));
    EXPECT_EQ(test::readFile(tmp / "v1/a.txt") + test::readFile(tmp / "v2/a.txt"), "AA");

    // A preview names the links a run would make and writes nothing.
    mirror.fPreview = true;
    ASSERT_TRUE(runInto("v4/", "v3/"));
    EXPECT_EQ(logged("  verknüpfe " + tmp / "v4/sub/c.txt"), 1);
    EXPECT_FALSE(test::exists(tmp / "v4"));
}

// Where a link cannot be made the file is copied; a file system without links
// says so once and the run stops trying.
TEST_F(KeptOnDiskTest, VersionsCopyWhereLinksCannotBeMade) {
    FatMount fat(tmp / "fat.img", tmp / "fat");
    // CI runs as root with FUSE: there the FAT disk must be reachable.
    if (!fat.mount("UTC0") && ::geteuid() == 0) FAIL() << "no FAT file system through fusefat";
    // fusefat shows every file with mode 0700: the sources match it.
    test::buildTree(src, {file("a.txt", "A", kT), file("b.txt", "B", kT)});
    for (const char* name : {"a.txt", "b.txt"}) ::chmod((src + name).c_str(), 0700);
    const struct {
        std::string base;  // the destination's parent folder
        int fault;         // the errno a link of the run fails with, 0: none
        bool eachName;     // the first link of each name fails, else the run's first only
        int warnings;
    } cases[] = {{tmp / "fat/", 0, false, 1},
                 {tmp.path(), EPERM, false, 1},
                 {tmp.path(), EXDEV, false, 0},
                 {tmp.path(), EMLINK, true, 0}};
    for (const auto& c : cases) {
        if (c.fault == 0 && ::geteuid() != 0) continue;
        SCOPED_TRACE(c.base + " " + std::to_string(c.fault));
        mirror.fTimeTolerance = 2;
        mirror.fDest = c.base + "v1/";
        mirror.fPreviousDest = "";
        ASSERT_TRUE(run());
        // The driver loses a time on a rename.
        for (const char* name : {"a.txt", "b.txt"}) test::setMtime(c.base + "v1/" + name, kT);
        std::set<std::string> tried;
        sys::setFaultHook([&](sys::Op op, const char* path) {
            if (op != sys::Op::Link || !(tried.empty() || (c.eachName && !tried.count(path))))
                return 0;
            tried.insert(path);
            return c.fault;
        });
        mirror.fDest = c.base + "v2/";
        mirror.fPreviousDest = c.base + "v1/";
        ASSERT_TRUE(run());
        sys::setFaultHook({});
        EXPECT_EQ(mirror.fStatistics.fAdded - mirror.fStatistics.fLinked, 2);
        EXPECT_EQ(mirror.fStatistics.fWarnings, c.warnings);
        EXPECT_NE(inodeOf(c.base + "v2/a.txt"), inodeOf(c.base + "v1/a.txt"));
        test::removeTree(c.base + "v1");
        test::removeTree(c.base + "v2");
    }
}

}  // namespace
}  // namespace qvb
