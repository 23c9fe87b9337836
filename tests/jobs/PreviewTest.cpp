// A preview takes every decision of a run and logs every line of it, but the
// disk stays as it was: the run that follows must write what the preview said.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/CopyFolder.h"
#include "jobs/CopyJob.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"

namespace qvb {
namespace {

using test::file;

// Everything lstat and a read can tell about a tree, to the nanosecond.
void snapshotInto(const std::string& root, const std::string& rel,
                  std::map<std::string, std::string>& out) {
    DIR* dir = ::opendir((root + rel).c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            names.push_back(e->d_name);
    ::closedir(dir);
    for (const std::string& name : names) {
        const std::string path = rel + name;
        struct stat st {};
        ::lstat((root + path).c_str(), &st);
        std::string what = std::to_string(st.st_mode) + " " + std::to_string(st.st_mtim.tv_sec) +
                           "." + std::to_string(st.st_mtim.tv_nsec) + " " +
                           std::to_string(st.st_uid) + " ";
        if (S_ISDIR(st.st_mode)) {
            snapshotInto(root, path + "/", out);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink((root + path).c_str(), target, sizeof target);
            what += std::string(target, static_cast<size_t>(std::max<ssize_t>(n, 0)));
        } else {
            what += test::readFile(root + path);
        }
        out[path] = what;
    }
}

std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> out;
    snapshotInto(root, "", out);
    return out;
}

bool isPreviewLine(const std::string& line) {
    return line.rfind("Vorschau: ", 0) == 0;
}

std::vector<std::string> withoutPreviewLines(std::vector<std::string> lines) {
    lines.erase(std::remove_if(lines.begin(), lines.end(), isPreviewLine), lines.end());
    return lines;
}

std::vector<int64_t> counters(const TCopyStatistics& s) {
    return {s.fAdded,       s.fReplaced,    s.fSkipped,   s.fNotCopied,
            s.fDeleted,     s.fWarnings,    s.fErrors,    s.fNotDeleted,
            s.fDirsDeleted, s.fSourceFiles, s.fDestFiles, s.fSourceDirs,
            s.fDestDirs,    s.fSourceBytes, s.fDestBytes, s.fCopiedBytes};
}

class Preview : public ::testing::Test {
  protected:
    Preview() {
        job.fJobKey = "Job01";
        job.fJobName = "T";
        job.fContentOnly = true;
        job.setDelete(true);
        job.setDestination(tmp / "ziel");
        job.fSources.push_back(makeSourceEntry(source, true));
        job.setOnMessage([this](TCopyIt*) { drain(); });
    }

    void drain() {
        TCopyFolder& mirror = *job.fCopyFolder;
        for (TCopyIt* op : {static_cast<TCopyIt*>(mirror.fCopier.get()),
                            static_cast<TCopyIt*>(&mirror), static_cast<TCopyIt*>(&job)})
            for (std::string& line : op->takeMessages()) protocol.push_back(std::move(line));
    }
    std::vector<std::string> run(bool preview) {
        protocol.clear();
        job.setPreview(preview);
        job.Execute();
        drain();
        return protocol;
    }
    bool logged(const std::string& line) const {
        return std::find(protocol.begin(), protocol.end(), line) != protocol.end();
    }

    test::TempDir tmp;
    test::RecordingUserInterface ui;
    TCopyJob job;
    const std::string source = tmp / "quelle/";
    std::vector<std::string> protocol;
};

// A source with files in nested folders, links, an empty folder and names
// whose type will change; then a backup of it, then changes of every kind.
class Changes {
  public:
    Changes(const std::string& root, unsigned seed) : fRoot(root), fRng(seed) {}

    void build() {
        std::vector<test::TNode> nodes;
        const char* folders[] = {"", "a/", "a/b/", "c/", "c/d/"};
        for (int i = 0; i < 30; ++i)
            nodes.push_back(
                file(folders[pick(5)] + ("f" + std::to_string(i) + ".txt"), content(), time()));
        nodes.push_back(test::link("l1", "f0.txt"));
        nodes.push_back(test::link("t4", "a"));
        nodes.push_back(file("t1/inner.txt", content(), time()));
        nodes.push_back(file("t2", content(), time()));
        nodes.push_back(file("t3", content(), time()));
        nodes.push_back(test::dir("leer/"));
        test::buildTree(fRoot, nodes);
    }

