#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <random>

#include "engine/CopyFolder.h"
#include "engine/CopyIt.h"
#include "engine/LogLevel.h"
#include "engine/QV_FileList.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/Sys.h"

using namespace qvb;
using namespace qvb::test;

namespace {

constexpr int64_t kSecond = 1'000'000'000;

class NullCopy : public TCopyIt {
  public:
    bool Execute() override { return true; }
};

// name -> kind of every entry, for whole-list comparisons.
std::map<std::string, TEntryKind> listed(const TFileList& list) {
    std::map<std::string, TEntryKind> out;
    for (const TFileEntry& e : list.entries()) out[std::string(e.name)] = e.kind;
    return out;
}

std::vector<std::string> fileNames(const TFileList& list) {
    std::vector<std::string> out;
    for (const TFileEntry& e : list.entries())
        if (e.kind != ekEmptyDir) out.emplace_back(e.name);
    std::sort(out.begin(), out.end());
    return out;
}

// The base folder's path as empty-folder entries carry it.
std::string emptyDirName(const std::string& path) {
    return path.substr(1);
}

struct FileListTest : ::testing::Test {
    TempDir tmp;
    RecordingUserInterface ui;
    TFileList list;

    bool scan(const std::string& base) {
        list.Clear();
        list.setBaseDir(base);
        return list.scan();
    }

    void TearDown() override { sys::setFaultHook({}); }
};

}  // namespace

TEST_F(FileListTest, ListsFilesLinksAndEmptyFoldersWithCounters) {
    buildTree(tmp.path(),
              {file("a.txt", "12345"), file("sub/b.txt", "xy"), file("sub/deep/.hidden"),
               dir("sub/leer"), file("onlydot/.profile"), test::link("sub/l", "../a.txt")});
    list.fListEmptyDirs = true;
    ASSERT_TRUE(scan(tmp.path()));
    const std::string base = emptyDirName(tmp.path());
    EXPECT_EQ(listed(list), (std::map<std::string, TEntryKind>{
                                {"a.txt", ekFile},
                                {"sub/b.txt", ekFile},
                                {"sub/deep/.hidden", ekFile},
                                {"sub/l", ekLink},
                                {"onlydot/.profile", ekFile},
                                {base + "sub/leer/", ekEmptyDir},
                                {base + "sub/deep/", ekEmptyDir},  // only a dot name inside
                                {base + "onlydot/", ekEmptyDir},
                            }));
    EXPECT_EQ(list.fFileCount, 5);
    EXPECT_EQ(list.fDirCount, 5);
    EXPECT_EQ(list.fTotalSize, 5 + 2 + 0 + 0 + 8);
    EXPECT_TRUE(list.fWarningLines.empty());
}

