#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "engine/CopyFolder.h"
#include "engine/LogLevel.h"
#include "jobs/CopyJob.h"
#include "jobs/Schedule.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/DateTime.h"
#include "util/Sys.h"

namespace qvb {
namespace {

using test::file;
using test::readTree;

const TDateTime kNow = encodeDateTime({2027, 2, 11, 10, 0, 0, 0});

// Collects the protocol as the window does: the copier's lines, then the
// mirror's, then the job's, each time a message is raised and once at the end.
class JobRun : public ::testing::Test {
  protected:
    JobRun() {
        setClock([] { return kNow; });
        fJob.fJobKey = "Job01";
        fJob.fJobName = "Test";
        fJob.setDestination(fTmp / "dst");
        fJob.setOnMessage([this](TCopyIt*) { drain(); });
    }
    ~JobRun() override {
        setClock({});
        sys::setFaultHook({});
    }

    void drain() {
        TCopyFolder& mirror = *fJob.fCopyFolder;
        for (TCopyIt* op : {static_cast<TCopyIt*>(mirror.fCopier.get()),
                            static_cast<TCopyIt*>(&mirror), static_cast<TCopyIt*>(&fJob)})
            for (std::string& line : op->takeMessages()) fProtocol.push_back(std::move(line));
    }
    bool run() {
        const bool ok = fJob.Execute();
        drain();
        return ok;
    }
    // A source folder below the temporary folder, built from `nodes`.
    std::string addSource(const std::string& rel, bool active,
                          const std::vector<test::TNode>& nodes = {}) {
        const std::string dir = fTmp / (rel + "/");
        if (!nodes.empty()) test::buildTree(dir, nodes);
        fJob.fSources.push_back(makeSourceEntry(fTmp / rel, active));
        return dir;
    }
    long position(const std::string& line) const {
        const auto it = std::find(fProtocol.begin(), fProtocol.end(), line);
        return it == fProtocol.end() ? -1 : it - fProtocol.begin();
    }
    long count(const std::string& line) const {
        return std::count(fProtocol.begin(), fProtocol.end(), line);
    }
    std::string verdict(const char* ending) const {
        return "Backup-Job01 \"Test\"" + std::string(ending);
    }

