// The self-test on private temporary roots with small files and no real
// waiting: a full pass, the failure lines of a wrong count and of failed
// preparations, and the clean-up that never leaves its roots.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "jobs/CopyJob.h"
#include "runcontrol/RunControl.h"
#include "selftest/QV_BackupTest.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/DateTime.h"
#include "util/Sys.h"

namespace qvb {
namespace {

using test::exists;
using test::TempDir;

class SelfTestTest : public ::testing::Test {
  protected:
    SelfTestTest() {
        ::mkdir((dir / "quellen").c_str(), 0700);
        ::mkdir((dir / "ziele").c_str(), 0700);
        configure(test);
    }
    void configure(TSelfTest& selfTest) {
        selfTest.fFileSize = 20;
        selfTest.fSeed = 7;
        // Instead of waiting, the copy of the file about to change is made a
        // minute older, as the wait of the real test would.
        selfTest.fSleep = [this, &selfTest](int ms) {
            sleeps.push_back(ms);
            const std::string copy = selfTest.dest() + selfTest.dir1().substr(1) + "TestDatei1.txt";
            if (sleeps.size() % 21 == 1 && exists(copy)) {
                struct stat st {};
                ::stat(copy.c_str(), &st);
                test::setMtime(copy, st.st_mtime - 60);
            }
        };
    }
    ~SelfTestTest() override { sys::setFaultHook({}); }

    size_t count(const std::string& line) const {
        const auto& l = protocol.lines();
        return static_cast<size_t>(std::count(l.begin(), l.end(), line));
    }
    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& line : protocol.lines())
            if (line.rfind(prefix, 0) == 0) out.push_back(line);
        return out;
    }
    // The line that follows `line` (empty when there is none).
    std::string after(const std::string& line, size_t distance = 1) const {
        const auto& l = protocol.lines();
        const auto it = std::find(l.begin(), l.end(), line);
        if (it == l.end() || static_cast<size_t>(l.end() - it) <= distance) return "<fehlt>";
        return *(it + static_cast<long>(distance));
    }
    void expectRootsRemovedButNotTheirParents() {
        EXPECT_FALSE(exists(roots.source));
        EXPECT_FALSE(exists(roots.dest));
        EXPECT_TRUE(exists(dir / "quellen/"));
        EXPECT_TRUE(exists(dir / "ziele/"));
    }

    TempDir dir;
    test::RecordingUserInterface ui;
    TProtocol protocol;
    TRunControl control{protocol};
    TSelfTestRoots roots{dir / "quellen/TmpQ/", dir / "ziele/TmpZ/"};
    TSelfTest test{control, roots};
    std::vector<int> sleeps;
};

