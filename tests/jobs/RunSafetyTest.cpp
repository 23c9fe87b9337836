// A job run guards its destination before it writes: a disk that is not
// mounted, a path that is not absolute and a second run into the same folder
// are refused; a source whose mirror fails never leaves a run that reads as a
// success; a stored destination gets one spelling wherever it enters a job.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/CopyFolder.h"
#include "engine/LogLevel.h"
#include "jobs/BU_Options.h"
#include "jobs/CopyJob.h"
#include "jobs/CopyJobList.h"
#include "support/RecordingUserInterface.h"
#include "support/SettingsSandbox.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/Mounts.h"
#include "util/Sys.h"

namespace qvb {
namespace {

using test::file;

class SafeRun : public ::testing::Test {
  protected:
    SafeRun() {
        job.fJobKey = "Job01";
        job.fJobName = "T";
        job.setDestination(tmp / "ziel");
        job.setOnMessage([this](TCopyIt*) { drain(); });
        // The machine's own tables must not decide these tests.
        job.fMountTables = {tmp / "fstab", tmp / "mountinfo", {}};
        test::writeFile(tmp / "fstab", "");
        test::writeFile(tmp / "mountinfo", "22 1 0:21 / / rw - ext4 /dev/sda1 rw\n");
    }
    ~SafeRun() override {
        sys::setFaultHook({});
        setLogLevel(0);
    }

    void drain() {
        TCopyFolder& mirror = *job.fCopyFolder;
        for (TCopyIt* op : {static_cast<TCopyIt*>(mirror.fCopier.get()),
                            static_cast<TCopyIt*>(&mirror), static_cast<TCopyIt*>(&job)})
            for (std::string& line : op->takeMessages()) protocol.push_back(std::move(line));
    }
    bool run() {
        const bool ok = job.Execute();
        drain();
        return ok;
    }
    void addSource(const std::string& name) {
        test::buildTree(tmp / (name + "/"), {file("a.txt", "a", 1500000000)});
        job.fSources.push_back(makeSourceEntry(tmp / name, true));
    }
    bool logged(const std::string& line) const {
        return std::find(protocol.begin(), protocol.end(), line) != protocol.end();
    }

