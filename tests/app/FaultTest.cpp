// The built program under faults and hostile input: killed at exact points of
// a file replace and a settings save, a destination that runs full, a source
// that changes while it is copied, an unreadable source folder seen by an
// unprivileged user, hostile trees and malformed settings files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "support/TempDir.h"
#include "support/Tree.h"

namespace qvb {
namespace {

using test::file;
using test::readFile;
using test::readTree;
using test::TempDir;
using Env = std::map<std::string, std::string>;
using Tree = std::map<std::string, std::string>;

constexpr time_t kOld = 1500000000;
constexpr time_t kNew = 1600000000;
constexpr int kKilled = 128 + SIGKILL;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Bytes that differ from block to block, so that a misplaced block shows.
std::string pattern(size_t megabytes) {
    std::string bytes;
    for (size_t i = 0; i < megabytes; ++i) bytes.append(1 << 20, static_cast<char>('a' + i % 26));
    return bytes;
}

std::vector<std::string> leftoverTemporaries(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& [path, what] : readTree(folder))
        if (contains(path, ".qvb-tmp-")) found.push_back(path);
    return found;
}

class Fault : public ::testing::Test {
  protected:
    Fault() { ::chmod(dir.path().c_str(), 0755); }

    Env environment(const Env& extra = {}) const {
        Env env{{"XDG_CONFIG_HOME", dir / "config"}, {"XDG_DATA_HOME", dir / "data"}};
        env.insert(extra.begin(), extra.end());
        return env;
    }
    // The environment that preloads one of the test libraries into the program.
    Env preloading(const std::string& library, const Env& extra = {}) const {
        Env env = environment(extra);
        env["LD_PRELOAD"] = library;
        const char* asan = std::getenv("ASAN_OPTIONS");
        env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
        return env;
    }
    Env killing(const std::string& op, const std::string& match, int at = 1) const {
        return preloading(
            QVB_KILLAT,
            {{"QVB_KILL_OP", op}, {"QVB_KILL_MATCH", match}, {"QVB_KILL_AT", std::to_string(at)}});
    }
    test::ProgramResult run(const std::vector<std::string>& args, const Env& env) {
        return test::runProgram(args, env);
    }
    test::ProgramResult runJob(const Env& env) {
        return run({"--ini", ini, "--run", "Job01"}, env);
    }
    test::ProgramResult runJob() { return runJob(environment()); }

    static std::string job(const std::string& dest, const std::string& source,
                           const std::string& extra = "") {
        return "[Job01]\nName=Fehlerfall\nZiel=" + dest + "\nAnzahlQuellen=1\nQuelle0=" + source +
               "=1\n" + extra + "NurVerzeichnisInhalt=1\nIntervall=0\nAktiv=1\n";
    }
    void writeIni(const std::string& jobs) {
        test::writeFile(ini, "[Options]\nLogLevel=1\n" + jobs);
    }

    // The settings and `folders` belong to an unprivileged user from now on.
    void handToNobody(std::vector<std::string> folders) {
        ini = dir / "cfg/einstellungen.ini";
        writeIni(job(dst, src, "Löschen=1\nLetztesZiel=" + dst + "\n"));
        folders.insert(folders.end(), {dir / "cfg/", dir / "config/", dir / "data/"});
        for (const std::string& folder : folders) {
            ::mkdir(folder.c_str(), 0755);
            ASSERT_EQ(::lchown(folder.c_str(), 65534, 65534), 0);
            for (const auto& [path, what] : readTree(folder))
                ASSERT_EQ(::lchown((folder + path).c_str(), 65534, 65534), 0) << path;
        }
    }
    test::ProgramResult runAsNobody() {
        return test::runCommand({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                 "--clear-groups", QVB_BINARY, "--ini", ini, "--run", "Job01"},
                                environment());
    }

