#pragma once

// The built-in end-to-end test of the copy engine and the job logic: it builds
// test folders, runs one test job through the ordinary run control sixteen
// times while changing files, options, sources and the interval, compares the
// job's counters after every run with fixed expected values, and removes the
// test folders again.

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/CopyStatistics.h"

namespace qvb {

class TCopyJob;
class TRunControl;

// The two test roots, each ending in "/". The test deletes what it finds in
// its folders below them, so a root must be the user's own real folder.
struct TSelfTestRoots {
    std::string source;  // holds Verz_01/, Verz_02/, Verz_03/
    std::string dest;    // holds Backup/
};

// Source below the temporary folder, destination on another file system with
// room for the test (/dev/shm where it exists), else below the temporary
// folder as well.
TSelfTestRoots defaultSelfTestRoots();

class TSelfTest {
  public:
    // The file by which the test knows a root as its own. It deletes only
    // below such a root, so nothing it did not make is ever removed.
    static constexpr const char* kRootMark = ".QV_Backup-Selbsttest";

    TSelfTest(TRunControl& control, TSelfTestRoots roots);
    ~TSelfTest();
    TSelfTest(const TSelfTest&) = delete;
    TSelfTest& operator=(const TSelfTest&) = delete;

    // The whole test; true when every step passed. The run control's current
    // job is the test job meanwhile and is restored afterwards.
    bool runSelfTest();
    // runSelfTest followed by the closing verdict line in the protocol.
    bool runAndReport();

    bool createTestFiles(int count, int size, const std::string& folder, bool overwrite);
    bool clearTestDir(const std::string& folder);
    bool deleteTestFile(const std::string& path);
    // Sets only the modification time (UTC nanoseconds); false when the file is
    // missing or cannot be opened for writing.
    static bool setFileModified(const std::string& path, int64_t mtimeNs);

    const std::string& dir1() const { return fDir1; }
    const std::string& dir2() const { return fDir2; }
    const std::string& dir3() const { return fDir3; }
    const std::string& subdir() const { return fSubdir; }
    const std::string& dest() const { return fDest; }

    // Seams for tests: the waits of the delayed save, the generator's seed
    // (from the clock when empty), the size parameter of the generated files,
    // and a look at the trees just before each run of a step ("3" ... "16").
    std::function<void(int milliseconds)> fSleep;
    std::optional<uint32_t> fSeed;
    int fFileSize = 500;
    std::function<void(const std::string& step)> fBeforeRun;
    // A look at the trees right after each run, before its results are checked.
    std::function<void(const std::string& step)> fAfterRun;

  private:
    struct TStep;

    void log(const std::string& line);
    bool secureRoots();
    std::optional<std::string> claimRoot(const std::string& root, bool& removeAtEnd);
    void releaseRoots();
    bool createTestFolder(const std::string& folder);
    bool createFolders();
    void runStep(const TStep& step, bool& ok);
    bool copiesMatch(const std::string& step, const std::string& intervalFolder);
    void compareTree(const std::string& source, const std::string& copy);
    void compareFile(const std::string& original, const std::string& copy,
                     const struct stat& originalStat);
    bool reachableWithoutLink(const std::string& folder) const;
    void createJob();
    bool changeFileDelayed();
    bool moveFileTimeForward();
    bool renameToBak(const std::string& path);
    void cleanUp();
    const std::string& boundaryOf(const std::string& folder) const;
    int random(int range);

    TRunControl& fControl;
    TSelfTestRoots fRoots;
    std::string fDir1, fDir2, fDir3, fSubdir, fDest;
    bool fSourceRootSafe = false;
    bool fDestRootSafe = false;
    // Roots the test made, now or in an interrupted run: they go at the end.
    bool fRemoveSourceRoot = false;
    bool fRemoveDestRoot = false;
    std::unique_ptr<TCopyJob> fJob;
    TCopyStatistics fExpected;
    std::vector<std::string> fDeviations;
    std::mt19937 fRandom;
};

}  // namespace qvb
