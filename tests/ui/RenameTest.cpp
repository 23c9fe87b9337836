#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "ui/QV_Rename.h"

using namespace qvb;

namespace {

// Shows the dialog modally as the main window does, lets `act` work on it,
// and gives back what the caller reads afterwards. A failed check inside
// `act` leaves the dialog open; it is then closed so the test cannot hang.
std::string renameWith(const std::string& oldName, std::function<void(TfrmRename&)> act) {
    TfrmRename dialog;
    dialog.newName = oldName;
    QTimer::singleShot(0, &dialog, [&dialog, act] {
        act(dialog);
        if (dialog.isVisible()) dialog.done(QDialog::Rejected);
    });
    dialog.exec();
    return dialog.newName;
}

QLineEdit* nameField(TfrmRename& dialog) {
    return dialog.findChild<QLineEdit*>("edtName");
}

}  // namespace

class RenameTest : public QObject {
    Q_OBJECT

  private slots:
    void showsTheOldNameReadyToEdit() {
        renameWith("Fotos", [](TfrmRename& dialog) {
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Job"));
            QCOMPARE(nameField(dialog)->text(), QStringLiteral("Fotos"));
            QCOMPARE(dialog.focusWidget(), nameField(dialog));
            dialog.reject();
        });
    }

    void enterTakesTheNameAsTyped() {
        const std::string name = renameWith("Fotos", [](TfrmRename& dialog) {
            nameField(dialog)->clear();
            QTest::keyClicks(nameField(dialog), QStringLiteral(" Bilder  Ä "));
            QTest::keyClick(nameField(dialog), Qt::Key_Return);
        });
        QCOMPARE(QString::fromStdString(name), QStringLiteral(" Bilder  Ä "));
    }

    void cancelAndAnEmptiedFieldBothLeaveNoName() {
        QCOMPARE(renameWith("Fotos",
                            [](TfrmRename& dialog) {
                                QTest::keyClicks(nameField(dialog), "neu");
                                dialog.findChild<QPushButton*>("btnCancel")->click();
                            }),
                 std::string());
        QCOMPARE(renameWith("Fotos",
                            [](TfrmRename& dialog) {
                                QTest::keyClicks(nameField(dialog), "neu");
                                QTest::keyClick(&dialog, Qt::Key_Escape);
                            }),
                 std::string());
        QCOMPARE(renameWith("Fotos",
                            [](TfrmRename& dialog) {
                                nameField(dialog)->clear();
                                dialog.findChild<QPushButton*>("btnOK")->click();
                            }),
                 std::string());
    }
};

QTEST_MAIN(RenameTest)
#include "RenameTest.moc"
