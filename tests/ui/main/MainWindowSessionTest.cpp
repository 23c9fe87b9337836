// The window around its runs: edits made while a job runs, the protocol's
// Ctrl+A, closing while the scheduler has two jobs due, the wizard left
// while a scheduled run goes on, and the end of the desktop session.

#include <signal.h>

#include <QLineEdit>
#include <QPlainTextEdit>

#include "MainWindowFixture.h"
#include "jobs/Schedule.h"
#include "util/DateTime.h"

namespace qvb::test {
namespace {

class MainWindowSessionTest : public MainWindowTest {
  protected:
    void TearDown() override {
        MainWindowTest::TearDown();
        setClock({});
    }
    // A job "name" with its own source of `files` files.
    JobSetup withSource(const std::string& name, int files) {
        std::vector<TNode> nodes;
        for (int i = 0; i < files; ++i)
            nodes.push_back(file(name + std::to_string(i) + ".txt", "x"));
        const std::string source = dir / (name + "/");
        buildTree(source, nodes);
        return [source, name](TCopyJob& j) {
            j.fJobName = name;
            j.fSources.push_back(source + "=1");
        };
    }
    // Daily at 08:00, the test's clock in its due minute.
    static void dueNow(TCopyJob& j) {
        j.fActive = true;
        j.setSchedule(kIntervalDaily, encodeTime(8, 0, 0));
    }
    void atDueMinute() {
        setClock([] { return encodeDateTime({2027, 2, 10, 8, 0, 30}); });
    }
    int runHeaders() const {
        int count = 0;
        for (const std::string& line : memoLines())
            count += line.find(":  starte Backup-") != std::string::npos;
        return count;
    }
};

TEST_F(MainWindowSessionTest, EditsDuringARunApplyToTheNextRun) {
    const JobSetup first = withSource("eins", 3);
    const JobSetup second = withSource("zwei", 3);
    storeJobs({[&](TCopyJob& j) {
        first(j);
        second(j);
        j.fContentOnly = true;
    }});
    open();
    const std::string started = job(0).fDestination;
    const std::string typed = dir / "neu/";
    auto* destination = child<QLineEdit>("edtZielVerzeichnis");
    bool edited = false;
    messages.onEvents = [&] {
        if (edited || !window->busy()) return;
        edited = true;
        destination->selectAll();
        QTest::keyClicks(destination, QString::fromStdString(typed));
        QTest::keyClick(destination, Qt::Key_Tab);
    };
    action("actionBackup")->trigger();
    ASSERT_TRUE(edited);
    messages.onEvents = {};
    // Both sources went where the run started to write.
    EXPECT_EQ(readTree(started).size(), 6u);
    EXPECT_FALSE(exists(typed));
    EXPECT_EQ(job(0).fDestination, typed);
    EXPECT_EQ(destination->text().toStdString(), typed);

    action("actionBackup")->trigger();
    EXPECT_EQ(readTree(typed).size(), 6u);
}

TEST_F(MainWindowSessionTest, CtrlAInTheProtocolSelectsItsTextIdleOrRunning) {
    storeJobs({withSource("Fotos", 20)});
    open();
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto* memo = child<QPlainTextEdit>("MemoLog");
    bool pressed = false;
    messages.onEvents = [&] {
        if (pressed) return;
        pressed = true;
        memo->setFocus();
        QTest::keyClick(memo, Qt::Key_A, Qt::ControlModifier);
    };
    action("actionBackup")->trigger();
    ASSERT_TRUE(pressed);
    EXPECT_FALSE(memoHas("  ->  Vorgang abgebrochen!"));
    EXPECT_GT(job(0).fLastBackup, 0.0);

    messages.onEvents = {};
    memo->setFocus();
    QTest::keyClick(memo, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(runHeaders(), 1);
    EXPECT_EQ(memo->textCursor().selectedText().size(), memo->toPlainText().size());
}

// The user closes during the first of two due jobs: the window stays up
// while it runs, the second never starts, and the first one's end is saved.
TEST_F(MainWindowSessionTest, ClosingWhileTwoScheduledJobsAreDue) {
    atDueMinute();
    const JobSetup first = withSource("eins", 20);
    const JobSetup second = withSource("zwei", 2);
    storeJobs({[&](TCopyJob& j) {
                   first(j);
                   dueNow(j);
               },
               [&](TCopyJob& j) {
                   second(j);
                   dueNow(j);
               }});
    open();
    window->show();
    std::vector<bool> visibleAfterClose;
    bool closed = false;
    messages.onEvents = [&] {
        if (!window->busy()) return;
        if (closed) visibleAfterClose.push_back(window->isVisible());
        if (!closed) {
            closed = true;
            window->close();
        }
    };
    window->tmrIntervallTimer();
    ASSERT_TRUE(closed);
    EXPECT_EQ(runHeaders(), 1);
    EXPECT_EQ(job(1).fLastBackup, 0.0);
    ASSERT_FALSE(visibleAfterClose.empty());
    EXPECT_EQ(std::count(visibleAfterClose.begin(), visibleAfterClose.end(), false), 0);
    EXPECT_FALSE(window->isVisible());
    const auto stored = TIniFile(ini).readDateTime("Job01", "LetztesBackup", 0);
    EXPECT_EQ(formatGermanDateTime(stored), "10.02.2027 08:00:30");
}

// A scheduled run starts while the wizard is open; leaving the wizard brings
// the window back at once, while the run still goes on.
TEST_F(MainWindowSessionTest, TheWindowComesBackWhenTheWizardEndsDuringAScheduledRun) {
    atDueMinute();
    const JobSetup setup = withSource("eins", 20);
    storeJobs({[&](TCopyJob& j) {
        setup(j);
        dueNow(j);
    }});
    open();
    window->show();
    std::vector<bool> visibleDuringRun;
    bool left = false;
    whenDialogOpens<QDialog>([&](QDialog& wizard) {
        messages.onEvents = [&] {
            if (!window->busy()) return;
            if (left) visibleDuringRun.push_back(window->isVisible());
            if (left) return;
            left = true;
            for (QPushButton* button : wizard.findChildren<QPushButton*>())
                if (button->text() == "Abbrechen" && button->isVisible()) button->click();
        };
        window->tmrIntervallTimer();
    });
    child<QPushButton>("btnNewJob")->click();
    messages.onEvents = {};
    ASSERT_TRUE(left);
    ASSERT_FALSE(visibleDuringRun.empty());
    EXPECT_EQ(std::count(visibleDuringRun.begin(), visibleDuringRun.end(), false), 0);
    EXPECT_EQ(window->jobs().count(), 1);
}

// SIGTERM (a logout) and SIGHUP during a run: the run is cancelled, not
// waited for, and the window saves what was edited and closes.
TEST_F(MainWindowSessionTest, SessionEndCancelsTheRunThenSavesAndCloses) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        storeJobs({withSource("Fotos", 40)});
        open();
        window->show();
        QTest::keyClicks(child<QLineEdit>("edt_skipFolder"), "Temp");
        bool sent = false;
        messages.onEvents = [&] {
            if (sent || !window->busy()) return;
            sent = true;
            ::raise(signal);
            QCoreApplication::processEvents();
        };
        action("actionBackup")->trigger();
        messages.onEvents = {};
        ASSERT_TRUE(sent) << signal;
        EXPECT_TRUE(memoHas("  ->  Vorgang abgebrochen!")) << signal;
        EXPECT_EQ(job(0).fLastBackup, 0.0) << signal;
        EXPECT_FALSE(window->isVisible()) << signal;
        EXPECT_EQ(TIniFile(ini).readString("Job01", "Verzeichnis überspringen", ""), "temp")
            << signal;
        window.reset();
    }
}

}  // namespace
}  // namespace qvb::test
