#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/CopyFile.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/DateTime.h"
#include "util/Sys.h"

namespace qvb {
namespace {

using test::exists;
using test::readFile;
using test::readTree;
using test::writeFile;

struct timespec mtimeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mtim;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

std::string bytes(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 7) & 0xff);
    return data;
}

class CopyFileTest : public ::testing::Test {
  protected:
    ~CopyFileTest() override { sys::setFaultHook({}); }

    bool copy(const std::string& source, const std::string& dest) {
        copier.fSource = source;
        copier.fDest = dest;
        return copier.Execute();
    }
    std::vector<std::string> messages() { return copier.takeMessages(); }
    // Only the named entries, no temporary file beside them.
    void expectFolderHolds(const std::string& folder, const std::vector<std::string>& names) {
        std::vector<std::string> found;
        for (const auto& [name, what] : readTree(folder)) found.push_back(name);
        EXPECT_EQ(found, names);
    }

    test::RecordingUserInterface ui;
    test::TempDir tmp;
    std::string src = tmp / "src/";
    std::string dst = tmp / "dst/";
    TCopyFile copier;

    void SetUp() override {
        ::mkdir(src.c_str(), 0755);
        ::mkdir(dst.c_str(), 0755);
    }
};

TEST_F(CopyFileTest, CopiesContentTimeAndModeWithoutAttemptLines) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{49152}, size_t{3 * 1024 * 1024 + 17}}) {
        const std::string name = "f" + std::to_string(size);
        writeFile(src + name, bytes(size));
        test::setMtime(src + name, 1700000000, 123456789);
        ::chmod((src + name).c_str(), 0751);
        ASSERT_TRUE(copy(src + name, dst + name)) << size;
        EXPECT_EQ(readFile(dst + name), bytes(size));
        EXPECT_EQ(mtimeOf(dst + name).tv_sec, 1700000000);
        EXPECT_EQ(mtimeOf(dst + name).tv_nsec, 123456789);
        EXPECT_EQ(modeOf(dst + name), 0751u);
        EXPECT_EQ(copier.fBytesCopied, static_cast<int64_t>(size));
        EXPECT_EQ(copier.fPercent, 100);
        EXPECT_EQ(copier.fStatus, csDone);
        EXPECT_EQ(copier.fStatusText, "kopiere " + src + name + "...");
        EXPECT_TRUE(messages().empty());
    }
    expectFolderHolds(dst, {"f0", "f1", "f3145745", "f49152"});
}

TEST_F(CopyFileTest, EveryPermissionBitArrivesWhateverTheUmask) {
    // Some modes survive the umask at creation, others need the later chmod;
    // special bits must arrive too, and the owner as well when running as root.
    const mode_t oldMask = ::umask(022);
    for (mode_t mode : {0755u, 0640u, 0666u, 0400u, 04755u, 02750u, 01777u}) {
        const std::string name = "m" + std::to_string(mode);
        writeFile(src + name, "x");
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown((src + name).c_str(), 4321, 4322), 0);
        }
        ::chmod((src + name).c_str(), mode);  // after chown, which clears setuid
        ASSERT_TRUE(copy(src + name, dst + name)) << std::oct << mode;
        EXPECT_EQ(modeOf(dst + name), mode) << std::oct << mode;
        struct stat st {};
        ASSERT_EQ(::stat((dst + name).c_str(), &st), 0);
        if (::geteuid() == 0) {
            EXPECT_EQ(st.st_uid, 4321u);
            EXPECT_EQ(st.st_gid, 4322u);
        }
    }
    ::umask(oldMask);
}

