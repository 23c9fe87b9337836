#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/CopyFolder.h"
#include "jobs/CopyJob.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"

namespace qvb {
namespace {

using test::file;

constexpr long kFuseMagic = 0x65735546;

// The output of a command run through the shell (the paths here are the
// test's own, without quotes in them); empty when it failed.
std::string commandOutput(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe)) out += buf;
    if (::pclose(pipe) != 0) return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

// A FAT or exFAT file system in an image file, mounted through its FUSE
// driver on a loop device for one test, and taken away again in every case.
class TFuseDisk {
  public:
    TFuseDisk(const std::string& kind, const std::string& folder) : fMount(folder + "mnt/") {
        const std::string image = folder + "disk.img";
        ::mkdir(folder.c_str(), 0700);
        ::mkdir(fMount.c_str(), 0700);
        const std::string mkfs = kind == "fat" ? "mkfs.vfat" : "mkfs.exfat";
        if (std::system(
                ("truncate -s 32M '" + image + "' && " + mkfs + " '" + image + "' >/dev/null 2>&1")
                    .c_str()) != 0) {
            fError = "kein Abbild mit " + mkfs;
            return;
        }
        fLoop = commandOutput("losetup -f --show '" + image + "'");
        if (fLoop.empty()) {
            fError = "kein Loop-Gerät";
            return;
        }
        const std::string mount = kind == "fat" ? "fusefat -o rw+ " + fLoop + " '" + fMount + "'"
                                                : "mount.exfat-fuse " + fLoop + " '" + fMount + "'";
        if (std::system((mount + " >/dev/null 2>&1").c_str()) != 0) {
            fError = "nicht eingehängt: " + mount;
            return;
        }
        struct statfs st {};
        fMounted = ::statfs(fMount.c_str(), &st) == 0 && st.f_type == kFuseMagic;
        if (!fMounted) fError = "kein FUSE-Dateisystem in " + fMount;
    }
    ~TFuseDisk() {
        if (std::system(("umount '" + fMount + "' >/dev/null 2>&1").c_str()) != 0)
            std::system(("umount -l '" + fMount + "' >/dev/null 2>&1").c_str());
        if (!fLoop.empty()) std::system(("losetup -d " + fLoop + " >/dev/null 2>&1").c_str());
    }
    bool mounted() const { return fMounted; }
    const std::string& mount() const { return fMount; }
    const std::string& error() const { return fError; }

  private:
    std::string fMount;
    std::string fLoop;
    std::string fError;
    bool fMounted = false;
};

struct timespec mtimeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mtim;
}

// FAT drivers through FUSE ignore a modification time set without the access
// time and store times in 2-second steps, exFAT in 10-millisecond steps: the
// copies must keep their sources' times, a second run must find nothing to
// copy even with no tolerance configured, and the source is never written.
TEST(ForeignFileSystems, CopiesKeepTheirTimesAndASecondRunCopiesNothing) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root mounts a loop device";
    test::RecordingUserInterface ui;
    for (const std::string kind : {"fat", "exfat"}) {
        SCOPED_TRACE(kind);
        test::TempDir tmp;
        TFuseDisk disk(kind, tmp / "disk/");
        ASSERT_TRUE(disk.mounted()) << disk.error();
        const std::string src = tmp / "src/";
        test::buildTree(src, {file("a.txt", "eins"), file("sub/b.txt", "zwei")});
        test::setMtime(src + "a.txt", 1600000001, 123456789);
        test::setMtime(src + "sub/b.txt", 1600000003, 987654321);
        test::setMtime(src, 1600000000);
        TCopyJob job;
        job.fJobKey = "Job01";
        job.fJobName = "FUSE";
        job.fContentOnly = true;
        job.fTimeTolerance = 0;
        job.setDestination(disk.mount() + "Sicherung");
        job.fSources.push_back(makeSourceEntry(src, true));
        const auto run = [&] {
            EXPECT_TRUE(job.Execute());
            return job.fStatistics;
        };
        const TCopyStatistics first = run();
        EXPECT_EQ(first.fAdded, 2);
        EXPECT_EQ(first.fErrors, 0);
        const std::string dst = job.fCopyFolder->fDest;
        for (const char* name : {"a.txt", "sub/b.txt"}) {
            EXPECT_EQ(test::readFile(dst + name), test::readFile(src + name)) << name;
            EXPECT_LE(std::abs(mtimeOf(dst + name).tv_sec - mtimeOf(src + name).tv_sec), 2) << name;
        }
        EXPECT_EQ(mtimeOf(src).tv_sec, 1600000000) << "nothing was made or removed in the source";

        const TCopyStatistics second = run();
        EXPECT_EQ(second.fSkipped, 2);
        EXPECT_EQ(second.fAdded + second.fReplaced, 0);

        test::writeFile(src + "a.txt", "drei", 1600000101);
        const TCopyStatistics third = run();
        EXPECT_EQ(third.fReplaced, 1);
        EXPECT_EQ(test::readFile(dst + "a.txt"), "drei");
        job.takeMessages();
    }
}

}  // namespace
}  // namespace qvb
