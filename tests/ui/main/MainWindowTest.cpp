// The main window on stored jobs: start-up, showing and editing a job, and the
// job and settings commands with what each leaves in storage.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimeEdit>

#include "MainWindowFixture.h"
#include "engine/CopyFolder.h"
#include "ui/QV_Rename.h"
#include "ui/QV_SelectDir.h"

namespace qvb::test {
namespace {

TEST_F(MainWindowTest, StartShowsTheStoredCurrentJob) {
    storeJobs(3, 2);
    open();
    ASSERT_TRUE(window->started());
    EXPECT_EQ(window->currentJob(), &job(1));
    EXPECT_EQ(jobRows()->selectedRow(), 1);
    EXPECT_EQ(child<QLineEdit>("edtZielVerzeichnis")->text().toStdString(), dir / "ziel2/");
    EXPECT_EQ(child<TListBox>("lbxNext")->count(), 3);
    EXPECT_EQ(window->windowTitle(), "QV_Backup");
}

TEST_F(MainWindowTest, WithoutAnyJobOnlyTheCommandsThatNeedNoJobAreOffered) {
    open();
    ASSERT_TRUE(window->started());
    EXPECT_EQ(window->currentJob(), nullptr);
    for (const char* name : {"actionBackup", "mnuJobStart", "actionPreview", "actionDeleteJob",
                             "actionRenameJob", "actionDeleteSourceDir"})
        EXPECT_FALSE(action(name)->isEnabled()) << name;
    for (const char* name : {"actionNewJob", "actionImport", "actionShowInfo", "actionSelfTest"})
        EXPECT_TRUE(action(name)->isEnabled()) << name;
}

TEST_F(MainWindowTest, StoredCurrentJobEqualToTheCountShowsTheLastJob) {
    storeJobs(3, 3);
    open();
    EXPECT_EQ(window->currentJob(), &job(2));
    EXPECT_EQ(jobRows()->selectedRow(), 2);
    EXPECT_EQ(child<QLineEdit>("edtZielVerzeichnis")->text().toStdString(), dir / "ziel3/");
}

TEST_F(MainWindowTest, ShowingAJobLeavesItUnchanged) {
    storeJobs({[](TCopyJob& j) {
        j.setInterval(kIntervalDaily);
        j.fActive = false;
        j.fSkipFolders = "Test;/_";
    }});
    open();
    EXPECT_TRUE(child<QRadioButton>("rbtIntervall2")->isChecked());
    EXPECT_FALSE(job(0).fActive);
    EXPECT_EQ(job(0).fSkipFolders, "Test;/_");
    EXPECT_FALSE(child<QGroupBox>("gbxStart")->isHidden());
    EXPECT_TRUE(child<QComboBox>("cbxWochentag")->isHidden());
    EXPECT_EQ(child<QLabel>("lblStartStunde")->text(), "um");
}

TEST_F(MainWindowTest, EveryEditLandsInTheJob) {
    storeJobs(1);
    open();
    TCopyJob& shown = job(0);

    auto* destination = child<QLineEdit>("edtZielVerzeichnis");
    destination->clear();
    QTest::keyClicks(destination, "/media/usb");
    EXPECT_EQ(destination->text(), "/media/usb");
    EXPECT_EQ(shown.fDestination, "/media/usb/");
    QTest::keyClick(destination, Qt::Key_Return);
    EXPECT_EQ(destination->text(), "/media/usb/");

    QTest::keyClicks(child<QLineEdit>("edtExclude"), "*.BAK");
    EXPECT_EQ(shown.fExclude, "*.bak");
    auto* include = child<QLineEdit>("EdtInclude");
    QTest::keyClicks(include, "*.Doc");
    EXPECT_EQ(shown.fIncludeOnly, "*.doc");
    EXPECT_FALSE(child<QLineEdit>("edtExclude")->isEnabled());
    EXPECT_EQ(child<QLineEdit>("edtExclude")->text(), "*.BAK");
    EXPECT_EQ(shown.fExclude, "*.bak");
    include->selectAll();
    QTest::keyClick(include, Qt::Key_Backspace);
    EXPECT_TRUE(child<QLineEdit>("edtExclude")->isEnabled());
    QTest::keyClicks(child<QLineEdit>("edt_skipFolder"), "Temp;/_");
    EXPECT_EQ(shown.fSkipFolders, "temp;/_");

    child<QCheckBox>("cbxLoeschen")->click();
    EXPECT_TRUE(shown.fDelete);
    EXPECT_TRUE(shown.fCopyFolder->fDelete);
    child<QCheckBox>("cbxContentOnly")->click();
    EXPECT_TRUE(shown.fContentOnly);
    child<QCheckBox>("cbxSaveSpace")->click();
    EXPECT_TRUE(shown.fSaveSpace);

    child<QRadioButton>("rbtIntervall1")->click();
    EXPECT_EQ(shown.fInterval, 1);
    EXPECT_TRUE(shown.fActive);
    EXPECT_FALSE(child<QComboBox>("cbxWochentag")->isHidden());
    auto* weekday = child<QComboBox>("cbxWochentag");
    weekday->setCurrentIndex(2);
    emit weekday->activated(2);
    EXPECT_EQ(shown.fWeekday, 3);

    child<QRadioButton>("rbtIntervall3")->click();
    EXPECT_EQ(child<QLabel>("lblStartStunde")->text(), "von");
    EXPECT_FALSE(child<QTimeEdit>("dtpEndZeit")->isHidden());
    auto* start = child<QTimeEdit>("dtpStartZeit");
    start->setTime(QTime(7, 15, 0));
    emit start->editingFinished();
    EXPECT_EQ(timeOf(shown.fStartTime), encodeTime(7, 15, 0));
    auto* end = child<QTimeEdit>("dtpEndZeit");
    end->setTime(QTime(17, 45, 0));
    emit end->editingFinished();
    EXPECT_EQ(timeOf(shown.fEndTime), encodeTime(17, 45, 0));

    child<QRadioButton>("rbtIntervall0")->click();
    EXPECT_FALSE(shown.fActive);
    EXPECT_TRUE(child<QGroupBox>("gbxStart")->isHidden());
}

TEST_F(MainWindowTest, AChosenSourceIsAddedOnceWithItsDelimiter) {
    storeJobs(1);
    open();
    const std::string source = dir / "quelle";
    for (int i = 0; i < 2; ++i) {
        whenDialogOpens<TfrmSelectDir>([&](TfrmSelectDir& d) {
            d.selectedDir = source;
            d.done(QDialog::Accepted);
        });
        child<QPushButton>("btnDirSource")->click();
    }
    EXPECT_EQ(job(0).fSources, std::vector<std::string>{source + "/=1"});
    EXPECT_EQ(sourceRows()->count(), 1);
    EXPECT_EQ(window->options().LastSrcDir, source + "/");
}

TEST_F(MainWindowTest, DeleteKeyOnASourceRewritesTheStoredSources) {
    storeJobs({[](TCopyJob& j) { j.fSources = {"/srv/b/=1", "/srv/a/=0", "/srv/c/=1"}; }});
    open();
    ASSERT_EQ(sourceRows()->item(0)->text(), "/srv/a/");
    sourceRows()->selectRow(0);
    QTest::keyClick(sourceRows(), Qt::Key_Delete);

    const std::vector<std::string> remaining{"/srv/b/=1", "/srv/c/=1"};
    EXPECT_EQ(job(0).fSources, remaining);
    TIniFile stored(ini);
    EXPECT_EQ(stored.readInteger("Job01", "AnzahlQuellen", 0), 2);
    EXPECT_EQ(stored.readString("Job01", "Quelle0", ""), "/srv/b/=1");
    EXPECT_EQ(stored.readString("Job01", "Quelle1", ""), "/srv/c/=1");
    EXPECT_FALSE(stored.valueExists("Job01", "Quelle2"));
    // Nothing else of the record was written.
    EXPECT_EQ(stored.readString("Job01", "Name", ""), "Job 1");
}

TEST_F(MainWindowTest, DeleteActionOnTheMiddleJobSelectsTheNextAndRenumbers) {
    storeJobs(3, 2);
    open();
    messages.answers = {TMsgResult::Yes};
    action("actionDeleteJob")->trigger();
    EXPECT_EQ(window->jobs().count(), 2);
    EXPECT_EQ(jobRows()->selectedRow(), 1);
    EXPECT_EQ(window->currentJob()->fJobName, "Job 3");
    EXPECT_EQ(storedRecords(), (std::vector<std::string>{"Job01", "Job02", "Options"}));
    EXPECT_EQ(TIniFile(ini).readString("Job02", "Name", ""), "Job 3");
}

TEST_F(MainWindowTest, DeleteKeyOnTheMiddleJobSelectsTheFirstAndErasesOnlyItsRecord) {
    storeJobs(3, 2);
    open();
    messages.answers = {TMsgResult::Yes};
    QTest::keyClick(jobRows(), Qt::Key_Delete);
    EXPECT_EQ(window->jobs().count(), 2);
    EXPECT_EQ(jobRows()->selectedRow(), 0);
    EXPECT_EQ(window->currentJob()->fJobName, "Job 1");
    EXPECT_EQ(storedRecords(), (std::vector<std::string>{"Job01", "Job03", "Options"}));
}

TEST_F(MainWindowTest, TheLastJobCannotBeDeleted) {
    storeJobs(1);
    open();
    action("actionDeleteJob")->trigger();
    QTest::keyClick(jobRows(), Qt::Key_Delete);
    ASSERT_EQ(messages.shown.size(), 2u);
    for (const auto& shown : messages.shown)
        EXPECT_EQ(shown.text,
                  "Der aktuelle Backupjob ist der einzige und \rkann daher nicht gelöscht werden.");
    EXPECT_EQ(window->jobs().count(), 1);
    EXPECT_EQ(storedRecords(), (std::vector<std::string>{"Job01", "Options"}));
}

TEST_F(MainWindowTest, RenameSetsTheNameAndAnEmptyNameKeepsIt) {
    storeJobs(2, 2);
    open();
    whenDialogOpens<TfrmRename>([](TfrmRename& d) {
        d.findChild<QLineEdit*>("edtName")->setText("Urlaub");
        d.accept();
    });
    action("actionRenameJob")->trigger();
    EXPECT_EQ(job(1).fJobName, "Urlaub");
    EXPECT_EQ(jobRows()->item(1)->text(), "Urlaub");

    whenDialogOpens<TfrmRename>([](TfrmRename& d) {
        d.findChild<QLineEdit*>("edtName")->clear();
        d.accept();
    });
    action("actionRenameJob")->trigger();
    EXPECT_EQ(job(1).fJobName, "Urlaub");
    EXPECT_EQ(jobRows()->item(1)->text(), "Urlaub");
}

TEST_F(MainWindowTest, ExportThenImportMakesTheFirstJobCurrent) {
    storeJobs(3, 3);
    open();
    action("actionExport")->trigger();
    job(0).fDestination = "/anders/";
    action("actionImport")->trigger();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Es wurden 3 Backup-Jobs importiert.");
    EXPECT_EQ(window->currentJob(), &job(0));
    EXPECT_EQ(window->jobs().fCurrentJob, 0);
    EXPECT_EQ(jobRows()->selectedRow(), 0);
    EXPECT_EQ(jobRows()->item(0)->text(), "Job 1");
    EXPECT_EQ(child<QLineEdit>("edtZielVerzeichnis")->text().toStdString(), dir / "ziel1/");
}

TEST_F(MainWindowTest, SaveWritesJobsSelectionAndGeometry) {
    storeJobs(2, 1);
    open();
    jobRows()->selectRow(1);
    emit jobRows()->mouseUp();
    job(1).fJobName = "Neu";
    action("actionSaveOptions")->trigger();
    TIniFile stored(ini);
    EXPECT_EQ(stored.readString("Job02", "Name", ""), "Neu");
    EXPECT_EQ(stored.readInteger("Options", "CurrentJob", 0), 2);
    EXPECT_EQ(stored.readInteger("Options", "WinMainWidth", 0), window->width());
}

TEST_F(MainWindowTest, ChoosingARowTakesItsCheckMarkAsTheActiveFlag) {
    storeJobs({[](TCopyJob& j) { j.fActive = true; }, [](TCopyJob& j) { j.fActive = true; }});
    open();
    jobRows()->item(0)->setCheckState(Qt::Unchecked);
    jobRows()->selectRow(1);
    emit jobRows()->keyUp(Qt::Key_Down);
    EXPECT_FALSE(job(0).fActive);
    EXPECT_EQ(window->currentJob(), &job(1));
    EXPECT_EQ(child<QLineEdit>("edtZielVerzeichnis")->text().toStdString(), dir / "ziel2/");
}

TEST_F(MainWindowTest, ARefusedSaveShowsItsReasonAndCloseAsks) {
    storeJobs(1);
    const std::string before = readFile(ini);
    open();
    job(0).fJobName = "zwei\nZeilen";
    action("actionSaveOptions")->trigger();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].text.find("kann nicht gespeichert werden"), std::string::npos);
    EXPECT_EQ(readFile(ini), before);

    messages.answers = {TMsgResult::No};
    EXPECT_FALSE(window->close());
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_NE(messages.shown[1].text.find("Ohne Speichern beenden?"), std::string::npos);
    messages.answers = {TMsgResult::Yes};
    EXPECT_TRUE(window->close());
    EXPECT_EQ(readFile(ini), before);
}

// A folder no one can create files in, root included.
constexpr const char* kUnwritableFolder = "/proc/";

TEST_F(MainWindowTest, NothingIsSavedWhenTheDataFolderIsReadOnly) {
    setProgramIniFile("");
    setDataFolder(kUnwritableFolder);
    storeJobs(2, 1);  // into the user's settings store
    const std::string before = readFile(sandbox.registryFile());
    open();
    ASSERT_FALSE(window->exeDirWritable());
    job(0).fJobName = "geändert";
    action("actionSaveOptions")->trigger();
    window->close();
    EXPECT_EQ(readFile(sandbox.registryFile()), before);
    EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
}  // namespace qvb::test