    test::RecordingUserInterface fUi;
    test::TempDir fTmp;
    TCopyJob fJob;
    std::vector<std::string> fProtocol;
};

TEST_F(JobRun, WithoutAnActiveSourceNothingHappens) {
    addSource("src", false, {file("a.txt", "a")});
    EXPECT_FALSE(run());
    EXPECT_EQ(fJob.fStatus, csError);
    EXPECT_EQ(fJob.fStatusText, verdict(" wurde wegen Fehler(n) abgebrochen."));
    const std::string text = "FEHLER:  Es ist kein zu sicherndes Verzeichnis ausgewählt.";
    ASSERT_EQ(fUi.shown.size(), 1u);
    EXPECT_EQ(fUi.shown[0].text, text);
    EXPECT_EQ(fUi.shown[0].kind, TMsgKind::Error);
    EXPECT_EQ(count(text), 1);
    EXPECT_EQ(fJob.fStatistics.fErrors, 1);
    EXPECT_EQ(fJob.fActiveSourceCount, 0);
    EXPECT_EQ(fJob.fLastBackup, 0);
    EXPECT_TRUE(fJob.fDone);
    EXPECT_FALSE(test::exists(fJob.fDestination));

    fJob.fSources.clear();
    EXPECT_FALSE(run());
    EXPECT_EQ(fJob.fStatistics.fErrors, 1);  // counted afresh for each run
}

TEST_F(JobRun, AMissingDestinationIsMadeAndMissingParentsOnlyWhenTheUserSaysSo) {
    addSource("src", true, {file("a.txt", "a")});
    fJob.fContentOnly = true;
    const struct {
        const char* destination;
        const char* firstMissing;  // empty: only the destination itself is missing
        std::deque<TMsgResult> answers;
        bool created;
    } cases[] = {
        {"dst", "", {}, true},
        {"new1/deeper/dst", "new1/", {TMsgResult::Yes}, true},
        {"new2/deeper/dst", "new2/", {}, false},
        {"new3/deeper/dst", "new3/", {TMsgResult::No}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destination);
        fJob.setDestination(fTmp / c.destination);
        fUi.shown.clear();
        fUi.answers = c.answers;
        fProtocol.clear();
        const std::string missing = fTmp / c.firstMissing;
        const std::string made = "Zielverzeichnis \"" + fJob.fDestination + "\" neu erstellt.";
        EXPECT_EQ(run(), c.created);
        ASSERT_FALSE(fUi.shown.empty());
        if (*c.firstMissing) {
            EXPECT_EQ(fUi.shown[0].text, "Der Ordner \"" + missing +
                                             "\" existiert nicht.\r\nSoll das Zielverzeichnis \"" +
                                             fJob.fDestination +
                                             "\" mit allen fehlenden Ordnern erstellt werden?");
            EXPECT_EQ(fUi.shown[0].buttons, mbYes | mbNo);
        }
        EXPECT_EQ(std::count_if(fUi.shown.begin(), fUi.shown.end(),
                                [&](const auto& shown) { return shown.text == made; }),
                  c.created ? 1 : 0);
        EXPECT_EQ(count(made), c.created ? 1 : 0);
        EXPECT_EQ(count("FEHLER:  Das Zielverzeichnis \"" + fJob.fDestination +
                        "\" wird nicht erstellt, weil der Ordner \"" + missing +
                        "\" fehlt (ist der Datenträger nicht angeschlossen?)."),
                  c.created ? 0 : 1);
        if (c.created) {
            EXPECT_EQ(readTree(fJob.fDestination),
                      (std::map<std::string, std::string>{{"a.txt", "file:a"}}));
            EXPECT_EQ(fJob.fStatusText, verdict(" wurde erfolgreich ausgeführt."));
            EXPECT_EQ(fJob.fLastBackup, kNow);
        } else {
            EXPECT_FALSE(test::exists(missing));
            EXPECT_EQ(fJob.fStatus, csError);
            EXPECT_EQ(fJob.fStatistics.fErrors, 1);
        }
    }
}

TEST_F(JobRun, ADestinationThatCannotBeCreatedStopsTheRun) {
    test::writeFile(fTmp / "blocker", "x");
    addSource("src", true, {file("a.txt", "a")});
    for (const std::string& destination : {fTmp / "blocker", std::string()}) {
        fJob.setDestination(destination);
        fProtocol.clear();
        EXPECT_FALSE(run());
        EXPECT_EQ(count("FEHLER:  Das Zielverzeichnis existiert nicht!"), 1) << destination;
        EXPECT_EQ(fJob.fStatus, csError);
        EXPECT_EQ(fJob.fStatistics.fErrors, 1);
        EXPECT_EQ(position("vergleiche " + fTmp.path() + "src/ mit " + fJob.fDestination), -1);
    }
    EXPECT_TRUE(fUi.shown.size() == 2 && fUi.shown[1].buttons == mbOK) << "nothing to ask";
}

TEST_F(JobRun, AMissingFirstSourceDoesNotStopTheSecond) {
    ::mkdir(fJob.fDestination.c_str(), 0755);
    const std::string gone = addSource("gone", true);
    addSource("src", true, {file("b.txt", "b")});
    fJob.fContentOnly = true;
    EXPECT_TRUE(run());
    const std::string text = "FEHLER:  Das Quellverzeichnis \"" + gone + "\" existiert nicht!";
    ASSERT_FALSE(fUi.shown.empty());
    EXPECT_EQ(fUi.shown[0].text, "Was soll ich sichern? \r" + text);
    EXPECT_EQ(count(text), 1);
    EXPECT_EQ(fJob.fActiveSourceCount, 2);
    EXPECT_EQ(fJob.fStatus, csDone);
    EXPECT_EQ(fJob.fStatistics.fErrors, 1);
    EXPECT_EQ(fJob.fStatusText, verdict(" wurde ausgeführt, aber es sind Fehler aufgetreten."));
    EXPECT_EQ(readTree(fJob.fDestination),
              (std::map<std::string, std::string>{{"b.txt", "file:b"}}));
    EXPECT_EQ(fJob.fLastBackup, kNow);
    EXPECT_EQ(count(" "), 2);
}

TEST_F(JobRun, FullPathOrContentOnlyDecideWhereTheSourceGoes) {
    const std::string source = addSource("Daten/Fotos", true, {file("x.jpg", "x")});
    const std::string below = fJob.fDestination + source.substr(1);
    EXPECT_TRUE(run());
    EXPECT_EQ(count("vergleiche " + source + " mit " + below), 1);
    EXPECT_EQ(test::readFile(below + "x.jpg"), "x");

    fJob.fContentOnly = true;
    fProtocol.clear();
    EXPECT_TRUE(run());
    EXPECT_EQ(count("vergleiche " + source + " mit " + fJob.fDestination), 1);
    EXPECT_EQ(test::readFile(fJob.fDestination + "x.jpg"), "x");
}

TEST_F(JobRun, AnAutomaticJobRunByHandWritesIntoTheSubfolderOfItsOwnDay) {
    const std::string source = addSource("src", true, {file("a.txt", "a")});
    fJob.setSchedule(kIntervalDaily, encodeTime(8, 0, 0));  // next: tomorrow, the 12th
    ASSERT_EQ(fJob.fIntervalFolder, "täglich/d_12/");
    EXPECT_TRUE(run());
    EXPECT_EQ(fJob.fRunIntervalFolder, "täglich/d_11/");
    EXPECT_EQ(test::readFile(fJob.fDestination + "täglich/d_11/" + source.substr(1) + "a.txt"),
              "a");
    EXPECT_FALSE(test::exists(fJob.fDestination + "täglich/d_12/"));

    fJob.fContentOnly = true;
    fJob.fEndTime = encodeTime(20, 0, 0);
    fJob.setInterval(kIntervalHourly);
    EXPECT_TRUE(run());
    EXPECT_EQ(test::readFile(fJob.fDestination + "stündlich/h_10/a.txt"), "a");
}

// Each day's run writes its own interval folder; with the option it links
// what the run before wrote and the source kept unchanged.
TEST_F(JobRun, ADailyJobThatSavesSpaceLinksWhatTheRunBeforeWrote) {
    const std::string source = addSource("src", true, {file("a.txt", "a", 1700000000)});
    test::writeFile(source + "b.txt", "b", 1700000000);
    fJob.fContentOnly = true;
    fJob.setSchedule(kIntervalDaily, encodeTime(8, 0, 0));
    const auto runOn = [&](int day) {
        setClock([day] {
            return encodeDateTime({2027, 2, static_cast<uint16_t>(day), 10, 0, 0, 0});
        });
        fProtocol.clear();
        return run();
    };
    ASSERT_TRUE(runOn(1));
    EXPECT_EQ(fJob.fLastIntervalFolder, "täglich/d_01/");
    const struct {
        bool saveSpace;
        std::string stored;  // replaces the stored folder of the run before, if not empty
        bool linked;
    } cases[] = {{true, "", true}, {false, "", false}, {true, "../dst/täglich/d_03/", false}};
    int day = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(day);
        fJob.fSaveSpace = c.saveSpace;
        if (!c.stored.empty()) fJob.fLastIntervalFolder = c.stored;
        const std::string before = fJob.fDestination + "täglich/d_0" + std::to_string(day) + "/";
        ASSERT_TRUE(runOn(++day));
        const std::string now = fJob.fDestination + "täglich/d_0" + std::to_string(day) + "/";
        EXPECT_EQ(fJob.fLastIntervalFolder, "täglich/d_0" + std::to_string(day) + "/");
        struct stat was {
        }, is{};
        ASSERT_EQ(::stat((before + "a.txt").c_str(), &was), 0);
        ASSERT_EQ(::stat((now + "a.txt").c_str(), &is), 0);
        EXPECT_EQ(was.st_ino == is.st_ino, c.linked);
        const long added = position("2 Dateien hinzugefügt. ");
        ASSERT_GT(added, position("Ergebnis:"));
        EXPECT_EQ(position("2 Dateien verknüpft."), c.linked ? added + 1 : -1);
        EXPECT_EQ(count("  verknüpfe " + now + "b.txt"), c.linked ? 1 : 0);
    }
}

TEST_F(JobRun, ProtocolOfOneSourceInItsOrder) {
    fJob.fContentOnly = true;
    fJob.fSources.push_back(makeSourceEntry(fTmp / "off", false));
    const std::string source = addSource("src", true, {file("a.txt", "a")});
    EXPECT_TRUE(run());
    const long compare = position("vergleiche " + source + " mit " + fJob.fDestination);
    const long result = position("Ergebnis:");
    const long added = position("1 Datei hinzugefügt. ");
    ASSERT_GE(compare, 0);
    EXPECT_GT(result, compare);
    EXPECT_GT(added, result);
    EXPECT_EQ(fProtocol.back(), " ");
    EXPECT_EQ(count(" "), 2);  // one for the inactive entry too
    EXPECT_EQ(position("  Keine Dateien im Quellverzeichnis."), -1);
    // Both folders lie in one file system: the question shows in the protocol.
    const long question = position(
        "Ein Backup auf demselben Laufwerk bietet keine Sicherheit bei einem Laufwerksdefekt.");
    EXPECT_GE(question, 0);
    EXPECT_LT(question, compare);
    for (const std::string& line : fProtocol) EXPECT_NE(line.rfind("Zeitunterschied: ", 0), 0u);
}

TEST_F(JobRun, TheThreadsVariableSetsTheMirrorsThreadsAndABadValueIsNamed) {
    fJob.fContentOnly = true;
    addSource("src", true, {file("a.txt", "a")});
    const std::string ignored = "\" wird übergangen: erlaubt sind die Zahlen 1 bis 16.";
    const struct {
        const char* value;
        int workers;
        std::string line;
    } cases[] = {{nullptr, 2, ""},
                 {"", 2, ""},
                 {"1", 1, ""},
                 {"3", 3, ""},
                 {"0", 2, "QVB_THREADS=\"0" + ignored},
                 {"17", 2, "QVB_THREADS=\"17" + ignored},
                 {"2x", 2, "QVB_THREADS=\"2x" + ignored}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "unset");
        if (c.value) ::setenv("QVB_THREADS", c.value, 1);
        else ::unsetenv("QVB_THREADS");
        fProtocol.clear();
        EXPECT_TRUE(run());
        EXPECT_EQ(fJob.fCopyFolder->fWorkers, c.workers);
        const auto named = std::find_if(fProtocol.begin(), fProtocol.end(), [](const auto& line) {
            return line.rfind("QVB_THREADS", 0) == 0;
        });
        EXPECT_EQ(named == fProtocol.end() ? "" : *named, c.line);
    }
    ::unsetenv("QVB_THREADS");
}

