// Runs of real jobs on temporary trees through the run control: the protocol
// frame, the banners, the overall result, the view and the cancel action.

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/CopyFolder.h"
#include "engine/LogLevel.h"
#include "jobs/CopyJob.h"
#include "runcontrol/RunControl.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/DateTime.h"

namespace qvb {
namespace {

using test::file;
using test::TempDir;

class RunControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        control.hookJob(job);
        control.setCurrentJob(&job);
        job.fJobKey = "Job01";
        job.fJobName = "Fotos";
        job.setDestination(dir / "ziel/");
        control.setCallbacks({[this](bool running) { runningCalls.push_back(running); },
                              [this](const TRunView& view) { lastView = view; },
                              [this](int total, int fileP) {
                                  bars.push_back({total, fileP});
                              }});
    }
    void TearDown() override {
        setClock({});
        setLogLevel(1);
    }

    std::string addSource(const std::string& name, std::vector<test::TNode> nodes) {
        const std::string source = dir / (name + "/");
        test::buildTree(source, nodes);
        job.fSources.push_back(source + "=1");
        return source;
    }

    // The lines written since `from`, with the header's date and time masked.
    std::vector<std::string> linesFrom(size_t from = 0) const {
        std::vector<std::string> out;
        const auto& lines = protocol.lines();
        for (size_t i = from; i < lines.size(); ++i)
            out.push_back(std::regex_replace(
                lines[i], std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)"), "DATUM"));
        return out;
    }
    bool has(const std::string& line) const {
        const auto lines = linesFrom();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    TempDir dir;
    test::RecordingUserInterface ui;  // same-drive question: the unattended "Ja"
    TProtocol protocol;
    TRunControl control{protocol};
    TCopyJob job;
    std::vector<bool> runningCalls;
    TRunView lastView;
    std::vector<std::pair<int, int>> bars;
};

TEST_F(RunControlTest, FinishedRunIsFramedAndRecordsTheLastBackup) {
    addSource("quelle", {file("a.txt", "aaa"), file("b.txt", "bb")});
    setClock([] { return encodeDateTime({2026, 12, 7, 14, 30, 0}); });
    ASSERT_TRUE(control.runJob());

    const auto lines = linesFrom();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], " ");
    EXPECT_EQ(lines[1], "DATUM:  starte Backup-Job01 \"Fotos\"");
    EXPECT_EQ(lines[2], std::string(85, '-'));
    EXPECT_EQ(lines[3], "Zielverzeichnis \"" + dir.path() + "ziel/\" neu erstellt.");
    const size_t n = lines.size();
    EXPECT_EQ(lines[n - 3], "Backup-Job01 \"Fotos\" wurde erfolgreich ausgeführt.");
    EXPECT_EQ(lines[n - 2], "letzte Sicherung: DATUM");
    EXPECT_EQ(lines[n - 1], "");
    EXPECT_EQ(protocol.lines()[n - 2], "letzte Sicherung: 07.12.2026 14:30:00");
    EXPECT_FALSE(has("Gesamtergebnis:")) << "one source gives no overall result";
    EXPECT_FALSE(has("Zeittoleranz = 2 Sekunden"));

    EXPECT_EQ(job.fLastBackup, encodeDateTime({2026, 12, 7, 14, 30, 0}));
    EXPECT_EQ(runningCalls, (std::vector<bool>{true, false}));
    ASSERT_FALSE(bars.empty());
    EXPECT_EQ(bars.back(), (std::pair<int, int>{100, 100}));
    EXPECT_EQ(lastView.lastBackupText, "07.12.2026 14:30:00");
    EXPECT_EQ(lastView.copyText, "Backup-Job01 \"Fotos\" wurde erfolgreich ausgeführt.");
    EXPECT_EQ(lastView.sourceCountText, "2 Dateien in 1 Verzeichnis");
    EXPECT_TRUE(test::exists(dir / "ziel/"));
}

TEST_F(RunControlTest, TwoSourcesGetTheOverallResultAndTraceLevelTheTolerance) {
    addSource("eins", {file("a.txt", "a")});
    addSource("zwei", {file("b.txt", "b"), file("c.txt", "c")});
    setLogLevel(4);
    job.fTimeTolerance = 7;
    ASSERT_TRUE(control.runJob());
    EXPECT_TRUE(has("Zeittoleranz = 7 Sekunden"));
    const auto lines = linesFrom();
    const auto overall = std::find(lines.begin(), lines.end(), "Gesamtergebnis:");
    ASSERT_NE(overall, lines.end());
    EXPECT_EQ(*(overall + 1), "3 Dateien hinzugefügt. ") << "the first summary line follows";
    EXPECT_LT(std::find(lines.begin(), lines.end(),
                        "Backup-Job01 \"Fotos\" wurde erfolgreich ausgeführt."),
              overall);
}

TEST_F(RunControlTest, TwoEmptySourcesSayThereAreNoFiles) {
    addSource("eins", {test::dir("")});
    addSource("zwei", {test::dir("")});
    ASSERT_TRUE(control.runJob());
    const auto lines = linesFrom();
    const auto overall = std::find(lines.begin(), lines.end(), "Gesamtergebnis:");
    ASSERT_NE(overall, lines.end());
    EXPECT_EQ(*(overall + 1), "  keine Dateien im Quellverzeichnis.");
}