    TempDir dir;
    std::string ini = dir / "einstellungen.ini";
    std::string src = dir / "quelle/";
    std::string dst = dir / "ziel/";
};

// Killed when the copy has not begun, in its middle and right before the
// rename: the old copy stays whole and the next run finishes the job.
TEST_F(Fault, KillDuringAFileReplaceKeepsTheOldCopy) {
    test::buildTree(src, {file("gross.bin", pattern(32), kNew)});
    writeIni(job(dst, src));
    const struct {
        const char* op;
        const char* match;
        int at;
    } points[] = {
        {"write", ".qvb-tmp-", 1}, {"write", ".qvb-tmp-", 16}, {"rename", "gross.bin", 1}};
    for (const auto& point : points) {
        SCOPED_TRACE(std::string(point.op) + " " + std::to_string(point.at));
        test::buildTree(dst, {file("gross.bin", "alte Kopie", kOld)});
        const auto killed = runJob(killing(point.op, point.match, point.at));
        ASSERT_EQ(killed.exitCode, kKilled) << killed.out << killed.err;
        EXPECT_EQ(readFile(dst + "gross.bin"), "alte Kopie");
        EXPECT_EQ(leftoverTemporaries(dst).size(), 1u) << "the kill landed inside the replace";

        const auto next = runJob();
        EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
        EXPECT_TRUE(contains(next.out, "  ersetze " + dst + "gross.bin\n")) << next.out;
        EXPECT_EQ(readTree(dst, true), readTree(src, true));
    }
}

// Both stores replace their file as a whole: a save killed while it writes or
// right before its rename leaves the previous settings as they were.
TEST_F(Fault, KillDuringASettingsSaveKeepsThePreviousSettings) {
    test::buildTree(src, {file("a.txt", "a", kNew)});
    const std::string registry = dir / "config/Nerk/QV_Backup.conf";
    const std::string programIni = test::exists(std::string(QVB_BINARY) + "/../QV_Backup.ini")
                                       ? "an INI file beside the program hides the registry"
                                       : "";
    const struct {
        const char* store;
        const char* op;
        const char* match;
    } points[] = {{"ini", "write", ".einstellungen.ini."},
                  {"ini", "rename", "einstellungen.ini"},
                  {"registry", "write", "/Nerk/#"},  // its unnamed temporary file
                  {"registry", "rename", "QV_Backup.conf"}};
    for (const auto& point : points) {
        SCOPED_TRACE(std::string(point.store) + " " + point.op);
        const bool useIni = std::string(point.store) == "ini";
        if (!useIni && !programIni.empty()) continue;
        std::vector<std::string> args;
        if (useIni) {
            args = {"--ini", ini};
            writeIni(job(dst, src));
        } else {
            ::mkdir((dir / "config").c_str(), 0700);
            ::mkdir((dir / "config/Nerk").c_str(), 0700);
            test::writeFile(registry, job(dst, src));
        }
        const std::string file = useIni ? ini : registry;
        const std::string before = readFile(file);
        args.push_back("--list");
        const auto listed = run(args, environment());
        ASSERT_EQ(listed.exitCode, 0) << listed.err;
        ASSERT_TRUE(contains(listed.out, "Job01\tFehlerfall\t")) << listed.out;

        args.back() = "--run";
        args.push_back("Job01");
        const auto killed = run(args, killing(point.op, point.match));
        ASSERT_EQ(killed.exitCode, kKilled) << killed.out << killed.err;
        EXPECT_EQ(readFile(dst + "a.txt"), "a") << "the kill came after the copy";
        EXPECT_EQ(readFile(file), before);
        args.resize(args.size() - 2);
        args.push_back("--list");
        EXPECT_EQ(run(args, environment()).out, listed.out);

        args.back() = "--run";
        args.push_back("Job01");
        const auto next = run(args, environment());
        EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
        EXPECT_TRUE(contains(readFile(file), "LetztesBackup=")) << readFile(file);
    }
}

// A file system of its own (tmpfs), mounted in a mount namespace that only
// this test process and its children see.
class OwnFileSystem : public Fault {
  protected:
    bool mountTmpfs(const std::string& where, const std::string& size) {
        ::mkdir(where.c_str(), 0755);
        if (::unshare(CLONE_NEWNS) != 0) return false;
        if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
        if (::mount("qvb-test", where.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
            return false;
        fMounted = where;
        return true;
    }
    ~OwnFileSystem() override {
        if (fMounted.empty()) return;
        test::removeTree(fMounted);
        ::umount2(fMounted.c_str(), MNT_DETACH);
    }
    std::string fMounted;
};

// The destination has room for the changes in total, but not for a second
// copy of the large file beside its old one.
TEST_F(OwnFileSystem, ARunOutOfSpaceInAFileKeepsTheOldCopyAndGoesOn) {
    if (!mountTmpfs(dst, "4m"))
        GTEST_SKIP() << "no tmpfs mount here (" << std::strerror(errno)
                     << "); the copier's own test fails its writes with ENOSPC instead";
    test::buildTree(src, {file("a.txt", "a", kNew), file("gross.bin", pattern(3), kNew),
                          file("z.txt", "z", kNew)});
    const std::string old(3 << 20, 'o');
    test::buildTree(dst, {file("gross.bin", old, kOld)});
    writeIni(job(dst, src));
    const auto r = runJob();
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(readFile(dst + "gross.bin"), old);
    EXPECT_EQ(readFile(dst + "a.txt"), "a");
    EXPECT_EQ(readFile(dst + "z.txt"), "z");
    EXPECT_TRUE(leftoverTemporaries(dst).empty());
    EXPECT_TRUE(contains(r.out, "ERROR:  Kopieren fehlgeschlagen !")) << r.out;
    EXPECT_TRUE(contains(r.out,
                         "Backup-Job01 \"Fehlerfall\" wurde ausgeführt, aber es sind "
                         "Fehler aufgetreten."))
        << r.out;
    EXPECT_FALSE(contains(r.out, "Versuch")) << "no copy program writes into a full destination";
}

// A file written to while it is copied is read again after its copy and
// copied once more: the change reaches the backup in the same run.
TEST_F(Fault, ASourceThatChangesWhileItIsCopiedIsCopiedAgain) {
    test::buildTree(src, {file("gross.bin", pattern(16), kOld)});
    // A replacement, whose copy has a name while it is written.
    test::buildTree(dst, {file("gross.bin", "alt", kOld - 1000)});
    writeIni(job(dst, src));
    bool appended = false;
    const auto first = test::runProgram(
        {"--ini", ini, "--run", "Job01"}, preloading(QVB_SLOWCOPY),
        [&](pid_t, const std::string& out) {
            if (appended || !contains(out, "  ersetze " + dst + "gross.bin\n")) return;
            // The copy has opened its source once its temporary file is there.
            for (int i = 0; i < 1000 && leftoverTemporaries(dst).empty(); ++i) ::usleep(10000);
            appended = true;
            const int fd = ::open((src + "gross.bin").c_str(), O_WRONLY | O_APPEND);
            EXPECT_EQ(::write(fd, "mehr", 4), 4);
            ::close(fd);
        });
    ASSERT_TRUE(appended) << first.out;
    EXPECT_EQ(first.exitCode, 0) << first.out << first.err;
    EXPECT_EQ(readTree(dst, true), readTree(src, true));
    EXPECT_FALSE(contains(runJob().out, "  ersetze ")) << "nothing left to copy";
}

// Root in CI reads everything: the run is handed to an unprivileged user, for
// whom one source folder is closed.
TEST_F(Fault, AnUnreadableSourceFolderKeepsItsCopyWhenDeleting) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can hand the run to another user";
    test::buildTree(src, {file("a.txt", "a", kNew), file("gesperrt/innen.txt", "neu", kNew)});
    ::chmod((src + "gesperrt").c_str(), 0700);
    test::buildTree(dst, {file("gesperrt/innen.txt", "alt", kOld),
                          file("gesperrt/tief/mehr.txt", "m", kOld), file("weg.txt", "w", kOld)});
    handToNobody({dst});
    const auto r = runAsNobody();
    EXPECT_EQ(readTree(dst), (Tree{{"a.txt", "file:a"},
                                   {"gesperrt/", "dir"},
                                   {"gesperrt/innen.txt", "file:alt"},
                                   {"gesperrt/tief/", "dir"},
                                   {"gesperrt/tief/mehr.txt", "file:m"}}))
        << r.out << r.err;
    EXPECT_TRUE(contains(r.out, src + "gesperrt")) << r.out;
    EXPECT_TRUE(contains(r.out, "  lösche  " + dst + "weg.txt\n")) << r.out;
    EXPECT_FALSE(contains(r.out, "  lösche  " + dst + "gesperrt")) << r.out;
}

// Folders a user keeps read-only (0555) in the source are so in the backup:
// they take updates and deletions all the same and keep their mode, unless
// the source's changed meanwhile ("offen").
TEST_F(Fault, ReadOnlyFoldersOfTheBackupTakeEveryChange) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can hand the run to another user";
    test::buildTree(src, {file("ro/a.txt", "neu", kNew), file("ro/tief/c.txt", "c", kOld),
                          file("offen/d.txt", "d", kNew)});
    test::buildTree(dst, {file("ro/a.txt", "alt", kOld), file("ro/weg.txt", "w", kOld),
                          file("ro/tief/c.txt", "c", kOld), file("ro/tief/weg/x.txt", "x", kOld),
                          file("offen/d.txt", "alt", kOld)});
    handToNobody({src, dst});
    for (const std::string folder : {"ro", "ro/tief", "ro/tief/weg", "offen"})
        ::chmod((dst + folder).c_str(), 0555);
    for (const std::string folder : {"ro", "ro/tief"}) ::chmod((src + folder).c_str(), 0555);
    const auto r = runAsNobody();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(readTree(dst, true), readTree(src, true)) << r.out;
    for (const auto& [folder, mode] : {std::pair{"ro", 0555}, {"ro/tief", 0555}, {"offen", 0755}}) {
        struct stat st {};
        ASSERT_EQ(::stat((dst + folder).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(mode)) << folder;
    }
}

// Names that describe their difference instead of printing two huge trees.
std::string differences(const Tree& expected, const Tree& actual) {
    std::string text;
    int shown = 0;
    for (const auto& [path, what] : expected)
        if (shown < 5 && (!actual.count(path) || actual.at(path) != what) && ++shown)
            text += "missing or different: " + path.substr(0, 120) + "\n";
    for (const auto& [path, what] : actual)
        if (shown < 10 && !expected.count(path) && ++shown)
            text += "surplus: " + path.substr(0, 120) + "\n";
    return text;
}

// Every regular file and link arrives with its bytes and its time; link loops,
// a link to "/", a FIFO, a socket, the destination inside the source, a crowded
// folder, a path near the system's limit and names with every byte neither hang
// nor crash the run, and a second run finds nothing to do.
TEST_F(OwnFileSystem, HostileTreeIsMirroredByteForByte) {
    // On a disk a hundred thousand new files take half a minute; the case is the same.
    if (mountTmpfs(dir / "fs/", "1g")) src = dir / "fs/quelle/";
    const std::string dest = src + "sicherung/";
    std::vector<test::TNode> nodes;
    std::string everyByte;
    for (int b = 1; b < 256; ++b) {
        if (b == '/') continue;
        const std::string c(1, static_cast<char>(b));
        everyByte += c;
        nodes.push_back(file("namen/x" + c + "x", c, kOld));
    }
    nodes.push_back(file("namen/" + everyByte, "alle", kOld));
    nodes.push_back(file("-n; $(touch X) `y` \"q\" |z\nneu/-r", "r", kOld));
    nodes.push_back(test::link("schleifen/selbst", "selbst"));
    nodes.push_back(test::link("schleifen/a", "b"));
    nodes.push_back(test::link("schleifen/b", "a"));
    nodes.push_back(test::link("schleifen/hoch", ".."));
    nodes.push_back(test::link("schleifen/wurzel", "/"));
    std::string deep;
    while (src.size() + deep.size() + 201 < 4000) deep += std::string(200, 'l') + "/";
    deep += std::string(4000 - src.size() - deep.size(), 't');
    nodes.push_back(file(deep, "tief", kOld));
    test::buildTree(src, nodes);
    ASSERT_EQ((src + deep).size(), 4000u);
    ::mkdir((src + "viele").c_str(), 0755);
    for (int i = 0; i < 100000; ++i) {
        const std::string name = src + "viele/" + std::to_string(i);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0) << name;
        ::close(fd);
    }
    ::mkdir((src + "spezial").c_str(), 0755);
    ASSERT_EQ(::mkfifo((src + "spezial/fifo").c_str(), 0644), 0);
    ASSERT_EQ(::mknod((src + "spezial/socket").c_str(), S_IFSOCK | 0644, 0), 0);
    writeIni(job(dest, src, "Löschen=1\n"));