TEST_F(SelfTestTest, EveryStepPassesAndTheRootsAreRemovedAfterwards) {
    TCopyJob previous;
    control.setCurrentJob(&previous);
    ASSERT_TRUE(test.runAndReport()) << [&] {
        std::string all;
        for (const auto& l : protocol.lines()) all += l + "\n";
        return all;
    }();
    EXPECT_EQ(protocol.lines().front(), "Start Selbsttest");
    EXPECT_EQ(protocol.lines().back(), "Der Selbsttest wurde erfolgreich durchgeführt.");
    EXPECT_EQ(control.currentJob(), &previous) << "the previous current job is back";

    const auto expected = linesStartingWith("SOLL:");
    ASSERT_EQ(expected.size(), 15u);
    EXPECT_EQ(expected[0],
              "SOLL:   Quelle = 5, Ziel = 0, 5 Dateien erstellt, 0 Dateien ersetzt, 0 Dateien "
              "übersprungen, 0 Dateien gelöscht");
    EXPECT_EQ(expected[14],
              "SOLL:   Quelle = 16, Ziel = 0, 16 Dateien erstellt, 0 Dateien ersetzt, 0 Dateien "
              "übersprungen, 0 Dateien gelöscht");
    for (const char* header :
         {"Schritt 1: Testdateien und Verzeichnisse erzeugen",
          "Schritt 2: neue Testdateien erzeugen", "Schritt 11: 5 weitere Testdateien erzeugen",
          "Schritt 12a: leeres Unterverzeichnis hinzufügen",
          "Schritt 13: Drittes Quellverzeichnis deaktivieren und Option \"Löschen\" ein",
          "Schritt 16: automatischen BackupJob \"wöchentlich\" erzeugen und 3 Quellverzeichnisse "
          "hinzufügen",
          "letzter Schritt: Testdateien und -Verzeichnisse wieder löschen"})
        EXPECT_EQ(count(header), 1u) << header;
    EXPECT_EQ(count("Testverzeichnis " + test.dest() + " erzeugt."), 1u);
    EXPECT_EQ(count("Datei \"" + test.dir1() + "TestDatei7.txt\" erzeugt"), 1u)
        << "step 4 numbers on after the existing files";
    EXPECT_EQ(count("Datei \"" + test.dir2() + "TestDatei1.txt\" erzeugt"), 1u);
    EXPECT_EQ(after("Speichern der geänderten Datei wird verzögert..."), "noch 10 Sekunden...");
    EXPECT_EQ(after("Speichern der geänderten Datei wird verzögert...", 11), "noch 0 Sekunden...");
    EXPECT_EQ(sleeps, std::vector<int>(21, 500));
    EXPECT_TRUE(linesStartingWith("Abweichung").empty());
    EXPECT_EQ(count("letzter Schritt: fehlgeschlagen"), 0u);
    expectRootsRemovedButNotTheirParents();
}

TEST_F(SelfTestTest, WrongCountFailsTheStepAndStopsTheSequence) {
    test.fBeforeRun = [this](const std::string& step) {
        if (step == "4") test::writeFile(test.dir1() + "Fremd.txt", "x");
    };
    EXPECT_FALSE(test.runAndReport());
    EXPECT_EQ(after("Schritt 4: Verifizierung fehlgeschlagen"),
              "Abweichung: Ist = 3, Soll = 2 Dateien hinzugefügt.");
    EXPECT_EQ(after("Schritt 4: Verifizierung fehlgeschlagen", 2),
              "Abweichung: Ist = 8, Soll = 7 Quelldateien.");
    EXPECT_EQ(after("Schritt 4: Verifizierung fehlgeschlagen", 3),
              "letzter Schritt: Testdateien und -Verzeichnisse wieder löschen");
    EXPECT_EQ(linesStartingWith("SOLL:").size(), 2u) << "no later step runs";
    EXPECT_EQ(protocol.lines().back(), "Der Selbsttest ist fehlgeschlagen!");
    expectRootsRemovedButNotTheirParents();
}

TEST_F(SelfTestTest, FailedPreparationLogsItsLineAndSkipsTheRun) {
    // The first attempt to delete TestDatei1.txt (step 7) fails; the clean-up's works.
    const std::string victim = test.dir1() + "TestDatei1.txt";
    int attempts = 0;
    sys::setFaultHook([&](sys::Op op, const char* path) {
        return op == sys::Op::Unlink && path && victim == path && ++attempts == 1 ? EACCES : 0;
    });
    EXPECT_FALSE(test.runSelfTest());
    EXPECT_EQ(after("Datei \"" + victim + "\" konnte nicht gelöscht werden!"),
              "Fehler beim Löschen einer Datei");
    EXPECT_EQ(after("Fehler beim Löschen einer Datei"),
              "letzter Schritt: Testdateien und -Verzeichnisse wieder löschen");
    EXPECT_EQ(linesStartingWith("SOLL:").size(), 4u) << "steps 3 to 6";
    EXPECT_EQ(count("Schritt 7: Verifizierung fehlgeschlagen"), 0u);
    expectRootsRemovedButNotTheirParents();
}

