#include "jobs/CopyJob.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/CopyFolder.h"
#include "engine/LogLevel.h"
#include "engine/RunThreads.h"
#include "jobs/ProtectedFolders.h"
#include "jobs/Schedule.h"
#include "jobs/Versions.h"
#include "util/Mounts.h"
#include "util/QV_Basics.h"
#include "util/Sys.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

// The least tolerance for a destination that keeps file times only in steps (seconds).
constexpr int32_t kCoarseTolerance = 2;

const char* const kSameDriveQuestion =
    "Ein Backup auf demselben Laufwerk bietet keine Sicherheit bei einem Laufwerksdefekt.\r\n"
    "Möchten Sie die Sicherung trotzdem durchführen?";

// The highest missing folder on the way to `path` (with its trailing "/"),
// `path` itself when only it is missing. No path has no parents to ask for.
std::string firstMissingFolder(const std::string& path) {
    if (path.empty()) return path;
    std::string missing = includeTrailingDelimiter(path);
    for (std::string parent = parentDir(missing); parent != missing && !isDirectory(parent);
         parent = parentDir(parent))
        missing = parent;
    return missing;
}

// Two spellings of one folder ("/a/b", "/a/./b/") count as the same folder.
bool sameFolder(const std::string& a, const std::string& b) {
    return includeTrailingDelimiter(expandFileName(a)) ==
           includeTrailingDelimiter(expandFileName(b));
}

// An existing folder without a single entry, as an unmounted disk leaves it.
bool holdsNoEntry(const std::string& folder) {
    sys::DirStream dir(sys::opendir(folder.c_str()));
    if (!dir.get()) return false;
    while (const struct dirent* e = sys::readdir(dir.get()))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) return false;
    return true;
}

// Number in the general format with a decimal comma: 3600, 0,5, -12,25.
std::string formatGeneral(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    std::string text = buf;
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

// The probe file's name: the current day number without "," and ".".
std::string probeBaseName() {
    std::string text = formatGeneral(nowDateTime());
    std::replace(text.begin(), text.end(), ',', 's');
    return text;
}

}  // namespace

std::string sourceEntryDirectory(const std::string& entry) {
    const size_t pos = entry.rfind('=');
    return pos == std::string::npos ? entry : entry.substr(0, pos);
}

bool sourceEntryActive(const std::string& entry) {
    const size_t pos = entry.rfind('=');
    return pos != std::string::npos && entry.compare(pos + 1, std::string::npos, "1") == 0;
}

std::string makeSourceEntry(const std::string& directory, bool active) {
    return directory + (active ? "=1" : "=0");
}

TCopyJob::TCopyJob() : fCopyFolder(std::make_unique<TCopyFolder>()) {
    // Linked here so that a cancel and the handlers reach the mirror even when
    // the creator forgets to link them.
    setPassTo(fCopyFolder.get());
}

TCopyJob::~TCopyJob() = default;

bool TCopyJob::isNetworkDrive(const std::string& path) const {
    return onNetworkFileSystem(path);
}

void TCopyJob::prepareMirror() {
    TCopyFolder& mirror = *fCopyFolder;
    mirror.setName("fCopyFolder");
    mirror.fExclude = fExclude;
    mirror.setPassTo(mirror.fCopier.get());
    mirror.fIncludeOnly = fIncludeOnly;
    mirror.fTimeTolerance = fTimeTolerance;
    mirror.setDelete(fDelete);
    mirror.setPreview(fPreview);
    mirror.fSkipFolders = fSkipFolders;
    mirror.fAllowMassDelete = fAllowMassDelete;
    mirror.fAnswers = fAnswers;
    mirror.fUnconfirmedDestination = fLastDestination != fDestination;
}

void TCopyJob::chooseThreads() {
    fCopyFolder->fWorkers = kDefaultWorkers;
    const char* wanted = std::getenv(kThreadsVariable);
    if (wanted == nullptr || *wanted == '\0') return;
    if (const std::optional<int> count = parseThreads(wanted)) {
        fCopyFolder->fWorkers = *count;
        return;
    }
    addMessage(std::string(kThreadsVariable) + "=\"" + wanted +
               "\" wird übergangen: erlaubt sind die Zahlen 1 bis " + std::to_string(kMostThreads) +
               ".");
}

