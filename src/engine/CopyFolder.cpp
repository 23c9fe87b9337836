#include "engine/CopyFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>
#include <unordered_set>

#include "engine/CopyPool.h"
#include "engine/LogLevel.h"
#include "engine/NameMask.h"
#include "engine/Xattrs.h"
#include "util/DateTime.h"
#include "util/EscapedText.h"
#include "util/Mounts.h"
#include "util/QV_Basics.h"
#include "util/QV_Utils.h"
#include "util/Sys.h"
#include "util/TextCase.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

bool copiesData(TFileAction action) {
    return action == kActionReplace || action == kActionCreate || action == kActionReplaceNewer;
}

constexpr uint16_t kPermissionBits = 07777;

const char* const kCancelledText = "TCopyFolder.Execute: Kopieraktion abgebrochen";

// A deletion of more than this many files, and of more than half the
// destination, is asked for first.
constexpr int32_t kLargeDeletionFiles = 50;

// Files below this size go to the workers; a larger one is copied by the
// walking thread in steps of its own, with copy_file_range.
constexpr int64_t kWorkerFileSize = 1 << 20;
// Files planned but not yet issued, at most: bounds the memory a run with
// workers needs beyond the listings (a few hundred KiB), whatever the tree.
// Unchanged files between the copies take room too; a window far ahead of
// the copies spares the walking thread a wait for a worker at almost every
// changed file of a tree that changed in few places.
constexpr size_t kCopyWindow = 1024;

// How long the window's thread waits for a worker before it handles its events again.
constexpr std::chrono::milliseconds kEventPause{20};

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The text up to and including the last "/".
std::string upToLastDelimiter(const std::string& path) {
    const size_t pos = path.rfind('/');
    return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

// "yyyy.mm.dd hh:mm:ss,nnnn": the trace format, whose last four digits repeat the minutes.
std::string traceTime(TDateTime value) {
    const TDateParts p = decodeDateTime(value);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d.%02d.%02d %02d:%02d:%02d,%02d%02d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second, p.minute, p.minute);
    return buf;
}

std::string withoutTrailingSlash(const std::string& name) {
    return name.substr(0, name.size() - 1);
}

bool isTempName(std::string_view name) {
    const std::string base = extractFileName(name);
    return base.compare(0, kTempFilePrefix.size(), kTempFilePrefix) == 0;
}

// Which destination entries have no source any more. Whatever lies below a
// source folder that could not be read may still exist there; a file that
// another source sharing the destination would list at the same place is that
// source's copy.
class TSurplusTest {
  public:
    // `folded`: on a destination blind to letter case, the source's names
    // folded; a file of such a name is the copy of that source file.
    TSurplusTest(const TFileList& source, const TCopyFolder& mirror, const std::string& ownSource,
                 const std::unordered_map<std::string, std::string_view>* folded)
        : fSource(source),
          fFolded(folded),
          fUnreadable(source.fUnreadableDirs.begin(), source.fUnreadableDirs.end()),
          fInclude(mirror.fIncludeOnly),
          fExclude(mirror.fExclude) {
        for (const std::string& folder : mirror.fSharedSources)
            if (folder != ownSource) fShared.push_back(folder);
    }

    bool operator()(const TFileEntry& entry) const {
        return entry.kind != ekEmptyDir && !fSource.find(entry.name, fNear) &&
               !belowUnreadable(entry.name) && !heldByShared(entry.name) &&
               !(fFolded && fFolded->count(foldCase(entry.name)));
    }

  private:
    bool belowUnreadable(std::string_view name) const {
        if (fUnreadable.empty()) return false;
        for (size_t pos = name.find('/'); pos != std::string_view::npos;
             pos = name.find('/', pos + 1))
            if (fUnreadable.count(std::string(name.substr(0, pos + 1)))) return true;
        return false;
    }

    // A place that cannot be looked at counts as held.
    bool heldByShared(std::string_view name) const {
        for (const std::string& folder : fShared) {
            struct stat st {};
            if (sys::lstat(concat(folder, name).c_str(), &st) != 0) {
                if (errno == ENOENT || errno == ENOTDIR) continue;
                return true;
            }
            if (!S_ISDIR(st.st_mode) &&
                listedByMasks(fInclude, fExclude, foldCase(concat("/", name))))
                return true;
        }
        return false;
    }

    const TFileList& fSource;
    mutable size_t fNear = TFileList::kNowhere;  // the destination is asked in its own order
    const std::unordered_map<std::string, std::string_view>* fFolded;
    const std::unordered_set<std::string> fUnreadable;
    const TNameMasks fInclude;
    const TNameMasks fExclude;
    std::vector<std::string> fShared;
};

}  // namespace

TCopyFolder::TCopyFolder()
    : fSourceList(std::make_unique<TFileList>()),
      fDestList(std::make_unique<TFileList>()),
      fCopier(std::make_unique<TCopyFile>()) {
    setName("TCopyFolder");
    fSourceList->fOwner = this;
    fDestList->fOwner = this;
}

TCopyFolder::~TCopyFolder() = default;

bool TCopyFolder::checkFolders() {
    if (fSource.empty()) {
        setStatus(csError);
        addMessage("FEHLER: das Quellverzeichnis ist nicht angegeben!");
        return false;
    }
    if (!isDirectory(fSource)) {
        setStatus(csError);
        addMessage("FEHLER: das Quellverzeichnis existiert nicht!");
        return false;
    }
    if (isDirectory(fDest) || fPreview) return true;
    beforeChange();
    if (!forceDirectories(fDest)) {
        setStatus(csError);
        addMessage("FEHLER:  kann Verzeichnis \"" + fDest + "\" nicht erstellen");
        return false;
    }
    return true;
}

bool TCopyFolder::Execute() {
    fStatistics.reset();
    fDeletionDecided = !fDelete;
    fSourceList->Clear();
    fDestList->Clear();
    fSourceList->fTimeTolerance = fTimeTolerance;
    fSourceList->fDestLocalTime = false;
    if (fStatus == csCancelled) return false;
    if (!checkFolders()) {
        doProgress();
        return false;
    }
    if (fStatus == csCancelled) {
        fStatusText = kCancelledText;
        addMessage(fStatusText);
        return false;
    }
    setStatus(csIdle);
    fSourceFolder = upToLastDelimiter(fSource);
    fDestFolder = upToLastDelimiter(fDest);
    fTree.setDryRun(fPreview);
    fTree.setBeforeWrite([this] { beforeChange(); });
    fTree.open(fDestFolder);
    // An open descriptor would keep the destination's disk from being unmounted after the run.
    const struct CloseTrees {
        TDestTree& tree;
        TDestTree& previous;
        ~CloseTrees() {
            tree.close();
            previous.close();
        }
    } closeTrees{fTree, fPrevious};
    fLinkPrevious = openPrevious();
    fSourceList->fDestLocalTime = storesLocalTime(fDestFolder);
    fBlocked.clear();
    fRetyped.clear();
    fAttributesWarned = false;
    fTreeWritten = false;
    fTimesWarned = false;
    fSourceList->fRunStartNs = nowNs();
    fXattrsWarned = false;
    // One moment for both listings, so that their status ages compare.
    fScanEpochNs = fSourceList->fRunStartNs;

    // A scan that failed or a full destination copies nothing: the run must not
    // count as done.
    bool sourceScanned = false;
    bool ok = fWorkers > 1 ? scanBoth(sourceScanned)
                           : (sourceScanned = scanTree(*fSourceList)) && scanTree(*fDestList);
    if (!ok) {
        ++fStatistics.fErrors;
        const TFileList& failed = sourceScanned ? *fDestList : *fSourceList;
        fStatusText = (sourceScanned ? "Zielverzeichnis \"" : "Quellverzeichnis \"") +
                      failed.fBaseDir + "\", " + failed.fErrorText;
    } else if (fStatus == csCancelled) {
        fStatusText = kCancelledText;
        ok = false;
    } else {
        setStatus(csRunning);
        if (!enoughSpace()) {
            ++fStatistics.fErrors;
            ok = false;
        } else {
            detectCaseBlindness();
            fDeletePass = fDelete && deletionWanted();
            fDeletionDecided = !fDelete || fDeletePass;
            const TCopyEnd end = copyPhase();
            if (end == TCopyEnd::Interrupted) return false;
            ok = end == TCopyEnd::Done;
            if (ok && fDeletePass) deleteSurplus();
            if (ok) emptyFolderPhase();
            fPercent = 100;
            setClosingText();
        }
    }
    addMessage(fStatusText);
    doProgress();
    return ok;
}

