#include "engine/FindFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <exception>

#include "engine/DirWalk.h"
#include "engine/Wildcard.h"
#include "util/QV_Basics.h"
#include "util/Sys.h"
#include "util/TextCase.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

// Attributes whose folders the walk does not enter when the criteria want them unset.
constexpr uint32_t kFolderSkipBits =
    faHidden | faSystem | faDevice | faTemporary | faOffline | faEncrypted | faVirtual;

// Folder lists split at ";" without dropping case variants: "/A" and "/a" are
// two folders here.
std::vector<std::string> splitFolders(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        std::string item(trimmed(std::string_view(text).substr(start, end - start)));
        if (!item.empty()) items.push_back(std::move(item));
        start = end + 1;
    }
    return items;
}

// A whole number in the text, or nothing.
bool readLevel(const std::string& text, uint16_t& level) {
    const std::string t(trimmed(text));
    if (t.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(t.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    level = static_cast<uint16_t>(value);
    return true;
}

// Reads the prefix grammar of one location item: "[min-max|max]>folder"
// enters subfolders, "<folder" does not.
TTargetPath parseTargetItem(std::string item, bool subfolders, uint16_t minLevel,
                            uint16_t maxLevel) {
    TTargetPath target;
    target.Subfolders = subfolders;
    target.MinLevel = minLevel;
    target.MaxLevel = maxLevel;
    if (const size_t gt = item.find('>'); gt != std::string::npos) {
        const std::string levels(trimmed(std::string_view(item).substr(0, gt)));
        item.erase(0, gt + 1);
        target.Subfolders = true;
        if (!levels.empty()) {
            if (const size_t dash = levels.find('-'); dash != std::string::npos) {
                readLevel(levels.substr(0, dash), target.MinLevel);
                readLevel(levels.substr(dash + 1), target.MaxLevel);
            } else {
                readLevel(levels, target.MaxLevel);
                target.MinLevel = 0;
            }
        }
    } else if (const size_t lt = item.find('<'); lt != std::string::npos) {
        item.erase(0, lt + 1);
        target.Subfolders = false;
    }
    // No folder at all means the current one, as for any relative folder.
    const std::string folder(trimmed(item));
    target.Folder = includeTrailingDelimiter(expandFileName(folder.empty() ? "." : folder));
    return target;
}

// A target for a folder already present is merged into it: the later item's
// flags and levels win, its masks are appended.
void addTarget(TTargetPaths& targets, TTargetPath target) {
    for (TTargetPath& known : targets) {
        if (known.Folder != target.Folder) continue;
        known.Subfolders = target.Subfolders;
        known.MinLevel = target.MinLevel;
        known.MaxLevel = target.MaxLevel;
        known.FileMasks.insert(known.FileMasks.end(), target.FileMasks.begin(),
                               target.FileMasks.end());
        return;
    }
    targets.push_back(std::move(target));
}

bool isFolderType(unsigned char type) {
    return type == DT_DIR;
}

// Only an entry the listing gives no type for may turn out to be a folder.
bool mayBeFolder(unsigned char type) {
    return type == DT_DIR || type == DT_UNKNOWN;
}

}  // namespace

TDateTime TFileDetails::Created() const {
    return FileTimeToLocalDateTime(Stat.st_ctim);
}
TDateTime TFileDetails::Modified() const {
    return FileTimeToLocalDateTime(Stat.st_mtim);
}
TDateTime TFileDetails::Accessed() const {
    return FileTimeToLocalDateTime(Stat.st_atim);
}

uint32_t fileAttributes(const std::string& name, const struct stat& st) {
    uint32_t a = 0;
    if (S_ISDIR(st.st_mode)) a |= faDirectory;
    if (!name.empty() && name[0] == '.') a |= faHidden;
    if (S_ISLNK(st.st_mode)) {
        a |= faReparsePoint;
    } else if ((st.st_mode & S_IWUSR) == 0) {
        a |= faReadOnly;  // a link's own permission bits mean nothing
    }
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
        a |= faDevice;
    return a == 0 ? faNormal : a;
}

TDateTime FileTimeToLocalDateTime(const struct timespec& time) {
    return dateTimeFromUnix(time.tv_sec, time.tv_nsec);
}

bool MatchesDateBounds(TDateTime before, TDateTime after, TDateTime value) {
    auto comparable = [value](TDateTime bound) {
        if (timeOf(bound) == 0) return dateOf(value);
        if (dateOf(bound) == 0) return timeOf(value);
        return value;
    };
    if (before != 0 && comparable(before) > before) return false;
    if (after != 0 && comparable(after) < after) return false;
    return true;
}

// ---- file criteria

void TFileCriteria::Clear() {
    fFileName.clear();
    fLocation.clear();
    fLiteralFolder.clear();
    fMaskBase.clear();
    fIncludeOnly = TNameMasks();
    fExclude = TNameMasks();
    fPaths.clear();
    Filters.clear();
    fSubfolders = true;
    fMinLevel = 0;
    fMaxLevel = 0;
    discardTargets();
}

void TFileCriteria::setFileName(const std::string& masks) {
    if (masks != fFileName) discardTargets();
    fFileName = masks;
}
void TFileCriteria::setLocation(const std::string& folders) {
    if (folders != fLocation) discardTargets();
    fLocation = folders;
}
void TFileCriteria::setPaths(std::vector<std::string> lines) {
    fPaths = std::move(lines);
    discardTargets();
}
void TFileCriteria::setSubfolders(bool value) {
    if (value != fSubfolders) discardTargets();
    fSubfolders = value;
}
void TFileCriteria::setMinLevel(uint16_t value) {
    if (value != fMinLevel) discardTargets();
    fMinLevel = value;
}
void TFileCriteria::setMaxLevel(uint16_t value) {
    if (value != fMaxLevel) discardTargets();
    fMaxLevel = value;
}

void TFileCriteria::setLiteralFolder(const std::string& folder) {
    if (folder != fLiteralFolder) discardTargets();
    fLiteralFolder = folder;
    fMaskBase = folder.empty() ? std::string() : includeTrailingDelimiter(folder);
}

void TFileCriteria::setMaskRule(std::string_view includeOnly, std::string_view exclude) {
    fIncludeOnly = TNameMasks(includeOnly);
    fExclude = TNameMasks(exclude);
}

const TTargetPaths& TFileCriteria::GetTargetPaths() const {
    if (fTargets) return *fTargets;
    auto targets = std::make_shared<TTargetPaths>();
    std::vector<std::string> masks = SplitList(fFileName, ";");
    if (masks.empty()) masks.push_back("*.*");
    if (!fLiteralFolder.empty())
        addTarget(*targets, {includeTrailingDelimiter(fLiteralFolder), masks, fSubfolders,
                             fMinLevel, fMaxLevel});
    for (const std::string& item : splitFolders(fLocation)) {
        TTargetPath target = parseTargetItem(item, fSubfolders, fMinLevel, fMaxLevel);
        target.FileMasks = masks;
        addTarget(*targets, std::move(target));
    }
    for (const std::string& raw : fPaths) {
        const std::string line(trimmed(raw));
        if (line.empty()) continue;
        const size_t slash = line.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : line.substr(0, slash + 1);
        const std::string mask = line.substr(folder.size());
        TTargetPath target = parseTargetItem(folder, fSubfolders, fMinLevel, fMaxLevel);
        target.FileMasks = {mask.empty() ? std::string("*.*") : mask};
        addTarget(*targets, std::move(target));
    }
    fTargets = std::move(targets);
    return *fTargets;
}

bool TFileCriteria::acceptedByMaskRule(const std::string& folder, const std::string& name) const {
    if (fIncludeOnly.empty() && fExclude.empty()) return true;
    const bool below = !fMaskBase.empty() && folder.compare(0, fMaskBase.size(), fMaskBase) == 0;
    const size_t start = below ? fMaskBase.size() - 1 : 0;
    // Made at its exact size: this runs for every name of a tree.
    std::string path(folder.size() - start + name.size(), '\0');
    folder.copy(path.data(), folder.size() - start, start);
    name.copy(path.data() + folder.size() - start, name.size());
    return listedByMasks(fIncludeOnly, fExclude, foldCase(path));
}

bool TFileCriteria::AcceptFileName(const std::string& folder, const std::string& name) const {
    if (!acceptedByMaskRule(folder, name)) return false;
    if (Filters.empty()) return true;
    std::string subject = foldCase(folder + name);
    if (name.find('.') == std::string::npos) subject += '.';
    for (const std::string& rule : Filters) {
        if (!rule.empty() && rule[0] == '>') {
            if (matchesWildcardFolded(subject, foldCase(std::string_view(rule).substr(1))))
                return true;
            continue;
        }
        const std::string_view pattern =
            !rule.empty() && rule[0] == '<' ? std::string_view(rule).substr(1) : rule;
        if (matchesWildcardFolded(subject, foldCase(pattern))) return false;
    }
    return true;
}

// ---- attribute, time and size criteria

void TAttributesCriteria::Clear() {
    SetMask = UnsetMask = AnySetMask = AnyUnsetMask = 0;
}

TFileAttributeStatus TAttributesCriteria::get(TAttributeIndex index) const {
    const uint32_t bit = 1u << (index - 1);
    if (SetMask & bit) return fsSet;
    if (UnsetMask & bit) return fsUnset;
    if (AnySetMask & bit) return fsAnySet;
    if (AnyUnsetMask & bit) return fsAnyUnset;
    return fsIgnore;
}

void TAttributesCriteria::set(TAttributeIndex index, TFileAttributeStatus status) {
    const uint32_t bit = 1u << (index - 1);
    SetMask &= ~bit;
    UnsetMask &= ~bit;
    AnySetMask &= ~bit;
    AnyUnsetMask &= ~bit;
    switch (status) {
        case fsSet:
            SetMask |= bit;
            break;
        case fsUnset:
            UnsetMask |= bit;
            break;
        case fsAnySet:
            AnySetMask |= bit;
            break;
        case fsAnyUnset:
            AnyUnsetMask |= bit;
            break;
        default:
            break;
    }
}

bool TAttributesCriteria::Matches(uint32_t a) const {
    if ((a & SetMask) != SetMask) return false;
    if ((a & UnsetMask) != 0) return false;
    if (AnySetMask != 0 && (a & AnySetMask) == 0) return false;
    if (AnyUnsetMask != 0 && (a & AnyUnsetMask) == AnyUnsetMask) return false;
    return true;
}

bool TDateTimeCriteria::Matches(const TFileDetails& file) const {
    // A time is converted (a local-time look-up) only when a bound asks for it:
    // a listing of a million files usually asks for none.
    auto pair = [&file](TDateTime before, TDateTime after,
                        TDateTime (TFileDetails::*time)() const) {
        return (before == 0 && after == 0) || MatchesDateBounds(before, after, (file.*time)());
    };
    return pair(CreatedBefore, CreatedAfter, &TFileDetails::Created) &&
           pair(ModifiedBefore, ModifiedAfter, &TFileDetails::Modified) &&
           pair(AccessedBefore, AccessedAfter, &TFileDetails::Accessed);
}

bool TSizeCriteria::Matches(int64_t size) const {
    return (Min == 0 || size >= Min) && (Max == 0 || size <= Max);
}

void TSearchCriteria::Clear() {
    Files.Clear();
    Attributes.Clear();
    TimeStamp.Clear();
    Size.Clear();
    Content.Clear();
}

bool TSearchCriteria::Matches(const TFileDetails& file) const {
    return MatchesName(file.Folder, file.FileName) && MatchesDetails(file);
}

bool TSearchCriteria::MatchesName(const std::string& folder, const std::string& name) const {
    return Files.AcceptFileName(folder, name);
}

bool TSearchCriteria::MatchesDetails(const TFileDetails& file) const {
    return Attributes.Matches(file.Attributes) && Size.Matches(file.Size) &&
           TimeStamp.Matches(file) &&
           (Content.Phrase().empty() || Content.AcceptContent(file.Folder + file.FileName));
}

// ---- the search

TFindFile::TFindFile() : fAlive(std::make_shared<TFindFile*>(this)) {}

TFindFile::~TFindFile() {
    AbortSearch();
    if (fSearchThread.joinable()) fSearchThread.join();
    fAlive.reset();
}

void TFindFile::AbortSearch() {
    if (fBusy.load()) fAborted.store(true);
}

void TFindFile::NotifySearchBegin() {
    if (OnSearchBegin) OnSearchBegin(*this);
}

void TFindFile::NotifySearchFinish() {
    if (OnSearchFinish && fAlive) OnSearchFinish(*this);
}

TFolderIgnore TFindFile::NotifyFolderChange(const std::string& folder) {
    TFolderIgnore ignore = fiNone;
    if (!Aborted() && OnFolderChange) OnFolderChange(*this, folder, ignore);
    return ignore;
}

void TFindFile::NotifyFileMatch(const TFileDetails& file) {
    if (!Aborted() && OnFileMatch) OnFileMatch(*this, file);
}

bool TFindFile::AcceptFile(const TFileDetails& file) {
    return !Aborted() && fActiveCriteria->MatchesDetails(file);
}

void TFindFile::StartSearch() {
    if (fBusy.load()) return;
    fBusy.store(true);
    fAborted.store(false);
    fActiveCriteria = std::make_unique<TSearchCriteria>(Criteria);
    fFolderSkipMask = fActiveCriteria->Attributes.UnsetMask & kFolderSkipBits;
    fFoldersMayMatch = (fActiveCriteria->Attributes.UnsetMask & faDirectory) == 0;
    NotifySearchBegin();
    if (!Threaded) {
        struct EndGuard {
            TFindFile& f;
            ~EndGuard() { f.endSearch(); }
        } guard{*this};
        searchAllTargets();
        return;
    }
    fOwnerThread = std::this_thread::get_id();
    try {
        fSearchThread = std::thread([this] { runWorker(); });
    } catch (...) {
        endSearch();
        throw;
    }
}

void TFindFile::runWorker() {
    if (ThreadPriority != 0)
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), ThreadPriority);
    std::string failure;
    try {
        searchAllTargets();
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "Unbekannter Fehler";
    }
    std::weak_ptr<TFindFile*> alive = fAlive;
    postToThread(fOwnerThread, [alive, failure] {
        const std::shared_ptr<TFindFile*> self = alive.lock();
        if (!self) return;
        TFindFile& f = **self;
        if (f.fSearchThread.joinable()) f.fSearchThread.join();
        if (!failure.empty())
            userInterface().showMessage(TMsgKind::Error, failure, mbOK, TMsgResult::OK);
        f.endSearch();
    });
}

