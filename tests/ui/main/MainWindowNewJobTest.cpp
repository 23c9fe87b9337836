// The new-job command: the wizard on a fresh job while the window steps aside,
// and what the job list holds afterwards.

#include <QGuiApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>

#include "MainWindowFixture.h"
#include "engine/CopyFolder.h"
#include "ui/QV_SelectDir.h"
#include "ui/QV_Wizzard.h"

namespace qvb::test {
namespace {

class WizardSteps : public MainWindowTest {
  protected:
    // Runs the new-job command; `act` works on the wizard once it shows.
    void newJob(std::function<void(TfrmWizzard&)> act) {
        whenDialogOpens<TfrmWizzard>([this, act](TfrmWizzard& wizard) {
            EXPECT_FALSE(window->isVisible());
            act(wizard);
            if (wizard.isVisible()) wizard.done(-1);
        });
        action("actionNewJob")->trigger();
    }

    // A daily job of one source, through every step.
    void fillIn(TfrmWizzard& wizard) {
        auto next = [&wizard] { wizard.btnNextClick(); };
        wizard.findChild<QLineEdit*>("edtJobName")->setText("Briefe");
        next();
        window->options().LastSrcDir = source;
        whenDialogOpens<TfrmSelectDir>(
            [](TfrmSelectDir& dialog) { dialog.findChild<QPushButton*>("btnOK")->click(); });
        wizard.findChild<QPushButton*>("btnDirSource")->click();
        next();
        wizard.findChild<QLineEdit*>("edtDestDir")->setText(QString::fromStdString(target));
        next();
        wizard.findChild<QRadioButton*>("rbtIntervall2")->click();
        next();
        next();
    }

    const std::string source = dir / "briefe/";
    const std::string target = dir / "sicherung/";
};

class MainWindowNewJobTest : public WizardSteps {
  protected:
    void SetUp() override {
        WizardSteps::SetUp();
        storeJobs(2, 1);
        open();
        window->show();
        buildTree(source, {file("brief.txt", "Hallo")});
    }
};

using FirstStartTest = WizardSteps;

TEST_F(FirstStartTest, EmptySettingsOfferTheWizardAndItsJobIsStoredOnClose) {
    buildTree(source, {file("brief.txt", "Hallo")});
    messages.answers.push_back(TMsgResult::Yes);
    open();
    window->show();
    // After the window's offer, which is queued first.
    whenDialogOpens<TfrmWizzard>([this](TfrmWizzard& wizard) {
        fillIn(wizard);
        if (wizard.isVisible()) wizard.done(-1);
    });
    QTest::qWait(50);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown.front().text,
              "Es ist noch kein Backup-Job angelegt.\r\nJetzt mit dem Assistenten einen neuen Job "
              "anlegen?");
    ASSERT_EQ(window->jobs().count(), 1);
    EXPECT_TRUE(action("actionBackup")->isEnabled());
    EXPECT_TRUE(action("actionDeleteJob")->isEnabled());