TEST_F(RunControlTest, ErrorsGetTheFramedBannerInSingularOrPlural) {
    job.fSources.push_back(dir / "fehlt1/=1");
    addSource("gut", {file("a.txt", "a")});
    ASSERT_TRUE(control.runJob());
    const std::string frame = "  ***************************************************** ";
    auto lines = linesFrom();
    auto banner = std::find(lines.begin(), lines.end(),
                            "  Es ist ein FEHLER augetreten, bitte Protokoll prüfen! ");
    ASSERT_NE(banner, lines.end());
    EXPECT_EQ(*(banner - 1), frame);
    EXPECT_EQ(*(banner + 1), frame);
    EXPECT_EQ(*(banner - 2),
              "Backup-Job01 \"Fotos\" wurde ausgeführt, aber es sind Fehler aufgetreten.");

    const size_t before = protocol.lines().size();
    job.fSources.insert(job.fSources.begin(), {dir / "fehlt2/=1", dir / "fehlt3/=1"});
    control.runJob();
    lines = linesFrom(before);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "  Es sind 3 FEHLER augetreten, bitte Protokoll prüfen! "),
              lines.end());
}

TEST_F(RunControlTest, CancelStopsTheRunAndKeepsTheLastBackup) {
    addSource("quelle", {file("a.txt", std::string(300000, 'a')), file("b.txt", "b")});
    job.fLastBackup = 1234.0;
    bool cancelled = false;
    ui.onEvents = [&] {
        if (!cancelled && control.running() && job.fCopyFolder->fStatus == csRunning) {
            cancelled = true;
            control.cancel();
        }
    };
    EXPECT_FALSE(control.runJob());
    ASSERT_TRUE(cancelled);
    EXPECT_TRUE(has("  ->  Vorgang abgebrochen!"));
    EXPECT_TRUE(has("Backup-Job01 \"Fotos\" wurde vom Benutzer abgebrochen."));
    EXPECT_FALSE(has("letzte Sicherung: DATUM"));
    EXPECT_EQ(job.fLastBackup, 1234.0);
    EXPECT_EQ(runningCalls, (std::vector<bool>{true, false}));
}

TEST_F(RunControlTest, CancelWithoutARunOnlyNotesIt) {
    control.cancel();
    EXPECT_EQ(protocol.lines(), (std::vector<std::string>{"  ->  Vorgang abgebrochen!"}));
    EXPECT_EQ(job.fStatus, csIdle);
}

TEST_F(RunControlTest, NewJobWithoutKeyAndAJobChosenDuringTheRun) {
    addSource("quelle", {file("a.txt", "a")});
    job.fJobKey.clear();
    TCopyJob other;
    other.fJobName = "Andere";
    bool switched = false;
    ui.onEvents = [&] {
        if (!switched && control.running()) {
            switched = true;
            control.setCurrentJob(&other);
        }
    };
    ASSERT_TRUE(control.runJob());
    EXPECT_EQ(linesFrom()[1], "DATUM:  starte Backup- \"Fotos\"");
    EXPECT_TRUE(has("Backup- \"Fotos\" wurde erfolgreich ausgeführt."));
    EXPECT_GT(job.fLastBackup, 0.0);
    EXPECT_EQ(other.fLastBackup, 0.0) << "only the job that ran gets its time";
    EXPECT_EQ(control.currentJob(), &other);
}

// Whatever a run throws, the program is unlocked again and the run counts
// as failed with one error.
TEST_F(RunControlTest, AnythingThrownEndsTheRunAsAnError) {
    addSource("quelle", {file("a.txt", "a")});
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[] { throw std::runtime_error("Platte weg"); }, "FEHLER:  Platte weg"},
        {[] { throw 42; }, "FEHLER:  Unbekannter Fehler"},
    };
    for (const auto& [thrower, line] : cases) {
        runningCalls.clear();
        job.fStatistics.fErrors = 0;
        const size_t from = protocol.lines().size();
        ui.onEvents = [&, thrower = thrower] {
            if (control.running()) thrower();
        };
        EXPECT_FALSE(control.runJob()) << line;
        ui.onEvents = {};
        const auto lines = linesFrom(from);
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
        EXPECT_NE(std::find(lines.begin(), lines.end(),
                            "  Es ist ein FEHLER augetreten, bitte Protokoll prüfen! "),
                  lines.end());
        EXPECT_EQ(job.fStatus, csError);
        EXPECT_EQ(runningCalls, (std::vector<bool>{true, false})) << line;
        EXPECT_FALSE(control.running());
    }
}

TEST(RunControlText, CountText) {
    EXPECT_EQ(TRunControl::countText(1, 1), "1 Datei in 1 Verzeichnis");
    EXPECT_EQ(TRunControl::countText(0, 2), "0 Dateien in 2 Verzeichnissen");
    EXPECT_EQ(TRunControl::countText(12345, 0), "12345 Dateien in 0 Verzeichnissen");
}

}  // namespace
}  // namespace qvb
