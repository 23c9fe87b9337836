// Back up over several days (the clock set by the test), change and delete
// files between the runs, then bring files back from the versions and compare
// with the tree as it was on that day.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>

#include "jobs/BU_Options.h"
#include "jobs/CopyJobList.h"
#include "jobs/Versions.h"
#include "platform/DataFolder.h"
#include "session/ProtocolHistory.h"
#include "session/Session.h"
#include "support/SettingsSandbox.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/Sys.h"

namespace qvb {
namespace {

// Kind, mode, modification time to the nanosecond and content or link target
// of every entry below `root`.
std::map<std::string, std::string> snapshot(const std::string& root, const std::string& rel = "") {
    std::map<std::string, std::string> result;
    DIR* dir = ::opendir((root + rel).c_str());
    if (!dir) return result;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = rel + name;
        struct stat st {};
        ::lstat((root + path).c_str(), &st);
        const std::string text = std::to_string(st.st_mode & 07777) + " " +
                                 std::to_string(st.st_mtim.tv_sec) + "." +
                                 std::to_string(st.st_mtim.tv_nsec);
        if (S_ISDIR(st.st_mode)) {
            result[path + "/"] = "dir " + text;
            result.merge(snapshot(root, path + "/"));
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            std::string target;
            sys::readlink((root + path).c_str(), target);
            result[path] = "link " + target + " " + text;
        } else {
            result[path] = "file " + test::readFile(root + path) + " " + text;
        }
    }
    ::closedir(dir);
    return result;
}

class Restore : public ::testing::Test {
  public:
    void SetUp() override {
        ::mkdir(source.c_str(), 0700);
        setProgramIniFile(dir / "qvb.ini");
        {
            TQV_BackupOptions options;
            TCopyJobList list(&options);
            auto job = std::make_unique<TCopyJob>();
            job->fJobName = "Haus";
            job->fSources = {makeSourceEntry(source, true)};
            job->setDestination(dest);
            job->fContentOnly = contentOnly();
            job->setInterval(kIntervalDaily);
            list.add(std::move(job));
            ASSERT_TRUE(list.saveJobsAndOptions());
        }
        ASSERT_EQ(session.open(), "");
        job = &session.jobs().getJob(0);
    }
    void TearDown() override { setClock({}); }
    virtual bool contentOnly() const { return false; }

    // A run on day `day` of December 2026, which writes "täglich/d_<day>".
    void backUpOn(int day) {
        setClock([day] { return encodeDate(2026, 12, day) + encodeTime(10, 0, 0); });
        ASSERT_TRUE(session.runJob(*job, TRunKind::Backup, TAnswers::Unattended));
        setClock({});
    }
    TRestoreOutcome restore(const std::string& version, const std::vector<std::string>& paths,
                            const std::string& to = {},
                            TConflictAnswer answer = TConflictAnswer::Skip,
                            std::function<void(const TRestore&)> onProgress = {}) {
        std::string error;
        const std::vector<TVersion> versions = jobVersions(*job);
        const auto items = planRestore(*job, versions, version, paths, to, error);
        EXPECT_EQ(error, "");
        TRestoreEvents events;
        events.onConflict = [answer](const std::string&, const std::string&) { return answer; };
        events.onProgress = std::move(onProgress);
        return session.restore(*job, version, items, false, events);
    }

    test::SettingsSandbox sandbox;
    test::TempDir dir;
    const std::string source = dir / "haus/";
    const std::string dest = dir / "sicherung/";
    TSession session{dir / "qvb.ini"};
    TCopyJob* job = nullptr;
    // The source as each day's run left it.
    std::map<int, std::map<std::string, std::string>> states;

