#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/CopyFolder.h"
#include "engine/LogLevel.h"
#include "support/RecordingUserInterface.h"
#include "support/TempDir.h"
#include "support/Tree.h"
#include "util/Sys.h"

// The mirror with workers against the mirror on one thread: whatever the
// protocol, the counters or the destination show must not tell them apart.

namespace qvb {
namespace {

using test::file;
using test::readTree;
using Lines = std::vector<std::string>;

constexpr time_t kT = 1700000000;

bool contains(const char* path, const char* part) {
    return path != nullptr && std::string(path).find(part) != std::string::npos;
}

// Source files named "fail_" cannot be read (opened by their path or by their
// name in their folder), and copies named "full_" are refused by the
// destination; no copy program is at hand to try again.
int injectFailures(sys::Op op, const char* path) {
    if (op == sys::Op::Open && contains(path, "fail_")) return EIO;
    if ((op == sys::Op::Link || op == sys::Op::Rename) && contains(path, "full_")) return EROFS;
    if (op == sys::Op::Spawn) return ENOENT;
    return 0;
}

std::string content(int i) {
    return std::string(static_cast<size_t>(i * 37 % 3000), static_cast<char>('a' + i % 26));
}

// New, changed, unchanged, deleted, excluded, skipped, failing and large
// files, a link and a name that changed its type, over a dozen folders.
void buildMixedTrees(const std::string& src, const std::string& dst) {
    std::vector<test::TNode> source, dest;
    for (int i = 0; i < 300; ++i) {
        const std::string folder = "d" + std::to_string(i % 12) + "/";
        std::string name = folder + "f" + std::to_string(i) + ".txt";
        if (i % 41 == 7) name = folder + "fail_" + std::to_string(i) + ".txt";
        if (i % 43 == 9) name = folder + "full_" + std::to_string(i) + ".txt";
        source.push_back(file(name, content(i), kT + i));
        if (i % 5 == 1) dest.push_back(file(name, "old", kT - 100));
        if (i % 5 >= 2) dest.push_back(file(name, content(i), kT + i));
    }
    test::TNode readOnly = file("d0/mode.txt", "m", kT);
    readOnly.mode = 0600;
    source.push_back(readOnly);
    dest.push_back(file("d0/mode.txt", "m", kT));
    source.push_back(file("d3/big.bin", std::string(3 << 19, 'B'), kT));
    dest.push_back(file("d3/big.bin", "small", kT - 100));
    source.push_back(file("d5/notes.tmp", "excluded", kT));
    source.push_back(file("skipme/inner.txt", "skipped", kT));
    test::TNode link = test::link("d2/link", "f2.txt");
    link.mtime = kT;
    source.push_back(link);
    source.push_back(file("d4/was_dir", "now a file", kT));
    dest.push_back(file("d4/was_dir/inside.txt", "gone", kT));
    for (int i = 0; i < 20; ++i) dest.push_back(file("old/gone" + std::to_string(i), "x", kT));
    test::buildTree(src, source);
    test::buildTree(dst, dest);
}

struct TRunResult {
    bool ok = false;
    Lines protocol;
    TCopyStatistics statistics;
    std::map<std::string, std::string> dest;
    int readableOpenedByPath = 0;  // sources opened along their whole path, "fail_" aside
};

// Forty files, one of which the destination refuses.
void buildOneRefused(const std::string& src, const std::string&) {
    std::vector<test::TNode> nodes;
    for (int i = 0; i < 40; ++i) nodes.push_back(file("f" + std::to_string(i), content(i), kT));
    nodes.push_back(file("full_x", "refused", kT));
    test::buildTree(src, nodes);
}

using TBuild = void (*)(const std::string& src, const std::string& dst);

// One mirror run in a fresh folder; paths in the protocol are masked.
TRunResult runMirror(TBuild build, int workers, int level = 0) {
    test::TempDir tmp;
    const std::string src = tmp / "src/";
    const std::string dst = tmp / "dst/";
    build(src, dst);
    setLogLevel(level);
    TCopyFolder mirror;
    TRunResult result;
    mirror.setOnMessage([&](TCopyIt* sender) {
        for (std::string& line : sender->takeMessages()) {
            for (size_t at; (at = line.find(tmp.path())) != std::string::npos;)
                line.replace(at, tmp.path().size(), "<tmp>/");
            result.protocol.push_back(line);
        }
    });
    mirror.setPassTo(mirror.fCopier.get());
    mirror.fSource = src;
    mirror.fDest = dst;
    mirror.fTimeTolerance = 2;
    mirror.fExclude = "*.tmp";
    mirror.fSkipFolders = "skipme";
    mirror.fAllowMassDelete = true;
    mirror.fWorkers = workers;
    mirror.setDelete(true);
    sys::setFaultHook([&](sys::Op op, const char* path) {
        const std::string p = path ? path : "";
        result.readableOpenedByPath += op == sys::Op::Open && p.rfind(src, 0) == 0 &&
                                       p.ends_with(".txt") && !contains(path, "fail_");
        return injectFailures(op, path);
    });
    result.ok = mirror.Execute();
    sys::setFaultHook({});
    setLogLevel(0);
    result.statistics = mirror.fStatistics;
    result.dest = readTree(dst, true);
    return result;
}

// The names whose entry differs, so that a failure stays readable.
Lines differingNames(const std::map<std::string, std::string>& a,
                     const std::map<std::string, std::string>& b) {
    Lines names;
    for (const auto& [name, description] : a) {
        const auto other = b.find(name);
        if (other == b.end() || other->second != description) names.push_back(name);
    }
    for (const auto& [name, description] : b)
        if (!a.count(name)) names.push_back(name);
    return names;
}

// The first line where the protocols part, or empty when they agree.
std::string firstDifference(const Lines& a, const Lines& b) {
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        const std::string left = i < a.size() ? a[i] : "(end)";
        const std::string right = i < b.size() ? b[i] : "(end)";
        if (left != right) return "line " + std::to_string(i) + ": " + left + " | " + right;
    }
    return {};
}

void expectSameCounters(const TCopyStatistics& a, const TCopyStatistics& b) {
    EXPECT_EQ(a.fAdded, b.fAdded);
    EXPECT_EQ(a.fReplaced, b.fReplaced);
    EXPECT_EQ(a.fSkipped, b.fSkipped);
    EXPECT_EQ(a.fNotCopied, b.fNotCopied);
    EXPECT_EQ(a.fDeleted, b.fDeleted);
    EXPECT_EQ(a.fDirsDeleted, b.fDirsDeleted);
    EXPECT_EQ(a.fWarnings, b.fWarnings);
    EXPECT_EQ(a.fErrors, b.fErrors);
    EXPECT_EQ(a.fCurrent, b.fCurrent);
    EXPECT_EQ(a.fCopiedBytes, b.fCopiedBytes);
}

TEST(CopyFolderWorkersTest, ProtocolCountersAndDestinationAreTheSameWithOneOrTwoWorkers) {
    test::RecordingUserInterface ui;
    for (const int level : {0, 4}) {
        SCOPED_TRACE("log level " + std::to_string(level));
        const TRunResult alone = runMirror(buildMixedTrees, 1, level);
        const TRunResult shared = runMirror(buildMixedTrees, 2, level);
        // The mixed tree must really hold failures, or the comparison proves little.
        ASSERT_GE(alone.statistics.fNotCopied, 4);
        ASSERT_GE(alone.statistics.fAdded, 50);
        ASSERT_GE(alone.statistics.fReplaced, 50);
        ASSERT_GT(alone.statistics.fDeleted, 20);
        EXPECT_EQ(shared.ok, alone.ok);
        EXPECT_EQ(firstDifference(shared.protocol, alone.protocol), "");
        expectSameCounters(shared.statistics, alone.statistics);
        EXPECT_EQ(differingNames(shared.dest, alone.dest), Lines{});
        // Each source is opened by its name in its folder.
        EXPECT_EQ(alone.readableOpenedByPath, 0);
        EXPECT_EQ(shared.readableOpenedByPath, 0);
    }
}

TEST(CopyFolderWorkersTest, FailedFileIsReportedInItsPlaceAndCounted) {
    test::RecordingUserInterface ui;
    const TRunResult alone = runMirror(buildOneRefused, 1);
    const TRunResult shared = runMirror(buildOneRefused, 2);
    EXPECT_EQ(firstDifference(shared.protocol, alone.protocol), "");
    const auto at =
        std::find(shared.protocol.begin(), shared.protocol.end(), "  erstelle <tmp>/dst/full_x");
    ASSERT_NE(at, shared.protocol.end());
    EXPECT_EQ(*(at + 1), "FEHLER:  Zieldatei ist schreibgeschützt: \"<tmp>/dst/full_x\"");
    EXPECT_EQ(shared.statistics.fAdded, 40);
    EXPECT_EQ(shared.statistics.fNotCopied, 1);
    EXPECT_EQ(shared.statistics.fErrors, 1);
    EXPECT_EQ(shared.dest.size(), 40u);
}

// A cancel "clicked" while workers copy: every file that reached the
// destination is in the protocol and the counters, and no temporary file stays.
TEST(CopyFolderWorkersTest, CancelDuringParallelCopyLogsEveryFinishedFile) {
    test::RecordingUserInterface ui;
    test::TempDir tmp;
    std::vector<test::TNode> nodes;
    // More files than the mirror plans ahead of its workers: a cancel must leave some uncopied.
    for (int i = 0; i < 2500; ++i)
        nodes.push_back(file("d" + std::to_string(i % 7) + "/f" + std::to_string(i), "x"));
    test::buildTree(tmp / "src/", nodes);
    TCopyFolder mirror;
    mirror.setPassTo(mirror.fCopier.get());
    mirror.fSource = tmp / "src/";
    mirror.fDest = tmp / "dst/";
    Lines created;
    const std::thread::id windowThread = std::this_thread::get_id();
    std::atomic<int> foreignCalls{0};
    ui.onEvents = [&] {
        if (std::this_thread::get_id() != windowThread) ++foreignCalls;
        if (created.size() == 50) {
            mirror.setStatus(csCancelled);
            mirror.fCopier->setStatus(csCancelled);
        }
    };
    mirror.setOnMessage([&](TCopyIt* sender) {
        for (const std::string& line : sender->takeMessages())
            if (line.rfind("  erstelle ", 0) == 0) created.push_back(line.substr(11));
    });
    EXPECT_FALSE(mirror.Execute());
    EXPECT_EQ(foreignCalls.load(), 0);
    EXPECT_EQ(mirror.fStatus, csCancelled);
    Lines written;
    for (const auto& [name, description] : readTree(tmp / "dst/"))
        if (name.back() != '/') written.push_back(tmp / "dst/" + name);
    std::sort(created.begin(), created.end());
    EXPECT_EQ(written, created);
    EXPECT_LT(written.size(), 2500u);
    EXPECT_EQ(mirror.fStatistics.fAdded, static_cast<int32_t>(created.size()));
    EXPECT_EQ(mirror.fStatistics.fCurrent, static_cast<int32_t>(created.size()));
}

}  // namespace
}  // namespace qvb