bool TCopyFolder::scanTree(TFileList& list) {
    const bool source = &list == fSourceList.get();
    announceScan(source);
    prepareScan(list, source);
    return reportScan(list, source, runScan(list, source));
}

// The destination is listed on a thread of its own while the source is listed
// here; its lines follow the source's as if it had been listed afterwards.
bool TCopyFolder::scanBoth(bool& sourceScanned) {
    auto destList = std::make_unique<TFileList>();
    destList->fOffThread = true;
    prepareScan(*destList, false);
    std::promise<bool> destDone;
    std::future<bool> destScanned = destDone.get_future();
    std::jthread destScan([&] {
        try {
            destDone.set_value(runScan(*destList, false));
        } catch (...) {
            destDone.set_exception(std::current_exception());
        }
    });
    sourceScanned = scanTree(*fSourceList);
    // The window stays alive while the destination's listing ends.
    while (destScanned.wait_for(kEventPause) != std::future_status::ready) processPendingEvents();
    destScan.join();
    const bool destOk = destScanned.get();
    if (!sourceScanned) return false;
    announceScan(false);
    destList->fOffThread = false;
    destList->fOwner = this;
    fDestList = std::move(destList);
    // The counts of the destination were not shown while it was listed.
    if (OnStatusChange) OnStatusChange(nullptr);
    return reportScan(*fDestList, false, destOk);
}

void TCopyFolder::announceScan(bool source) {
    fStatusText = source ? "durchsuche Quellverzeichnis " + fSource + "..."
                         : "durchsuche Zielverzeichnis " + fDestFolder + "...";
    addMessage(fStatusText);
    setProgressText(fStatusText);
}

void TCopyFolder::prepareScan(TFileList& list, bool source) const {
    list.setBaseDir(source ? fSourceFolder : fDestFolder);
    list.fListEmptyDirs = true;
    list.fStatusEpochNs = fScanEpochNs;
    list.setSkipFolders(fSkipFolders);
    // A folder skipped by its absolute source path keeps its backup.
    list.anchorSkipItems(fSourceFolder);
    list.fExclude = source ? fExclude : std::string();
    list.fIncludeOnly = source ? fIncludeOnly : std::string();
    // A destination inside the source must not be copied into itself; the
    // job's sources inside the destination are never touched.
    if (source)
        list.fExcludeDir = fDestFolder;
    else
        list.fExcludeDirs = fProtectedDirs;
}

bool TCopyFolder::runScan(TFileList& list, bool source) const {
    // A preview does not make the folder a run would make: it holds nothing yet.
    return (!source && fPreview && !isDirectory(fDestFolder)) || list.scan();
}

bool TCopyFolder::reportScan(TFileList& list, bool source, bool ok) {
    (source ? fStatistics.fSourceFiles : fStatistics.fDestFiles) = list.fFileCount;
    (source ? fStatistics.fSourceDirs : fStatistics.fDestDirs) = list.fDirCount;
    (source ? fStatistics.fSourceBytes : fStatistics.fDestBytes) = list.fTotalSize;
    if (ok && !source) removeTempLeftovers();
    fStatusText = source ? fStatistics.sourceFoundText() : fStatistics.destFoundText();
    addMessage("  " + fStatusText);
    logWarnings(list);
    // A cancel that came during the listing stays: the run ends before it writes.
    if (source && fStatus != csCancelled) setStatus(csIdle);
    return ok;
}

void TCopyFolder::logWarnings(const TFileList& list) {
    if (logLevel() > 3)
        for (const std::string& line : list.fTraceLines) addMessage(line);
    for (const std::string& line : list.fWarningLines) {
        addMessage(line);
        ++fStatistics.fWarnings;
    }
}

// What an interrupted copy left behind; a source file of such a name is the user's and stays.
void TCopyFolder::removeTempLeftovers() {
    for (const TFileEntry& entry : fDestList->entries()) {
        if (entry.kind == ekEmptyDir || !isTempName(entry.name) || fSourceList->find(entry.name))
            continue;
        if (fTree.removeFile(std::string(entry.name)) != 0) continue;
        --fStatistics.fDestFiles;
        fStatistics.fDestBytes -= entry.size;
    }
    // The private folders the copy programs write into.
    for (const TFolderEntry& folder : fDestList->folders()) {
        if (folder.name.empty() || !isTempName(withoutTrailingSlash(folder.name)) ||
            fSourceList->findFolder(folder.name))
            continue;
        fTree.removeAll(folder.name, [&](const std::string&, bool isFolder) {
            if (!isFolder) --fStatistics.fDestFiles;
        });
    }
}

bool TCopyFolder::enoughSpace() {
    struct statvfs vfs {};
    if (sys::statvfs(nearestExistingAncestor(fDestFolder).c_str(), &vfs) != 0) return true;
    const auto free = static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
    const int64_t need = fStatistics.fSourceBytes - fStatistics.fDestBytes;
    if (free <= 0 || free >= need) return true;
    const std::string text =
        "FEHLER:  Nicht genügend Platz auf Ziellaufwerk \"/\" frei!\r\n  (benötigt: " +
        formatFileSize(need) + ", vorhanden: " + formatFileSize(free) + ")";
    for (const std::string& line : splitLines(text)) addMessage(line);
    addMessage(" ");
    setStatus(csError);
    userInterface().bringToFront();
    ask(TMsgKind::Error, text, mbCancel, TMsgResult::Cancel, "Fehler");
    return false;
}

// Asked after both scans and before any file is copied, so that nobody waits
// through the copy for the question.
bool TCopyFolder::deletionWanted() {
    if (!sourceNotEmptied() || fHoldDeletion) return false;
    const int32_t doomed = countDoomed();
    if (doomed == 0) return true;
    if (fUnconfirmedDestination) {
        addMessage("Dieser Job hat noch keine Sicherung in das Zielverzeichnis \"" + fDestFolder +
                   "\" abgeschlossen; das Löschen muss bestätigt werden.");
        return largeDeletionConfirmed(doomed);
    }
    if (doomed <= kLargeDeletionFiles || int64_t{doomed} * 2 <= fStatistics.fDestFiles) return true;
    return largeDeletionConfirmed(doomed);
}

// An unmounted disk or share leaves an empty folder behind: taken at its word,
// it would wipe the backup.
bool TCopyFolder::sourceNotEmptied() {
    if (!fSourceList->fBaseEmpty || fStatistics.fDestFiles == 0) return true;
    addMessage("FEHLER:  Das Quellverzeichnis \"" + fSource +
               "\" ist leer, das Zielverzeichnis \"" + fDestFolder +
               "\" enthält aber Dateien: es wird nichts gelöscht.");
    ++fStatistics.fErrors;
    return false;
}

