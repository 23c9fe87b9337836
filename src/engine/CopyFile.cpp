#include "engine/CopyFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "engine/DestTree.h"
#include "engine/SparseCopy.h"
#include "engine/Xattrs.h"
#include "util/QV_Basics.h"
#include "util/QV_Utils.h"
#include "util/UserInterface.h"

namespace qvb {

// Where the target lies: a name relative to a folder descriptor that the
// caller reached without following a link, or, for a caller without one, the
// path itself (relative to the working folder).
struct TTargetPlace {
    int dir = AT_FDCWD;
    std::string prefix;  // put before a name in that folder: "" or the folder's path
    std::string base;    // the target's own name
    std::string path;    // the whole target path, for messages

    std::string at(const std::string& name) const { return prefix + name; }
    std::string target() const { return at(base); }
    const char* folder() const { return prefix.empty() ? "." : prefix.c_str(); }
    bool exists(const std::string& name) const {
        struct stat st {};
        return sys::fstatat(dir, at(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    }
};

namespace {

using TPlace = TTargetPlace;

constexpr int64_t kMinStep = 1 << 20;  // bytes moved between two cancel checks, at least
constexpr size_t kBufferSize = 1 << 20;
constexpr int kWaitStepMs = 500;
// Copies more of a file that changed while it was copied, at most.
constexpr int kRecopies = 2;
// Stands for "the destination cannot store this name" where an errno would go.
constexpr int kUnstorableName = -1;

struct TMethod {
    bool (TCopyFile::*run)(const std::string&, const std::string&);
    const char* text;
};

const std::array<TMethod, 5> kMethods = {{
    {&TCopyFile::copyWithBlockWrite, ". Versuch: Kopiermethode \"BlockWrite\"... "},
    {&TCopyFile::copyWithXCopy, ". Versuch: Kopiermethode \"XCopy\"... "},
    {&TCopyFile::copyWithCopyFile, ". Versuch: Kopiermethode \"CopyFile\"... "},
    {&TCopyFile::copyWithRobocopy, ". Versuch: Kopiermethode \"RoboCopy\"... "},
    {&TCopyFile::copyWithDosCopy, ". Versuch: Kopiermethode \"DOSCopy\"... "},
}};

// Stands for "the permissions the new file got are not known" where a mode goes.
constexpr mode_t kModeUnknown = ~mode_t{0};

mode_t processUmask() {
    static const mode_t mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return mask;
}

// The mode a new copy is created with: the source's permission bits when the
// umask leaves them as they are, which spares a chmod per file. Special bits
// (setuid, setgid, sticky) are set only after the owner, so they start at 0600.
mode_t creationMode(const struct stat& st) {
    const mode_t perms = st.st_mode & 0777;
    if ((st.st_mode & 07000) == 0 && (perms & ~processUmask()) == perms) return perms;
    return 0600;
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return sys::lstat(path.c_str(), &st) == 0;
}

constexpr int kSourceFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

// Opens without following a link and without blocking on a FIFO; a link is
// described by lstat instead. `noAtime`: reading leaves the access time as it
// is, where this user may ask for that.
void openSource(const std::string& path, TCopyFile::TSource& src, bool noAtime = false) {
    src.fd.reset(sys::open(path.c_str(), kSourceFlags | (noAtime ? O_NOATIME : 0)));
    if (noAtime && !src.fd.valid() && errno == EPERM)
        src.fd.reset(sys::open(path.c_str(), kSourceFlags));
    if (src.fd.valid()) {
        src.err = sys::fstat(src.fd.get(), &src.st) == 0 ? 0 : errno;
        return;
    }
    src.err = errno;
    if (src.err == ELOOP && sys::lstat(path.c_str(), &src.st) == 0 && S_ISLNK(src.st.st_mode))
        src.err = 0;
}

// Files up to this size that a listing saw are opened without a look at their
// status: the look after the copy tells all there is, and a file found to have
// holes then is copied once more the sparse way, which costs little at this
// size. A larger file is looked at first, its copy dwarfs the call.
constexpr int64_t kListedCopyMax = 1 << 20;

uid_t effectiveUser() {
    static const uid_t uid = ::geteuid();
    return uid;
}

// The owner and root may read a file without changing its access time, which
// a backup should leave as it was.
bool readsWithoutAtime(const TListedStatus& listed) {
    return runningAsRoot() || (listed.known && listed.uid == effectiveUser());
}

// Reading the source must leave the access time the copy takes from the look after it.
bool opensAsListed(const TListedStatus& listed) {
    return listed.known && S_ISREG(listed.mode) && listed.size >= 0 &&
           listed.size <= kListedCopyMax && readsWithoutAtime(listed);
}

struct timespec timeOfNs(int64_t ns) {
    constexpr int64_t kPerSecond = 1'000'000'000;
    int64_t seconds = ns / kPerSecond;
    int64_t nanos = ns % kPerSecond;
    if (nanos < 0) {
        nanos += kPerSecond;
        --seconds;
    }
    return {static_cast<time_t>(seconds), static_cast<long>(nanos)};
}

// Opens a source as the listing saw it, without a look at its status; every
// failure (a link now, gone, refused) is left to the plain way to tell.
void openListed(const std::string& path, int dir, const TListedStatus& listed,
                TCopyFile::TSource& src) {
    src.fd.reset(dir == AT_FDCWD
                     ? sys::open(path.c_str(), kSourceFlags | O_NOATIME)
                     : sys::openat(dir, extractFileName(path).c_str(), kSourceFlags | O_NOATIME));
    if (!src.fd.valid()) {
        openSource(path, src);
        return;
    }
    src.st = {};
    src.st.st_mode = S_IFREG | (listed.mode & 07777);
    src.st.st_size = listed.size;
    src.st.st_blocks = (listed.size + 511) / 512;  // holes show in the look after the copy
    src.st.st_mtim = timeOfNs(listed.mtimeNs);
    src.st.st_uid = listed.uid;
    src.listed = true;
}

bool isCopyable(const struct stat& st) {
    return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode);
}

// Errors after which copy_file_range cannot be used for this pair of files,
// while read/write still can.
bool rangeCopyUnsupported(int err) {
    return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EBADF ||
           err == ETXTBSY || err == EPERM;
}

// A program's argument for a path: a relative path gets "./" so that no
// program takes it for a host name or a URI.
std::string pathArgument(const std::string& path) {
    return !path.empty() && path[0] == '/' ? path : "./" + path;
}

// The folder of the running program, with a trailing "/".
std::string programFolder() {
    std::string exe;
    if (sys::readlink("/proc/self/exe", exe) <= 0) return {};
    return extractFilePath(exe);
}

std::string hex(unsigned long value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lx", value);
    return buf;
}

// A temporary name that no other file has yet, recognisable as ours.
std::string nextTempName() {
    static std::atomic<unsigned long> counter{0};
    static const std::string processPart = hex(static_cast<unsigned long>(::getpid())) + "-";
    return std::string(kTempFilePrefix) + processPart + hex(++counter);
}

// Gives a new object a temporary name in the place's folder: `make` is tried
// with fresh names until one is free; the name, or empty with errno set.
template <class Make>
std::string underTempName(const TPlace& place, Make make) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = nextTempName();
        if (make(place.at(candidate)) == 0) return candidate;
        if (errno != EEXIST) return {};
    }
    return {};
}

// The temporary file of one copy: removed again unless it was committed.
// A copy that will get a new name is written as an unnamed file (O_TMPFILE)
// that appears under its name, complete, in one step and leaves nothing
// behind when the copy fails or the program dies. A copy that replaces a
// file, or goes to a file system without unnamed files, is written under a
// temporary name and renamed over the target.
class TTempFile {
  public:
    explicit TTempFile(const TTargetPlace& place) : fPlace(place) {}
    ~TTempFile() {
        fd.reset();
        if (!fName.empty()) sys::unlinkat(fPlace.dir, fPlace.at(fName).c_str(), 0);
    }
    // Creates the file; false with errno set.
    bool create(bool knownMissing, mode_t mode) {
        if (sys::canLinkOpenFiles() && (knownMissing || !fPlace.exists(fPlace.base))) {
            fd.reset(sys::openat(fPlace.dir, fPlace.folder(), O_WRONLY | O_TMPFILE, mode));
            if (fd.valid()) return true;
        }
        fName = underTempName(fPlace, [&](const std::string& name) {
            fd.reset(sys::openat(fPlace.dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW,
                                 mode));
            return fd.valid() ? 0 : -1;
        });
        return !fName.empty();
    }
    // Moves the finished file to the target; 0 or the errno.
    int commit() {
        if (fName.empty()) {
            if (sys::linkOpenFileAt(fd.get(), fPlace.dir, fPlace.target().c_str()) == 0)
                return fd.reset() != 0 ? errno : 0;
            // The target appeared meanwhile: replace it the named way.
            if (errno != EEXIST) return errno;
            fName = underTempName(fPlace, [&](const std::string& name) {
                return sys::linkOpenFileAt(fd.get(), fPlace.dir, name.c_str());
            });
            if (fName.empty()) return errno;
        }
        if (fd.reset() != 0) return errno;
        if (sys::renameat(fPlace.dir, fPlace.at(fName).c_str(), fPlace.dir,
                          fPlace.target().c_str()) != 0)
            return errno;
        fName.clear();
        return 0;
    }

