#pragma once

// The versions a job keeps in its destination: the destination itself for a
// job run once, each interval folder for an automatic job. When a run wrote a
// version and how it ended is kept in the job's record ("Versionen"), never as
// a file in the backup; a version without such a note takes its folder's time.

#include <optional>
#include <string>
#include <vector>

#include "engine/Restore.h"
#include "util/DateTime.h"

namespace qvb {

class TCopyJob;

enum class TVersionState { Ok, Errors, Cancelled, Unknown };

// "ok", "Fehler", "abgebrochen", "unbekannt".
std::string versionStateText(TVersionState state);

// A run's note on the version it wrote.
struct TVersionRun {
    std::string folder;  // "täglich/d_02/", empty for the destination itself
    TDateTime time = 0;
    TVersionState state = TVersionState::Unknown;
};

// The stored text of the notes and back; entries that cannot be read are left out.
std::vector<TVersionRun> parseVersionRuns(const std::string& text);
std::string formatVersionRuns(const std::vector<TVersionRun>& runs);
// Notes that a run ended having written `folder` (replacing an older note on it).
void noteVersionRun(TCopyJob& job, const std::string& folder, TDateTime time, TVersionState state);

struct TVersion {
    std::string name;    // "täglich/d_02", "." for the destination itself
    std::string folder;  // "täglich/d_02/", empty for the destination itself
    std::string path;    // the folder, absolute, with a trailing "/"
    TDateTime time = 0;
    TVersionState state = TVersionState::Unknown;
};

// The versions found in the job's destination, newest first.
std::vector<TVersion> jobVersions(const TCopyJob& job);
// By name as jobVersions gives it ("täglich/d_02", also with a trailing "/").
const TVersion* findVersion(const std::vector<TVersion>& versions, const std::string& name);

// Where the tree of one source begins in a version. Several content-only
// sources fill one folder: their files cannot be told apart, and `original`
// is then empty.
struct TVersionRoot {
    std::string original;  // the source folder, with a trailing "/"
    std::string inBackup;  // its folder in the version, with a trailing "/"
};
std::vector<TVersionRoot> versionRoots(const TCopyJob& job, const TVersion& version);

// An original path of the job's sources and its place in a version.
struct TLocatedPath {
    std::string source;    // the job's source folder holding it, with a trailing "/"
    std::string relative;  // below the source, empty for the source itself
    std::string inBackup;  // where it lies in the version
};
// Empty when `original` lies in none of the job's sources.
std::optional<TLocatedPath> locateInVersion(const TCopyJob& job, const TVersion& version,
                                            const std::string& original);

// One version of a single file, as the "Versionen" list shows it.
struct TFileVersion {
    const TVersion* version = nullptr;
    TDateTime fileTime = 0;
    int64_t size = 0;
    bool differs = false;  // from the file at its original place now (or it is gone)
};
std::vector<TFileVersion> fileVersions(const TCopyJob& job, const std::vector<TVersion>& versions,
                                       const std::string& original);
// The same by the path below the versions' folders, which is the same in
// every version; `compareWith` is the file the versions are compared with.
std::vector<TFileVersion> fileVersionsAt(const std::vector<TVersion>& versions,
                                         const std::string& inVersion,
                                         const std::string& compareWith, int tolerance);

// One entry of a folder in a version, for the window's tree.
struct TVersionEntry {
    std::string name;  // bytes, as on disk
    bool folder = false;
    bool link = false;
    int64_t size = 0;
    TDateTime time = 0;
};
// The entries of `folder`, folders first, each group by name.
std::vector<TVersionEntry> listVersionFolder(const std::string& folder);

// The lines of --versions: the job's versions (time, version, state) or those
// of one file (time, version, size, "gleich" or "abweichend"), tab-separated.
std::string versionsText(const TCopyJob& job, const std::string& original);

// What a restore of original paths takes: each path from `versionName`, or
// without one from the newest version that holds it; to its original place or,
// with `toDir`, below `toDir` as it lies below its source. The German reason
// in `error` when a path is not in the job or not in the version.
std::vector<TRestoreItem> planRestore(const TCopyJob& job, const std::vector<TVersion>& versions,
                                      const std::string& versionName,
                                      const std::vector<std::string>& originals,
                                      const std::string& toDir, std::string& error);

// Why a restore into `target` must not be done (it lies in the job's
// destination, where the backup is); empty when it may.
std::string refusedTarget(const TCopyJob& job, const std::string& target);

}  // namespace qvb
