#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/ProgramRun.h"
#include "engine/CopyFolder.h"
#include "engine/LogLevel.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/Mounts.h"
#include "util/Sys.h"

namespace qvb {
namespace {

using test::dir;
using test::exists;
using test::file;
using test::readFile;
using test::readTree;
using test::writeFile;

constexpr time_t kT = 1700000000;

using Lines = std::vector<std::string>;

class CopyFolderTest : public ::testing::Test {
  protected:
    CopyFolderTest() {
        mirror.setPassTo(mirror.fCopier.get());
        mirror.fSource = src;
        mirror.fDest = dst;
        mirror.fTimeTolerance = 2;
    }
    ~CopyFolderTest() override { sys::setFaultHook({}); }

    bool run() {
        const bool ok = mirror.Execute();
        log = mirror.takeMessages();
        const Lines copierLines = mirror.fCopier->takeMessages();
        copierLog.insert(copierLog.end(), copierLines.begin(), copierLines.end());
        return ok;
    }
    bool logged(const std::string& line) const {
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    // In sorted order: the lists keep the order in which folders were read.
    Lines linesStartingWith(const std::string& prefix) const {
        Lines out;
        for (const std::string& line : log)
            if (line.rfind(prefix, 0) == 0) out.push_back(line);
        std::sort(out.begin(), out.end());
        return out;
    }

    test::RecordingUserInterface ui;
    test::TempDir tmp;
    std::string src = tmp / "src/";
    std::string dst = tmp / "dst/";
    TCopyFolder mirror;
    Lines log;
    Lines copierLog;
};

TEST_F(CopyFolderTest, FirstRunCreatesEverythingAndLogsEachStep) {
    test::buildTree(src, {file("a.txt", "A", kT), file("sub/b.txt", "B", kT), dir("empty/")});
    ASSERT_TRUE(run());
    EXPECT_EQ(
        log,
        (Lines{"durchsuche Quellverzeichnis " + src + "...",
               "  2 Dateien in 3 Verzeichnissen gefunden",
               "durchsuche Zielverzeichnis " + dst + "...", "  0 Dateien in 1 Verzeichnis gefunden",
               "kopiere neue und geänderte Dateien...", "  erstelle " + dst + "a.txt",
               "  erstelle " + dst + "sub/b.txt", "erzeuge leere Ordner im Zielverzeichnis...",
               "    erzeuge " + dst + "empty/", "1 leeres Verzeichnis angelegt",
               "2 Dateien bearbeitet."}));
    EXPECT_EQ(readTree(dst, true), readTree(src, true));
    const TCopyStatistics& st = mirror.fStatistics;
    EXPECT_EQ(st.fAdded, 2);
    EXPECT_EQ(st.fCopiedBytes, 2);
    EXPECT_EQ(st.fCurrent, 2);
    EXPECT_EQ(mirror.fPercent, 100);
    EXPECT_EQ(mirror.fStatus, csDone);

    ASSERT_TRUE(run());
    EXPECT_TRUE(logged("  keine Dateien kopiert."));
    EXPECT_TRUE(logged(" keine leeren Verzeichnisse angelegt"));
    EXPECT_EQ(mirror.fStatistics.fSkipped, 2);
}

TEST_F(CopyFolderTest, ToleranceAndNewerDestination) {
    test::buildTree(src, {file("one", "new1", kT + 1), file("three", "new3", kT + 3),
                          file("older", "src", kT)});
    test::buildTree(
        dst, {file("one", "old1", kT), file("three", "old3", kT), file("older", "dst", kT + 100)});
    ASSERT_TRUE(run());
    EXPECT_EQ(linesStartingWith("  ersetze "), Lines{"  ersetze " + dst + "three"});
    EXPECT_TRUE(linesStartingWith("  erstelle ").empty());
    EXPECT_EQ(readFile(dst + "one"), "old1");
    EXPECT_EQ(readFile(dst + "three"), "new3");
    EXPECT_EQ(readFile(dst + "older"), "dst");
    EXPECT_EQ(mirror.fStatistics.fReplaced, 1);
    EXPECT_EQ(mirror.fStatistics.fSkipped, 2);
}

// Every file of the source ends in exactly one counter, whatever went wrong
// with it, and each failure is counted where it happened.
TEST_F(CopyFolderTest, ARunWithFailuresAccountsForEverySourceFile) {
    const time_t future = ::time(nullptr) + 3600 * 24 * 365;
    for (const int workers : {1, 2}) {
        SCOPED_TRACE(workers);
        test::removeTree(src);
        test::removeTree(dst);
        test::buildTree(src,
                        {file("a", "A", kT), file("same", "S", kT), file("newer", "N2", kT + 9),
                         file("gone", "G", kT), file("locked", "L", kT), file("bad/x", "X", kT),
                         file("bad/y", "Y", kT), file("na:me/z", "Z", kT), file("future", "F", kT),
                         file("resized", "R", kT), file("kept", "K", kT)});
        test::buildTree(dst, {file("same", "S", kT), file("newer", "N1", kT),
                              file("future", "f", future), file("resized", "RR", kT + 100),
                              file("kept", "k", kT + 100), file("surplus", "old", kT)});
        const std::string gone = src + "gone";
        const std::string locked = src + "locked";
        // A source is opened by its path or by its name in its folder.
        sys::setFaultHook([&](sys::Op op, const char* path) {
            const std::string p = path ? path : "";
            if (op == sys::Op::Open && (p == gone || p == "gone")) ::unlink(gone.c_str());
            if (op == sys::Op::Open && (p == locked || p == "locked")) return EACCES;
            if (op == sys::Op::Mkdir && p == "bad") return EROFS;
            if (op == sys::Op::Mkdir && p == "na:me") return EINVAL;
            return 0;
        });
        mirror.fWorkers = workers;
        mirror.setDelete(true);
        log.clear();
        copierLog.clear();
        ASSERT_TRUE(run());
        sys::setFaultHook({});
        const TCopyStatistics& st = mirror.fStatistics;
        EXPECT_EQ(st.fAdded + st.fReplaced + st.fSkipped + st.fNotCopied, st.fSourceFiles);
        EXPECT_EQ(st.fSourceFiles, 11);
        EXPECT_EQ(st.fAdded, 1);
        EXPECT_EQ(st.fReplaced, 3);  // newer, and the two newer copies that cannot be right
        EXPECT_EQ(st.fSkipped, 2);   // same, and the newer copy of the same size
        EXPECT_EQ(st.fNotCopied, 5);
        EXPECT_EQ(st.fErrors, 4);    // locked, both folders, the second file of "bad"
        EXPECT_EQ(st.fWarnings, 3);  // gone, future, resized
        EXPECT_EQ(readFile(dst + "future"), "F");
        EXPECT_EQ(readFile(dst + "resized"), "R");
        EXPECT_EQ(readFile(dst + "kept"), "k");
        EXPECT_TRUE(
            logged("FEHLER: das Zielverzeichnis \"" + dst + "bad/\" ist schreibgeschützt!"));
        EXPECT_TRUE(logged("FEHLER:  kann Verzeichnis \"" + dst +
                           "na:me/\" nicht erstellen: Der Name kann im Zielverzeichnis nicht "
                           "gespeichert werden"));
        for (const char* name : {"future", "resized"})
            EXPECT_TRUE(logged("WARNUNG:  Die Kopie \"" + dst + name +
                               "\" ist neuer als ihre Quelle, hat aber eine andere Größe oder "
                               "eine Zeit in der Zukunft; sie wird ersetzt."));
        const Lines& lines = workers > 1 ? log : copierLog;
        const auto has = [&](const std::string& line) {
            return std::find(copierLog.begin(), copierLog.end(), line) != copierLog.end() ||
                   std::find(lines.begin(), lines.end(), line) != lines.end();
        };
        EXPECT_TRUE(has("WARNUNG:  Die Quelldatei \"" + gone + "\" ist nicht mehr vorhanden."));
        EXPECT_TRUE(has("FEHLER:  Die Quelldatei \"" + locked +
                        "\" kann nicht gelesen werden: Zugriff verweigert"));
        // The copy errors are no deletion errors.
        EXPECT_FALSE(exists(dst + "surplus"));
        EXPECT_TRUE(logged("  1 Datei gelöscht."));
    }
}

TEST_F(CopyFolderTest, CopyOfAnotherSizeWithinTheToleranceIsReplaced) {
    test::buildTree(src, {file("growing.log", "complete", kT + 1), file("newer", "src", kT)});
    test::buildTree(dst, {file("growing.log", "comp", kT), file("newer", "dst", kT + 100)});
    ASSERT_TRUE(run());
    EXPECT_EQ(linesStartingWith("  ersetze "), Lines{"  ersetze " + dst + "growing.log"});
    EXPECT_EQ(readFile(dst + "growing.log"), "complete");
    EXPECT_EQ(readFile(dst + "newer"), "dst");
}

TEST_F(CopyFolderTest, OddNamesKeepTheirBytes) {
    test::buildTree(src, {file("a=b.txt", "1"), file("x<y", "2"), file("new\nline", "3"),
                          file("bad\xff\xfe", "4"), file("sub=dir/c<d=e", "5"),
                          file("-rf $(touch PWNED)", "6")});
    ASSERT_TRUE(run());
    EXPECT_EQ(readTree(dst, true), readTree(src, true));
    ASSERT_TRUE(run());
    EXPECT_EQ(mirror.fStatistics.fSkipped, 6);
    EXPECT_FALSE(exists("PWNED"));
}

TEST_F(CopyFolderTest, DeleteOptionRemovesSurplusUpToButNotTheDestination) {
    test::buildTree(
        src, {file("keep.txt", "k", kT), file("drop.tmp", "x", kT), file("skipme/s.txt", "s", kT)});
    test::buildTree(
        dst, {file("keep.txt", "k", kT), file("drop.tmp", "x", kT), file("gone.txt", "g"),
              file("deep/er/x.txt", "x"), file("deep/er/y.txt", "y"), file("skipme/old.txt", "o")});
    mirror.fExclude = "*.tmp";
    mirror.fSkipFolders = "skipme";
    mirror.setDelete(true);
    ASSERT_TRUE(run());
    EXPECT_EQ(linesStartingWith("  lösche  "),
              (Lines{"  lösche  " + dst + "deep/er/x.txt", "  lösche  " + dst + "deep/er/y.txt",
                     "  lösche  " + dst + "drop.tmp", "  lösche  " + dst + "gone.txt"}));
    EXPECT_EQ(linesStartingWith(" Verzeichnis  "),
              (Lines{" Verzeichnis  " + dst + "deep/  gelöscht",
                     " Verzeichnis  " + dst + "deep/er/  gelöscht"}));
    EXPECT_TRUE(logged("  4 Dateien gelöscht, 2 leere Verzeichnisse gelöscht."));
    EXPECT_EQ(readTree(dst),
              (std::map<std::string, std::string>{
                  {"keep.txt", "file:k"}, {"skipme/", "dir"}, {"skipme/old.txt", "file:o"}}));

    // Everything old surplus: the destination folder itself stays.
    test::removeTree(src);
    test::removeTree(dst);
    test::buildTree(src, {dir("leer/")});
    test::buildTree(dst, {file("only/one.txt", "1")});
    mirror.fSkipFolders.clear();
    ASSERT_TRUE(run());
    EXPECT_TRUE(logged(" Verzeichnis  " + dst + "only/  gelöscht"));
    EXPECT_EQ(readTree(dst), (std::map<std::string, std::string>{{"leer/", "dir"}}));
}

// An unmounted disk leaves its mount point empty.
TEST_F(CopyFolderTest, EmptySourceDeletesNothingOfAFullDestination) {
    test::buildTree(src, {dir("")});
    test::buildTree(dst, {file("a.txt", "a"), file("sub/b.txt", "b")});
    mirror.setDelete(true);
    ASSERT_TRUE(run());
    EXPECT_TRUE(logged("FEHLER:  Das Quellverzeichnis \"" + src +
                       "\" ist leer, das Zielverzeichnis \"" + dst +
                       "\" enthält aber Dateien: es wird nichts gelöscht."));
    EXPECT_EQ(mirror.fStatistics.fErrors, 1);
    EXPECT_EQ(readTree(dst).size(), 3u);

    test::buildTree(src, {file(".hidden", "h")});
    ASSERT_TRUE(run());
    EXPECT_EQ(mirror.fStatistics.fErrors, 0) << "a hidden file is an entry: a real, emptied source";
    EXPECT_EQ(readTree(dst), (std::map<std::string, std::string>{{".hidden", "file:h"}}));
}

TEST_F(CopyFolderTest, LargeDeletionIsAskedForAndSkippedUnlessConfirmed) {
    std::vector<test::TNode> old;
    for (int i = 0; i < 60; ++i) old.push_back(file("alt/" + std::to_string(i), "x", kT));
    old.push_back(file("link", "x", kT));
    test::buildTree(dst, old);
    test::buildTree(src, {test::link("link", "ziel"), file("neu", "n", kT)});
    mirror.setDelete(true);
    ASSERT_TRUE(run());
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, "Im Zielverzeichnis \"" + dst +
                                    "\" würden 61 von 61 Dateien gelöscht.\r\nSollen diese "
                                    "Dateien wirklich gelöscht werden?")
        << "the link where the destination holds a file counts";
    EXPECT_EQ(ui.shown[0].kind, TMsgKind::Confirmation);
    EXPECT_EQ(ui.shown[0].buttons, unsigned{mbYes | mbNo | mbDefaultNo});  // Enter keeps the files
    EXPECT_TRUE(logged("WARNUNG:  Im Zielverzeichnis \"" + dst +
                       "\" wären 61 von 61 Dateien gelöscht worden; das Löschen wird "
                       "übersprungen."));
    EXPECT_EQ(mirror.fStatistics.fWarnings, 1);
    EXPECT_EQ(mirror.fStatistics.fAdded, 1) << "the copy phase goes on";
    EXPECT_TRUE(exists(dst + "alt/59"));
    EXPECT_TRUE(
        logged("FEHLER:  \"" + dst +
               "link\" ist im Zielverzeichnis eine Datei, in der Quelle eine symbolische "
               "Verknüpfung; ersetzt wird es nicht, weil in diesem Lauf nicht gelöscht wird"))
        << "the file in the way of the link stays while the deletion is held back";

