#include "engine/CopyFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unordered_set>

#include "engine/LogLevel.h"
#include "engine/NameMask.h"
#include "util/QV_Basics.h"
#include "util/QV_Utils.h"
#include "util/Sys.h"
#include "util/TextCase.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

// A deletion of more than this many files, and of more than half the
// destination, is asked for first.
constexpr int32_t kLargeDeletionFiles = 50;

bool isDir(const std::string& path) {
    struct stat st {};
    return sys::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates the folder with all missing parents; true when it exists afterwards.
bool forceDirectories(const std::string& path) {
    const std::string folder = excludeTrailingDelimiter(path);
    if (folder.empty()) return true;
    if (sys::mkdir(folder.c_str(), 0777) == 0) return true;
    if (errno == EEXIST) return isDir(folder);
    if (errno != ENOENT) return false;
    const std::string parent = extractFilePath(folder);
    if (parent.size() >= folder.size() || !forceDirectories(parent)) return false;
    return sys::mkdir(folder.c_str(), 0777) == 0 || (errno == EEXIST && isDir(folder));
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

bool isTempName(const std::string& name) {
    const std::string base = extractFileName(name);
    return base.compare(0, kTempFilePrefix.size(), kTempFilePrefix) == 0;
}

// Which destination entries have no source any more. Whatever lies below a
// source folder that could not be read may still exist there; a file that
// another source sharing the destination would list at the same place is that
// source's copy.
class TSurplusTest {
  public:
    TSurplusTest(const TFileList& source, const TCopyFolder& mirror, const std::string& ownSource)
        : fSource(source),
          fUnreadable(source.fUnreadableDirs.begin(), source.fUnreadableDirs.end()),
          fInclude(mirror.fIncludeOnly),
          fExclude(mirror.fExclude) {
        for (const std::string& folder : mirror.fSharedSources)
            if (folder != ownSource) fShared.push_back(folder);
    }

    bool operator()(const TFileEntry& entry) const {
        return entry.kind != ekEmptyDir && !fSource.find(entry.name) &&
               !belowUnreadable(entry.name) && !heldByShared(entry.name);
    }

  private:
    bool belowUnreadable(const std::string& name) const {
        if (fUnreadable.empty()) return false;
        for (size_t pos = name.find('/'); pos != std::string::npos; pos = name.find('/', pos + 1))
            if (fUnreadable.count(name.substr(0, pos + 1))) return true;
        return false;
    }

    // A place that cannot be looked at counts as held.
    bool heldByShared(const std::string& name) const {
        for (const std::string& folder : fShared) {
            struct stat st {};
            if (sys::lstat((folder + name).c_str(), &st) != 0) {
                if (errno == ENOENT || errno == ENOTDIR) continue;
                return true;
            }
            if (!S_ISDIR(st.st_mode) && listedByMasks(fInclude, fExclude, foldCase("/" + name)))
                return true;
        }
        return false;
    }

    const TFileList& fSource;
    const std::unordered_set<std::string> fUnreadable;
    const TNameMasks fInclude;
    const TNameMasks fExclude;
    std::vector<std::string> fShared;
};

}  // namespace

// Reaches folders below the destination folder one name at a time without
// following a link, so that a link planted in the destination never leads a
// deletion outside it. The last folder reached is kept open.
class TDirCursor {
  public:
    explicit TDirCursor(const std::string& base)
        : fBase(sys::open(base.c_str(), O_PATH | O_DIRECTORY)) {}

    // Deletes the file or link `name` (relative); 0, ENOENT when there is no
    // such file (a folder counts as none), or the errno of the failure.
    int removeFile(const std::string& name) {
        const int dir = folder(extractFilePath(name));
        if (dir < 0) return notThere(errno) ? ENOENT : errno;
        const std::string base = extractFileName(name);
        struct stat st {};
        if (sys::fstatat(dir, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return notThere(errno) ? ENOENT : errno;
        if (S_ISDIR(st.st_mode)) return ENOENT;
        return sys::unlinkat(dir, base.c_str(), 0) == 0 ? 0 : errno;
    }

    // Removes the empty folder `rel` ("a/b/"); false when it is not empty or gone.
    bool removeDir(const std::string& rel) {
        const std::string path = excludeTrailingDelimiter(rel);
        const int dir = folder(extractFilePath(path));
        if (dir < 0) return false;
        if (fRel.compare(0, rel.size(), rel) == 0) forget();
        return sys::unlinkat(dir, extractFileName(path).c_str(), AT_REMOVEDIR) == 0;
    }

  private:
    static bool notThere(int err) { return err == ENOENT || err == ENOTDIR || err == ELOOP; }

    void forget() {
        fFd.reset();
        fRel.clear();
    }

    // Descriptor of the relative folder ("" = the base), -1 with errno.
    int folder(const std::string& rel) {
        if (rel.empty()) return fBase.valid() ? fBase.get() : (errno = ENOENT, -1);
        if (fFd.valid() && rel == fRel) return fFd.get();
        forget();
        sys::UniqueFd current;
        int at = fBase.get();
        for (size_t begin = 0; begin < rel.size();) {
            const size_t end = rel.find('/', begin);
            const std::string name = rel.substr(begin, end - begin);
            current.reset(sys::openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW));
            if (!current.valid()) return -1;
            at = current.get();
            begin = end + 1;
        }
        fFd = std::move(current);
        fRel = rel;
        return fFd.get();
    }

    sys::UniqueFd fBase;
    sys::UniqueFd fFd;
    std::string fRel;
};

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
    if (!isDir(fSource)) {
        setStatus(csError);
        addMessage("FEHLER: das Quellverzeichnis existiert nicht!");
        return false;
    }
    if (!isDir(fDest) && !forceDirectories(fDest)) {
        setStatus(csError);
        addMessage("FEHLER:  kann Verzeichnis \"" + fDest + "\" nicht erstellen");
        return false;
    }
    return true;
}

bool TCopyFolder::Execute() {
    fStatistics.reset();
    fSourceList->Clear();
    fDestList->Clear();
    fSourceList->fTimeTolerance = fTimeTolerance;
    fSourceList->setSkipFolders(fSkipFolders);
    if (fStatus == csCancelled) return false;
    if (!checkFolders()) {
        doProgress();
        return false;
    }
    if (fStatus == csCancelled) {
        fStatusText = "TCopyFolder.Execute: Kopieraktion abgebrochen";
        addMessage(fStatusText);
        return false;
    }
    setStatus(csIdle);
    fSourceFolder = upToLastDelimiter(fSource);
    fDestFolder = upToLastDelimiter(fDest);

    // A scan that failed or a full destination copies nothing: the run must not
    // count as done.
    const bool sourceScanned = scanSource();
    bool ok = sourceScanned && scanDest();
    if (!ok) {
        ++fStatistics.fErrors;
        const TFileList& failed = sourceScanned ? *fDestList : *fSourceList;
        fStatusText = (sourceScanned ? "Zielverzeichnis \"" : "Quellverzeichnis \"") +
                      failed.fBaseDir + "\", " + failed.fErrorText;
    } else {
        setStatus(csRunning);
        if (!enoughSpace()) {
            ++fStatistics.fErrors;
            ok = false;
        } else {
            fDeletePass = fDelete && deletionWanted();
            if (!copyPhase(ok)) return false;
            setClosingText();
        }
    }
    addMessage(fStatusText);
    doProgress();
    return ok;
}

bool TCopyFolder::scanSource() {
    TFileList& list = *fSourceList;
    list.setBaseDir(fSourceFolder);
    fStatusText = "durchsuche Quellverzeichnis " + fSource + "...";
    addMessage(fStatusText);
    setProgressText(fStatusText);
    list.fExclude = fExclude;
    list.fIncludeOnly = fIncludeOnly;
    list.fListEmptyDirs = true;
    list.anchorSkipItems(fSourceFolder);
    // A destination inside the source must not be copied into itself.
    list.fExcludeDir = fDestFolder;
    const bool ok = list.scan();
    fStatistics.fSourceFiles = list.fFileCount;
    fStatistics.fSourceDirs = list.fDirCount;
    fStatistics.fSourceBytes = list.fTotalSize;
    fStatusText = fStatistics.sourceFoundText();
    addMessage("  " + fStatusText);
    logWarnings(list);
    setStatus(csIdle);
    return ok;
}

bool TCopyFolder::scanDest() {
    TFileList& list = *fDestList;
    fStatusText = "durchsuche Zielverzeichnis " + fDestFolder + "...";
    addMessage(fStatusText);
    setProgressText(fStatusText);
    list.setBaseDir(fDestFolder);
    list.fListEmptyDirs = true;
    list.setSkipFolders(fSkipFolders);
    // A folder skipped by its absolute source path keeps its backup.
    list.anchorSkipItems(fSourceFolder);
    list.fExclude.clear();
    list.fIncludeOnly.clear();
    list.fExcludeDirs = fProtectedDirs;
    const bool ok = list.scan();
    fStatistics.fDestFiles = list.fFileCount;
    fStatistics.fDestDirs = list.fDirCount;
    fStatistics.fDestBytes = list.fTotalSize;
    if (ok) removeTempLeftovers();
    fStatusText = fStatistics.destFoundText();
    addMessage("  " + fStatusText);
    logWarnings(list);
    return ok;
}

void TCopyFolder::logWarnings(const TFileList& list) {
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
        if (sys::unlink((fDestFolder + entry.name).c_str()) != 0) continue;
        --fStatistics.fDestFiles;
        fStatistics.fDestBytes -= entry.size;
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
    addMessage(text);
    addMessage(" ");
    setStatus(csError);
    userInterface().bringToFront();
    userInterface().showMessage(TMsgKind::Error, text, mbCancel, TMsgResult::Cancel, "Fehler");
    return false;
}

// Asked after both scans and before any file is copied, so that nobody waits
// through the copy for the question.
bool TCopyFolder::deletionWanted() {
    if (!sourceNotEmptied() || fHoldDeletion) return false;
    const int32_t doomed = countDoomed();
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
    const TSurplusTest surplus(*fSourceList, *this, fSourceFolder);
    int32_t doomed = 0;
    for (const TFileEntry& entry : fDestList->entries()) {
        if (entry.kind == ekEmptyDir) continue;
        const TFileEntry* source = fSourceList->find(entry.name);
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
    if (!fUnattended && userInterface().showMessage(TMsgKind::Confirmation, question, mbYes | mbNo,
                                                    TMsgResult::No) == TMsgResult::Yes)
        return true;
    addMessage("WARNUNG:  Im Zielverzeichnis \"" + fDestFolder + "\" wären " + counts +
               " gelöscht worden; das Löschen wird übersprungen.");
    ++fStatistics.fWarnings;
    return false;
}

bool TCopyFolder::copyPhase(bool& ok) {
    TCopyStatistics& st = fStatistics;
    addMessage("kopiere neue und geänderte Dateien...");
    st.fCurrent = 0;
    std::string lastFolder;
    bool tested = false;
    for (const TFileEntry& entry : fSourceList->entries()) {
        if (entry.kind == ekEmptyDir) continue;
        ++st.fCurrent;
        const TFileEntry* destEntry = fDestList->find(entry.name);
        if (logLevel() > 3) logTrace(entry, destEntry);
        const std::string target = fDestFolder + entry.name;
        const std::string folder = extractFilePath(target);
        if (!tested || folder != lastFolder) {
            ok = checkDestFolder(folder);
            lastFolder = folder;
            tested = true;
        } else {
            ok = true;
        }
        if (ok) {
            fCopier->fSource = fSourceFolder + entry.name;
            fCopier->fDest = target;
            fCopier->fTargetMissing = destEntry == nullptr;
            if (fStatus == csCancelled) return false;
            setStatus(csRunning);
            // A file that could not be copied must not leave a run that reads as a success.
            const auto copyCounted = [&](auto& done) {
                if (fCopier->Execute()) {
                    ++done;
                    return;
                }
                ++st.fNotCopied;
                if (fCopier->fStatus == csError) ++st.fErrors;
            };
            const std::optional<int64_t> destTime =
                destEntry ? std::optional<int64_t>(destEntry->mtimeNs) : std::nullopt;
            const int64_t destSize = destEntry ? destEntry->size : entry.size;
            switch (fSourceList->compare(entry, destTime, destSize)) {
                case 0:
                    ++st.fSkipped;
                    fCopier->fStatusText.clear();
                    break;
                case 1:
                    addMessage("  ersetze " + target);
                    copyCounted(st.fReplaced);
                    break;
                default:
                    addMessage("  erstelle " + target);
                    copyCounted(st.fAdded);
                    break;
            }
        }
        st.fCopiedBytes += fCopier->fBytesCopied;
        fCopier->fBytesCopied = 0;
        if (st.fSourceFiles > 0)
            fPercent = static_cast<int32_t>(int64_t{st.fCurrent} * 100 / st.fSourceFiles);
        doProgress();
        if (fStatus == csCancelled) {
            ok = false;
            break;
        }
        setStatus(csDone);
    }
    if (st.fAdded == 0 && st.fReplaced == 0) addMessage("  keine Dateien kopiert.");
    if (ok && fDeletePass) deleteSurplus();
    if (ok) {
        const int n = createEmptyFolders();
        addMessage(n <= 0   ? " keine leeren Verzeichnisse angelegt"
                   : n == 1 ? "1 leeres Verzeichnis angelegt"
                            : std::to_string(n) + " leere Verzeichnisse angelegt");
    }
    fPercent = 100;
    return true;
}

void TCopyFolder::logTrace(const TFileEntry& entry, const TFileEntry* destEntry) {
    const std::string destTime = destEntry ? traceTime(fDestList->valueOf(*destEntry)) : "";
    addMessage("bearbeite Datei " + std::to_string(fStatistics.fCurrent) + " (" + fSourceFolder +
               entry.name + " = " + traceTime(fSourceList->valueOf(entry)) + " -> " + fDestFolder +
               entry.name + " = " + destTime + ")");
}

// A link in the destination where the source has a folder would carry the
// copies out of the destination.
bool TCopyFolder::folderHidesLink(const std::string& folder) const {
    const std::string rel = folder.substr(fDestFolder.size());
    for (size_t pos = rel.find('/'); pos != std::string::npos; pos = rel.find('/', pos + 1)) {
        const TFileEntry* entry = fDestList->find(std::string_view(rel).substr(0, pos));
        if (entry && entry->kind == ekLink) return true;
    }
    return false;
}

bool TCopyFolder::checkDestFolder(const std::string& folder) {
    std::string error;
    if (folderHidesLink(folder)) {
        error = "FEHLER:  kann Verzeichnis \"" + folder + "\" nicht erstellen";
    } else if (!isDir(folder)) {
        if (forceDirectories(folder)) return true;  // a folder just made is writable
        error = isDirWritable(folder)
                    ? "FEHLER:  kann Verzeichnis \"" + folder + "\" nicht erstellen"
                    : "FEHLER: das Zielverzeichnis \"" + folder + "\" ist schreibgeschützt!";
    } else if (!isDirWritable(folder)) {
        error = "FEHLER: keine Schreibrechte im Zielverzeichnis \"" + folder + "\"!";
    } else {
        return true;
    }
    addMessage(error);
    setStatus(csError);
    ++fStatistics.fErrors;
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

int TCopyFolder::deleteSurplus() {
    TCopyStatistics& st = fStatistics;
    addMessage("lösche Dateien im Zielverzeichnis...");
    const TSurplusTest surplus(*fSourceList, *this, fSourceFolder);
    TDirCursor cursor(fDestFolder);
    std::vector<std::string> folders;
    const std::vector<TFileEntry>& entries = fDestList->entries();
    const int32_t count = static_cast<int32_t>(entries.size());
    const int32_t progressStep = std::max(1, count / 100);
    for (int32_t i = 1; i <= count; ++i) {
        st.fCurrent = i;
        const TFileEntry& entry = entries[static_cast<size_t>(i - 1)];
        if (surplus(entry)) {
            const int err = cursor.removeFile(entry.name);
            const std::string path = fDestFolder + entry.name;
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
        removeEmptiedFolders(folders, cursor);
    }
    fStatusText = entries.empty() ? "  keine zu löschenden Dateien vorhanden." : st.deletionText();
    addMessage(fStatusText);
    doProgress();
    return st.fDeleted;
}

// Climbs from each folder that lost a file towards the destination folder,
// removing what became empty; the destination folder itself always stays.
void TCopyFolder::removeEmptiedFolders(std::vector<std::string>& folders, TDirCursor& cursor) {
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        for (std::string rel = *it; !rel.empty();
             rel = extractFilePath(excludeTrailingDelimiter(rel))) {
            if (!cursor.removeDir(rel)) break;
            addMessage(" Verzeichnis  " + fDestFolder + rel + "  gelöscht");
            ++fStatistics.fDirsDeleted;
        }
        doProgress();
    }
}

int TCopyFolder::createEmptyFolders() {
    addMessage("erzeuge leere Ordner im Zielverzeichnis...");
    std::vector<std::string> paths;
    const std::vector<TFileEntry>& entries = fSourceList->entries();
    for (size_t position = 0; position < entries.size(); ++position) {
        const TFileEntry& entry = entries[position];
        if (entry.kind != ekEmptyDir) continue;
        if (logLevel() > 3)
            addMessage(" leeres QuellVerzeichnis " + std::to_string(position) + ": " + entry.name);
        for (size_t j = paths.size(); j-- > 0;) {
            if (entry.name.compare(0, paths[j].size(), paths[j]) == 0) {
                paths.erase(paths.begin() + static_cast<std::ptrdiff_t>(j));
                break;
            }
        }
        paths.push_back(entry.name);
    }
    int created = 0;
    for (const std::string& name : paths) {
        const std::string full = "/" + name;
        if (full.compare(0, fSourceFolder.size(), fSourceFolder) != 0) continue;
        const std::string target = fDestFolder + full.substr(fSourceFolder.size());
        if (logLevel() > 2) addMessage("  prüfe ZielVerzeichnis " + target);
        if (isDir(target)) continue;
        if (forceDirectories(target)) {
            ++created;
            addMessage("    erzeuge " + target);
        } else {
            addMessage("  Fehler: konnte " + target + " nicht erzeugen!");
        }
    }
    return created;
}

}  // namespace qvb
