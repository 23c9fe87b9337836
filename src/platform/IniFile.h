#pragma once

// The program's INI files (program settings and export), read and written with
// the rules of the Windows profile functions, so that a file made or edited on
// Windows reads the same here: section and key names match without regard to
// letter case and the first occurrence wins; values are trimmed of blanks and
// of one pair of enclosing quotes; ";" comment lines and unknown lines are
// kept; a new key goes to the end of its section, a changed one is replaced in
// place, a new section goes to the end of the file.
//
// A file is read as UTF-8 (with or without BOM); a line that is not valid
// UTF-8 is read as Windows-1252 (files made on Windows, or a file a Windows
// program appended to); CRLF and LF both end a line. Files are written as
// UTF-8 and replaced atomically, so a crash during a save leaves the previous
// file intact.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/SettingsStore.h"
#include "util/DateTime.h"

namespace qvb {

enum class TIniEncoding { Utf8, Utf8Bom, Windows1252 };

// One line of the file below a section header (or before the first one).
struct TIniLine {
    std::string text;   // the line as it stands, decoded, without its line end
    std::string key;    // key of a key=value line (trimmed); empty for other lines
    std::string value;  // its value, trimmed and unquoted
    bool isEntry = false;
};

struct TIniSection {
    std::string name;  // as spelt in the file
    std::string header;
    std::vector<TIniLine> lines;
};

// A parsed INI file. Look-ups go through indexes of the case-folded names, so
// files with very many sections or keys stay fast.
class TIniDocument {
  public:
    // How the bytes were read: the encoding (Windows1252 when any line was
    // read so), whether a byte-order mark came first (written back, whatever
    // the lines' encodings were), whether lines ended in CRLF, how
    // many NUL bytes were dropped and how many "[" lines lacked their "]"
    // (kept as plain lines).
    TIniEncoding fEncoding = TIniEncoding::Utf8;
    bool fBom = false;
    bool fCrLf = false;
    size_t fNulBytes = 0;
    size_t fBadHeaders = 0;

    std::vector<TIniLine> fPreamble;  // lines before the first section

    const std::vector<TIniSection>& sections() const { return fSections; }
    std::vector<std::string> sectionNames() const;
    bool hasSection(std::string_view section) const;
    // The value of the first matching key of the first matching section.
    const std::string* find(std::string_view section, std::string_view key) const;
    // Number of key=value lines of the section (0 when it is missing).
    size_t entryCount(std::string_view section) const;

    // Names and values must be storable in one line (see isStorable*); the
    // callers check that first.
    void set(std::string_view section, std::string_view key, std::string_view value);
    // Removes every occurrence of the key in every section of that name, so a
    // duplicate never resurfaces; false when there was none.
    bool remove(std::string_view section, std::string_view key);
    // Removes every section of that name; false when there was none.
    bool eraseSection(std::string_view section);
    // Keeps the first section of each of the names (in any letter case) and
    // removes every other section; false when nothing was removed.
    bool keepOnlySections(const std::vector<std::string>& names);
    void clear();

    std::string serialize() const;

    // Called by the parser for each line in file order.
    void appendSection(std::string name, std::string header);
    void appendLine(TIniLine line);

  private:
    struct SectionIndex {
        std::unordered_map<std::string, size_t> keys;  // folded key -> first line
    };
    long sectionIndex(std::string_view section) const;
    void indexSection(size_t i);
    void rebuildIndex();

    std::vector<TIniSection> fSections;
    std::vector<SectionIndex> fKeyIndex;              // parallel to fSections
    std::unordered_map<std::string, size_t> fByName;  // folded name -> first section
};

// Parses the bytes of an INI file; never fails: whatever cannot be read as a
// section header or key=value line is kept as a plain line.
TIniDocument parseIni(std::string_view bytes);

bool isValidUtf8(std::string_view text);
std::string windows1252ToUtf8(std::string_view bytes);

// Whether a name or value can be written into an INI line and read back as
// the same text.
bool isStorableIniName(std::string_view name, bool isSection);
bool isStorableIniValue(std::string_view value);

// Reads a whole text as a decimal 32-bit integer (optional sign, blanks
// around allowed); anything else gives the default.
int32_t parseIniInteger(std::string_view text, int32_t defaultValue);
std::optional<int32_t> parseIniInteger(std::string_view text);

// An INI file on disk. Reads see the file as it is now (a changed file is read
// again); writes collect in memory until updateFile replaces the file. As a
// settings store its records are sections; numbers and date-times are texts
// ("1", "07.12.2026 14:30:00"), and a text that does not read as its type is
// a wrong type.
class TIniFile : public TSettingsStore {
  public:
    // Files above this size are not read: no settings file grows that large.
    static constexpr size_t kMaxFileSize = 16u * 1024 * 1024;