// A root run learns from the first copy into a folder whom the folder's new
// files belong to; a copy already owned as its source needs no chown, every
// other one still gets its source's owner (a setgid folder hands its group
// down, which suits some sources and not others).
TEST_F(CopyFileTest, CopiesGetTheirSourcesOwnerWithoutAChownWhereTheFolderGivesIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "owners need root";
    struct Case {
        const char* folder;
        mode_t folderMode;
        gid_t folderGroup;
    };
    struct Source {
        uid_t uid;
        gid_t gid;
    };
    const std::vector<Source> sources = {{0, 0}, {4321, 4322}, {0, 4322}, {0, 0}, {4321, 0}};
    for (const Case c : {Case{"plain/", 0755, 0}, Case{"setgid/", 02775, 4322}}) {
        SCOPED_TRACE(c.folder);
        const std::string folder = dst + c.folder;
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        ASSERT_EQ(::chown(folder.c_str(), 0, c.folderGroup), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);
        int chowns = 0;
        int expectedChowns = 0;
        for (size_t i = 0; i < sources.size(); ++i) {
            const std::string name = c.folder[0] + std::to_string(i);
            writeFile(src + name, "x");
            ASSERT_EQ(::chown((src + name).c_str(), sources[i].uid, sources[i].gid), 0);
            expectedChowns += sources[i].uid != 0 || sources[i].gid != c.folderGroup;
            sys::setFaultHook([&](sys::Op op, const char*) {
                chowns += op == sys::Op::Chown;
                return 0;
            });
            ASSERT_TRUE(copy(src + name, folder + name));
            sys::setFaultHook({});
            struct stat st {};
            ASSERT_EQ(::stat((folder + name).c_str(), &st), 0);
            EXPECT_EQ(st.st_uid, sources[i].uid) << name;
            EXPECT_EQ(st.st_gid, sources[i].gid) << name;
        }
        EXPECT_EQ(chowns, expectedChowns);
    }
}

TEST_F(CopyFileTest, FolderTargetGetsTheSourceName) {
    writeFile(src + "a.txt", "A");
    ASSERT_TRUE(copy(src + "a.txt", dst));
    EXPECT_EQ(readFile(dst + "a.txt"), "A");
}

TEST_F(CopyFileTest, OddNamesArriveUnchanged) {
    for (const std::string name : {"a=b<c.txt", "line\nbreak", "bad\xff\xfe utf8", "-n"}) {
        writeFile(src + name, name);
        ASSERT_TRUE(copy(src + name, dst + name)) << name;
        EXPECT_EQ(readFile(dst + name), name);
    }
    expectFolderHolds(dst, {"-n", "a=b<c.txt", "bad\xff\xfe utf8", "line\nbreak"});
}

TEST_F(CopyFileTest, ReplacesReadOnlyTarget) {
    writeFile(src + "a", "new");
    writeFile(dst + "a", "old copy");
    ::chmod((dst + "a").c_str(), 0444);
    ASSERT_TRUE(copy(src + "a", dst + "a"));
    EXPECT_EQ(readFile(dst + "a"), "new");
    EXPECT_EQ(modeOf(dst + "a"), 0644u);
    EXPECT_TRUE(messages().empty());
}

TEST_F(CopyFileTest, EmptySourceIsAnErrorAVanishedOneAWarning) {
    EXPECT_FALSE(copy("", dst));
    EXPECT_EQ(messages(), std::vector<std::string>{"FEHLER: die Quelldatei ist nicht angegeben!"});
    EXPECT_EQ(copier.fStatus, csError);
    EXPECT_FALSE(copy(src + "none", dst + "none"));
    EXPECT_EQ(messages(), std::vector<std::string>{"WARNUNG:  Die Quelldatei \"" + src +
                                                   "none\" ist nicht mehr vorhanden."});
    EXPECT_EQ(copier.fStatus, csWarnings);
}

TEST_F(CopyFileTest, CancelledBeforeStartDoesNothing) {
    writeFile(src + "a", "A");
    copier.setStatus(csCancelled);
    EXPECT_FALSE(copy(src + "a", dst + "a"));
    EXPECT_TRUE(messages().empty());
    EXPECT_FALSE(exists(dst + "a"));
    EXPECT_EQ(copier.fStatus, csCancelled);
}