// Files the delete pass would remove, and those whose type changed (a file
// where the source has a link, or the other way round).
int32_t TCopyFolder::countDoomed() const {
    const TSurplusTest surplus(*fSourceList, *this, fSourceFolder,
                               fCaseBlind ? &fFoldedSource : nullptr);
    int32_t doomed = 0;
    size_t near = TFileList::kNowhere;
    for (const TFileEntry& entry : fDestList->entries()) {
        if (entry.kind == ekEmptyDir) continue;
        const TFileEntry* source = fSourceList->find(entry.name, near);
        if (source ? source->kind != entry.kind : surplus(entry)) ++doomed;
    }
    return doomed;
}

bool TCopyFolder::largeDeletionConfirmed(int32_t doomed) {
    if (fAllowMassDelete) return true;
    const std::string counts =
        formatThousands(doomed) + " von " + formatThousands(fStatistics.fDestFiles) + " Dateien";
    const std::string question = "Im Zielverzeichnis \"" + fDestFolder + "\" würden " + counts +
                                 " gelöscht.\r\nSollen diese Dateien wirklich gelöscht werden?";
    // Only a window asks; elsewhere the preview shows the run's skipped deletion.
    const bool asked = fAnswers == TAnswers::User && userInterface().asksUser();
    if (fPreview && asked) {
        addMessage("Vorschau: Ein Lauf fragt hier, ob im Zielverzeichnis \"" + fDestFolder + "\" " +
                   counts + " gelöscht werden sollen; gezeigt wird die Antwort \"Ja\".");
        return true;
    }
    if (!fPreview && ask(TMsgKind::Confirmation, question, mbYes | mbNo | mbDefaultNo,
                         TMsgResult::No) == TMsgResult::Yes)
        return true;
    addMessage("WARNUNG:  Im Zielverzeichnis \"" + fDestFolder + "\" wären " + counts +
               " gelöscht worden; das Löschen wird übersprungen.");
    ++fStatistics.fWarnings;
    return false;
}

TCopyFolder::TCopyEnd TCopyFolder::copyPhase() {
    applyChangedTypes(findChangedTypes());
    fLinks.build(*fSourceList, *fDestList);
    fLeaderActions.clear();
    addMessage("kopiere neue und geänderte Dateien...");
    fStatistics.fCurrent = 0;
    fCopier->fTimesAfterCommit = !fPreview && onNetworkFileSystem(fDestFolder);
    fCopier->forgetFolders();
    const int workers = copyWorkers();
    const TCopyEnd end = workers > 1 ? copyInParallel(workers) : copyInTurn();
    if (end != TCopyEnd::Interrupted && fStatistics.fAdded == 0 && fStatistics.fReplaced == 0)
        addMessage("  keine Dateien kopiert.");
    return end;
}

int TCopyFolder::copyWorkers() const {
    if (fWorkers <= 1 || fPreview) return 1;
    return fCopier->fTimesAfterCommit ? 1 : fWorkers;
}

TCopyFolder::TCopyEnd TCopyFolder::copyInTurn() {
    TFolderWalk walk;
    // A link reaches the folder of its first name through the tree.
    walk.keepOpen = !fLinks.empty();
    bool ok = true;
    for (const TFileEntry& entry : fSourceList->entries()) {
        if (entry.kind == ekEmptyDir) continue;
        TPlannedFile file = planFile(entry, walk);
        ok = file.folderError.empty();
        const TStep step = issueFile(file);
        if (step == TStep::Interrupted) return TCopyEnd::Interrupted;
        if (step == TStep::Cancelled) return TCopyEnd::Failed;
    }
    return ok ? TCopyEnd::Done : TCopyEnd::Failed;
}

// Small files go to the workers while this thread walks on; every file is
// issued (its lines, counters and events) in the order of the list, and
// decisions that need the user stay on this thread.
TCopyFolder::TCopyEnd TCopyFolder::copyInParallel(int workers) {
    std::deque<TPlannedFile> window;
    std::optional<TCopyPool> pool;  // started by the first file for it
    TFolderWalk walk;
    walk.keepOpen = true;
    bool ok = true;
    TStep step = TStep::Next;
    for (const TFileEntry& entry : fSourceList->entries()) {
        if (entry.kind == ekEmptyDir) continue;
        TPlannedFile file = planFile(entry, walk);
        const bool forWorker = suitsWorker(file);
        if (!forWorker && window.empty()) {
            ok = file.folderError.empty();
            step = issueFile(file);
        } else {
            window.push_back(std::move(file));
            if (forWorker) {
                if (!pool) pool.emplace(workers, fCopier->fFirstMethod);
                window.back().copy = poolCopyOf(window.back());
                pool->submit(*window.back().copy);
            }
            // A full window is emptied by half before the walk goes on, so
            // that this thread waits once for many copies, not for each.
            const size_t keep = window.size() >= kCopyWindow ? kCopyWindow / 2 : kCopyWindow;
            step = issueReady(window, pool ? &*pool : nullptr, keep, ok);
        }
        if (step != TStep::Next) break;
    }
    if (step == TStep::Next) step = issueReady(window, pool ? &*pool : nullptr, 0, ok);
    if (step == TStep::Next) return ok ? TCopyEnd::Done : TCopyEnd::Failed;
    if (pool) issueCopiedAfterCancel(window, *pool);
    return step == TStep::Interrupted ? TCopyEnd::Interrupted : TCopyEnd::Failed;
}

bool TCopyFolder::suitsWorker(const TPlannedFile& file) const {
    return copiesData(file.action) && file.dirFd >= 0 && file.entry->size < kWorkerFileSize &&
           file.linkTo == nullptr && !file.fromPrevious;
}

std::unique_ptr<TPoolCopy> TCopyFolder::poolCopyOf(const TPlannedFile& file) const {
    auto copy = std::make_unique<TPoolCopy>();
    copy->source = concat(fSourceFolder, file.entry->name);
    copy->target = file.target;
    copy->dirFd = file.dirFd;
    copy->targetMissing = file.destEntry == nullptr;
    copy->listed = listedStatusOf(*file.entry);
    copy->sourceDir = file.sourceDir();
    return copy;
}

// Issues the files at the front that are ready, waiting (with the window's
// events handled) while more than `keep` wait to be issued.
TCopyFolder::TStep TCopyFolder::issueReady(std::deque<TPlannedFile>& window, TCopyPool* pool,
                                           size_t keep, bool& ok) {
    auto eventsDue = std::chrono::steady_clock::now() + kEventPause;
    while (!window.empty()) {
        TPlannedFile& head = window.front();
        if (head.copy && !TCopyPool::isDone(*head.copy)) {
            if (window.size() <= keep) return TStep::Next;
            // Rather than sleep until a worker ends, this thread copies what
            // waits; the window's events are still handled now and then.
            const bool advanced = pool->copyOneHere() || pool->waitFor(*head.copy, kEventPause);
            if (advanced && std::chrono::steady_clock::now() < eventsDue) continue;
            eventsDue = std::chrono::steady_clock::now() + kEventPause;
            processPendingEvents();
            if (fStatus == csCancelled) return TStep::Cancelled;
            continue;
        }
        // A copy of its own keeps this thread busy: the workers take what waits.
        if (!head.copy && copiesData(head.action) && pool) pool->wake();
        ok = head.folderError.empty();
        const TStep step = issueFile(head);
        window.pop_front();
        if (step != TStep::Next) return step;
    }
    return TStep::Next;
}

// After a cancel the workers end the files they began; those are on the
// disk and are logged and counted, the rest were never begun.
void TCopyFolder::issueCopiedAfterCancel(std::deque<TPlannedFile>& window, TCopyPool& pool) {
    pool.stop();
    for (TPlannedFile& file : window)
        if (file.copy && pool.isDone(*file.copy)) issueFile(file);
    window.clear();
}