void TFindFile::endSearch() {
    fActiveCriteria.reset();
    fCurrentTarget = nullptr;
    fBusy.store(false);
    NotifySearchFinish();
}

void TFindFile::searchAllTargets() {
    for (const TTargetPath& target : fActiveCriteria->Files.GetTargetPaths()) {
        if (Aborted()) break;
        fLevel = 0;
        fCurrentTarget = &target;
        searchTarget(target);
    }
}

void TFindFile::searchTarget(const TTargetPath& target) {
    TDirWalker walker;
    auto visit = [this](TDirWalker::TFolder& folder, std::vector<std::string>& descend) {
        visitFolder(folder, descend);
    };
    // A folder that cannot be listed is still announced, and reports nothing.
    auto fail = [this](const std::string& path, size_t depth, int err) {
        fLevel = static_cast<uint16_t>(depth);
        if (announceFolder(path, nullptr) != fiThisAndSubfolders && OnReadError)
            OnReadError(*this, path, err);
    };
    walker.setOnPseudoFolder([this](const std::string& path, const std::string& type) {
        if (OnPseudoFolder) OnPseudoFolder(*this, path, type);
    });
    walker.walk(target.Folder, visit, fail, &fAborted);
    fLevel = 0;
}

TFolderIgnore TFindFile::announceFolder(const std::string& path, TDirWalker::TFolder* folder) {
    fCurrentFolder = folder;
    const TFolderIgnore ignore = NotifyFolderChange(path);
    fCurrentFolder = nullptr;
    return ignore;
}