TEST_F(CopyFileTest, SourceEqualToTargetFallsBackToSecondMethod) {
    writeFile(src + "a", "A");
    EXPECT_TRUE(copy(src + "a", src + "a"));
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"FEHLER:  kann Datei nicht auf sich selbst kopieren",
                                        "  2. Versuch: Kopiermethode \"XCopy\"... "}));
    EXPECT_EQ(readFile(src + "a"), "A");
    expectFolderHolds(src, {"a"});
}

TEST_F(CopyFileTest, CancelInTheMiddleKeepsTheOldCopy) {
    writeFile(src + "big", bytes(8 * 1024 * 1024));
    writeFile(dst + "big", "old copy", 1600000000);
    ui.onEvents = [&] {
        if (copier.fPercent > 0 && copier.fPercent < 100) copier.setStatus(csCancelled);
    };
    EXPECT_FALSE(copy(src + "big", dst + "big"));
    EXPECT_EQ(copier.fStatus, csCancelled);
    EXPECT_EQ(copier.fPercent, 0);
    EXPECT_LT(copier.fBytesCopied, 8 * 1024 * 1024);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(readFile(dst + "big"), "old copy");
    EXPECT_EQ(mtimeOf(dst + "big").tv_sec, 1600000000);
    expectFolderHolds(dst, {"big"});
}

TEST_F(CopyFileTest, ReadWriteAndRenameFailuresLeaveTheOldCopy) {
    writeFile(src + "a", bytes(100000));
    writeFile(dst + "a", "old copy");
    struct Case {
        std::vector<sys::Op> ops;
        int err;
        std::string line;
    };
    const std::vector<Case> cases = {
        {{sys::Op::Read, sys::Op::CopyRange},
         EIO,
         "TCopyFile.copyWithBlockWrite: Fehler = \"" + sys::errorText(EIO) + "\" bei \"" + src +
             "a\""},
        {{sys::Op::Write, sys::Op::CopyRange},
         ENOSPC,
         "TCopyFile.copyWithBlockWrite: Fehler = \"" + sys::errorText(ENOSPC) + "\" bei \"" + dst +
             "a\""},
        {{sys::Op::SetTimes},
         EIO,
         "TCopyFile.copyWithBlockWrite: Fehler = \"" + sys::errorText(EIO) + "\" bei \"" + dst +
             "a\""},
        {{sys::Op::Rename}, EPERM, "FEHLER:  Zieldatei ist schreibgeschützt: \"" + dst + "a\""},
    };
    for (const Case& c : cases) {
        sys::setFaultHook([&](sys::Op op, const char*) {
            for (sys::Op failing : c.ops)
                if (op == failing) return c.err;
            return 0;
        });
        EXPECT_FALSE(copier.copyWithBlockWrite(src + "a", dst + "a"));
        sys::setFaultHook({});
        EXPECT_EQ(messages(), std::vector<std::string>{c.line});
        EXPECT_EQ(readFile(dst + "a"), "old copy");
        expectFolderHolds(dst, {"a"});
    }
}

TEST_F(CopyFileTest, NewCopyAppearsOnlyWhenCompleteAndSurvivesARace) {
    writeFile(src + "a", bytes(100000));
    // A failed new copy leaves nothing at all behind.
    for (const sys::Op failing : {sys::Op::Write, sys::Op::Link}) {
        sys::setFaultHook([&](sys::Op op, const char*) {
            return op == failing || (failing == sys::Op::Write && op == sys::Op::CopyRange) ? ENOSPC
                                                                                            : 0;
        });
        EXPECT_FALSE(copier.copyWithBlockWrite(src + "a", dst + "a"));
        sys::setFaultHook({});
        expectFolderHolds(dst, {});
        messages();
    }
    // Someone creates the target while the copy is written: it is replaced
    // the named way, never left half.
    sys::setFaultHook([&](sys::Op op, const char* path) {
        if (op == sys::Op::Link && path && std::string(path) == dst + "a" && !test::exists(path))
            writeFile(dst + "a", "raced in");
        return 0;
    });
    EXPECT_TRUE(copier.copyWithBlockWrite(src + "a", dst + "a"));
    sys::setFaultHook({});
    EXPECT_EQ(readFile(dst + "a"), bytes(100000));
    expectFolderHolds(dst, {"a"});
    // A stale "missing" hint from the caller must not lose the file either.
    writeFile(dst + "a", "old copy");
    copier.fTargetMissing = true;
    ASSERT_TRUE(copy(src + "a", dst + "a"));
    EXPECT_FALSE(copier.fTargetMissing);
    EXPECT_EQ(readFile(dst + "a"), bytes(100000));
    expectFolderHolds(dst, {"a"});
}