    // Three days: a file changed and one deleted each day, a folder removed on
    // the second, a link, an executable and a private file throughout.
    void backUpThreeDays() {
        test::buildTree(source,
                        {test::file("a.txt", "eins", 1'700'000'000),
                         test::file("sub/b.txt", "bee", 1'700'000'100),
                         test::file("run.sh", "#!/bin/sh\n", 1'700'000'200),
                         test::file("geheim", "pst", 1'700'000'300), test::link("zu-a", "a.txt")});
        ::chmod((source + "run.sh").c_str(), 0755);
        ::chmod((source + "geheim").c_str(), 0600);
        ::chmod((source + "sub").c_str(), 0750);
        test::setMtime(source + "geheim", 1'700'000'300, 123456789);
        states[2] = snapshot(source);
        backUpOn(2);
        test::writeFile(source + "a.txt", "zwei, länger", 1'700'100'000);
        test::writeFile(source + "c.txt", "neu", 1'700'100'100);
        ::unlink((source + "sub/b.txt").c_str());
        ::rmdir((source + "sub").c_str());
        states[3] = snapshot(source);
        backUpOn(3);
        ::unlink((source + "a.txt").c_str());
        test::writeFile(source + "c.txt", "neuer", 1'700'200'000);
        states[4] = snapshot(source);
        backUpOn(4);
    }
};

class RestoreContentOnly : public Restore {
    bool contentOnly() const override { return true; }
};

// Whole versions to another folder and single files and folders to the
// original place, in both layouts of the destination.
void roundTrip(Restore& t, const std::string& layout) {
    SCOPED_TRACE(layout);
    t.backUpThreeDays();
    const std::vector<TVersion> versions = jobVersions(*t.job);
    ASSERT_EQ(versions.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(versions[i].name, "täglich/d_0" + std::to_string(4 - i));
        EXPECT_EQ(versions[i].state, TVersionState::Ok);
        EXPECT_EQ(versions[i].time,
                  encodeDate(2026, 12, 4 - static_cast<int>(i)) + encodeTime(10, 0, 0));
    }
    for (const int day : {2, 3, 4}) {
        const std::string out = t.dir / ("tag" + std::to_string(day) + "/");
        EXPECT_TRUE(t.restore("täglich/d_0" + std::to_string(day), {t.source}, out).ok);
        EXPECT_EQ(snapshot(out), t.states[day]) << day;
    }
    // Without a version: the newest that holds it (a.txt of day 3, sub of day 2).
    const TRestoreOutcome back = t.restore("", {t.source + "a.txt", t.source + "sub"});
    EXPECT_TRUE(back.ok);
    const auto now = snapshot(t.source);
    EXPECT_EQ(now.at("a.txt"), t.states[3].at("a.txt"));
    EXPECT_EQ(now.at("sub/"), t.states[2].at("sub/"));
    EXPECT_EQ(now.at("sub/b.txt"), t.states[2].at("sub/b.txt"));
    EXPECT_EQ(now.at("c.txt"), t.states[4].at("c.txt"));

    // Each restore keeps its protocol beside the runs', named as a restore;
    // a preview keeps none.
    t.session.restore(*t.job, "", {}, true, {});
    const std::string history = historyListText(listHistory(t.session.historyFolder()));
    size_t restores = 0, runs = 0;
    for (size_t line = 0; line < history.size(); line = history.find('\n', line) + 1) {
        const std::string fields = history.substr(line, history.find('\n', line) - line);
        EXPECT_NE(fields.find("\tJob01\tHaus\t"), std::string::npos) << fields;
        restores += fields.find("\tWiederherstellung: erfolgreich\t0\t0\t") != std::string::npos;
        runs += fields.find("\tHaus\terfolgreich\t0\t0\t") != std::string::npos;
    }
    EXPECT_EQ(restores, 4u) << history;
    EXPECT_EQ(runs, 3u) << history;
}

TEST_F(Restore, VersionsComeBackAsTheyWereWithFullSourcePaths) {
    roundTrip(*this, "full paths");
}

TEST_F(RestoreContentOnly, VersionsComeBackAsTheyWereWithContentOnly) {
    roundTrip(*this, "content only");
}

// A differing file in the way, for each answer; nothing in the target is
// ever deleted, and the backup is never a target.
TEST_F(Restore, FilesInTheWayAreKeptReplacedOrJoinedAndNothingIsDeleted) {
    backUpThreeDays();
    const struct {
        TConflictAnswer answer;
        const char* cText;       // c.txt afterwards
        const char* besideText;  // "c (wiederhergestellt).txt" afterwards, "" for none
        int warnings;
    } cases[] = {
        {TConflictAnswer::Skip, "mine", "", 1},
        {TConflictAnswer::Replace, "neu", "", 0},
        {TConflictAnswer::KeepBoth, "mine", "neu", 0},
    };
    for (const auto& c : cases) {
        test::writeFile(source + "c.txt", "mine");
        ::unlink((source + "c (wiederhergestellt).txt").c_str());
        test::writeFile(source + "eigen.txt", "bleibt");
        const TRestoreOutcome outcome = restore("täglich/d_03", {source}, {}, c.answer);
        EXPECT_TRUE(outcome.ok);
        EXPECT_EQ(test::readFile(source + "c.txt"), c.cText);
        EXPECT_EQ(test::exists(source + "c (wiederhergestellt).txt"), *c.besideText != '\0');
        if (*c.besideText) {
            EXPECT_EQ(test::readFile(source + "c (wiederhergestellt).txt"), c.besideText);
        }
        EXPECT_EQ(test::readFile(source + "eigen.txt"), "bleibt");
        EXPECT_EQ(outcome.verdict.find("Warnungen") != std::string::npos, c.warnings > 0);
    }
    // Unchanged files are left alone, whatever the answer.
    EXPECT_EQ(snapshot(source).at("run.sh"), states[3].at("run.sh"));

    const auto backup = snapshot(dest);
    const TRestoreOutcome inside = restore("täglich/d_02", {source}, dest + "x");
    EXPECT_FALSE(inside.ok);
    EXPECT_EQ(snapshot(dest), backup);

    // A backup run holds the destination: the restore waits for none and reads nothing.
    const int fd = ::open(dest.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_FALSE(restore("täglich/d_02", {source}, dir / "gesperrt").ok);
    ::close(fd);
    EXPECT_FALSE(test::exists(dir / "gesperrt"));
}

TEST_F(Restore, ACancelStopsBetweenFilesAndLeavesNoHalfFile) {
    backUpThreeDays();
    const std::string out = dir / "abbruch/";
    const TRestoreOutcome outcome =
        restore("täglich/d_02", {source}, out, TConflictAnswer::Skip, [this](const TRestore& r) {
            if (r.fDone == 1) session.cancelRestore();
        });
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.ok);
    const auto restored = snapshot(out);
    size_t files = 0;
    for (const auto& [path, text] : restored) {
        if (path.back() == '/') continue;
        ++files;
        EXPECT_EQ(text, states[2].at(path));  // whole, never a temporary or half file
    }
    EXPECT_EQ(files, 1u);
}

TEST(Versions, OriginalPathsMapIntoEitherLayoutOfTheDestination) {
    const struct {
        bool contentOnly;
        std::vector<std::string> sources;
        const char* original;
        const char* inBackup;  // "" for none
    } cases[] = {
        {false, {"/home/a/Fotos"}, "/home/a/Fotos/x/y.jpg", "/z/täglich/d_01/home/a/Fotos/x/y.jpg"},
        {false, {"/home/a/Fotos"}, "/home/a/Fotos/", "/z/täglich/d_01/home/a/Fotos/"},
        {true, {"/home/a/Fotos"}, "/home/a/Fotos/x/y.jpg", "/z/täglich/d_01/x/y.jpg"},
        {true, {"/home/a", "/home/a/Fotos"}, "/home/a/Fotos/y.jpg", "/z/täglich/d_01/y.jpg"},
        {false, {"/home/a/Fotos"}, "/home/a/Fotosalbum/y.jpg", ""},
        {false, {"/home/a/Fotos"}, "/etc/passwd", ""},
    };
    for (const auto& c : cases) {
        TCopyJob job;
        for (const std::string& s : c.sources) job.fSources.push_back(makeSourceEntry(s, true));
        job.fContentOnly = c.contentOnly;
        const TVersion version{"täglich/d_01", "täglich/d_01/", "/z/täglich/d_01/", 0,
                               TVersionState::Unknown};
        const auto located = locateInVersion(job, version, c.original);
        EXPECT_EQ(located ? located->inBackup : "", c.inBackup) << c.original;
    }
    TCopyJob shared;
    shared.fContentOnly = true;
    shared.fSources = {makeSourceEntry("/a", true), makeSourceEntry("/b", false)};
    const auto roots = versionRoots(shared, TVersion{".", "", "/z/", 0, TVersionState::Ok});
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(roots[0].original, "");  // the origin of a file there cannot be told

    EXPECT_EQ(restoredName("/x/bild.jpg"), "/x/bild (wiederhergestellt).jpg");
    EXPECT_EQ(restoredName("/x/.profil", 2), "/x/.profil (wiederhergestellt 2)");
    EXPECT_EQ(restoredName("/x.d/Ordner/"), "/x.d/Ordner (wiederhergestellt)");
}

}  // namespace
}  // namespace qvb