    const auto first = runJob();
    EXPECT_EQ(first.exitCode, 0) << first.err;
    Tree expected = readTree(src, true);
    for (auto it = expected.begin(); it != expected.end();)
        it = it->first.starts_with("sicherung/") || it->first.starts_with("spezial/")
                 ? expected.erase(it)
                 : std::next(it);
    const Tree copied = readTree(dest, true);
    EXPECT_TRUE(copied == expected) << differences(expected, copied);

    const auto second = runJob();
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_TRUE(contains(second.out, "  keine Dateien kopiert.\n"));
    EXPECT_FALSE(contains(second.out, "  lösche")) << "nothing of the copy is surplus";
    EXPECT_TRUE(readTree(dest, true) == expected);
}

// Both stores read what a broken disk, another program or a hostile user left:
// a clear listing or a clear refusal, memory in proportion to the file, no crash.
TEST_F(Fault, MalformedSettingsGiveAClearResult) {
    using namespace std::string_literals;
    std::string many;
    for (int i = 0; i < 100000; ++i) many += "[Job" + std::to_string(i) + "]\nName=n\n";
    const std::string registry = dir / "config/Nerk/QV_Backup.conf";
    ::mkdir((dir / "config").c_str(), 0700);
    ::mkdir((dir / "config/Nerk").c_str(), 0700);
    const struct {
        const char* label;
        std::string text;
        std::string iniListing;  // the start of the listing from the INI store
        long maxMegabytes;
    } cases[] = {
        {"NUL byte", "[Job01]\nName=A\0B\nZiel=/z/\n"s, "Job01\tAB\t0\t1\t0\t/z/\n", 256},
        {"section without end", "[Job01\nName=A\n", "", 256},
        {"invalid UTF-8", "[Job01]\nName=\xff\xfe\xc3\n", "Job01\tÿþÃ\t", 256},
        {"source count -1", "[Job01]\nName=A\nAnzahlQuellen=-1\nQuelle0=/a/=1\n",
         "Job01\tA\t0\t1\t0\t\n", 256},
        {"source count 2,000,000,000", "[Job01]\nName=A\nAnzahlQuellen=2000000000\nQuelle0=/a/=1\n",
         "Job01\tA\t0\t1\t0\t\t/a/=1", 256},
        {"100,000 sections", many, "Job0\tn\t", 2048},
        {"a line of 16 MB", "[Job01]\nName=" + std::string(16 << 20, 'x') + "\n", "", 2048},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test::writeFile(ini, c.text);
        test::writeFile(registry, c.text);
        const auto fromIni = run({"--ini", ini, "--list"}, environment());
        EXPECT_TRUE(fromIni.exitCode == 0 || fromIni.exitCode == 2) << fromIni.err;
        EXPECT_TRUE(fromIni.out.starts_with(c.iniListing)) << fromIni.out.substr(0, 200);
        if (fromIni.exitCode == 2) {
            EXPECT_EQ(fromIni.out, "");
            EXPECT_TRUE(contains(fromIni.err, "können nicht gelesen werden")) << fromIni.err;
        }
        const auto fromRegistry = run({"--list"}, environment());
        EXPECT_EQ(fromRegistry.exitCode, 0) << fromRegistry.err;
        for (const auto& r : {fromIni, fromRegistry})
            EXPECT_LT(r.maxRssKb, c.maxMegabytes * 1024) << "the program's peak memory";
    }
}

// The protocol beside a settings file given with --ini goes to the data
// folder when it cannot be written there, and one line on standard error
// says when it fits nowhere. The program's own folder is made read-only in a
// mount namespace, so the data folder is the one below XDG_DATA_HOME.
TEST_F(OwnFileSystem, AProtocolThatCannotBeWrittenBesideTheSettingsGoesToTheDataFolder) {
    const std::string exeFolder =
        std::string(QVB_BINARY).substr(0, std::string(QVB_BINARY).rfind('/'));
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(exeFolder.c_str(), exeFolder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        ::mount(nullptr, exeFolder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) !=
            0)
        GTEST_SKIP() << "no mount namespace here (" << std::strerror(errno) << ")";
    test::buildTree(src, {file("a.txt", "a", kNew)});
    writeIni(job(dst, src));
    ::mkdir((dir / "einstellungen.log").c_str(), 0755);  // nothing can replace a folder
    const std::string dataLog = dir / "data/QV_Backup/QV_Backup.log";

    const auto saved = runJob();
    EXPECT_EQ(saved.exitCode, 0) << saved.err;
    EXPECT_EQ(readFile(dataLog), saved.out);
    EXPECT_FALSE(contains(saved.err, "Protokoll")) << saved.err;

    ::unlink(dataLog.c_str());
    ::mkdir(dataLog.c_str(), 0755);
    const auto lost = runJob();
    EXPECT_EQ(lost.exitCode, 0) << lost.err;
    EXPECT_TRUE(contains(lost.err, "QV_Backup: Das Protokoll konnte nicht gespeichert werden: \"" +
                                       dir / "einstellungen.log\", \"" + dataLog + "\"\n"))
        << lost.err;
}

}  // namespace
}  // namespace qvb