TEST_F(CopyFileTest, FallsBackToReadWriteWhenRangeCopyIsRefused) {
    writeFile(src + "a", bytes(3 * 1024 * 1024));
    // Refused once only: after the switch to reads, the range copy must not
    // be asked again, or its bytes would go uncounted.
    int refusals = 0;
    sys::setFaultHook([&](sys::Op op, const char*) {
        return op == sys::Op::CopyRange && refusals++ == 0 ? EXDEV : 0;
    });
    ASSERT_TRUE(copy(src + "a", dst + "a"));
    EXPECT_EQ(refusals, 1);
    EXPECT_EQ(readFile(dst + "a"), bytes(3 * 1024 * 1024));
    EXPECT_EQ(copier.fBytesCopied, 3 * 1024 * 1024);
}

// A file written to while it is copied is copied again; one that keeps
// changing leaves a copy that the next run takes for old.
TEST_F(CopyFileTest, FileChangedDuringTheCopyIsCopiedAgain) {
    struct Case {
        int changes;  // copies during which the file changes
        bool stale;
    };
    for (const Case c : {Case{1, false}, Case{2, false}, Case{3, true}, Case{9, true}}) {
        SCOPED_TRACE(c.changes);
        writeFile(src + "grow", bytes(3 * 1024 * 1024), 1600000000);
        int left = c.changes;
        bool opened = false;
        sys::setFaultHook([&](sys::Op op, const char* path) {
            if (op == sys::Op::Open && path && std::string(path) == src + "grow") opened = true;
            if (op == sys::Op::CopyRange && opened && left > 0) {
                opened = false;
                --left;
                std::ofstream(src + "grow", std::ios::app) << "more";
                test::setMtime(src + "grow", 1600000100 + left);
            }
            return 0;
        });
        EXPECT_TRUE(copy(src + "grow", dst + "grow"));
        sys::setFaultHook({});
        if (c.stale) {
            EXPECT_EQ(messages(), std::vector<std::string>{
                                      "WARNUNG:  Die Quelldatei \"" + src +
                                      "grow\" hat sich während des Kopierens laufend geändert; die "
                                      "Kopie wird beim nächsten Lauf erneuert."});
            EXPECT_EQ(copier.fStatus, csWarnings);
            EXPECT_EQ(mtimeOf(dst + "grow").tv_sec, 0);
            EXPECT_EQ(left, c.changes - 3);  // three copies, no more
        } else {
            EXPECT_TRUE(messages().empty());
            EXPECT_EQ(copier.fStatus, csDone);
            EXPECT_EQ(readFile(dst + "grow"), readFile(src + "grow"));
            EXPECT_EQ(mtimeOf(dst + "grow").tv_sec, mtimeOf(src + "grow").tv_sec);
        }
    }
}

