// The built program on destinations whose objects changed their type since
// the last run, and on links planted in the destination: nothing is ever
// written or deleted through a link, and with "Löschen" one run heals it all.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "support/TempDir.h"
#include "support/Tree.h"

namespace qvb {
namespace {

using test::dir;
using test::file;
using test::readTree;
using test::TempDir;
using Tree = std::map<std::string, std::string>;

constexpr time_t kOld = 1600000000;

class ChangedType : public ::testing::Test {
  protected:
    void SetUp() override {
        test::buildTree(outside, {file("fremd.txt", "nicht anfassen", kOld)});
        test::buildTree(
            src, {file("sub/neu.txt", "N", kOld), file("war-ordner", "F", kOld),
                  file("ordner/innen.txt", "I", kOld), test::link("verweis", "ziel-text"),
                  file("datei", "D", kOld), file("tief/weg/x.txt", "X", kOld), dir("sub/leer/"),
                  dir("tief/leer/")});
        test::buildTree(dst, {test::link("sub", outside), file("war-ordner/alt.txt", "A", kOld),
                              dir("war-ordner/leer/"), file("ordner", "war Datei", kOld),
                              file("verweis", "war Datei", kOld), test::link("datei", "anderswo"),
                              test::link("tief", outside)});
    }
    test::ProgramResult runJob(bool deleting) {
        test::writeFile(ini, "[Options]\nLogLevel=1\n[Job01]\nName=Typen\nZiel=" + dst +
                                 "\nAnzahlQuellen=1\nQuelle0=" + src + "=1\n" +
                                 (deleting ? "Löschen=1\nLetztesZiel=" + dst + "\n" : "") +
                                 "NurVerzeichnisInhalt=1\nIntervall=0\nAktiv=1\n");
        return test::runProgram(
            {"--ini", ini, "--run", "Job01"},
            {{"XDG_CONFIG_HOME", tmp / "config"}, {"XDG_DATA_HOME", tmp / "data"}});
    }
    static bool has(const std::string& out, const std::string& line) {
        return out.find("\n" + line + "\n") != std::string::npos;
    }

    TempDir tmp;
    std::string ini = tmp / "einstellungen.ini";
    std::string src = tmp / "quelle/";
    std::string dst = tmp / "ziel/";
    std::string outside = tmp / "draussen/";
};

TEST_F(ChangedType, WithDeletionTheSourceObjectTakesThePlaceInOneRun) {
    const Tree outsideBefore = readTree(outside, true);
    const auto first = runJob(true);
    EXPECT_EQ(first.exitCode, 0) << first.out << first.err;
    EXPECT_EQ(readTree(dst, true), readTree(src, true));
    EXPECT_EQ(readTree(outside, true), outsideBefore);
    EXPECT_TRUE(has(first.out, "  lösche  " + dst + "war-ordner/alt.txt")) << first.out;
    EXPECT_TRUE(has(first.out, " Verzeichnis  " + dst + "war-ordner/  gelöscht")) << first.out;
    EXPECT_TRUE(has(first.out, "  lösche  " + dst + "sub")) << first.out;
    EXPECT_TRUE(has(first.out, "  erstelle " + dst + "war-ordner")) << first.out;

    const auto second = runJob(true);
    EXPECT_EQ(second.exitCode, 0) << second.out;
    EXPECT_EQ(second.out.find("lösche  "), std::string::npos) << second.out;
    EXPECT_EQ(second.out.find("erstelle "), std::string::npos) << second.out;
    EXPECT_EQ(readTree(dst, true), readTree(src, true));
}

TEST_F(ChangedType, WithoutDeletionEachNameIsAnErrorAndNothingIsWrittenThere) {
    const Tree outsideBefore = readTree(outside, true);
    const Tree destBefore = readTree(dst, true);
    const auto r = runJob(false);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_EQ(readTree(outside, true), outsideBefore);
    EXPECT_EQ(readTree(dst, true), destBefore);
    const std::string tail = "; ersetzt wird es nur mit \"Löschen\"";
    for (const std::string& line :
         {"FEHLER:  \"" + dst +
              "sub\" ist im Zielverzeichnis eine symbolische Verknüpfung, "
              "in der Quelle ein Verzeichnis" +
              tail,
          "FEHLER:  \"" + dst +
              "war-ordner\" ist im Zielverzeichnis ein Verzeichnis, "
              "in der Quelle eine Datei" +
              tail,
          "FEHLER:  \"" + dst +
              "ordner\" ist im Zielverzeichnis eine Datei, "
              "in der Quelle ein Verzeichnis" +
              tail,
          "FEHLER:  \"" + dst +
              "verweis\" ist im Zielverzeichnis eine Datei, "
              "in der Quelle eine symbolische Verknüpfung" +
              tail,
          "FEHLER:  \"" + dst +
              "datei\" ist im Zielverzeichnis eine symbolische Verknüpfung, "
              "in der Quelle eine Datei" +
              tail})
        EXPECT_TRUE(has(r.out, line)) << line << "\n" << r.out;
}

// The empty-folder phase runs after every file: a link planted where the
// source has an empty folder must not receive it.
TEST_F(ChangedType, EmptyFolderIsNeverMadeThroughALink) {
    test::removeTree(src);
    test::buildTree(src, {file("a.txt", "A", kOld), dir("sub/leer/")});
    const Tree outsideBefore = readTree(outside, true);
    const auto r = runJob(false);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_EQ(readTree(outside, true), outsideBefore);
    EXPECT_EQ(test::readFile(dst + "a.txt"), "A");
}

}  // namespace
}  // namespace qvb