TEST_F(SelfTestTest, FailedFilesOfStepFourStillShowTheExpectedCounts) {
    const std::string victim = test.dir1() + "TestDatei6.txt";
    sys::setFaultHook([&](sys::Op op, const char* path) {
        return op == sys::Op::Open && path && victim == path ? ENOSPC : 0;
    });
    EXPECT_FALSE(test.runSelfTest());
    EXPECT_EQ(after("Datei \"" + victim + "\" konnte nicht geschrieben werden!"),
              "SOLL:   Quelle = 7, Ziel = 5, 2 Dateien erstellt, 0 Dateien ersetzt, 5 Dateien "
              "übersprungen, 0 Dateien gelöscht");
    EXPECT_EQ(after("Schritt 4: Verifizierung fehlgeschlagen"), "") << "nothing was compared";
    EXPECT_EQ(count(" "), 2u) << "only the run of step 3 happened";
}

TEST_F(SelfTestTest, LeftoversAreClearedWithoutFollowingLinks) {
    test::buildTree(dir / "draussen/", {test::file("wichtig.txt", "bleibt")});
    ::mkdir(roots.source.c_str(), 0755);
    test::buildTree(
        test.dir3(),
        {test::file("alt.txt", "a"), test::dir("leer/"), test::file("tief/tiefer/x.txt", "x"),
         test::link("verweis", dir / "draussen/"), test::file(".versteckt", "v")});
    EXPECT_TRUE(test.clearTestDir(test.dir3()));
    EXPECT_TRUE(exists(roots.source)) << "a root goes only with its mark, at the end";
    EXPECT_FALSE(exists(test.dir3()));
    EXPECT_EQ(test::readFile(dir / "draussen/wichtig.txt"), "bleibt");
    EXPECT_EQ(count("Lösche Dateien in \"" + test.dir3() + "\":"), 1u);
    EXPECT_EQ(count(" Datei  " + test.dir3() + "alt.txt  gelöscht"), 1u);
    EXPECT_EQ(count(" Verzeichnis  " + test.dir3() + "  gelöscht"), 1u);

    EXPECT_TRUE(test.clearTestDir(test.dir2())) << "a missing folder is no failure";
}

// The destination root as the test finds it: what it holds without the test's
// mark is never removed, the root included; the leftovers of an interrupted
// run below a marked root are cleared.
TEST_F(SelfTestTest, OnlyWhatTheTestMadeIsEverDeleted) {
    const struct {
        const char* what;
        std::vector<test::TNode> before;
        bool passes;
        bool rootStays;
    } cases[] = {
        {"empty", {test::dir("")}, true, true},
        {"foreign",
         {test::file("eigen.txt", "mein"), test::file("Backup/brief.txt", "b")},
         false,
         true},
        {"foreign mark",
         {test::link(TSelfTest::kRootMark, "/dev/null"), test::file("a", "a")},
         false,
         true},
        {"interrupted",
         {test::file(TSelfTest::kRootMark, "x"), test::file("Backup/alt/TestDatei1.txt", "alt")},
         true,
         false},
    };
    int number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = std::to_string(++number) + "/";
        const TSelfTestRoots caseRoots{dir / "quellen/" + name, dir / "ziele/" + name};
        test::buildTree(caseRoots.dest, c.before);
        ::chmod(caseRoots.dest.c_str(), 0700);
        const auto before = test::readTree(caseRoots.dest);
        TSelfTest selfTest(control, caseRoots);
        configure(selfTest);
        const size_t start = protocol.lines().size();
        EXPECT_EQ(selfTest.runSelfTest(), c.passes);
        EXPECT_EQ(exists(caseRoots.dest), c.rootStays);
        EXPECT_FALSE(exists(caseRoots.source)) << "the source root was the test's own";
        if (!c.passes) {
            EXPECT_EQ(
                std::count(protocol.lines().begin() + static_cast<long>(start),
                           protocol.lines().end(),
                           "FEHLER:  Das Testverzeichnis \"" + caseRoots.dest +
                               "\" enthält Dateien, die nicht vom Selbsttest stammen; es wird "
                               "nichts gelöscht."),
                1);
            EXPECT_EQ(test::readTree(caseRoots.dest), before);
        } else if (c.rootStays) {
            EXPECT_TRUE(test::readTree(caseRoots.dest).empty()) << "its mark is gone too";
        }
    }
}