// A source the listing saw is looked at once, after its copy: whatever changed
// since the listing still arrives, holes included, and the copy keeps the
// source's access time from before it was read.
TEST_F(CopyFileTest, ListedSourceIsLookedAtOnlyAfterItsCopy) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> change;  // after the listing
        bool copied;
        int looks;  // at the source's status
        bool holes = false;
    };
    const auto touch = [](const std::string& path) { test::setMtime(path, 1600000050); };
    const std::vector<Case> cases = {
        {"same", [](const std::string&) {}, true, 1},
        {"mode", [](const std::string& path) { ::chmod(path.c_str(), 0600); }, true, 1},
        {"grown",
         [&](const std::string& path) {
             std::ofstream(path, std::ios::app) << "more";
             touch(path);
         },
         true, 3},
        {"touched", touch, true, 3},
        {"holes", [](const std::string&) {}, true, 2, true},
        {"fifo",
         [](const std::string& path) {
             ::unlink(path.c_str());
             ::mkfifo(path.c_str(), 0644);
         },
         false, 1},
    };
    writeFile(src + "warm", "x");
    ASSERT_TRUE(copy(src + "warm", dst + "warm"));  // the folder's owner is known from now on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string from = src + c.name;
        writeFile(from, bytes(5000), 1600000000);
        if (c.holes) {
            ASSERT_EQ(::truncate(from.c_str(), 0), 0);
            ASSERT_EQ(::truncate(from.c_str(), 512 << 10), 0);
            std::fstream(from, std::ios::in | std::ios::out).seekp(200000) << "data";
            test::setMtime(from, 1600000000);
        }
        struct stat listed {};
        ASSERT_EQ(::lstat(from.c_str(), &listed), 0);
        c.change(from);
        const struct timespec times[2] = {{1500000000, 0}, {0, UTIME_OMIT}};
        ::utimensat(AT_FDCWD, from.c_str(), times, AT_SYMLINK_NOFOLLOW);
        int looks = 0;
        sys::setFaultHook([&](sys::Op op, const char* path) {
            looks += op == sys::Op::Stat && path == nullptr;
            return 0;
        });
        copier.fListed = {true, listed.st_size, fileTimeNs(listed.st_mtim), listed.st_mode,
                          listed.st_uid};
        EXPECT_EQ(copy(from, dst + c.name), c.copied);
        sys::setFaultHook({});
        EXPECT_EQ(looks, c.looks);
        if (!c.copied) {
            EXPECT_FALSE(exists(dst + c.name));
            EXPECT_EQ(messages().front(), "FEHLER: die Quelldatei ist keine normale Datei!");
            continue;
        }
        EXPECT_TRUE(messages().empty());
        struct stat in {};
        struct stat out {};
        ASSERT_EQ(::lstat(from.c_str(), &in), 0);
        ASSERT_EQ(::lstat((dst + c.name).c_str(), &out), 0);
        EXPECT_EQ(readFile(dst + c.name), readFile(from));
        EXPECT_EQ(out.st_mode, in.st_mode);
        EXPECT_EQ(out.st_mtim.tv_sec, in.st_mtim.tv_sec);
        EXPECT_EQ(in.st_atim.tv_sec, 1500000000);
        EXPECT_EQ(out.st_atim.tv_sec, 1500000000);
        EXPECT_LE(out.st_blocks, in.st_blocks);
    }
}

TEST_F(CopyFileTest, ProgressEventsStayNearOneHundred) {
    writeFile(src + "big", bytes(300 * 1024 * 1024 / 10));
    int events = 0;
    copier.setOnProgress([&](TCopyIt*) { ++events; });
    ASSERT_TRUE(copy(src + "big", dst + "big"));
    EXPECT_GT(events, 1);
    EXPECT_LE(events, 102);
}

TEST_F(CopyFileTest, LinkIsCopiedAsLinkWithItsOwnTime) {
    ASSERT_EQ(::symlink("../elsewhere", (src + "l").c_str()), 0);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {1500000000, 42}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (src + "l").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    writeFile(dst + "l", "old file");
    ASSERT_TRUE(copy(src + "l", dst + "l"));
    EXPECT_EQ(readTree(dst).at("l"), "link:../elsewhere");
    EXPECT_EQ(mtimeOf(dst + "l").tv_sec, 1500000000);
    EXPECT_EQ(mtimeOf(dst + "l").tv_nsec, 42);
    expectFolderHolds(dst, {"l"});
}

TEST_F(CopyFileTest, FifoIsRefusedWithoutBlocking) {
    ASSERT_EQ(::mkfifo((src + "pipe").c_str(), 0644), 0);
    EXPECT_FALSE(copy(src + "pipe", dst + "pipe"));
    EXPECT_EQ(messages(),
              std::vector<std::string>{"FEHLER: die Quelldatei ist keine normale Datei!"});
    EXPECT_FALSE(exists(dst + "pipe"));
}

