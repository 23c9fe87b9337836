#include "engine/QV_FileList.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <iterator>
#include <new>
#include <tuple>

#include "engine/CopyIt.h"
#include "engine/DirWalk.h"
#include "engine/FindFile.h"
#include "engine/NameMask.h"
#include "util/Sys.h"
#include "util/TextCase.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

// Pending window events are handled once per this many listed files and
// folders: often enough for a responsive window, rare enough to cost nothing on
// a big tree.
constexpr int kEntriesPerEventCall = 64;

std::string withTrailingSlash(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

// Memory straight from the system, returned to it on release (the heap would
// keep freed chunks for later and so hold the entries twice at the end of a scan).
template <class T>
struct TPageAllocator {
    using value_type = T;
    TPageAllocator() = default;
    template <class U>
    TPageAllocator(const TPageAllocator<U>&) {}
    T* allocate(size_t n) {
        void* p = ::mmap(nullptr, n * sizeof(T), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) { ::munmap(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const TPageAllocator<U>&) const {
        return true;
    }
};

size_t hashName(std::string_view name) {
    return std::hash<std::string_view>{}(name);
}

}  // namespace

// One scan: the handlers of the file search fill the list, deciding skip
// items, left-out folders and empty folders.
class TFileList::Scanner {
  public:
    explicit Scanner(TFileList& list) : fList(list) {
        for (const std::string& item : list.fSkipList)
            if (!item.empty()) fSkips.push_back(foldCase(item));
        for (const std::string& item : list.fSkipBelow) fSkipsBelow.push_back(foldCase(item));
        if (!list.fExcludeDir.empty()) leaveOut(list.fExcludeDir);
        for (const std::string& folder : list.fExcludeDirs) leaveOut(folder);
    }

    // Moves what was found into the list. Entries are gathered in chunks during
    // the walk, so that the list never holds a half-empty array or two copies
    // of it: memory stays near the entries' own size however big the tree. The
    // chunks live in pages of their own that go back to the system as soon as
    // each is moved, so the final array (whose pages count only once written)
    // and the chunks together never take the entries' size twice.
    void moveEntriesInto(std::vector<TFileEntry>& entries) {
        size_t total = entries.size();
        for (const auto& chunk : fChunks) total += chunk.size();
        entries.reserve(total);
        for (auto& chunk : fChunks) {
            std::move(chunk.begin(), chunk.end(), std::back_inserter(entries));
            std::vector<TFileEntry, TPageAllocator<TFileEntry>>().swap(chunk);
        }
        fChunks.clear();
    }

    void run(TFindFile& search) {
        search.Criteria.Clear();
        TFileCriteria& files = search.Criteria.Files;
        files.setLiteralFolder(fList.fBaseDir);
        files.setMaskRule(fList.fIncludeOnly, fList.fExclude);
        // Every entry but folders: hidden, read-only, links and special files too.
        search.Criteria.Attributes.set(aiDirectory, fsUnset);
        search.OnFolderChange = [this](TFindFile& sender, const std::string& folder,
                                       TFolderIgnore& ignore) {
            folderChange(sender, folder, ignore);
        };
        search.OnFileMatch = [this](TFindFile& sender, const TFileDetails& file) {
            fileMatch(sender, file);
        };
        search.OnReadError = [this](TFindFile&, const std::string& folder, int err) {
            recordUnreadable(folder, err);
        };
        search.OnPseudoFolder = [this](TFindFile&, const std::string& folder,
                                       const std::string& type) {
            fList.fTraceLines.push_back("  Verzeichnis \"" + folder + "\" (Dateisystem " + type +
                                        ") wird nicht durchsucht");
        };
        search.StartSearch();
    }

  private:
    std::string relative(const std::string& path) const {
        return path.substr(fList.fBaseDir.size());
    }

    bool skipped(const std::string& relPath) const {
        if (fSkips.empty() && fSkipsBelow.empty()) return false;
        const std::string folded = foldCase("/" + relPath);
        for (const std::string& item : fSkips)
            if (folded.find(item) != std::string::npos) return true;
        for (const std::string& folder : fSkipsBelow)
            if (folded.compare(0, folder.size(), folder) == 0) return true;
        return false;
    }

    void add(TFileEntry entry) {
        ++fAdded;
        if (fChunks.empty() || fChunks.back().size() == kChunkSize) {
            fChunks.emplace_back();
            fChunks.back().reserve(kChunkSize);
        }
        fChunks.back().push_back(std::move(entry));
    }

    void notifyOwner() {
        if (fList.fOwner != nullptr && fList.fOwner->OnStatusChange)
            fList.fOwner->OnStatusChange(nullptr);
    }

    void recordUnreadable(const std::string& path, int err) {
        const std::string rel = relative(path);
        if (fList.fUnreadableDirs.empty() || fList.fUnreadableDirs.back() != rel)
            fList.fUnreadableDirs.push_back(rel);
        fList.fWarningLines.push_back("WARNUNG: Verzeichnis \"" + path +
                                      "\" kann nicht gelesen werden: " + sys::errorText(err));
        notifyOwner();
    }

    void warnSpecial(const std::string& path) {
        fList.fWarningLines.push_back("WARNUNG: \"" + path +
                                      "\" ist keine normale Datei (FIFO, Socket oder Gerät) und "
                                      "wird übersprungen");
    }

    static bool hasContent(const std::vector<TDirWalker::TItem>& items) {
        for (const TDirWalker::TItem& item : items)
            if (!item.name.empty() && item.name[0] != '.') return true;
        return false;
    }

    void addEmptyDir(const std::string& path, const struct stat& st) {
        add({fList.fNames.keep(std::string_view(path).substr(1)), fileTimeNs(st.st_mtim), 0,
             static_cast<uint16_t>(st.st_mode), ownerIndex(st), ekEmptyDir});
    }

    // Owners repeat across a tree: the last one is asked first, the table only on a change.
    uint16_t ownerIndex(const struct stat& st) {
        if (st.st_uid == fLastOwner.uid && st.st_gid == fLastOwner.gid) return fLastOwnerIndex;
        std::vector<TOwner>& owners = fList.fOwners;
        const TOwner owner{st.st_uid, st.st_gid};
        size_t index = 0;
        while (index < owners.size() && !(owners[index] == owner)) ++index;
        if (index == owners.size()) {
            // A tree of more owners than an index holds: the rest share one that is never applied.
            if (owners.size() == kUnknownOwner) return kUnknownOwner;
            owners.push_back(owner);
        }
        fLastOwner = owner;
        fLastOwnerIndex = static_cast<uint16_t>(index);
        return fLastOwnerIndex;
    }

    void leaveOut(const std::string& path) {
        TExcluded folder{withTrailingSlash(path), {}, false};
        folder.hasId = sys::stat(folder.path.c_str(), &folder.id) == 0;
        fExcluded.push_back(std::move(folder));
    }

    // Reached by its own path or under another spelling of it.
    bool isExcludedFolder(const std::string& path, const TDirWalker::TFolder* folder) const {
        for (const TExcluded& excluded : fExcluded) {
            if (path == excluded.path) return true;
            if (folder != nullptr && folder->depth > 1 && excluded.hasId &&
                folder->st.st_dev == excluded.id.st_dev && folder->st.st_ino == excluded.id.st_ino)
                return true;
        }
        return false;
    }

    void folderChange(TFindFile& search, const std::string& path, TFolderIgnore& ignore) {
        const TDirWalker::TFolder* folder = search.CurrentFolder();
        if (isExcludedFolder(path, folder)) {
            ignore = fiThisAndSubfolders;
            return;
        }
        ++fList.fDirCount;
        const std::string rel = relative(path);
        const bool skip = skipped(rel);
        if (folder != nullptr) listFolder(*folder, rel, skip);
        notifyOwner();
        letEventsRun(search);
        if (skip) ignore = fiThisAndSubfolders;
    }

    void listFolder(const TDirWalker::TFolder& folder, const std::string& rel, bool skip) {
        if (folder.depth == 1) fList.fBaseEmpty = folder.readError == 0 && folder.items.empty();
        if (!skip)
            fList.fFolders.push_back({rel, static_cast<uint16_t>(folder.st.st_mode),
                                      ownerIndex(folder.st), fileTimeNs(folder.st.st_mtim),
                                      fileTimeNs(folder.st.st_ctim)});
        if (fList.fListEmptyDirs && folder.readError == 0 && !hasContent(folder.items))
            addEmptyDir(folder.path, folder.st);
    }

    void fileMatch(TFindFile& search, const TFileDetails& file) {
        const struct stat& st = file.Stat;
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
            warnSpecial(file.Folder + file.FileName);
            return;
        }
        const size_t start = fList.fBaseDir.size();
        const size_t folderPart = file.Folder.size() - start;
        const size_t length = folderPart + file.FileName.size();
        char* relName = fList.fNames.place(length);
        file.Folder.copy(relName, folderPart, start);
        file.FileName.copy(relName + folderPart, file.FileName.size());
        TFileEntry entry{std::string_view(relName, length),
                         fileTimeNs(st.st_mtim),
                         static_cast<int64_t>(st.st_size),
                         static_cast<uint16_t>(st.st_mode),
                         ownerIndex(st),
                         S_ISLNK(st.st_mode) ? ekLink : ekFile};
        if (fList.fStatusEpochNs != 0) {
            const uint32_t age =
                statusAgeCode((fList.fStatusEpochNs - fileTimeNs(st.st_ctim)) / 1000);
            entry.statusAgeBytes[0] = static_cast<uint8_t>(age);
            entry.statusAgeBytes[1] = static_cast<uint8_t>(age >> 8);
            entry.statusAgeBytes[2] = static_cast<uint8_t>(age >> 16);
        }
        if (S_ISREG(st.st_mode) && st.st_nlink > 1)
            fList.fLinked.push_back(
                {st.st_dev, st.st_ino, fAdded, static_cast<uint32_t>(st.st_nlink)});
        add(entry);
        ++fList.fFileCount;
        fList.fTotalSize += st.st_size;
        letEventsRun(search);
    }

    // Folders count too, so that a tree of many empty folders keeps the window alive.
    void letEventsRun(const TFindFile& search) {
        if (search.Threaded || fList.fOffThread || ++fSinceEvents < kEntriesPerEventCall) return;
        fSinceEvents = 0;
        processPendingEvents();
    }

    static constexpr size_t kChunkSize = 4096;

    TFileList& fList;
    std::vector<std::vector<TFileEntry, TPageAllocator<TFileEntry>>> fChunks;
    std::vector<std::string> fSkips;
    std::vector<std::string> fSkipsBelow;
    struct TExcluded {
        std::string path;  // ends with "/"
        struct stat id;
        bool hasId;
    };
    std::vector<TExcluded> fExcluded;
    int fSinceEvents = 0;
    uint32_t fAdded = 0;  // entries so far: the index of the next one
    TOwner fLastOwner{static_cast<uid_t>(-1), static_cast<gid_t>(-1)};
    uint16_t fLastOwnerIndex = kUnknownOwner;
};

static_assert(sizeof(TFileEntry) <= 40, "a list entry must not grow");

uint32_t statusAgeCode(int64_t ageUs) {
    if (ageUs <= 0) return 0;
    const auto age = static_cast<uint64_t>(ageUs);
    const int bits = 64 - __builtin_clzll(age);
    if (bits <= 19) return static_cast<uint32_t>(age);
    const int shift = bits - 19;
    return (static_cast<uint32_t>(shift) << 18) + static_cast<uint32_t>(age >> shift);
}

TFileList::TFileList() : fFindFile(std::make_unique<TFindFile>()) {}
TFileList::~TFileList() = default;

void TFileList::Clear() {
    fEntries.clear();
    fNames.clear();
    fFolders.clear();
    fLinked.clear();
    fOwners.clear();
    fSlots.clear();
    fFileCount = 0;
    fDirCount = 0;
    fTotalSize = 0;
    fErrorCode = 0;
    fErrorText.clear();
    fUnreadableDirs.clear();
    fWarningLines.clear();
    fTraceLines.clear();
    fBaseEmpty = false;
}

void TFileList::setBaseDir(const std::string& dir) {
    fBaseDir = dir;
}

void TFileList::setSkipFolders(const std::string& text) {
    fSkipFolders.clear();
    for (char c : text)
        if (c != '*') fSkipFolders += c;
    // Split before the stars go: they tell where a blank separates two items.
    fSkipList.clear();
    fSkipBelow.clear();
    for (std::string item : splitNameItems(text, kSkipSeparators)) {
        item.erase(std::remove(item.begin(), item.end(), '*'), item.end());
        if (!item.empty()) fSkipList.push_back(std::move(item));
    }
}

void TFileList::anchorSkipItems(const std::string& folder) {
    const std::string base = foldCase(withTrailingSlash(folder));
    for (auto it = fSkipList.begin(); it != fSkipList.end();) {
        const std::string item = withTrailingSlash(foldCase(*it));
        if (item.size() > 1 && item[0] == '/' && item.compare(0, base.size(), base) == 0) {
            fSkipBelow.push_back(item.substr(base.size() - 1));
            it = fSkipList.erase(it);
        } else {
            ++it;
        }
    }
}

bool TFileList::scan() {
    if (fBaseDir.empty()) {
        fErrorCode = 1;
        fErrorText = "FEHLER: das Basisverzeichnis ist nicht angegeben!";
        return false;
    }
    struct stat st {};
    if (sys::stat(fBaseDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        fErrorCode = 2;
        fErrorText = "FEHLER: das Basisverzeichnis existiert nicht!";
        return false;
    }
    fBaseDir = withTrailingSlash(fBaseDir);
    Scanner scanner(*this);
    scanner.run(*fFindFile);
    if (!fUnreadableDirs.empty() && fUnreadableDirs.front().empty()) {
        // Nothing of the tree could be read: a mirror must not take that for an empty source.
        fErrorCode = 3;
        fErrorText = "FEHLER: das Basisverzeichnis kann nicht gelesen werden!";
        return false;
    }
    scanner.moveEntriesInto(fEntries);
    rebuildIndex();
    std::sort(fFolders.begin(), fFolders.end(),
              [](const TFolderEntry& a, const TFolderEntry& b) { return a.name < b.name; });
    std::sort(fLinked.begin(), fLinked.end(), [](const TLinkedName& a, const TLinkedName& b) {
        return std::tie(a.dev, a.ino, a.index) < std::tie(b.dev, b.ino, b.index);
    });
    return true;
}

const TFolderEntry* TFileList::findFolder(std::string_view name) const {
    const auto it = std::lower_bound(
        fFolders.begin(), fFolders.end(), name,
        [](const TFolderEntry& entry, std::string_view key) { return entry.name < key; });
    return it != fFolders.end() && it->name == name ? &*it : nullptr;
}

const TOwner& TFileList::ownerOf(uint16_t index) const {
    static const TOwner unknown{static_cast<uid_t>(-1), static_cast<gid_t>(-1)};
    return index < fOwners.size() ? fOwners[index] : unknown;
}

namespace {

// The home slot of a hash among `count` slots (any count, not only powers of two).
size_t homeSlot(size_t hash, size_t count) {
    return static_cast<size_t>((static_cast<unsigned __int128>(hash) * count) >> 64);
}

}  // namespace

void TFileList::rebuildIndex() {
    // Filled to two thirds at most: short probes, and fewer bytes per entry
    // than a power-of-two table, which would often be filled to a quarter.
    fSlots.assign(fEntries.size() + fEntries.size() / 2 + 16, 0);
    const size_t count = fSlots.size();
    for (size_t i = 0; i < fEntries.size(); ++i) {
        size_t slot = homeSlot(hashName(fEntries[i].name), count);
        while (fSlots[slot] != 0) slot = slot + 1 == count ? 0 : slot + 1;
        fSlots[slot] = static_cast<uint32_t>(i + 1);
    }
}

const TFileEntry* TFileList::find(std::string_view name) const {
    if (fSlots.empty()) return nullptr;
    const size_t count = fSlots.size();
    for (size_t slot = homeSlot(hashName(name), count); fSlots[slot] != 0;
         slot = slot + 1 == count ? 0 : slot + 1) {
        const TFileEntry& entry = fEntries[fSlots[slot] - 1];
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

// A hash look-up misses the cache for its slot, its entry and its name; the
// neighbours lie next to the entry of the name before. Copies made by several
// workers may be listed a place or two out of their source's order.
const TFileEntry* TFileList::find(std::string_view name, size_t& near) const {
    for (const size_t i : {near + 1, near - 1, near + 2, near - 2, near + 3, near - 3}) {
        if (i < fEntries.size() && fEntries[i].name == name) {
            near = i;
            return &fEntries[i];
        }
    }
    const TFileEntry* entry = find(name);
    if (entry) near = static_cast<size_t>(entry - fEntries.data());
    return entry;
}

TFileAction TFileList::compare(std::string_view name, std::optional<int64_t> destMtimeNs,
                               std::optional<int64_t> destSize) const {
    const TFileEntry* entry = find(name);
    return entry == nullptr ? kActionCreate : compare(*entry, destMtimeNs, destSize);
}

TFileAction TFileList::compare(const TFileEntry& entry, std::optional<int64_t> destMtimeNs,
                               std::optional<int64_t> destSize) const {
    if (!destMtimeNs) return kActionCreate;
    const __int128 newer = static_cast<__int128>(entry.mtimeNs) - *destMtimeNs;
    const __int128 tolerance = static_cast<__int128>(fTimeTolerance) * 1'000'000'000;
    constexpr __int128 kHour = __int128{3600} * 1'000'000'000;
    const bool hourOff = fDestLocalTime && newer - kHour <= tolerance && kHour - newer <= tolerance;
    if (newer > tolerance && !hourOff) return kActionReplace;
    const bool otherSize = destSize && *destSize != entry.size;
    if (newer < -tolerance)
        return otherSize || *destMtimeNs > static_cast<__int128>(fRunStartNs) + tolerance
                   ? kActionReplaceNewer
                   : kActionSkip;
    return otherSize ? kActionReplace : kActionSkip;
}

TDateTime TFileList::valueOf(const TFileEntry& entry) const {
    if (entry.kind == ekEmptyDir) return 0;
    int64_t seconds = entry.mtimeNs / 1'000'000'000;
    int64_t nanos = entry.mtimeNs % 1'000'000'000;
    if (nanos < 0) {
        nanos += 1'000'000'000;
        --seconds;
    }
    return dateTimeFromUnix(static_cast<time_t>(seconds), static_cast<long>(nanos));
}

}  // namespace qvb
