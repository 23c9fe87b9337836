#include "engine/CopyFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "util/QV_Basics.h"
#include "util/QV_Utils.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

constexpr int64_t kMinStep = 1 << 20;  // bytes moved between two cancel checks, at least
constexpr size_t kBufferSize = 1 << 20;
constexpr int kWaitStepMs = 500;

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

bool isRoot() {
    static const bool root = ::geteuid() == 0;
    return root;
}

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

// True when the new copy already has the source's owner and group (a new
// file takes the folder's group in a setgid folder, so ask the file).
bool ownedAsSource(int fd, const struct stat& source) {
    struct stat st {};
    return sys::fstat(fd, &st) == 0 && st.st_uid == source.st_uid && st.st_gid == source.st_gid;
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return sys::lstat(path.c_str(), &st) == 0;
}

// Opens without following a link and without blocking on a FIFO; a link is
// described by lstat instead.
void openSource(const std::string& path, TCopyFile::TSource& src) {
    src.fd.reset(sys::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (src.fd.valid()) {
        src.err = sys::fstat(src.fd.get(), &src.st) == 0 ? 0 : errno;
        return;
    }
    src.err = errno;
    if (src.err == ELOOP && sys::lstat(path.c_str(), &src.st) == 0 && S_ISLNK(src.st.st_mode))
        src.err = 0;
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

// A name in `folder` that no other file has yet, recognisable as ours.
class TTempName {
  public:
    explicit TTempName(const std::string& folder) : fFolder(folder) {}
    std::string next() {
        static unsigned long counter = 0;
        static const std::string processPart = hex(static_cast<unsigned long>(::getpid())) + "-";
        return fFolder + std::string(kTempFilePrefix) + processPart + hex(++counter);
    }

  private:
    std::string fFolder;
};

// The temporary file of one copy: removed again unless it was committed.
// A copy that will get a new name is written as an unnamed file (O_TMPFILE)
// that appears under its name, complete, in one step and leaves nothing
// behind when the copy fails or the program dies. A copy that replaces a
// file, or goes to a file system without unnamed files, is written under a
// temporary name and renamed over the target.
class TTempFile {
  public:
    ~TTempFile() {
        fd.reset();
        if (!path.empty()) sys::unlink(path.c_str());
    }
    // Creates the file for `target`; false with errno set.
    bool create(const std::string& target, bool knownMissing, mode_t mode) {
        fFolder = extractFilePath(target);
        if (sys::canLinkOpenFiles() && (knownMissing || !pathExists(target))) {
            fd.reset(
                sys::open(fFolder.empty() ? "." : fFolder.c_str(), O_WRONLY | O_TMPFILE, mode));
            if (fd.valid()) return true;
        }
        return createNamed(mode);
    }
    // Moves the finished file to `target`; 0 or the errno.
    int commit(const std::string& target) {
        if (path.empty()) {
            if (sys::linkOpenFile(fd.get(), target.c_str()) == 0)
                return fd.reset() != 0 ? errno : 0;
            // The target appeared meanwhile: replace it the named way.
            if (errno != EEXIST) return errno;
            if (const int err = linkNamed(); err != 0) return err;
        }
        if (fd.reset() != 0) return errno;
        if (sys::rename(path.c_str(), target.c_str()) != 0) return errno;
        path.clear();
        return 0;
    }

    sys::UniqueFd fd;
    std::string path;

  private:
    bool createNamed(mode_t mode) {
        TTempName names(fFolder);
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string candidate = names.next();
            fd.reset(sys::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode));
            if (fd.valid()) {
                path = std::move(candidate);
                return true;
            }
            if (errno != EEXIST) return false;
        }
        return false;
    }
    // Gives the unnamed file a temporary name; 0 or the errno.
    int linkNamed() {
        TTempName names(fFolder);
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string candidate = names.next();
            if (sys::linkOpenFile(fd.get(), candidate.c_str()) == 0) {
                path = std::move(candidate);
                return 0;
            }
            if (errno != EEXIST) return errno;
        }
        return EEXIST;
    }

    std::string fFolder;
};

// Gives the written copy the source's owner (as root), mode and modification
// time; 0 or the errno.
int applyAttributes(int fd, const struct stat& st, mode_t createdMode) {
    if (isRoot() && !ownedAsSource(fd, st) && sys::fchown(fd, st.st_uid, st.st_gid) != 0)
        return errno;
    if ((st.st_mode & 07777) != createdMode && sys::fchmod(fd, st.st_mode & 07777) != 0)
        return errno;
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    if (sys::futimens(fd, times) != 0) return errno;
    return 0;
}

}  // namespace