    test::TempDir tmp;
    test::RecordingUserInterface ui;
    TCopyJob job;
    std::vector<std::string> protocol;
};

TEST(MountTables, AnFstabMountPointThatNothingCoversIsMissing) {
    test::TempDir tmp;
    TMountTables tables{tmp / "fstab", tmp / "mountinfo", {}};
    test::writeFile(tables.fstab,
                    "# /mnt/kommentar ext4\n"
                    "UUID=1 / ext4 defaults 0 1\n"
                    "none swap swap sw 0 0\n"
                    "LABEL=usb /mnt/mein\\040usb ext4 noauto 0 0\n"
                    "LABEL=netz /srv/netz nfs defaults 0 0\n");
    test::writeFile(tables.mountinfo,
                    "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                    "30 22 0:40 / /srv/netz rw - nfs server:/ rw\n"
                    "31 22 0:41 / /mnt/mein\\040usb/innen rw - tmpfs none rw\n");
    EXPECT_EQ(missingMount("/mnt/mein usb/Backup/", tables), "/mnt/mein usb/");
    EXPECT_EQ(missingMount("/mnt/mein usb", tables), "/mnt/mein usb/") << "the point itself";
    EXPECT_EQ(missingMount("/srv/netz/Backup/", tables), std::nullopt) << "mounted";
    EXPECT_EQ(missingMount("/mnt/mein usb/innen/Backup/", tables), std::nullopt)
        << "a deeper mount carries it";
    EXPECT_EQ(missingMount("/mnt/mein usbstick/", tables), std::nullopt) << "not below";
    EXPECT_EQ(missingMount("/home/anna/Backup/", tables), std::nullopt);
    EXPECT_EQ(missingMount("/mnt/kommentar/", tables), std::nullopt);

    tables.mountinfo = tmp / "fehlt";
    EXPECT_EQ(missingMount("/mnt/mein usb/Backup/", tables), std::nullopt)
        << "without the table of mounts nothing is refused";
}

TEST(MountTables, AFolderOnTheMediaRootsOwnFileSystemIsAnEmptyMountPoint) {
    test::TempDir tmp;
    test::buildTree(tmp / "media/", {test::dir("usb/")});
    const TMountTables tables{tmp / "fehlt", tmp / "fehlt", {tmp / "media/"}};
    EXPECT_EQ(missingMount(tmp / "media/usb/Backup/", tables), tmp / "media/");
    EXPECT_EQ(missingMount(tmp / "media/", tables), std::nullopt) << "only below the root";
    EXPECT_EQ(missingMount(tmp / "anderswo/", tables), std::nullopt);
}

TEST_F(SafeRun, AnUnmountedDestinationIsRefusedAndNothingIsCreated) {
    addSource("quelle");
    test::writeFile(tmp / "fstab", "LABEL=usb " + tmp / "usb" + " ext4 noauto 0 0\n");
    ::mkdir((tmp / "usb").c_str(), 0755);
    job.setDestination(tmp / "usb/Backup");
    EXPECT_FALSE(run());
    EXPECT_TRUE(logged("FEHLER:  Der Datenträger des Zielverzeichnisses \"" + tmp / "usb/Backup/" +
                       "\" ist nicht eingehängt (\"" + tmp / "usb/" + "\")!"));
    EXPECT_EQ(job.fStatistics.fErrors, 1);
    EXPECT_FALSE(test::exists(tmp / "usb/Backup"));
    EXPECT_EQ(job.fStatusText, "Backup-Job01 \"T\" wurde wegen Fehler(n) abgebrochen.");
}

TEST_F(SafeRun, ARelativeDestinationIsRefusedAtRunTime) {
    addSource("quelle");
    job.setDestination("ziel-relativ/");
    EXPECT_FALSE(run());
    EXPECT_TRUE(logged("FEHLER:  Das Zielverzeichnis \"ziel-relativ/\" ist kein absoluter Pfad!"));
    EXPECT_EQ(job.fStatistics.fErrors, 1);
    EXPECT_FALSE(test::exists("ziel-relativ"));
}

TEST_F(SafeRun, ABusyDestinationIsRefusedAtOnce) {
    addSource("quelle");
    ::mkdir((tmp / "ziel").c_str(), 0755);
    // Another open of the folder stands for the other run: flock locks belong
    // to the open, not to the process.
    const int other = ::open((tmp / "ziel").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(run());
    EXPECT_TRUE(job.fDone);
    EXPECT_EQ(job.fStatistics.fErrors, 1);
    EXPECT_TRUE(logged("FEHLER:  Das Zielverzeichnis \"" + tmp / "ziel/" +
                       "\" wird gerade von einer anderen Sicherung benutzt; diese Sicherung "
                       "wird nicht ausgeführt."));
    EXPECT_EQ(test::readTree(tmp / "ziel/").size(), 0u);
    EXPECT_TRUE(ui.shown.empty()) << "a scheduled run must not wait for an answer";

    ::close(other);
    EXPECT_TRUE(run());
    EXPECT_EQ(job.fStatistics.fAdded, 1);
    const int again = ::open((tmp / "ziel").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_EQ(::flock(again, LOCK_EX | LOCK_NB), 0) << "the run lets go of its lock";
    ::close(again);
}

TEST_F(SafeRun, AFileSystemWithoutLocksGoesOnWithATraceLine) {
    addSource("quelle");
    setLogLevel(4);
    sys::setFaultHook([](sys::Op op, const char*) { return op == sys::Op::Lock ? ENOLCK : 0; });
    EXPECT_TRUE(run());
    EXPECT_EQ(job.fStatistics.fAdded, 1);
    EXPECT_EQ(job.fStatistics.fErrors, 0);
    EXPECT_TRUE(logged("Zielverzeichnis \"" + tmp / "ziel/" +
                       "\" kann nicht gesperrt werden: " + sys::errorText(ENOLCK)));
}

// The mirror of the second source cannot create its folder, or cannot list
// its destination: the run has errors and says so in a whole sentence.
TEST_F(SafeRun, AFailedMirrorIsAnError) {
    std::string blocked;
    sys::setFaultHook([&](sys::Op op, const char* path) {
        const bool hit = path && std::string(path).rfind(blocked, 0) == 0;
        return hit && (op == sys::Op::Mkdir || (op == sys::Op::Open && test::exists(path))) ? EACCES
                                                                                            : 0;
    });
    addSource("a");
    addSource("b");
    blocked = tmp / "ziel/" + (tmp / "b").substr(1);
    run();
    EXPECT_EQ(job.fStatistics.fErrors, 1);
    EXPECT_EQ(job.fStatusText,
              "Backup-Job01 \"T\" wurde ausgeführt, aber es sind Fehler aufgetreten.");

    ::mkdir((tmp / "ziel/" + (tmp / "").substr(1)).c_str(), 0755);
    ::mkdir(blocked.c_str(), 0755);
    run();
    EXPECT_EQ(job.fStatistics.fErrors, 1) << "the failed scan, counted once";
    EXPECT_EQ(job.fStatusText,
              "Backup-Job01 \"T\" wurde ausgeführt, aber es sind Fehler aufgetreten.");

    job.fSources.clear();
    addSource("c");
    blocked = tmp / "ziel/" + (tmp / "c").substr(1);
    run();
    EXPECT_EQ(job.fStatistics.fErrors, 1);
    EXPECT_EQ(job.fStatusText, "Backup-Job01 \"T\" wurde wegen Fehler(n) abgebrochen.");
}

TEST(DestinationSpelling, LoadingAndImportGiveOneSpelling) {
    test::SettingsSandbox sandbox;
    const std::string jobs =
        "[Job01]\nZiel=/media//usb/./Backup\n[Job02]\nZiel=E:\\Backup\\\n[Job03]\nName=leer\n";
    test::writeFile(sandbox.dataFolder() + "QV_Backup.ini", jobs);
    TQV_BackupOptions options;
    TCopyJobList list(&options);
    ASSERT_EQ(list.loadJobs(), 3);
    EXPECT_EQ(list.getJob(0).fDestination, "/media/usb/Backup/");
    EXPECT_EQ(list.getJob(1).fDestination, "E:\\Backup\\");
    EXPECT_EQ(list.getJob(2).fDestination, "");

    test::writeFile(sandbox.dataFolder() + "QV_Backup.export.ini",
                    "[Job01]\nZiel=/srv//sicherung/.\n");
    list.importJobs();
    EXPECT_EQ(list.getJob(0).fDestination, "/srv/sicherung/");
}

}  // namespace
}  // namespace qvb
