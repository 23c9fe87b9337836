#include "engine/FindFile.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

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

bool isBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && isBlankOrControl(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlankOrControl(text.back())) text.remove_suffix(1);
    return std::string(text);
}

// Folder lists split at ";" without dropping case variants: "/A" and "/a" are
// two folders here.
std::vector<std::string> splitFolders(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        std::string item = trimmed(std::string_view(text).substr(start, end - start));
        if (!item.empty()) items.push_back(std::move(item));
        start = end + 1;
    }
    return items;
}

// A whole number in the text, or nothing.
bool readLevel(const std::string& text, uint16_t& level) {
    const std::string t = trimmed(text);
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
        const std::string levels = trimmed(std::string_view(item).substr(0, gt));
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
    target.Folder = includeTrailingDelimiter(expandFileName(trimmed(item)));
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

int64_t nanoseconds(const struct timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

TFileDetails detailsOf(const std::string& folder, const std::string& name, const struct stat& st) {
    TFileDetails d;
    d.Folder = folder;
    d.FileName = name;
    d.Attributes = fileAttributes(name, st);
    d.Size = st.st_size;
    d.Created = FileTimeToLocalDateTime(st.st_ctim);
    d.Modified = FileTimeToLocalDateTime(st.st_mtim);
    d.Accessed = FileTimeToLocalDateTime(st.st_atim);
    d.ModifiedNs = nanoseconds(st.st_mtim);
    d.Mode = st.st_mode;
    return d;
}

}  // namespace

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

const TTargetPaths& TFileCriteria::GetTargetPaths() const {
    if (fTargets) return *fTargets;
    auto targets = std::make_shared<TTargetPaths>();
    std::vector<std::string> masks = SplitList(fFileName, ";");
    if (masks.empty()) masks.push_back("*.*");
    for (const std::string& item : splitFolders(fLocation)) {
        TTargetPath target = parseTargetItem(item, fSubfolders, fMinLevel, fMaxLevel);
        target.FileMasks = masks;
        addTarget(*targets, std::move(target));
    }
    for (const std::string& raw : fPaths) {
        const std::string line = trimmed(raw);
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

bool TFileCriteria::AcceptFileName(const std::string& folder, const std::string& name) const {
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
    auto pair = [](TDateTime before, TDateTime after, TDateTime value) {
        return (before == 0 && after == 0) || MatchesDateBounds(before, after, value);
    };
    return pair(CreatedBefore, CreatedAfter, file.Created) &&
           pair(ModifiedBefore, ModifiedAfter, file.Modified) &&
           pair(AccessedBefore, AccessedAfter, file.Accessed);
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
    return Attributes.Matches(file.Attributes) && Size.Matches(file.Size) &&
           TimeStamp.Matches(file) && Files.AcceptFileName(file.Folder, file.FileName) &&
           Content.AcceptContent(file.Folder + file.FileName);
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
    return !Aborted() && fActiveCriteria->Matches(file);
}

void TFindFile::StartSearch() {
    if (fBusy.load()) return;
    fBusy.store(true);
    fAborted.store(false);
    fActiveCriteria = std::make_unique<TSearchCriteria>(Criteria);
    fFolderSkipMask = fActiveCriteria->Attributes.UnsetMask & kFolderSkipBits;
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
    auto visit = [&](TDirWalker::TFolder& folder, std::vector<std::string>& descend) {
        fLevel = static_cast<uint16_t>(folder.depth);
        const TFolderIgnore ignore = NotifyFolderChange(folder.path);
        std::vector<struct stat> stats(folder.items.size());
        std::vector<bool> known(folder.items.size());
        for (size_t i = 0; i < folder.items.size(); ++i)
            known[i] = sys::fstatat(folder.fd, folder.items[i].name.c_str(), &stats[i],
                                    AT_SYMLINK_NOFOLLOW) == 0;
        if ((ignore == fiNone || ignore == fiJustSubfolders) && fLevel >= target.MinLevel) {
            for (const std::string& mask : target.FileMasks) {
                for (size_t i = 0; i < folder.items.size(); ++i) {
                    if (Aborted()) return;
                    const std::string& name = folder.items[i].name;
                    if (!known[i] || !matchesListingMask(name, mask)) continue;
                    const TFileDetails details = detailsOf(folder.path, name, stats[i]);
                    if (AcceptFile(details)) NotifyFileMatch(details);
                }
            }
        }
        const bool deeper = target.MaxLevel == 0 || fLevel < target.MaxLevel;
        if (!target.Subfolders || !(ignore == fiNone || ignore == fiJustThis) || !deeper) return;
        for (size_t i = 0; i < folder.items.size(); ++i) {
            if (Aborted()) return;
            if (!known[i] || !S_ISDIR(stats[i].st_mode)) continue;
            if ((fileAttributes(folder.items[i].name, stats[i]) & fFolderSkipMask) == 0)
                descend.push_back(folder.items[i].name);
        }
    };
    // A folder that cannot be listed is still announced, and reports nothing.
    auto fail = [&](const std::string& path, size_t depth, int) {
        fLevel = static_cast<uint16_t>(depth);
        NotifyFolderChange(path);
    };
    walker.walk(target.Folder, visit, fail, &fAborted);
    fLevel = 0;
}

}  // namespace qvb