    sys::UniqueFd fd;

  private:
    const TPlace& fPlace;
    std::string fName;
};

// A file system that refuses to set a file's times (some FAT and network
// mounts) rather than failing to write it.
bool timesRefused(int err) {
    return err == EPERM || err == EACCES || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL;
}

// Failures of the destination that no other copy method can get round.
bool hopelessForOthers(int err) {
    return err == EACCES || err == EPERM || err == EROFS || err == ENOSPC || err == EDQUOT ||
           err == ENAMETOOLONG || err == kUnstorableName;
}

// Failures of the source that no copy program overcomes: it reads the same
// file as the same user.
bool sourceHopeless(int err) {
    return err == EACCES || err == EPERM || err == ENOENT;
}

std::string causeText(int err) {
    return err == kUnstorableName ? "Der Name kann im Zielverzeichnis nicht gespeichert werden"
                                  : sys::errorText(err);
}

bool onReadOnlyFileSystem(const std::string& path) {
    struct statvfs st {};
    return sys::statvfs(extractFilePath(path).c_str(), &st) == 0 && (st.f_flag & ST_RDONLY) != 0;
}

// What a failure of the destination really means: a file system remounted
// read-only shows as a bad descriptor or an I/O error.
int destinationCause(int err, const std::string& target) {
    return (err == EBADF || err == EIO) && onReadOnlyFileSystem(target) ? EROFS : err;
}

// The file's size or time differ from `before`: read through the descriptor
// the copy read from, or by name for a link; a file gone since counts as
// unchanged (its copy is all there is).
bool changedSince(const TCopyFile::TSource& source, const std::string& path,
                  const struct stat& before) {
    struct stat now = source.st;
    const int got = source.settled      ? 0
                    : source.fd.valid() ? sys::fstat(source.fd.get(), &now)
                                        : sys::lstat(path.c_str(), &now);
    if (got != 0) return false;
    return now.st_size != before.st_size || now.st_mtim.tv_sec != before.st_mtim.tv_sec ||
           now.st_mtim.tv_nsec != before.st_mtim.tv_nsec;
}

// A file system that cannot store a name (":" on FAT) refuses it with one of
// these while the folder takes the temporary name; a target that exists has a
// name it can store.
bool nameRefused(int err, const TTargetPlace& place) {
    return (err == EPERM || err == EACCES || err == ENOENT || err == EINVAL) &&
           !place.exists(place.base);
}

}  // namespace