TCopyFolder::TPlannedFile TCopyFolder::planFile(const TFileEntry& entry, TFolderWalk& walk) {
    TPlannedFile file;
    file.entry = &entry;
    file.destEntry = fDestList->find(entry.name, walk.destNear);
    if (!fRetyped.empty() && fRetyped.count(std::string(entry.name))) file.destEntry = nullptr;
    // A blocked name's error is counted once, for the name in the way.
    if (!fBlocked.empty() && isBlocked(entry.name)) return file;
    if (fCaseBlind && !isFirstOfItsCase(file)) return file;
    // Every folder checked starts with the destination's: its part below tells them apart.
    const std::string_view below = entry.name.substr(0, entry.name.rfind('/') + 1);
    if (!walk.tested || walk.last.size() != fDestFolder.size() + below.size() ||
        !walk.last.ends_with(below)) {
        bool created = false;
        const std::string folder = concat(fDestFolder, below);
        file.folderError = destFolderProblem(folder, walk.dirFd, created);
        walk.last = folder;
        walk.tested = true;
        // A folder that failed its check is not tried again for each of its files.
        walk.probed = created || fPreview || !file.folderError.empty();
        if (walk.keepOpen) keepFolderOpen(walk);
        if (!file.folderError.empty()) return file;
    }
    file.dirFd = walk.dirFd;
    file.folder = walk.open;
    // Only a folder the run writes into is tried for writing: a run that
    // changes nothing leaves the destination's folders untouched.
    if (!file.destEntry && !(file.folderError = writableProblem(walk)).empty()) return file;
    if (fCaseBlind && !file.destEntry) takeSourceSpelling(file);
    const std::optional<int64_t> destTime =
        file.destEntry ? std::optional<int64_t>(file.destEntry->mtimeNs) : std::nullopt;
    const int64_t destSize = file.destEntry ? file.destEntry->size : entry.size;
    file.action = fSourceList->compare(entry, destTime, destSize);
    if (file.action == kActionSkip && fLinks.sharedOutside(file.destEntry->name) &&
        needsNewName(entry, *file.destEntry))
        file.action = kActionReplace;
    // A link to the copy of its group's first name writes too.
    if (!fLinks.empty()) planLink(file);
    if (file.action != kActionSkip && !(file.folderError = writableProblem(walk)).empty()) {
        leaveAlone(file);
        return file;
    }
    if (fLinkPrevious && copiesData(file.action) && !file.linkTo)
        file.fromPrevious = matchesPrevious(entry);
    if (copiesData(file.action) && !fPreview) {
        // Here, before a worker may take the file, not where it is issued.
        beforeChange();
        file.sourceFolder = sourceFolderOf(entry, walk);
    }
    // Only what is written or renamed is named in the protocol.
    if (file.action != kActionSkip || !file.renamedFrom.empty())
        file.target = concat(fDestFolder, entry.name);
    return file;
}

// A file its folder refuses stays as it is, and gives the later names of its
// group no copy to link to.
void TCopyFolder::leaveAlone(TPlannedFile& file) {
    file.action = kActionNone;
    file.linkTo = nullptr;
    if (fLinks.empty()) return;
    const auto index = static_cast<uint32_t>(file.entry - fSourceList->entries().data());
    if (fLinks.leads(index)) fLeaderActions[index] = kActionNone;
}

// One descriptor per source folder, not a walk along the whole path for each file.
std::shared_ptr<sys::UniqueFd> TCopyFolder::sourceFolderOf(const TFileEntry& entry,
                                                           TFolderWalk& walk) const {
    const std::string folder = extractFilePath(std::string(entry.name));
    if (!walk.sourceOpen || folder != walk.sourceLast) {
        walk.sourceOpen = std::make_shared<sys::UniqueFd>(
            sys::open(concat(fSourceFolder, folder).c_str(), O_PATH | O_DIRECTORY));
        walk.sourceLast = folder;
    }
    return walk.sourceOpen;
}

// A later name of a group is linked to the copy of the first, unless the two
// copies are one file already; a copy shared with names that left the group
// is replaced by a copy of its own.
void TCopyFolder::planLink(TPlannedFile& file) {
    const std::vector<TFileEntry>& entries = fSourceList->entries();
    const auto index = static_cast<uint32_t>(file.entry - entries.data());
    const int64_t leader = fLinks.leaderOf(index);
    if (leader < 0) {
        if (file.action == kActionSkip && fLinks.broken(index)) file.action = kActionReplace;
        if (fLinks.leads(index)) fLeaderActions[index] = file.action;
        return;
    }
    const auto planned = fLeaderActions.find(static_cast<uint32_t>(leader));
    // A first name left alone (blocked, its folder failed) gives no copy to link to.
    if (planned == fLeaderActions.end() || planned->second == kActionNone) return;
    const TFileEntry& lead = entries[static_cast<size_t>(leader)];
    if (planned->second == kActionSkip && !fLinks.broken(index) &&
        fLinks.shared(lead.name, file.entry->name)) {
        file.action = kActionSkip;
        return;
    }
    file.linkTo = &lead;
    file.action = file.destEntry ? kActionReplace : kActionCreate;
}

// The tree's descriptor lasts only until its next call: files that wait to
// be issued keep a descriptor of their own.
void TCopyFolder::keepFolderOpen(TFolderWalk& walk) {
    walk.open.reset();
    if (walk.dirFd < 0) return;
    walk.open = std::make_shared<sys::UniqueFd>(sys::dup(walk.dirFd));
    walk.dirFd = walk.open->get();
}

TCopyFolder::TStep TCopyFolder::issueFile(TPlannedFile& file) {
    TCopyStatistics& st = fStatistics;
    ++st.fCurrent;
    if (logLevel() > 3) logTrace(*file.entry, file.destEntry);
    if (!file.folderError.empty()) reportFolderProblem(file.folderError);
    // A file behind a failed folder check or a name in the way stays uncopied.
    if (file.action == kActionNone) ++st.fNotCopied;
    if (!file.twinOf.empty()) reportCaseTwin(file);
    if (!file.renamedFrom.empty())
        addMessage(concat("  benenne " + fDestFolder, file.renamedFrom) + " um in " + file.target);
    if (file.action != kActionNone) {
        // A file a worker copied already is issued whatever came meanwhile,
        // and the cancel stays.
        if (fStatus == csCancelled && !file.copy) return TStep::Interrupted;
        // A file left as it is is done as soon as it is looked at.
        if (fStatus != csCancelled && file.action != kActionSkip) setStatus(csRunning);
        switch (file.action) {
            case kActionSkip:
                ++st.fSkipped;
                fCopier->fStatusText.clear();
                if (attributesDiffer(*file.entry, *file.destEntry))
                    alignFile(*file.entry, *file.destEntry);
                // A source whose status changed after its copy's may have new attributes.
                if (file.entry->kind == ekFile &&
                    file.entry->statusAge() <= file.destEntry->statusAge())
                    alignXattrs(std::string(file.entry->name), false);
                break;
            case kActionReplace:
                linkOrCopy(file, "  ersetze ", st.fReplaced);
                break;
            case kActionReplaceNewer:
                addMessage("WARNUNG:  Die Kopie \"" + file.target +
                           "\" ist neuer als ihre Quelle, hat aber eine andere Größe oder eine "
                           "Zeit in der Zukunft; sie wird ersetzt.");
                ++st.fWarnings;
                linkOrCopy(file, "  ersetze ", st.fReplaced);
                break;
            default:  // kActionCreate
                linkOrCopy(file, "  erstelle ", st.fAdded);
                break;
        }
    }
    st.fCopiedBytes += fCopier->fBytesCopied;
    fCopier->fBytesCopied = 0;
    const int32_t percent = fPercent;
    if (st.fSourceFiles > 0)
        fPercent = static_cast<int32_t>(int64_t{st.fCurrent} * 100 / st.fSourceFiles);
    // Files left alone pass by the thousands: the view and the events need
    // them in steps, not one by one.
    constexpr int32_t kSkippedStep = 64;
    if (file.action != kActionSkip || fPercent != percent || st.fCurrent % kSkippedStep == 0 ||
        st.fCurrent >= st.fSourceFiles)
        doProgress();
    if (fStatus == csCancelled) return TStep::Cancelled;
    setStatus(csDone);
    return TStep::Next;
}

