// The restore window from the Jobs menu: versions, the lazily filled tree
// with its filter, the versions of one file, and a restore to a folder with
// a file in the way.

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QRadioButton>
#include <QTreeWidget>

#include "MainWindowFixture.h"
#include "ui/QV_Restore.h"
#include "util/DateTime.h"

namespace qvb::test {
namespace {

class MainWindowRestoreTest : public MainWindowTest {
  protected:
    void TearDown() override {
        setClock({});
        MainWindowTest::TearDown();
    }
    void backUpOn(int day) {
        setClock([day] { return encodeDate(2026, 12, day) + encodeTime(9, 0, 0); });
        ASSERT_TRUE(window->runJob());
        setClock({});
    }
    template <class T>
    static T* in(QWidget& dialog, const char* name) {
        T* found = dialog.findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    static QTreeWidgetItem* childNamed(QTreeWidgetItem* parent, const QString& name) {
        for (int i = 0; parent && i < parent->childCount(); ++i)
            if (parent->child(i)->text(0) == name) return parent->child(i);
        return nullptr;
    }
    const std::string source = dir / "haus/";
};

TEST_F(MainWindowRestoreTest, VersionsTreeFileVersionsAndARestoreToAFolder) {
    buildTree(source, {file("a.txt", "eins", 1'700'000'000), file("fotos/rom.jpg", "jpg"),
                       file("fotos/notiz.txt", "n")});
    storeJobs({[this](TCopyJob& j) {
        j.fSources = {source + "=1"};
        j.setInterval(kIntervalDaily);
    }});
    open();
    backUpOn(5);
    writeFile(source + "a.txt", "zwei", 1'700'100'000);
    backUpOn(6);
    EXPECT_EQ(action("actionRestore")->shortcut(), QKeySequence(QStringLiteral("Ctrl+W")));

    const std::string out = dir / "zurück/";
    writeFile(out + "a.txt", "meins");
    bool done = false;
    whenDialogOpens<TfrmRestore>([&](TfrmRestore& dialog) {
        auto* versions = in<QListWidget>(dialog, "lbxVersions");
        ASSERT_EQ(versions->count(), 2);
        EXPECT_TRUE(versions->item(0)->text().contains(QStringLiteral("täglich/d_06")));
        EXPECT_TRUE(versions->item(0)->text().endsWith(QStringLiteral("ok")));
        versions->setCurrentRow(1);  // the older version

        auto* tree = in<QTreeWidget>(dialog, "tvwFiles");
        ASSERT_EQ(tree->topLevelItemCount(), 1);
        QTreeWidgetItem* root = tree->topLevelItem(0);
        EXPECT_EQ(root->text(0).toStdString() + "/", source);
        QTreeWidgetItem* fotos = childNamed(root, QStringLiteral("fotos"));
        ASSERT_NE(fotos, nullptr);
        EXPECT_EQ(fotos->childCount(), 1) << "not read before it is opened";
        fotos->setExpanded(true);
        EXPECT_EQ(fotos->childCount(), 2);
        in<QLineEdit>(dialog, "edtFilter")->setText(QStringLiteral("*.JPG"));
        EXPECT_FALSE(childNamed(fotos, QStringLiteral("rom.jpg"))->isHidden());
        EXPECT_TRUE(childNamed(fotos, QStringLiteral("notiz.txt"))->isHidden());
        EXPECT_TRUE(childNamed(root, QStringLiteral("a.txt"))->isHidden());
        in<QLineEdit>(dialog, "edtFilter")->clear();

        QTreeWidgetItem* a = childNamed(root, QStringLiteral("a.txt"));
        tree->setCurrentItem(a);
        in<QPushButton>(dialog, "btnFileVersions")->click();
        auto* fileVersions = in<QTreeWidget>(dialog, "tvwFileVersions");
        ASSERT_EQ(fileVersions->topLevelItemCount(), 2);
        EXPECT_EQ(fileVersions->topLevelItem(0)->text(3), QStringLiteral("gleich"));
        EXPECT_EQ(fileVersions->topLevelItem(1)->text(3), QStringLiteral("abweichend"));

        // a.txt of the older day and the whole folder fotos, into another folder.
        fotos->setSelected(true);
        in<QRadioButton>(dialog, "rbtFolder")->setChecked(true);
        in<QLineEdit>(dialog, "edtTargetDir")->setText(QString::fromStdString(out));
        int asked = 0;
        dialog.askConflict = [&](QWidget*, const std::string& to, bool& forAll) {
            ++asked;
            EXPECT_EQ(to, out + "a.txt");
            forAll = false;
            return TConflictAnswer::KeepBoth;
        };
        in<QPushButton>(dialog, "btnRestore")->click();
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(in<QLabel>(dialog, "lblSummary")
                        ->text()
                        .startsWith(QStringLiteral("Die Wiederherstellung wurde erfolgreich")));
        EXPECT_EQ(in<QProgressBar>(dialog, "pbrRestore")->value(), 100);
        EXPECT_TRUE(in<QPlainTextEdit>(dialog, "memProtocol")
                        ->toPlainText()
                        .contains(QStringLiteral("neben der vorhandenen Datei")));
        done = true;
        in<QPushButton>(dialog, "btnClose")->click();
    });
    action("actionRestore")->trigger();
    EXPECT_TRUE(done);
    EXPECT_EQ(readFile(out + "a.txt"), "meins");
    EXPECT_EQ(readFile(out + "a (wiederhergestellt).txt"), "eins");
    EXPECT_EQ(readFile(out + "fotos/rom.jpg"), "jpg");
    EXPECT_EQ(readFile(source + "a.txt"), "zwei") << "the original place stays untouched";
    const auto& lines = window->protocol().lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "  neben der vorhandenen Datei wiederhergestellt: " + out +
                            "a (wiederhergestellt).txt"),
              lines.end())
        << "the window's protocol holds the restore";
}

}  // namespace
}  // namespace qvb::test