int64_t fileSize64(const std::string& path) {
    struct stat st {};
    if (sys::lstat(path.c_str(), &st) != 0) return -1;
    return st.st_size;
}

TCopyFile::TCopyFile() {
    setStatus(csIdle);
    setName("TCopyFile");
}

bool TCopyFile::Execute() {
    // The hint speaks of this call's target only.
    const struct ClearHint {
        bool& hint;
        ~ClearHint() { hint = false; }
    } clearHint{fTargetMissing};
    fBytesCopied = 0;
    fPercent = 0;
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
    fOpened = TSource{};
    fOpenedPath = fSource;
    openSource(fSource, fOpened);
    if (fOpened.err == ENOENT || fOpened.err == ENOTDIR) {
        addMessage("FEHLER: die Quelldatei existiert nicht!");
        setStatus(csError);
        return false;
    }
    if (fOpened.err == 0 && !isCopyable(fOpened.st)) {
        // A FIFO, socket, device or folder: any copy program would block on it or copy nonsense.
        addMessage("FEHLER: die Quelldatei ist keine normale Datei!");
        fOpened = TSource{};
        setStatus(csError);
        return false;
    }
    bool copied = false;
    int attempt = 0;
    fDestinationFull = false;
    // The copy programs would write into the same full file system, and the
    // first of them removes the old copy before it writes: a full destination
    // ends the attempts while the old copy is still whole.
    for (size_t index = fFirstMethod; index < kMethods.size() && !copied && !fDestinationFull;
         ++index) {
        if (++attempt > 1) addMessage("  " + std::to_string(attempt) + kMethods[index].text);
        fTargetTouched = false;
        copied = (this->*kMethods[index].run)(fSource, target);
        processPendingEvents();
        if (fStatus == csCancelled) {
            fOpened = TSource{};
            discardTouchedTarget(target);
            return false;
        }
    }
    fOpened = TSource{};
    if (!copied) {
        addMessage("ERROR:  Kopieren fehlgeschlagen !");
        setStatus(csError);
        return false;
    }
    setStatus(csDone);
    return true;
}

// A program stopped in the middle may have left a truncated target with a
// fresh time, which would look current forever; without it the next run copies again.
void TCopyFile::discardTouchedTarget(const std::string& target) {
    if (!fTargetTouched || !pathExists(target)) return;
    if (sys::unlink(target.c_str()) == 0) addMessage("  lösche Datei " + target);
    processPendingEvents();
}

void TCopyFile::reportBlockWriteError(int err) {
    fDestinationFull = err == ENOSPC || err == EDQUOT;
    addMessage("TCopyFile.copyWithBlockWrite: Fehler = \"" + sys::errorText(err) + "\"");
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
        reportBlockWriteError(src->err);
        return false;
    }
    if (src->isLink()) return copyLink(source, src->st, target);
    if (!S_ISREG(src->st.st_mode)) {
        addMessage("FEHLER: die Quelldatei ist keine normale Datei!");
        return false;
    }
    return copyRegularFile(src->fd.get(), src->st, target);
}

bool TCopyFile::copyRegularFile(int sourceFd, const struct stat& st, const std::string& target) {
    TTempFile temp;
    const mode_t createdMode = creationMode(st);
    if (!temp.create(target, fTargetMissing, createdMode)) {
        reportBlockWriteError(errno);
        return false;
    }
    int err = moveData(sourceFd, temp.fd.get(), st.st_size);
    if (err == ECANCELED) {
        fPercent = 0;
        doProgress();
        return false;
    }
    if (err == 0) err = applyAttributes(temp.fd.get(), st, createdMode);
    if (err == 0) err = temp.commit(target);
    if (err == EPERM || err == EACCES || err == EROFS) {
        addMessage("FEHLER:  Zieldatei ist schreibgeschützt");
        return false;
    }
    if (err != 0) {
        reportBlockWriteError(err);
        return false;
    }
    fPercent = 100;
    doProgress();
    return true;
}