    window->close();
    EXPECT_EQ(storedRecords(), (std::vector<std::string>{"Job01", "Options"}));
}

TEST_F(FirstStartTest, StoredJobsOrADeclinedOfferOpenNoWizard) {
    open();
    QTest::qWait(50);
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(window->jobs().count(), 0);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((window->geometry().center() - screen.center()).manhattanLength(), 2)
        << "a first start opens in the middle of the screen";
    window.reset();
    storeJobs(1);
    open();
    QTest::qWait(50);
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST_F(MainWindowNewJobTest, AFinishedJobIsAppendedShownAndRuns) {
    newJob([this](TfrmWizzard& wizard) {
        EXPECT_EQ(wizard.findChild<QLineEdit*>("edtJobName")->text(), "Job_3");
        fillIn(wizard);
    });
    ASSERT_EQ(window->jobs().count(), 3);
    TCopyJob& added = job(2);
    EXPECT_EQ(added.fJobName, "Briefe");
    EXPECT_EQ(added.fSources, std::vector<std::string>{source + "=1"});
    EXPECT_TRUE(added.fActive);
    EXPECT_EQ(window->currentJob(), &added);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(jobRows()->count(), 3);
    EXPECT_EQ(jobRows()->selectedRow(), 2);
    EXPECT_EQ(jobRows()->item(2)->text(), "Briefe");
    EXPECT_EQ(child<TListBox>("lbxNext")->count(), 3);
    EXPECT_EQ(child<QLineEdit>("edtZielVerzeichnis")->text().toStdString(), target);

    // Its events reach the window from the mirror too, and its messages the protocol.
    const TCopyIt& mirror = *added.fCopyFolder;
    EXPECT_TRUE(mirror.OnProgress && mirror.OnStatusChange && mirror.OnMessage);
    EXPECT_TRUE(window->runJob());
    EXPECT_TRUE(memoHas("vergleiche " + source + " mit " + target + added.fRunIntervalFolder +
                        source.substr(1)));
}

TEST_F(MainWindowNewJobTest, ACancelledJobLeavesTheListAsItWas) {
    TCopyJob* shown = window->currentJob();
    newJob([](TfrmWizzard& wizard) { wizard.findChild<QPushButton*>("btnPrev")->click(); });
    EXPECT_EQ(window->jobs().count(), 2);
    EXPECT_EQ(jobRows()->count(), 2);
    EXPECT_EQ(window->currentJob(), shown);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowNewJobTest, EachNewJobIsNumberedAfterTheList) {
    newJob([this](TfrmWizzard& wizard) { fillIn(wizard); });
    newJob([](TfrmWizzard& wizard) {
        EXPECT_EQ(wizard.findChild<QLineEdit*>("edtJobName")->text(), "Job_4");
        wizard.findChild<QPushButton*>("btnPrev")->click();
    });
    EXPECT_EQ(window->jobs().count(), 3);
}

TEST_F(MainWindowNewJobTest, TheProposedNameIsFreeAndATakenOneIsRefused) {
    job(1).fJobName = "Job_3";
    newJob([this](TfrmWizzard& wizard) {
        auto* name = wizard.findChild<QLineEdit*>("edtJobName");
        EXPECT_EQ(name->text(), "Job_4");
        name->selectAll();
        QTest::keyClicks(name, "Job 1");
        QTest::mouseClick(wizard.findChild<QPushButton*>("btnNext"), Qt::LeftButton);
        EXPECT_EQ(wizard.step(), 1);
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].text,
                  "Es gibt schon einen Backup-Job \"Job 1\".\r\nBitte geben Sie eine andere "
                  "Bezeichnung ein.");
        QTest::keyClicks(name, " neu");
        QTest::mouseClick(wizard.findChild<QPushButton*>("btnNext"), Qt::LeftButton);
        EXPECT_EQ(wizard.step(), 2);
    });
}

// A job made since the last save is exported; settings without jobs (a new
// computer) import every job of the file; a missing file changes nothing.
TEST_F(WizardSteps, ANewComputerImportsEveryExportedJob) {
    storeJobs(2, 1);
    open();
    window->show();
    buildTree(source, {file("brief.txt", "Hallo")});
    newJob([this](TfrmWizzard& wizard) { fillIn(wizard); });
    action("actionExport")->trigger();
    std::vector<std::string> exported = TIniFile(exportFileName()).readSections();
    std::sort(exported.begin(), exported.end());
    EXPECT_EQ(exported, (std::vector<std::string>{"Job01", "Job02", "Job03", "Options"}));

    window.reset();
    writeFile(ini, "");
    messages.shown.clear();
    open();
    action("actionImport")->trigger();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Es wurden 3 Backup-Jobs importiert, davon 3 neu.");
    ASSERT_EQ(window->jobs().count(), 3);
    EXPECT_EQ(jobRows()->item(2)->text(), "Briefe");
    EXPECT_EQ(job(2).fSources, std::vector<std::string>{source + "=1"});
    EXPECT_EQ(window->currentJob(), &job(0));
    EXPECT_EQ(child<TListBox>("lbxNext")->count(), 3);
    EXPECT_TRUE(action("actionBackup")->isEnabled());

    ::unlink(exportFileName().c_str());
    action("actionImport")->trigger();
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].text, "Die Exportdatei \"" + exportFileName() +
                                          "\" ist nicht vorhanden.\r\nEs wurde nichts importiert.");
    EXPECT_EQ(window->jobs().count(), 3);
    window->close();
    EXPECT_EQ(storedRecords(), (std::vector<std::string>{"Job01", "Job02", "Job03", "Options"}));
}

}  // namespace
}  // namespace qvb::test
