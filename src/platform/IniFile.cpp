#include "platform/IniFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <unordered_set>

#include "util/QV_Basics.h"
#include "util/Sys.h"
#include "util/TextCase.h"

namespace qvb {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool isQuote(char c) {
    return c == '"' || c == '\'';
}

std::string_view unquote(std::string_view s) {
    if (s.size() >= 2 && isQuote(s.front()) && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

// Windows-1252 bytes 0x80..0x9F; the five unassigned ones keep their C1 code.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Splits off the text of a section header; false when the line is none.
bool sectionHeaderName(std::string_view line, std::string& name) {
    const std::string_view t = trimBlanks(line);
    if (t.empty() || t.front() != '[') return false;
    const size_t close = t.rfind(']');
    if (close == std::string_view::npos) return false;
    name = std::string(trimBlanks(t.substr(1, close - 1)));
    return true;
}

TIniLine makeLine(std::string text) {
    TIniLine line;
    const std::string_view t = trimBlanks(text);
    const size_t eq = t.find('=');
    if (!t.empty() && t.front() != ';' && t.front() != '[' && eq != std::string_view::npos) {
        const std::string_view key = trimBlanks(t.substr(0, eq));
        if (!key.empty()) {
            line.isEntry = true;
            line.key = std::string(key);
            line.value = std::string(unquote(trimBlanks(t.substr(eq + 1))));
        }
    }
    line.text = std::move(text);
    return line;
}

std::string entryText(std::string_view key, std::string_view value) {
    // A value that reading would change (outer blanks, enclosing quotes) is
    // quoted, so it comes back as written.
    const bool needsQuotes = !value.empty() && (isBlank(value.front()) || isBlank(value.back()) ||
                                                unquote(value).size() != value.size());
    std::string text(key);
    text += '=';
    if (needsQuotes) {
        text += '"';
        text += value;
        text += '"';
    } else {
        text += value;
    }
    return text;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < len) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

std::string windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80 && c <= 0x9F)
            appendUtf8(out, kCp1252High[c - 0x80]);
        else
            appendUtf8(out, c);
    }
    return out;
}

bool isStorableIniName(std::string_view name, bool isSection) {
    if (!isStorableIniValue(name) || trimBlanks(name).size() != name.size()) return false;
    if (isSection) return name.find(']') == std::string_view::npos;
    return !name.empty() && name.find('=') == std::string_view::npos && name.front() != ';' &&
           name.front() != '[';
}

bool isStorableIniValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos &&
           isValidUtf8(value);
}

std::optional<int32_t> parseIniInteger(std::string_view text) {
    std::string_view t = trimBlanks(text);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    return value;
}

int32_t parseIniInteger(std::string_view text, int32_t defaultValue) {
    return parseIniInteger(text).value_or(defaultValue);
}

// --- TIniDocument ------------------------------------------------------------

long TIniDocument::sectionIndex(std::string_view section) const {
    const auto it = fByName.find(foldCase(section));
    return it == fByName.end() ? -1 : static_cast<long>(it->second);
}

void TIniDocument::indexSection(size_t i) {
    SectionIndex& index = fKeyIndex[i];
    index.keys.clear();
    const auto& lines = fSections[i].lines;
    for (size_t k = 0; k < lines.size(); ++k)
        if (lines[k].isEntry) index.keys.emplace(foldCase(lines[k].key), k);
}

void TIniDocument::rebuildIndex() {
    fByName.clear();
    fKeyIndex.assign(fSections.size(), {});
    for (size_t i = 0; i < fSections.size(); ++i) {
        fByName.emplace(foldCase(fSections[i].name), i);
        indexSection(i);
    }
}

std::vector<std::string> TIniDocument::sectionNames() const {
    std::vector<std::string> names;
    names.reserve(fSections.size());
    for (const auto& s : fSections) names.push_back(s.name);
    return names;
}

bool TIniDocument::hasSection(std::string_view section) const {
    return sectionIndex(section) >= 0;
}

const std::string* TIniDocument::find(std::string_view section, std::string_view key) const {
    const long i = sectionIndex(section);
    if (i < 0) return nullptr;
    const auto& keys = fKeyIndex[static_cast<size_t>(i)].keys;
    const auto it = keys.find(foldCase(key));
    if (it == keys.end()) return nullptr;
    return &fSections[static_cast<size_t>(i)].lines[it->second].value;
}

size_t TIniDocument::entryCount(std::string_view section) const {
    const long i = sectionIndex(section);
    return i < 0 ? 0 : fKeyIndex[static_cast<size_t>(i)].keys.size();
}

void TIniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    long i = sectionIndex(section);
    if (i < 0) {
        appendSection(std::string(section), "[" + std::string(section) + "]");
        i = static_cast<long>(fSections.size() - 1);
    }
    TIniSection& s = fSections[static_cast<size_t>(i)];
    auto& keys = fKeyIndex[static_cast<size_t>(i)].keys;
    const std::string folded = foldCase(key);
    const auto it = keys.find(folded);
    if (it != keys.end()) {
        TIniLine& line = s.lines[it->second];
        line = makeLine(entryText(line.key, value));
        return;
    }
    // After the last non-blank line, so blank lines before the next section stay there.
    size_t pos = s.lines.size();
    while (pos > 0 && trimBlanks(s.lines[pos - 1].text).empty()) --pos;
    s.lines.insert(s.lines.begin() + static_cast<long>(pos), makeLine(entryText(key, value)));
    if (pos + 1 == s.lines.size())
        keys.emplace(folded, pos);
    else
        indexSection(static_cast<size_t>(i));
}

bool TIniDocument::remove(std::string_view section, std::string_view key) {
    const std::string folded = foldCase(key);
    const std::string foldedSection = foldCase(section);
    bool removed = false;
    for (size_t i = 0; i < fSections.size(); ++i) {
        if (foldCase(fSections[i].name) != foldedSection) continue;
        auto& lines = fSections[i].lines;
        const size_t before = lines.size();
        std::erase_if(lines,
                      [&](const TIniLine& l) { return l.isEntry && foldCase(l.key) == folded; });
        if (lines.size() != before) {
            removed = true;
            indexSection(i);
        }
    }
    return removed;
}

bool TIniDocument::eraseSection(std::string_view section) {
    const std::string folded = foldCase(section);
    const size_t before = fSections.size();
    std::erase_if(fSections, [&](const TIniSection& s) { return foldCase(s.name) == folded; });
    if (fSections.size() == before) return false;
    rebuildIndex();
    return true;
}

bool TIniDocument::keepOnlySections(const std::vector<std::string>& names) {
    std::unordered_set<std::string> wanted;
    for (const auto& name : names) wanted.insert(foldCase(name));
    const size_t before = fSections.size();
    // A name seen once is dropped from the wanted set, so a later duplicate goes.
    std::erase_if(fSections,
                  [&](const TIniSection& s) { return wanted.erase(foldCase(s.name)) == 0; });
    if (fSections.size() == before) return false;
    rebuildIndex();
    return true;
}

void TIniDocument::clear() {
    fPreamble.clear();
    fSections.clear();
    rebuildIndex();
}

void TIniDocument::appendSection(std::string name, std::string header) {
    fSections.push_back({std::move(name), std::move(header), {}});
    fKeyIndex.emplace_back();
    fByName.emplace(foldCase(fSections.back().name), fSections.size() - 1);
}

void TIniDocument::appendLine(TIniLine line) {
    if (fSections.empty()) {
        fPreamble.push_back(std::move(line));
        return;
    }
    auto& lines = fSections.back().lines;
    lines.push_back(std::move(line));
    if (lines.back().isEntry)
        fKeyIndex.back().keys.emplace(foldCase(lines.back().key), lines.size() - 1);
}

std::string TIniDocument::serialize() const {
    const char* eol = fCrLf ? "\r\n" : "\n";
    std::string out;
    if (fBom) out = "\xEF\xBB\xBF";
    for (const auto& l : fPreamble) out.append(l.text).append(eol);
    for (const auto& s : fSections) {
        out.append(s.header).append(eol);
        for (const auto& l : s.lines) out.append(l.text).append(eol);
    }
    return out;
}

TIniDocument parseIni(std::string_view bytes) {
    TIniDocument doc;
    // The profile functions work on C strings: a NUL byte never reaches a value.
    // They go first, so that a mark hidden behind NULs is read as a mark both
    // now and after the next save.
    std::string clean;
    clean.reserve(bytes.size());
    for (const char c : bytes) {
        if (c == '\0')
            ++doc.fNulBytes;
        else
            clean += c;
    }
    if (clean.starts_with("\xEF\xBB\xBF")) {
        doc.fEncoding = TIniEncoding::Utf8Bom;
        doc.fBom = true;
        clean.erase(0, 3);
    }
    const size_t firstLf = clean.find('\n');
    doc.fCrLf = firstLf != std::string::npos && firstLf > 0 && clean[firstLf - 1] == '\r';
    // A file shared with a Windows program may hold lines of both encodings:
    // each line is read in its own, so one appended Windows line cannot turn
    // the umlauts of every other line into different names.
    const bool allUtf8 = isValidUtf8(clean);

    std::string_view rest(clean);
    while (!rest.empty()) {
        const size_t lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
        // Stray carriage returns before the line end belong to it: kept in the
        // line, each save would drop one more.
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string decoded;
        if (!allUtf8 && !isValidUtf8(line)) {
            doc.fEncoding = TIniEncoding::Windows1252;
            decoded = windows1252ToUtf8(line);
            line = decoded;
        }
        std::string name;
        if (sectionHeaderName(line, name)) {
            doc.appendSection(std::move(name), std::string(line));
            continue;
        }
        if (trimBlanks(line).starts_with('[')) ++doc.fBadHeaders;
        doc.appendLine(makeLine(std::string(line)));
    }
    return doc;
}

