// The built program on temporary trees, with settings written by the test:
// exact protocol lines (dates and the temporary folder masked), the trees
// afterwards, the stored settings and the exit codes.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "support/TempDir.h"
#include "support/Tree.h"

namespace qvb {
namespace {

using test::file;
using test::readFile;
using test::readTree;
using test::TempDir;

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

class EndToEnd : public ::testing::Test {
  protected:
    std::map<std::string, std::string> environment() const {
        return {{"XDG_CONFIG_HOME", dir / "config"}, {"XDG_DATA_HOME", dir / "data"}};
    }
    test::ProgramResult run(const std::vector<std::string>& args) {
        return test::runProgram(args, environment());
    }
    test::ProgramResult runWithIni(std::vector<std::string> args) {
        args.insert(args.begin(), {"--ini", ini});
        return run(args);
    }
    // A job section in the program INI file.
    static std::string job(const std::string& key, const std::string& name, const std::string& dest,
                           const std::vector<std::string>& sources, const std::string& extra = "") {
        std::string text = "[" + key + "]\nName=" + name + "\nZiel=" + dest +
                           "\nAnzahlQuellen=" + std::to_string(sources.size()) + "\n";
        for (size_t i = 0; i < sources.size(); ++i)
            text += "Quelle" + std::to_string(i) + "=" + sources[i] + "\n";
        // The first occurrence of a key counts: the extra values come first.
        return text + extra + "Intervall=0\nAktiv=1\nStartzeit=07.12.2026 08:00:00\n";
    }
    void writeIni(const std::string& jobs) {
        test::writeFile(ini, "[Options]\nLogLevel=1\n" + jobs);
    }

    // The output with the temporary folder shown as "T/" and every date-time as "DATUM".
    std::vector<std::string> masked(const std::string& text) const {
        std::string t = text;
        for (size_t pos; (pos = t.find(dir.path())) != std::string::npos;)
            t.replace(pos, dir.path().size(), "T/");
        const std::string inner = dir.path().substr(1);  // the folder below a destination
        for (size_t pos; (pos = t.find(inner)) != std::string::npos;)
            t.replace(pos, inner.size(), "<T>");
        t = std::regex_replace(t, std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)"), "DATUM");
        return splitLines(t);
    }

    TempDir dir;
    const std::string ini = dir / "einstellungen.ini";
};

TEST_F(EndToEnd, HelpVersionAndUsageErrors) {
    auto r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("QV_Backup Version ", 0), 0u);
    EXPECT_NE(r.out.find("--run JOB"), std::string::npos);

    r = run({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("Version \\d+\\.\\d+\\.\\d+\n")));