void TCopyFolder::linkOrCopy(TPlannedFile& file, const char* copyLine, int32_t& done) {
    if (file.fromPrevious && !fPreview) file.fromPrevious = linkedToPrevious(file);
    addMessage((file.fromPrevious ? "  verknüpfe " : copyLine) + file.target);
    if (!file.fromPrevious) {
        countCopy(file, done);
        return;
    }
    if (fPreview) fTree.noteWritten(std::string(file.entry->name));
    ++done;
    ++fStatistics.fLinked;
}

// A file system without links refuses them all alike, another file system
// (a mount inside the destination) all below it: the run copies from then on.
bool TCopyFolder::linkedToPrevious(const TPlannedFile& file) {
    const std::string name(file.entry->name);
    const int from = fPrevious.folder(extractFilePath(name));
    const int err =
        from < 0 ? errno
                 : linkAt(from, extractFileName(name), file.dirFd, extractFileName(file.target));
    if (err == EPERM || err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS) {
        noteLinksRefused(err, file.target);
        fLinkPrevious = false;
    } else if (err == EXDEV) {
        fLinkPrevious = false;
    }
    return err == 0;
}

void TCopyFolder::noteLinksRefused(int err, const std::string& path) {
    if (fLinksWarned) return;
    fLinksWarned = true;
    const std::string type = fileSystemType(fDestFolder);
    addMessage("WARNUNG: das Dateisystem \"" + (type.empty() ? "?" : type) +
               "\" des Zielverzeichnisses kann Dateien nicht verknüpfen (\"" + path +
               "\": " + sys::errorText(err) +
               "); unveränderte Dateien werden kopiert, weitere Fälle werden nicht gemeldet");
    ++fStatistics.fWarnings;
}

// A file that could not be copied must not leave a run that reads as a success.
void TCopyFolder::countCopy(TPlannedFile& file, int32_t& done) {
    const bool copied = fPreview      ? previewCopy(*file.entry)
                        : file.copy   ? takeOverCopy(*file.copy)
                        : file.linkTo ? linkHere(file)
                                      : copyHere(file);
    if (fCopier->fAttributeError != 0) noteAttributeFailure(fCopier->fAttributeError, file.target);
    if (fCopier->fTimesError != 0) noteTimesFailure(fCopier->fTimesError, file.target);
    // A file that vanished, or changed all through its copy, is a warning.
    if (fCopier->fStatus == csWarnings) ++fStatistics.fWarnings;
    if (fCopier->fXattrError != 0) noteXattrFailure(fCopier->fXattrError, file.target);
    if (copied) {
        ++done;
        return;
    }
    ++fStatistics.fNotCopied;
    if (fCopier->fStatus == csError) ++fStatistics.fErrors;
}

bool TCopyFolder::copyHere(const TPlannedFile& file) {
    fCopier->fSource = concat(fSourceFolder, file.entry->name);
    fCopier->fDest = file.target;
    fCopier->fDestDir = file.dirFd;
    fCopier->fTargetMissing = file.destEntry == nullptr;
    fCopier->fListed = listedStatusOf(*file.entry);
    fCopier->fSourceDir = file.sourceDir();
    return fCopier->Execute();
}

TListedStatus TCopyFolder::listedStatusOf(const TFileEntry& entry) const {
    if (entry.kind != ekFile || entry.owner == kUnknownOwner) return {};
    return {true, entry.size, entry.mtimeNs, entry.mode, fSourceList->ownerOf(entry.owner).uid};
}

// A first name that could not be copied leaves nothing to link to: the name gets a copy of its own.
bool TCopyFolder::linkHere(const TPlannedFile& file) {
    fCopier->fBytesCopied = 0;
    fCopier->fAttributeError = fCopier->fXattrError = 0;
    if (fTree.linkFile(std::string(file.linkTo->name), file.dirFd, extractFileName(file.target)) ==
        0) {
        fCopier->setStatus(csDone);
        return true;
    }
    return copyHere(file);
}

// The previous version lies on the same file system and is not this very folder
// (two runs in one period write the same folder).
bool TCopyFolder::openPrevious() {
    fPrevious.close();
    fLinksWarned = false;
    if (fPreviousDest.empty()) return false;
    const std::string folder = upToLastDelimiter(fPreviousDest);
    struct stat previous {};
    struct stat own {};
    if (sys::stat(folder.c_str(), &previous) != 0 || !S_ISDIR(previous.st_mode) ||
        sys::stat(nearestExistingAncestor(fDestFolder).c_str(), &own) != 0 ||
        own.st_dev != previous.st_dev || own.st_ino == previous.st_ino)
        return false;
    return fPrevious.open(folder);
}