void TFindFile::visitFolder(TDirWalker::TFolder& folder, std::vector<std::string>& descend) {
    const TTargetPath& target = *fCurrentTarget;
    fLevel = static_cast<uint16_t>(folder.depth);
    const TFolderIgnore ignore = announceFolder(folder.path, &folder);
    if (ignore == fiThisAndSubfolders) return;
    if (folder.readError != 0 && OnReadError) OnReadError(*this, folder.path, folder.readError);
    const bool files =
        (ignore == fiNone || ignore == fiJustSubfolders) && fLevel >= target.MinLevel;
    const bool deeper = target.Subfolders && ignore != fiJustSubfolders &&
                        (target.MaxLevel == 0 || fLevel < target.MaxLevel);
    fStatError = 0;
    searchEntries(folder, files, deeper, descend);
    if (fStatError != 0 && OnReadError) OnReadError(*this, folder.path, fStatError);
}

// Masks are tried before an entry's details are read: a file they leave out
// costs no fstatat, nor does a folder the listing names as one. Every mask
// reports its files in listing order, a file matching two masks twice.
void TFindFile::searchEntries(const TDirWalker::TFolder& folder, bool files, bool deeper,
                              std::vector<std::string>& descend) {
    const std::vector<TDirWalker::TItem>& items = folder.items;
    fStatStates.assign(items.size(), ssUnread);
    // One pass uses each entry's details at once; only more masks revisit them.
    const size_t passes = files ? fCurrentTarget->FileMasks.size() : 1;
    fStats.resize(passes > 1 ? std::max<size_t>(items.size(), 1) : 1);
    fDetails.Folder = folder.path;
    const std::vector<std::string> noMasks;
    const std::vector<std::string>& masks = files ? fCurrentTarget->FileMasks : noMasks;
    for (size_t m = 0; m == 0 || m < masks.size(); ++m) {
        const bool firstPass = m == 0;
        for (size_t i = 0; i < items.size(); ++i) {
            if (Aborted()) return;
            const TDirWalker::TItem& item = items[i];
            const bool listedFolder = isFolderType(item.type);
            const bool folderCheck = firstPass && deeper && mayBeFolder(item.type);
            const bool wanted = m < masks.size() && (fFoldersMayMatch || !listedFolder) &&
                                matchesListingMask(item.name, masks[m]) &&
                                fActiveCriteria->MatchesName(folder.path, item.name);
            if (!wanted && !folderCheck) continue;
            if ((wanted || !listedFolder) && !readDetails(folder, i)) continue;
            const bool isFolder = listedFolder || S_ISDIR(statOf(i).st_mode);
            if (folderCheck && isFolder && !skipsFolder(item.name)) descend.push_back(item.name);
            if (wanted) reportFile(folder, i);
        }
    }
}

bool TFindFile::readDetails(const TDirWalker::TFolder& folder, size_t index) {
    if (fStatStates[index] == ssUnread) {
        const bool read = sys::fstatat(folder.fd, folder.items[index].name.c_str(), &statOf(index),
                                       AT_SYMLINK_NOFOLLOW) == 0;
        fStatStates[index] = read ? ssRead : ssFailed;
        // An entry gone since the listing holds nothing to report.
        if (!read && errno != ENOENT && fStatError == 0) fStatError = errno;
    }
    return fStatStates[index] == ssRead;
}

void TFindFile::reportFile(const TDirWalker::TFolder& folder, size_t index) {
    const std::string& name = folder.items[index].name;
    fDetails.FileName = name;
    fDetails.Stat = statOf(index);
    fDetails.Attributes = fileAttributes(name, fDetails.Stat);
    fDetails.Size = fDetails.Stat.st_size;
    if (AcceptFile(fDetails)) NotifyFileMatch(fDetails);
}

// A folder's attributes beyond Directory come from its name alone.
bool TFindFile::skipsFolder(const std::string& name) const {
    return (fFolderSkipMask & faHidden) != 0 && !name.empty() && name[0] == '.';
}

}  // namespace qvb
