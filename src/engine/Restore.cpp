#include "engine/Restore.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "engine/CopyFile.h"
#include "util/DateTime.h"
#include "util/QV_Basics.h"
#include "util/Sys.h"

namespace qvb {

namespace {

constexpr const char* kMarker = " (wiederhergestellt";

bool isCopyableKind(mode_t mode) {
    return S_ISREG(mode) || S_ISLNK(mode);
}

// The names of a folder, sorted so that a restore goes the same way each time;
// false with errno when the folder cannot be read.
bool listFolder(const std::string& folder, std::vector<std::string>& names) {
    sys::DirStream dir(sys::opendir(folder.c_str()));
    if (!dir.valid()) return false;
    errno = 0;
    while (const struct dirent* entry = sys::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    const int error = errno;
    std::sort(names.begin(), names.end());
    errno = error;
    return error == 0;
}

std::string joined(const std::string& folder, const std::string& name) {
    return includeTrailingDelimiter(folder) + name;
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string restoredName(const std::string& path, int round) {
    const std::string clean = withoutTrailingSlash(path);
    const size_t slash = clean.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = clean.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) dot = clean.size();
    const std::string marker =
        std::string(kMarker) + (round > 1 ? " " + std::to_string(round) : "") + ")";
    return clean.substr(0, dot) + marker + clean.substr(dot);
}

bool sameEntry(const struct stat& backup, const struct stat& target, const std::string& backupPath,
               const std::string& targetPath, int tolerance) {
    if ((backup.st_mode & S_IFMT) != (target.st_mode & S_IFMT)) return false;
    if (S_ISDIR(backup.st_mode)) return true;
    if (S_ISLNK(backup.st_mode)) {
        std::string a, b;
        return sys::readlink(backupPath.c_str(), a) >= 0 &&
               sys::readlink(targetPath.c_str(), b) >= 0 && a == b;
    }
    const int64_t apart = fileTimeNs(backup.st_mtim) - fileTimeNs(target.st_mtim);
    return backup.st_size == target.st_size &&
           std::llabs(apart) <= static_cast<int64_t>(tolerance) * 1000000000;
}

TRestore::TRestore() : fCopier(std::make_unique<TCopyFile>()) {
    setName("TRestore");
    fCopier->setName("fCopier");
    setPassTo(fCopier.get());
}

TRestore::~TRestore() = default;

bool TRestore::Execute() {
    fStatistics.reset();
    fFiles = fDone = fRestored = fReplaced = fKeptBoth = fConflictsSkipped = fUnchanged = 0;
    fPercent = 0;
    if (cancelled()) return false;
    setStatus(csRunning);
    for (const TRestoreItem& item : fItems) count(item.from);
    for (const TRestoreItem& item : fItems) {
        if (cancelled()) break;
        restoreEntry(withoutTrailingSlash(item.from), withoutTrailingSlash(item.to));
    }
    const bool wasCancelled = cancelled();
    // The copier ends each file with a status of its own.
    fCopier->setStatus(csIdle);
    if (wasCancelled) {
        fStatus = csCancelled;
        return false;
    }
    setStatus(fStatistics.fErrors > 0 ? csError : csDone);
    fPercent = 100;
    doProgress();
    return fStatistics.fErrors == 0;
}

std::vector<std::string> TRestore::summaryLines() const {
    std::vector<std::string> lines{"  " + std::to_string(fRestored) + " wiederhergestellt, " +
                                   std::to_string(fReplaced) + " ersetzt, " +
                                   std::to_string(fKeptBoth) + " neben vorhandenen Dateien, " +
                                   std::to_string(fConflictsSkipped) + " übersprungen, " +
                                   std::to_string(fUnchanged) + " unverändert"};
    if (fStatistics.fWarnings > 0)
        lines.push_back("  Warnungen: " + std::to_string(fStatistics.fWarnings));
    if (fStatistics.fErrors > 0)
        lines.push_back("  Fehler: " + std::to_string(fStatistics.fErrors));
    return lines;
}

void TRestore::count(const std::string& from) {
    struct stat st {};
    if (sys::lstat(from.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        if (isCopyableKind(st.st_mode)) ++fFiles;
        return;
    }
    std::vector<std::string> names;
    listFolder(from, names);
    for (const std::string& name : names) count(joined(from, name));
}

void TRestore::restoreEntry(const std::string& from, const std::string& to) {
    struct stat st {};
    if (sys::lstat(from.c_str(), &st) != 0) {
        fail("FEHLER:  \"" + from + "\" kann nicht gelesen werden: " + sys::errorText(errno));
        return;
    }
    if (S_ISDIR(st.st_mode))
        restoreFolder(from, to, st);
    else if (isCopyableKind(st.st_mode))
        restoreFile(from, to, st);
    else
        warn("WARNUNG:  \"" + from +
             "\" ist weder Datei noch Verzeichnis noch Link und wird übersprungen.");
}

void TRestore::restoreFolder(const std::string& from, const std::string& to,
                             const struct stat& st) {
    std::string target = to;
    struct stat there {};
    bool created = false;
    if (sys::lstat(to.c_str(), &there) == 0 && !S_ISDIR(there.st_mode)) {
        const TConflictAnswer answer = fOnConflict ? fOnConflict(from, to) : TConflictAnswer::Skip;
        if (answer != TConflictAnswer::KeepBoth) {
            ++fConflictsSkipped;
            warn("WARNUNG:  \"" + to + "\" ist kein Verzeichnis; \"" + from +
                 "\" wird nicht wiederhergestellt.");
            return;
        }
        target = besideName(to);
    }
    if (sys::lstat(target.c_str(), &there) != 0) {
        created = true;
        if (!fPreview && sys::mkdir(target.c_str(), 0700) != 0) {
            fail("FEHLER:  Das Verzeichnis \"" + target +
                 "\" kann nicht erstellt werden: " + sys::errorText(errno));
            return;
        }
    }
    std::vector<std::string> names;
    if (!listFolder(from, names))
        fail("FEHLER:  Das Verzeichnis \"" + from +
             "\" kann nicht gelesen werden: " + sys::errorText(errno));
    for (const std::string& name : names) {
        if (cancelled()) return;
        restoreEntry(joined(from, name), joined(target, name));
    }
    // A folder the user already has keeps its own mode and times; one made
    // here gets those of the backup, once its contents no longer change it.
    if (!created || fPreview) return;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (sys::chmod(target.c_str(), st.st_mode & 07777) != 0 ||
        sys::utimensat(AT_FDCWD, target.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        warn("WARNUNG:  Rechte oder Zeit des Verzeichnisses \"" + target +
             "\" können nicht gesetzt werden: " + sys::errorText(errno));
}

void TRestore::restoreFile(const std::string& from, const std::string& to, const struct stat& st) {
    struct stat there {};
    if (sys::lstat(to.c_str(), &there) != 0) {
        if (copy(from, to)) {
            ++fRestored;
            addMessage("  wiederhergestellt: " + to);
        }
        stepDone();
        return;
    }
    if (sameEntry(st, there, from, to, fTimeTolerance)) {
        ++fUnchanged;
        stepDone();
        return;
    }
    const TConflictAnswer answer = fOnConflict ? fOnConflict(from, to) : TConflictAnswer::Skip;
    if (cancelled()) return;
    if (answer == TConflictAnswer::KeepBoth) {
        const std::string beside = besideName(to);
        if (copy(from, beside)) {
            ++fKeptBoth;
            addMessage("  neben der vorhandenen Datei wiederhergestellt: " + beside);
        }
    } else if (answer == TConflictAnswer::Replace && !S_ISDIR(there.st_mode)) {
        if (copy(from, to)) {
            ++fReplaced;
            addMessage("  ersetzt: " + to);
        }
    } else {
        ++fConflictsSkipped;
        warn("WARNUNG:  \"" + to + "\" ist vorhanden und weicht ab; übersprungen.");
    }
    stepDone();
}

bool TRestore::copy(const std::string& from, const std::string& to) {
    if (fPreview) return true;
    TCopyFile& copier = *fCopier;
    copier.fSource = from;
    copier.fDest = to;
    const bool ok = copier.Execute();
    for (const std::string& line : copier.takeMessages()) fMessages.push_back(line);
    if (!ok && !cancelled()) fail("FEHLER:  \"" + from + "\" wurde nicht wiederhergestellt.");
    return ok;
}

std::string TRestore::besideName(const std::string& to) const {
    struct stat st {};
    for (int round = 1;; ++round) {
        const std::string name = restoredName(to, round);
        if (sys::lstat(name.c_str(), &st) != 0) return name;
    }
}

void TRestore::fail(const std::string& line) {
    ++fStatistics.fErrors;
    addMessage(line);
}

void TRestore::warn(const std::string& line) {
    ++fStatistics.fWarnings;
    addMessage(line);
}

void TRestore::stepDone() {
    ++fDone;
    fPercent = fFiles > 0 ? static_cast<int32_t>(int64_t{fDone} * 100 / fFiles) : 100;
    setProgressText(" stelle Datei " + std::to_string(fDone) + " von " + std::to_string(fFiles) +
                    " wieder her...");
    doProgress();
}

}  // namespace qvb
