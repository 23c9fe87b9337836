#pragma once

// Brings files and folders back from a backup: copies each item with the
// file copier (temporary names, links as links, modes, times and attributes
// kept) and never deletes or changes anything in the target but the files the
// user lets it replace.

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/CopyIt.h"

namespace qvb {

class TCopyFile;

// What becomes of a file in the way that differs from the one restored.
enum class TConflictAnswer { Replace, Skip, KeepBoth };

// One file, link or folder of the backup and where it goes.
struct TRestoreItem {
    std::string from;
    std::string to;
};

// "bild (wiederhergestellt).jpg": the marker goes before the last extension
// of the name; a name whose only dot leads it has none. `round` > 1 numbers
// the marker ("bild (wiederhergestellt 2).jpg").
std::string restoredName(const std::string& path, int round = 1);

// Whether the entry at `target` is the one at `backup` as far as a backup run
// can tell: the same kind, and for files the same size and a modification time
// within `tolerance` seconds, for links the same target text.
bool sameEntry(const struct stat& backup, const struct stat& target, const std::string& backupPath,
               const std::string& targetPath, int tolerance);

class TRestore : public TCopyIt {
  public:
    TRestore();
    ~TRestore() override;

    // True when every item was gone through without an error and not cancelled.
    bool Execute() override;

    std::vector<TRestoreItem> fItems;
    // Asked about every file in the way that differs; unset: it stays (Skip).
    std::function<TConflictAnswer(const std::string& from, const std::string& to)> fOnConflict;
    int fTimeTolerance = 2;
    std::unique_ptr<TCopyFile> fCopier;

    int32_t fFiles = 0;     // files and links found below the items
    int32_t fDone = 0;      // of them gone through
    int32_t fRestored = 0;  // written where nothing was
    int32_t fReplaced = 0;  // written over a differing file
    int32_t fKeptBoth = 0;  // written beside a differing file
    int32_t fConflictsSkipped = 0;
    int32_t fUnchanged = 0;  // the target already held them

    // "Ergebnis:" lines of the counts above.
    std::vector<std::string> summaryLines() const;

  private:
    void count(const std::string& from);
    void restoreEntry(const std::string& from, const std::string& to);
    void restoreFolder(const std::string& from, const std::string& to, const struct stat& st);
    void restoreFile(const std::string& from, const std::string& to, const struct stat& st);
    bool copy(const std::string& from, const std::string& to);
    // A free name beside `to` with the restored marker.
    std::string besideName(const std::string& to) const;
    void fail(const std::string& line);
    void warn(const std::string& line);
    void stepDone();
    bool cancelled() const { return fStatus == csCancelled; }
};

}  // namespace qvb