    r = run({"--run"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(
        r.err,
        "QV_Backup: Die Option --run erwartet mindestens einen Job.\nHilfe: QV_Backup --help\n");
    EXPECT_EQ(run({"--list", "--gibtsnicht"}).exitCode, 2);
}

TEST_F(EndToEnd, ListShowsEveryStoredJob) {
    writeIni(job("Job01", "Fotos", "/media/usb/", {"/home/a/Fotos/=1", "/home/a/Alt/=0"},
                 "Löschen=1\n") +
             job("Job02", "Leer", "/ziel/", {}, "Intervall=2\nAktiv=0\n"));
    const auto r = runWithIni({"--list"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "Job01\tFotos\t0\t1\t1\t/media/usb/\t/home/a/Fotos/=1\t/home/a/Alt/=0\n"
              "Job02\tLeer\t2\t0\t0\t/ziel/\n");
}

TEST_F(EndToEnd, RunWritesTheProtocolStoresTheLastBackupAndTheLogFile) {
    test::buildTree(dir / "quelle/", {file("a.txt", "hallo")});
    writeIni(job("Job01", "Fotos", dir / "ziel/", {dir / "quelle/=1"}, "NurVerzeichnisInhalt=1\n"));
    const auto r = runWithIni({"--run", "Job01"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(masked(r.out), (std::vector<std::string>{
                                 " ",
                                 "DATUM:  starte Backup-Job01 \"Fotos\"",
                                 std::string(85, '-'),
                                 "Zielverzeichnis \"T/ziel/\" neu erstellt.",
                                 "Ein Backup auf demselben Laufwerk bietet keine Sicherheit bei "
                                 "einem Laufwerksdefekt.",
                                 "Möchten Sie die Sicherung trotzdem durchführen?",
                                 "vergleiche T/quelle/ mit T/ziel/",
                                 "durchsuche Quellverzeichnis T/quelle/...",
                                 "  1 Datei in 1 Verzeichnis gefunden",
                                 "durchsuche Zielverzeichnis T/ziel/...",
                                 "  0 Dateien in 1 Verzeichnis gefunden",
                                 "kopiere neue und geänderte Dateien...",
                                 "  erstelle T/ziel/a.txt",
                                 "erzeuge leere Ordner im Zielverzeichnis...",
                                 " keine leeren Verzeichnisse angelegt",
                                 "1 Dateien bearbeitet.",
                                 "Ergebnis:",
                                 "1 Datei hinzugefügt. ",
                                 "5 Bytes kopiert. ",
                                 " ",
                                 "Backup-Job01 \"Fotos\" wurde erfolgreich ausgeführt.",
                                 "letzte Sicherung: DATUM",
                                 "",
                             }));
    // Message boxes reach standard error.
    EXPECT_NE(r.err.find("Zielverzeichnis \"" + dir.path() + "ziel/\" neu erstellt."),
              std::string::npos);
    EXPECT_EQ(readTree(dir / "ziel/"), readTree(dir / "quelle/"));
    const std::string settings = readFile(ini);
    EXPECT_TRUE(
        std::regex_search(settings, std::regex("\\[Job01\\][^\\[]*\nLetztesBackup=\\d\\d\\.")))
        << settings;
    EXPECT_EQ(readFile(dir / "einstellungen.log"), r.out) << "the protocol file holds every line";
}

// A name with a line feed, a carriage return, a tab or an escape sequence
// neither makes nor changes a line, on standard output and error, in the
// protocol file and in the job list.
TEST_F(EndToEnd, ControlCharactersInNamesAreWrittenEscaped) {
    test::buildTree(dir / "quelle/",
                    {file("neu\n  lösche  /etc/passwd", "a"), file("zu\r\x1b[2Jrück\\x41", "b")});
    writeIni(
        job("Job01", "Fo\ttos", dir / "ziel/", {dir / "quelle/=1"}, "NurVerzeichnisInhalt=1\n"));
    const auto r = runWithIni({"--run", "Job01"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> lines = masked(r.out);
    for (const std::string line : {"DATUM:  starte Backup-Job01 \"Fo\\x09tos\"",
                                   "  erstelle T/ziel/neu\\x0A  lösche  /etc/passwd",
                                   "  erstelle T/ziel/zu\\x0D\\x1B[2Jrück\\x5Cx41"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << r.out;
    EXPECT_EQ(r.out.find_first_of("\r\t\x1b"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(dir / "einstellungen.log"), r.out);
    EXPECT_EQ(runWithIni({"--list"}).out,
              "Job01\tFo\\x09tos\t0\t1\t0\t" + dir / "ziel/\t" + dir / "quelle/=1\n");
    EXPECT_EQ(runWithIni({"--run", "a\nb"}).err, "QV_Backup: Unbekannter Job: \"a\\x0Ab\"\n");
}

TEST_F(EndToEnd, PreviewPrintsTheRunButWritesNothingAndExitsLikeTheRun) {
    test::buildTree(dir / "quelle/", {file("a.txt", "hallo")});
    writeIni(job("Job01", "Fotos", dir / "ziel/", {dir / "quelle/=1"}, "NurVerzeichnisInhalt=1\n") +
             job("Job02", "Teils", dir / "ziel2/", {dir / "fehlt/=1"}));
    const std::string settings = readFile(ini);
    const auto before = readTree(dir.path(), true);
    const auto r = runWithIni({"--run", "Job01", "--preview"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readTree(dir.path(), true), before) << "no destination, no LetztesBackup, no log";
    EXPECT_EQ(readFile(ini), settings);
    const auto lines = masked(r.out);
    EXPECT_EQ(lines.at(1),
              "DATUM:  Vorschau (es wird nichts geschrieben) von Backup-Job01 \"Fotos\"");
    for (const char* line :
         {"Vorschau: Das Zielverzeichnis \"T/ziel/\" existiert nicht; ein Lauf würde es neu "
          "erstellen.",
          "  erstelle T/ziel/a.txt", "5 Bytes kopiert. ",
          "Vorschau: Backup-Job01 \"Fotos\" wurde erfolgreich ausgeführt."})
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << r.out;
    EXPECT_EQ(r.out.find("letzte Sicherung"), std::string::npos);

    EXPECT_EQ(runWithIni({"--preview", "--run", "Job02"}).exitCode, 1);
    EXPECT_EQ(readTree(dir.path(), true), before);
}

// Each run keeps its protocol in the data folder, a preview does not; the
// listing names the runs oldest first, and a job's own on request.
TEST_F(EndToEnd, HistoryKeepsEveryRunsProtocolAndListsIt) {
    test::buildTree(dir / "quelle/", {file("a.txt", "hallo")});
    writeIni(job("Job01", "Fotos", dir / "ziel/", {dir / "quelle/=1"}) +
             job("Job02", "Teils", dir / "ziel2/", {dir / "fehlt/=1"}));
    EXPECT_EQ(runWithIni({"--run", "Job01"}).exitCode, 0);
    EXPECT_EQ(runWithIni({"--run", "Job01", "--preview"}).exitCode, 0);
    EXPECT_EQ(runWithIni({"--run", "Teils"}).exitCode, 1);

    const auto all = runWithIni({"--history"});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    const std::regex line(
        R"(DATUM\t(Job0\d)\t(\w+)\t(\w+)\t(\d)\t0\t(\d)\t0\tT/Protokolle/)"
        R"(einstellungen\.ini-[0-9a-f]{8}/\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d_\1_\2\.log)");
    const auto lines = masked(all.out);
    ASSERT_EQ(lines.size(), 2u) << all.out;
    std::smatch first, second;
    ASSERT_TRUE(std::regex_match(lines[0], first, line)) << lines[0];
    ASSERT_TRUE(std::regex_match(lines[1], second, line)) << lines[1];
    EXPECT_EQ(first.str(3) + first.str(4) + first.str(5), "erfolgreich01");
    EXPECT_EQ(second.str(3) + second.str(4) + second.str(5), "Fehler10");
    const std::string kept = readFile(std::regex_replace(lines[1].substr(lines[1].rfind('\t') + 1),
                                                         std::regex("^T/"), dir.path()));
    EXPECT_NE(kept.find("starte Backup-Job02 \"Teils\""), std::string::npos) << kept;
    EXPECT_EQ(kept.find("Job01"), std::string::npos) << "only the run's own lines";

    const auto one = runWithIni({"--history", "Teils"});
    EXPECT_EQ(masked(one.out), std::vector<std::string>{lines[1]});
    const auto unknown = runWithIni({"--history", "Nichts"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.err, "QV_Backup: Unbekannter Job: \"Nichts\"\n");
}

TEST_F(EndToEnd, JobsRunInTheOrderGivenByKeyOrNameAndIntoTheirIntervalFolder) {
    test::buildTree(dir / "q1/", {file("eins.txt", "1")});
    test::buildTree(dir / "q2/", {file("zwei.txt", "2")});
    writeIni(job("Job01", "Erster", dir / "z1/", {dir / "q1/=1"}, "NurVerzeichnisInhalt=1\n") +
             job("Job02", "Zweiter Job", dir / "z2/", {dir / "q2/=1"}, "Intervall=2\n"));
    const auto r = runWithIni({"--run", "Zweiter Job", "Job01"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> headers;
    for (const std::string& line : masked(r.out))
        if (line.find("starte Backup-") != std::string::npos) headers.push_back(line);
    EXPECT_EQ(headers, (std::vector<std::string>{"DATUM:  starte Backup-Job02 \"Zweiter Job\"",
                                                 "DATUM:  starte Backup-Job01 \"Erster\""}));
    EXPECT_EQ(readTree(dir / "z1/").count("eins.txt"), 1u);
    const auto daily = readTree(dir / "z2/");
    const std::string inner = dir.path().substr(1);
    bool found = false;
    const std::string tail = "/" + inner + "q2/zwei.txt";
    for (const auto& [path, what] : daily)
        found = found || (path.rfind("täglich/d_", 0) == 0 && path.size() == 13 + tail.size() &&
                          path.compare(13, std::string::npos, tail) == 0);
    EXPECT_TRUE(found) << "a daily job writes into its day folder";
}

// A name no job has, or one that two jobs share, runs no job at all.
// Versions listed, a preview that writes nothing, a differing file kept
// unless --overwrite, and the exit statuses of a bad version and a target in
// the backup.
TEST_F(EndToEnd, VersionsAndRestoreFromTheCommandLine) {
    test::buildTree(dir / "quelle/", {file("a.txt", "alt", 1'700'000'000), file("b/c.txt", "c")});
    writeIni(job("Job01", "Fotos", dir / "ziel/", {dir / "quelle/=1"}, "NurVerzeichnisInhalt=1\n"));
    ASSERT_EQ(runWithIni({"--run", "Job01"}).exitCode, 0);
    test::writeFile(dir / "quelle/a.txt", "neu");
    const std::string a = dir / "quelle/a.txt";

    auto r = runWithIni({"--versions", "Fotos"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(masked(r.out), (std::vector<std::string>{"DATUM\t.\tok"}));
    r = runWithIni({"--versions", "Fotos", a});
    EXPECT_EQ(masked(r.out), (std::vector<std::string>{"DATUM\t.\t3\tabweichend"}));

    const std::vector<std::vector<std::string>> keepingMine = {
        {"--restore", "Job01", a, "--preview"}, {"--restore", "Job01", dir / "quelle/"}};
    for (const auto& args : keepingMine) {
        r = runWithIni(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("WARNUNG:  \"" + a + "\" ist vorhanden und weicht ab; übersprungen."),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(readFile(a), "neu");
    }
    r = runWithIni({"--restore", "Job01", "--version", ".", a, "--overwrite"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(a), "alt");

    r = runWithIni({"--restore", "Job01", "--version", "täglich/d_01", a});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "QV_Backup: Der Job \"Fotos\" hat keine Version \"täglich/d_01\".\n");
    r = runWithIni({"--restore", "Job01", a, "--to", dir / "ziel/neu"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(test::exists(dir / "ziel/neu"));
    EXPECT_EQ(runWithIni({"--restore", "Job01", dir / "woanders"}).exitCode, 1);
}

TEST_F(EndToEnd, UnknownOrSharedJobNameRunsNothing) {
    test::buildTree(dir / "quelle/", {file("a.txt", "a")});
    const std::string fotos = job("Job01", "Fotos", dir / "ziel/", {dir / "quelle/=1"});
    const struct {
        std::string jobs;
        std::string err;
    } cases[] = {
        {fotos, "QV_Backup: Unbekannter Job: \"Urlaub\"\n"},
        {fotos + job("Job02", "Urlaub", dir / "ziel/", {}) +
             job("Job03", "Urlaub", dir / "ziel/", {}),
         "QV_Backup: Mehrere Jobs heißen \"Urlaub\": Job02, Job03. Bitte den Job mit seinem "
         "Schlüssel angeben.\n"},
    };
    for (const auto& c : cases) {
        writeIni(c.jobs);
        const auto r = runWithIni({"--run", "Job01", "Urlaub"});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
        EXPECT_FALSE(test::exists(dir / "ziel"));
    }
}

TEST_F(EndToEnd, UnreadableSettingsAreAUsageError) {
    ::mkdir((dir / "einstellungen.ini").c_str(), 0700);
    const auto r = runWithIni({"--list"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("können nicht gelesen werden"), std::string::npos) << r.err;
}

TEST_F(EndToEnd, ErrorsInARunGiveExitStatusOne) {
    test::buildTree(dir / "quelle/", {file("a.txt", "a")});
    writeIni(job("Job01", "Teils", dir / "ziel/", {dir / "fehlt/=1", dir / "quelle/=1"}));
    const auto r = runWithIni({"--run", "Job01"});
    EXPECT_EQ(r.exitCode, 1);
    const auto lines = masked(r.out);
    auto at = std::find(lines.begin(), lines.end(),
                        "  Es ist ein FEHLER augetreten, bitte Protokoll prüfen! ");
    ASSERT_NE(at, lines.end()) << r.out;
    EXPECT_EQ(*(at - 2),
              "Backup-Job01 \"Teils\" wurde ausgeführt, aber es sind Fehler aufgetreten.");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Gesamtergebnis:"), lines.end());
    EXPECT_NE(r.err.find("Was soll ich sichern?"), std::string::npos);
}

TEST_F(EndToEnd, InterruptInTheMiddleOfALargeFileCancelsCleanly) {
    test::buildTree(dir / "quelle/", {file("klein.txt", "k")});
    {
        // 48 MB: with the slowed copy its data steps take about a second.
        std::string block(1 << 20, 'x');
        std::string big;
        for (int i = 0; i < 48; ++i) big += block;
        test::writeFile(dir / "quelle/gross.bin", big);
    }
    writeIni(job("Job01", "Gross", dir / "ziel/", {dir / "quelle/=1"}, "NurVerzeichnisInhalt=1\n"));
    auto env = environment();
    env["LD_PRELOAD"] = QVB_SLOWCOPY;
    const char* asan = std::getenv("ASAN_OPTIONS");
    env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
    bool sent = false;
    const auto r = test::runProgram(
        {"--ini", ini, "--run", "Job01"}, env, [&](pid_t pid, const std::string& out) {
            if (!sent &&
                out.find("  erstelle " + dir.path() + "ziel/gross.bin\n") != std::string::npos) {
                sent = true;
                ::kill(pid, SIGINT);
            }
        });
    ASSERT_TRUE(sent) << r.out;
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const auto lines = masked(r.out);
    const auto note = std::find(lines.begin(), lines.end(), "  ->  Vorgang abgebrochen!");
    ASSERT_NE(note, lines.end()) << r.out;
    const auto verdict = std::find(lines.begin(), lines.end(),
                                   "Backup-Job01 \"Gross\" wurde vom Benutzer abgebrochen.");
    EXPECT_NE(verdict, lines.end()) << r.out;
    EXPECT_LT(note, verdict);
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "letzte Sicherung: DATUM"), lines.end());
    // Never a half-written file: the large file is absent, and no temporary file is left.
    for (const auto& [path, what] : readTree(dir / "ziel/")) {
        EXPECT_NE(path, "gross.bin");
        EXPECT_EQ(path.find(".qvb-tmp-"), std::string::npos) << path;
    }
    EXPECT_EQ(readFile(ini).find("LetztesBackup"), std::string::npos);
    // What the run wrote stays a version, marked as broken off.
    EXPECT_NE(readFile(ini).find("|abgebrochen"), std::string::npos) << readFile(ini);
}

}  // namespace
}  // namespace qvb
