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
#include "platform/RegistryStore.h"
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
    // A value of the first job as text, from the INI file or the registry store.
    std::string stored(const std::string& key) const {
        std::unique_ptr<TSettingsStore> store;
        if (registry)
            store = std::make_unique<TRegistryStore>();
        else
            store = std::make_unique<TIniFile>(ini);
        std::string text = "(fehlt)";
        TDateTime time = 0;
        if (key.rfind("Letzte", 0) == 0 && store->readTime("Job01", key, time) == TReadResult::Ok)
            return formatGermanDateTime(time);
        store->readText(registry ? "" : "Options", key, text);
        store->readText("Job01", key, text);
        return text;
    }
    void trigger() { action("actionBackground")->trigger(); }
    QString nextRow(int row) const { return child<TListBox>("lbxNext")->item(row)->text(); }

    const std::string path = std::getenv("PATH");
    const std::string calls = dir / "calls";
    bool registry = false;
};

TEST_F(MainWindowBackgroundTest, OnWithAManagerOnlyThenUnitsFollowSavesAndTheTickLeavesThem) {
    storeAutomaticJobs();
    // Half a minute after both jobs' start time: both are due.
    setClock([] { return encodeDateTime({2027, 2, 10, 8, 0, 30}); });
    open();
    // No manager answers: the item stays off and offers cron for the job shown.
    writeFile(dir / "rc", "1");
    trigger();
    EXPECT_FALSE(action("actionBackground")->isChecked());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].text.find("' --ini '" + ini + "' --run 'Täglich' --unattended"),
              std::string::npos)
        << messages.shown[0].text;
    EXPECT_EQ(readFile(calls), "--user show --property=Version\n");
    EXPECT_TRUE(timers().empty());

    writeFile(dir / "rc", "0");
    trigger();
    EXPECT_TRUE(action("actionBackground")->isChecked());
    EXPECT_EQ(stored("Hintergrund"), "1");
    EXPECT_EQ(stored("Kennung").size(), 16u);
    EXPECT_EQ(timers().size(), 2u);
    EXPECT_NE(readFile(calls).find("--user daemon-reload\n--user enable --now qvbackup-"),
              std::string::npos);

    // The tick shows the runs but leaves them to the timers.
    window->tmrIntervallTimer();
    EXPECT_EQ(nextRow(0).toStdString(), kRowRunning);
    EXPECT_EQ(nextRow(1).toStdString(), kRowRunning);
    EXPECT_FALSE(memoHas("10.02.2027 08:00:30:  starte Backup-Job01 \"Täglich\""));
    EXPECT_FALSE(fs::exists(dir / "ziel1"));
    // What a timer's run stores shows a minute later without a save.
    ASSERT_EQ(runProgram({"--ini", ini, "--run", "Täglich", "--unattended"}, {}).exitCode, 0);
    setClock([] { return encodeDateTime({2027, 2, 10, 8, 1, 30}); });
    window->tmrIntervallTimer();
    EXPECT_EQ(child<QLabel>("lblLastBackupzeit")->text().toStdString(), stored("LetztesBackup"));

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
    EXPECT_EQ(stored("Hintergrund"), "0");
    setClock([] { return encodeDateTime({2027, 2, 11, 8, 0, 30}); });
    window->tmrIntervallTimer();
    EXPECT_TRUE(memoHas("11.02.2027 08:00:30:  starte Backup-Job01 \"Täglich\""));
}

TEST_F(MainWindowBackgroundTest, SaveKeepsWhatARunOfTheProgramStoredMeanwhile) {
    for (const bool inRegistry : {false, true}) {
        SCOPED_TRACE(inRegistry ? "registry" : "INI");
        registry = inRegistry;
        setProgramIniFile(registry ? "" : ini);
        storeAutomaticJobs();
        open();
        // The program started by a timer while the window is open.
        std::vector<std::string> args{"--run", "Täglich", "--unattended"};
        if (!registry) args.insert(args.begin(), {"--ini", ini});
        const ProgramResult run = runProgram(args, {});
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        // Read from its protocol: a look into the registry store from this
        // process would refresh what the window's store holds.
        const size_t at = run.out.find("letzte Sicherung: ");
        ASSERT_NE(at, std::string::npos) << run.out;
        const std::string ranAt = run.out.substr(at + 18, 19);

        window->actionSaveOptionsExecute();
        EXPECT_EQ(stored("LetztesBackup"), ranAt);
        EXPECT_EQ(stored("LetzterIntervallordner"), "täglich/d_" + ranAt.substr(0, 2) + "/");
        EXPECT_EQ(stored("LetztesZiel"), dir / "ziel1/");
        EXPECT_EQ(stored("LetzterFehlerfreierLauf"), ranAt);
        EXPECT_EQ(child<QLabel>("lblLastBackupzeit")->text().toStdString(), ranAt);

        // A later run of the window's own is not undone by the older stored one.
        setClock([] { return encodeDateTime({2030, 3, 4, 12, 0, 0}); });
        ASSERT_TRUE(window->runJob());
        window->actionSaveOptionsExecute();
        EXPECT_EQ(stored("LetztesBackup"), "04.03.2030 12:00:00");
        EXPECT_EQ(stored("LetzterIntervallordner"), "täglich/d_04/");
        window.reset();
        setClock({});
    }
}

}  // namespace
}  // namespace qvb::test