    mirror.fAnswers = TAnswers::Unattended;
    ui.answers = {TMsgResult::Yes};
    ASSERT_TRUE(run());
    EXPECT_EQ(ui.shown.size(), 1u) << "nobody is asked in a run nobody watches";
    EXPECT_TRUE(exists(dst + "alt/59"));

    mirror.fAnswers = TAnswers::User;
    ASSERT_TRUE(run());
    EXPECT_EQ(mirror.fStatistics.fDeleted, 61) << "the file where the source has a link went too";
    EXPECT_EQ(test::readTree(dst).count("link"), 1u);
    EXPECT_EQ(test::readTree(dst).at("link"), test::readTree(src).at("link"));
    EXPECT_FALSE(exists(dst + "alt"));
}

TEST_F(CopyFolderTest, DeletionUpToHalfOrUpToFiftyFilesIsNotAsked) {
    std::vector<test::TNode> old;
    for (int i = 0; i < 51; ++i) old.push_back(file("alt/" + std::to_string(i), "x", kT));
    test::buildTree(dst, old);
    test::buildTree(src, {file("alt/0", "x", kT)});
    mirror.setDelete(true);
    mirror.fAllowMassDelete = true;
    ASSERT_TRUE(run());
    EXPECT_TRUE(ui.shown.empty()) << "allowed beforehand";
    EXPECT_EQ(mirror.fStatistics.fDeleted, 50);

    mirror.fAllowMassDelete = false;
    for (int i = 1; i < 51; ++i) test::writeFile(dst + "alt/" + std::to_string(i), "x", kT);
    ASSERT_TRUE(run());
    EXPECT_TRUE(ui.shown.empty()) << "50 files are not more than 50";
    EXPECT_EQ(mirror.fStatistics.fDeleted, 50);
}

TEST_F(CopyFolderTest, DeletionNeverFollowsALink) {
    const std::string outside = tmp / "outside/";
    test::buildTree(outside, {file("victim.txt", "precious"), file("x.txt", "also precious")});
    test::buildTree(src, {file("a", "A")});
    test::buildTree(dst, {test::link("lnk", outside), file("sub/x.txt", "surplus")});
    mirror.setDelete(true);
    // The folder is swapped for a link between listing and deleting.
    bool swapped = false;
    ui.onEvents = [&] {
        if (mirror.fStatus != csDone || swapped) return;
        swapped = ::rename((dst + "sub").c_str(), (dst + "moved").c_str()) == 0 &&
                  ::symlink(outside.c_str(), (dst + "sub").c_str()) == 0;
    };
    ASSERT_TRUE(run());
    ASSERT_TRUE(swapped);
    EXPECT_TRUE(logged("  lösche  " + dst + "lnk"));
    EXPECT_FALSE(logged("  lösche  " + dst + "sub/x.txt"));
    EXPECT_EQ(readFile(outside + "victim.txt"), "precious");
    EXPECT_EQ(readFile(outside + "x.txt"), "also precious");
}

TEST_F(CopyFolderTest, UnreadableSourceFolderProtectsItsCopyAndWarns) {
    test::buildTree(src, {file("a", "A"), file("locked/inner.txt", "I")});
    test::buildTree(dst, {file("locked/inner.txt", "old"), file("locked/more/deep.txt", "d")});
    bool sourceListed = false;  // only the source's folder is unreadable
    // The hook tells the listings apart by their order, so they run one after the other.
    mirror.fWorkers = 1;
    sys::setFaultHook([&](sys::Op op, const char* path) {
        if (op != sys::Op::Open || !path || std::string(path) != "locked" || sourceListed) return 0;
        sourceListed = true;
        return EACCES;
    });
    mirror.setDelete(true);
    ASSERT_TRUE(run());
    EXPECT_EQ(mirror.fStatistics.fWarnings, 1);
    EXPECT_EQ(mirror.fStatistics.fDeleted, 0);
    EXPECT_EQ(readFile(dst + "locked/inner.txt"), "old");
    EXPECT_TRUE(exists(dst + "locked/more/deep.txt"));
    EXPECT_EQ(mirror.fStatus, csWarnings);
    EXPECT_EQ(log.back(), "1 Dateien bearbeitet, aber es ist eine Warnung aufgetreten.");
}

TEST_F(CopyFolderTest, SpecialFilesAreSkippedAndLinksCopied) {
    test::buildTree(src, {file("a", "A"), test::link("l", "a")});
    ASSERT_EQ(::mkfifo((src + "p1").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((src + "p2").c_str(), 0644), 0);
    ASSERT_TRUE(run());
    EXPECT_EQ(readTree(dst, true),
              (std::map<std::string, std::string>{{"a", readTree(src, true).at("a")},
                                                  {"l", readTree(src, true).at("l")}}));
    EXPECT_EQ(mirror.fStatistics.fWarnings, 2);
    EXPECT_EQ(log.back(), "2 Dateien bearbeitet, aber es sind 2 Warnungen aufgetreten.");
}

TEST_F(CopyFolderTest, DestinationInsideTheSourceIsLeftOut) {
    test::buildTree(src, {file("a", "A"), file("b/c", "C")});
    mirror.fDest = src + "backup/";
    ASSERT_TRUE(run());
    ASSERT_TRUE(run());
    EXPECT_EQ(readTree(src + "backup/"), (std::map<std::string, std::string>{
                                             {"a", "file:A"}, {"b/", "dir"}, {"b/c", "file:C"}}));
}

TEST_F(CopyFolderTest, LeftoverTemporaryFilesAreRemovedUserFilesKept) {
    test::buildTree(src, {file("sub/a", "A"), file(".qvb-tmp-mine", "user's")});
    // The second: the private folder of a copy program that was killed.
    test::buildTree(dst, {file("sub/.qvb-tmp-1a-2", "half written"),
                          file("sub/.qvb-tmp-1a-3/a", "half written")});
    ASSERT_TRUE(run());
    EXPECT_EQ(readTree(dst),
              (std::map<std::string, std::string>{
                  {".qvb-tmp-mine", "file:user's"}, {"sub/", "dir"}, {"sub/a", "file:A"}}));
    EXPECT_EQ(mirror.fStatistics.fDestFiles, 0);
}

TEST_F(CopyFolderTest, CancelDuringALargeFileKeepsTheOldCopy) {
    test::buildTree(
        src, {file("a", "A"), file("big", std::string(8 << 20, 'n'), kT + 100), file("z", "Z")});
    test::buildTree(dst, {file("big", "old copy", kT)});
    ui.onEvents = [&] {
        const int p = mirror.fCopier->fPercent;
        if (p > 0 && p < 100) mirror.setStatus(csCancelled);
    };
    EXPECT_FALSE(run());
    EXPECT_EQ(readFile(dst + "big"), "old copy");
    for (const auto& [name, what] : readTree(dst)) EXPECT_NE(name.rfind(".qvb-tmp", 0), 0u);
    EXPECT_EQ(mirror.fStatistics.fNotCopied, 1);
    EXPECT_EQ(log.back(), "Kopieraktion nach " + std::to_string(mirror.fStatistics.fCurrent) +
                              " Dateien vom Benutzer abgebrochen.");
}

TEST_F(CopyFolderTest, CancelBetweenFilesStopsBeforeTheNext) {
    test::buildTree(src, {file("a", "A"), file("b", "B")});
    // Workers may have copied the next file already, and then report it
    // (CopyFolderWorkersTest); on one thread nothing after the cancel is copied.
    mirror.fWorkers = 1;
    ui.onEvents = [&] {
        if (mirror.fStatistics.fAdded == 1) mirror.setStatus(csCancelled);
    };
    EXPECT_FALSE(run());
    EXPECT_EQ(mirror.fStatistics.fAdded, 1);
    EXPECT_EQ(log.back(), "Kopieraktion nach 1 Dateien vom Benutzer abgebrochen.");
}

// A cancel pressed while the trees are listed ends the run before anything
// is written, with one or two threads listing.
TEST_F(CopyFolderTest, CancelDuringTheListingsWritesNothing) {
    std::vector<test::TNode> files;
    for (int i = 0; i < 300; ++i) files.push_back(file("f" + std::to_string(i), "x"));
    test::buildTree(src, files);
    bool armed = false;
    bool cancelled = false;
    ui.onEvents = [&] {
        if (armed && !cancelled && mirror.fStatus == csIdle) {
            cancelled = true;
            mirror.setStatus(csCancelled);
        }
    };
    for (int workers : {1, 2}) {
        mirror.fWorkers = workers;
        armed = false;
        mirror.setStatus(csIdle);
        armed = true;
        cancelled = false;
        EXPECT_FALSE(run()) << workers;
        EXPECT_TRUE(cancelled);
        EXPECT_EQ(mirror.fStatus, csCancelled);
        EXPECT_EQ(log.back(), "TCopyFolder.Execute: Kopieraktion abgebrochen") << workers;
        EXPECT_EQ(mirror.fStatistics.fAdded, 0);
        EXPECT_TRUE(test::readTree(dst).empty()) << workers;
    }
}

TEST_F(CopyFolderTest, FolderChecksAndScanFailures) {
    mirror.fSource.clear();
    EXPECT_FALSE(run());
    EXPECT_EQ(log, Lines{"FEHLER: das Quellverzeichnis ist nicht angegeben!"});
    mirror.fSource = tmp / "none/";
    EXPECT_FALSE(run());
    EXPECT_EQ(log, Lines{"FEHLER: das Quellverzeichnis existiert nicht!"});

    test::buildTree(src, {file("a", "A")});
    mirror.fSource = src;
    mirror.fDest = tmp / "no/dest/";
    sys::setFaultHook([](sys::Op op, const char*) { return op == sys::Op::Mkdir ? EACCES : 0; });
    EXPECT_FALSE(run());
    EXPECT_EQ(log, Lines{"FEHLER:  kann Verzeichnis \"" + tmp / "no/dest/" + "\" nicht erstellen"});
    EXPECT_EQ(mirror.fStatus, csError);

    mirror.fDest = dst;
    ::mkdir(dst.c_str(), 0755);
    const std::string root = src;
    sys::setFaultHook([root](sys::Op op, const char* path) {
        return op == sys::Op::Open && path && root.rfind(path, 0) == 0 ? EACCES : 0;
    });
    EXPECT_FALSE(run());
    EXPECT_EQ(mirror.fStatistics.fErrors, 1);
    EXPECT_EQ(log.back().rfind("Quellverzeichnis \"" + src + "\", ", 0), 0u) << log.back();
    EXPECT_FALSE(exists(dst + "a"));
}

TEST_F(CopyFolderTest, UnwritableDestinationFolderSkipsItsFiles) {
    test::buildTree(src, {file("sub/a", "A"), file("sub/b", "B"), file("c", "C")});
    ::mkdir(dst.c_str(), 0755);
    // Folders below the destination are made by name, relative to their parent.
    sys::setFaultHook([](sys::Op op, const char* path) {
        return op == sys::Op::Mkdir && path && std::string(path) == "sub" ? EROFS : 0;
    });
    ASSERT_TRUE(run());
    EXPECT_TRUE(logged("FEHLER: das Zielverzeichnis \"" + dst + "sub/\" ist schreibgeschützt!"));
    EXPECT_EQ(mirror.fStatistics.fErrors, 2);  // the folder, and the file the copier failed
    EXPECT_EQ(mirror.fStatistics.fAdded, 1);
    // The file behind the failed check, and the second one, which went to the copier.
    EXPECT_EQ(mirror.fStatistics.fNotCopied, 2);
    EXPECT_EQ(log.back(), "3 Dateien bearbeitet.");
}

// A run writes only into the folders whose files it changes: the others are
// neither tried for writing nor touched, their times and change times stay.
TEST_F(CopyFolderTest, OnlyFoldersWrittenIntoAreTriedForWriting) {
    test::buildTree(src,
                    {file("same/a", "A", kT), file("newer/b", "B", kT), file("added/c", "C", kT)});
    ASSERT_TRUE(run());
    writeFile(src + "newer/b", "B2", kT + 60);
    writeFile(src + "added/d", "D", kT);
    // Two names of one file whose copies are two files: the later name is
    // linked to the first name's copy, a write into its folder.
    writeFile(src + "one/l", "L", kT);
    ::mkdir((src + "two").c_str(), 0755);
    ASSERT_EQ(::link((src + "one/l").c_str(), (src + "two/l").c_str()), 0);
    test::buildTree(dst, {file("one/l", "L", kT), file("two/l", "L", kT)});
    const auto changeTime = [](const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return std::pair(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
    };
    const auto untouched = changeTime(dst + "same");
    // Every folder refuses the test file: only the two written into say so.
    sys::setFaultHook([](sys::Op op, const char* path) {
        return op == sys::Op::Open && path &&
                       std::string(path).find("/.qvb-probe") != std::string::npos
                   ? EACCES
                   : 0;
    });
    run();
    Lines refused = linesStartingWith("FEHLER: keine Schreibrechte");
    const auto later = std::find_if(refused.begin(), refused.end(), [&](const std::string& line) {
        return line.find(dst + "one/") != std::string::npos ||
               line.find(dst + "two/") != std::string::npos;
    });
    ASSERT_NE(later, refused.end());
    refused.erase(later);
    EXPECT_EQ(refused,
              (Lines{"FEHLER: keine Schreibrechte im Zielverzeichnis \"" + dst + "added/\"!",
                     "FEHLER: keine Schreibrechte im Zielverzeichnis \"" + dst + "newer/\"!"}));
    struct stat one {
    }, two{};
    ASSERT_EQ(::stat((dst + "one/l").c_str(), &one), 0);
    ASSERT_EQ(::stat((dst + "two/l").c_str(), &two), 0);
    EXPECT_NE(one.st_ino, two.st_ino);
    EXPECT_EQ(changeTime(dst + "same"), untouched);
    EXPECT_EQ(readFile(dst + "newer/b"), "B");
}

// The space check passed, but the destination runs full in the middle of a
// file: that file is not copied, its old copy stays, and the run goes on.
TEST_F(CopyFolderTest, DestinationRunningFullInAFileKeepsTheOldCopy) {
    test::buildTree(
        src, {file("a", "A"), file("big", std::string(3 << 20, 'n'), kT + 100), file("z", "Z")});
    test::buildTree(dst, {file("big", "old copy", kT)});
    // The hook reads the mirror's copier, which workers' calls must not do while it changes.
    mirror.fWorkers = 1;
    sys::setFaultHook([&](sys::Op op, const char*) {
        const bool data = op == sys::Op::Write || op == sys::Op::CopyRange;
        return data && mirror.fCopier->fSource == src + "big" && mirror.fCopier->fBytesCopied > 0
                   ? ENOSPC
                   : 0;
    });
    ASSERT_TRUE(run());
    EXPECT_EQ(readTree(dst), (std::map<std::string, std::string>{
                                 {"a", "file:A"}, {"big", "file:old copy"}, {"z", "file:Z"}}));
    EXPECT_EQ(mirror.fStatistics.fNotCopied, 1);
    EXPECT_EQ(mirror.fStatistics.fErrors, 1);
    EXPECT_EQ(mirror.fStatistics.fAdded, 2);
    EXPECT_EQ(copierLog, (Lines{"TCopyFile.copyWithBlockWrite: Fehler = \"" +
                                    sys::errorText(ENOSPC) + "\" bei \"" + dst + "big\"",
                                "ERROR:  Kopieren fehlgeschlagen !"}));
}

TEST_F(CopyFolderTest, NotEnoughSpaceStopsBeforeCopying) {
    test::buildTree(src, {file("a", "A")});
    {
        const int fd = ::open((src + "huge").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{1} << 43), 0);  // 8 TiB, sparse
        ::close(fd);
    }
    EXPECT_FALSE(run());
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].kind, TMsgKind::Error);
    EXPECT_EQ(ui.shown[0].buttons, unsigned{mbCancel});
    EXPECT_EQ(ui.shown[0].title, "Fehler");
    EXPECT_EQ(
        ui.shown[0].text.rfind("FEHLER:  Nicht genügend Platz auf Ziellaufwerk \"/\" frei!\r\n"
                               "  (benötigt: 8 TB",
                               0),
        std::string::npos);  // the size is in GB
    // The question's two lines are two lines of the protocol, without a carriage return.
    const size_t end = ui.shown[0].text.find("\r\n");
    EXPECT_TRUE(logged(ui.shown[0].text.substr(0, end)));
    EXPECT_TRUE(logged(ui.shown[0].text.substr(end + 2)));
    EXPECT_TRUE(logged(" "));
    EXPECT_EQ(log.back(), "0 Dateien in 1 Verzeichnis gefunden");
    EXPECT_EQ(mirror.fStatistics.fErrors, 1);
    EXPECT_FALSE(exists(dst + "a"));
}

TEST_F(CopyFolderTest, EmptySourceRepeatsTheLastStatusText) {
    test::buildTree(src, {dir("")});
    ASSERT_TRUE(run());
    EXPECT_TRUE(logged("  keine Dateien kopiert."));
    EXPECT_TRUE(logged(" keine leeren Verzeichnisse angelegt"));
    EXPECT_EQ(log.back(), "0 Dateien in 1 Verzeichnis gefunden");
}

TEST_F(CopyFolderTest, TraceLinesAtHighLogLevel) {
    test::buildTree(src, {file("a", "A", kT), dir("e/")});
    setLogLevel(4);
    const bool ok = run();
    setLogLevel(1);
    ASSERT_TRUE(ok);
    const Lines trace = linesStartingWith("bearbeite Datei 1 (" + src + "a = ");
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_NE(trace[0].find(" -> " + dst + "a = )"), std::string::npos) << trace[0];
    EXPECT_EQ(linesStartingWith("  prüfe ZielVerzeichnis "),
              Lines{"  prüfe ZielVerzeichnis " + dst + "e/"});
    EXPECT_EQ(linesStartingWith(" leeres QuellVerzeichnis ").size(), 1u);
}

}  // namespace
}  // namespace qvb