// --- atomic replacement ------------------------------------------------------

namespace {

std::string resolveLink(const std::string& fileName) {
    struct stat st {};
    if (sys::lstat(fileName.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return fileName;
    char* real = ::realpath(fileName.c_str(), nullptr);
    if (!real) return fileName;
    std::string target(real);
    std::free(real);
    return target;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = sys::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void syncFolder(const std::string& folder) {
    sys::UniqueFd dir(
        sys::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) sys::fsync(dir.get());
}

// ".<name>." before the process number of a temporary file of `target`.
std::string temporaryPrefix(const std::string& target) {
    return "." + extractFileName(target) + ".";
}

// The process number of a temporary file name ("<prefix><pid>-<n>.tmp"), 0
// when the name has another form.
pid_t temporaryOwner(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix) || !name.ends_with(".tmp")) return 0;
    name = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    const size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash + 1 == name.size()) return 0;
    const std::string_view counter = name.substr(dash + 1);
    if (counter.find_first_not_of("0123456789") != std::string_view::npos) return 0;
    pid_t pid = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + dash, pid);
    return ec == std::errc() && end == name.data() + dash && pid > 0 ? pid : 0;
}

bool processGone(pid_t pid) {
    return pid != ::getpid() && sys::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

bool replaceFileAtomically(const std::string& fileName, std::string_view bytes) {
    static std::atomic<unsigned> counter{0};
    const std::string target = resolveLink(fileName);
    const std::string folder = extractFilePath(target);
    const std::string temp = folder + temporaryPrefix(target) + std::to_string(::getpid()) + "-" +
                             std::to_string(counter++) + ".tmp";
    struct stat old {};
    const bool hadFile = sys::stat(target.c_str(), &old) == 0;
    sys::UniqueFd fd(sys::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd.valid()) return false;
    bool ok = writeAll(fd.get(), bytes);
    if (ok && hadFile) ok = sys::fchmod(fd.get(), old.st_mode & 07777) == 0;
    ok = ok && sys::fsync(fd.get()) == 0;
    ok = fd.reset() == 0 && ok;
    ok = ok && sys::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        sys::unlink(temp.c_str());
        return false;
    }
    syncFolder(folder);
    return true;
}

size_t removeStaleTemporaries(const std::string& fileName) {
    const std::string target = resolveLink(fileName);
    const std::string folder = extractFilePath(target);
    const std::string prefix = temporaryPrefix(target);
    sys::DirStream dir(sys::opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir.valid()) return 0;
    std::vector<std::string> stale;
    while (const dirent* entry = sys::readdir(dir.get())) {
        const pid_t owner = temporaryOwner(entry->d_name, prefix);
        if (owner > 0 && processGone(owner)) stale.push_back(folder + entry->d_name);
    }
    size_t removed = 0;
    for (const std::string& path : stale)
        if (sys::unlink(path.c_str()) == 0) ++removed;
    return removed;
}

// --- TIniFile ----------------------------------------------------------------

TIniFile::TIniFile(std::string fileName) : fFileName(std::move(fileName)) {}

TIniFile::~TIniFile() {
    updateFile();
}

TIniFile::FileStamp TIniFile::currentStamp() const {
    struct stat st {};
    if (sys::stat(fFileName.c_str(), &st) != 0) return {};
    return {true,
            static_cast<uint64_t>(st.st_dev),
            static_cast<uint64_t>(st.st_ino),
            static_cast<uint64_t>(st.st_size),
            st.st_mtim.tv_sec,
            st.st_mtim.tv_nsec};
}

bool TIniFile::exists() const {
    return currentStamp().exists;
}

void TIniFile::refresh() {
    // Pending changes win over the file; otherwise read it when it changed.
    if (fDirty) return;
    const FileStamp stamp = currentStamp();
    if (fLoaded && stamp == fStamp) return;
    fLoaded = true;
    fStamp = stamp;
    fReadFailed = false;
    fDoc = TIniDocument();
    if (!stamp.exists) return;
    if (stamp.size > kMaxFileSize) {
        fReadFailed = true;
        return;
    }
    sys::UniqueFd fd(sys::open(fFileName.c_str(), O_RDONLY | O_CLOEXEC));
    std::string bytes;
    char buf[65536];
    for (;;) {
        if (!fd.valid()) {
            fReadFailed = true;
            return;
        }
        const ssize_t n = sys::read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || bytes.size() + static_cast<size_t>(n) > kMaxFileSize) {
            fReadFailed = true;
            return;
        }
        if (n == 0) break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    fDoc = parseIni(bytes);
}