// Gives the written copy the source's owner (as root), mode and times;
// 0 or the errno of a failure that spoils the copy. A file system that
// refuses owners, modes or times still gets the whole copy; fAttributeError
// and fTimesError tell why. Both times are set: FAT drivers through FUSE
// ignore a modification time that comes without the access time.
int TCopyFile::applyAttributes(int fd, const struct stat& st, mode_t createdMode,
                               TFolderLore& folder) {
    mode_t mode = st.st_mode & 07777;
    if (runningAsRoot()) {
        struct stat created {};
        if (!folder.ownerKnown && sys::fstat(fd, &created) == 0) {
            folder.uid = created.st_uid;
            folder.gid = created.st_gid;
            folder.ownerKnown = true;
        }
        const bool owned = folder.ownerKnown && folder.uid == st.st_uid && folder.gid == st.st_gid;
        if (!owned && sys::fchown(fd, st.st_uid, st.st_gid) != 0) {
            fAttributeError = errno;
            mode &= 0777;  // never a setuid copy that belongs to the wrong user
        }
    }
    if (mode != createdMode && sys::fchmod(fd, mode) != 0 && fAttributeError == 0)
        fAttributeError = errno;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (sys::futimens(fd, times) != 0) {
        if (!timesRefused(errno)) return errno;
        fTimesError = errno;
    }
    return 0;
}