// A regular file of the same size, time (within the tolerance), mode,
// owner, attributes and ACLs.
bool TCopyFolder::matchesPrevious(const TFileEntry& entry) {
    if (entry.kind != ekFile) return false;
    const std::string name(entry.name);
    const int dir = fPrevious.folder(extractFilePath(name));
    struct stat st {};
    if (dir < 0 ||
        sys::fstatat(dir, extractFileName(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) || st.st_size != entry.size ||
        (st.st_mode & kPermissionBits) != (entry.mode & kPermissionBits) ||
        std::abs(fileTimeNs(st.st_mtim) - entry.mtimeNs) > int64_t{fTimeTolerance} * 1'000'000'000)
        return false;
    if (runningAsRoot()) {
        const TOwner& owner = fSourceList->ownerOf(entry.owner);
        if (entry.owner == kUnknownOwner || owner.uid != st.st_uid || owner.gid != st.st_gid)
            return false;
    } else if (st.st_uid != ::geteuid()) {
        return false;
    }
    const uint32_t copyAge =
        statusAgeCode(std::max<int64_t>(0, fScanEpochNs - fileTimeNs(st.st_ctim)) / 1000);
    return entry.statusAge() > copyAge || sameXattrsAsPrevious(entry);
}

// The source's status changed after the copy's (or a file system keeps no
// status time): the attributes themselves decide.
bool TCopyFolder::sameXattrsAsPrevious(const TFileEntry& entry) const {
    TXattrs source;
    TXattrs copy;
    return readXattrs(-1, concat(fSourceFolder, entry.name).c_str(), source) == 0 &&
           readXattrs(-1, concat(upToLastDelimiter(fPreviousDest), entry.name).c_str(), copy) ==
               0 &&
           source == copy;
}

// What a worker's copier reported reaches the window through the mirror's
// own copier, as if that one had copied the file.
bool TCopyFolder::takeOverCopy(TPoolCopy& copy) {
    if (copy.failure) std::rethrow_exception(copy.failure);
    TCopyFile& copier = *fCopier;
    copier.fSource = copy.source;
    copier.fDest = copy.target;
    copier.fStatusText = "kopiere " + copy.source + "...";
    copier.setStatus(csIdle);
    for (const std::string& line : copy.lines) copier.addMessage(line);
    copier.fBytesCopied = copy.bytesCopied;
    copier.fAttributeError = copy.attributeError;
    copier.fTimesError = copy.timesError;
    copier.fXattrError = copy.xattrError;
    copier.fPercent = copy.percent;
    if (copy.copied) copier.doProgress();
    copier.setStatus(copy.status);
    return copy.copied;
}

void TCopyFolder::emptyFolderPhase() {
    const int n = createEmptyFolders();
    addMessage(n <= 0   ? " keine leeren Verzeichnisse angelegt"
               : n == 1 ? "1 leeres Verzeichnis angelegt"
                        : std::to_string(n) + " leere Verzeichnisse angelegt");
    alignFolders();
}

bool TCopyFolder::previewCopy(const TFileEntry& entry) {
    fCopier->fBytesCopied = entry.kind == ekFile ? entry.size : 0;
    fTree.noteWritten(std::string(entry.name));
    return true;
}

void TCopyFolder::logTrace(const TFileEntry& entry, const TFileEntry* destEntry) {
    const std::string destTime = destEntry ? traceTime(fDestList->valueOf(*destEntry)) : "";
    addMessage("bearbeite Datei " + std::to_string(fStatistics.fCurrent) + " (" +
               concat(fSourceFolder, entry.name) + " = " + traceTime(fSourceList->valueOf(entry)) +
               " -> " + concat(fDestFolder, entry.name) + " = " + destTime + ")");
}

std::string TCopyFolder::destFolderProblem(const std::string& folder, int& dirFd, bool& created) {
    dirFd = fTree.makeFolder(folder.substr(fDestFolder.size()), created);
    const int err = errno;
    if (dirFd < 0) {
        const std::string cannot = "FEHLER:  kann Verzeichnis \"" + folder + "\" nicht erstellen";
        // A file or link in the way is reported as a folder that cannot be made.
        if (err == ENOTDIR || err == ELOOP || fPreview) return cannot;
        if (readOnlyCause(err, folder))
            return "FEHLER: das Zielverzeichnis \"" + folder + "\" ist schreibgeschützt!";
        return cannot + ": " + folderCause(err);
    }
    return {};
}

// Tried once per folder, before the first file written into it; a folder just
// made is writable.
std::string TCopyFolder::writableProblem(TFolderWalk& walk) {
    if (walk.probed) return {};
    walk.probed = true;
    if (isDirWritable(walk.last)) return {};
    if (fTree.unlockFolder(walk.dirFd, walk.last.substr(fDestFolder.size())) &&
        isDirWritable(walk.last))
        return {};
    return "FEHLER: keine Schreibrechte im Zielverzeichnis \"" + walk.last + "\"!";
}

// Refused because the destination is read-only, not because of the name: the
// nearest folder that exists takes no file either (a read-only remount may show
// as a bad descriptor or an I/O error).
bool TCopyFolder::readOnlyCause(int err, const std::string& folder) const {
    if (err == EROFS) return true;
    if (err != EACCES && err != EPERM && err != EBADF && err != EIO) return false;
    return !isDirWritable(nearestExistingAncestor(folder));
}

// A folder that takes files but refuses this name cannot store it (":" on FAT).
std::string TCopyFolder::folderCause(int err) {
    if (err == EACCES || err == EPERM || err == ENOENT || err == EINVAL)
        return "Der Name kann im Zielverzeichnis nicht gespeichert werden";
    return sys::errorText(err);
}

void TCopyFolder::reportFolderProblem(const std::string& error) {
    addMessage(error);
    setStatus(csError);
    ++fStatistics.fErrors;
}

namespace {

std::string kindText(bool folder, TEntryKind kind) {
    if (folder) return "ein Verzeichnis";
    return kind == ekLink ? "eine symbolische Verknüpfung" : "eine Datei";
}

}  // namespace

std::vector<TTypeChange> TCopyFolder::findChangedTypes() const {
    std::vector<TTypeChange> changes;
    const TFileList& source = *fSourceList;
    const TFileList& dest = *fDestList;
    for (const TFolderEntry& folder : dest.folders()) {
        if (folder.name.empty()) continue;
        const std::string name = withoutTrailingSlash(folder.name);
        const TFileEntry* file = source.find(name);
        if (file && file->kind != ekEmptyDir)
            changes.push_back({name, true, false, ekFile, file->kind});
    }
    for (const TFolderEntry& folder : source.folders()) {
        if (folder.name.empty()) continue;
        const std::string name = withoutTrailingSlash(folder.name);
        const TFileEntry* file = dest.find(name);
        if (file && file->kind != ekEmptyDir)
            changes.push_back({name, false, true, file->kind, ekFile});
    }
    // Links are few: one pass over the kinds finds them without a look-up per file.
    for (const TFileEntry& entry : source.entries()) {
        if (entry.kind != ekLink) continue;
        const TFileEntry* file = dest.find(entry.name);
        if (file && file->kind == ekFile)
            changes.push_back({std::string(entry.name), false, false, ekFile, ekLink});
    }
    for (const TFileEntry& entry : dest.entries()) {
        if (entry.kind != ekLink) continue;
        const TFileEntry* file = source.find(entry.name);
        if (file && file->kind == ekFile)
            changes.push_back({std::string(entry.name), false, false, ekLink, ekFile});
    }
    std::sort(changes.begin(), changes.end(),
              [](const TTypeChange& a, const TTypeChange& b) { return a.name < b.name; });
    return changes;
}

// When this run deletes, the object in the way goes, as any surplus file
// would, and the source's object takes its place in this run; without the
// delete option, or with the deletion held back (an emptied source, a large
// deletion not confirmed), nothing is written at or below that name.
void TCopyFolder::applyChangedTypes(const std::vector<TTypeChange>& changes) {
    TCopyStatistics& st = fStatistics;
    for (const TTypeChange& change : changes) {
        const std::string path = fDestFolder + change.name;
        if (!fDeletePass) {
            addMessage("FEHLER:  \"" + path + "\" ist im Zielverzeichnis " +
                       kindText(change.destIsFolder, change.destKind) + ", in der Quelle " +
                       kindText(change.sourceIsFolder, change.sourceKind) +
                       (fDelete ? "; ersetzt wird es nicht, weil in diesem Lauf nicht gelöscht wird"
                                : "; ersetzt wird es nur mit \"Löschen\""));
            ++st.fErrors;
            fBlocked.insert(change.name);
            continue;
        }
        const int err = fTree.removeAll(change.name, [&](const std::string& rel, bool isFolder) {
            if (isFolder) {
                addMessage(" Verzeichnis  " + fDestFolder + rel + "  gelöscht");
                ++st.fDirsDeleted;
            } else {
                addMessage("  lösche  " + fDestFolder + rel);
                ++st.fDeleted;
            }
        });
        if (err == 0 || err == ENOENT) {
            fRetyped.insert(change.name);
        } else {
            addMessage("    konnte  " + path + "  nicht löschen!");
            ++st.fNotDeleted;
            fBlocked.insert(change.name);
        }
    }
}

bool TCopyFolder::isBlocked(std::string_view name) const {
    if (fBlocked.count(std::string(name))) return true;
    for (size_t pos = name.find('/'); pos != std::string_view::npos; pos = name.find('/', pos + 1))
        if (fBlocked.count(std::string(name.substr(0, pos)))) return true;
    return false;
}

void TCopyFolder::setClosingText() {
    TCopyStatistics& st = fStatistics;
    if (st.fWarnings > 0 && st.fErrors == 0 && (fStatus == csDone || fStatus == csRunning))
        setStatus(csWarnings);
    switch (fStatus) {
        case csDone:
            st.fCurrent = st.fSourceFiles;
            fStatusText = std::to_string(st.fSourceFiles) + " Dateien bearbeitet.";
            break;
        case csWarnings:
            // The deletion phase counted destination entries in fCurrent.
            st.fCurrent = st.fSourceFiles;
            fStatusText = st.fWarnings == 1
                              ? formatThousands(st.fCurrent) +
                                    " Dateien bearbeitet, aber es ist eine Warnung aufgetreten."
                              : formatThousands(st.fCurrent) +
                                    " Dateien bearbeitet, aber es sind " +
                                    std::to_string(st.fWarnings) + " Warnungen aufgetreten.";
            break;
        case csError:
            fStatusText = "Kopieraktion nach " + formatThousands(st.fCurrent) +
                          " Dateien durch Fehler abgebrochen.";
            break;
        case csCancelled:
            fStatusText = "Kopieraktion nach " + formatThousands(st.fCurrent) +
                          " Dateien vom Benutzer abgebrochen.";
            break;
        default:
            break;
    }
}

// Asked once a run, after the listings: only a destination blind to letter
// case needs every name folded. A preview writes no probe file; a name of the
// destination looked up in the other case tells it instead.
void TCopyFolder::detectCaseBlindness() {
    fCaseBlind = false;
    fFoldedSource.clear();
    fFoldedDest.clear();
    if (fPreview) {
        for (const TFileEntry& entry : fDestList->entries()) {
            std::string other(entry.name);
            for (char& c : other)
                if (std::isalpha(static_cast<unsigned char>(c))) c = static_cast<char>(c ^ 0x20);
            if (other == entry.name || entry.kind == ekEmptyDir) continue;
            struct stat st {};
            fCaseBlind =
                !fDestList->find(other) && sys::lstat(concat(fDestFolder, other).c_str(), &st) == 0;
            break;
        }
    } else {
        fCaseBlind = namesIgnoreCase(fDestFolder).value_or(false);
    }
    if (!fCaseBlind) return;
    if (logLevel() > 3)
        addMessage("  Das Zielverzeichnis \"" + fDestFolder +
                   "\" unterscheidet Groß- und Kleinschreibung nicht.");
    for (const TFileEntry& entry : fSourceList->entries())
        if (entry.kind != ekEmptyDir) fFoldedSource.emplace(foldCase(entry.name), entry.name);
    for (const TFileEntry& entry : fDestList->entries())
        if (entry.kind != ekEmptyDir && !fSourceList->find(entry.name))
            fFoldedDest.emplace(foldCase(entry.name), &entry);
}

bool TCopyFolder::isFirstOfItsCase(TPlannedFile& file) const {
    const auto first = fFoldedSource.find(foldCase(file.entry->name));
    if (first == fFoldedSource.end() || first->second == file.entry->name) return true;
    file.twinOf = first->second;
    return false;
}

// A copy whose name differs from its source's in letter case only is the
// source's copy: renamed (through a temporary name, which a case-blind file
// system needs), then compared like any copy.
void TCopyFolder::takeSourceSpelling(TPlannedFile& file) {
    const auto copy = fFoldedDest.find(foldCase(file.entry->name));
    if (copy == fFoldedDest.end()) return;
    const TFileEntry& dest = *copy->second;
    file.destEntry = &dest;
    const std::string from = extractFileName(dest.name);
    const std::string to = extractFileName(file.entry->name);
    if (from == to) return;
    const std::string temp = std::string(kTempFilePrefix) + "case-" + to;
    beforeChange();
    const bool renamed =
        fPreview || (sys::renameat(file.dirFd, from.c_str(), file.dirFd, temp.c_str()) == 0 &&
                     sys::renameat(file.dirFd, temp.c_str(), file.dirFd, to.c_str()) == 0);
    if (!renamed) {
        // The copy keeps its name; the delete pass leaves it alone all the same.
        file.destEntry = nullptr;
        return;
    }
    file.renamedFrom = dest.name;
}

void TCopyFolder::reportCaseTwin(const TPlannedFile& file) {
    addMessage(concat("FEHLER:  \"" + fSourceFolder, file.entry->name) +
               "\" wird nicht kopiert: das Zielverzeichnis unterscheidet Groß- und "
               "Kleinschreibung nicht, und \"" +
               concat(fSourceFolder, file.twinOf) + "\" hat dort denselben Namen");
    ++fStatistics.fErrors;
}

int TCopyFolder::deleteSurplus() {
    TCopyStatistics& st = fStatistics;
    const int32_t errorsBefore = st.fErrors;
    addMessage("lösche Dateien im Zielverzeichnis...");
    const TSurplusTest surplus(*fSourceList, *this, fSourceFolder,
                               fCaseBlind ? &fFoldedSource : nullptr);
    std::vector<std::string> folders;
    const std::vector<TFileEntry>& entries = fDestList->entries();
    const int32_t count = static_cast<int32_t>(entries.size());
    const int32_t progressStep = std::max(1, count / 100);
    for (int32_t i = 1; i <= count; ++i) {
        st.fCurrent = i;
        const TFileEntry& entry = entries[static_cast<size_t>(i - 1)];
        if (surplus(entry)) {
            const int err = fTree.removeFile(std::string(entry.name));
            const std::string path = concat(fDestFolder, entry.name);
            if (err != ENOENT) {
                const std::string folder = extractFilePath(entry.name);
                if (folders.empty() || folders.back() != folder) folders.push_back(folder);
            }
            if (err == 0) {
                addMessage("  lösche  " + path);
                ++st.fDeleted;
            } else if (err != ENOENT) {
                addMessage("    konnte  " + path + "  nicht löschen!");
                ++st.fNotDeleted;
            }
        }
        if (i % progressStep == 0 || i == count)
            setProgressText("prüfe Datei " + formatThousands(i) + " von " + formatThousands(count) +
                            "...");
        if (fStatus == csCancelled) break;
    }
    if (st.fDeleted > 0) {
        fStatusText = "lösche leere Ordner im Zielverzeichnis...";
        addMessage(fStatusText);
        removeEmptiedFolders(folders);
    }
    // The summary counts the errors of this phase only: a failed copy is no failed deletion.
    TCopyStatistics deletion = st;
    deletion.fErrors -= errorsBefore;
    fStatusText =
        entries.empty() ? "  keine zu löschenden Dateien vorhanden." : deletion.deletionText();
    addMessage(fStatusText);
    doProgress();
    return st.fDeleted;
}

// Climbs from each folder that lost a file towards the destination folder,
// removing what became empty; the destination folder itself always stays.
void TCopyFolder::removeEmptiedFolders(std::vector<std::string>& folders) {
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        for (std::string rel = *it; !rel.empty();
             rel = extractFilePath(excludeTrailingDelimiter(rel))) {
            if (!fTree.removeDir(rel)) break;
            addMessage(" Verzeichnis  " + fDestFolder + rel + "  gelöscht");
            ++fStatistics.fDirsDeleted;
        }
        doProgress();
    }
}

namespace {

bool sameOwner(const TFileList& sourceList, uint16_t source, const TFileList& destList,
               uint16_t dest) {
    return source == kUnknownOwner || sourceList.ownerOf(source) == destList.ownerOf(dest);
}

}  // namespace

// A link has no mode of its own; its owner counts as a file's.
bool TCopyFolder::attributesDiffer(const TFileEntry& source, const TFileEntry& dest) const {
    if (source.kind != ekLink && (source.mode & kPermissionBits) != (dest.mode & kPermissionBits))
        return true;
    return runningAsRoot() && !sameOwner(*fSourceList, source.owner, *fDestList, dest.owner);
}

// Its mode, owner, attributes or ACLs would be aligned in place (the
// attributes when the source's status changed after the copy's).
bool TCopyFolder::needsNewName(const TFileEntry& source, const TFileEntry& dest) const {
    return attributesDiffer(source, dest) ||
           (source.kind == ekFile && source.statusAge() <= dest.statusAge());
}

// A chmod or chown in the source reaches the copy without copying its data again.
void TCopyFolder::alignFile(const TFileEntry& source, const TFileEntry& dest) {
    const bool ownerDiffers =
        runningAsRoot() && !sameOwner(*fSourceList, source.owner, *fDestList, dest.owner);
    applyAttributes(std::string(source.name), source.kind == ekLink ? 0 : source.mode,
                    ownerDiffers ? &fSourceList->ownerOf(source.owner) : nullptr);
}

// Deepest first, after everything was written: a folder the source keeps
// read-only must not refuse its own files, a new folder stays private (0700)
// until it gets its mode here, and a folder's time is final only once nothing
// more is written into it.
void TCopyFolder::alignFolders() {
    // Folders unlocked for the run take their mode first, so that a mode the
    // source changed meanwhile is the one that stays.
    std::string failed;
    if (const int err = fTree.restoreModes(failed); err != 0)
        noteAttributeFailure(err, fDestFolder + failed);
    // Only a mirror laid out below the source's own path may take the mode and
    // time of the source folder for its base: a content-only destination is the user's folder.
    const bool baseIsCopy =
        fDestFolder.size() > fSourceFolder.size() && fDestFolder.ends_with(fSourceFolder);
    const std::vector<TFolderEntry>& folders = fSourceList->folders();
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        const std::string& name = it->name;
        if (name.empty() ? !baseIsCopy : !fBlocked.empty() && isBlocked(withoutTrailingSlash(name)))
            continue;
        const TFolderEntry* dest = fDestList->findFolder(name);
        const bool modeDiffers =
            !dest || (it->mode & kPermissionBits) != (dest->mode & kPermissionBits);
        const bool ownerDiffers =
            runningAsRoot() &&
            (!dest || !sameOwner(*fSourceList, it->owner, *fDestList, dest->owner)) &&
            it->owner != kUnknownOwner;
        if (modeDiffers || ownerDiffers)
            applyAttributes(name, it->mode,
                            ownerDiffers ? &fSourceList->ownerOf(it->owner) : nullptr);
        if (!dest || it->ctimeNs >= dest->ctimeNs) alignXattrs(name, true);
        // Any file written, renamed or deleted in it moved its time.
        alignFolderTime(*it, dest);
    }
}

