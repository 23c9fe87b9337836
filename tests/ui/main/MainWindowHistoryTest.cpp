// "Frühere Protokolle..." from the Einstellungen menu over the window's own
// runs, and a run asked for while the dialog is open.

#include <QPlainTextEdit>
#include <QTreeWidget>

#include "MainWindowFixture.h"
#include "ui/QV_History.h"
#include "util/DateTime.h"

namespace qvb::test {
namespace {

TEST_F(MainWindowTest, EarlierProtocolsShowTheWindowsRunsInOneDialog) {
    const std::string source = dir / "quelle/";
    buildTree(source, {file("a.txt", "eins")});
    storeJobs({[&](TCopyJob& j) { j.fSources = {source + "=1"}; }});
    open();
    struct ResetClock {
        ~ResetClock() { setClock({}); }
    } resetClock;
    std::vector<std::string> kept;
    for (const int hour : {8, 9}) {
        setClock([hour] { return encodeDate(2026, 12, 7) + encodeTime(hour, 0, 0); });
        ASSERT_TRUE(window->runJob());
        kept.push_back(window->session().lastHistoryFile());
    }
    const std::string first = kept.front();
    ASSERT_FALSE(first.empty());

    action("actionHistory")->trigger();
    auto* dialog = window->findChild<TfrmHistory*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->findChild<QTreeWidget*>("lvwRuns")->topLevelItemCount(), 2);
    EXPECT_TRUE(dialog->findChild<QPlainTextEdit*>("memProtocol")
                    ->toPlainText()
                    .contains(QStringLiteral("Ergebnis von Backup-Job01 \"Job 1\": erfolgreich")));

    window->showHistory(first);
    EXPECT_EQ(window->findChildren<TfrmHistory*>().size(), 1);
    EXPECT_EQ(dialog->chosenFile(), first);
}

}  // namespace
}  // namespace qvb::test