int64_t fileSize64(const std::string& path) {
    struct stat st {};
    if (sys::lstat(path.c_str(), &st) != 0) return -1;
    return st.st_size;
}

TCopyFile::TCopyFile() {
    // Asking for the umask changes it for a moment: learnt here, before any
    // copier works on another thread.
    processUmask();
    setStatus(csIdle);
    setName("TCopyFile");
}

bool TCopyFile::Execute() {
    // The hint and the folder speak of this call's target only.
    const struct ClearHint {
        TCopyFile& copier;
        ~ClearHint() {
            copier.fTargetMissing = false;
            copier.fListed = TListedStatus{};
            copier.fSourceDir = AT_FDCWD;
            copier.fDestDir = AT_FDCWD;
            copier.fOpened = TSource{};
        }
    } clearHint{*this};
    fBytesCopied = 0;
    fPercent = 0;
    fAttributeError = 0;
    fTimesError = 0;
    fXattrError = 0;
    if (fStatus == csCancelled) return false;
    fStatusText = "kopiere " + fSource + "...";
    setStatus(csIdle);
    const std::string target =
        extractFileName(fDest).empty() ? fDest + extractFileName(fSource) : fDest;
    if (fSource.empty()) {
        addMessage("FEHLER: die Quelldatei ist nicht angegeben!");
        setStatus(csError);
        return false;
    }
    if (!openCopyableSource()) return false;
    fDestTarget = target;
    // A file written to while it was copied would keep a copy that looks
    // current: it is copied again, and a copy still behind is marked so that
    // the next run replaces it.
    for (int round = 0;; ++round) {
        const struct stat read = fOpened.st;
        if (!copyWithMethods(target)) return false;
        if (fSource == target || !changedSince(fOpened, fSource, read)) break;
        if (round == kRecopies) {
            leaveStale(target);
            return true;
        }
        fOpened = TSource{};
        openSource(fSource, fOpened, readsWithoutAtime(fListed));
        if (fOpened.err != 0 || !isCopyable(fOpened.st)) break;  // the copy made stays
    }
    setStatus(csDone);
    return true;
}

bool TCopyFile::openCopyableSource() {
    fOpened = TSource{};
    fOpenedPath = fSource;
    if (opensAsListed(fListed))
        openListed(fSource, fSourceDir, fListed, fOpened);
    else
        openSource(fSource, fOpened, readsWithoutAtime(fListed));
    if (fOpened.err == ENOENT || fOpened.err == ENOTDIR) {
        // Deleted since it was listed: nothing is lost, nothing to copy.
        addMessage("WARNUNG:  Die Quelldatei \"" + fSource + "\" ist nicht mehr vorhanden.");
        setStatus(csWarnings);
        return false;
    }
    if (fOpened.err != 0 && sourceHopeless(fOpened.err)) {
        // Every copy program reads it as the same user: one line is all there is to say.
        addMessage("FEHLER:  Die Quelldatei \"" + fSource +
                   "\" kann nicht gelesen werden: " + sys::errorText(fOpened.err));
        setStatus(csError);
        return false;
    }
    if (fOpened.err == 0 && !isCopyable(fOpened.st)) {
        // A FIFO, socket, device or folder: any copy program would block on it or copy nonsense.
        addMessage("FEHLER: die Quelldatei ist keine normale Datei!");
        setStatus(csError);
        return false;
    }
    return true;
}

// One pass through the methods; false after a cancel or when none succeeded.
bool TCopyFile::copyWithMethods(const std::string& target) {
    bool copied = false;
    int attempt = 0;
    fHopeless = false;
    // The copy programs would write into the same folder of the same file
    // system: after a failure of the destination itself they are not tried.
    for (size_t index = fFirstMethod; index < kMethods.size() && !copied && !fHopeless; ++index) {
        if (++attempt > 1) addMessage("  " + std::to_string(attempt) + kMethods[index].text);
        copied = (this->*kMethods[index].run)(fSource, target);
        letEventsRun();
        if (fStatus == csCancelled) return false;
    }
    if (!copied) {
        addMessage("ERROR:  Kopieren fehlgeschlagen !");
        setStatus(csError);
    }
    return copied;
}