int TCopyFile::moveData(int in, int out, int64_t size) {
    const int64_t step = std::max(kMinStep, size / 100 + 1);
    bool useRange = true;
    int32_t lastPercent = 0;
    for (;;) {
        ssize_t moved = useRange ? sys::copyFileRange(in, out, static_cast<size_t>(step)) : 0;
        if (!useRange || (moved < 0 && rangeCopyUnsupported(errno)) ||
            (moved == 0 && fBytesCopied < size)) {
            // Some file systems refuse the range copy or report a short file:
            // plain reads decide then.
            useRange = false;
            if (const int err = readWriteStep(in, out, kBufferSize, moved); err != 0) return err;
        } else if (moved < 0) {
            return errno;
        }
        if (moved == 0) return 0;
        fBytesCopied += moved;
        if (size > 0) {
            const auto percent =
                static_cast<int32_t>(std::min<int64_t>(100, fBytesCopied * 100 / size));
            if (percent != lastPercent) {
                lastPercent = fPercent = percent;
                doProgress();
            }
        }
        if (fStatus == csCancelled) return ECANCELED;
        // The size taken at opening is reached: spare the call that would only
        // report the end. A file that grew meanwhile has a newer time than the
        // one the copy gets, so the next run copies it again.
        if (useRange && size > 0 && fBytesCopied == size) return 0;
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
                         const std::string& target) {
    std::string linkText;
    if (sys::readlink(source.c_str(), linkText) < 0) {
        reportBlockWriteError(errno);
        return false;
    }
    TTempName names(extractFilePath(target));
    std::string temp;
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        temp = names.next();
        err = sys::symlink(linkText.c_str(), temp.c_str()) == 0 ? 0 : errno;
    }
    if (err != 0) {
        reportBlockWriteError(err);
        return false;
    }
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    if (isRoot() && sys::lchown(temp.c_str(), st.st_uid, st.st_gid) != 0) err = errno;
    if (err == 0 && sys::utimensat(AT_FDCWD, temp.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        err = errno;
    if (err == 0 && sys::rename(temp.c_str(), target.c_str()) != 0) err = errno;
    if (err != 0) {
        sys::unlink(temp.c_str());
        reportBlockWriteError(err);
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
    fTargetTouched = true;
    int exitCode = 0;
    for (;;) {
        const TWaitResult r = waitProgram(pid, kWaitStepMs, exitCode);
        processPendingEvents();
        if (r == TWaitResult::Exited)
            return exitCode == 0 ? TRunOutcome::Succeeded : TRunOutcome::Failed;
        if (r == TWaitResult::Failed) return TRunOutcome::Failed;
        if (fStatus == csCancelled) break;
    }
    // A program left running would go on writing the target after the run ended.
    sys::kill(pid, SIGKILL);
    while (waitProgram(pid, kWaitStepMs, exitCode) == TWaitResult::Running) {
    }
    return TRunOutcome::Cancelled;
}

bool TCopyFile::externalCopy(const std::string& method, const std::string& program,
                             const std::string& directory, const std::vector<std::string>& args,
                             const std::string& source, const std::string& target,
                             bool needExitZero) {
    const std::string path = directory + program;
    TRunOutcome outcome = TRunOutcome::NotFound;
    if (!pathExists(path)) {
        addMessage("Programm \"" + path + "\" nicht gefunden.");
    } else {
        outcome = runAndWait(program, directory, args);
        if (outcome == TRunOutcome::Cancelled) return false;
        if (outcome == TRunOutcome::StartFailed && method == "XCopy")
            addMessage("FEHLER:  Kopieren mit XCopy fehlgeschlagen (" + std::to_string(errno) +
                       ")");
    }
    const bool started = outcome == TRunOutcome::Succeeded || outcome == TRunOutcome::Failed;
    const bool ok =
        started && (!needExitZero || outcome == TRunOutcome::Succeeded) && pathExists(target);
    if (!ok)
        addMessage("TCopyFile.copyWith" + method + ": kann Datei \"" + source +
                   "\" nicht kopieren");
    return ok;
}

bool TCopyFile::copyWithXCopy(const std::string& source, const std::string& target) {
    return externalCopy("XCopy", "cp", "/usr/bin/",
                        {"--preserve=timestamps,mode", "--update", "--remove-destination",
                         "--no-dereference", "--", source, target},
                        source, target, false);
}

bool TCopyFile::copyWithCopyFile(const std::string& source, const std::string& target) {
    return externalCopy("CopyFile", "gio", "/usr/bin/",
                        {"copy", "--preserve", "--no-dereference", "--", pathArgument(source),
                         pathArgument(target)},
                        source, target, true);
}

bool TCopyFile::copyWithRobocopy(const std::string& source, const std::string& target) {
    std::string folder = programFolder();
    if (folder.empty() || !pathExists(folder + "rsync")) folder = "/usr/bin/";
    return externalCopy(
        "Robocopy", "rsync", folder,
        {"--times", "--perms", "--links", "--", pathArgument(source), pathArgument(target)}, source,
        target, true);
}

bool TCopyFile::copyWithDosCopy(const std::string& source, const std::string& target) {
    return externalCopy("DosCopy", "cp", "/bin/", {"--", source, target}, source, target, true);
}

}  // namespace qvb
