// Runs from the main window: the protocol in the memo, the bars and labels,
// cancel, Ctrl+A in both roles, the self-test, and a job chosen meanwhile.

#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <regex>

#include "MainWindowFixture.h"
#include "util/DateTime.h"

namespace qvb::test {
namespace {

class MainWindowRunTest : public MainWindowTest {
  protected:
    // A job backing up `files` small files of its own source.
    JobSetup withSource(const std::string& name, int files) {
        std::vector<TNode> nodes;
        for (int i = 0; i < files; ++i)
            nodes.push_back(file("f" + std::to_string(i) + ".txt", "x"));
        const std::string source = dir / (name + "/");
        buildTree(source, nodes);
        return [source, name](TCopyJob& j) {
            j.fJobName = name;
            j.fSources = {source + "=1"};
            j.fLastBackup = encodeDateTime({2020, 1, 2, 3, 4, 5});
        };
    }
    bool memoMatches(const std::string& pattern) const {
        const std::regex re(pattern);
        for (const std::string& line : memoLines())
            if (std::regex_match(line, re)) return true;
        return false;
    }
    void showAndActivate() {
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        jobRows()->setFocus();
    }
    void pressCtrlA() { QTest::keyClick(jobRows(), Qt::Key_A, Qt::ControlModifier); }