// The copy keeps a time long past, which every later run takes for older than its source.
void TCopyFile::leaveStale(const std::string& target) {
    const TTargetPlace place = placeOf(target);
    const struct timespec times[2] = {{0, 0}, {0, 0}};
    sys::utimensat(place.dir, place.target().c_str(), times, AT_SYMLINK_NOFOLLOW);
    addMessage("WARNUNG:  Die Quelldatei \"" + fSource +
               "\" hat sich während des Kopierens laufend geändert; die Kopie wird beim "
               "nächsten Lauf erneuert.");
    setStatus(csWarnings);
}

TTargetPlace TCopyFile::placeOf(const std::string& target) const {
    if (fDestDir != AT_FDCWD && target == fDestTarget)
        return {fDestDir, {}, extractFileName(target), target};
    return {AT_FDCWD, extractFilePath(target), extractFileName(target), target};
}

void TCopyFile::reportBlockWriteError(int err, bool destination, const std::string& path) {
    if (destination) err = destinationCause(err, path);
    if (destination ? hopelessForOthers(err) : sourceHopeless(err)) fHopeless = true;
    addMessage("TCopyFile.copyWithBlockWrite: Fehler = \"" + causeText(err) + "\" bei \"" + path +
               "\"");
}

bool TCopyFile::copyWithBlockWrite(const std::string& source, const std::string& target) {
    fBytesCopied = 0;
    if (source == target) {
        addMessage("FEHLER:  kann Datei nicht auf sich selbst kopieren");
        return false;
    }
    TSource local;
    TSource* src = &fOpened;
    if (source != fOpenedPath || (!fOpened.fd.valid() && !fOpened.isLink())) {
        openSource(source, local);
        src = &local;
    }
    if (src->err != 0) {
        reportBlockWriteError(src->err, false, source);
        return false;
    }
    if (src->isLink()) return copyLink(source, src->st, placeOf(target));
    if (!S_ISREG(src->st.st_mode)) {
        addMessage("FEHLER: die Quelldatei ist keine normale Datei!");
        return false;
    }
    return copyRegularFile(source, *src, placeOf(target));
}

bool TCopyFile::copyRegularFile(const std::string& source, TSource& src,
                                const TTargetPlace& place) {
    TTempFile temp(place);
    const mode_t createdMode = creationMode(src.st);
    if (!temp.create(fTargetMissing, createdMode)) {
        reportBlockWriteError(errno, true, place.path);
        return false;
    }
    const int sourceFd = src.fd.get();
    int err = moveData(sourceFd, temp.fd.get(), src.st, src.listed);
    if (err == ECANCELED) {
        fPercent = 0;
        doProgress();
        return false;
    }
    // The copy keeps the time of the status it started from: should the source
    // have changed meanwhile and its next copy fail, the next run still sees
    // the difference.
    const struct timespec startTime = src.st.st_mtim;
    if (err == 0 && src.listed) {
        if (!settleListed(source, src)) return false;
        if (mayHaveHoles(src.st)) {
            // The plain copy filled the holes: once more, the sparse way, and
            // a look after that one tells whether the file changed meanwhile.
            src.settled = false;
            fBytesCopied = 0;
            return copyRegularFile(source, src, place);
        }
    }
    struct stat st = src.st;
    st.st_mtim = startTime;
    const bool written = err == 0;
    // A folder that hands an ACL down gives a new file permissions of its own.
    bool handsDown = false;
    if (written) {
        TFolderLore& folder = folderOf(place.path);
        handsDown = folder.handsDown;
        err = applyAttributes(temp.fd.get(), st, handsDown ? kModeUnknown : createdMode, folder);
    }
    if (written && err == 0) copyXattrs(sourceFd, temp.fd.get(), !handsDown);
    if (err == 0 && (err = temp.commit()) != 0 && nameRefused(err, place)) err = kUnstorableName;
    if (written && (err == EPERM || err == EACCES || err == EROFS)) {
        fHopeless = true;
        addMessage("FEHLER:  Zieldatei ist schreibgeschützt: \"" + place.path + "\"");
        return false;
    }
    if (err != 0) {
        // A read error is the source's; a write error is the destination's.
        const bool destination =
            written || err == ENOSPC || err == EDQUOT || err == EROFS || err == EFBIG;
        reportBlockWriteError(err, destination, destination ? place.path : source);
        return false;
    }
    // A FUSE driver may give the file the time of its last write when it is
    // closed (fusefat): the times are set once more on the file in place.
    if (fTimesAfterCommit) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (sys::utimensat(place.dir, place.target().c_str(), times, AT_SYMLINK_NOFOLLOW) != 0 &&
            fTimesError == 0)
            fTimesError = errno;
    }
    fPercent = 100;
    doProgress();
    return true;
}