namespace qvb {
namespace {

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// New folders get the source's mode once their files are in, so a read-only
// or private source folder arrives as it is and still receives its files.
TEST_F(CopyFolderTest, FoldersGetTheSourceModeAfterTheirContents) {
    test::buildTree(src, {file("privat/a", "A"), file("privat/nur/b", "B"), dir("leer")});
    ::chmod((src + "privat/nur").c_str(), 0555);
    ::chmod((src + "privat").c_str(), 0700);
    ::chmod((src + "leer").c_str(), 0750);
    ASSERT_TRUE(run());
    EXPECT_EQ(modeOf(dst + "privat"), 0700u);
    EXPECT_EQ(modeOf(dst + "privat/nur"), 0555u);
    EXPECT_EQ(modeOf(dst + "leer"), 0750u);
    EXPECT_EQ(readFile(dst + "privat/nur/b"), "B");
    ::chmod((src + "privat/nur").c_str(), 0755);
    ::chmod((dst + "privat/nur").c_str(), 0755);
}

// A chmod or chown alone reaches the copy without copying, counting or logging.
TEST_F(CopyFolderTest, ChangedModesAndOwnersAreBroughtInLineQuietly) {
    test::buildTree(src, {file("d/a", "A", kT), file("b", "B", kT)});
    ASSERT_TRUE(run());
    ::chmod((src + "d/a").c_str(), 0600);
    ::chmod((src + "d").c_str(), 0711);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((src + "b").c_str(), 1234, 5678), 0);
    }
    writeFile(dst + "d/a", "Z", kT);  // same time and size: a copied file would lose its byte
    ASSERT_TRUE(run());
    EXPECT_EQ(modeOf(dst + "d/a"), 0600u);
    EXPECT_EQ(modeOf(dst + "d"), 0711u);
    EXPECT_EQ(readFile(dst + "d/a"), "Z");
    if (root) {
        struct stat st {};
        ASSERT_EQ(::lstat((dst + "b").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 5678u);
    }
    EXPECT_EQ(mirror.fStatistics.fSkipped, 2);
    EXPECT_EQ(mirror.fStatistics.fReplaced + mirror.fStatistics.fAdded, 0);
    EXPECT_EQ(mirror.fStatistics.fWarnings, 0);
    EXPECT_EQ(linesStartingWith("  Zugriffsrechte"), Lines{});
    ::chmod((src + "d/a").c_str(), 0640);
    setLogLevel(4);
    ASSERT_TRUE(run());
    setLogLevel(1);
    EXPECT_TRUE(logged("  Zugriffsrechte angeglichen: " + dst + "d/a"));
}

TEST_F(CopyFolderTest, RefusedModesGiveOneWarningPerRun) {
    test::buildTree(src, {file("a", "A", kT), file("b", "B", kT), dir("leer")});
    ASSERT_TRUE(run());
    ::chmod((src + "a").c_str(), 0600);
    ::chmod((src + "b").c_str(), 0600);
    ::chmod((src + "leer").c_str(), 0700);
    sys::setFaultHook([](sys::Op op, const char*) {
        return op == sys::Op::Chmod || op == sys::Op::Chown ? EPERM : 0;
    });
    ASSERT_TRUE(run());
    EXPECT_EQ(mirror.fStatistics.fWarnings, 1);
    const Lines warnings = linesStartingWith("WARNUNG: Zugriffsrechte");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(log.back(), "2 Dateien bearbeitet, aber es ist eine Warnung aufgetreten.");
}

TEST(FileEntry, StaysAtItsSizeForAMillionFiles) {
    EXPECT_EQ(sizeof(TFileEntry), 40u);
}

}  // namespace
}  // namespace qvb

