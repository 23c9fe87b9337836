#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "platform/DataFolder.h"
#include "platform/RegistryStore.h"
#include "support/SettingsSandbox.h"
#include "support/Tree.h"
#include "util/Sys.h"

namespace qvb {
namespace {

class RegistryStoreTest : public ::testing::Test {
  protected:
    test::SettingsSandbox sandbox;
};

TEST_F(RegistryStoreTest, KeepsTheRegistryTypesInTheUsersConfigFolder) {
    {
        TRegistryStore reg;
        EXPECT_EQ(reg.storeFileName(), sandbox.registryFile());
        EXPECT_FALSE(reg.hasRecord(""));
        reg.writeNumber("", "LogLevel", 4);
        EXPECT_TRUE(reg.writeText("Job01", "Ziel", "/media/usb, Backup/"));
        reg.writeTime("Job01", "Startzeit", 46363.6041666667);
        reg.writeNumber("Job01", "Intervall", -1);
        EXPECT_FALSE(reg.writeText("Job01", "Quelle0", "/a/\xff=1"));
        ASSERT_TRUE(reg.commit());
    }
    struct stat st {};
    ASSERT_EQ(::stat(sandbox.registryFile().c_str(), &st), 0);

    TRegistryStore reg;
    EXPECT_TRUE(reg.hasRecord(""));
    EXPECT_TRUE(reg.hasRecord("Job01"));
    EXPECT_FALSE(reg.hasRecord("Job02"));
    int32_t n = 0;
    std::string s;
    double d = 0;
    EXPECT_EQ(reg.readNumber("", "LogLevel", n), TReadResult::Ok);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(reg.readNumber("Job01", "Intervall", n), TReadResult::Ok);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(reg.readText("Job01", "Ziel", s), TReadResult::Ok);
    EXPECT_EQ(s, "/media/usb, Backup/");
    EXPECT_EQ(reg.readTime("Job01", "Startzeit", d), TReadResult::Ok);
    EXPECT_DOUBLE_EQ(d, 46363.6041666667);
    EXPECT_EQ(reg.valueCount("Job01"), 3u);

    // Absent and wrong types stay apart.
    EXPECT_EQ(reg.readNumber("Job01", "Aktiv", n), TReadResult::Absent);
    EXPECT_EQ(reg.readNumber("Job01", "Ziel", n), TReadResult::WrongType);
    EXPECT_EQ(reg.readTime("Job01", "Ziel", d), TReadResult::WrongType);
    EXPECT_EQ(reg.readText("Job01", "Startzeit", s), TReadResult::WrongType);
}

TEST_F(RegistryStoreTest, ValuesEditedByHandAreCheckedForTheirType) {
    ::mkdir((sandbox.configHome() + "Nerk").c_str(), 0700);
    std::ofstream(sandbox.registryFile())
        << "[Job01]\nAnzahlQuellen=zwei\nStartzeit=46363.5\nWochentag=3\n"
           "Ziel=a,b\nLetztesBackup=@ByteArray(1234)\n";
    TRegistryStore reg;
    int32_t n = 0;
    double d = 0;
    std::string s;
    EXPECT_EQ(reg.readNumber("Job01", "AnzahlQuellen", n), TReadResult::WrongType);
    EXPECT_EQ(reg.readTime("Job01", "Startzeit", d), TReadResult::WrongType);
    EXPECT_EQ(reg.readTime("Job01", "LetztesBackup", d),
              TReadResult::WrongType);                                    // not 8 bytes
    EXPECT_EQ(reg.readText("Job01", "Ziel", s), TReadResult::WrongType);  // a list, not a text
    EXPECT_EQ(reg.readNumber("Job01", "Wochentag", n), TReadResult::Ok);
    EXPECT_EQ(n, 3);
}

// The order in which jobs load is the job list's (JobStorageTest).
TEST_F(RegistryStoreTest, ListsSubkeysAndDeletes) {
    TRegistryStore reg;
    for (const char* key : {"Job100", "Job11", "Job10", "Job02", "Other"})
        reg.writeNumber(key, "Aktiv", 1);
    reg.writeNumber("", "CurrentJob", 1);
    const auto sorted = [](std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(sorted(reg.records()),
              (std::vector<std::string>{"Job02", "Job10", "Job100", "Job11", "Other"}));
    reg.eraseRecord("Job11");
    reg.eraseValue("Job10", "Aktiv");
    reg.eraseRecord("");  // never "everything"
    ASSERT_TRUE(reg.commit());
    EXPECT_EQ(sorted(reg.records()), (std::vector<std::string>{"Job02", "Job100", "Other"}));
    EXPECT_TRUE(reg.valueExists("", "CurrentJob"));
}

TEST_F(RegistryStoreTest, SaveReplacesTheFileAsAWhole) {
    TRegistryStore reg;
    reg.writeNumber("", "LogLevel", 1);
    ASSERT_TRUE(reg.commit());
    struct stat before {};
    ::stat(sandbox.registryFile().c_str(), &before);
    reg.writeNumber("", "LogLevel", 2);
    ASSERT_TRUE(reg.commit());
    struct stat after {};
    ::stat(sandbox.registryFile().c_str(), &after);
    // A new inode: written beside and renamed over, never rewritten in place.
    EXPECT_NE(before.st_ino, after.st_ino);
}

// Jobs in a system-wide or organisation-wide file would load and could never
// be deleted by a save.
TEST_F(RegistryStoreTest, ReadsOnlyTheUsersOwnStore) {
    ::mkdir((sandbox.systemConfig() + "Nerk").c_str(), 0700);
    std::ofstream(sandbox.systemConfig() + "Nerk/QV_Backup.conf")
        << "[General]\nLogLevel=4\n[Job07]\nName=System\n";
    std::ofstream(sandbox.systemConfig() + "Nerk.conf") << "[Job08]\nName=Firma\n";
    std::ofstream(sandbox.configHome() + "Nerk.conf") << "[Job05]\nName=Fremd\n";
    TRegistryStore reg;
    EXPECT_FALSE(reg.hasRecord(""));
    EXPECT_TRUE(reg.records().empty());
    EXPECT_FALSE(reg.valueExists("", "LogLevel"));
    EXPECT_FALSE(reg.valueExists("Job05", "Name"));
    reg.writeText("Job01", "Name", "Eigen");
    ASSERT_TRUE(reg.commit());
    EXPECT_EQ(reg.records(), std::vector<std::string>{"Job01"});
}

TEST(DataFolder, ExecutableFolderWhenWritableElseTheUsersDataFolder) {
    test::SettingsSandbox sandbox;
    test::TempDir exe;
    EXPECT_EQ(dataFolderFor(exe.path()), exe.path());
    sys::setFaultHook([&](sys::Op op, const char* path) {
        return op == sys::Op::Open && path && std::string(path).starts_with(exe.path()) ? EROFS : 0;
    });
    const std::string chosen = dataFolderFor(exe.path());
    sys::setFaultHook({});
    EXPECT_EQ(chosen, sandbox.dataFolder());
    struct stat st {};
    EXPECT_EQ(::stat(chosen.c_str(), &st), 0);

    setDataFolder("/srv/qvb");
    EXPECT_EQ(programIniFileName(), "/srv/qvb/QV_Backup.ini");
    EXPECT_EQ(exportFileName(), "/srv/qvb/QV_Backup.export.ini");
    EXPECT_EQ(protocolFileName(), "/srv/qvb/QV_Backup.log");
    EXPECT_FALSE(iniStorageForced());
    setProgramIniFile("/etc/../home/anna/qvb.ini");
    EXPECT_TRUE(iniStorageForced());
    EXPECT_EQ(programIniFileName(), "/home/anna/qvb.ini");
}

TEST(DataFolder, AnInstalledProgramKeepsItsFilesInTheUsersDataFolderEvenWhereItMayWrite) {
    test::SettingsSandbox sandbox;
    test::TempDir prefix;
    ASSERT_EQ(::mkdir((prefix / "bin").c_str(), 0700), 0);
    EXPECT_EQ(dataFolderFor(prefix / "bin"), prefix / "bin/");
    test::writeFile(prefix / "share/metainfo/de.nerk.QV_Backup.metainfo.xml", "<component/>");
    EXPECT_EQ(dataFolderFor(prefix / "bin"), sandbox.dataFolder());
}

}  // namespace
}  // namespace qvb
