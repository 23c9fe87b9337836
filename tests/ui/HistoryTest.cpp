// "Frühere Protokolle" over runs kept in a temporary folder: the order and
// verdicts of the list, the filter, the viewer, and what it says instead of
// a protocol that cannot be shown.

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QtTest>
#include <cstdio>

#include "jobs/CopyJob.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "ui/QV_History.h"
#include "util/QV_Basics.h"

using namespace qvb;

namespace {

QStringList row(const QTreeWidgetItem* item) {
    QStringList texts;
    for (int column = 0; item && column < item->columnCount(); ++column)
        texts << item->text(column);
    return texts;
}

}  // namespace

class HistoryTest : public QObject {
    Q_OBJECT

  private:
    test::TempDir dir;
    const std::string folder = dir / "Protokolle/qvb.ini-1/";
    std::vector<std::string> files;

  private slots:
    void initTestCase() {
        const struct {
            const char* key;
            const char* name;
            TCopyStatus status;
            int errors, warnings;
        } runs[] = {
            {"Job01", "Fotos", csDone, 0, 0},
            {"Job02", "Briefe", csError, 3, 1},
            {"Job01", "Fotos", csWarnings, 0, 2},
            {"Job02", "Briefe", csCancelled, 0, 0},
        };
        for (size_t i = 0; i < std::size(runs); ++i) {
            TCopyJob job;
            job.fJobKey = runs[i].key;
            job.fJobName = runs[i].name;
            job.fStatus = runs[i].status;
            job.fStatistics.fErrors = runs[i].errors;
            job.fStatistics.fWarnings = runs[i].warnings;
            job.fStatistics.fAdded = static_cast<int>(i);
            const TDateTime start = encodeDateTime({2026, 12, 1, 8 + static_cast<int>(i), 0, 0});
            files.push_back(keepRunProtocol(folder, start, job,
                                            std::vector<std::string>{"Lauf " + std::to_string(i)}));
            QVERIFY(!files.back().empty());
        }
    }

    void listsTheRunsNewestFirstAndShowsTheChosenOne() {
        TfrmHistory dialog(folder, "Job01");
        auto* list = dialog.findChild<QTreeWidget*>("lvwRuns");
        auto* memo = dialog.findChild<QPlainTextEdit*>("memProtocol");
        QCOMPARE(list->topLevelItemCount(), 4);
        QCOMPARE(row(list->topLevelItem(0)),
                 QStringList({"01.12.2026 11:00:00", "Briefe", "abgebrochen", "0", "0", "3", "0"}));
        QCOMPARE(row(list->topLevelItem(2)),
                 QStringList({"01.12.2026 09:00:00", "Briefe", "Fehler", "3", "1", "1", "0"}));
        QCOMPARE(list->topLevelItem(3)->text(2), QStringLiteral("erfolgreich"));
        // The newest is open at first, another at a click.
        QVERIFY(memo->toPlainText().startsWith(QStringLiteral("Lauf 3\n")));
        list->setCurrentItem(list->topLevelItem(2));
        QCOMPARE(memo->toPlainText(),
                 QStringLiteral("Lauf 1\nErgebnis von Backup-Job02 \"Briefe\": Fehler; 3 Fehler, "
                                "1 Warnungen, 1 kopiert, 0 gelöscht"));

        dialog.findChild<QCheckBox*>("cbxCurrentJob")->setChecked(true);
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("Warnungen"));
        // A run of another job asked for by name brings all jobs back.
        dialog.showRun(files[1]);
        QCOMPARE(list->topLevelItemCount(), 4);
        QCOMPARE(dialog.chosenFile(), files[1]);
    }

    // Nothing to show: a German line where the list or the protocol would be.
    void saysWhyWhereThereIsNothingToShow() {
        TfrmHistory empty(dir / "leer/", "Job01");
        auto* stack = empty.findChild<QStackedWidget*>("stkRuns");
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("lblEmpty"));
        QCOMPARE(empty.findChild<QLabel*>("lblEmpty")->text(),
                 QStringLiteral("Es sind noch keine Protokolle früherer Läufe aufbewahrt."));

        test::writeFile(dir / "fremd_2026-12-01_08-00-00_Job01.log", "geheim");
        const std::string foreign = dir / "2026-12-01_08-00-00_Job01.log";
        test::writeFile(foreign, "geheim");
        const std::string vanished = files[0];
        const struct {
            std::string file;
            QString says;
        } cases[] = {
            {foreign, "ist nicht unter den aufbewahrten Läufen dieser Einstellungen."},
            {folder + "../qvb.ini-1/../../" + extractFileName(foreign),
             "ist nicht unter den aufbewahrten Läufen dieser Einstellungen."},
            {vanished, "kann nicht gelesen werden: "},
        };
        TfrmHistory dialog(folder, "Job01");
        auto* memo = dialog.findChild<QPlainTextEdit*>("memProtocol");
        for (const auto& c : cases) {
            if (c.file == vanished) {
                // Removed after the list was read: the viewer says so when it is chosen.
                QCOMPARE(std::remove(vanished.c_str()), 0);
                auto* list = dialog.findChild<QTreeWidget*>("lvwRuns");
                list->setCurrentItem(list->topLevelItem(list->topLevelItemCount() - 1));
            } else {
                dialog.showRun(c.file);
            }
            QVERIFY2(memo->toPlainText().contains(c.says), qPrintable(memo->toPlainText()));
            QVERIFY(!memo->toPlainText().contains(QStringLiteral("geheim")));
        }
    }
};

QTEST_MAIN(HistoryTest)
#include "HistoryTest.moc"