TEST_F(FileListTest, LinkCarriesItsOwnTimeAndIsNeverFollowed) {
    buildTree(tmp.path(), {file("src/f.txt", "x"), test::link("src/loop", "."),
                           test::link("src/up", ".."), test::link("src/dangling", "nowhere")});
    setMtime(tmp / "src/f.txt", 1'000'000'000);
    struct timespec times[2] = {{0, UTIME_OMIT}, {1'500'000'000, 7}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (tmp / "src/loop").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    ASSERT_TRUE(scan(tmp / "src/"));
    EXPECT_EQ(fileNames(list), (std::vector<std::string>{"dangling", "f.txt", "loop", "up"}));
    EXPECT_EQ(list.fDirCount, 1);
    const TFileEntry* loop = list.find("loop");
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->kind, ekLink);
    EXPECT_EQ(loop->mtimeNs, 1'500'000'000 * kSecond + 7);
    EXPECT_EQ(list.find("f.txt")->mtimeNs, 1'000'000'000 * kSecond);
}

TEST_F(FileListTest, OddNamesAreListedAndFoundExactly) {
    const std::vector<std::string> names = {"a=b.txt",   "x<y",    "back\\slash",
                                            "new\nline", "blank ", "\xff\xfe.bin",
                                            "=",         "A.txt",  "a.txt"};
    for (const std::string& n : names) writeFile(tmp / ("d/" + n), n);
    ASSERT_TRUE(scan(tmp.path()));
    EXPECT_EQ(list.fFileCount, static_cast<int>(names.size()));
    for (const std::string& n : names) {
        const TFileEntry* e = list.find("d/" + n);
        ASSERT_NE(e, nullptr) << n;
        EXPECT_EQ(e->name, "d/" + n);
        EXPECT_EQ(e->size, static_cast<int64_t>(n.size()));
    }
    EXPECT_EQ(list.find("d/A.TXT"), nullptr);
    EXPECT_NE(list.find("d/A.txt"), list.find("d/a.txt"));
    EXPECT_EQ(list.find("d/a<b.txt"), nullptr);  // no escaping of "="
    EXPECT_EQ(list.compare("d/a=b.txt", std::nullopt), 2);
}

// Names asked in the list's order, its reverse, a little out of order (copies
// made by two workers) or at random, and names it lacks: the look-up from the
// last position finds exactly what the hash finds.
TEST_F(FileListTest, LookUpNearTheLastFindsWhatTheHashFinds) {
    std::vector<TNode> nodes;
    for (int i = 0; i < 40; ++i)
        nodes.push_back(file("d" + std::to_string(i % 3) + "/f" + std::to_string(i)));
    buildTree(tmp.path(), nodes);
    ASSERT_TRUE(scan(tmp.path()));
    std::vector<std::string> listOrder;
    for (const TFileEntry& e : list.entries()) listOrder.emplace_back(e.name);
    std::vector<std::string> reversed(listOrder.rbegin(), listOrder.rend());
    std::vector<std::string> swapped = listOrder;
    for (size_t i = 0; i + 1 < swapped.size(); i += 3) std::swap(swapped[i], swapped[i + 1]);
    std::vector<std::string> shuffled = listOrder;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    std::vector<std::string> withMissing = listOrder;
    for (size_t i = 0; i < withMissing.size(); i += 4)
        withMissing.insert(withMissing.begin() + i, "d1/none" + std::to_string(i));
    for (const auto& asked : {listOrder, reversed, swapped, shuffled, withMissing}) {
        size_t near = TFileList::kNowhere;
        for (const std::string& name : asked)
            EXPECT_EQ(list.find(name, near), list.find(name)) << name;
    }
}

TEST_F(FileListTest, BaseFolderNameIsTakenLiterally) {
    const std::string base = tmp / "2>a;b<c/";
    buildTree(base, {file("x.txt"), file("s/y.txt")});
    ASSERT_TRUE(scan(base));
    EXPECT_EQ(fileNames(list), (std::vector<std::string>{"s/y.txt", "x.txt"}));
}

TEST_F(FileListTest, FifoIsLeftOutWithAWarning) {
    buildTree(tmp.path(), {file("a.txt")});
    ASSERT_EQ(::mkfifo((tmp / "pipe.fifo").c_str(), 0644), 0);
    ASSERT_TRUE(scan(tmp.path()));
    EXPECT_EQ(fileNames(list), std::vector<std::string>{"a.txt"});
    ASSERT_EQ(list.fWarningLines.size(), 1u);
    EXPECT_EQ(list.fWarningLines[0], "WARNUNG: \"" + tmp.path() +
                                         "pipe.fifo\" ist keine normale Datei (FIFO, Socket oder "
                                         "Gerät) und wird übersprungen");
    list.fExclude = "*.FIFO";
    ASSERT_TRUE(scan(tmp.path()));
    EXPECT_TRUE(list.fWarningLines.empty()) << "an excluded FIFO needs no warning";
}

TEST_F(FileListTest, UnreadableFolderIsRecordedNotDropped) {
    buildTree(tmp.path(), {file("ok/a.txt"), file("locked/secret.txt"), file("locked/sub/x")});
    sys::setFaultHook([](sys::Op op, const char* path) {
        return op == sys::Op::Open && path != nullptr && std::string(path) == "locked" ? EACCES : 0;
    });
    list.fListEmptyDirs = true;
    ASSERT_TRUE(scan(tmp.path()));
    EXPECT_EQ(fileNames(list), std::vector<std::string>{"ok/a.txt"});
    EXPECT_EQ(list.fUnreadableDirs, std::vector<std::string>{"locked/"});
    ASSERT_EQ(list.fWarningLines.size(), 1u);
    EXPECT_EQ(list.fWarningLines[0],
              "WARNUNG: Verzeichnis \"" + tmp.path() +
                  "locked/\" kann nicht gelesen werden: " + sys::errorText(EACCES));
    EXPECT_EQ(list.find(emptyDirName(tmp / "locked/")), nullptr) << "not known to be empty";
    EXPECT_EQ(list.fDirCount, 3);
}

TEST_F(FileListTest, UnreadableBaseFolderFailsTheScan) {
    buildTree(tmp.path(), {file("src/a.txt")});
    sys::setFaultHook([](sys::Op op, const char*) { return op == sys::Op::Open ? EIO : 0; });
    EXPECT_FALSE(scan(tmp / "src/"));
    EXPECT_EQ(list.fErrorCode, 3);
    EXPECT_TRUE(list.entries().empty());
}

TEST_F(FileListTest, BaseFolderErrors) {
    EXPECT_FALSE(scan(""));
    EXPECT_EQ(list.fErrorCode, 1);
    EXPECT_EQ(list.fErrorText, "FEHLER: das Basisverzeichnis ist nicht angegeben!");
    EXPECT_FALSE(scan(tmp / "missing/"));
    EXPECT_EQ(list.fErrorCode, 2);
    EXPECT_EQ(list.fErrorText, "FEHLER: das Basisverzeichnis existiert nicht!");
    writeFile(tmp / "plain", "x");
    EXPECT_FALSE(scan(tmp / "plain"));
    EXPECT_EQ(list.fErrorCode, 2);
    list.Clear();
    EXPECT_EQ(list.fErrorCode, 0);
    EXPECT_TRUE(list.fErrorText.empty());
}

TEST_F(FileListTest, EmptyBaseFolderGivesOneEmptyFolderEntry) {
    list.fListEmptyDirs = true;
    ASSERT_TRUE(scan(tmp.path()));
    EXPECT_EQ(listed(list),
              (std::map<std::string, TEntryKind>{{emptyDirName(tmp.path()), ekEmptyDir}}));
    EXPECT_EQ(list.fDirCount, 1);
    EXPECT_EQ(list.fFileCount, 0);
    ASSERT_TRUE(scan(tmp.path().substr(0, tmp.path().size() - 1))) << "without the trailing slash";
    EXPECT_EQ(list.fBaseDir, tmp.path());
}

TEST_F(FileListTest, SkipTextsTestThePathBelowTheBase) {
    buildTree(tmp.path(),
              {file("Test/src/a.txt"), file("Test/src/_cache/c.txt"), file("Test/src/a_b/d.txt"),
               file("Test/src/sub/TEMP/t.txt"), dir("Test/src/_leer")});
    list.fListEmptyDirs = true;
    list.setSkipFolders("test;/_;*temp*");
    EXPECT_EQ(list.fSkipFolders, "test;/_;temp");
    EXPECT_EQ(list.fSkipList, (std::vector<std::string>{"test", "/_", "temp"}));
    ASSERT_TRUE(scan(tmp / "Test/src/"));
    EXPECT_EQ(fileNames(list), (std::vector<std::string>{"a.txt", "a_b/d.txt"}));
    EXPECT_EQ(list.fDirCount, 6) << "skipped folders are counted";
    EXPECT_NE(list.find(emptyDirName(tmp / "Test/src/_leer/")), nullptr)
        << "a skipped empty folder is still an empty folder";
}

TEST_F(FileListTest, ExcludeAndIncludeMasks) {
    buildTree(tmp.path(), {file("a.txt"), file("b.TMP"), file("kopie1.doc"), file("sub/kopie2.doc"),
                           file("sub/x.doc"), file("Temp/y.txt"), file("README"), file("maß.ÄBC")});
    auto names = [&] {
        EXPECT_TRUE(scan(tmp.path()));
        return fileNames(list);
    };
    list.fExclude = "*.tmp, kopie*.doc";
    EXPECT_EQ(names(),
              (std::vector<std::string>{"README", "Temp/y.txt", "a.txt", "maß.ÄBC", "sub/x.doc"}));
    list.fExclude = "*.tmp;*/temp/*  *.";
    EXPECT_EQ(names(), (std::vector<std::string>{"a.txt", "kopie1.doc", "maß.ÄBC", "sub/kopie2.doc",
                                                 "sub/x.doc"}));
    list.fIncludeOnly = "*.DOC;*.äbc";
    EXPECT_EQ(names(),
              (std::vector<std::string>{"kopie1.doc", "maß.ÄBC", "sub/kopie2.doc", "sub/x.doc"}))
        << "only include masks count, the exclude masks are not used";
    list.fIncludeOnly = "/sub/*";
    EXPECT_EQ(names(), (std::vector<std::string>{"sub/kopie2.doc", "sub/x.doc"}));
}

// Include-only with "Löschen" deletes every backup the list leaves out.
TEST_F(FileListTest, MasksForNamesWithoutDotAndWithBlanks) {
    buildTree(tmp.path(), {file("Makefile"), file("notes~"), file("a.txt"),
                           file("Kopie von Brief.doc"), file("Kopie.doc"), file("Brief.doc")});
    auto names = [&] {
        EXPECT_TRUE(scan(tmp.path()));
        return fileNames(list);
    };
    list.fIncludeOnly = "makefile;*~";
    EXPECT_EQ(names(), (std::vector<std::string>{"Makefile", "notes~"}));
    list.fIncludeOnly.clear();
    list.fExclude = "kopie von*.doc";
    EXPECT_EQ(names(),
              (std::vector<std::string>{"Brief.doc", "Kopie.doc", "Makefile", "a.txt", "notes~"}));
}

TEST_F(FileListTest, SkipItemsWithBlanksAndAbsolutePathsBelowTheBase) {
    buildTree(tmp.path(), {file("src/Neuer Ordner/a"), file("src/Neuer/b"), file("src/Ordner/c"),
                           file("src/tmp/d"), file("src/x/tmp/e"), file("src/tmpx/f")});
    list.setSkipFolders("Neuer Ordner;" + tmp.path() + "src/tmp");
    list.anchorSkipItems(tmp / "src/");
    EXPECT_EQ(list.fSkipList, (std::vector<std::string>{"Neuer Ordner"}));
    EXPECT_EQ(list.fSkipBelow, (std::vector<std::string>{"/tmp/"}));
    ASSERT_TRUE(scan(tmp / "src/"));
    EXPECT_EQ(fileNames(list),
              (std::vector<std::string>{"Neuer/b", "Ordner/c", "tmpx/f", "x/tmp/e"}));
}

TEST_F(FileListTest, CompareUsesTheToleranceOnlyForNewerSources) {
    buildTree(tmp.path(), {file("f")});
    setMtime(tmp / "f", 1'700'000'000, 500);
    ASSERT_TRUE(scan(tmp.path()));
    list.fTimeTolerance = 2;
    const int64_t src = 1'700'000'000 * kSecond + 500;
    EXPECT_EQ(list.compare("f", src - kSecond), 0);
    EXPECT_EQ(list.compare("f", src - 2 * kSecond), 0);
    EXPECT_EQ(list.compare("f", src - 3 * kSecond), 1);
    EXPECT_EQ(list.compare("f", src + 100 * kSecond), 0);
    EXPECT_EQ(list.compare("f", std::nullopt), 2);
    EXPECT_EQ(list.compare("missing", src), 2);
    list.fTimeTolerance = 0;
    EXPECT_EQ(list.compare("f", src - 1), 1);
    EXPECT_EQ(list.compare("f", src), 0);
}

// A copy made while its source was still being written carries nearly the same time.
TEST_F(FileListTest, CompareReplacesACopyOfAnotherSizeWithinTheTolerance) {
    buildTree(tmp.path(), {file("f", "12345")});
    setMtime(tmp / "f", 1'700'000'000);
    ASSERT_TRUE(scan(tmp.path()));
    list.fTimeTolerance = 2;
    const int64_t src = 1'700'000'000 * kSecond;
    EXPECT_EQ(list.compare("f", src, 5), 0);
    EXPECT_EQ(list.compare("f", src, 3), 1);
    EXPECT_EQ(list.compare("f", src - kSecond, 3), 1);
    EXPECT_EQ(list.compare("f", src + 2 * kSecond, 9), 1);
    EXPECT_EQ(list.compare("f", src + 3 * kSecond, 5), 0) << "a newer destination stays";
    EXPECT_EQ(list.compare("f", src - 3 * kSecond, 5), 1);
}

TEST_F(FileListTest, CompareIsNotFooledByTheAutumnClockChange) {
    const char* oldTz = std::getenv("TZ");
    const std::string savedTz = oldTz ? oldTz : "";
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    // 2026-10-25: 00:30 UTC is 02:30 summer time, 01:10 UTC is 02:10 winter time.
    const time_t summer = 1792888200, winter = 1792890600;
    buildTree(tmp.path(), {file("f")});
    setMtime(tmp / "f", winter);
    ASSERT_TRUE(scan(tmp.path()));
    EXPECT_GT(list.valueOf(*list.find("f")) + 1e-9, 0.0);
    EXPECT_EQ(list.compare("f", summer * kSecond), 1)
        << "saved later although its wall clock reads earlier";
    setMtime(tmp / "f", summer);
    ASSERT_TRUE(scan(tmp.path()));
    EXPECT_EQ(list.compare("f", winter * kSecond), 0);
    if (oldTz)
        ::setenv("TZ", savedTz.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

TEST_F(FileListTest, ExcludedDestinationInsideTheSource) {
    buildTree(tmp.path(), {file("src/a.txt"), file("src/backup/a.txt"), file("src/backupX/b")});
    list.fExcludeDir = tmp / "src/backup/";
    ASSERT_TRUE(scan(tmp / "src/"));
    EXPECT_EQ(fileNames(list), (std::vector<std::string>{"a.txt", "backupX/b"}));
    EXPECT_EQ(list.fDirCount, 2);
}

TEST_F(FileListTest, NotifiesOwnerPerFolderAndLetsEventsRun) {
    std::vector<TNode> nodes = {dir("a"), dir("b")};
    for (int i = 0; i < 200; ++i) nodes.push_back(file("a/f" + std::to_string(i)));
    buildTree(tmp.path(), nodes);
    NullCopy owner;
    int calls = 0;
    owner.OnStatusChange = [&](TCopyIt* sender) {
        EXPECT_EQ(sender, nullptr);
        ++calls;
    };
    list.fOwner = &owner;
    ASSERT_TRUE(scan(tmp.path()));
    EXPECT_EQ(calls, 3);
    EXPECT_GE(ui.eventCalls, 2);
    EXPECT_EQ(list.fFileCount, 200);
}

TEST_F(FileListTest, DeepTreeIsWalkedWithoutRecursion) {
    constexpr int kDepth = 2000;
    int fd = ::open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < kDepth; ++i) {
        ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    const int f = ::openat(fd, "bottom.txt", O_CREAT | O_WRONLY, 0644);
    ::close(f);
    ::close(fd);
    ASSERT_TRUE(scan(tmp.path()));
    std::string expected;
    for (int i = 0; i < kDepth; ++i) expected += "d/";
    EXPECT_EQ(fileNames(list), std::vector<std::string>{expected + "bottom.txt"});
    EXPECT_EQ(list.fDirCount, kDepth + 1);
    EXPECT_TRUE(list.fWarningLines.empty());
}

// The same with real permissions: as root in a child that has dropped them.
TEST_F(FileListTest, FolderWithoutPermissionIsRecorded) {
    buildTree(tmp.path(), {file("ok/a.txt"), file("locked/secret.txt")});
    ASSERT_EQ(::chmod(tmp.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod((tmp / "locked").c_str(), 0), 0);
    auto check = [&] {
        TFileList own;
        own.setBaseDir(tmp.path());
        return own.scan() && fileNames(own) == std::vector<std::string>{"ok/a.txt"} &&
               own.fUnreadableDirs == std::vector<std::string>{"locked/"} &&
               own.fWarningLines.size() == 1;
    };
    if (::geteuid() != 0) {
        EXPECT_TRUE(check());
        return;
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(dropped && check() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The kernel's own file systems below the base are left out with a trace
// line each; an ordinary one mounted there (a tmpfs) is listed.
TEST_F(FileListTest, KernelFileSystemsBelowTheBaseAreNotEntered) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root mounts file systems";
    struct Mounts {
        std::vector<std::string> points;
        ~Mounts() {
            for (auto it = points.rbegin(); it != points.rend(); ++it)
                ::umount2(it->c_str(), MNT_DETACH);
        }
    } mounts;
    const std::string base = tmp / "basis/";
    buildTree(base, {file("eigen/a.txt"), dir("eigen/tief/")});
    const struct {
        const char* folder;
        const char* type;
        bool entered;
    } cases[] = {{"p", "proc", false},
                 {"s", "sysfs", false},
                 {"d", "devtmpfs", false},
                 {"eigen/tief/t", "tmpfs", true}};
    std::vector<std::string> traces;
    for (const auto& c : cases) {
        const std::string point = base + c.folder;
        ASSERT_EQ(::mkdir(point.c_str(), 0755), 0) << point;
        ASSERT_EQ(::mount(c.type, point.c_str(), c.type, 0, nullptr), 0)
            << c.type << ": " << std::strerror(errno);
        mounts.points.push_back(point);
        if (c.entered)
            writeFile(point + "/x.txt", "x");
        else
            traces.push_back("  Verzeichnis \"" + point + "/\" (Dateisystem " + c.type +
                             ") wird nicht durchsucht");
    }
    ASSERT_TRUE(scan(base));
    ASSERT_EQ(fileNames(list), (std::vector<std::string>{"eigen/a.txt", "eigen/tief/t/x.txt"}));
    EXPECT_EQ(list.fTraceLines, traces);
    EXPECT_TRUE(list.fWarningLines.empty());

    // The mirror shows them at the trace level only.
    const int previousLevel = logLevel();
    for (const int level : {3, 4}) {
        setLogLevel(level);
        TCopyFolder mirror;
        mirror.fSource = base;
        mirror.fDest = tmp / ("ziel" + std::to_string(level) + "/");
        mirror.fWorkers = 1;
        EXPECT_TRUE(mirror.Execute());
        const std::vector<std::string> lines = mirror.takeMessages();
        for (const std::string& trace : traces)
            EXPECT_EQ(std::count(lines.begin(), lines.end(), trace), level > 3 ? 1 : 0) << trace;
        EXPECT_EQ(mirror.fStatistics.fWarnings, 0);
    }
    setLogLevel(previousLevel);
}
