#include "runcontrol/Protocol.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "util/EscapedText.h"
#include "util/QV_Basics.h"
#include "util/Sys.h"

namespace qvb {

namespace {

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = sys::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// A new file beside `path` that nobody else can have opened: its name is made
// unique with O_EXCL, never reusing an existing file or a planted link.
sys::UniqueFd createTemporaryBeside(const std::string& path, std::string& tempPath) {
    const std::string stem = extractFilePath(path) + "." + extractFileName(path) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = stem + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
        sys::UniqueFd fd(sys::open(tempPath.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
        if (fd.valid() || errno != EEXIST) return fd;
    }
    return sys::UniqueFd();
}

}  // namespace

void TProtocol::append(const std::string& line) {
    appendOne(escapeControls(line));
}

void TProtocol::appendText(const std::string& text) {
    for (const std::string& line : splitLines(text)) append(line);
}

void TProtocol::appendOne(std::string line) {
    fLines.push_back(std::move(line));
    if (fSink) fSink(fLines.back());
}

// Written in pieces: a run over a million files has a protocol of hundreds of
// megabytes, which need not be held twice.
static bool writeLines(int fd, std::initializer_list<std::span<const std::string>> parts) {
    constexpr size_t kPiece = 1 << 16;
    std::string text;
    for (std::span<const std::string> lines : parts)
        for (const std::string& line : lines) {
            text += line;
            text += '\n';
            if (text.size() >= kPiece) {
                if (!writeAll(fd, text)) return false;
                text.clear();
            }
        }
    return writeAll(fd, text);
}

bool saveLinesToFile(std::initializer_list<std::span<const std::string>> parts,
                     const std::string& path) {
    std::string tempPath;
    sys::UniqueFd fd = createTemporaryBeside(path, tempPath);
    if (!fd.valid()) return false;
    bool ok = writeLines(fd.get(), parts) && sys::fsync(fd.get()) == 0;
    ok = fd.reset() == 0 && ok;
    if (ok && sys::rename(tempPath.c_str(), path.c_str()) == 0) return true;
    sys::unlink(tempPath.c_str());
    return false;
}

std::string TProtocol::saveToFirstOf(const std::vector<std::string>& paths) const {
    for (const std::string& path : paths)
        if (saveToFile(path)) return path;
    return "";
}

}  // namespace qvb