bool TCopyJob::Execute() {
    prepareMirror();
    fRunIntervalFolder = runIntervalFolder(fInterval, fNextRun, nowDateTime());
    setStatus(csRunning);
    fActiveSourceCount = 0;
    fTimesWarned = false;
    fStatistics.reset();
    fStatusText.clear();
    if (fPreview)
        addMessage(
            "Vorschau: Es wird nichts geschrieben; ob das Zielverzeichnis beschreibbar "
            "ist, wird nicht geprüft.");
    chooseThreads();
    bool ok = checkDestination();
    if (fStatus == csCancelled) {
        fStatusText = "TCopyJob.Execute: Kopieraktion abgebrochen";
        addMessage(fStatusText);
        ok = false;
    }
    // Held until the run ends; the kernel lets go of it however the program ends.
    sys::UniqueFd lock;
    if (ok) ok = lockDestination(lock);
    const bool destinationHeld = ok;
    // Only a run that went through every source with its deletion decided
    // makes this destination the job's own.
    bool confirmed = ok;
    if (ok) {
        // A copy: the window may edit the job's sources while events are processed.
        const std::vector<std::string> sources = fSources;
        const std::vector<std::string> inDestination = refuseSourcesInDestination(sources);
        shareDestination(sources, inDestination);
        for (const std::string& entry : sources) {
            if (sourceEntryActive(entry)) {
                const std::string source = includeTrailingDelimiter(sourceEntryDirectory(entry));
                ok = std::find(inDestination.begin(), inDestination.end(), source) ==
                         inDestination.end() &&
                     mirrorSource(source);
                confirmed = confirmed && ok && fCopyFolder->fDeletionDecided;
            }
            if (fStatus == csCancelled) {
                ok = false;
                break;
            }
            if (ok) setStatus(csDone);
            ok = true;
            fStatusText.clear();
            addMessage(" ");
        }
    }
    // Whatever became of it, a run that held the destination may have written its version.
    if (!fPreview && destinationHeld) {
        const TVersionState state = fStatus == csCancelled ? TVersionState::Cancelled
                                    : fStatistics.fErrors > 0 || fStatus == csError
                                        ? TVersionState::Errors
                                        : TVersionState::Ok;
        noteVersionRun(*this, fRunIntervalFolder, nowDateTime(), state);
    }
    if (!fPreview && (fStatus == csDone || fStatus == csWarnings)) {
        noteFinishedRun(nowDateTime());
        if (confirmed) fLastDestination = fDestination;
        fLastIntervalFolder = fRunIntervalFolder;
    }
    if (!fPreview) fDone = true;
    fStatusText = std::string(fPreview ? "Vorschau: " : "") + "Backup-" + fJobKey + " \"" +
                  fJobName + "\"" + verdictText(fStatus, fStatistics);
    return ok;
}

void TCopyJob::noteFinishedRun(TDateTime when) {
    // A job from before the value existed had its last clean run at its last
    // backup; a run with errors must not move that on.
    if (fLastCleanRun <= 0) fLastCleanRun = fLastBackup;
    fLastBackup = when;
    if (fStatistics.fErrors == 0) fLastCleanRun = when;
}

bool TCopyJob::mirrorSource(const std::string& source) {
    bool ok = checkSource(source);
    TCopyFolder& mirror = *fCopyFolder;
    if (ok) {
        mirror.fSource = source;
        mirror.fDest = mirrorDestination(source);
        mirror.fPreviousDest = previousDestination(source);
        addMessage("vergleiche " + mirror.fSource + " mit " + mirror.fDest);
        applyClockOffset();
        ok = mirror.Execute();
        fStatistics.addFrom(mirror.fStatistics);
        if (!ok && fStatus != csCancelled) countMirrorFailure(mirror.fStatistics.fErrors);
        addMessage(fStatusText);
    }
    if (ok) logResult();
    doProgress();
    return ok;
}

std::vector<std::string> TCopyJob::refuseSourcesInDestination(
    const std::vector<std::string>& sources) {
    std::vector<std::string> inside;
    for (const std::string& entry : sources) {
        const std::string source = includeTrailingDelimiter(sourceEntryDirectory(entry));
        // An equal folder keeps its own check and message.
        if (sameFolder(source, fDestination) || !isAtOrBelow(source, fDestination)) continue;
        inside.push_back(source);
        if (!sourceEntryActive(entry)) continue;
        const std::string text = "FEHLER:  Das Quellverzeichnis \"" + source +
                                 "\" liegt im Zielverzeichnis \"" + fDestination +
                                 "\" und wird nicht gesichert.";
        failWith(text, text);
    }
    fCopyFolder->fProtectedDirs = inside;
    return inside;
}

