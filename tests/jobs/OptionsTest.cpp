#include <gtest/gtest.h>

#include "engine/LogLevel.h"
#include "jobs/BU_Options.h"
#include "platform/DataFolder.h"
#include "support/SettingsSandbox.h"
#include "support/Tree.h"

namespace qvb {
namespace {

const std::vector<std::string> kReadError = {
    "  FEHLER:  Die Einstellungen können nicht gelesen werden.", " "};
const std::vector<std::string> kNotReadable = {"  FEHLER:  Optionen nicht lesbar.", " "};

class OptionsTest : public ::testing::Test {
  protected:
    ~OptionsTest() override { setLogLevel(1); }
    std::string iniFile() const { return sandbox.dataFolder() + "QV_Backup.ini"; }
    std::string exportFile() const { return sandbox.dataFolder() + "QV_Backup.export.ini"; }

    static void expectDefaults(const TQV_BackupOptions& o, bool logging) {
        EXPECT_EQ(o.WinMainTop, 0);
        EXPECT_EQ(o.WinMainLeft, 0);
        EXPECT_EQ(o.WinMainHeight, 600);
        EXPECT_EQ(o.WinMainWidth, 600);
        EXPECT_EQ(o.LogLevel, 1);
        EXPECT_EQ(o.Logging, logging);
        EXPECT_EQ(o.LastSrcDir, "");
        EXPECT_EQ(o.LastDestDir, "");
        EXPECT_EQ(o.CurrentJob, 0);
    }

    test::SettingsSandbox sandbox;
};

TEST_F(OptionsTest, FirstStartWithoutAnySettings) {
    TQV_BackupOptions o;
    EXPECT_FALSE(o.fUseIniFile);
    EXPECT_EQ(o.fIniFileName, iniFile());
    EXPECT_EQ(o.fExportFileName, exportFile());
    EXPECT_EQ(o.fMessages, kReadError);
    expectDefaults(o, false);
}

TEST_F(OptionsTest, RegistryRoundTripAndPartialRecords) {
    {
        TQV_BackupOptions o;
        o.Logging = true;
        o.WinMainTop = 10;
        o.WinMainLeft = 20;
        o.WinMainHeight = 700;
        o.WinMainWidth = 800;
        o.LogLevel = 4;
        o.LastSrcDir = "/home/anna/";
        o.LastDestDir = "/media/usb/";
        o.CurrentJob = 3;
        ASSERT_TRUE(o.saveOptions());
    }
    {
        TQV_BackupOptions o;
        EXPECT_TRUE(o.fMessages.empty());
        EXPECT_TRUE(o.Logging);
        EXPECT_EQ(o.WinMainTop, 10);
        EXPECT_EQ(o.WinMainWidth, 800);
        EXPECT_EQ(o.LogLevel, 4);
        EXPECT_EQ(logLevel(), 4);  // the engine follows the option
        EXPECT_EQ(o.LastSrcDir, "/home/anna/");
        EXPECT_EQ(o.CurrentJob, 3);
        // "LogLevel" gone: the values before it are taken, the level stays 1.
        o.fRegistry->eraseValue("", "LogLevel");
        o.fMessages.clear();
        EXPECT_FALSE(o.loadOptions());
        EXPECT_EQ(o.fMessages, kReadError);
        EXPECT_EQ(o.WinMainHeight, 700);
        EXPECT_EQ(o.LogLevel, 1);
        // "CurrentJob" gone while the key is there.
        ASSERT_TRUE(o.saveOptions());
        o.fRegistry->eraseValue("", "CurrentJob");
        o.fMessages.clear();
        EXPECT_FALSE(o.loadOptions());
        EXPECT_EQ(o.fMessages, kNotReadable);
    }
}

TEST_F(OptionsTest, ProgramIniFileKeepsLoggingOnButTheImportTakesItAsRead) {
    test::writeFile(iniFile(),
                    "[Options]\r\nLogging=0\r\nLogLevel=3\r\nLastSrcDir=C:\\Daten\\\r\n");
    test::writeFile(exportFile(), "[options]\nlogging=0\nWinMainTop=5\n");
    TQV_BackupOptions o;
    ASSERT_TRUE(o.fUseIniFile);
    EXPECT_TRUE(o.fMessages.empty());
    EXPECT_TRUE(o.Logging);
    EXPECT_EQ(o.LogLevel, 3);
    EXPECT_EQ(o.LastSrcDir, "C:\\Daten\\");
    ASSERT_TRUE(o.importOptions());
    EXPECT_FALSE(o.Logging);
    EXPECT_EQ(o.WinMainTop, 5);
    EXPECT_EQ(o.LogLevel, 1);
    EXPECT_EQ(logLevel(), 1);
}

TEST_F(OptionsTest, AnEmptyIniFileSwitchesToIniStorage) {
    test::writeFile(iniFile(), "");
    TQV_BackupOptions o;
    ASSERT_TRUE(o.fUseIniFile);
    EXPECT_TRUE(o.fMessages.empty());
    expectDefaults(o, true);
    o.CurrentJob = 2;
    ASSERT_TRUE(o.saveOptions());
    EXPECT_EQ(
        test::readFile(iniFile()),
        "[Options]\nLogging=1\nWinMainTop=0\nWinMainLeft=0\nWinMainHeight=600\nWinMainWidth=600\n"
        "LogLevel=1\nLastDestDir=\nLastSrcDir=\nCurrentJob=2\nHintergrund=0\n");
    EXPECT_FALSE(o.fRegistry->hasRecord(""));  // the registry store stays untouched
}

TEST_F(OptionsTest, IniFileGivenOnTheCommandLineIsUsedEvenBeforeItExists) {
    const std::string file = sandbox.configHome() + "eigene.ini";
    setProgramIniFile(file);
    TQV_BackupOptions o;
    EXPECT_TRUE(o.fUseIniFile);
    EXPECT_EQ(o.fIniFileName, file);
    ASSERT_TRUE(o.saveOptions());
    EXPECT_NE(test::readFile(file).find("[Options]\n"), std::string::npos);
}

TEST_F(OptionsTest, ExportReplacesTheOldFileAndImportWithoutFileGivesDefaults) {
    test::writeFile(exportFile(), "[Options]\nCurrentJob=9\n[Job07]\nName=alt\n");
    TQV_BackupOptions o;
    o.LogLevel = 2;
    ASSERT_TRUE(o.exportOptions());
    const std::string text = test::readFile(exportFile());
    EXPECT_EQ(text.find("Job07"), std::string::npos);
    EXPECT_NE(text.find("LogLevel=2\n"), std::string::npos);

    ::unlink(exportFile().c_str());
    o.WinMainTop = 99;
    o.LastDestDir = "/x/";
    o.CurrentJob = 4;
    EXPECT_TRUE(o.importOptions());
    expectDefaults(o, true);
}

TEST_F(OptionsTest, AStoreThatCannotBeWrittenIsReported) {
    // A plain file where the store's folder belongs: the save cannot succeed.
    test::writeFile(sandbox.configHome() + "Nerk", "");
    TQV_BackupOptions o;
    o.fMessages.clear();
    EXPECT_FALSE(o.saveOptions());
    EXPECT_EQ(o.fMessages,
              (std::vector<std::string>{
                  "  FEHLER:  Die Einstellungen können nicht gespeichert werden.", " "}));
}

}  // namespace
}  // namespace qvb