TEST_F(CopyFileTest, EveryMethodFailsIntoTheNextOne) {
    writeFile(src + "a", "A");
    EXPECT_FALSE(copy(src + "a", tmp / "missing/folder/a"));
    const std::vector<std::string> lines = messages();
    std::vector<std::string> attempts;
    for (const std::string& line : lines)
        if (line.find("Versuch") != std::string::npos || line.rfind("TCopyFile.", 0) == 0 ||
            line.rfind("ERROR", 0) == 0)
            attempts.push_back(line);
    const std::string q = "\"" + src + "a\" nicht kopieren";
    EXPECT_EQ(
        attempts,
        (std::vector<std::string>{
            "TCopyFile.copyWithBlockWrite: Fehler = \"" + sys::errorText(ENOENT) + "\" bei \"" +
                tmp / "missing/folder/a\"",
            "  2. Versuch: Kopiermethode \"XCopy\"... ", "TCopyFile.copyWithXCopy: kann Datei " + q,
            "  3. Versuch: Kopiermethode \"CopyFile\"... ",
            "TCopyFile.copyWithCopyFile: kann Datei " + q,
            "  4. Versuch: Kopiermethode \"RoboCopy\"... ",
            "TCopyFile.copyWithRobocopy: kann Datei " + q,
            "  5. Versuch: Kopiermethode \"DOSCopy\"... ",
            "TCopyFile.copyWithDosCopy: kann Datei " + q, "ERROR:  Kopieren fehlgeschlagen !"}));
    EXPECT_EQ(copier.fStatus, csError);
    EXPECT_FALSE(exists(tmp / "missing"));
}

// Names that a shell would expand or a program would read as an option.
TEST_F(CopyFileTest, ExternalMethodsPassHostileNamesVerbatim) {
    using Method = bool (TCopyFile::*)(const std::string&, const std::string&);
    const std::map<std::string, Method> methods = {{"xcopy", &TCopyFile::copyWithXCopy},
                                                   {"copyfile", &TCopyFile::copyWithCopyFile},
                                                   {"robocopy", &TCopyFile::copyWithRobocopy},
                                                   {"doscopy", &TCopyFile::copyWithDosCopy}};
    for (const std::string name :
         {"-rf $(touch PWNED) `touch PWNED2`;x", "--help", "a | touch PWNED; b",
          "it's \"q\" & 'touch PWNED'", "-\nzeile\n--remove-files", "*"}) {
        SCOPED_TRACE(name);
        writeFile(src + name, "payload " + name, 1600000000);
        for (const auto& [label, method] : methods) {
            const std::string folder = dst + label + "/";
            ::mkdir(folder.c_str(), 0755);
            EXPECT_TRUE((copier.*method)(src + name, folder + name)) << label;
            EXPECT_EQ(readFile(folder + name), "payload " + name) << label;
            EXPECT_TRUE(messages().empty()) << label;
        }
        EXPECT_EQ(mtimeOf(dst + "xcopy/" + name).tv_sec, 1600000000);
        EXPECT_EQ(mtimeOf(dst + "robocopy/" + name).tv_sec, 1600000000);
    }
    for (const std::string& where :
         {std::string("./"), src, dst, std::string("/usr/bin/"), std::string("/bin/")}) {
        EXPECT_FALSE(exists(where + "PWNED")) << where;
        EXPECT_FALSE(exists(where + "PWNED2")) << where;
    }
    EXPECT_TRUE(ui.shown.empty());
}

using TMethod = bool (TCopyFile::*)(const std::string&, const std::string&);
const std::map<std::string, TMethod> kExternalMethods = {{"xcopy", &TCopyFile::copyWithXCopy},
                                                         {"copyfile", &TCopyFile::copyWithCopyFile},
                                                         {"robocopy", &TCopyFile::copyWithRobocopy},
                                                         {"doscopy", &TCopyFile::copyWithDosCopy}};

