// The same job run once from the window and once from the command line, both
// in this process: one protocol file, one stored result, one destination tree.

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "MainWindowFixture.h"
#include "app/CommandLine.h"
#include "app/ConsoleRun.h"
#include "platform/IniFile.h"
#include "util/DateTime.h"

namespace qvb::test {
namespace {

namespace fs = std::filesystem;

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every file and folder below `root` with the content of the files.
std::map<std::string, std::string> treeOf(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        tree[fs::relative(entry.path(), root).string()] =
            entry.is_directory() ? "/" : readAll(entry.path().string());
    return tree;
}

struct TFaceResult {
    std::string protocol;  // the protocol file's text
    std::map<std::string, std::string> stored;
    std::map<std::string, std::string> destination;
    TDateTime lastBackup = 0;
};

class MainWindowFacesTest : public MainWindowTest {
  protected:
    // A dot file as settings: its protocol is the file's name and ".log".
    const std::string settings = dir / "settings/.qvb";
    const std::string protocolFile = settings + ".log";
    const std::string dest = dir / "ziel/";
    std::string original;  // the settings before either face ran

    void SetUp() override {
        MainWindowTest::SetUp();
        setProgramIniFile(settings);
        buildTree(dir / "quelle/", {file("a.txt", "eins"), file("sub/b.txt", "zwei")});
        TQV_BackupOptions options;
        options.Logging = true;
        TCopyJobList list(&options);
        auto job = std::make_unique<TCopyJob>();
        job->fJobName = "Fotos";
        job->fSources = {makeSourceEntry(dir / "quelle/", true)};
        job->setDestination(dest);
        list.add(std::move(job));
        ASSERT_TRUE(list.saveJobsAndOptions());
        original = readAll(settings);
    }

    // What the face left behind; the protocol, the copies and the stored
    // result go again.
    TFaceResult takeResult() {
        TFaceResult result;
        result.protocol = readAll(protocolFile);
        TIniFile ini(settings);
        for (const char* key : {"Name", "Ziel", "Quelle0", "Intervall", "Aktiv", "LetztesZiel"})
            result.stored[key] = ini.readString("Job01", key, "(fehlt)");
        result.lastBackup = ini.readDateTime("Job01", "LetztesBackup", 0);
        result.destination = treeOf(dest);
        fs::remove(protocolFile);
        fs::remove_all(dest);
        std::ofstream(settings, std::ios::trunc) << original;
        return result;
    }
};

TEST_F(MainWindowFacesTest, WindowAndCommandLineLeaveTheSameResults) {
    const TDateTime start = nowDateTime();
    open();
    ASSERT_TRUE(window->runJob());
    window->close();
    window.reset();
    const TFaceResult fromWindow = takeResult();

    TCommandLine line;
    line.command = TCommand::Run;
    line.iniFile = settings;
    line.jobs = {"Fotos"};
    ASSERT_EQ(runConsole(line), kExitOk);
    const TFaceResult fromCommandLine = takeResult();

    for (const TFaceResult* face : {&fromWindow, &fromCommandLine}) {
        EXPECT_NE(face->protocol.find("starte Backup-Job01 \"Fotos\""), std::string::npos);
        EXPECT_NE(face->protocol.find("letzte Sicherung: "), std::string::npos);
        EXPECT_GE(face->lastBackup, start - 2e-5);  // stored in whole seconds
        EXPECT_LE(face->lastBackup, nowDateTime() + 1e-5);
    }
    EXPECT_EQ(fromWindow.stored, fromCommandLine.stored);
    EXPECT_EQ(fromWindow.stored.at("LetztesZiel"), dest);
    EXPECT_EQ(fromWindow.destination, fromCommandLine.destination);
    const auto copy = fromWindow.destination.find((dir / "quelle/sub/b.txt").substr(1));
    ASSERT_NE(copy, fromWindow.destination.end());
    EXPECT_EQ(copy->second, "zwei");
}

}  // namespace
}  // namespace qvb::test