TEST_F(JobRun, AnEmptySourceIsNamedAsSuch) {
    fJob.fContentOnly = true;
    addSource("src", true, {test::dir("empty")});
    EXPECT_TRUE(run());
    ASSERT_GE(fProtocol.size(), 2u);
    EXPECT_EQ(fProtocol[fProtocol.size() - 2], "  Keine Dateien im Quellverzeichnis.");

    fJob.fExclude = "*.tmp";
    fProtocol.clear();
    EXPECT_TRUE(run());
    ASSERT_GE(fProtocol.size(), 2u);
    EXPECT_EQ(fProtocol[fProtocol.size() - 2], "  Keine passenden Dateien im Quellverzeichnis.");
}

TEST_F(JobRun, NoToTheSameDriveQuestionEndsTheRun) {
    addSource("src", true, {file("a.txt", "a")});
    addSource("src2", true, {file("b.txt", "b")});
    ::mkdir(fJob.fDestination.c_str(), 0755);
    fUi.answers = {TMsgResult::No};
    EXPECT_FALSE(run());
    ASSERT_EQ(fUi.shown.size(), 1u);
    EXPECT_EQ(fUi.shown[0].kind, TMsgKind::Warning);
    EXPECT_EQ(fUi.shown[0].buttons, unsigned{mbYes | mbNo});
    EXPECT_EQ(fUi.shown[0].text,
              "Ein Backup auf demselben Laufwerk bietet keine Sicherheit bei einem "
              "Laufwerksdefekt.\r\nMöchten Sie die Sicherung trotzdem durchführen?");
    EXPECT_EQ(count("  kein Backup auf demselben Laufwerk."), 1);
    EXPECT_EQ(fJob.fStatus, csCancelled);
    EXPECT_EQ(fJob.fStatistics.fWarnings, 1);
    EXPECT_EQ(fJob.fStatusText, verdict(" wurde vom Benutzer abgebrochen."));
    EXPECT_EQ(fJob.fLastBackup, 0);
    EXPECT_FALSE(test::exists(fJob.fDestination + "a.txt"));
}