// A program that fails after it created its target (a source that reports a
// read error at once), or that copies nothing at all (a folder), must leave
// the old copy whole, and nothing beside it.
TEST_F(CopyFileTest, FailingCopyProgramsKeepTheOldCopyAndLeaveNothingBehind) {
    ::mkdir((src + "folder").c_str(), 0755);
    for (const auto& [name, method] : kExternalMethods) {
        // rsync reads the pseudo-file of its own process, whose size is 0, without an error.
        const std::vector<std::string> sources =
            name == "robocopy" ? std::vector<std::string>{src + "folder"}
                               : std::vector<std::string>{"/proc/self/mem", src + "folder"};
        for (const std::string& source : sources) {
            SCOPED_TRACE(name + " " + source);
            writeFile(dst + "a", "old copy", 1000);
            EXPECT_FALSE((copier.*method)(source, dst + "a"));
            EXPECT_EQ(readFile(dst + "a"), "old copy");
            EXPECT_EQ(mtimeOf(dst + "a").tv_sec, 1000);
            expectFolderHolds(dst, {"a"});
            messages();
        }
    }
}

TEST_F(CopyFileTest, CopyProgramsReplaceTheTargetOnlyWithACompleteCopy) {
    writeFile(src + "a", "new content", 2000);
    for (const auto& [name, method] : kExternalMethods) {
        SCOPED_TRACE(name);
        writeFile(dst + "a", "old", 1000);
        EXPECT_TRUE((copier.*method)(src + "a", dst + "a"));
        EXPECT_EQ(readFile(dst + "a"), "new content");
        expectFolderHolds(dst, {"a"});
        messages();
    }
}

// After a failure of the destination itself no copy program could do better:
// one attempt, one error, no program started. A failure of the source lets them try.
TEST_F(CopyFileTest, HopelessDestinationEndsTheAttempts) {
    writeFile(src + "a", "A");
    writeFile(dst + "a", "old", 1000);
    for (const int err : {EACCES, EPERM, EROFS, ENOSPC, EDQUOT}) {
        SCOPED_TRACE(sys::errorText(err));
        sys::setFaultHook([&](sys::Op op, const char* path) {
            const bool inDest =
                path && (std::string(path) == "." || std::string(path).find(dst) == 0 ||
                         std::string(path).find(".qvb-tmp-") == 0);
            return (op == sys::Op::Open || op == sys::Op::Mkdir) && inDest ? err : 0;
        });
        EXPECT_FALSE(copy(src + "a", dst + "a"));
        const std::vector<std::string> lines = messages();
        EXPECT_EQ(lines,
                  (std::vector<std::string>{"TCopyFile.copyWithBlockWrite: Fehler = \"" +
                                                sys::errorText(err) + "\" bei \"" + dst + "a\"",
                                            "ERROR:  Kopieren fehlgeschlagen !"}));
        EXPECT_EQ(readFile(dst + "a"), "old");
    }
    sys::setFaultHook([&](sys::Op op, const char*) {
        return op == sys::Op::Read || op == sys::Op::CopyRange ? EIO : 0;
    });
    EXPECT_TRUE(copy(src + "a", dst + "a"));
    const std::vector<std::string> lines = messages();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "  2. Versuch: Kopiermethode \"XCopy\"... "),
              lines.end());
    EXPECT_EQ(readFile(dst + "a"), "A");
}

