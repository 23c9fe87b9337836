// The background timers through the built program: unit files written,
// updated and removed as the jobs and the option change, the service
// manager's calls (a recording systemctl first on PATH), and a service's
// command line run as it stands.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "ProgramRun.h"
#include "support/TempDir.h"
#include "support/Tree.h"

namespace qvb {
namespace {

using test::readFile;
using test::writeFile;

// The words of an ExecStart= line as systemd splits them (double quotes,
// backslash escapes), for the paths of this test.
std::vector<std::string> execWords(const std::string& service) {
    const size_t start = service.find("ExecStart=") + 10;
    const std::string line = service.substr(start, service.find('\n', start) - start);
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, inWord = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == '\\' && quoted) {
            word += line[++i];
        } else if (c == ' ' && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

std::vector<std::string> unitFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Timers, UnitsFollowTheJobsAndTheOptionAndTheirServiceRuns) {
    test::TempDir dir;
    const std::string ini = dir / "einstellungen.ini", calls = dir / "calls";
    const std::string units = dir / "config/systemd/user/";
    writeFile(dir / "bin/systemctl", "#!/bin/sh\necho \"$*\" >> '" + calls + "'\nexit $(cat '" +
                                         dir.path() + "rc' 2>/dev/null || echo 0)\n");
    std::filesystem::permissions(dir / "bin/systemctl", std::filesystem::perms::owner_all);
    writeFile(dir / "quelle/a.txt", "a");
    const std::map<std::string, std::string> env{
        {"XDG_CONFIG_HOME", dir / "config"},
        {"XDG_DATA_HOME", dir / "data"},
        {"HOME", dir / "home"},
        {"PATH", dir / "bin:" + std::string(std::getenv("PATH"))}};
    auto job = [&](const std::string& key, const std::string& name, const std::string& extra) {
        return "[" + key + "]\nName=" + name + "\nZiel=" + dir.path() + "ziel/\nAnzahlQuellen=1\n" +
               "Quelle0=" + dir.path() + "quelle=1\n" + extra +
               "Startzeit=07.12.2026 08:30:00\nEndzeit=07.12.2026 17:00:00\n";
    };
    auto writeSettings = [&](const std::string& background, const std::string& secondActive) {
        writeFile(ini, "[Options]\nHintergrund=" + background + "\n" +
                           job("Job01", "Täglich", "Intervall=2\nAktiv=1\n") +
                           job("Job02", "Stündlich", "Intervall=3\nAktiv=" + secondActive + "\n") +
                           job("Job03", "Von Hand", "Intervall=0\nAktiv=1\n"));
    };
    auto timers = [&] { return test::runProgram({"--ini", ini, "--timers"}, env); };

    writeSettings("1", "1");
    auto r = timers();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const auto written = unitFiles(units);
    ASSERT_EQ(written.size(), 4u) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    EXPECT_EQ(readFile(calls), "--user daemon-reload\n--user enable --now " + written[1] +
                                   "\n--user enable --now " + written[3] + "\n");
    // Every job got its identifier, the one by hand too.
    const std::string stored = readFile(ini);
    const std::regex idLine("\nKennung=[0-9a-f]{16}\n");
    EXPECT_EQ(std::distance(std::sregex_iterator(stored.begin(), stored.end(), idLine),
                            std::sregex_iterator()),
              3)
        << stored;

    // The service's command line as it stands runs the job without questions.
    std::string daily;
    for (const std::string& name : written)
        if (readFile(units + name).find("QV_Backup: Täglich\n") != std::string::npos)
            daily = name.substr(0, name.rfind('.'));
    auto words = execWords(readFile(units + daily + ".service"));
    EXPECT_EQ(words[0], QVB_BINARY);
    r = test::runCommand(words, env);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\"Täglich\" wurde erfolgreich ausgeführt."), std::string::npos) << r.out;

    // Keys swapped and a job renamed: the units keep their names, and only
    // the renamed job's change.
    std::string swapped = readFile(ini);
    swapped = std::regex_replace(swapped, std::regex("\\[Job01\\]"), "[JobXX]");
    swapped = std::regex_replace(swapped, std::regex("\\[Job02\\]"), "[Job01]");
    swapped = std::regex_replace(swapped, std::regex("\\[JobXX\\]"), "[Job02]");
    writeFile(ini, std::regex_replace(swapped, std::regex("Name=Täglich"), "Name=Jeden Tag"));
    r = timers();
    EXPECT_EQ(unitFiles(units), written);
    EXPECT_EQ(r.out, "Timer geschrieben: " + daily + ".timer\n");

    // A job no longer active loses its units even when no manager answers.
    writeFile(ini, std::regex_replace(readFile(ini), std::regex("Intervall=3\nAktiv=1"),
                                      "Intervall=3\nAktiv=0"));
    writeFile(dir / "rc", "1");
    r = timers();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "QV_Backup: Der Dienstverwalter des Benutzers ist nicht erreichbar (systemctl "
              "--user): die Timer-Dateien sind geschrieben, aber nicht aktiviert.\n");
    EXPECT_EQ(unitFiles(units).size(), 2u) << r.out;

    // The option off removes them all.
    writeFile(dir / "rc", "0");
    writeFile(ini, std::regex_replace(readFile(ini), std::regex("Hintergrund=1"), "Hintergrund=0"));
    r = timers();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(unitFiles(units).empty()) << r.out;
}

}  // namespace
}  // namespace qvb