void TCopyFolder::alignXattrs(const std::string& name, bool folder) {
    TXattrs want;
    if (readXattrs(-1, concat(fSourceFolder, name).c_str(), want) != 0) return;
    const sys::UniqueFd fd(fTree.openEntry(name, O_RDONLY | (folder ? O_DIRECTORY : 0)));
    if (!fd.valid()) return;  // gone, or a dry run
    TXattrs have;
    if (readXattrs(fd.get(), nullptr, have) == 0 && have == want) return;
    beforeChange();
    if (const int err = writeXattrs(fd.get(), want); err != 0)
        noteXattrFailure(err, fDestFolder + name);
}

// A file system without extended attributes (FAT, some network shares)
// refuses every file alike: one line per run says so.
void TCopyFolder::noteXattrFailure(int err, const std::string& path) {
    if (fXattrsWarned) return;
    fXattrsWarned = true;
    const std::string type = fileSystemType(fDestFolder);
    addMessage("WARNUNG: das Dateisystem \"" + (type.empty() ? "?" : type) +
               "\" des Zielverzeichnisses nimmt erweiterte Attribute oder ACLs nicht an (\"" +
               path + "\": " + sys::errorText(err) +
               "); die Dateien werden ohne sie kopiert, weitere Fälle werden nicht gemeldet");
    ++fStatistics.fWarnings;
}