// A source this user cannot read is not offered to the copy programs, and a
// name the destination cannot store is not either: one line each says why.
TEST_F(CopyFileTest, FailuresNoOtherMethodOvercomesEndTheChainWithTheirCause) {
    struct Case {
        std::vector<sys::Op> ops;
        int err;
        bool onSource;
        bool targetExists;
        std::string line;
    };
    const std::string fehler = "TCopyFile.copyWithBlockWrite: Fehler = \"";
    const std::string unstorable = "Der Name kann im Zielverzeichnis nicht gespeichert werden";
    const std::vector<Case> cases = {
        {{sys::Op::Open},
         EACCES,
         true,
         false,
         "FEHLER:  Die Quelldatei \"" + src + "a\" kann nicht gelesen werden: Zugriff verweigert"},
        {{sys::Op::Open},
         EPERM,
         true,
         false,
         "FEHLER:  Die Quelldatei \"" + src +
             "a\" kann nicht gelesen werden: Vorgang nicht zulässig"},
        {{sys::Op::Read, sys::Op::CopyRange},
         EACCES,
         true,
         false,
         fehler + "Zugriff verweigert\" bei \"" + src + "a\""},
        {{sys::Op::Link, sys::Op::Rename},
         EPERM,
         false,
         false,
         fehler + unstorable + "\" bei \"" + dst + "a\""},
        {{sys::Op::Link, sys::Op::Rename},
         ENOENT,
         false,
         false,
         fehler + unstorable + "\" bei \"" + dst + "a\""},
        {{sys::Op::Link, sys::Op::Rename},
         EINVAL,
         false,
         false,
         fehler + unstorable + "\" bei \"" + dst + "a\""},
        {{sys::Op::Link, sys::Op::Rename},
         ENAMETOOLONG,
         false,
         false,
         fehler + "Der Dateiname oder der Pfad ist zu lang\" bei \"" + dst + "a\""},
        {{sys::Op::Rename},
         EPERM,
         false,
         true,
         "FEHLER:  Zieldatei ist schreibgeschützt: \"" + dst + "a\""},
    };
    writeFile(src + "a", "A");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ::unlink((dst + "a").c_str());
        if (c.targetExists) writeFile(dst + "a", "old");
        sys::setFaultHook([&](sys::Op op, const char* path) {
            const bool sourceCall = path && std::string(path) == src + "a";
            for (sys::Op failing : c.ops)
                if (op == failing && (!c.onSource || sourceCall || !path)) return c.err;
            return 0;
        });
        EXPECT_FALSE(copy(src + "a", dst + "a"));
        sys::setFaultHook({});
        std::vector<std::string> expected{c.line};
        if (c.line.rfind("FEHLER:  Die Quelldatei", 0) != 0)
            expected.push_back("ERROR:  Kopieren fehlgeschlagen !");
        EXPECT_EQ(messages(), expected);
        EXPECT_EQ(copier.fStatus, csError);
        expectFolderHolds(
            dst, c.targetExists ? std::vector<std::string>{"a"} : std::vector<std::string>{});
    }
}

// A file system that refuses owners and modes (FAT, some shares) still gets the
// whole copy; the copier says why, for the mirror's one warning.
TEST_F(CopyFileTest, RefusedModeOrOwnerKeepsTheCopy) {
    writeFile(src + "a", "A");
    ::chmod((src + "a").c_str(), 04755);
    sys::setFaultHook([](sys::Op op, const char*) {
        return op == sys::Op::Chmod || op == sys::Op::Chown ? EPERM : 0;
    });
    EXPECT_TRUE(copy(src + "a", dst + "a"));
    EXPECT_EQ(readFile(dst + "a"), "A");
    EXPECT_EQ(copier.fAttributeError, EPERM);
    EXPECT_EQ(modeOf(dst + "a") & 07000, 0u);
    // Times refused as well: the copy stays, its time is the copying's.
    sys::setFaultHook([](sys::Op op, const char*) { return op == sys::Op::SetTimes ? EPERM : 0; });
    EXPECT_TRUE(copy(src + "a", dst + "b"));
    EXPECT_EQ(readFile(dst + "b"), "A");
    EXPECT_EQ(copier.fTimesError, EPERM);
    EXPECT_TRUE(messages().empty());
}

TEST(FileSize64, SizeOrMinusOne) {
    test::TempDir tmp;
    writeFile(tmp / "a", std::string(70000, 'x'));
    EXPECT_EQ(fileSize64(tmp / "a"), 70000);
    EXPECT_EQ(fileSize64(tmp / "none"), -1);
}

}  // namespace
}  // namespace qvb