// After owner and mode: a chown clears file capabilities, a chmod changes an ACL's mask.
// A `bare` copy holds no attributes yet, so nothing needs reading from it.
void TCopyFile::copyXattrs(int in, int out, bool bare) {
    TXattrs attrs;
    int err = readXattrs(in, nullptr, attrs);
    if (err == 0) err = writeXattrs(out, attrs, bare);
    if (err != 0) fXattrError = err;
}

// Asked once for all copies into one folder, not for each.
TCopyFile::TFolderLore& TCopyFile::folderOf(const std::string& target) {
    std::string folder = extractFilePath(target);
    if (folder.empty()) folder = "./";
    if (folder != fFolder.path) {
        fFolder = TFolderLore{};
        fFolder.handsDown = handsDownXattrs(folder.c_str());
        fFolder.path = std::move(folder);
    }
    return fFolder;
}

bool TCopyFile::settleListed(const std::string& source, TSource& src) {
    struct stat now {};
    if (sys::fstat(src.fd.get(), &now) != 0) {
        reportBlockWriteError(errno, false, source);
        return false;
    }
    src.listed = false;
    if (!S_ISREG(now.st_mode)) {
        // Swapped for a FIFO or device since it was listed: what was read is no copy.
        addMessage("FEHLER: die Quelldatei ist keine normale Datei!");
        fHopeless = true;
        return false;
    }
    src.st = now;
    src.settled = true;
    return true;
}

// A listed status bounds the copy by the size the listing saw: a source that
// grew since, or is no regular file any more, is told by the look after it.
int TCopyFile::moveData(int in, int out, const struct stat& st, bool bounded) {
    fLastPercent = 0;
    return mayHaveHoles(st) ? moveSparse(in, out, st.st_size)
                            : moveStretch(in, out, 0, bounded ? st.st_size : -1, st.st_size);
}

// Only the data is written; the holes between stay unallocated, and the
// length set at the end gives the copy its trailing hole.
int TCopyFile::moveSparse(int in, int out, int64_t size) {
    TDataStretch data;
    for (int64_t offset = 0;; offset = data.end) {
        const int found = nextDataStretch(in, offset, size, data);
        if (found == ENXIO) break;
        if (found != 0) return found;
        if (sys::lseek(in, data.start, SEEK_SET) < 0 || sys::lseek(out, data.start, SEEK_SET) < 0)
            return errno;
        if (const int err = moveStretch(in, out, data.start, data.end, size); err != 0) return err;
    }
    return sys::ftruncate(out, size) == 0 ? 0 : errno;
}

int TCopyFile::moveStretch(int in, int out, int64_t offset, int64_t end, int64_t size) {
    const int64_t step = std::max(kMinStep, size / 100 + 1);
    bool useRange = true;
    for (;;) {
        const int64_t count = end < 0 ? step : std::min(step, end - offset);
        if (count == 0) return 0;
        ssize_t moved = useRange ? sys::copyFileRange(in, out, static_cast<size_t>(count)) : 0;
        if (!useRange || (moved < 0 && rangeCopyUnsupported(errno)) ||
            (moved == 0 && offset < size)) {
            // Some file systems refuse the range copy or report a short file:
            // plain reads decide then.
            useRange = false;
            const size_t chunk = std::min(kBufferSize, static_cast<size_t>(count));
            if (const int err = readWriteStep(in, out, chunk, moved); err != 0) return err;
        } else if (moved < 0) {
            return errno;
        }
        if (moved == 0) return 0;
        fBytesCopied += moved;
        offset += moved;
        if (size > 0) {
            const auto percent = static_cast<int32_t>(std::min<int64_t>(100, offset * 100 / size));
            if (percent != fLastPercent) {
                fLastPercent = fPercent = percent;
                doProgress();
            }
        }
        if (fStatus == csCancelled) return ECANCELED;
        // The size taken at opening is reached: spare the call that would only
        // report the end. A file that grew meanwhile has a newer time than the
        // one the copy gets, so the next run copies it again.
        if (useRange && end < 0 && size > 0 && offset == size) return 0;
    }
}