TEST_F(JobRun, ASourceSpelledAsTheDestinationIsRefused) {
    test::buildTree(fTmp / "dst", {file("a.txt", "a")});
    fJob.fSources.push_back(makeSourceEntry(fTmp / "./dst", true));
    EXPECT_TRUE(run());
    EXPECT_EQ(count("Quellverzeichnis und Zielverzeichnis dürfen nicht identisch sein!"), 1);
    EXPECT_EQ(fJob.fStatus, csError);
    EXPECT_EQ(fJob.fStatusText, verdict(" wurde wegen Fehler(n) abgebrochen."));
}

TEST_F(JobRun, ACancelDuringTheDestinationCheckCopiesNothing) {
    fJob.setDestination(fTmp / "new");
    addSource("src", true, {file("a.txt", "a")});
    fUi.onEvents = [this] {
        if (fJob.fStatus == csRunning) fJob.setStatus(csCancelled);
    };
    EXPECT_FALSE(run());
    EXPECT_EQ(count("TCopyJob.Execute: Kopieraktion abgebrochen"), 1);
    EXPECT_EQ(fJob.fStatusText, verdict(" wurde vom Benutzer abgebrochen."));
    EXPECT_FALSE(test::exists(fJob.fDestination + "a.txt"));
}

TEST(Verdict, OneSentencePerOutcome) {
    TCopyStatistics clean, warned, failed;
    warned.fWarnings = 1;
    failed.fErrors = 1;
    failed.fWarnings = 1;
    EXPECT_EQ(verdictText(csDone, clean), " wurde erfolgreich ausgeführt.");
    EXPECT_EQ(verdictText(csDone, warned),
              " wurde ausgeführt, aber es sind Warnungen aufgetreten.");
    EXPECT_EQ(verdictText(csDone, failed), " wurde ausgeführt, aber es sind Fehler aufgetreten.");
    EXPECT_EQ(verdictText(csWarnings, clean),
              " wurde ausgeführt, aber es sind Warnungen aufgetreten.");
    EXPECT_EQ(verdictText(csError, clean), " wurde wegen Fehler(n) abgebrochen.");
    EXPECT_EQ(verdictText(csCancelled, failed), " wurde vom Benutzer abgebrochen.");
    EXPECT_EQ(verdictText(csIdle, failed), "");
    EXPECT_EQ(verdictText(csRunning, failed), "");
}