    explicit TIniFile(std::string fileName);
    ~TIniFile() override;  // writes pending changes
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const std::string& fileName() const { return fFileName; }
    bool exists() const;
    // False when the file exists but could not be read (too large, no access,
    // read error). Such a file is never overwritten by a write of single
    // values, so nothing of it is lost.
    bool readable() override;

    std::vector<std::string> readSections();
    bool sectionExists(const std::string& section);
    bool valueExists(const std::string& section, const std::string& key);
    size_t entryCount(const std::string& section);

    std::string readString(const std::string& section, const std::string& key,
                           const std::string& defaultValue);
    int32_t readInteger(const std::string& section, const std::string& key, int32_t defaultValue);
    bool readBool(const std::string& section, const std::string& key, bool defaultValue);
    // Date and time in the German form "07.12.2026 14:30:00".
    TDateTime readDateTime(const std::string& section, const std::string& key,
                           TDateTime defaultValue);

    // False when the name or value cannot be stored in a line (line breaks,
    // NUL, invalid UTF-8, "=" in a key, "]" in a section name).
    bool writeString(const std::string& section, const std::string& key, const std::string& value);
    bool writeInteger(const std::string& section, const std::string& key, int32_t value);
    bool writeBool(const std::string& section, const std::string& key, bool value);
    bool writeDateTime(const std::string& section, const std::string& key, TDateTime value);
    bool deleteKey(const std::string& section, const std::string& key);
    bool eraseSection(const std::string& section);
    // See TIniDocument::keepOnlySections.
    void keepOnlySections(const std::vector<std::string>& names);
    // Starts an empty file: the next updateFile replaces whatever was there.
    void clear();

    // Replaces the file with the pending changes (temporary file in the same
    // folder, flushed, renamed over it). True when nothing was pending.
    bool updateFile();
    // Drops the pending changes; the next read sees the file as it is.
    void discardChanges();

    std::string storeFileName() const override { return fFileName; }
    bool keepsValueTypes() const override { return false; }
    std::string optionsRecord() const override { return "Options"; }
    std::vector<std::string> records() override { return readSections(); }
    bool hasRecord(const std::string& record) override { return sectionExists(record); }
    size_t valueCount(const std::string& record) override { return entryCount(record); }
    TReadResult readText(const std::string& record, const std::string& name,
                         std::string& value) override;
    TReadResult readNumber(const std::string& record, const std::string& name,
                           int32_t& value) override;
    TReadResult readTime(const std::string& record, const std::string& name,
                         TDateTime& value) override;
    // An INI line cannot hold a line break or NUL.
    std::string unstorableReason(std::string_view value) const override;
    bool writeText(const std::string& record, const std::string& name,
                   const std::string& value) override {
        return writeString(record, name, value);
    }
    bool writeNumber(const std::string& record, const std::string& name, int32_t value) override {
        return writeInteger(record, name, value);
    }
    bool writeTime(const std::string& record, const std::string& name, TDateTime value) override {
        return writeDateTime(record, name, value);
    }
    bool eraseValue(const std::string& record, const std::string& name) override {
        return deleteKey(record, name);
    }
    bool eraseRecord(const std::string& record) override { return eraseSection(record); }
    // The first section of each name, in any letter case, stays.
    void keepOnlyRecords(const std::vector<std::string>& names) override {
        keepOnlySections(names);
    }
    bool commit() override { return updateFile(); }
    // Drops the pending changes.
    std::function<void()> undoPoint() override;

  private:
    struct FileStamp {
        bool exists = false;
        uint64_t device = 0, inode = 0, size = 0;
        int64_t mtimeSec = 0, mtimeNsec = 0;
        bool operator==(const FileStamp&) const = default;
    };
    FileStamp currentStamp() const;
    void refresh();
    TIniDocument& document();

    std::string fFileName;
    TIniDocument fDoc;
    FileStamp fStamp;
    bool fLoaded = false;
    bool fReadFailed = false;
    bool fDirty = false;
    bool fReplaceAll = false;  // set by clear(): overwriting is meant
};

// Writes `bytes` to `fileName` through a temporary file in the same folder
// that is flushed and renamed over it (a symbolic link is followed to its
// target). The file keeps its permission bits; a new one gets 0644 and the
// umask.
bool replaceFileAtomically(const std::string& fileName, std::string_view bytes);

// Removes the temporary files that a replace of `fileName` killed before its
// rename left behind (".<name>.<pid>-<n>.tmp"), when the process named in
// them is gone. Returns how many were removed.
size_t removeStaleTemporaries(const std::string& fileName);

}  // namespace qvb