    const TDateTime kOldBackup = encodeDateTime({2020, 1, 2, 3, 4, 5});
};

TEST_F(MainWindowRunTest, ARunShowsHeaderLinesAndFullBars) {
    storeJobs({withSource("Fotos", 3)});
    open();
    child<QPushButton>("Button1")->click();

    EXPECT_TRUE(memoMatches(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d:  starte Backup-Job01 "Fotos")"));
    EXPECT_TRUE(memoHas(std::string(85, '-')));
    EXPECT_TRUE(memoMatches(R"(letzte Sicherung: \d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)"));
    // Every protocol line reached the memo, in order.
    const auto& lines = window->protocol().lines();
    EXPECT_EQ(memoLines(), std::vector<std::string>(lines.begin(), lines.end()));
    EXPECT_EQ(child<QProgressBar>("ProgBarGesamt")->value(), 100);
    EXPECT_EQ(child<QProgressBar>("ProgBarDatei")->value(), 100);
    EXPECT_EQ(child<QLabel>("lblFileCountSource")->text(), "3 Dateien in 1 Verzeichnis");
    EXPECT_EQ(child<QLabel>("lblKopieren")->text().toStdString(), job(0).fStatusText);
    EXPECT_FALSE(child<QWidget>("MemoLog")->isHidden());
    EXPECT_EQ(action("actionShowLog")->text(), "Einstell.");
    EXPECT_NE(job(0).fLastBackup, kOldBackup);
    EXPECT_TRUE(action("actionBackup")->isEnabled());
    EXPECT_FALSE(action("actionCancelJob")->isEnabled());

    action("actionShowLog")->trigger();
    EXPECT_TRUE(child<QWidget>("MemoLog")->isHidden());
    EXPECT_EQ(action("actionShowLog")->text(), "&Protokoll");
}

TEST_F(MainWindowRunTest, ActionsAreLockedDuringARun) {
    storeJobs({withSource("Fotos", 3)});
    open();
    std::vector<bool> states;
    messages.onEvents = [&] {
        for (const char* name : {"actionBackup", "mnuJobStart", "actionNewJob", "actionDeleteJob",
                                 "actionRenameJob", "actionSelfTest"})
            states.push_back(action(name)->isEnabled());
        states.push_back(!action("actionCancelJob")->isEnabled());
    };
    action("actionBackup")->trigger();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(std::count(states.begin(), states.end(), true), 0);
}

TEST_F(MainWindowRunTest, CancelInTheMiddleKeepsTheLastBackup) {
    storeJobs({withSource("Fotos", 40)});
    open();
    messages.onEvents = [&] {
        if (action("actionCancelJob")->isEnabled()) action("actionCancelJob")->trigger();
    };
    action("actionBackup")->trigger();
    EXPECT_TRUE(memoHas("  ->  Vorgang abgebrochen!"));
    EXPECT_EQ(job(0).fLastBackup, kOldBackup);
    EXPECT_EQ(job(0).fStatus, csCancelled);
}

TEST_F(MainWindowRunTest, PreviewFromButtonOrMenuListsTheRunAndWritesNothing) {
    storeJobs({withSource("Fotos", 3)});
    open();
    const std::string dest = job(0).fDestination;
    const auto before = readTree(dir.path(), true);
    child<QPushButton>("btnPreview")->click();

    EXPECT_TRUE(memoMatches(
        R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d:  Vorschau \(es wird nichts geschrieben\) von Backup-Job01 "Fotos")"));
    EXPECT_TRUE(memoMatches("  erstelle " + dest + ".*/Fotos/f0\\.txt"));
    EXPECT_TRUE(memoHas("Vorschau: Backup-Job01 \"Fotos\" wurde erfolgreich ausgeführt."));
    EXPECT_FALSE(memoMatches("letzte Sicherung: .*"));
    EXPECT_EQ(readTree(dir.path(), true), before);
    EXPECT_EQ(job(0).fLastBackup, kOldBackup);
    EXPECT_TRUE(action("actionPreview")->isEnabled());

    const QList<QAction*> jobsMenu = child<QMenu>("mnuJobs")->actions();
    ASSERT_TRUE(jobsMenu.contains(action("actionPreview")));
    EXPECT_EQ(action("actionPreview")->text(), "Vorschau");
    std::vector<bool> locked;
    messages.onEvents = [&] {
        locked.push_back(!action("actionPreview")->isEnabled() &&
                         !child<QPushButton>("btnPreview")->isEnabled());
        if (action("actionCancelJob")->isEnabled()) action("actionCancelJob")->trigger();
    };
    action("actionPreview")->trigger();
    ASSERT_FALSE(locked.empty());
    EXPECT_EQ(std::count(locked.begin(), locked.end(), false), 0);
    EXPECT_TRUE(memoHas("  ->  Vorgang abgebrochen!"));
    EXPECT_EQ(job(0).fStatus, csCancelled);
    EXPECT_EQ(readTree(dir.path(), true), before);
}

TEST_F(MainWindowRunTest, CtrlAStartsWhenIdleAndCancelsDuringARun) {
    storeJobs({withSource("Fotos", 40)});
    open();
    showAndActivate();
    int cancels = 0;
    messages.onEvents = [&] {
        if (cancels++ == 0) pressCtrlA();
    };
    pressCtrlA();
    EXPECT_TRUE(memoMatches(R"(.*:  starte Backup-Job01 "Fotos")"));
    EXPECT_TRUE(memoHas("  ->  Vorgang abgebrochen!"));
    EXPECT_EQ(job(0).fLastBackup, kOldBackup);

    // Idle again: Ctrl+A starts the next run, which now finishes.
    messages.onEvents = {};
    pressCtrlA();
    EXPECT_NE(job(0).fLastBackup, kOldBackup);
}

TEST_F(MainWindowRunTest, AJobChosenDuringARunDoesNotTakeTheRunOver) {
    storeJobs({withSource("Fotos", 20), withSource("Musik", 2)});
    open();
    bool chosen = false;
    messages.onEvents = [&] {
        if (chosen) return;
        chosen = true;
        jobRows()->selectRow(1);
        emit jobRows()->mouseUp();
    };
    action("actionBackup")->trigger();
    ASSERT_TRUE(chosen);
    EXPECT_EQ(window->currentJob(), &job(1));
    EXPECT_NE(job(0).fLastBackup, kOldBackup);
    EXPECT_EQ(job(1).fLastBackup, kOldBackup);
    EXPECT_EQ(job(1).fStatus, csIdle);
    EXPECT_EQ(child<QLabel>("lblFileCountSource")->text(), "20 Dateien in 1 Verzeichnis");
    EXPECT_EQ(child<QLabel>("lblLastBackupzeit")->text().toStdString(),
              formatGermanDateTime(kOldBackup));
}

TEST_F(MainWindowRunTest, SelfTestPassesAndHoldsTheWindowBusy) {
    storeJobs({withSource("Fotos", 1), withSource("Musik", 1)});
    open();
    std::vector<bool> idleStates;
    bool chose = false;
    TMsgResult otherAnswer = TMsgResult::Yes;
    messages.onEvents = [&] {
        idleStates.push_back(action("actionBackup")->isEnabled() ||
                             action("actionDeleteJob")->isEnabled() ||
                             child<QWidget>("pnlCenter")->isEnabled());
        if (chose) return;
        chose = true;
        jobRows()->selectRow(1);
        emit jobRows()->mouseUp();
        // A question of the window is the user's to answer, not the test's.
        otherAnswer = userInterface().showMessage(TMsgKind::Confirmation, "Ohne Speichern beenden?",
                                                  mbYes | mbNo, TMsgResult::No);
    };
    action("actionSelfTest")->trigger();
    EXPECT_TRUE(memoHas("Der Selbsttest wurde erfolgreich durchgeführt."));
    EXPECT_EQ(std::count(idleStates.begin(), idleStates.end(), true), 0);
    // The click during the test changed nothing; the job shown before is back.
    EXPECT_EQ(window->currentJob(), &job(0));
    EXPECT_EQ(job(1).fLastBackup, kOldBackup);
    EXPECT_EQ(job(0).fLastBackup, kOldBackup);
    EXPECT_TRUE(action("actionBackup")->isEnabled());
    EXPECT_EQ(otherAnswer, TMsgResult::No);
}

TEST_F(MainWindowRunTest, ClosingDuringARunSavesAndEndsAfterIt) {
    storeJobs({withSource("Fotos", 20)});
    open();
    window->show();
    bool closed = false;
    messages.onEvents = [&] {
        if (closed) return;
        closed = true;
        window->close();
        EXPECT_TRUE(window->isVisible()) << "the run stays in sight";
    };
    action("actionBackup")->trigger();
    ASSERT_TRUE(closed);
    // The run's own end reached the settings after the close.
    const auto stored = TIniFile(ini).readDateTime("Job01", "LetztesBackup", 0);
    EXPECT_EQ(formatGermanDateTime(stored), formatGermanDateTime(job(0).fLastBackup));
    EXPECT_NE(job(0).fLastBackup, kOldBackup);
}

}  // namespace
}  // namespace qvb::test
