#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include "jobs/BU_Options.h"
#include "jobs/CopyJob.h"
#include "support/RecordingUserInterface.h"
#include "support/SettingsSandbox.h"
#include "support/TempDir.h"
#include "ui/QV_SelectDir.h"
#include "ui/QV_Wizzard.h"
#include "util/DateTime.h"

using namespace qvb;

namespace {

template <typename T>
T* control(QWidget& window, const char* name) {
    T* found = window.findChild<T*>(name);
    if (!found) qFatal("no control %s", name);
    return found;
}

QString text(QWidget& window, const char* name) {
    if (auto* label = window.findChild<QLabel*>(name)) return label->text();
    return control<QAbstractButton>(window, name)->text();
}

// Runs `act` on the folder dialog once it shows: opens `pick` in its tree
// (or keeps the folder it opened with) and confirms.
void whenFolderDialogShows(const std::string& pick = {}) {
    QTimer::singleShot(0, [pick] {
        auto* dialog = qobject_cast<TfrmSelectDir*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        // A folder directly below the one the dialog opened with.
        if (!pick.empty()) {
            auto* tree = control<QTreeView>(*dialog, "DirectoryListBox");
            const QModelIndex open = tree->currentIndex();
            tree->expand(open);
            const QString name = QString::fromStdString(pick.substr(pick.rfind('/') + 1));
            for (int row = 0; row < tree->model()->rowCount(open); ++row)
                if (tree->model()->index(row, 0, open).data().toString() == name)
                    tree->setCurrentIndex(tree->model()->index(row, 0, open));
        }
        control<QPushButton>(*dialog, "btnOK")->click();
    });
}

void makeDir(const std::string& path) {
    QVERIFY(::mkdir(path.c_str(), 0755) == 0);
}

int hourOf(TDateTime value) {
    return decodeDateTime(value).hour;
}

int minuteOf(TDateTime value) {
    return decodeDateTime(value).minute;
}

}  // namespace

class WizzardTest : public QObject {
    Q_OBJECT

    test::SettingsSandbox sandbox;
    test::TempDir folders{"qvb-wizzard"};
    std::unique_ptr<test::RecordingUserInterface> messages;
    std::unique_ptr<TQV_BackupOptions> options;
    std::unique_ptr<TfrmWizzard> wizard;
    std::unique_ptr<TCopyJob> job;

    // Shows the wizard modally for `job` as the main window does and lets
    // `act` work on it; a failed check leaves it open and it is ended here.
    int runWizard(std::function<void(TfrmWizzard&)> act) {
        job = std::make_unique<TCopyJob>();
        job->fJobName = "Job_3";
        wizard->fJob = job.get();
        QTimer::singleShot(0, wizard.get(), [this, act] {
            act(*wizard);
            if (wizard->isVisible()) wizard->done(-1);
        });
        return wizard->exec();
    }

    void next() { control<QPushButton>(*wizard, "btnNext")->click(); }
    void prev() { control<QPushButton>(*wizard, "btnPrev")->click(); }

    void addSource(const std::string& dir, const std::string& pick = {}) {
        options->LastSrcDir = dir;
        whenFolderDialogShows(pick);
        control<QPushButton>(*wizard, "btnDirSource")->click();
    }

    void typeDestination(const QString& dir) {
        control<QLineEdit>(*wizard, "edtDestDir")->setText(dir);
    }

    // Name, one source, a destination: the wizard is on step 4.
    void toStep4() {
        next();
        addSource(folders / "Quelle/");
        next();
        typeDestination(QString::fromStdString(folders / "Ziel"));
        next();
        QCOMPARE(wizard->step(), 4);
    }

    void chooseInterval(int index) {
        control<QRadioButton>(*wizard, qPrintable(QString("rbtIntervall%1").arg(index)))->click();
    }

    QListWidget& sourceRows() {
        return *control<QListWidget>(*wizard, "WizzardCheckListBoxSourceDirs");
    }

    QStringList warnings() const {
        QStringList texts;
        for (const auto& shown : messages->shown) texts << QString::fromStdString(shown.text);
        return texts;
    }

  private slots:
    void initTestCase() {
        makeDir(folders / "Quelle");
        makeDir(folders / "Quelle/Unterordner");
        makeDir(folders / "Andere");
        makeDir(folders / "Ziel");
    }

