#include "jobs/Versions.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "jobs/CopyJob.h"
#include "util/QV_Basics.h"
#include "util/Sys.h"

namespace qvb {

namespace {

// Stored words; the German texts shown are versionStateText's.
const struct {
    TVersionState state;
    const char* stored;
    const char* shown;
} kStates[] = {
    {TVersionState::Ok, "ok", "ok"},
    {TVersionState::Errors, "fehler", "Fehler"},
    {TVersionState::Cancelled, "abgebrochen", "abgebrochen"},
    {TVersionState::Unknown, "unbekannt", "unbekannt"},
};

// The interval folders a run writes, by their parent and the start of their names.
const struct {
    const char* parent;
    const char* prefix;
} kIntervalFolders[] = {{"wöchentlich", "w_"}, {"täglich", "d_"}, {"stündlich", "h_"}};

// Plain splitting: the stored times hold a blank.
std::vector<std::string> split(const std::string& text, char delimiter) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(delimiter, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

bool isTwoDigitName(const std::string& name, const std::string& prefix) {
    return name.size() == prefix.size() + 2 && name.compare(0, prefix.size(), prefix) == 0 &&
           std::isdigit(static_cast<unsigned char>(name[prefix.size()])) &&
           std::isdigit(static_cast<unsigned char>(name[prefix.size() + 1]));
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return sys::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TDateTime folderTime(const std::string& path) {
    struct stat st {};
    if (sys::lstat(path.c_str(), &st) != 0) return 0;
    return dateTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

std::string withoutSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::vector<std::string> jobSourceFolders(const TCopyJob& job) {
    std::vector<std::string> folders;
    for (const std::string& entry : job.fSources)
        folders.push_back(includeTrailingDelimiter(expandFileName(sourceEntryDirectory(entry))));
    return folders;
}

}  // namespace

std::string versionStateText(TVersionState state) {
    for (const auto& s : kStates)
        if (s.state == state) return s.shown;
    return "unbekannt";
}

std::vector<TVersionRun> parseVersionRuns(const std::string& text) {
    std::vector<TVersionRun> runs;
    for (const std::string& entry : split(text, ';')) {
        const std::vector<std::string> fields = split(entry, '|');
        if (fields.size() != 3) continue;
        const std::optional<TDateTime> time = parseGermanDateTime(fields[1]);
        if (!time) continue;
        TVersionRun run{fields[0], *time, TVersionState::Unknown};
        for (const auto& s : kStates)
            if (fields[2] == s.stored) run.state = s.state;
        runs.push_back(run);
    }
    return runs;
}

std::string formatVersionRuns(const std::vector<TVersionRun>& runs) {
    std::string text;
    for (const TVersionRun& run : runs) {
        const char* word = "unbekannt";
        for (const auto& s : kStates)
            if (s.state == run.state) word = s.stored;
        text += (text.empty() ? "" : ";") + run.folder + "|" + formatGermanDateTime(run.time) +
                "|" + word;
    }
    return text;
}

void noteVersionRun(TCopyJob& job, const std::string& folder, TDateTime time, TVersionState state) {
    std::vector<TVersionRun> runs = parseVersionRuns(job.fVersionRuns);
    std::erase_if(runs, [&](const TVersionRun& run) { return run.folder == folder; });
    runs.push_back({folder, time, state});
    job.fVersionRuns = formatVersionRuns(runs);
}

std::vector<TVersion> jobVersions(const TCopyJob& job) {
    std::vector<std::string> folders;
    const std::string destination = includeTrailingDelimiter(job.fDestination);
    if (job.fDestination.empty() || !isFolder(destination)) return {};
    if (job.fInterval == kIntervalOnce) {
        folders.push_back({});
    } else {
        // Every kind of interval folder: a job whose interval changed keeps the older ones.
        for (const auto& kind : kIntervalFolders) {
            const std::string parent = destination + kind.parent + "/";
            sys::DirStream dir(sys::opendir(parent.c_str()));
            if (!dir.valid()) continue;
            while (const struct dirent* entry = sys::readdir(dir.get())) {
                const std::string name = entry->d_name;
                if (isTwoDigitName(name, kind.prefix) && isFolder(parent + name))
                    folders.push_back(std::string(kind.parent) + "/" + name + "/");
            }
        }
    }
    const std::vector<TVersionRun> runs = parseVersionRuns(job.fVersionRuns);
    std::vector<TVersion> versions;
    for (const std::string& folder : folders) {
        TVersion version{folder.empty() ? "." : withoutSlash(folder), folder, destination + folder,
                         0, TVersionState::Unknown};
        const auto run = std::find_if(runs.begin(), runs.end(),
                                      [&](const TVersionRun& r) { return r.folder == folder; });
        if (run != runs.end()) {
            version.time = run->time;
            version.state = run->state;
        } else {
            version.time = folderTime(version.path);
        }
        versions.push_back(version);
    }
    std::sort(versions.begin(), versions.end(), [](const TVersion& a, const TVersion& b) {
        return a.time != b.time ? a.time > b.time : a.name < b.name;
    });
    return versions;
}

const TVersion* findVersion(const std::vector<TVersion>& versions, const std::string& name) {
    const std::string wanted = name.empty() || name == "/" ? "." : withoutSlash(name);
    for (const TVersion& version : versions)
        if (version.name == wanted) return &version;
    return nullptr;
}

std::vector<TVersionRoot> versionRoots(const TCopyJob& job, const TVersion& version) {
    const std::vector<std::string> sources = jobSourceFolders(job);
    if (job.fContentOnly)
        return {{sources.size() == 1 ? sources.front() : std::string(), version.path}};
    std::vector<TVersionRoot> roots;
    for (const std::string& source : sources) {
        const std::string inBackup = version.path + source.substr(1);
        if (isFolder(inBackup)) roots.push_back({source, inBackup});
    }
    return roots;
}

std::optional<TLocatedPath> locateInVersion(const TCopyJob& job, const TVersion& version,
                                            const std::string& original) {
    const std::string path = withoutSlash(expandFileName(original));
    std::string best;
    for (const std::string& source : jobSourceFolders(job)) {
        const bool inside = path + "/" == source || path.compare(0, source.size(), source) == 0;
        if (inside && source.size() > best.size()) best = source;
    }
    if (best.empty()) return std::nullopt;
    TLocatedPath located;
    located.source = best;
    located.relative = path.size() >= best.size() ? path.substr(best.size()) : std::string();
    located.inBackup =
        (job.fContentOnly ? version.path : version.path + best.substr(1)) + located.relative;
    return located;
}

std::vector<TFileVersion> fileVersions(const TCopyJob& job, const std::vector<TVersion>& versions,
                                       const std::string& original) {
    if (versions.empty()) return {};
    const std::optional<TLocatedPath> located = locateInVersion(job, versions.front(), original);
    if (!located) return {};
    return fileVersionsAt(versions, located->inBackup.substr(versions.front().path.size()),
                          original, job.fTimeTolerance);
}

std::vector<TFileVersion> fileVersionsAt(const std::vector<TVersion>& versions,
                                         const std::string& inVersion,
                                         const std::string& compareWith, int tolerance) {
    std::vector<TFileVersion> result;
    struct stat now {};
    const bool present = sys::lstat(compareWith.c_str(), &now) == 0;
    for (const TVersion& version : versions) {
        const std::string path = withoutSlash(version.path + inVersion);
        struct stat st {};
        if (sys::lstat(path.c_str(), &st) != 0) continue;
        TFileVersion entry;
        entry.version = &version;
        entry.fileTime = dateTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        entry.size = S_ISDIR(st.st_mode) ? -1 : st.st_size;
        entry.differs = !present || !sameEntry(st, now, path, compareWith, tolerance);
        result.push_back(entry);
    }
    return result;
}

std::vector<TVersionEntry> listVersionFolder(const std::string& folder) {
    std::vector<TVersionEntry> entries;
    const std::string base = includeTrailingDelimiter(folder);
    sys::DirStream dir(sys::opendir(base.c_str()));
    if (!dir.valid()) return entries;
    while (const struct dirent* e = sys::readdir(dir.get())) {
        const std::string name = e->d_name;
        struct stat st {};
        if (name == "." || name == ".." || sys::lstat((base + name).c_str(), &st) != 0) continue;
        entries.push_back({name, S_ISDIR(st.st_mode), S_ISLNK(st.st_mode),
                           S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size),
                           dateTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec)});
    }
    std::sort(entries.begin(), entries.end(), [](const TVersionEntry& a, const TVersionEntry& b) {
        return a.folder != b.folder ? a.folder : a.name < b.name;
    });
    return entries;
}

std::string versionsText(const TCopyJob& job, const std::string& original) {
    const std::vector<TVersion> versions = jobVersions(job);
    std::string text;
    if (original.empty()) {
        for (const TVersion& v : versions)
            text += formatGermanDateTime(v.time) + '\t' + v.name + '\t' +
                    versionStateText(v.state) + '\n';
        return text;
    }
    for (const TFileVersion& f :
         fileVersions(job, versions, withoutSlash(expandFileName(original))))
        text += formatGermanDateTime(f.fileTime) + '\t' + f.version->name + '\t' +
                (f.size < 0 ? std::string("Verzeichnis") : std::to_string(f.size)) + '\t' +
                (f.differs ? "abweichend" : "gleich") + '\n';
    return text;
}

std::vector<TRestoreItem> planRestore(const TCopyJob& job, const std::vector<TVersion>& versions,
                                      const std::string& versionName,
                                      const std::vector<std::string>& originals,
                                      const std::string& toDir, std::string& error) {
    const TVersion* chosen = nullptr;
    if (!versionName.empty()) {
        chosen = findVersion(versions, versionName);
        if (!chosen) {
            error = "Der Job \"" + job.fJobName + "\" hat keine Version \"" + versionName + "\".";
            return {};
        }
    }
    std::vector<TRestoreItem> items;
    for (const std::string& given : originals) {
        const std::string original = withoutSlash(expandFileName(given));
        if (!locateInVersion(job, TVersion{}, original)) {
            error = "\"" + original + "\" liegt in keinem Quellverzeichnis des Jobs \"" +
                    job.fJobName + "\".";
            return {};
        }
        std::optional<TLocatedPath> located;
        for (const TVersion& version : versions) {
            if (chosen && &version != chosen) continue;
            located = locateInVersion(job, version, original);
            struct stat st {};
            if (sys::lstat(withoutSlash(located->inBackup).c_str(), &st) == 0) break;
            located.reset();
        }
        if (!located) {
            error = chosen ? "\"" + original + "\" ist in der Version \"" + chosen->name +
                                 "\" nicht enthalten."
                           : "\"" + original + "\" ist in keiner Version enthalten.";
            return {};
        }
        const std::string target =
            toDir.empty()
                ? original
                : withoutSlash(includeTrailingDelimiter(expandFileName(toDir)) + located->relative);
        items.push_back({withoutSlash(located->inBackup), target});
    }
    return items;
}

std::string refusedTarget(const TCopyJob& job, const std::string& target) {
    std::string existing = withoutSlash(expandFileName(target));
    while (!isFolder(existing) && existing != "/")
        existing = withoutSlash(extractFilePath(existing));
    if (job.fDestination.empty() || !isAtOrBelow(existing, job.fDestination)) return {};
    return "\"" + target + "\" liegt in der Sicherung \"" + job.fDestination +
           "\": dorthin wird nichts wiederhergestellt.";
}

}  // namespace qvb