    void change() {
        std::vector<std::string> files;
        for (const auto& [name, what] : test::readTree(fRoot))
            if (name.find(".txt") != std::string::npos && name.rfind("t1/", 0) != 0)
                files.push_back(name);
        std::shuffle(files.begin(), files.end(), fRng);
        size_t next = 0;
        for (int i = 0; i < 3; ++i) test::writeFile(fRoot + files[next++], content(), time());
        for (int i = 0; i < 2; ++i) test::setMtime(fRoot + files[next++], time());
        for (int i = 0; i < 3; ++i) ::unlink((fRoot + files[next++]).c_str());
        for (int i = 0; i < 2; ++i, ++next)
            ::rename((fRoot + files[next]).c_str(), (fRoot + files[next] + ".neu").c_str());
        ::chmod((fRoot + files[next++]).c_str(), 0600);
        test::buildTree(
            fRoot, {file("neu/x/n1.txt", content(), time()), file("n2.txt", content(), time())});
        test::removeTree(fRoot + "c/d");
        test::removeTree(fRoot + "t1");
        test::writeFile(fRoot + "t1", content(), time());
        ::unlink((fRoot + "t2").c_str());
        test::buildTree(fRoot, {file("t2/drin.txt", content(), time())});
        ::unlink((fRoot + "t3").c_str());
        ::symlink("f1.txt", (fRoot + "t3").c_str());
        ::unlink((fRoot + "t4").c_str());
        test::writeFile(fRoot + "t4", content(), time());
    }

  private:
    size_t pick(size_t n) { return fRng() % n; }
    std::string content() { return std::string(pick(3000), static_cast<char>('a' + pick(26))); }
    time_t time() { return 1500000000 + static_cast<time_t>(pick(1000000)); }

