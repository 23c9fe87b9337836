// The job list and the job's fields by keyboard and mouse: rows tied to their
// jobs, the question before a deletion, a deletion the store refuses, one
// source per Entf, names that another job has already, the destination field
// and times that count as typed.

#include <QKeyEvent>
#include <QLineEdit>
#include <QTimeEdit>

#include "MainWindowFixture.h"
#include "ui/QV_Rename.h"
#include "util/HomeFolder.h"
#include "util/Sys.h"

namespace qvb::test {
namespace {

class JobListTest : public MainWindowTest {
  protected:
    TfrmMain& openShown() {
        open();
        window->show();
        QApplication::setActiveWindow(window.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        return *window;
    }
    void clickRow(TListBox* list, int row) {
        const QRect rect = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }
    std::vector<std::string> rowTexts() const {
        std::vector<std::string> texts;
        for (int i = 0; i < jobRows()->count(); ++i)
            texts.push_back(jobRows()->item(i)->text().toStdString());
        return texts;
    }
    static std::string question(const std::string& name) {
        return "Soll der Backup-Job \"" + name + "\" wirklich gelöscht werden?";
    }
};

TEST_F(JobListTest, TwoJobsOfOneNameKeepTheirOwnRowsAndMarks) {
    storeJobs({[](TCopyJob& j) {
                   j.fJobName = "Fotos";
                   j.fActive = true;
               },
               [](TCopyJob& j) {
                   j.fJobName = "Fotos";
                   j.setInterval(kIntervalDaily);
                   j.fActive = false;
               },
               [](TCopyJob& j) { j.fJobName = "Andere"; }},
              2);
    openShown();
    EXPECT_EQ(jobRows()->selectedRow(), 1);
    EXPECT_EQ(jobRows()->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(jobRows()->item(1)->checkState(), Qt::Unchecked);
    clickRow(jobRows(), 0);
    clickRow(jobRows(), 1);
    clickRow(jobRows(), 0);
    EXPECT_EQ(window->currentJob(), &job(0));
    EXPECT_TRUE(job(0).fActive);
    EXPECT_FALSE(job(1).fActive);

    clickRow(jobRows(), 1);
    messages.answers = {TMsgResult::Yes};
    QTest::keyClick(jobRows(), Qt::Key_Delete);
    ASSERT_EQ(window->jobs().count(), 2);
    EXPECT_TRUE(job(0).fActive) << "the job of the row went, not the first of its name";
    EXPECT_EQ(rowTexts(), (std::vector<std::string>{"Fotos", "Andere"}));
}

// The button (and its Strg+L) and Entf in the list ask first, naming the job;
// only "Ja" deletes, and a box closed with Enter answers "Nein".
TEST_F(JobListTest, DeletionAsksFirst) {
    const struct {
        const char* how;
        std::deque<TMsgResult> answers;
        bool deleted;
    } cases[] = {
        {"Löschen", {}, false},
        {"Löschen", {TMsgResult::No}, false},
        {"Löschen", {TMsgResult::Yes}, true},
        {"Strg+L", {TMsgResult::Yes}, true},
        {"Entf", {}, false},
        {"Entf", {TMsgResult::Yes}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.how) + (c.deleted ? " deletes" : " keeps"));
        window.reset();
        messages.shown.clear();
        storeJobs(3, 2);
        openShown();
        messages.answers = c.answers;
        if (c.how == std::string("Löschen"))
            QTest::mouseClick(child<QPushButton>("btnDelete"), Qt::LeftButton);
        else if (c.how == std::string("Strg+L"))
            QTest::keyClick(window.get(), Qt::Key_L, Qt::ControlModifier);
        else
            QTest::keyClick(jobRows(), Qt::Key_Delete);
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].text, question("Job 2"));
        EXPECT_EQ(messages.shown[0].buttons, mbYes | mbNo);
        EXPECT_EQ(window->jobs().count(), c.deleted ? 2 : 3);
        EXPECT_EQ(jobRows()->count(), c.deleted ? 2 : 3);
        EXPECT_EQ(storedRecords().size(), c.deleted ? 3u : 4u);
    }
}

// Settings that cannot be written: the deletion is refused and list, window
// and storage stay as they were, also at the next write of the store.
TEST_F(JobListTest, ARefusedDeletionLeavesListWindowAndStorage) {
    storeJobs({nullptr, [](TCopyJob& j) { j.fSources = {"/srv/a/=1", "/srv/b/=1"}; }, nullptr}, 2);
    const std::string before = readFile(ini);
    openShown();
    const std::string settings = ini;
    sys::setFaultHook([settings](sys::Op op, const char* path) {
        return op == sys::Op::Rename && path && settings == path ? EROFS : 0;
    });
    const auto hookGone = qScopeGuard([] { sys::setFaultHook({}); });
    const std::string refusal =
        "Die Einstellungen können nicht in \"" + ini + "\" gespeichert werden.";
    for (const bool byKey : {false, true}) {
        messages.shown.clear();
        messages.answers = {TMsgResult::Yes};
        if (byKey)
            QTest::keyClick(jobRows(), Qt::Key_Delete);
        else
            QTest::mouseClick(child<QPushButton>("btnDelete"), Qt::LeftButton);
        ASSERT_EQ(messages.shown.size(), 2u);
        EXPECT_EQ(messages.shown[1].text, refusal);
        EXPECT_EQ(window->jobs().count(), 3);
        EXPECT_EQ(rowTexts(), (std::vector<std::string>{"Job 1", "Job 2", "Job 3"}));
        EXPECT_EQ(jobRows()->selectedRow(), 1);
        EXPECT_EQ(window->currentJob(), &job(1));
        EXPECT_EQ(readFile(ini), before);
    }
    sys::setFaultHook({});
    messages.shown.clear();
    clickRow(jobRows(), 2);
    clickRow(jobRows(), 1);
    EXPECT_TRUE(messages.shown.empty()) << messages.shown[0].text;
    // A write of the store after it: the refused deletion is not in it.
    clickRow(sourceRows(), 0);
    QTest::keyClick(sourceRows(), Qt::Key_Delete);
    EXPECT_EQ(storedRecords(), (std::vector<std::string>{"Job01", "Job02", "Job03", "Options"}));
    EXPECT_EQ(TIniFile(ini).readInteger("Job02", "AnzahlQuellen", 0), 1);
}

// A held Entf deletes the one source it was pressed on, and the next row is
// not chosen for the next press.
TEST_F(JobListTest, EntfOnASourceDeletesOneSourcePerPress) {
    storeJobs({[](TCopyJob& j) { j.fSources = {"/srv/a/=1", "/srv/b/=1", "/srv/c/=1"}; }});
    openShown();
    clickRow(sourceRows(), 0);
    const auto press = [this](bool repeat) {
        QKeyEvent event(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(), repeat);
        QApplication::sendEvent(sourceRows(), &event);
    };
    press(false);
    for (int i = 0; i < 3; ++i) press(true);
    QTest::keyRelease(sourceRows(), Qt::Key_Delete);
    EXPECT_EQ(job(0).fSources, (std::vector<std::string>{"/srv/b/=1", "/srv/c/=1"}));
    QTest::keyClick(sourceRows(), Qt::Key_Delete);
    EXPECT_EQ(sourceRows()->count(), 2);
    clickRow(sourceRows(), 1);
    QTest::keyClick(sourceRows(), Qt::Key_Delete);
    EXPECT_EQ(job(0).fSources, std::vector<std::string>{"/srv/b/=1"});
    EXPECT_EQ(TIniFile(ini).readInteger("Job01", "AnzahlQuellen", 0), 1);
}

TEST_F(JobListTest, RenameRefusesANameAnotherJobHas) {
    storeJobs(
        {[](TCopyJob& j) { j.fJobName = "Fotos"; }, [](TCopyJob& j) { j.fJobName = "Musik"; }}, 2);
    openShown();
    bool stayedOpen = false;
    whenDialogOpens<TfrmRename>([&](TfrmRename& dialog) {
        auto* name = dialog.findChild<QLineEdit*>("edtName");
        name->selectAll();
        QTest::keyClicks(name, "Fotos");
        QTest::keyClick(name, Qt::Key_Return);
        stayedOpen = dialog.isVisible();
        name->selectAll();
        QTest::keyClicks(name, "Musik");
        QTest::keyClick(name, Qt::Key_Return);
    });
    QTest::mouseClick(child<QPushButton>("btnRename"), Qt::LeftButton);
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text,
              "Es gibt schon einen Backup-Job \"Fotos\".\r\nBitte geben Sie eine andere "
              "Bezeichnung ein.");
    EXPECT_EQ(job(1).fJobName, "Musik") << "its own name is no other job's";
    EXPECT_EQ(rowTexts(), (std::vector<std::string>{"Fotos", "Musik"}));
}