// Content-only sources all fill the same folder: each delete pass must keep
// what the others hold, and with one of them missing nobody can tell what is surplus.
void TCopyJob::shareDestination(const std::vector<std::string>& sources,
                                const std::vector<std::string>& refused) {
    TCopyFolder& mirror = *fCopyFolder;
    mirror.fSharedSources.clear();
    mirror.fHoldDeletion = false;
    if (!fContentOnly || !fDelete || sources.size() < 2) return;
    for (const std::string& entry : sources) {
        const std::string source = includeTrailingDelimiter(sourceEntryDirectory(entry));
        const bool available = sourceEntryActive(entry) && isDirectory(source) &&
                               !sameFolder(source, fDestination) &&
                               std::find(refused.begin(), refused.end(), source) == refused.end() &&
                               !holdsNoEntry(source);
        if (available) {
            mirror.fSharedSources.push_back(source);
            continue;
        }
        mirror.fSharedSources.clear();
        mirror.fHoldDeletion = true;
        addMessage("WARNUNG:  Das Quellverzeichnis \"" + source +
                   "\" ist nicht aktiv oder nicht verfügbar: im gemeinsamen Zielverzeichnis \"" +
                   mirrorDestination(source) + "\" wird in diesem Lauf nichts gelöscht.");
        ++fStatistics.fWarnings;
        return;
    }
}

std::string TCopyJob::mirrorDestination(const std::string& source) const {
    return mirrorDestination(source, fRunIntervalFolder);
}

std::string TCopyJob::mirrorDestination(const std::string& source,
                                        const std::string& folder) const {
    const std::string base = includeTrailingDelimiter(fDestination + folder);
    if (fContentOnly) return base;
    // Below the destination the source keeps its whole path, without the root.
    const size_t start = source.find_first_not_of('/');
    return includeTrailingDelimiter(base +
                                    (start == std::string::npos ? "" : source.substr(start)));
}

// A stored folder that leads out of the destination is none.
std::string TCopyJob::previousDestination(const std::string& source) const {
    const std::string& folder = fLastIntervalFolder;
    if (!fSaveSpace || folder.empty() || folder == fRunIntervalFolder || folder[0] == '/' ||
        ("/" + folder + "/").find("/../") != std::string::npos)
        return {};
    return mirrorDestination(source, folder);
}

void TCopyJob::applyClockOffset() {
    if (fPreview) {
        // The probe is a file written into the destination.
        if (isNetworkDrive(extractFilePath(fCopyFolder->fSource)) ||
            isNetworkDrive(includeTrailingDelimiter(fDestination)))
            addMessage("Vorschau: Der Zeitunterschied zum Netzlaufwerk wird nicht gemessen.");
        return;
    }
    fCoarseDestTimes = false;
    const std::optional<TDateTime> offset = measureClockOffset();
    TCopyFolder& mirror = *fCopyFolder;
    // A copy there keeps its source's time only to the step: within it, both are equal.
    if (fCoarseDestTimes && mirror.fTimeTolerance < kCoarseTolerance)
        mirror.fTimeTolerance = kCoarseTolerance;
    if (!offset) return;
    // Whole milliseconds: the day fraction would otherwise show 3599,99999999996.
    const double seconds = std::round(*offset * kSecondsPerDay * 1000.0) / 1000.0;
    if (seconds == 0) return;
    addMessage("Zeitunterschied: " + formatGeneral(seconds));
    // Only ever raised, so a larger offset of an earlier source stays in force.
    if (seconds > mirror.fTimeTolerance)
        mirror.fTimeTolerance = static_cast<int32_t>(std::trunc(seconds)) + 1;
}

void TCopyJob::logResult() {
    TCopyStatistics& stats = fCopyFolder->fStatistics;
    addMessage("Ergebnis:");
    stats.summaryText();
    for (const std::string& line : stats.fLines) addMessage(line);
    if (stats.fLinked > 0) addMessage(stats.linkedText());
    if (stats.fSourceFiles == 0) {
        fStatusText = fExclude.empty() ? "  Keine Dateien im Quellverzeichnis."
                                       : "  Keine passenden Dateien im Quellverzeichnis.";
        addMessage(fStatusText);
    }
}

void TCopyJob::failWith(const std::string& text, const std::string& boxText) {
    setStatus(csError);
    fStatusText = text;
    addMessage(fStatusText);
    ++fStatistics.fErrors;
    ask(TMsgKind::Error, boxText, mbOK, TMsgResult::OK);
}