// A job whose source, destination or both count as network drives.
class NetworkJob : public TCopyJob {
  public:
    bool fSourceRemote = false;
    bool fDestRemote = false;

  protected:
    bool isNetworkDrive(const std::string& path) const override {
        return path == fCopyFolder->fSource ? fSourceRemote : fDestRemote && path == fDestination;
    }
};

class NetworkRun : public JobRun {
  protected:
    NetworkRun() {
        fNet.fJobKey = "Job01";
        fNet.fJobName = "Test";
        fNet.fContentOnly = true;
        fNet.setDestination(fTmp / "dst");
        ::mkdir(fNet.fDestination.c_str(), 0755);
        fNet.setOnMessage([this](TCopyIt*) { drainNet(); });
    }
    ~NetworkRun() override { setLogLevel(1); }
    void drainNet() {
        for (std::string& line : fNet.takeMessages()) fProtocol.push_back(std::move(line));
    }
    std::vector<std::string> probesIn(const std::string& dir) {
        std::vector<std::string> found;
        for (const auto& [name, what] : readTree(dir))
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tst") == 0)
                found.push_back(name);
        return found;
    }
    bool logged(const std::string& prefix) const {
        return std::any_of(fProtocol.begin(), fProtocol.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }
    NetworkJob fNet;
};

// The clock is measured with a probe in the destination alone: a source is
// never written, whatever file system it lies on, and no file of the user's
// is touched.
TEST_F(NetworkRun, OnlyANetworkDestinationGetsAProbeAndTheSourceIsNeverWritten) {
    struct Case {
        bool sourceRemote, destRemote;
    };
    setLogLevel(4);
    char number[64];
    std::snprintf(number, sizeof number, "%.15g", kNow);
    std::string taken = number;
    std::replace(taken.begin(), taken.end(), '.', 's');
    taken += ".tst";
    const std::string source = fTmp / "src/";
    test::buildTree(source, {file(taken, "mine"), file("a.txt", "a")});
    test::buildTree(fNet.fDestination, {file(taken, "also mine")});
    fNet.fSources.push_back(makeSourceEntry(source, true));
    for (const Case c : {Case{true, false}, Case{false, true}, Case{true, true}}) {
        SCOPED_TRACE(std::to_string(c.sourceRemote) + std::to_string(c.destRemote));
        fNet.fSourceRemote = c.sourceRemote;
        fNet.fDestRemote = c.destRemote;
        fProtocol.clear();
        std::vector<std::string> probed;
        sys::setFaultHook([&](sys::Op op, const char* path) {
            const std::string p = path ? path : "";
            // The mirror reads the user's file of that name (by its path or by its name in its
            // folder); the letter-case probe is not the clock's.
            if (op == sys::Op::Open && p.size() > 4 && p.compare(p.size() - 4, 4, ".tst") == 0 &&
                p != source + taken && p != taken &&
                p.find(".qvb-case-probe-") == std::string::npos)
                probed.push_back(p);
            return 0;
        });
        test::setMtime(source, 1600000000);
        EXPECT_TRUE(fNet.Execute());
        sys::setFaultHook({});
        drainNet();
        for (const std::string& p : probed) EXPECT_EQ(p.rfind(fNet.fDestination, 0), 0u) << p;
        EXPECT_EQ(probed.empty(), !c.destRemote);
        struct stat st {};
        ASSERT_EQ(::stat(source.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, 1600000000) << "nothing was made or removed in the source";
        EXPECT_EQ(test::readFile(source + taken), "mine");
        EXPECT_EQ(probesIn(source), std::vector<std::string>{taken});
        EXPECT_EQ(test::readFile(fNet.fDestination + taken), "mine");  // the mirror's copy
        EXPECT_EQ(probesIn(fNet.fDestination), std::vector<std::string>{taken});
        EXPECT_EQ(logged("Der Zeitunterschied zur Quelle \"" + source +
                         "\" wird nicht gemessen (in die Quelle wird nie geschrieben); er gilt "
                         "als 0, die Toleranz gilt."),
                  c.sourceRemote);
        EXPECT_FALSE(logged("Zeitunterschied: "));  // one clock here
        EXPECT_EQ(fNet.fStatistics.fErrors, 0);
    }
}

TEST_F(NetworkRun, AProbeThatCannotBeWrittenIsOneErrorOfItsSource) {
    const std::string source = fTmp / "src/";
    test::buildTree(source, {file("a.txt", "a")});
    fNet.fSources.push_back(makeSourceEntry(source, true));
    fNet.fDestRemote = true;
    sys::setFaultHook([](sys::Op op, const char* path) {
        const std::string p = path ? path : "";
        return op == sys::Op::Open && p.size() > 4 && p.compare(p.size() - 4, 4, ".tst") == 0
                   ? EACCES
                   : 0;
    });
    EXPECT_TRUE(fNet.Execute());
    drainNet();
    EXPECT_TRUE(logged("FEHLER:  Die Prüfdatei \"" + fNet.fDestination));
    EXPECT_EQ(fNet.fStatistics.fErrors, 1);
    EXPECT_EQ(fNet.fStatusText, verdict(" wurde ausgeführt, aber es sind Fehler aufgetreten."));
    // The source is backed up all the same.
    EXPECT_EQ(test::readFile(fNet.fDestination + "a.txt"), "a");
    EXPECT_TRUE(probesIn(fNet.fDestination).empty());
}

// A destination that keeps no time set on a file is named once per run.
TEST_F(NetworkRun, ADestinationThatKeepsNoTimesIsOneWarningPerRun) {
    for (const char* name : {"a", "b"}) {
        test::buildTree(fTmp / (std::string(name) + "/"), {file("f", "f")});
        fNet.fSources.push_back(makeSourceEntry(fTmp / name, true));
    }
    fNet.fDestRemote = true;
    sys::setFaultHook([](sys::Op op, const char* path) {
        const std::string p = path ? path : "";
        return op == sys::Op::SetTimes && p.size() > 4 && p.compare(p.size() - 4, 4, ".tst") == 0
                   ? EPERM
                   : 0;
    });
    EXPECT_TRUE(fNet.Execute());
    drainNet();
    const std::string warning = "WARNUNG:  Das Zielverzeichnis \"" + fNet.fDestination +
                                "\" behält die Dateizeiten nicht; die Kopien tragen die Zeit des "
                                "Kopierens.";
    EXPECT_EQ(std::count(fProtocol.begin(), fProtocol.end(), warning), 1);
    EXPECT_EQ(fNet.fStatistics.fWarnings, 1);
    EXPECT_EQ(fNet.fCopyFolder->fTimeTolerance, 2);
}

// A job whose clock offsets are given, one per source.
class OffsetJob : public TCopyJob {
  public:
    std::deque<double> fOffsetSeconds;

    std::optional<TDateTime> measureClockOffset() override {
        const double seconds = fOffsetSeconds.front();
        fOffsetSeconds.pop_front();
        return seconds / kSecondsPerDay;
    }
};

TEST(ClockOffset, ALargerOffsetRaisesTheToleranceForTheRestOfTheRun) {
    test::RecordingUserInterface ui;
    test::TempDir tmp;
    OffsetJob job;
    job.setDestination(tmp / "dst");
    job.fContentOnly = true;
    job.fTimeTolerance = 2;
    for (const char* name : {"a", "b", "c"}) {
        test::buildTree(tmp / (std::string(name) + "/"), {file("f", "f")});
        job.fSources.push_back(makeSourceEntry(tmp / name, true));
    }
    job.fOffsetSeconds = {3600.5, 5, -7200};
    job.Execute();
    std::vector<std::string> lines;
    for (std::string& l : job.takeMessages())
        if (l.rfind("Zeitunterschied: ", 0) == 0) lines.push_back(l);
    EXPECT_EQ(lines, (std::vector<std::string>{"Zeitunterschied: 3600,5", "Zeitunterschied: 5",
                                               "Zeitunterschied: -7200"}));
    EXPECT_EQ(job.fCopyFolder->fTimeTolerance, 3601);

    job.fOffsetSeconds = {1.5, 0, 0};
    job.Execute();
    EXPECT_EQ(job.fCopyFolder->fTimeTolerance, 2);  // each run starts from the job's own
}

TEST(JobFields, DestinationSourcesAndDefaults) {
    TCopyJob job;
    EXPECT_EQ(job.fJobName, "CopyJob");
    EXPECT_EQ(job.fTimeTolerance, 2);
    EXPECT_EQ(job.fInterval, 0);
    EXPECT_FALSE(job.fActive);
    EXPECT_EQ(job.fPassTo, job.fCopyFolder.get());

    // One spelling for an absolute destination, so that interval folders land inside it.
    job.setDestination("/media//usb/./alt/../Backup");
    EXPECT_EQ(job.fDestination, "/media/usb/Backup/");
    EXPECT_EQ(job.fCopyFolder->fDest, job.fDestination);
    // Anything else stays as written; the run refuses it.
    job.setDestination("backup/../Sicherung");
    EXPECT_EQ(job.fDestination, "backup/../Sicherung");
    job.setDestination("E:\\Backup\\");
    EXPECT_EQ(job.fDestination, "E:\\Backup\\");
    job.setDestination("");
    EXPECT_EQ(job.fDestination, "");

    // The flag follows the last "=", since a folder name may hold one.
    job.fSources = {"/daten/a=1/=0", "/daten/b=0/=1", "/daten/c=1"};
    EXPECT_EQ(job.sourceCount(), 3);
    EXPECT_FALSE(sourceEntryActive(job.fSources[0]));
    EXPECT_TRUE(sourceEntryActive(job.fSources[1]));
    EXPECT_EQ(sourceEntryDirectory(job.fSources[1]), "/daten/b=0/");
    EXPECT_FALSE(sourceEntryActive("/daten/d=11"));
    EXPECT_FALSE(sourceEntryActive("/daten/e"));
}

}  // namespace
}  // namespace qvb
