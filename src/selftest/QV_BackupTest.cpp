#include "selftest/QV_BackupTest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <set>
#include <string_view>
#include <thread>
#include <tuple>

#include "engine/CopyFolder.h"
#include "engine/QV_FileList.h"
#include "jobs/CopyJob.h"
#include "runcontrol/RunControl.h"
#include "util/QV_Basics.h"
#include "util/Sys.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

// Room the destination root needs: up to 49 copies of generated files of at
// most 12.5 MB each.
constexpr uint64_t kDestRootSpace = 640ull * 1024 * 1024;

std::string temporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp && *tmp == '/' ? tmp : "/tmp";
    return includeTrailingDelimiter(dir);
}

bool exists(const std::string& path) {
    struct stat st {};
    return sys::lstat(path.c_str(), &st) == 0;
}

bool writeWholeFile(const std::string& path, const std::string& text) {
    sys::UniqueFd fd(
        sys::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = sys::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return fd.reset() == 0;
}

bool readWholeFile(const std::string& path, std::string& text) {
    sys::UniqueFd fd(sys::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) return false;
    char buffer[65536];
    for (;;) {
        const ssize_t n = sys::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        text.append(buffer, static_cast<size_t>(n));
    }
}

// A text file as a list of lines (CRLF or LF), and back with CRLF.
std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t stop = end;
        if (stop > start && text[stop - 1] == '\r') --stop;
        lines.push_back(text.substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

// Times of a copy closer than this to its original's count as carried over.
constexpr int64_t kCopyTimeSlackNs = 2'000'000'000;

int64_t nanoseconds(const struct timespec& time) {
    return int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

// A missing root is created private. An existing one is used only when it is
// a real folder of this user that nobody else may write to; it is never
// changed, since it may be a folder the user relies on (/tmp, the home).
std::optional<std::string> secureRoot(const std::string& root, bool& created) {
    const std::string path = excludeTrailingDelimiter(root);
    created = sys::mkdir(path.c_str(), 0700) == 0;
    if (created) return std::nullopt;
    struct stat st {};
    if (errno != EEXIST || sys::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode) ||
        !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return "ist kein eigenes Verzeichnis des Benutzers.";
    if ((st.st_mode & 022) != 0) return "ist für andere Benutzer beschreibbar.";
    return std::nullopt;
}

bool hasRootMark(const std::string& root) {
    struct stat st {};
    return sys::lstat((root + TSelfTest::kRootMark).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool holdsEntries(const std::string& folder) {
    sys::DirStream dir(sys::opendir(folder.c_str()));
    if (!dir.valid()) return true;
    while (const struct dirent* item = sys::readdir(dir.get()))
        if (std::string_view(item->d_name) != "." && std::string_view(item->d_name) != "..")
            return true;
    return false;
}

bool sameContent(const std::string& original, const std::string& copy) {
    std::string a, b;
    return readWholeFile(original, a) && readWholeFile(copy, b) && a == b;
}

// Answers the same-drive question of the test's runs "Ja" (both roots may lie
// on one file system; the job notes the question in the protocol itself);
// every other message, a question of the window among them, goes to the user
// interface in force.
class TSelfTestInterface : public TUserInterface {
  public:
    TSelfTestInterface() : fPrevious(userInterface()) { setUserInterface(this); }
    ~TSelfTestInterface() override { setUserInterface(&fPrevious); }

    TMsgResult showMessage(TMsgKind kind, const std::string& text, unsigned buttons,
                           TMsgResult unattended, const std::string& title) override {
        if ((buttons & mbYes) && text == sameDriveQuestion()) return TMsgResult::Yes;
        return fPrevious.showMessage(kind, text, buttons, unattended, title);
    }
    void setBusy(bool busy) override { fPrevious.setBusy(busy); }
    void processEvents() override { fPrevious.processEvents(); }
    void bringToFront() override { fPrevious.bringToFront(); }
    bool asksUser() const override { return fPrevious.asksUser(); }

  private:
    TUserInterface& fPrevious;
};

}  // namespace

TSelfTestRoots defaultSelfTestRoots() {
    const std::string tmp = temporaryFolder();
    TSelfTestRoots roots{tmp + "TmpQ/", tmp + "TmpZ/"};
    struct stat tmpStat {};
    if (sys::stat(tmp.c_str(), &tmpStat) != 0) return roots;
    for (const char* candidate : {"/dev/shm/", "/var/tmp/"}) {
        struct stat st {};
        struct statvfs vfs {};
        if (sys::stat(candidate, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_dev == tmpStat.st_dev)
            continue;
        if (::access(candidate, W_OK | X_OK) != 0 || sys::statvfs(candidate, &vfs) != 0) continue;
        if (static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize < kDestRootSpace) continue;
        roots.dest = std::string(candidate) + "TmpZ/";
        break;
    }
    return roots;
}

// One of the steps 3 to 16.
struct TSelfTest::TStep {
    std::string number;
    std::string header;             // empty: none
    std::function<bool()> prepare;  // empty: none
    std::string failureLine;        // empty: the step ends silently
    bool runsAfterFailedPreparation = false;
    std::function<void(TCopyJob&)> change;
    int added, replaced, skipped, deleted, sourceFiles, destFiles, sourceDirs, destDirs;
};

TSelfTest::TSelfTest(TRunControl& control, TSelfTestRoots roots)
    : fControl(control),
      fRoots(std::move(roots)),
      fDir1(fRoots.source + "Verz_01/"),
      fDir2(fRoots.source + "Verz_02/"),
      fDir3(fRoots.source + "Verz_03/"),
      fSubdir(fDir3 + "UnterVerz/"),
      fDest(fRoots.dest + "Backup/") {
    fSleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}

TSelfTest::~TSelfTest() = default;

void TSelfTest::log(const std::string& line) {
    fControl.protocol().append(line);
}

int TSelfTest::random(int range) {
    if (range <= 0) return 0;
    return std::uniform_int_distribution<int>(0, range - 1)(fRandom);
}

bool TSelfTest::runAndReport() {
    const bool ok = runSelfTest();
    log(ok ? "Der Selbsttest wurde erfolgreich durchgeführt."
           : "Der Selbsttest ist fehlgeschlagen!");
    return ok;
}

bool TSelfTest::runSelfTest() {
    TCopyJob* previousJob = fControl.currentJob();
    TSelfTestInterface answers;
    log("Start Selbsttest");
    fDeviations.clear();
    fRandom.seed(
        fSeed ? *fSeed
              : static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()));
    bool ok = secureRoots();
    for (const std::string* dir : {&fDir1, &fDir2, &fDir3, &fDest})
        if (ok) ok = clearTestDir(*dir);

    log("Schritt 1: Testdateien und Verzeichnisse erzeugen");
    ok = ok && createFolders();
    if (!ok) log("Schritt 1: fehlgeschlagen");
    if (ok) {
        log("Schritt 2: neue Testdateien erzeugen");
        ok = createTestFiles(5, fFileSize, fDir1, false);
        if (!ok) log("Schritt 2: fehlgeschlagen");
    }

    const int size = fFileSize;
    const std::vector<TStep> steps = {
        {"3", "", {}, "", false, [](TCopyJob&) {}, 5, 0, 0, 0, 5, 0, 1, 1},
        {"4", "", [this, size] { return createTestFiles(2, size, fDir1, false); }, "", true,
         [](TCopyJob&) {}, 2, 0, 5, 0, 7, 5, 1, 1},
        {"5", "", [this] { return changeFileDelayed(); }, "", false, [](TCopyJob&) {}, 0, 1, 6, 0,
         7, 7, 1, 1},
        {"6", "", [this] { return moveFileTimeForward(); }, "Fehler beim Ändern des Dateidatums",
         false, [](TCopyJob&) {}, 0, 1, 6, 0, 7, 7, 1, 1},
        {"7", "", [this] { return deleteTestFile(fDir1 + "TestDatei1.txt"); },
         "Fehler beim Löschen einer Datei", false, [](TCopyJob& job) { job.setDelete(true); }, 0, 0,
         6, 1, 6, 7, 1, 1},
        {"8", "", [this] { return renameToBak(fDir1 + "TestDatei2.txt"); },
         "Fehler beim Umbenennen einer Datei", false, [](TCopyJob&) {}, 1, 0, 5, 1, 6, 6, 1, 1},
        {"9", "", [this] { return renameToBak(fDir1 + "TestDatei3.txt"); },
         "Fehler beim Umbenennen einer Datei", false, [](TCopyJob& job) { job.setDelete(false); },
         1, 0, 5, 0, 6, 6, 1, 1},
        {"10",
         "",
         {},
         "",
         false,
         [](TCopyJob& job) { job.setDelete(true); },
         0,
         0,
         6,
         1,
         6,
         7,
         1,
         1},
        {"11", "Schritt 11: 5 weitere Testdateien erzeugen",
         [this, size] { return createTestFiles(5, size, fDir2, false); }, "", false,
         [this](TCopyJob& job) { job.fSources.push_back(fDir2 + "=1"); }, 5, 0, 6, 0, 11, 6, 2, 2},
        {"12", "Schritt 12: 5 weitere Testdateien erzeugen",
         [this, size] { return createTestFiles(5, size, fDir3, false); }, "", false,
         [this](TCopyJob& job) { job.fSources.push_back(fDir3 + "=1"); }, 5, 0, 11, 0, 16, 11, 3,
         3},
        {"12a", "Schritt 12a: leeres Unterverzeichnis hinzufügen",
         [this] { return createTestFolder(fSubdir); }, "", false, [](TCopyJob&) {}, 0, 0, 16, 0, 16,
         16, 4, 3},
        {"13",
         "Schritt 13: Drittes Quellverzeichnis deaktivieren und Option \"Löschen\" ein",
         {},
         "",
         false,
         [this](TCopyJob& job) {
             job.fSources.at(2) = fDir3 + "=0";
             job.setDelete(true);
         },
         0,
         0,
         11,
         0,
         11,
         11,
         2,
         2},
        {"14",
         "Schritt 14: automatischen BackupJob \"stündlich\" erzeugen und 2 Quellverzeichnisse "
         "hinzufügen",
         {},
         "",
         false,
         [this](TCopyJob& job) {
             job.fSources.at(2) = fDir3 + "=0";
             job.setInterval(kIntervalHourly);
         },
         11,
         0,
         0,
         0,
         11,
         0,
         2,
         2},
        {"15",
         "Schritt 15: automatischen BackupJob \"täglich\" erzeugen und 1 Quellverzeichnis "
         "hinzufügen",
         {},
         "",
         false,
         [this](TCopyJob& job) {
             job.fSources.at(1) = fDir2 + "=0";
             job.setInterval(kIntervalDaily);
         },
         6,
         0,
         0,
         0,
         6,
         0,
         1,
         1},
        {"16",
         "Schritt 16: automatischen BackupJob \"wöchentlich\" erzeugen und 3 Quellverzeichnisse "
         "hinzufügen",
         {},
         "",
         false,
         [this](TCopyJob& job) {
             job.fSources.at(1) = fDir2 + "=1";
             job.fSources.at(2) = fDir3 + "=1";
             job.setInterval(kIntervalWeekly);
         },
         16,
         0,
         0,
         0,
         16,
         0,
         4,
         3},
    };
    for (const TStep& step : steps) runStep(step, ok);

    cleanUp();
    fControl.setCurrentJob(previousJob);
    fJob.reset();
    log("");
    return ok;
}

void TSelfTest::runStep(const TStep& step, bool& ok) {
    if (!ok) return;
    if (!step.header.empty()) log(step.header);
    if (step.prepare && !step.prepare()) {
        ok = false;
        if (!step.failureLine.empty()) log(step.failureLine);
        if (!step.runsAfterFailedPreparation) return;
    }
    if (!fJob) createJob();
    TCopyJob& job = *fJob;
    job.fJobName = "Schritt " + step.number;
    step.change(job);

    fExpected.reset();
    fExpected.fAdded = step.added;
    fExpected.fReplaced = step.replaced;
    fExpected.fSkipped = step.skipped;
    fExpected.fDeleted = step.deleted;
    fExpected.fSourceFiles = step.sourceFiles;
    fExpected.fDestFiles = step.destFiles;
    fExpected.fSourceDirs = step.sourceDirs;
    fExpected.fDestDirs = step.destDirs;
    log("SOLL:   Quelle = " + std::to_string(step.sourceFiles) + ", Ziel = " +
        std::to_string(step.destFiles) + ", " + std::to_string(step.added) + " Dateien erstellt, " +
        std::to_string(step.replaced) + " Dateien ersetzt, " + std::to_string(step.skipped) +
        " Dateien übersprungen, " + std::to_string(step.deleted) + " Dateien gelöscht");

    if (ok && fBeforeRun) fBeforeRun(step.number);
    if (ok) ok = fControl.runJob();
    if (ok && fAfterRun) fAfterRun(step.number);
    if (ok) ok = job.fStatistics.compareWith(fExpected, &fDeviations);
    if (ok) ok = copiesMatch(step.number, job.fRunIntervalFolder);
    if (!ok) {
        log(job.fJobName + ": Verifizierung fehlgeschlagen");
        for (const std::string& line : fDeviations) log(line);
        if (fDeviations.empty()) log("");
    }
}

// Right counters do not prove right copies: a copier that wrote zeros or left
// the times alone would pass them. After the first copy and after the weekly
// one, whose folder is new, every source file must equal its copy.
bool TSelfTest::copiesMatch(const std::string& step, const std::string& intervalFolder) {
    std::vector<std::string> sources;
    if (step == "3") sources = {fDir1};
    if (step == "16") sources = {fDir1, fDir2, fDir3};
    fDeviations.clear();
    for (const std::string& source : sources)
        compareTree(source, fDest + intervalFolder + source.substr(1));
    return fDeviations.empty();
}

void TSelfTest::compareTree(const std::string& source, const std::string& copy) {
    sys::DirStream dir(sys::opendir(source.c_str()));
    if (!dir.valid()) {
        fDeviations.push_back("Abweichung: Das Verzeichnis \"" + source +
                              "\" kann nicht gelesen werden.");
        return;
    }
    while (const struct dirent* item = sys::readdir(dir.get())) {
        const std::string name = item->d_name;
        struct stat st {};
        if (name == "." || name == ".." || sys::lstat((source + name).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) compareTree(source + name + "/", copy + name + "/");
        if (S_ISREG(st.st_mode)) compareFile(source + name, copy + name, st);
    }
}

void TSelfTest::compareFile(const std::string& original, const std::string& copy,
                            const struct stat& originalStat) {
    struct stat st {};
    if (sys::lstat(copy.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        fDeviations.push_back("Abweichung: Die Kopie \"" + copy + "\" fehlt.");
        return;
    }
    if (!sameContent(original, copy))
        fDeviations.push_back("Abweichung: Der Inhalt der Kopie \"" + copy +
                              "\" weicht vom Original ab.");
    const int64_t offset = nanoseconds(st.st_mtim) - nanoseconds(originalStat.st_mtim);
    if (std::llabs(offset) > kCopyTimeSlackNs)
        fDeviations.push_back("Abweichung: Die Dateizeit der Kopie \"" + copy + "\" weicht um " +
                              std::to_string(std::llabs(offset) / 1'000'000'000) +
                              " Sekunden vom Original ab.");
}

void TSelfTest::createJob() {
    fJob = std::make_unique<TCopyJob>();
    TCopyJob& job = *fJob;
    job.fJobName = "Schritt 3";
    job.fJobKey = "TestJob";
    job.fSources.clear();
    job.fSources.push_back(fDir1 + "=1");
    job.setDestination(fDest);
    // The test made this folder itself: its deletions need no confirmation.
    job.fLastDestination = job.fDestination;
    job.setInterval(kIntervalOnce);
    job.fTimeTolerance = 10;
    fControl.hookJob(job);
    job.setPassTo(job.fCopyFolder.get());
    fControl.setCurrentJob(&job);
}

// A root it made bears the test's mark, also after an interrupted run whose
// leftovers it then clears. An existing empty folder is marked and used but
// kept; one that holds anything without the mark is not the test's to clear.
std::optional<std::string> TSelfTest::claimRoot(const std::string& root, bool& removeAtEnd) {
    bool created = false;
    if (std::optional<std::string> fault = secureRoot(root, created)) return fault;
    const bool marked = hasRootMark(root);
    removeAtEnd = created || marked;
    if (marked) return std::nullopt;
    if (!created && holdsEntries(root))
        return "enthält Dateien, die nicht vom Selbsttest stammen; es wird nichts gelöscht.";
    if (!writeWholeFile(root + kRootMark, "Testverzeichnis des Selbsttests von QV_Backup\n"))
        return "kann nicht als Testverzeichnis gekennzeichnet werden.";
    return std::nullopt;
}

// Removes the marks and the roots the test made; an emptied folder that was
// there before stays.
void TSelfTest::releaseRoots() {
    for (const auto& [root, claimed, remove] :
         {std::tuple{&fRoots.source, fSourceRootSafe, fRemoveSourceRoot},
          std::tuple{&fRoots.dest, fDestRootSafe, fRemoveDestRoot}}) {
        if (!claimed || (root == &fRoots.dest && fRoots.dest == fRoots.source)) continue;
        sys::unlink((*root + kRootMark).c_str());
        if (remove && sys::rmdir(root->c_str()) == 0) log(" Verzeichnis  " + *root + "  gelöscht");
    }
}

bool TSelfTest::secureRoots() {
    const std::optional<std::string> sourceFault = claimRoot(fRoots.source, fRemoveSourceRoot);
    const std::optional<std::string> destFault = claimRoot(fRoots.dest, fRemoveDestRoot);
    fSourceRootSafe = !sourceFault;
    fDestRootSafe = !destFault;
    for (const auto& [root, fault] :
         {std::pair{&fRoots.source, &sourceFault}, std::pair{&fRoots.dest, &destFault}})
        if (*fault) log("FEHLER:  Das Testverzeichnis \"" + *root + "\" " + **fault);
    return fSourceRootSafe && fDestRootSafe;
}

// Every level from the root down must be a real folder: the clean-up deletes
// what it lists, and a link would lead it out of the test roots.
bool TSelfTest::reachableWithoutLink(const std::string& folder) const {
    const std::string& root = boundaryOf(folder);
    if (folder.rfind(root, 0) != 0 || !isRealDirectory(root)) return false;
    for (size_t pos = folder.find('/', root.size()); pos != std::string::npos;
         pos = folder.find('/', pos + 1))
        if (!isRealDirectory(folder.substr(0, pos))) return false;
    return true;
}

const std::string& TSelfTest::boundaryOf(const std::string& folder) const {
    return folder.rfind(fRoots.source, 0) == 0 ? fRoots.source : fRoots.dest;
}

// Creates the folder and its missing parents below its marked root, private,
// never through a link.
bool TSelfTest::createTestFolder(const std::string& folder) {
    const std::string& root = boundaryOf(folder);
    if (folder.rfind(root, 0) != 0 || !isRealDirectory(root) || !hasRootMark(root)) return false;
    for (size_t pos = folder.find('/', root.size()); pos != std::string::npos;
         pos = folder.find('/', pos + 1)) {
        const std::string path = folder.substr(0, pos);
        if (sys::mkdir(path.c_str(), 0700) != 0 && (errno != EEXIST || !isRealDirectory(path)))
            return false;
    }
    return true;
}

bool TSelfTest::createFolders() {
    bool ok = true;
    for (const std::string* dir : {&fDir1, &fDir2, &fDir3, &fDest}) {
        if (!ok) break;
        ok = createTestFolder(*dir);
        if (ok) log("Testverzeichnis " + *dir + " erzeugt.");
    }
    return ok;
}

bool TSelfTest::createTestFiles(int count, int size, const std::string& folder, bool overwrite) {
    if (!isRealDirectory(folder)) return false;
    const int half = size / 2;
    const int wordLength = (random(half) + half) / 10;
    const int words = random(half) + half;
    const int lines = random(half) + half;
    std::string word;
    for (int i = 0; i < wordLength; ++i) word += static_cast<char>('A' + random(26));
    log("erzeuge Zeile mit " + std::to_string(words) + " Wörtern zu je " +
        std::to_string(wordLength) + " Zeichen");
    std::string line;
    for (int i = 0; i < words; ++i) line += (i ? "," : "") + word;
    log("erzeuge Testdatei mit " + std::to_string(lines) + " Zeilen");
    std::string text;
    text.reserve((line.size() + 2) * static_cast<size_t>(lines));
    for (int i = 0; i < lines; ++i) text += line + "\r\n";

    log("speichere " + std::to_string(count) + " Testdateien");
    std::string path;
    for (int k = 1; k <= count; ++k) {
        int number = k;
        path = folder + "TestDatei" + std::to_string(number) + ".txt";
        while (!overwrite && exists(path))
            path = folder + "TestDatei" + std::to_string(++number) + ".txt";
        if (!writeWholeFile(path, text)) {
            log("Datei \"" + path + "\" konnte nicht geschrieben werden!");
            return false;
        }
        log("Datei \"" + path + "\" erzeugt");
        processPendingEvents();
    }
    return !path.empty() && exists(path);
}

bool TSelfTest::deleteTestFile(const std::string& path) {
    if (!exists(path)) return true;
    if (sys::unlink(path.c_str()) == 0) return true;
    log("Datei \"" + path + "\" konnte nicht gelöscht werden!");
    return false;
}

bool TSelfTest::clearTestDir(const std::string& folder) {
    if (!reachableWithoutLink(folder)) return true;
    log("Lösche Dateien in \"" + folder + "\":");
    std::set<std::string> keep{folder};
    TFileList list;
    list.setBaseDir(folder);
    list.fListEmptyDirs = true;
    list.scan();
    int position = 0;
    for (const TFileEntry& entry : list.entries()) {
        if (entry.kind == ekEmptyDir) {
            const std::string path = concat("/", entry.name);
            log(" Verzeichnis " + std::to_string(position) + ": " + path);
            for (auto it = keep.rbegin(); it != keep.rend(); ++it) {
                if (path.find(*it) != std::string::npos) {
                    keep.erase(std::next(it).base());
                    break;
                }
            }
            keep.insert(path);
        } else {
            const std::string path = concat(folder, entry.name);
            if (deleteTestFile(path)) log(" Datei  " + path + "  gelöscht");
            // Folders that held only files are empty now and go as well.
            keep.insert(extractFilePath(path));
        }
        ++position;
    }
    // Deeper folders sort after their parents, so walking the list backwards
    // empties a tree from its leaves; each walk stops below the root, which
    // only goes with its mark.
    const std::string& root = boundaryOf(folder);
    bool removed = false;
    for (auto it = keep.rbegin(); it != keep.rend(); ++it) {
        for (std::string path = *it; path.size() > root.size() && path.rfind(root, 0) == 0;
             path = parentDir(path)) {
            if (sys::rmdir(path.c_str()) == 0) {
                log(" Verzeichnis  " + path + "  gelöscht");
                removed = true;
            }
        }
    }
    if (!removed) log("Verzeichnis \"" + folder + "\" konnte nicht gelöscht werden!");
    return removed;
}

bool TSelfTest::setFileModified(const std::string& path, int64_t mtimeNs) {
    if (!exists(path)) return false;
    sys::UniqueFd fd(sys::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(mtimeNs / 1000000000);
    times[1].tv_nsec = static_cast<long>(mtimeNs % 1000000000);
    if (times[1].tv_nsec < 0) {
        times[1].tv_nsec += 1000000000;
        --times[1].tv_sec;
    }
    return sys::futimens(fd.get(), times) == 0;
}

bool TSelfTest::changeFileDelayed() {
    const std::string path = fDir1 + "TestDatei1.txt";
    std::string text;
    readWholeFile(path, text);
    std::vector<std::string> work = splitLines(text);
    log("Speichern der geänderten Datei wird verzögert...");
    for (int counter = 20; counter >= 0; --counter) {
        fSleep(500);
        if (counter % 2 == 0) log("noch " + std::to_string(counter / 2) + " Sekunden...");
        processPendingEvents();
    }
    work.push_back("neue Zeile");
    processPendingEvents();
    if (!writeWholeFile(path, joinLines(work)))
        log("Datei \"" + path + "\" konnte nicht geschrieben werden!");
    return true;
}

// Moves the file's time 15 seconds past the time the last run listed for it,
// beyond the job's tolerance of 10 seconds.
bool TSelfTest::moveFileTimeForward() {
    const TFileList* list = fJob ? fJob->fCopyFolder->fSourceList.get() : nullptr;
    const TFileEntry* entry = list ? list->find("TestDatei2.txt") : nullptr;
    if (!entry) return false;
    return setFileModified(fDir1 + "TestDatei2.txt", entry->mtimeNs + 15'000'000'000LL);
}

bool TSelfTest::renameToBak(const std::string& path) {
    const std::string target = path.substr(0, path.rfind('.')) + ".bak";
    return sys::rename(path.c_str(), target.c_str()) == 0;
}

void TSelfTest::cleanUp() {
    log("letzter Schritt: Testdateien und -Verzeichnisse wieder löschen");
    bool ok = true;
    for (const std::string* dir : {&fDir1, &fDir2, &fDir3, &fDest}) {
        const bool safe = &boundaryOf(*dir) == &fRoots.source ? fSourceRootSafe : fDestRootSafe;
        if (ok && safe) ok = clearTestDir(*dir);
    }
    // Leftovers keep their root marked for the next run to clear.
    if (ok) releaseRoots();
    if (!ok) log("letzter Schritt: fehlgeschlagen");
}

}  // namespace qvb