// Like a missing source: the run must never read as a success. With no
// source finished before it the run fails; after one, the verdict names the errors.
void TCopyJob::countMirrorFailure(int mirrorErrors) {
    if (mirrorErrors == 0) ++fStatistics.fErrors;
    if (fStatus == csRunning) setStatus(csError);
}

// Without a box: a scheduled run must not stop and wait for an answer.
void TCopyJob::refuseWith(const std::string& text) {
    setStatus(csError);
    fStatusText = text;
    addMessage(fStatusText);
    ++fStatistics.fErrors;
}

// A second run into the same folder would remove the first one's temporary
// files. The lock writes nothing into the destination and holds across users,
// settings files and cron; a file system without locks goes on without it.
bool TCopyJob::lockDestination(sys::UniqueFd& lock) {
    lock.reset(sys::open(fDestination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int error = lock.valid() ? 0 : errno;
    if (error == 0 && sys::flock(lock.get(), LOCK_EX | LOCK_NB) == 0) return true;
    if (error == 0) error = errno;
    lock.reset();
    if (error == EWOULDBLOCK) {
        refuseWith("FEHLER:  Das Zielverzeichnis \"" + fDestination +
                   "\" wird gerade von einer anderen Sicherung benutzt; diese Sicherung wird "
                   "nicht ausgeführt.");
        return false;
    }
    if (logLevel() > 3)
        addMessage("Zielverzeichnis \"" + fDestination +
                   "\" kann nicht gesperrt werden: " + sys::errorText(error));
    return true;
}

bool TCopyJob::checkDestination() {
    fActiveSourceCount =
        static_cast<int>(std::count_if(fSources.begin(), fSources.end(), sourceEntryActive));
    if (fActiveSourceCount == 0) {
        const std::string text = "FEHLER:  Es ist kein zu sicherndes Verzeichnis ausgewählt.";
        failWith(text, text);
        return false;
    }
    if (!fDestination.empty() && fDestination[0] != '/') {
        const std::string text =
            "FEHLER:  Das Zielverzeichnis \"" + fDestination + "\" ist kein absoluter Pfad!";
        failWith(text, text);
        return false;
    }
    if (const std::string refusal = protectedDestinationError(fDestination); !refusal.empty()) {
        failWith("FEHLER:  " + refusal, refusal);
        return false;
    }
    // Refused before anything is created: the backup would fill the system disk.
    if (const std::optional<std::string> mountPoint = missingMount(fDestination, fMountTables)) {
        const std::string text = "FEHLER:  Der Datenträger des Zielverzeichnisses \"" +
                                 fDestination + "\" ist nicht eingehängt (\"" + *mountPoint +
                                 "\")!";
        failWith(text, text);
        return false;
    }
    if (fPreview && !isDirectory(fDestination)) {
        const std::string missing = firstMissingFolder(fDestination);
        addMessage(missing == fDestination
                       ? "Vorschau: Das Zielverzeichnis \"" + fDestination +
                             "\" existiert nicht; ein Lauf würde es neu erstellen."
                       : "Vorschau: Das Zielverzeichnis \"" + fDestination +
                             "\" existiert nicht, und der Ordner \"" + missing +
                             "\" fehlt; ein Lauf fragt, ob sie erstellt werden sollen.");
        return true;
    }
    if (!isDirectory(fDestination) && !createDestination()) return false;
    if (!isDirectory(fDestination)) {
        const std::string text = "FEHLER:  Das Zielverzeichnis existiert nicht!";
        failWith(text, text);
        return false;
    }
    return true;
}

// Only the destination folder itself is made without asking. A missing parent
// often means a disk that is not there, and the backup would land on the system disk.
bool TCopyJob::createDestination() {
    const std::string missing = firstMissingFolder(fDestination);
    if (missing != fDestination) {
        const std::string question =
            "Der Ordner \"" + missing + "\" existiert nicht.\r\nSoll das Zielverzeichnis \"" +
            fDestination + "\" mit allen fehlenden Ordnern erstellt werden?";
        if (ask(TMsgKind::Confirmation, question, mbYes | mbNo, TMsgResult::No) !=
            TMsgResult::Yes) {
            refuseWith("FEHLER:  Das Zielverzeichnis \"" + fDestination +
                       "\" wird nicht erstellt, weil der Ordner \"" + missing +
                       "\" fehlt (ist der Datenträger nicht angeschlossen?).");
            return false;
        }
    }
    beforeChange();
    if (forceDirectories(fDestination)) {
        const std::string text = "Zielverzeichnis \"" + fDestination + "\" neu erstellt.";
        ask(TMsgKind::Error, text, mbOK, TMsgResult::OK);
        addMessage(text);
    }
    return true;
}

bool TCopyJob::checkSource(const std::string& source) {
    if (sameFolder(source, fDestination)) {
        const std::string text =
            "Quellverzeichnis und Zielverzeichnis dürfen nicht identisch sein!";
        failWith(text, text);
        return false;
    }
    if (!isDirectory(source)) {
        const std::string text =
            "FEHLER:  Das Quellverzeichnis \"" + source + "\" existiert nicht!";
        failWith(text, "Was soll ich sichern? \r" + text);
        return false;
    }
    if (!isSameDrive(source, fDestination)) return true;
    // Without a window the question is answered "continue"; the protocol keeps it.
    addMessage(
        "Ein Backup auf demselben Laufwerk bietet keine Sicherheit bei einem Laufwerksdefekt.");
    addMessage("Möchten Sie die Sicherung trotzdem durchführen?");
    if (fPreview) {
        addMessage("Vorschau: Ein Lauf fragt hier; gezeigt wird die Antwort \"Ja\".");
        return true;
    }
    if (ask(TMsgKind::Warning, kSameDriveQuestion, mbYes | mbNo, TMsgResult::Yes) ==
        TMsgResult::Yes)
        return true;
    setStatus(csCancelled);
    fStatusText = "  kein Backup auf demselben Laufwerk.";
    addMessage(fStatusText);
    ++fStatistics.fWarnings;
    return false;
}

std::optional<TDateTime> TCopyJob::measureClockOffset() {
    const std::string sourceDir = extractFilePath(fCopyFolder->fSource);
    const std::string destDir = includeTrailingDelimiter(fDestination);
    fCoarseDestTimes = storesTwoSecondSteps(destDir);
    // The source is only ever read: its clock counts as the local one.
    if (isNetworkDrive(sourceDir) && logLevel() > 3)
        addMessage("Der Zeitunterschied zur Quelle \"" + sourceDir +
                   "\" wird nicht gemessen (in die Quelle wird nie geschrieben); er gilt als 0, "
                   "die Toleranz gilt.");
    if (!isNetworkDrive(destDir)) return 0.0;
    const std::optional<double> seconds = probeDestination(destDir, probeBaseName());
    if (!seconds) return std::nullopt;
    return *seconds / kSecondsPerDay;
}

namespace {

// A time with an odd second and a fraction below a hundredth: a file system
// that stores times in 2-second steps, whole seconds or hundredths (exFAT)
// gives back another one.
constexpr struct timespec kProbeTime = {1'000'000'001, 123'456'789};
// How far a time may be off for a file system that keeps it at all, and
// the least tolerance such a file system needs.
constexpr double kCoarseSeconds = 2.0;

double seconds(const struct timespec& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double localClock() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return seconds(now);
}

}  // namespace

// Writes a probe file into the destination and takes the time its file
// system gives it against the local clock: the offset in seconds (within the
// steps of a file time, 0). Then sees which time the file system keeps when
// one is set. A name that exists already is never touched: the next free
// variant is taken.
std::optional<double> TCopyJob::probeDestination(const std::string& directory,
                                                 const std::string& name) {
    std::string path;
    sys::UniqueFd fd;
    for (int n = 0; n < 100 && !fd.valid(); ++n) {
        path = directory + name;
        if (n > 0) path += '_' + std::to_string(n);
        path += ".tst";
        fd.reset(
            sys::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.valid() && errno != EEXIST) break;
    }
    int error = fd.valid() ? 0 : errno;
    struct stat written {};
    struct stat kept {};
    double local = 0;
    if (fd.valid()) {
        static const char kContent[] = "a\n";
        if (sys::write(fd.get(), kContent, 2) != 2) error = errno ? errno : EIO;
        local = localClock();
        if (fd.reset() != 0 && error == 0) error = errno;
        processPendingEvents();
        if (error == 0 && sys::stat(path.c_str(), &written) != 0) error = errno;
        const struct timespec times[2] = {kProbeTime, kProbeTime};
        if (error == 0 && (sys::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0 ||
                           sys::stat(path.c_str(), &kept) != 0))
            kept.st_mtim = written.st_mtim;  // refused: the time of writing stays
        sys::unlink(path.c_str());
    }
    if (error != 0) {
        addMessage("FEHLER:  Die Prüfdatei \"" + path +
                   "\" konnte nicht geschrieben werden: " + sys::errorText(error));
        ++fStatistics.fErrors;
        return std::nullopt;
    }
    noteKeptTime(directory, seconds(kept.st_mtim) - seconds(kProbeTime));
    const double offset = local - seconds(written.st_mtim);
    return std::abs(offset) <= kCoarseSeconds ? 0.0 : std::round(offset);
}

// `missed`: how far the time the file system kept lies from the one set.
void TCopyJob::noteKeptTime(const std::string& directory, double missed) {
    if (missed != 0) fCoarseDestTimes = true;
    if (std::abs(missed) <= kCoarseSeconds || fTimesWarned) return;
    fTimesWarned = true;
    addMessage("WARNUNG:  Das Zielverzeichnis \"" + directory +
               "\" behält die Dateizeiten nicht; die Kopien tragen die Zeit des Kopierens.");
    ++fStatistics.fWarnings;
}

std::string verdictText(TCopyStatus status, const TCopyStatistics& statistics) {
    switch (status) {
        case csDone:
            if (statistics.fErrors > 0)
                return " wurde ausgeführt, aber es sind Fehler aufgetreten.";
            if (statistics.fWarnings > 0)
                return " wurde ausgeführt, aber es sind Warnungen aufgetreten.";
            return " wurde erfolgreich ausgeführt.";
        case csError:
            return " wurde wegen Fehler(n) abgebrochen.";
        case csCancelled:
            return " wurde vom Benutzer abgebrochen.";
        case csWarnings:
            return " wurde ausgeführt, aber es sind Warnungen aufgetreten.";
        default:
            return {};
    }
}

void TCopyJob::setSchedule(TJobInterval interval, TDateTime startTime) {
    fStartTime = startTime;
    fInterval = interval;
    const TDateTime now = nowDateTime();
    switch (fInterval) {
        case kIntervalWeekly:
            fNextRun = weeklyNextRun(now, fStartTime, fWeekday);
            break;
        case kIntervalDaily:
            fStartTime = onDayOf(now, fStartTime);
            fEndTime = onDayOf(now, fEndTime);
            fNextRun = dailyNextRun(now, fStartTime);
            break;
        case kIntervalHourly:
            fStartTime = onDayOf(now, fStartTime);
            fEndTime = onDayOf(now, fEndTime);
            // Past today's window the grid starts again at tomorrow's start time.
            if (now > fEndTime) fStartTime += 1;
            fNextRun = hourlyNextRun(now, fStartTime);
            break;
        default:
            fNextRun = onDayOf(now, fStartTime) - 7;
            break;
    }
    fIntervalFolder = intervalFolderFor(fInterval, fNextRun);
}

int32_t TCopyJob::minutesToNextRun() {
    bool movedOn = false;
    const int32_t minutes = minutesUntilRun(fInterval, fNextRun, nowDateTime(), movedOn);
    if (movedOn) fDone = false;
    return minutes;
}

void TCopyJob::setDestination(const std::string& directory) {
    fDestination = normalizedDestination(directory);
    fCopyFolder->fDest = fDestination;
}

// The folder's real parents are climbed through "..", so links on either path
// cannot hide the relation.
bool isAtOrBelow(const std::string& folder, const std::string& ancestor) {
    struct stat target {};
    if (sys::stat(ancestor.c_str(), &target) != 0) return false;
    sys::UniqueFd current(sys::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    while (current.valid() && sys::fstat(current.get(), &st) == 0) {
        if (st.st_dev == target.st_dev && st.st_ino == target.st_ino) return true;
        sys::UniqueFd parent(sys::openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat up {};
        if (!parent.valid() || sys::fstat(parent.get(), &up) != 0 ||
            (up.st_dev == st.st_dev && up.st_ino == st.st_ino))
            return false;
        current = std::move(parent);
    }
    return false;
}

std::string normalizedDestination(const std::string& directory) {
    // An empty destination stays empty (and fails the check) instead of becoming "/".
    if (directory.empty() || directory[0] != '/') return directory;
    return includeTrailingDelimiter(expandFileName(directory));
}

std::string sameDriveQuestion() {
    return kSameDriveQuestion;
}

}  // namespace qvb