TEST_F(SelfTestTest, ForeignRootIsNeverTouched) {
    test::buildTree(dir / "fremd/", {test::file("Verz_01/TestDatei1.txt", "fremd")});
    ASSERT_EQ(::symlink((dir / "fremd").c_str(), (dir / "quellen/TmpQ").c_str()), 0);
    EXPECT_FALSE(test.runSelfTest());
    EXPECT_EQ(count("FEHLER:  Das Testverzeichnis \"" + roots.source +
                    "\" ist kein eigenes Verzeichnis des Benutzers."),
              1u);
    EXPECT_EQ(after("Schritt 1: Testdateien und Verzeichnisse erzeugen"),
              "Schritt 1: fehlgeschlagen");
    EXPECT_EQ(test::readFile(dir / "fremd/Verz_01/TestDatei1.txt"), "fremd");
}

TEST_F(SelfTestTest, AnExistingRootKeepsItsModeAndANewOneIsPrivate) {
    ::mkdir(roots.dest.c_str(), 0755);
    ::chmod(roots.dest.c_str(), 0755);
    mode_t sourceMode = 0, destMode = 0;
    test.fBeforeRun = [&](const std::string& step) {
        struct stat st {};
        if (step != "3") return;
        ::stat(roots.source.c_str(), &st);
        sourceMode = st.st_mode & 07777;
        ::stat(roots.dest.c_str(), &st);
        destMode = st.st_mode & 07777;
    };
    EXPECT_TRUE(test.runSelfTest());
    EXPECT_EQ(sourceMode, 0700u);
    EXPECT_EQ(destMode, 0755u) << "never chmodded";
}

