#include <gtest/gtest.h>

#include "engine/CopyIt.h"
#include "engine/LogLevel.h"
#include "support/RecordingUserInterface.h"

namespace qvb {
namespace {

class Op : public TCopyIt {
  public:
    explicit Op(const std::string& name) { setName(name); }
    bool Execute() override { return true; }
};

struct Chain : ::testing::Test {
    Op job{"job"}, mirror{"mirror"}, copier{"copier"};
    std::vector<std::string> calls;
    TCopyEvent recorder(const std::string& tag) {
        return [this, tag](TCopyIt* sender) { calls.push_back(tag + ":" + sender->fName); };
    }
};

TEST_F(Chain, HandlersTravelDownAndEmptyHandlersStay) {
    job.setPassTo(&mirror);
    mirror.setPassTo(&copier);
    job.setOnMessage(recorder("msg"));
    copier.addMessage("x");
    EXPECT_EQ(calls, std::vector<std::string>{"msg:copier"});
    job.setOnMessage({});
    copier.addMessage("y");
    EXPECT_EQ(calls.size(), 2u);  // the old handler still sits on mirror and copier
}

TEST_F(Chain, SetPassToHandsOnTheEventsAlreadySet) {
    job.setOnStatusChange(recorder("status"));
    job.setOnProgress(recorder("progress"));
    job.setPassTo(&mirror);
    mirror.setPassTo(&copier);
    copier.doProgress();
    job.setStatus(csRunning);
    EXPECT_EQ(calls, (std::vector<std::string>{"progress:copier", "status:job", "status:mirror",
                                               "status:copier"}));
    // Removing the link keeps the handlers on the former target.
    job.setPassTo(nullptr);
    EXPECT_EQ(job.fPassTo, nullptr);
    mirror.doProgress();
    EXPECT_EQ(calls.back(), "progress:mirror");
}

TEST_F(Chain, EqualStatusDoesNotReachTheChain) {
    job.setPassTo(&mirror);
    mirror.fStatus = csCancelled;
    job.setOnStatusChange(recorder("status"));
    job.setStatus(csIdle);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(mirror.fStatus, csCancelled);
    job.setDelete(true);
    EXPECT_TRUE(mirror.fDelete);
}

TEST_F(Chain, EveryEventLetsPendingEventsRunAndEmptyLinesVanish) {
    test::RecordingUserInterface ui;
    job.addMessage("");
    EXPECT_TRUE(job.fMessages.empty());
    EXPECT_EQ(ui.eventCalls, 0);
    job.addMessage("a");
    job.setProgressText("p");
    job.setStatus(csDone);
    EXPECT_EQ(ui.eventCalls, 3);  // also without handlers
    EXPECT_EQ(job.takeMessages(), std::vector<std::string>{"a"});
    EXPECT_TRUE(job.fMessages.empty());
}

TEST_F(Chain, TraceLinesOnlyAboveLevelThree) {
    setLogLevel(4);
    Op traced("eins");
    traced.setPassTo(&copier);
    setLogLevel(1);
    EXPECT_EQ(traced.fMessages,
              (std::vector<std::string>{"TCopyIt.setName: Name=eins",
                                        "TCopyIt.setPassTo: Name=eins, PassTo=copier"}));
    job.setPassTo(&copier);
    EXPECT_TRUE(job.fMessages.empty());
}

TEST(CopyStatistics, SummaryLinesInOrderWithSingularAndPlural) {
    TCopyStatistics s;
    EXPECT_EQ(s.summaryText(), "");
    s.fWarnings = 1;
    EXPECT_EQ(s.summaryText(), "\"1 Warnungen. \"");
    s = TCopyStatistics();
    s.fAdded = 1;
    s.fReplaced = 2;
    s.fSkipped = 1000;
    s.fNotCopied = 1;
    s.fDeleted = 3;
    s.fCopiedBytes = 1536;
    s.fDirsDeleted = 1;
    s.fNotDeleted = 2;
    s.fErrors = 1;
    s.summaryText();
    EXPECT_EQ(s.fLines, (std::vector<std::string>{
                            "1 Datei hinzugefügt. ", "2 Dateien ersetzt. ",
                            "1.000 Dateien übersprungen. ", "1 Datei NICHT kopiert. ",
                            "3 Dateien gelöscht. ", "1,5 KB kopiert. ", "1 Verzeichnis gelöscht. ",
                            "2 Dateien konnten nicht gelöscht werden. ", "1 Fehler. "}));
}

TEST(CopyStatistics, FoundAndDeletionTexts) {
    TCopyStatistics s;
    s.fSourceDirs = 1;
    EXPECT_EQ(s.sourceFoundText(), "0 Dateien in 1 Verzeichnis gefunden");
    s.fDestFiles = 1;
    s.fDestDirs = 1200;
    EXPECT_EQ(s.destFoundText(), "1 Datei in 1.200 Verzeichnissen gefunden");
    EXPECT_EQ(s.deletionText(), "  keine Dateien gelöscht.");
    s.fDirsDeleted = 1;
    EXPECT_EQ(s.deletionText(), "    1 leeres Verzeichnis gelöscht.");
    s.fDeleted = 3;
    s.fNotDeleted = 1;
    s.fDirsDeleted = 2;
    EXPECT_EQ(s.deletionText(),
              "  3 Dateien gelöscht, 1 Datei NICHT gelöscht, 2 leere Verzeichnisse gelöscht.");
    s.fErrors = 1;
    s.fDirsDeleted = 1234;
    EXPECT_EQ(s.deletionText(),
              "  3 Dateien gelöscht, 1 Datei NICHT gelöscht, 1 Fehler beim Löschen, "
              "1234 leere Verzeichnisse gelöscht.");
}

TEST(CopyStatistics, CompareAndMerge) {
    TCopyStatistics a, b;
    EXPECT_FALSE(a.compareWith(b, nullptr));
    std::vector<std::string> out{"alt"};
    EXPECT_TRUE(a.compareWith(b, &out));
    EXPECT_TRUE(out.empty());
    a.fNotCopied = 1;
    b.fSourceDirs = 1200;
    a.fCopiedBytes = 99;  // totals are not compared
    EXPECT_FALSE(a.compareWith(b, &out));
    EXPECT_EQ(out,
              (std::vector<std::string>{"Abweichung: Ist = 1, Soll = 0 NICHT kopiert ersetzt.",
                                        "Abweichung: Ist = 0, Soll = 1.200 Quellverzeichnisse."}));
    a.fCurrent = 7;
    b.fCurrent = 3;
    b.fAdded = 2;
    b.fCopiedBytes = 1;
    a.addFrom(b);
    EXPECT_EQ(a.fCurrent, 3);
    EXPECT_EQ(a.fAdded, 2);
    EXPECT_EQ(a.fSourceDirs, 1200);
    EXPECT_EQ(a.fCopiedBytes, 100);
    a.summaryText();
    a.reset();
    EXPECT_EQ(a.fAdded, 0);
    EXPECT_FALSE(a.fLines.empty());  // reset keeps the last lines
}

}  // namespace
}  // namespace qvb