// The field takes what the wizard takes; left with anything else it shows
// the destination from before the edit again, and the job keeps it.
TEST_F(JobListTest, TheDestinationFieldRefusesWhatTheWizardRefuses) {
    storeJobs(1);
    openShown();
    const std::string old = dir / "ziel1/";
    const struct {
        const char* typed;
        std::string destination;
        bool warned;
    } cases[] = {
        {"Sicherung", old, true},
        {"/usr", old, true},
        {"~/Sicherung", homeFolder() + "/Sicherung/", false},
        {"/media/usb", "/media/usb/", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        messages.shown.clear();
        auto* field = child<QLineEdit>("edtZielVerzeichnis");
        field->selectAll();
        QTest::keyClicks(field, c.typed);
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(job(0).fDestination, c.destination);
        EXPECT_EQ(field->text().toStdString(), c.destination);
        EXPECT_EQ(messages.shown.size(), c.warned ? 1u : 0u);
        if (c.warned && !messages.shown.empty()) {
            EXPECT_EQ(messages.shown[0].kind, TMsgKind::Warning);
        }
    }
}

// A time set by keyboard in a picker that still has the focus is saved by
// Ctrl+S.
TEST_F(JobListTest, TypedTimesCountAtOnce) {
    storeJobs({[](TCopyJob& j) { j.setInterval(kIntervalHourly); }});
    openShown();
    for (const char* name : {"dtpStartZeit", "dtpEndZeit"}) {
        auto* picker = child<QTimeEdit>(name);
        QTest::mouseClick(picker, Qt::LeftButton, {}, QPoint(6, picker->height() / 2));
        for (int hour = 0; hour < 7; ++hour) QTest::keyClick(picker, Qt::Key_Up);
    }
    EXPECT_TRUE(child<QTimeEdit>("dtpEndZeit")->hasFocus());
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    TIniFile stored(ini);
    EXPECT_EQ(decodeDateTime(stored.readDateTime("Job01", "Startzeit", 0)).hour, 7);
    EXPECT_EQ(decodeDateTime(stored.readDateTime("Job01", "Endzeit", 0)).hour, 7);
}

}  // namespace
}  // namespace qvb::test