// Copies that have the right counts but not the source's bytes or time:
// zeros of the right size after step 3, a time the copier never set after 16.
TEST_F(SelfTestTest, CopiesThatDifferFromTheirSourcesFailTheTest) {
    const std::string copy = test.dest() + test.dir1().substr(1) + "TestDatei2.txt";
    test.fAfterRun = [&](const std::string& step) {
        if (step != "3") return;
        struct stat st {};
        ::stat(copy.c_str(), &st);
        test::writeFile(copy, std::string(static_cast<size_t>(st.st_size), '\0'));
        test::setMtime(copy, st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    };
    EXPECT_FALSE(test.runSelfTest());
    EXPECT_EQ(after("Schritt 3: Verifizierung fehlgeschlagen"),
              "Abweichung: Der Inhalt der Kopie \"" + copy + "\" weicht vom Original ab.");
    EXPECT_EQ(linesStartingWith("SOLL:").size(), 1u);
    expectRootsRemovedButNotTheirParents();
}

// The run is over when the hook sees the trees, and the job's folder is that
// of its next run: the copy is found by its name below the weekly folder.
class WeeklyCopyTime : public SelfTestTest {
  protected:
    void shiftCopyAfterStep16(long seconds) {
        test.fAfterRun = [this, seconds](const std::string& step) {
            if (step != "16") return;
            for (const auto& [path, what] : test::readTree(test.dest()))
                if (path.rfind("wöchentlich/", 0) == 0 &&
                    path.find("Verz_03/TestDatei5.txt") != std::string::npos)
                    copy = test.dest() + path;
            struct stat st {};
            ::stat(copy.c_str(), &st);
            test::setMtime(copy, st.st_mtim.tv_sec + seconds, st.st_mtim.tv_nsec);
        };
    }
    std::string copy;
};

TEST_F(WeeklyCopyTime, ASecondOffIsWithinTheSlack) {
    shiftCopyAfterStep16(1);
    EXPECT_TRUE(test.runSelfTest());
    EXPECT_FALSE(copy.empty());
    EXPECT_TRUE(linesStartingWith("Abweichung").empty());
}

TEST_F(WeeklyCopyTime, ThreeSecondsOffFailTheTest) {
    shiftCopyAfterStep16(-3);
    EXPECT_FALSE(test.runSelfTest());
    EXPECT_EQ(after("Schritt 16: Verifizierung fehlgeschlagen"),
              "Abweichung: Die Dateizeit der Kopie \"" + copy +
                  "\" weicht um 3 Sekunden vom Original ab.");
    EXPECT_EQ(linesStartingWith("SOLL:").size(), 15u) << "the counters passed";
}

// Late on a Sunday the next runs of the hourly, daily and weekly job lie in the
// next hour, day and week; the runs write into their own, and the copies are
// checked there.
TEST_F(SelfTestTest, TheAutomaticStepsWriteIntoTheFoldersOfTheirOwnPeriod) {
    setClock([] { return encodeDateTime({2027, 2, 14, 23, 30, 0, 0}); });
    std::vector<std::string> folders;
    test.fAfterRun = [&](const std::string& step) {
        if (step >= "14" && step <= "16")
            for (const auto& [path, what] : test::readTree(test.dest()))
                if (path.find('_') != std::string::npos && what == "dir" &&
                    std::count(path.begin(), path.end(), '/') == 2 &&
                    std::find(folders.begin(), folders.end(), path) == folders.end())
                    folders.push_back(path);
    };
    const bool passed = test.runSelfTest();
    setClock({});
    EXPECT_TRUE(passed);
    EXPECT_TRUE(linesStartingWith("Abweichung").empty());
    EXPECT_EQ(folders,
              (std::vector<std::string>{"stündlich/h_23/", "täglich/d_14/", "wöchentlich/w_06/"}));
}

TEST_F(SelfTestTest, GeneratedFilesAndTheirNames) {
    EXPECT_FALSE(test.createTestFiles(2, 20, dir / "fehlt/", false));
    EXPECT_TRUE(protocol.empty()) << "a missing folder writes nothing";

    const std::string folder = dir / "quellen/";
    test::writeFile(folder + "TestDatei2.txt", "alt");
    ASSERT_TRUE(test.createTestFiles(2, 40, folder, false));
    EXPECT_TRUE(exists(folder + "TestDatei1.txt"));
    EXPECT_TRUE(exists(folder + "TestDatei3.txt"));
    EXPECT_EQ(test::readFile(folder + "TestDatei2.txt"), "alt");
    const std::string text = test::readFile(folder + "TestDatei1.txt");
    EXPECT_EQ(text, test::readFile(folder + "TestDatei3.txt")) << "one content per call";
    const std::string line = text.substr(0, text.find("\r\n"));
    const std::string word = line.substr(0, line.find(','));
    EXPECT_TRUE(word.size() == 2u || word.size() == 3u) << "(0..19 + 20) / 10 letters";
    EXPECT_TRUE(std::all_of(word.begin(), word.end(), [](char c) { return c >= 'A' && c <= 'Z'; }));
    const size_t words = static_cast<size_t>(std::count(line.begin(), line.end(), ',')) + 1;
    const size_t lines = text.size() / (line.size() + 2);
    EXPECT_EQ(text.size() % (line.size() + 2), 0u);
    EXPECT_GE(words, 20u);
    EXPECT_LT(words, 40u);
    EXPECT_EQ(protocol.lines()[0], "erzeuge Zeile mit " + std::to_string(words) +
                                       " Wörtern zu je " + std::to_string(word.size()) +
                                       " Zeichen");
    EXPECT_EQ(protocol.lines()[1], "erzeuge Testdatei mit " + std::to_string(lines) + " Zeilen");
    EXPECT_EQ(protocol.lines()[2], "speichere 2 Testdateien");

    ASSERT_TRUE(test.createTestFiles(1, 40, folder, true));
    EXPECT_NE(test::readFile(folder + "TestDatei1.txt"), text) << "overwrite starts at 1 again";
}

}  // namespace
}  // namespace qvb
