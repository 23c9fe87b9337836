#include <gtest/gtest.h>

#include "jobs/CopyJob.h"
#include "session/ProtocolHistory.h"
#include "support/TempDir.h"
#include "support/Tree.h"

namespace qvb {
namespace {

TEST(ProtocolHistory, NamesSortByTimeAndStayInTheirFolder) {
    const TDateTime start = encodeDateTime({2026, 3, 7, 9, 5, 4});
    const std::string longName(100, 'x');
    const struct {
        const char* key;
        std::string name;
        std::string file;
    } cases[] = {
        {"Job01", "Fotos", "2026-03-07_09-05-04_Job01_Fotos.log"},
        {"Job02", "../a/b\nc", "2026-03-07_09-05-04_Job02_.._a_b_c.log"},
        {"Job03", "", "2026-03-07_09-05-04_Job03.log"},
        {"Job04", longName, "2026-03-07_09-05-04_Job04_" + std::string(80, 'x') + ".log"},
        // Cut before a character, never inside one.
        {"Job05", std::string(79, 'x') + "ä",
         "2026-03-07_09-05-04_Job05_" + std::string(79, 'x') + ".log"},
    };
    for (const auto& c : cases) EXPECT_EQ(historyFileName(start, c.key, c.name), c.file) << c.name;

    const std::string a = historyFolderFor("/d/", "/home/a/.qvb");
    EXPECT_EQ(a.substr(0, 18), "/d/Protokolle/qvb-");
    EXPECT_EQ(a.size(), 27u);
    EXPECT_NE(historyFolderFor("/d", "/home/b/.qvb"), a) << "same name, other folder";
    EXPECT_EQ(historyFolderFor("/d", "/home/a/.qvb"), a);
}

void finish(TCopyJob& job, const std::string& key, const std::string& name, TCopyStatus status,
            int errors, int warnings) {
    job.fJobKey = key;
    job.fJobName = name;
    job.fStatus = status;
    job.fStatistics.fErrors = errors;
    job.fStatistics.fWarnings = warnings;
    job.fStatistics.fAdded = 3;
    job.fStatistics.fReplaced = 1;
    job.fStatistics.fDeleted = 2;
}

// Runs with every verdict, the last two of one job in the same second; only the newest are kept
// and a file of someone else's in the folder is neither listed nor removed.
TEST(ProtocolHistory, KeepsTheNewestRunsAndListsThemWithTheirVerdicts) {
    test::TempDir dir;
    const std::string folder = dir / "Protokolle/x/";
    const TDateTime day = encodeDate(2026, 12, 1);
    const struct {
        TCopyStatus status;
        int errors, warnings;
        const char* verdict;
    } runs[] = {
        {csDone, 0, 0, "erfolgreich"},   {csDone, 0, 2, "Warnungen"},
        {csWarnings, 0, 1, "Warnungen"}, {csDone, 1, 0, "Fehler"},
        {csError, 1, 0, "Fehler"},       {csCancelled, 0, 0, "abgebrochen"},
    };
    std::vector<std::string> kept;
    for (size_t i = 0; i < std::size(runs); ++i) {
        TCopyJob job;
        finish(job, "Job0" + std::to_string(std::min<size_t>(i, 4)), "Sag \"ja\": gut",
               runs[i].status, runs[i].errors, runs[i].warnings);
        // The last two start in the same second.
        const TDateTime start = day + kOneHour * static_cast<double>(std::min<size_t>(i, 4));
        const std::string line = "Zeile " + std::to_string(i);
        kept.push_back(keepRunProtocol(folder, start, job, {&line, 1}, 4));
        ASSERT_FALSE(kept.back().empty()) << i;
    }
    test::writeFile(folder + "notizen.txt", "fremd");

    const std::vector<THistoryEntry> entries = listHistory(folder);
    ASSERT_EQ(entries.size(), 4u);
    for (size_t i = 0; i < entries.size(); ++i) {
        const THistoryEntry& e = entries[i];
        const size_t run = i + 2;
        EXPECT_EQ(e.path, kept[run]);
        EXPECT_EQ(e.jobKey, "Job0" + std::to_string(std::min<size_t>(run, 4)));
        EXPECT_EQ(e.jobName, "Sag \"ja\": gut");
        EXPECT_EQ(e.verdict, runs[run].verdict);
        EXPECT_EQ(e.errors, runs[run].errors);
        EXPECT_EQ(e.warnings, runs[run].warnings);
        EXPECT_EQ(e.copied, 4);
        EXPECT_EQ(e.deleted, 2);
    }
    EXPECT_EQ(entries[3].start, entries[2].start);
    EXPECT_EQ(formatGermanDateTime(entries[0].start), "01.12.2026 02:00:00");
    EXPECT_EQ(test::readFile(kept[5]),
              "Zeile 5\nErgebnis von Backup-Job04 \"Sag \"ja\": gut\": abgebrochen; 0 Fehler, 0 "
              "Warnungen, 4 kopiert, 2 gelöscht\n");
    EXPECT_EQ(test::readFile(folder + "notizen.txt"), "fremd");
}

}  // namespace
}  // namespace qvb
