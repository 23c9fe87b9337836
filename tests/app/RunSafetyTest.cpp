// The built program guards what lies outside a backup: a disk that is not
// plugged in, a destination stored without its trailing "/" or made on
// Windows, a second run into the same folder, and self-test roots that are
// not its own. Mounts happen in a mount namespace only this test sees.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include "ProgramRun.h"
#include "jobs/Schedule.h"
#include "selftest/QV_BackupTest.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/DateTime.h"

namespace qvb {
namespace {

using test::file;
using test::readTree;
using Env = std::map<std::string, std::string>;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class RunSafety : public ::testing::Test {
  protected:
    RunSafety() {
        ::chmod(dir.path().c_str(), 0755);
        test::buildTree(src, {file("a.txt", "a", 1500000000)});
    }
    ~RunSafety() override {
        for (auto it = fMounted.rbegin(); it != fMounted.rend(); ++it)
            ::umount2(it->c_str(), MNT_DETACH);
    }

    Env environment() const {
        return {{"XDG_CONFIG_HOME", dir / "config"}, {"XDG_DATA_HOME", dir / "data"}};
    }
    test::ProgramResult runJob(const std::string& dest, const std::string& extra = "") {
        test::writeFile(ini, "[Options]\nLogLevel=1\n[Job01]\nName=Sicher\nZiel=" + dest +
                                 "\nAnzahlQuellen=1\nQuelle0=" + src +
                                 "=1\nNurVerzeichnisInhalt=1\nAktiv=1\n" + extra);
        return test::runProgram({"--ini", ini, "--run", "Job01"}, environment());
    }
    // Everything below happens in a mount namespace of this test process.
    bool privateMounts() {
        if (fPrivate) return true;
        fPrivate = ::unshare(CLONE_NEWNS) == 0 &&
                   ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        return fPrivate;
    }
    bool mountTmpfs(const std::string& where) {
        ::mkdir(where.c_str(), 0755);
        if (!privateMounts() || ::mount("qvb-test", where.c_str(), "tmpfs", 0, "size=4m") != 0)
            return false;
        fMounted.push_back(where);
        return true;
    }
    bool bindFile(const std::string& from, const std::string& over) {
        if (!privateMounts() || ::mount(from.c_str(), over.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return false;
        fMounted.push_back(over);
        return true;
    }

    test::TempDir dir;
    std::string ini = dir / "sicher.ini";
    std::string src = dir / "quelle/";
    bool fPrivate = false;
    std::vector<std::string> fMounted;
};

TEST_F(RunSafety, AnUnpluggedDiskOfFstabGetsNoBackup) {
    const std::string usb = dir / "usb";
    test::writeFile(dir / "fstab", "LABEL=usb " + usb + " ext4 noauto,user 0 0\n");
    ::mkdir(usb.c_str(), 0755);
    if (!bindFile(dir / "fstab", "/etc/fstab"))
        GTEST_SKIP() << "no private mounts here (" << std::strerror(errno) << ")";
    const auto refused = runJob(usb + "/Backup/");
    EXPECT_EQ(refused.exitCode, 1) << refused.out << refused.err;
    EXPECT_TRUE(contains(refused.out, "FEHLER:  Der Datenträger des Zielverzeichnisses \"" + usb +
                                          "/Backup/\" ist nicht eingehängt (\"" + usb + "/\")!"))
        << refused.out;
    EXPECT_FALSE(test::exists(usb + "/Backup")) << "nothing is created on the system disk";

    ASSERT_TRUE(mountTmpfs(usb));
    const auto plugged = runJob(usb + "/Backup/");
    EXPECT_EQ(plugged.exitCode, 0) << plugged.out << plugged.err;
    EXPECT_EQ(test::readFile(usb + "/Backup/a.txt"), "a");

    const auto ordinary = runJob(dir / "neu/");
    EXPECT_EQ(ordinary.exitCode, 0) << ordinary.out << ordinary.err;
    EXPECT_EQ(test::readFile(dir / "neu/a.txt"), "a") << "the destination folder is created";

    const auto deeper = runJob(dir / "weg/tief/");
    EXPECT_EQ(deeper.exitCode, 1) << deeper.out << deeper.err;
    EXPECT_TRUE(contains(deeper.err, "Der Ordner \"" + dir / "weg/" + "\" existiert nicht."))
        << deeper.err;
    EXPECT_TRUE(contains(deeper.out, "FEHLER:  Das Zielverzeichnis \"" + dir / "weg/tief/" +
                                         "\" wird nicht erstellt, weil der Ordner \"" +
                                         dir / "weg/" +
                                         "\" fehlt (ist der Datenträger nicht angeschlossen?)."))
        << deeper.out;
    EXPECT_FALSE(test::exists(dir / "weg")) << "missing parents are not made without asking";
}

TEST_F(RunSafety, AnEmptyFolderBelowMediaGetsNoBackup) {
    // /media of its own, so the machine's folder stays untouched.
    if (!mountTmpfs("/media"))
        GTEST_SKIP() << "no private mounts here (" << std::strerror(errno) << ")";
    ::mkdir("/media/usb", 0755);
    const auto refused = runJob("/media/usb/Backup/");
    EXPECT_EQ(refused.exitCode, 1) << refused.out << refused.err;
    EXPECT_TRUE(contains(refused.out, "ist nicht eingehängt (\"/media/\")!")) << refused.out;
    EXPECT_FALSE(test::exists("/media/usb/Backup"));

    ASSERT_TRUE(mountTmpfs("/media/usb"));
    const auto plugged = runJob("/media/usb/Backup/");
    EXPECT_EQ(plugged.exitCode, 0) << plugged.out << plugged.err;
    EXPECT_EQ(test::readFile("/media/usb/Backup/a.txt"), "a");
}

TEST_F(RunSafety, AStoredDestinationWithoutItsSlashKeepsIntervalsInside) {
    ::mkdir((dir / "ziel").c_str(), 0755);
    const std::string before = intervalFolderFor(kIntervalDaily, nowDateTime());
    const auto r = runJob(dir / "ziel//sub/.", "Intervall=2\n");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    // The run's own day (the clock may pass midnight meanwhile).
    const std::string after = intervalFolderFor(kIntervalDaily, nowDateTime());
    EXPECT_TRUE(test::exists(dir / "ziel/sub/" + before + "a.txt") ||
                test::exists(dir / "ziel/sub/" + after + "a.txt"))
        << r.out;
    EXPECT_FALSE(test::exists(dir / "ziel/subtäglich"));
    EXPECT_EQ(readTree(dir / "ziel/sub/").count("a.txt"), 0u) << "nothing beside the interval";
}

TEST_F(RunSafety, AWindowsDestinationIsRefused) {
    const auto r = runJob("E:\\Backup\\");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_TRUE(contains(r.out,
                         "FEHLER:  Das Zielverzeichnis \"E:\\Backup\\\" ist kein "
                         "absoluter Pfad!"))
        << r.out;
    EXPECT_FALSE(test::exists("E:\\Backup\\")) << "nothing in the working folder";
}

TEST_F(RunSafety, ASecondRunIntoABusyFolderIsRefusedAtOnce) {
    const std::string dst = dir / "ziel/";
    ::mkdir(dst.c_str(), 0755);
    const int held = ::open(dst.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const auto start = std::chrono::steady_clock::now();
    const auto busy = runJob(dst);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "no wait";
    EXPECT_EQ(busy.exitCode, 1) << busy.out << busy.err;
    EXPECT_TRUE(contains(busy.out, "wird gerade von einer anderen Sicherung benutzt")) << busy.out;
    EXPECT_TRUE(contains(busy.out, "Backup-Job01 \"Sicher\" wurde wegen Fehler(n) abgebrochen."));
    EXPECT_TRUE(readTree(dst).empty());

    ::close(held);
    const auto free = runJob(dst);
    EXPECT_EQ(free.exitCode, 0) << free.out << free.err;
    EXPECT_EQ(test::readFile(dst + "a.txt"), "a");
}

// Settings another user placed or may change would run that user's jobs with
// this user's rights: refused before a single value is read. Root in CI hands
// one start to an unprivileged user without HOME.
TEST_F(RunSafety, SettingsInAFolderOthersOwnOrMayWriteAreNeverRead) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can hand the run to another user";
    const std::string job = "[Job01]\nName=Fremd\nZiel=" + dir / "z/" + "\n";
    for (const char* folder : {"offen", "fremd", "eigen"}) {
        ::mkdir((dir / folder).c_str(), 0755);
        test::writeFile(dir / folder + "/job.ini", job);
        ::chmod((dir / folder + "/job.ini").c_str(), 0644);
    }
    ::chmod((dir / "offen").c_str(), 0777);
    for (const char* folder : {"offen", "eigen"}) {
        ASSERT_EQ(::chown((dir / folder).c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown((dir / folder + "/job.ini").c_str(), 65534, 65534), 0);
    }
    const struct {
        const char* folder;
        const char* reason;  // empty: read
    } cases[] = {
        {"offen", "\" ist für andere Benutzer beschreibbar"},
        {"fremd", "\" gehört einem anderen Benutzer"},
        {"eigen", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const auto r = test::runCommand(
            {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/env",
             "-u", "HOME", "XDG_DATA_HOME=relativ", QVB_BINARY, "--ini",
             dir / c.folder + "/job.ini", "--list"},
            environment());
        if (*c.reason) {
            EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "QV_Backup: Der Ordner \"" + dir / c.folder + "/" + c.reason +
                                 "; Einstellungen und Protokoll werden dort nicht gelesen.\n");
        } else {
            EXPECT_EQ(r.exitCode, 0) << r.err;
            EXPECT_EQ(r.out, "Job01\tFremd\t0\t1\t0\t" + dir / "z/" + "\n");
        }
    }
}

class SelfTestRoots : public RunSafety {
  protected:
    test::ProgramResult selfTest(const std::string& source, const std::string& dest) {
        return test::runProgram(
            {"--ini", ini, "--selftest", "--source-root", source, "--dest-root", dest},
            environment());
    }
};

TEST_F(SelfTestRoots, ARootOthersMayWriteIsRefusedAndLeftAsItIs) {
    test::writeFile(ini, "[Options]\nLogLevel=1\n");
    test::buildTree(dir / "offen/", {file("Backup/fremd.txt", "fremd")});
    ::chmod((dir / "offen").c_str(), 01777);
    const auto r = selfTest(dir / "q/", dir / "offen/");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "FEHLER:  Das Testverzeichnis \"" + dir / "offen/" +
                                    "\" ist für andere Benutzer beschreibbar."))
        << r.out;
    struct stat st {};
    ::stat((dir / "offen").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 01777u) << "never chmodded";
    EXPECT_EQ(test::readFile(dir / "offen/Backup/fremd.txt"), "fremd");
}

TEST_F(SelfTestRoots, ALinkAtATestFolderIsNeverFollowed) {
    test::writeFile(ini, "[Options]\nLogLevel=1\n");
    test::buildTree(dir / "opfer/", {file("wichtig.txt", "bleibt"), file("unter/x.txt", "x")});
    ::mkdir((dir / "z").c_str(), 0700);
    // As an interrupted run of the test leaves its root: marked as its own.
    test::writeFile(dir / "z/" + TSelfTest::kRootMark, "");
    ASSERT_EQ(::symlink("../opfer", (dir / "z/Backup").c_str()), 0);
    const auto r = selfTest(dir / "q/", dir / "z/");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(test::readFile(dir / "opfer/wichtig.txt"), "bleibt") << r.out;
    EXPECT_EQ(test::readFile(dir / "opfer/unter/x.txt"), "x");
    EXPECT_TRUE(contains(r.out, "Schritt 1: fehlgeschlagen")) << r.out;
    struct stat st {};
    EXPECT_EQ(::lstat((dir / "z/Backup").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

}  // namespace
}  // namespace qvb
