// The built program with "Löschen" on trees where a careless deletion would
// wipe a backup or the user's own files.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "support/TempDir.h"
#include "support/Tree.h"

namespace qvb {
namespace {

using test::exists;
using test::file;
using test::readTree;
using Tree = std::map<std::string, std::string>;

std::string excludeTrailing(const std::string& path) {
    return path.substr(0, path.size() - 1);
}

class DeletionGuard : public ::testing::Test {
  protected:
    test::ProgramResult run(std::vector<std::string> args, const std::string& home = "/root") {
        args.insert(args.begin(), {"--ini", ini});
        return test::runProgram(
            args,
            {{"XDG_CONFIG_HOME", dir / "config"}, {"XDG_DATA_HOME", dir / "data"}, {"HOME", home}});
    }
    void writeJob(const std::string& dest, const std::vector<std::string>& sources,
                  const std::string& extra) {
        std::string text = "[Options]\nLogLevel=1\n[Job01]\nName=Wächter\nZiel=" + dest +
                           "\nAnzahlQuellen=" + std::to_string(sources.size()) + "\n";
        for (size_t i = 0; i < sources.size(); ++i)
            text += "Quelle" + std::to_string(i) + "=" + sources[i] + "\n";
        test::writeFile(ini, text + extra + "Löschen=1\nIntervall=0\nAktiv=1\n");
    }
    static bool has(const std::string& out, const std::string& line) {
        return out.find("\n" + line + "\n") != std::string::npos;
    }
    // The destination part of a source that is not content-only.
    std::string part(const std::string& source) const { return dir / "ziel/" + source.substr(1); }

