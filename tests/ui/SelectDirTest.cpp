#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include "support/TempDir.h"
#include "ui/FileSystemRoots.h"
#include "ui/QV_SelectDir.h"

using namespace qvb;

namespace {

void makeDir(const std::string& path) {
    QVERIFY(::mkdir(path.c_str(), 0755) == 0);
}

// Shows the dialog modally as the main window does and lets `act` work on it;
// closes it when a failed check left it open.
void showWith(TfrmSelectDir& dialog, std::function<void(TfrmSelectDir&)> act) {
    QTimer::singleShot(0, &dialog, [&dialog, act] {
        act(dialog);
        if (dialog.isVisible()) dialog.done(QDialog::Rejected);
    });
    dialog.exec();
}

void clickOK(TfrmSelectDir& dialog) {
    dialog.findChild<QPushButton*>("btnOK")->click();
}

QStringList shownFolders(TfrmSelectDir& dialog) {
    auto* tree = dialog.findChild<QTreeView*>("DirectoryListBox");
    QStringList names;
    for (int row = 0; row < tree->model()->rowCount(tree->rootIndex()); ++row)
        names << tree->model()->index(row, 0, tree->rootIndex()).data().toString();
    names.sort();
    return names;
}

}  // namespace

class SelectDirTest : public QObject {
    Q_OBJECT

    test::TempDir home{"qvb-home"};
    test::TempDir tree{"qvb-tree"};
    std::string homePath;  // without the trailing "/"

  private slots:
    // The home folder is one of the roots; the test's own stands in for it.
    void initTestCase() {
        homePath = home.path().substr(0, home.path().size() - 1);
        qputenv("HOME", QByteArray::fromStdString(homePath));
        makeDir(tree / "Projekte");
        makeDir(tree / "Projekte/alt");
        makeDir(home / "Dokumente");
        makeDir(home / ".versteckt");
        QVERIFY(::symlink((tree / "Projekte").c_str(), (home / "Verweis").c_str()) == 0);
        QFile file(QString::fromStdString(home / "datei.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    void opensAnExistingStartFolderOnItsRoot() {
        TfrmSelectDir dialog;
        dialog.driveLetter = homePath;
        dialog.startDir = tree / "Projekte/alt";
        showWith(dialog, clickOK);
        QCOMPARE(dialog.driveLetter, std::string("/"));
        QCOMPARE(dialog.selectedDir, tree / "Projekte/alt");
    }

    void aMissingStartFolderOpensTheChosenRoot() {
        TfrmSelectDir dialog;
        dialog.driveLetter = homePath;
        dialog.startDir = home / "gibt/es/nicht";
        showWith(dialog, [this](TfrmSelectDir& shown) {
            QCOMPARE(shown.findChild<QComboBox*>("DriveComboBox")->currentText().toStdString(),
                     displayText({homePath, homePath.substr(homePath.rfind('/') + 1)}));
            clickOK(shown);
        });
        QCOMPARE(dialog.selectedDir, homePath);
    }

    void cancelGivesNoFolder() {
        TfrmSelectDir dialog;
        dialog.startDir = tree / "Projekte";
        showWith(dialog,
                 [](TfrmSelectDir& shown) { shown.findChild<QPushButton*>("btnCancel")->click(); });
        QCOMPARE(dialog.selectedDir, std::string());
        showWith(dialog, [](TfrmSelectDir& shown) { QTest::keyClick(&shown, Qt::Key_Escape); });
        QCOMPARE(dialog.selectedDir, std::string());
    }

    void showsFoldersAndLinksToThemHiddenOnesOnRequest() {
        TfrmSelectDir dialog;
        dialog.driveLetter = homePath;
        dialog.startDir = homePath;
        dialog.show();
        QTRY_COMPARE(shownFolders(dialog), (QStringList{"Dokumente", "Verweis"}));
        dialog.findChild<QCheckBox*>("cbxHidden")->setChecked(true);
        QTRY_COMPARE(shownFolders(dialog), (QStringList{".versteckt", "Dokumente", "Verweis"}));
    }

    // A name that is not valid UTF-8 is listed with replacement characters
    // and chosen with its bytes.
    void aFolderNameThatIsNoUtf8IsListedAndChosenAsItIs() {
        const std::string odd = tree / "M\xfcll";
        makeDir(odd);
        TfrmSelectDir dialog;
        dialog.startDir = tree.path();
        showWith(dialog, [](TfrmSelectDir& shown) {
            auto* folders = shown.findChild<QTreeView*>("DirectoryListBox");
            const QModelIndex open = folders->currentIndex();
            QTest::keyClick(folders, Qt::Key_Right);  // opens the folder
            int row = 0;
            while (row < folders->model()->rowCount(open) &&
                   folders->model()->index(row, 0, open).data().toString() != QString("M\uFFFDll"))
                ++row;
            QVERIFY(row < folders->model()->rowCount(open));
            const QModelIndex odd = folders->model()->index(row, 0, open);
            folders->scrollTo(odd);
            QTest::mouseClick(folders->viewport(), Qt::LeftButton, {},
                              folders->visualRect(odd).center());
            QCOMPARE(folders->currentIndex(), odd);
            clickOK(shown);
        });
        QCOMPARE(dialog.selectedDir, odd);
        ::rmdir(odd.c_str());
    }

    void rootsComeFromTheMountTable() {
        test::TempDir labels{"qvb-labels"};
        QFile device(QString::fromStdString(labels / "sdb1"));
        QVERIFY(device.open(QIODevice::WriteOnly));
        makeDir(labels / "by-label");
        QVERIFY(::symlink("../sdb1", (labels / "by-label/Mein\\x20Stick").c_str()) == 0);
        const std::string mountinfo =
            "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
            "30 22 0:5 / /boot rw - ext4 /dev/sda2 rw\n"
            "40 22 8:17 / /media/anna/USB\\040Stick rw shared:1 - vfat " +
            labels.path() + "sdb1 rw\n" +
            "41 22 8:18 / /run/media/anna/Fotos rw - ext4 /dev/sdc1 rw\n"
            "42 22 8:19 / /mnt rw - nfs server:/export rw\n"
            "43 22 8:19 / /mnt rw - nfs server:/export rw\n"
            "44 22 8:20 / /medias rw - ext4 /dev/sdd1 rw\n"
            "kaputt\n";
        const auto roots = fileSystemRoots(mountinfo, "/home/anna/", labels / "by-label");
        std::vector<std::string> shown;
        for (const TFileSystemRoot& root : roots) shown.push_back(displayText(root));
        QCOMPARE(shown, (std::vector<std::string>{
                            "/", "anna  (/home/anna)", "Mein Stick  (/media/anna/USB Stick)",
                            "Fotos  (/run/media/anna/Fotos)", "mnt  (/mnt)"}));
        QCOMPARE(rootOf("/home/anna/Projekte", roots), std::string("/home/anna"));
        QCOMPARE(rootOf("/home/annabell", roots), std::string("/"));
        QCOMPARE(rootOf("/media/anna/USB Stick", roots), std::string("/media/anna/USB Stick"));
    }
};

QTEST_MAIN(SelectDirTest)
#include "SelectDirTest.moc"