    std::string fRoot;
    std::mt19937 fRng;
};

TEST_F(Preview, SaysWhatTheFollowingRunDoesAndLeavesEveryTreeAsItWas) {
    for (unsigned seed : {1u, 7u, 42u, 2027u, 65535u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        test::removeTree(source);
        test::removeTree(job.fDestination);
        Changes changes(source, seed);
        changes.build();
        run(false);
        changes.change();

        const auto before = snapshot(tmp.path());
        const std::vector<std::string> previewLines = run(true);
        const TCopyStatistics previewCounts = job.fStatistics;
        const std::string previewVerdict = job.fStatusText;
        EXPECT_EQ(snapshot(tmp.path()), before);

        const std::vector<std::string> runLines = run(false);
        EXPECT_EQ(withoutPreviewLines(previewLines), runLines);
        EXPECT_EQ(counters(previewCounts), counters(job.fStatistics));
        EXPECT_EQ(previewVerdict, "Vorschau: " + job.fStatusText);
        EXPECT_GT(previewCounts.fDeleted, 0);
        EXPECT_GT(previewCounts.fDirsDeleted, 0);
        EXPECT_GT(previewCounts.fReplaced, 0);
        EXPECT_NE(snapshot(tmp.path()), before);
    }
}

TEST_F(Preview, OfAMissingDestinationCreatesNothingAndSaysSo) {
    test::buildTree(source, {file("a/b.txt", "b"), file("c.txt", "cc"), test::dir("leer/")});
    job.setDestination(tmp / "fehlt/ziel");
    const auto before = snapshot(tmp.path());
    run(true);
    EXPECT_EQ(snapshot(tmp.path()), before);
    EXPECT_TRUE(logged("Vorschau: Das Zielverzeichnis \"" + job.fDestination +
                       "\" existiert nicht, und der Ordner \"" + tmp.path() +
                       "fehlt/\" fehlt; ein Lauf fragt, ob sie erstellt werden sollen."));
    EXPECT_TRUE(logged("  erstelle " + job.fDestination + "a/b.txt"));
    EXPECT_TRUE(logged("  erstelle " + job.fDestination + "c.txt"));
    EXPECT_EQ(job.fStatistics.fAdded, 2);
    EXPECT_EQ(job.fStatistics.fCopiedBytes, 3);
    EXPECT_EQ(job.fStatistics.fErrors, 0);
    EXPECT_EQ(job.fLastBackup, 0);
}

TEST_F(Preview, ReportsTheQuestionsOfARunWithoutAskingThem) {
    std::vector<test::TNode> many;
    for (int i = 0; i < 60; ++i) many.push_back(file("f" + std::to_string(i), "x"));
    test::buildTree(job.fDestination, many);
    test::buildTree(source, {file("f0", "x")});
    run(true);
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_TRUE(logged("Vorschau: Ein Lauf fragt hier; gezeigt wird die Antwort \"Ja\"."));
    EXPECT_TRUE(logged("Vorschau: Ein Lauf fragt hier, ob im Zielverzeichnis \"" +
                       job.fDestination +
                       "\" 59 von 60 Dateien gelöscht werden sollen; gezeigt wird die Antwort "
                       "\"Ja\"."));
    EXPECT_EQ(job.fStatistics.fDeleted, 59);
    EXPECT_EQ(test::readTree(job.fDestination).size(), 60u);
}

// Where nobody is asked, the run skips a large deletion unless it is allowed:
// the preview must say the same, line for line and counter for counter.
TEST_F(Preview, OfALargeDeletionWithoutAWindowDecidesAsTheRun) {
    struct Case {
        bool window, unattended, allowed;
        int32_t deleted;
    } cases[] = {{false, false, false, 0},
                 {true, true, false, 0},
                 {false, false, true, 59},
                 {true, false, true, 59}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.window) + std::to_string(c.unattended) +
                     std::to_string(c.allowed));
        test::removeTree(job.fDestination);
        std::vector<test::TNode> many;
        for (int i = 0; i < 60; ++i) many.push_back(file("f" + std::to_string(i), "x"));
        test::buildTree(job.fDestination, many);
        test::buildTree(source, {file("f0", "x")});
        ui.shown.clear();
        ui.asks = c.window;
        job.fAnswers = c.unattended ? TAnswers::Unattended : TAnswers::User;
        job.fAllowMassDelete = c.allowed;
        const std::vector<std::string> previewLines = run(true);
        const TCopyStatistics previewCounts = job.fStatistics;
        EXPECT_TRUE(ui.shown.empty());
        EXPECT_EQ(test::readTree(job.fDestination).size(), 60u);
        const std::vector<std::string> runLines = run(false);
        EXPECT_EQ(withoutPreviewLines(previewLines), runLines);
        EXPECT_EQ(counters(previewCounts), counters(job.fStatistics));
        EXPECT_EQ(previewCounts.fDeleted, c.deleted);
    }
}

// A source that counts as a network drive: a run would write probe files.
class NetworkPreviewJob : public TCopyJob {
  protected:
    bool isNetworkDrive(const std::string& path) const override {
        return path == fCopyFolder->fSource;
    }
};

TEST(NetworkPreview, SkipsTheClockProbeAndSaysSo) {
    test::TempDir tmp;
    test::RecordingUserInterface ui;
    NetworkPreviewJob job;
    job.fJobKey = "Job01";
    job.fContentOnly = true;
    job.setDestination(tmp / "ziel");
    test::buildTree(tmp / "quelle/", {file("a.txt", "a")});
    job.fSources.push_back(makeSourceEntry(tmp / "quelle", true));
    job.setPreview(true);
    const auto before = snapshot(tmp.path());
    job.Execute();
    EXPECT_EQ(snapshot(tmp.path()), before);
    const std::vector<std::string> lines = job.takeMessages();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Vorschau: Der Zeitunterschied zum Netzlaufwerk wird nicht gemessen."),
              lines.end());
}

}  // namespace
}  // namespace qvb
