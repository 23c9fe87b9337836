#include "util/QV_Utils.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>

#include "util/QV_Basics.h"
#include "util/Sys.h"
#include "util/UserInterface.h"

namespace qvb {

std::string formatThousands(int64_t value) {
    std::string digits = std::to_string(value);
    const size_t first = (!digits.empty() && digits[0] == '-') ? 1 : 0;
    for (size_t pos = digits.size(); pos > first + 3;) {
        pos -= 3;
        digits.insert(pos, 1, '.');
    }
    return digits;
}

namespace {

// "#.##" with a decimal comma: at most two decimals, rounded, no trailing zeros.
std::string formatTwoDecimals(double value) {
    const long long hundredths = std::llround(value * 100.0);
    std::string text = std::to_string(hundredths / 100);
    const long long fraction = hundredths % 100;
    if (fraction != 0) {
        text += ',';
        text += static_cast<char>('0' + fraction / 10);
        if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
    }
    return text;
}

}  // namespace

std::string formatFileSize(int64_t bytes) {
    constexpr int64_t kKB = 1024, kMB = 1048576, kGB = 1073741824;
    if (bytes > kGB) return formatTwoDecimals(static_cast<double>(bytes) / kGB) + " GB";
    if (bytes > kMB) return formatTwoDecimals(static_cast<double>(bytes) / kMB) + " MB";
    if (bytes > kKB) return formatTwoDecimals(static_cast<double>(bytes) / kKB) + " KB";
    if (bytes > 0) return std::to_string(bytes) + " Bytes";
    return "0 Bytes";
}

std::string startFailureText(int errnum, const std::string& path) {
    switch (errnum) {
        case ENOENT:
            return "Die Datei \"" + path + "\" wurde nicht gefunden.";
        case ENOTDIR:
            return "Das Verzeichnis \"" + extractFilePath(path) + "\" wurde nicht gefunden.";
        case EACCES:
        case EPERM:
            return "Fehler beim gemeinsamen Zugriff auf eine Datei im Netz oder Fehler beim "
                   "Zugriff auf eine gesperrte Datei im Netz.";
        case ENOMEM:
            return "Zuwenig Speicher, um die Anwendung \"" + path + "\" zu starten.";
        case ENOEXEC:
            return "Ungültige ausführbare Datei \"" + path +
                   "\". Entweder keine Windows-Anwendung oder Fehler in der EXE-Datei.";
        default:
            return "Nicht näher spezifizierter Fehler " + std::to_string(errnum);
    }
}

namespace {

void showError(const std::string& text) {
    userInterface().showMessage(TMsgKind::Error, text, mbOK, TMsgResult::OK);
}

// Reaps a program nobody waits for, so that it leaves no zombie behind.
void reapInBackground(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// The program with its argument vector; 0 or the errno of the failed start.
int spawnProgram(const std::string& path, const std::vector<std::string>& args,
                 const std::string& directory, pid_t& pid) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return sys::spawn(pid, path.c_str(), argv.data(),
                      directory.empty() ? nullptr : directory.c_str());
}

}  // namespace

bool runProgram(const std::string& fileName, const std::vector<std::string>& args,
                const std::string& directory, pid_t* pidOut) {
    const std::string path =
        directory.empty() ? fileName : includeTrailingDelimiter(directory) + fileName;
    struct stat st {};
    if (sys::stat(path.c_str(), &st) != 0) {
        showError("Programm \"" + path + "\" nicht gefunden.");
        return false;
    }
    pid_t pid = -1;
    int rc;
    {
        TBusyCursor busy;
        rc = spawnProgram(path, args, directory, pid);
    }
    if (rc != 0) {
        showError("Programm \"" + path +
                  "\" kann nicht ausgeführt werden.\rWindows-Fehlermeldung:\r" +
                  startFailureText(rc, path));
        return false;
    }
    if (pidOut)
        *pidOut = pid;
    else
        reapInBackground(pid);
    return true;
}

TWaitResult waitProgram(pid_t pid, int milliseconds, int& exitCode) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return TWaitResult::Exited;
        }
        if (r < 0 && errno != EINTR) return TWaitResult::Failed;
        if (Clock::now() >= deadline) return TWaitResult::Running;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool isDirWritable(const std::string& directory) {
    static std::atomic<unsigned> counter{0};
    const std::string base =
        includeTrailingDelimiter(directory) + ".qvb-probe-" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string probe = base + std::to_string(counter++);
        sys::UniqueFd fd(sys::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
        if (fd.valid()) {
            fd.reset();
            sys::unlink(probe.c_str());
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

}  // namespace qvb
