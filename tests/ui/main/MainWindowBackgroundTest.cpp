// The window's check item for runs while it is closed: switched on only where
// the user's service manager answers (a recording systemctl first on PATH),
// units that follow saves and deletions, a tick that leaves the timers' jobs
// to them, and a save that keeps what a run of the program stored meanwhile.

#include <QLabel>
#include <filesystem>
#include <regex>

#include "MainWindowFixture.h"
#include "app/ProgramRun.h"
#include "jobs/Schedule.h"
#include "platform/IniFile.h"
#include "runcontrol/Scheduler.h"
#include "util/DateTime.h"

namespace qvb::test {
namespace {

namespace fs = std::filesystem;

class MainWindowBackgroundTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        writeFile(dir / "bin/systemctl", "#!/bin/sh\necho \"$*\" >> '" + calls + "'\nexit $(cat '" +
                                             dir.path() + "rc' 2>/dev/null || echo 0)\n");
        fs::permissions(dir / "bin/systemctl", fs::perms::owner_all);
        ::setenv("PATH", (dir / "bin:" + path).c_str(), 1);
        buildTree(dir / "quelle/", {file("a.txt", "a")});
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        ::setenv("PATH", path.c_str(), 1);
        setClock({});
    }

    void storeAutomaticJobs() {
        const auto automatic = [&](const char* name, TJobInterval interval) {
            return [=, this](TCopyJob& j) {
                j.fJobName = name;
                j.fSources = {makeSourceEntry(dir / "quelle/", true)};
                j.fActive = true;
                j.fLastBackup = encodeDateTime({2026, 1, 5, 20, 0, 0});
                j.fEndTime = encodeTime(18, 0, 0);
                j.setSchedule(interval, encodeTime(8, 0, 0));
            };
        };
        storeJobs({automatic("Täglich", kIntervalDaily), automatic("Stündlich", kIntervalHourly),
                   [](TCopyJob& j) { j.fJobName = "Von Hand"; }});
    }
    std::vector<std::string> timers() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(sandbox.configHome() + "systemd/user", ec))
            if (entry.path().extension() == ".timer")
                names.push_back(entry.path().filename().string());
        return names;
    }
    std::string stored(const std::string& key) const {
        TIniFile file(ini);
        return file.readString("Job01", key, "(fehlt)");
    }
    void trigger() { action("actionBackground")->trigger(); }
    QString nextRow(int row) const { return child<TListBox>("lbxNext")->item(row)->text(); }

    const std::string path = std::getenv("PATH");
    const std::string calls = dir / "calls";
};

TEST_F(MainWindowBackgroundTest, WithoutAManagerTheOptionStaysOffAndCronIsOffered) {
    storeAutomaticJobs();
    writeFile(dir / "rc", "1");
    open();
    trigger();
    EXPECT_FALSE(action("actionBackground")->isChecked());
    EXPECT_FALSE(window->options().Background);
    ASSERT_EQ(messages.shown.size(), 1u);
    const std::string& text = messages.shown[0].text;
    EXPECT_NE(text.find("\"systemctl --user\") ausgeführt werden, und der ist hier nicht "
                        "erreichbar."),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("0 20 * * * '"), std::string::npos) << text;
    EXPECT_NE(text.find("' --ini '" + ini + "' --run 'Täglich' --unattended"), std::string::npos)
        << text;
    EXPECT_EQ(readFile(calls), "--user show --property=Version\n");
    EXPECT_TRUE(timers().empty());
}

TEST_F(MainWindowBackgroundTest, UnitsFollowSavesAndDeletionsAndTheTickLeavesTheirJobs) {
    storeAutomaticJobs();
    // Half a minute after both jobs' start time: both are due.
    setClock([] { return encodeDateTime({2027, 2, 10, 8, 0, 30}); });
    open();
    EXPECT_FALSE(action("actionBackground")->isChecked());
    trigger();
    EXPECT_TRUE(action("actionBackground")->isChecked());
    EXPECT_EQ(stored("Kennung").size(), 16u);
    EXPECT_EQ(TIniFile(ini).readString("Options", "Hintergrund", ""), "1");
    const auto both = timers();
    EXPECT_EQ(both.size(), 2u);
    EXPECT_NE(readFile(calls).find("--user daemon-reload\n--user enable --now qvbackup-"),
              std::string::npos)
        << readFile(calls);

    // The tick shows the runs but leaves them to the timers.
    window->tmrIntervallTimer();
    EXPECT_EQ(nextRow(0).toStdString(), kRowRunning);
    EXPECT_EQ(nextRow(1).toStdString(), kRowRunning);
    EXPECT_FALSE(memoHas("10.02.2027 08:00:30:  starte Backup-Job01 \"Täglich\""));
    EXPECT_FALSE(fs::exists(dir / "ziel1"));

    // A save with nothing changed leaves the manager alone; a deleted job
    // takes its units along.
    fs::remove(calls);
    window->actionSaveOptionsExecute();
    EXPECT_FALSE(fs::exists(calls));
    messages.answers = {TMsgResult::Yes};
    jobRows()->selectRow(1);
    QTest::keyPress(jobRows(), Qt::Key_Delete);
    EXPECT_EQ(window->jobs().count(), 2);
    EXPECT_EQ(timers().size(), 1u);
    EXPECT_NE(readFile(calls).find("--user disable --now qvbackup-"), std::string::npos);

    // Off: the units go, and the window starts the jobs itself again.
    trigger();
    EXPECT_FALSE(action("actionBackground")->isChecked());
    EXPECT_TRUE(timers().empty());
    EXPECT_EQ(TIniFile(ini).readString("Options", "Hintergrund", ""), "0");
    setClock([] { return encodeDateTime({2027, 2, 11, 8, 0, 30}); });
    window->tmrIntervallTimer();
    EXPECT_TRUE(memoHas("11.02.2027 08:00:30:  starte Backup-Job01 \"Täglich\""));
}

TEST_F(MainWindowBackgroundTest, SaveKeepsWhatARunOfTheProgramStoredMeanwhile) {
    storeAutomaticJobs();
    open();
    // The program run by a timer while the window is open.
    const ProgramResult run = runProgram({"--ini", ini, "--run", "Täglich", "--unattended"}, {});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::string ranAt = stored("LetztesBackup");
    const std::string folder = stored("LetzterIntervallordner");
    EXPECT_NE(ranAt, "05.01.2026 20:00:00");
    EXPECT_NE(folder, "");

    window->actionSaveOptionsExecute();
    EXPECT_EQ(stored("LetztesBackup"), ranAt);
    EXPECT_EQ(stored("LetzterIntervallordner"), folder);
    EXPECT_EQ(stored("LetztesZiel"), dir / "ziel1/");
    EXPECT_EQ(child<QLabel>("lblLastBackupzeit")->text().toStdString(), ranAt);

    // A later run of the window's own is not undone by the older stored one.
    setClock([] { return encodeDateTime({2030, 3, 4, 12, 0, 0}); });
    ASSERT_TRUE(window->runJob());
    window->actionSaveOptionsExecute();
    EXPECT_EQ(stored("LetztesBackup"), "04.03.2030 12:00:00");
    EXPECT_EQ(stored("LetzterIntervallordner"), "täglich/d_04/");
}

}  // namespace
}  // namespace qvb::test