TIniDocument& TIniFile::document() {
    refresh();
    return fDoc;
}

bool TIniFile::readable() {
    refresh();
    return !fReadFailed || fReplaceAll;
}

std::vector<std::string> TIniFile::readSections() {
    return document().sectionNames();
}

bool TIniFile::sectionExists(const std::string& section) {
    return document().hasSection(section);
}

bool TIniFile::valueExists(const std::string& section, const std::string& key) {
    return document().find(section, key) != nullptr;
}

size_t TIniFile::entryCount(const std::string& section) {
    return document().entryCount(section);
}

std::string TIniFile::readString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) {
    const std::string* v = document().find(section, key);
    return v ? *v : defaultValue;
}

int32_t TIniFile::readInteger(const std::string& section, const std::string& key,
                              int32_t defaultValue) {
    const std::string* v = document().find(section, key);
    return v ? parseIniInteger(*v, defaultValue) : defaultValue;
}

bool TIniFile::readBool(const std::string& section, const std::string& key, bool defaultValue) {
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

TDateTime TIniFile::readDateTime(const std::string& section, const std::string& key,
                                 TDateTime defaultValue) {
    const std::string* v = document().find(section, key);
    if (!v) return defaultValue;
    return parseGermanDateTime(*v).value_or(defaultValue);
}

bool TIniFile::writeString(const std::string& section, const std::string& key,
                           const std::string& value) {
    if (!isStorableIniName(section, true) || !isStorableIniName(key, false) ||
        !isStorableIniValue(value))
        return false;
    document().set(section, key, value);
    fDirty = true;
    return true;
}

bool TIniFile::writeInteger(const std::string& section, const std::string& key, int32_t value) {
    return writeString(section, key, std::to_string(value));
}

bool TIniFile::writeBool(const std::string& section, const std::string& key, bool value) {
    return writeString(section, key, value ? "1" : "0");
}

bool TIniFile::writeDateTime(const std::string& section, const std::string& key, TDateTime value) {
    return writeString(section, key, formatGermanDateTime(value));
}

bool TIniFile::deleteKey(const std::string& section, const std::string& key) {
    if (document().remove(section, key)) fDirty = true;
    return true;
}

bool TIniFile::eraseSection(const std::string& section) {
    if (document().eraseSection(section)) fDirty = true;
    return true;
}

void TIniFile::keepOnlySections(const std::vector<std::string>& names) {
    if (document().keepOnlySections(names)) fDirty = true;
}

void TIniFile::clear() {
    fDoc = TIniDocument();
    fLoaded = true;
    fDirty = true;
    fReplaceAll = true;
}

bool TIniFile::updateFile() {
    if (!fDirty) return true;
    // Never replace a file whose contents could not be read: they would be lost.
    if (fReadFailed && !fReplaceAll) return false;
    if (!replaceFileAtomically(fFileName, fDoc.serialize())) return false;
    fDirty = false;
    fReplaceAll = false;
    fReadFailed = false;
    fStamp = currentStamp();
    return true;
}

void TIniFile::discardChanges() {
    fDirty = false;
    fReplaceAll = false;
    fLoaded = false;
}

std::string TIniFile::unstorableReason(std::string_view value) const {
    if (value.find_first_of("\r\n") != std::string_view::npos) return "enthält einen Zeilenumbruch";
    if (value.find('\0') != std::string_view::npos) return "enthält ein Nullzeichen";
    if (!isValidUtf8(value)) return "ist kein gültiger UTF-8-Text";
    return "";
}

std::function<void()> TIniFile::undoPoint() {
    return [this] { discardChanges(); };
}

TReadResult TIniFile::readText(const std::string& record, const std::string& name,
                               std::string& value) {
    const std::string* v = document().find(record, name);
    if (!v) return TReadResult::Absent;
    value = *v;
    return TReadResult::Ok;
}

TReadResult TIniFile::readNumber(const std::string& record, const std::string& name,
                                 int32_t& value) {
    const std::string* v = document().find(record, name);
    if (!v) return TReadResult::Absent;
    const std::optional<int32_t> n = parseIniInteger(*v);
    if (!n) return TReadResult::WrongType;
    value = *n;
    return TReadResult::Ok;
}

TReadResult TIniFile::readTime(const std::string& record, const std::string& name,
                               TDateTime& value) {
    const std::string* v = document().find(record, name);
    if (!v) return TReadResult::Absent;
    const std::optional<TDateTime> t = parseGermanDateTime(*v);
    if (!t) return TReadResult::WrongType;
    value = *t;
    return TReadResult::Ok;
}

}  // namespace qvb