    test::TempDir dir;
    const std::string ini = dir / "job.ini";
};

TEST_F(DeletionGuard, EmptySourceKeepsItsBackupAndTheOtherSourcesGoOn) {
    const std::string usb = dir / "usb/", home = dir / "home/";
    test::buildTree(usb, {test::dir("")});
    test::buildTree(home, {file("neu.txt", "n")});
    test::buildTree(part(usb), {file("fotos/1.jpg", "1"), file("2.jpg", "2")});
    writeJob(dir / "ziel/", {usb + "=1", home + "=1"}, "");
    const auto r = run({"--run", "Job01"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_TRUE(has(r.out, "FEHLER:  Das Quellverzeichnis \"" + usb +
                               "\" ist leer, das Zielverzeichnis \"" + part(usb) +
                               "\" enthält aber Dateien: es wird nichts gelöscht."))
        << r.out;
    EXPECT_TRUE(has(r.out,
                    "Backup-Job01 \"Wächter\" wurde ausgeführt, aber es sind Fehler "
                    "aufgetreten."));
    EXPECT_EQ(readTree(part(usb)).size(), 3u) << "the backup stays whole";
    EXPECT_TRUE(exists(part(home) + "neu.txt"));
}

TEST_F(DeletionGuard, LargeDeletionIsSkippedWithoutAWindowUnlessAllowed) {
    const std::string src = dir / "quelle/";
    test::buildTree(src, {file("neu.txt", "n")});
    std::vector<test::TNode> old;
    for (int i = 0; i < 51; ++i) old.push_back(file("alt/" + std::to_string(i) + ".txt", "a"));
    test::buildTree(dir / "ziel/", old);
    writeJob(dir / "ziel/", {src + "=1"}, "NurVerzeichnisInhalt=1\n");
    auto r = run({"--run", "Job01"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(has(r.out, "WARNUNG:  Im Zielverzeichnis \"" + dir.path() +
                               "ziel/\" wären 51 von 51 Dateien gelöscht worden; das Löschen "
                               "wird übersprungen."))
        << r.out;
    EXPECT_NE(r.err.find("Sollen diese Dateien wirklich gelöscht werden?"), std::string::npos);
    EXPECT_TRUE(has(r.out,
                    "Backup-Job01 \"Wächter\" wurde ausgeführt, aber es sind Warnungen "
                    "aufgetreten."));
    EXPECT_EQ(readTree(dir / "ziel/").size(), 53u) << "copied, nothing deleted";

    r = run({"--allow-mass-delete", "--run", "Job01"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(readTree(dir / "ziel/"), (Tree{{"neu.txt", "file:n"}}));

    EXPECT_EQ(run({"--allow-mass-delete", "--list"}).exitCode, 2);
    EXPECT_NE(test::runProgram({"--help"}, {}).out.find("--allow-mass-delete"), std::string::npos);
}

TEST_F(DeletionGuard, ContentOnlySourcesShareTheirDestination) {
    const std::string q1 = dir / "q1/", q2 = dir / "q2/";
    test::buildTree(q1, {file("a.txt", "a"), file("sub/x.txt", "x")});
    test::buildTree(q2, {file("b.txt", "b"), file("sub/y.txt", "y")});
    test::buildTree(dir / "ziel/", {file("alt.txt", "weg")});
    const std::string earlierRuns = "LetztesZiel=" + dir / "ziel/" + "\n";
    writeJob(dir / "ziel/", {q1 + "=1", q2 + "=1"}, "NurVerzeichnisInhalt=1\n" + earlierRuns);
    auto r = run({"--run", "Job01"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    const Tree both{{"a.txt", "file:a"},
                    {"b.txt", "file:b"},
                    {"sub/", "dir"},
                    {"sub/x.txt", "file:x"},
                    {"sub/y.txt", "file:y"}};
    EXPECT_EQ(readTree(dir / "ziel/"), both);

    r = run({"--run", "Job01"});
    EXPECT_EQ(r.out.find("  lösche  "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("  erstelle "), std::string::npos) << r.out;
    EXPECT_EQ(readTree(dir / "ziel/"), both);

    // One source off: nobody can tell what is surplus.
    test::writeFile(dir / "ziel/alt.txt", "bleibt");
    writeJob(dir / "ziel/", {q1 + "=1", q2 + "=0"}, "NurVerzeichnisInhalt=1\n" + earlierRuns);
    r = run({"--run", "Job01"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(has(r.out, "WARNUNG:  Das Quellverzeichnis \"" + q2 +
                               "\" ist nicht aktiv oder nicht verfügbar: im gemeinsamen "
                               "Zielverzeichnis \"" +
                               dir.path() + "ziel/\" wird in diesem Lauf nichts gelöscht."))
        << r.out;
    EXPECT_EQ(readTree(dir / "ziel/").size(), both.size() + 1);
}

// The user's own files in a folder chosen as destination: the home folder and
// the system's folders are refused outright, any other folder keeps them until
// the job has finished a run there or the deletion is confirmed.
TEST_F(DeletionGuard, FilesTheJobDidNotPutThereAreOnlyDeletedWhenConfirmed) {
    const std::string src = dir / "quelle/", home = dir / "home/", usb = dir / "usb/";
    const Tree own{{".bashrc", "file:b"},
                   {".config/", "dir"},
                   {".config/x", "file:c"},
                   {"brief.txt", "file:d"}};
    test::buildTree(src, {file("neu.txt", "n")});
    test::buildTree(home, {file(".bashrc", "b"), file(".config/x", "c"), file("brief.txt", "d")});
    test::buildTree(usb, {file(".bashrc", "b"), file(".config/x", "c"), file("brief.txt", "d")});
    const std::string contentOnly = "NurVerzeichnisInhalt=1\n";

    writeJob(home, {src + "=1"}, contentOnly);
    auto r = run({"--allow-mass-delete", "--run", "Job01"}, excludeTrailing(home));
    EXPECT_EQ(r.exitCode, 1) << r.out;
    const std::string refusal = "Das Ziel \"" + home +
                                "\" ist nicht erlaubt: es ist der Benutzerordner. Bitte einen "
                                "eigenen Ordner für die Sicherung wählen.";
    EXPECT_TRUE(has(r.out, "FEHLER:  " + refusal)) << r.out;
    EXPECT_NE(r.err.find(refusal), std::string::npos) << r.err;
    EXPECT_EQ(readTree(home), own);

    writeJob(usb, {src + "=1"}, contentOnly);
    r = run({"--run", "Job01"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(has(r.out, "Dieser Job hat noch keine Sicherung in das Zielverzeichnis \"" + usb +
                               "\" abgeschlossen; das Löschen muss bestätigt werden."))
        << r.out;
    EXPECT_TRUE(has(r.out, "WARNUNG:  Im Zielverzeichnis \"" + usb +
                               "\" wären 3 von 3 Dateien gelöscht worden; das Löschen wird "
                               "übersprungen."))
        << r.out;
    Tree copied = own;
    copied["neu.txt"] = "file:n";
    EXPECT_EQ(readTree(usb), copied);
    EXPECT_EQ(test::readFile(ini).find("LetztesZiel"), std::string::npos)
        << "a run that kept the files confirms nothing";

    r = run({"--allow-mass-delete", "--run", "Job01"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(readTree(usb), (Tree{{"neu.txt", "file:n"}}));
    EXPECT_NE(test::readFile(ini).find("\nLetztesZiel=" + usb + "\n"), std::string::npos);

    // Confirmed once, later deletions go ahead as usual; a new destination asks again.
    test::writeFile(usb + "alt.txt", "a");
    r = run({"--run", "Job01"});
    EXPECT_TRUE(has(r.out, "  lösche  " + usb + "alt.txt")) << r.out;
    const std::string other = dir / "anderes/";
    test::buildTree(other, {file("fremd.txt", "f")});
    std::string text = test::readFile(ini);
    text.replace(text.find("Ziel=" + usb), 5 + usb.size(), "Ziel=" + other);
    test::writeFile(ini, text);
    r = run({"--run", "Job01"});
    EXPECT_EQ(readTree(other), (Tree{{"fremd.txt", "file:f"}, {"neu.txt", "file:n"}})) << r.out;
}

TEST_F(DeletionGuard, SourceInsideTheDestinationIsRefusedAndNeverListed) {
    const std::string own = dir / "ziel/eigene/", other = dir / "ziel/alt/", src = dir / "q/";
    test::buildTree(own, {file("brief.txt", "mein")});
    test::buildTree(other, {file("notiz.txt", "auch mein")});
    test::buildTree(src, {file("a.txt", "a")});
    writeJob(dir / "ziel/", {own + "=1", src + "=1", other + "=0"}, "NurVerzeichnisInhalt=1\n");
    const auto r = run({"--run", "Job01"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_TRUE(has(r.out, "FEHLER:  Das Quellverzeichnis \"" + own +
                               "\" liegt im Zielverzeichnis \"" + dir.path() +
                               "ziel/\" und wird nicht gesichert."))
        << r.out;
    EXPECT_EQ(r.out.find("vergleiche " + own), std::string::npos) << r.out;
    EXPECT_EQ(readTree(dir / "ziel/"), (Tree{{"a.txt", "file:a"},
                                             {"alt/", "dir"},
                                             {"alt/notiz.txt", "file:auch mein"},
                                             {"eigene/", "dir"},
                                             {"eigene/brief.txt", "file:mein"}}));
}

TEST_F(DeletionGuard, DestinationScanNeverEntersASourceFolder) {
    const std::string src = dir / "q/";
    const std::string own = part(src) + "eigene/";
    test::buildTree(src, {file("a.txt", "a")});
    test::buildTree(own, {file("brief.txt", "mein")});
    writeJob(dir / "ziel/", {src + "=1", own + "=0"}, "");
    const auto r = run({"--run", "Job01"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(readTree(part(src)),
              (Tree{{"a.txt", "file:a"}, {"eigene/", "dir"}, {"eigene/brief.txt", "file:mein"}}));
}

}  // namespace
}  // namespace qvb