int TCopyFile::readWriteStep(int in, int out, size_t count, ssize_t& moved) {
    if (fBuffer.size() < count) fBuffer.resize(count);
    moved = sys::read(in, fBuffer.data(), count);
    if (moved < 0) return errno;
    for (ssize_t done = 0; done < moved;) {
        const ssize_t n = sys::write(out, fBuffer.data() + done, static_cast<size_t>(moved - done));
        if (n < 0) return errno;
        if (n == 0) return ENOSPC;
        done += n;
    }
    return 0;
}

bool TCopyFile::copyLink(const std::string& source, const struct stat& st,
                         const TTargetPlace& place) {
    std::string linkText;
    if (sys::readlink(source.c_str(), linkText) < 0) {
        reportBlockWriteError(errno, false, source);
        return false;
    }
    const std::string temp = underTempName(place, [&](const std::string& name) {
        return sys::symlinkat(linkText.c_str(), place.dir, name.c_str());
    });
    if (temp.empty()) {
        reportBlockWriteError(errno, true, place.path);
        return false;
    }
    const std::string tempPath = place.at(temp);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (runningAsRoot() &&
        sys::fchownat(place.dir, tempPath.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW) != 0)
        fAttributeError = errno;
    int err = 0;
    if (sys::utimensat(place.dir, tempPath.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        if (timesRefused(errno))
            fTimesError = errno;
        else
            err = errno;
    }
    if (err == 0 &&
        sys::renameat(place.dir, tempPath.c_str(), place.dir, place.target().c_str()) != 0)
        err = nameRefused(errno, place) ? kUnstorableName : errno;
    if (err != 0) {
        sys::unlinkat(place.dir, tempPath.c_str(), 0);
        reportBlockWriteError(err, true, place.path);
        return false;
    }
    fPercent = 100;
    doProgress();
    return true;
}

TCopyFile::TRunOutcome TCopyFile::runAndWait(const std::string& program,
                                             const std::string& directory,
                                             const std::vector<std::string>& args) {
    pid_t pid = -1;
    if (!runProgram(program, args, directory, &pid)) return TRunOutcome::StartFailed;
    int exitCode = 0;
    for (;;) {
        const TWaitResult r = waitProgram(pid, kWaitStepMs, exitCode);
        letEventsRun();
        if (r == TWaitResult::Exited)
            return exitCode == 0 ? TRunOutcome::Succeeded : TRunOutcome::Failed;
        if (r == TWaitResult::Failed) return TRunOutcome::Failed;
        if (fStatus == csCancelled) break;
    }
    // A program left running would go on writing after the run ended.
    sys::kill(pid, SIGKILL);
    while (waitProgram(pid, kWaitStepMs, exitCode) == TWaitResult::Running) {
    }
    return TRunOutcome::Cancelled;
}

namespace {

// A private folder beside the target into which a copy program writes: the
// old copy is replaced only by a complete new one, and whatever the program
// leaves behind (its own temporary files, half a file after a cancel) goes
// with the folder.
class TStaging {
  public:
    TStaging(const TPlace& place, const std::string& target) : fPlace(place) {
        fName = underTempName(place, [&](const std::string& name) {
            return sys::mkdirat(place.dir, name.c_str(), 0700);
        });
        fPath = extractFilePath(target) + fName + "/" + place.base;
    }
    ~TStaging() {
        if (!fName.empty())
            removeAllAt(fPlace.dir, fPlace.at(fName), [](const std::string&, bool) {});
    }
    bool valid() const { return !fName.empty(); }
    // Where the program writes the copy.
    const std::string& path() const { return fPath; }
    // The size of what the program wrote, -1 when nothing is there.
    int64_t writtenSize() const {
        struct stat st {};
        const std::string staged = fPlace.at(fName + "/" + fPlace.base);
        if (sys::fstatat(fPlace.dir, staged.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
        return st.st_size;
    }
    int commit() {
        const std::string staged = fPlace.at(fName + "/" + fPlace.base);
        return sys::renameat(fPlace.dir, staged.c_str(), fPlace.dir, fPlace.target().c_str()) == 0
                   ? 0
                   : errno;
    }

  private:
    const TPlace& fPlace;
    std::string fName;
    std::string fPath;
};

}  // namespace

// The system's copy programs, one row per method: each writes the staged
// path and is told not to follow a link.
struct TExternalMethod {
    const char* name;
    const char* program;
    const char* directory;  // "" = next to this program, else /usr/bin/
    bool reportsStartFailure;
    std::vector<std::string> (*arguments)(const std::string& source, const std::string& staged);
};

namespace {

const TExternalMethod kXCopy{
    "XCopy", "cp", "/usr/bin/", true, [](const std::string& source, const std::string& staged) {
        return std::vector<std::string>{"--preserve=timestamps,mode", "--no-dereference", "--",
                                        source, staged};
    }};
const TExternalMethod kCopyFile{"CopyFile", "gio", "/usr/bin/", false,
                                [](const std::string& source, const std::string& staged) {
                                    return std::vector<std::string>{
                                        "copy", "--preserve",         "--no-dereference",
                                        "--",   pathArgument(source), pathArgument(staged)};
                                }};
const TExternalMethod kRobocopy{
    "Robocopy", "rsync", "", false, [](const std::string& source, const std::string& staged) {
        return std::vector<std::string>{
            "--times", "--perms", "--links", "--", pathArgument(source), pathArgument(staged)};
    }};
const TExternalMethod kDosCopy{"DosCopy", "cp", "/bin/", false,
                               [](const std::string& source, const std::string& staged) {
                                   return std::vector<std::string>{"--", source, staged};
                               }};

std::string directoryOf(const TExternalMethod& method) {
    if (*method.directory != '\0') return method.directory;
    const std::string folder = programFolder();
    return folder.empty() || !pathExists(folder + method.program) ? "/usr/bin/" : folder;
}

}  // namespace

// Success needs exit status 0 and a copy of the source's size; only then does
// the copy take the target's place.
bool TCopyFile::externalCopy(const TExternalMethod& method, const std::string& source,
                             const std::string& target) {
    const std::string directory = directoryOf(method);
    const std::string path = directory + method.program;
    bool ok = false;
    if (!pathExists(path)) {
        addMessage("Programm \"" + path + "\" nicht gefunden.");
    } else {
        const TPlace place = placeOf(target);
        TStaging staging(place, target);
        if (staging.valid()) {
            const TRunOutcome outcome =
                runAndWait(method.program, directory, method.arguments(source, staging.path()));
            if (outcome == TRunOutcome::Cancelled) return false;
            if (outcome == TRunOutcome::StartFailed && method.reportsStartFailure)
                addMessage("FEHLER:  Kopieren mit " + std::string(method.name) +
                           " fehlgeschlagen (" + std::to_string(errno) + ")");
            ok = outcome == TRunOutcome::Succeeded && staging.writtenSize() == fileSize64(source) &&
                 staging.commit() == 0;
        }
    }
    if (!ok)
        addMessage("TCopyFile.copyWith" + std::string(method.name) + ": kann Datei \"" + source +
                   "\" nicht kopieren");
    return ok;
}

bool TCopyFile::copyWithXCopy(const std::string& source, const std::string& target) {
    return externalCopy(kXCopy, source, target);
}

bool TCopyFile::copyWithCopyFile(const std::string& source, const std::string& target) {
    return externalCopy(kCopyFile, source, target);
}

bool TCopyFile::copyWithRobocopy(const std::string& source, const std::string& target) {
    return externalCopy(kRobocopy, source, target);
}

bool TCopyFile::copyWithDosCopy(const std::string& source, const std::string& target) {
    return externalCopy(kDosCopy, source, target);
}

}  // namespace qvb