void TCopyFolder::alignFolderTime(const TFolderEntry& folder, const TFolderEntry* dest) {
    // The time the listing saw is the time to keep: giving it back after this
    // run's own probes changes nothing.
    if (!dest || dest->mtimeNs != folder.mtimeNs) beforeChange();
    const int err = fTree.setModified(folder.name, folder.mtimeNs);
    if (err != 0 && err != ENOENT) noteAttributeFailure(err, fDestFolder + folder.name);
}

// `mode` 0: leave the mode (a link). A changed owner may clear special bits,
// so the mode follows every chown.
void TCopyFolder::applyAttributes(const std::string& name, uint16_t mode, const TOwner* owner) {
    int err = owner ? fTree.setOwner(name, owner->uid, owner->gid) : 0;
    if (err == 0 && mode != 0) err = fTree.setMode(name, mode & kPermissionBits);
    const std::string path = fDestFolder + name;
    if (err == ENOENT) return;  // no copy there: all its files were left out
    if (err != 0) {
        noteAttributeFailure(err, path);
        return;
    }
    if (logLevel() > 3) addMessage("  Zugriffsrechte angeglichen: " + path);
}

// A file system without modes or owners (FAT, some network shares) refuses
// every file alike: one line per run says so.
void TCopyFolder::noteTimesFailure(int err, const std::string& path) {
    if (fTimesWarned) return;
    fTimesWarned = true;
    addMessage("WARNUNG: Dateizeiten lassen sich im Zielverzeichnis nicht setzen (\"" + path +
               "\": " + sys::errorText(err) +
               "); die Kopien tragen die Zeit des Kopierens, weitere Fälle werden nicht gemeldet");
    ++fStatistics.fWarnings;
}

void TCopyFolder::noteAttributeFailure(int err, const std::string& path) {
    if (fAttributesWarned) return;
    fAttributesWarned = true;
    addMessage(
        "WARNUNG: Zugriffsrechte oder Besitzer lassen sich im Zielverzeichnis nicht "
        "setzen (\"" +
        path + "\": " + sys::errorText(err) + "); weitere Fälle werden nicht gemeldet");
    ++fStatistics.fWarnings;
}

int TCopyFolder::createEmptyFolders() {
    addMessage("erzeuge leere Ordner im Zielverzeichnis...");
    std::vector<std::string> paths;
    const std::vector<TFileEntry>& entries = fSourceList->entries();
    for (size_t position = 0; position < entries.size(); ++position) {
        const TFileEntry& entry = entries[position];
        if (entry.kind != ekEmptyDir) continue;
        if (logLevel() > 3)
            addMessage(
                concat(" leeres QuellVerzeichnis " + std::to_string(position) + ": ", entry.name));
        for (size_t j = paths.size(); j-- > 0;) {
            if (entry.name.compare(0, paths[j].size(), paths[j]) == 0) {
                paths.erase(paths.begin() + static_cast<std::ptrdiff_t>(j));
                break;
            }
        }
        paths.emplace_back(entry.name);
    }
    int created = 0;
    for (const std::string& name : paths) {
        const std::string full = "/" + name;
        if (full.compare(0, fSourceFolder.size(), fSourceFolder) != 0) continue;
        const std::string rel = full.substr(fSourceFolder.size());
        const std::string target = fDestFolder + rel;
        if (logLevel() > 2) addMessage("  prüfe ZielVerzeichnis " + target);
        if (!rel.empty() && !fBlocked.empty() && isBlocked(withoutTrailingSlash(rel))) continue;
        if (fTree.folder(rel) >= 0) continue;
        bool made = false;
        if (fTree.makeFolder(rel, made) >= 0) {
            if (!made) continue;
            ++created;
            addMessage("    erzeuge " + target);
        } else {
            addMessage("  Fehler: konnte " + target + " nicht erzeugen!");
        }
    }
    return created;
}

}  // namespace qvb
