#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

#include "ui/QV_BackupHelp.h"

using namespace qvb;

class HelpTest : public QObject {
    Q_OBJECT

  private slots:
    void eachCallOpensAnIndependentWindow() {
        QWidget owner;
        owner.show();
        QPointer<TfrmHelp> first = showHelp(&owner);
        QPointer<TfrmHelp> second = showHelp(&owner);
        QVERIFY(first && second && first != second);
        QVERIFY(first->isVisible() && second->isVisible());
        QVERIFY(!first->isModal());
        QCOMPARE(first->windowTitle(), QStringLiteral("QV_Backup: Kurzbeschreibung"));
        QCOMPARE(first->size(), QSize(544, 480));

        first->findChild<QPushButton*>("btnOK")->click();
        QTRY_VERIFY(first.isNull());
        QVERIFY(second && second->isVisible());
    }

    void beginsWithTheTwoLinesAndCoversTheTopicsInOrder() {
        TfrmHelp help;
        const QString text = help.findChild<QPlainTextEdit*>("mmoHelp")->toPlainText();
        QVERIFY(text.startsWith(
            "Das Programm \"QV_Backup\" dient der Datensicherung und wurde in erster Linie auf "
            "die Bedürfnisse \neines Programmierers zugeschnitten.\n"));
        const char* topics[] = {"stündlich",
                                "Quellverzeichnissen",
                                "\"/media/anna/Backup/home/anna/Projekte\"",
                                "\"nur Quellverzeichnisinhalt\"",
                                "\"Im Zielverzeichnis löschen\"",
                                "\"diese ausschliessen:\"",
                                "\"nur diese kopieren:\"",
                                "\"Ordner überspringen\"",
                                "\"Neu\"",
                                "beliebig viele Jobs",
                                "\"QV_Backup.ini\"",
                                "\"QV_Backup.export.ini\"",
                                "Expertentip:",
                                "\"Zeitunterschied\""};
        qsizetype last = -1;
        for (const char* topic : topics) {
            const qsizetype at = text.indexOf(QString::fromUtf8(topic), last + 1);
            QVERIFY2(at > last, topic);
            last = at;
        }
    }
};

QTEST_MAIN(HelpTest)
#include "HelpTest.moc"