namespace qvb {
namespace {

// An exFAT file system on a loop device, through FUSE, as a USB stick brings it.
class ExfatMount {
  public:
    explicit ExfatMount(const test::TempDir& tmp)
        : fImage(tmp / "exfat.img"), fPoint(tmp / "stick") {
        ::mkdir(fPoint.c_str(), 0755);
        if (!call({"/usr/bin/truncate", "-s", "16M", fImage}) ||
            !call({"/usr/sbin/mkfs.exfat", fImage}))
            return;
        std::string device;
        if (!call({"/usr/sbin/losetup", "-f", "--show", fImage}, &device)) return;
        fDevice = device.substr(0, device.find('\n'));
        fMounted = call({"/usr/sbin/mount.exfat-fuse", fDevice, fPoint});
    }
    ~ExfatMount() {
        // Lazily: the mirror of the test still holds its destination open.
        if (fMounted) call({"/usr/bin/umount", "-l", fPoint});
        if (!fDevice.empty()) call({"/usr/sbin/losetup", "-d", fDevice});
    }
    bool mounted() const { return fMounted; }
    std::string folder() const { return fPoint + "/"; }

  private:
    static bool call(const std::vector<std::string>& args, std::string* out = nullptr) {
        const test::ProgramResult r = test::runCommand(args, {});
        if (out) *out = r.out;
        return r.exitCode == 0;
    }
    std::string fImage, fPoint, fDevice;
    bool fMounted = false;
};

// On a destination blind to letter case a case-only rename keeps its copy
// (renamed), two source names differing only in case do not overwrite each
// other, and a copy in a folder spelled otherwise stays.
TEST_F(CopyFolderTest, CaseBlindDestinationKeepsEveryCopy) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root mounts a file system";
    ExfatMount stick(tmp);
    ASSERT_TRUE(stick.mounted()) << "exFAT through FUSE (exfat-fuse, exfatprogs) is needed";
    EXPECT_EQ(namesIgnoreCase(stick.folder()), std::optional<bool>(true));
    EXPECT_EQ(namesIgnoreCase(src.substr(0, src.size() - 4)), std::optional<bool>(false));
    dst = stick.folder() + "ziel/";
    mirror.fDest = dst;
    mirror.setDelete(true);
    test::buildTree(src, {file("foto.jpg", "bild", kT), file("Zwilling.txt", "A", kT),
                          file("zwilling.txt", "B", kT), file("Ordner/a.txt", "a", kT),
                          file("bleibt.txt", "x", kT)});
    test::buildTree(dst, {file("foto.JPG", "bild", kT), file("ordner/a.txt", "a", kT),
                          file("bleibt.txt", "x", kT), file("weg.txt", "w", kT)});
    for (const bool preview : {true, false, false}) {
        SCOPED_TRACE(preview ? "preview" : "run");
        mirror.setPreview(preview);
        ASSERT_TRUE(run());
        const TCopyStatistics& st = mirror.fStatistics;
        EXPECT_EQ(st.fAdded + st.fReplaced + st.fSkipped + st.fNotCopied, 5);
        EXPECT_EQ(st.fNotCopied, 1);
        EXPECT_EQ(st.fErrors, 1);
        Lines twins = linesStartingWith("FEHLER:  \"" + src);
        ASSERT_EQ(twins.size(), 1u);
        EXPECT_NE(twins[0].find("wird nicht kopiert: das Zielverzeichnis unterscheidet Groß- und "
                                "Kleinschreibung nicht, und \""),
                  std::string::npos);
        const auto tree = readTree(dst);
        EXPECT_EQ(tree.at("ordner/a.txt"), "file:a");
        EXPECT_EQ(tree.at("bleibt.txt"), "file:x");
        EXPECT_EQ(tree.count("Zwilling.txt") + tree.count("zwilling.txt"), preview ? 0u : 1u);
        if (preview) {
            EXPECT_TRUE(logged("  benenne " + dst + "foto.JPG um in " + dst + "foto.jpg"));
            EXPECT_EQ(tree.at("foto.JPG"), "file:bild");
            continue;
        }
        EXPECT_EQ(tree.at("foto.jpg"), "file:bild");
        EXPECT_EQ(tree.count("weg.txt"), 0u);
        EXPECT_EQ(tree.size(), 5u);
    }
}

}  // namespace
}  // namespace qvb