    void init() {
        // The old recorder must go first: it uninstalls itself.
        messages.reset();
        messages = std::make_unique<test::RecordingUserInterface>();
        options = std::make_unique<TQV_BackupOptions>();
        wizard = std::make_unique<TfrmWizzard>(*options);
    }

    void cleanup() {
        wizard.reset();
        setClock({});
    }

    void startsOnTheNameStepAndNeedsAName() {
        const int result = runWizard([this](TfrmWizzard& w) {
            QCOMPARE(w.windowTitle(), QStringLiteral("Backup-Job Assistent"));
            QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint));
            QCOMPARE(control<QStackedWidget>(w, "pnlSteps")->currentWidget()->objectName(),
                     QStringLiteral("pnlStep1"));
            QCOMPARE(control<QLineEdit>(w, "edtJobName")->text(), QStringLiteral("Job_3"));
            QCOMPARE(w.focusWidget(), control<QLineEdit>(w, "edtJobName"));
            QCOMPARE(text(w, "lblJobName"), QStringLiteral("neuer Backup-Job:"));
            QCOMPARE(text(w, "btnPrev"), QStringLiteral("Abbrechen"));
            QCOMPARE(control<QLabel>(w, "lblNr1")->y(), 8);

            control<QLineEdit>(w, "edtJobName")->clear();
            next();
            QCOMPARE(w.step(), 1);
            QCOMPARE(warnings(), QStringList{"Ein namenloser Backup-Job macht wenig Sinn.\r\n"
                                             "Bitte geben Sie eine Bezeichnung ein."});
            QCOMPARE(text(w, "lblNr1"), QStringLiteral("1"));
            QCOMPARE(text(w, "btnPrev"), QStringLiteral("Zurück"));
            prev();
        });
        QCOMPARE(result, int(QDialog::Rejected));
    }

    void aNamedJobMovesOnAndTheNumberFollows() {
        runWizard([this](TfrmWizzard& w) {
            control<QLineEdit>(w, "edtJobName")->setText(QStringLiteral("Fotos -> extern"));
            next();
            QCOMPARE(w.step(), 2);
            QCOMPARE(job->fJobName, std::string("Fotos -> extern"));
            QCOMPARE(text(w, "lblJobName"), QStringLiteral("Backup-Job \"Fotos -> extern\""));
            auto* number = control<QLabel>(w, "lblNr1");
            QCOMPARE(number->text(), QStringLiteral("2"));
            QCOMPARE(number->y(), number->height() + 8);
            prev();
            QCOMPARE(w.step(), 1);
            QCOMPARE(text(w, "btnPrev"), QStringLiteral("Abbrechen"));
            QVERIFY(w.isVisible());
        });
    }

    void sourcesAreListedOnceWithTheirTicks() {
        const std::string source = folders / "Quelle/";
        const std::string other = folders / "Andere/";
        runWizard([&, this](TfrmWizzard& w) {
            next();
            next();
            QCOMPARE(w.step(), 2);
            QCOMPARE(warnings(),
                     QStringList{"Was soll gesichert werden?\r\n"
                                 "Bitte geben Sie mindestens ein Quellverzeichnis an."});
            addSource(source);
            addSource(source);
            addSource(other);
            QCOMPARE(sourceRows().count(), 2);
            QCOMPARE(sourceRows().item(0)->text(), QString::fromStdString(other));
            QCOMPARE(sourceRows().item(1)->checkState(), Qt::Checked);
            sourceRows().item(0)->setCheckState(Qt::Unchecked);
            next();
            QCOMPARE(w.step(), 3);
            prev();
            next();
            QCOMPARE(job->fSources, (std::vector<std::string>{other + "=0", source + "=1"}));
        });
        QCOMPARE(options->LastSrcDir, other);
    }

    void theFolderDialogStartsAtTheLastSourceAndRemembersTheNewOne() {
        const std::string below = folders / "Quelle/Unterordner";
        runWizard([&, this](TfrmWizzard& w) {
            next();
            addSource(folders / "Quelle/", below);
            QCOMPARE(sourceRows().count(), 1);
            QCOMPARE(sourceRows().item(0)->text(), QString::fromStdString(below + "/"));
            options->LastSrcDir = folders / "fehlt/";
            whenFolderDialogShows();
            control<QPushButton>(w, "btnDirSource")->click();
            QCOMPARE(sourceRows().count(), 2);
            QCOMPARE(sourceRows().item(0)->text(), QStringLiteral("/"));
        });
        QCOMPARE(options->LastSrcDir, std::string("/"));
    }

    void deleteKeyRemovesTheSelectedSource() {
        runWizard([this](TfrmWizzard& w) {
            next();
            addSource(folders / "Quelle/");
            addSource(folders / "Andere/");
            sourceRows().setCurrentRow(1);
            QTest::keyClick(&sourceRows(), Qt::Key_Delete);
            QCOMPARE(sourceRows().count(), 1);
            QCOMPARE(sourceRows().item(0)->text(), QString::fromStdString(folders / "Andere/"));
            QCOMPARE(w.step(), 2);
        });
    }

    void aTypedDestinationCountsAndIsNormalised() {
        runWizard([this](TfrmWizzard& w) {
            next();
            addSource(folders / "Quelle/");
            next();
            next();
            QCOMPARE(w.step(), 3);
            QCOMPARE(warnings().last(), QStringLiteral("Wohin soll gesichert werden?\r\n"
                                                       "Bitte geben Sie das Zielverzeichnis an."));
            typeDestination(QString::fromStdString(folders / "Andere/../neu//Ziel"));
            next();
            QCOMPARE(w.step(), 4);
            QCOMPARE(job->fDestination, folders / "neu/Ziel/");
            QCOMPARE(control<QLineEdit>(w, "edtDestDir")->text(),
                     QString::fromStdString(folders / "neu/Ziel/"));
            QCOMPARE(messages->shown.size(), size_t{1});
        });
    }

    void theDestinationButtonUsesAndKeepsTheLastDestination() {
        const std::string target = folders / "Ziel/";
        options->LastDestDir = target;
        runWizard([&, this](TfrmWizzard& w) {
            next();
            addSource(folders / "Quelle/");
            next();
            whenFolderDialogShows();
            control<QPushButton>(w, "btnDirDest")->click();
            QCOMPARE(job->fDestination, target);
            QCOMPARE(control<QLineEdit>(w, "edtDestDir")->text(), QString::fromStdString(target));
        });
        QCOMPARE(options->LastDestDir, target);
    }

    void aSourceInsideTheDestinationKeepsStep3() {
        runWizard([this](TfrmWizzard& w) {
            next();
            addSource(folders / "Quelle/Unterordner/");
            next();
            typeDestination(QString::fromStdString(folders / "Quelle"));
            next();
            QCOMPARE(w.step(), 3);
            QCOMPARE(messages->shown.size(), size_t{1});
            QVERIFY(warnings().last().contains("liegt im Zielverzeichnis"));
        });
    }

    void aDestinationInsideASourceIsWarnedAndAllowed() {
        runWizard([this](TfrmWizzard& w) {
            next();
            addSource(folders / "Quelle/");
            next();
            typeDestination(QString::fromStdString(folders / "Quelle/Sicherung"));
            next();
            QCOMPARE(w.step(), 4);
            QCOMPARE(messages->shown.size(), size_t{1});
            QVERIFY(warnings().last().contains("liegt im Quellverzeichnis"));
        });
    }

    void aManualJobFinishesFromStep4() {
        const int result = runWizard([this](TfrmWizzard& w) {
            toStep4();
            QCOMPARE(text(w, "btnNext"), QStringLiteral("Fertigstellen"));
            QCOMPARE(text(w, "Label17"),
                     QStringLiteral("Wenn Sie den Backup-Job manuell starten "
                                    "wollen, ist er jetzt vollständig definiert."));
            chooseInterval(2);
            QCOMPARE(text(w, "btnNext"), QStringLiteral("Weiter"));
            chooseInterval(0);
            control<QCheckBox>(w, "cbxLoeschen")->setChecked(true);
            control<QCheckBox>(w, "cbxContentOnly")->setChecked(true);
            next();
        });
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(job->fInterval, 0);
        QVERIFY(!job->fActive);
        QVERIFY(job->fDelete);
        QVERIFY(job->fContentOnly);
        QVERIFY(!job->fSaveSpace);
    }

    void eachIntervalShowsItsOwnStartControls() {
        struct Case {
            int interval;
            const char* caption;
            const char* startWord;
            bool date, end;
            const char* line2;
        };
        const Case cases[] = {
            {1, " wöchentliche Ausführung ", "um", true, false,
             "Der Backup-Job wird ab dem Starttag zur festgelegten Uhrzeit im Wochenrhythmus "
             "ausgeführt"},
            {2, " tägliche Ausführung ", "um", false, false,
             "Der Backup-Job wird jeden Tag zur festgelegten Uhrzeit gestartet."},
            {3, " stündliche Ausführung ", "von", false, true,
             "Zur Startzeit wird das erste Backup ausgeführt."},
        };
        for (const Case& c : cases) {
            runWizard([&, this](TfrmWizzard& w) {
                toStep4();
                chooseInterval(c.interval);
                next();
                QCOMPARE(w.step(), 5);
                QCOMPARE(text(w, "btnNext"), QStringLiteral("Fertigstellen"));
                QCOMPARE(control<QGroupBox>(w, "gbxStart")->title(), QString::fromUtf8(c.caption));
                QCOMPARE(text(w, "lblStartStunde"), QString::fromUtf8(c.startWord));
                QCOMPARE(control<QDateEdit>(w, "dtpDatum")->isVisible(), c.date);
                QCOMPARE(control<QLabel>(w, "lblCalendarHint")->isVisible(), c.date);
                QCOMPARE(control<QTimeEdit>(w, "dtpEndZeit")->isVisible(), c.end);
                QCOMPARE(control<QLabel>(w, "lblEndUhr")->isVisible(), c.end);
                QCOMPARE(text(w, "lbl2Step5"), QString::fromUtf8(c.line2));
                QCOMPARE(text(w, "lbl1Step5").isEmpty(), c.interval != 3);
                QVERIFY(control<QLabel>(w, "lblTimeHint")->isVisible());
                QVERIFY(job->fActive);
                prev();
                QCOMPARE(text(w, "btnNext"), QStringLiteral("Weiter"));
            });
        }
    }

    void theStartDateGivesTheWeekdayOfTheFirstRun() {
        // Wednesday, 4 March 2026.
        setClock([] { return encodeDateTime({2026, 3, 4, 10, 0, 0, 0}); });
        const std::pair<QDate, int> days[] = {{QDate(2026, 3, 8), 7}, {QDate(2026, 3, 5), 4}};
        for (const auto& [start, weekday] : days) {
            runWizard([&, this](TfrmWizzard& w) {
                toStep4();
                chooseInterval(1);
                next();
                auto* date = control<QDateEdit>(w, "dtpDatum");
                QCOMPARE(date->date(), QDate(2026, 3, 4));
                date->setDate(start);
                next();
            });
            QCOMPARE(job->fWeekday, weekday);
            QVERIFY(std::abs(job->fNextRun - encodeDateTime({2026, 3, start.day(), 8, 0, 0, 0})) <
                    kOneSecond);
            QVERIFY(job->fActive);
        }
    }

    // Nothing of the job made before carries over: not its times, and not
    // its deletion option least of all.
    void eachNewJobStartsFromTheDefaults() {
        setClock([] { return encodeDateTime({2026, 3, 4, 7, 0, 0, 0}); });
        runWizard([this](TfrmWizzard& w) {
            toStep4();
            control<QCheckBox>(w, "cbxLoeschen")->click();
            control<QCheckBox>(w, "cbxContentOnly")->click();
            chooseInterval(3);
            next();
            control<QTimeEdit>(w, "dtpStartZeit")->setTime(QTime(9, 30));
            control<QTimeEdit>(w, "dtpEndZeit")->setTime(QTime(17, 0));
            control<QCheckBox>(w, "cbxSaveSpace")->click();
            next();
        });
        QVERIFY(job->fDelete);
        QVERIFY(!job->fSaveSpace);
        QCOMPARE(hourOf(job->fStartTime), 9);
        runWizard([this](TfrmWizzard& w) {
            toStep4();
            QVERIFY(!control<QCheckBox>(w, "cbxLoeschen")->isChecked());
            QVERIFY(!control<QCheckBox>(w, "cbxContentOnly")->isChecked());
            chooseInterval(3);
            next();
            next();
        });
        QVERIFY(!job->fDelete);
        QVERIFY(!job->fContentOnly);
        QVERIFY(job->fSaveSpace);
        QCOMPARE(hourOf(job->fStartTime), 8);
        QCOMPARE(minuteOf(job->fStartTime), 0);
        QCOMPARE(hourOf(job->fEndTime), 18);
    }

    // "~" is the home folder; a relative path, the home folder itself and
    // system folders keep the wizard on the destination step.
    void aTypedDestinationMustBeAFolderOfItsOwn() {
        const std::string home = folders / "Heim";
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", QByteArray::fromStdString(home));
        makeDir(home);
        const struct {
            const char* typed;
            std::string warning;  // empty: taken
            std::string destination;
        } cases[] = {
            {"~/Sicherung", "", home + "/Sicherung/"},
            {"Sicherung", "Wohin soll gesichert werden?\r\nBitte geben Sie das Zielverzeichnis an.",
             ""},
            {"~",
             "Das Ziel \"" + home +
                 "\" ist nicht erlaubt: es ist der Benutzerordner. Bitte "
                 "einen eigenen Ordner für die Sicherung wählen.",
             ""},
            {"/usr/",
             "Das Ziel \"/usr/\" ist nicht erlaubt: es ist ein Systemordner. Bitte einen "
             "eigenen Ordner für die Sicherung wählen.",
             ""},
        };
        for (const auto& c : cases) {
            init();
            runWizard([&, this](TfrmWizzard& w) {
                next();
                addSource(folders / "Quelle/");
                next();
                auto* field = control<QLineEdit>(w, "edtDestDir");
                field->clear();
                QTest::keyClicks(field, c.typed);
                QTest::mouseClick(control<QPushButton>(w, "btnNext"), Qt::LeftButton);
                QCOMPARE(w.step(), c.warning.empty() ? 4 : 3);
                QCOMPARE(warnings(), c.warning.empty()
                                         ? QStringList()
                                         : QStringList{QString::fromStdString(c.warning)});
                QCOMPARE(job->fDestination, c.destination);
            });
        }
        qputenv("HOME", oldHome);
    }

    void enterActsOnPressLikeWeiter() {
        const int result = runWizard([this](TfrmWizzard& w) {
            QTest::keyRelease(control<QLineEdit>(w, "edtJobName"), Qt::Key_Return);
            QCOMPARE(w.step(), 1);
            QTest::keyClick(control<QLineEdit>(w, "edtJobName"), Qt::Key_Return);
            QCOMPARE(w.step(), 2);
            addSource(folders / "Quelle/");
            QTest::keyClick(&sourceRows(), Qt::Key_Enter, Qt::KeypadModifier);
            QCOMPARE(w.step(), 3);
            typeDestination(QString::fromStdString(folders / "Ziel"));
            QTest::keyClick(control<QPushButton>(w, "btnDirDest"), Qt::Key_Return);
            QCOMPARE(w.step(), 4);
            chooseInterval(2);
            QTest::keyClick(control<QRadioButton>(w, "rbtIntervall2"), Qt::Key_Return);
            QCOMPARE(w.step(), 5);
            QTest::keyClick(control<QTimeEdit>(w, "dtpStartZeit"), Qt::Key_Return);
        });
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(job->fInterval, 2);
    }

    // "Abbrechen" on every step, Escape and the frame end the wizard; once
    // a step was filled, only after a "Ja".
    void abbrechenEscapeAndTheFrameCancelAskingOnceStepsWereFilled() {
        const QString question =
            "Die Angaben zum neuen Backup-Job gehen verloren.\r\nDen Assistenten abbrechen?";
        const std::function<void(TfrmWizzard&)> ways[] = {
            [](TfrmWizzard& w) {
                QTest::mouseClick(control<QPushButton>(w, "btnCancel"), Qt::LeftButton);
            },
            [](TfrmWizzard& w) { QTest::keyClick(&w, Qt::Key_Escape); },
            [](TfrmWizzard& w) { w.close(); },
        };
        for (const auto& cancel : ways) {
            init();
            const int result = runWizard([&, this](TfrmWizzard& w) {
                QVERIFY(!control<QPushButton>(w, "btnCancel")->isVisible());
                next();
                QVERIFY(control<QPushButton>(w, "btnCancel")->isVisible());
                cancel(w);
                QVERIFY(w.isVisible());
                QCOMPARE(w.step(), 2);
                messages->answers = {TMsgResult::Yes};
                cancel(w);
                QVERIFY(!w.isVisible());
            });
            QCOMPARE(result, int(QDialog::Rejected));
            QCOMPARE(messages->shown.size(), size_t{2});
            QCOMPARE(QString::fromStdString(messages->shown[0].text), question);
        }
        init();
        const int result = runWizard([](TfrmWizzard& w) { QTest::keyClick(&w, Qt::Key_Escape); });
        QCOMPARE(result, int(QDialog::Rejected));
        QVERIFY(messages->shown.empty());
    }
};

QTEST_MAIN(WizzardTest)
#include "WizzardTest.moc"
