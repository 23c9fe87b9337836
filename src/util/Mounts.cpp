#include "util/Mounts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <sstream>

#include "util/QV_Basics.h"
#include "util/Sys.h"

namespace qvb {

namespace {

std::optional<std::string> readSmallFile(const std::string& path) {
    sys::UniqueFd fd(sys::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = sys::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) return std::nullopt;
        if (n == 0) return text;
        text.append(buffer, static_cast<size_t>(n));
    }
}

// The mount points (absolute, with a trailing "/") in field `index` (from 0)
// of each line; comment lines and entries such as "none" or "swap" are left out.
std::vector<std::string> mountPoints(const std::string& table, size_t index) {
    std::vector<std::string> points;
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream stream(line);
        std::vector<std::string> fields;
        for (std::string field; fields.size() <= index && stream >> field;) fields.push_back(field);
        if (fields.size() <= index || fields[0][0] == '#' || fields[index][0] != '/') continue;
        points.push_back(includeTrailingDelimiter(unescapeMountField(fields[index])));
    }
    return points;
}

bool isAtOrBelow(const std::string& path, const std::string& folder) {
    return path.compare(0, folder.size(), folder) == 0;
}

// The longest of `points` that holds `path`; empty when none does.
std::string deepestHolder(const std::vector<std::string>& points, const std::string& path) {
    std::string deepest;
    for (const std::string& point : points)
        if (isAtOrBelow(path, point) && point.size() > deepest.size()) deepest = point;
    return deepest;
}

std::optional<std::string> unmountedFstabEntry(const std::string& path,
                                               const TMountTables& tables) {
    const std::optional<std::string> fstab = readSmallFile(tables.fstab);
    if (!fstab) return std::nullopt;
    const std::string wanted = deepestHolder(mountPoints(*fstab, 1), path);
    if (wanted.empty()) return std::nullopt;
    // Without the table of mounts nothing can be told, and the run goes on as before.
    const std::optional<std::string> mountinfo = readSmallFile(tables.mountinfo);
    if (!mountinfo) return std::nullopt;
    // A mount at the fstab point itself, or deeper above the path, carries the path.
    const std::string mounted = deepestHolder(mountPoints(*mountinfo, 4), path);
    if (mounted.size() >= wanted.size()) return std::nullopt;
    return wanted;
}

// An unplugged medium leaves its empty folder below the media root, on the
// root's own file system.
std::optional<std::string> emptyMediaFolder(const std::string& path, const TMountTables& tables) {
    for (const std::string& root : tables.mediaRoots) {
        if (path.size() <= root.size() || !isAtOrBelow(path, root)) continue;
        struct stat rootStat {
        }, nearest{};
        if (sys::stat(root.c_str(), &rootStat) != 0) continue;
        if (sys::stat(nearestExistingAncestor(path).c_str(), &nearest) != 0) continue;
        if (nearest.st_dev == rootStat.st_dev) return root;
    }
    return std::nullopt;
}

// The f_type values of statfs for file systems behind a network.
constexpr std::array<unsigned long, 12> kNetworkTypes = {
    0x6969,      // NFS
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x65735546,  // FUSE (sshfs and the like)
    0x73757245,  // Coda
    0x5346414F,  // AFS
    0x6B414653,  // kAFS
    0x564C,      // NCP
    0x00C36400,  // Ceph
    0x01021997,  // 9P
    0x0BD00BD0,  // Lustre
};

struct TPseudoType {
    unsigned long magic;
    const char* name;
};

constexpr std::array<TPseudoType, 16> kPseudoTypes = {{
    {0x9FA0, "proc"},
    {0x62656572, "sysfs"},
    {0x1CD1, "devpts"},
    {0x27E0EB, "cgroup"},
    {0x63677270, "cgroup2"},
    {0x73636673, "securityfs"},
    {0x64626720, "debugfs"},
    {0x74726163, "tracefs"},
    {0x6165676C, "pstore"},
    {0xCAFE4A11, "bpf"},
    {0x19800202, "mqueue"},
    {0x958458F6, "hugetlbfs"},
    {0x62656570, "configfs"},
    {0x65735543, "fusectl"},
    {0x42494E4D, "binfmt_misc"},
    {0x0187, "autofs"},
}};

constexpr unsigned long kTmpfsMagic = 0x01021994;

// The type that the mount table gives the file system of device `dev`.
std::string mountedType(dev_t dev) {
    const std::optional<std::string> table = readSmallFile("/proc/self/mountinfo");
    if (!table) return {};
    const std::string id = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    for (const TMountEntry& mount : parseMountInfo(*table))
        if (mount.device == id) return mount.type;
    return {};
}

}  // namespace

std::optional<bool> namesIgnoreCase(const std::string& folder) {
    sys::UniqueFd dir(sys::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat before {
    }, st{};
    if (!dir.valid() || sys::fstat(dir.get(), &before) != 0) return std::nullopt;
    // A name never used before: a file system through FUSE may still know an
    // earlier probe's name for a while after it was removed.
    static std::atomic<unsigned> probes{0};
    std::string lower;
    int fd = -1;
    for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
        lower = ".qvb-case-probe-" + std::to_string(::getpid()) + "-" +
                std::to_string(probes.fetch_add(1)) + "-" + std::to_string(::time(nullptr)) +
                ".tst";
        fd = sys::openat(dir.get(), lower.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) return std::nullopt;
    }
    if (fd < 0) return std::nullopt;
    std::string upper = lower;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    sys::close(fd);
    const bool blind = sys::fstatat(dir.get(), upper.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    sys::unlinkat(dir.get(), lower.c_str(), 0);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    sys::futimens(dir.get(), times);
    return blind;
}

std::string pseudoFileSystemType(int fd, dev_t dev) {
    struct statfs st {};
    if (sys::fstatfs(fd, &st) != 0) return {};
    const auto type = static_cast<unsigned long>(st.f_type) & 0xFFFFFFFFul;
    for (const TPseudoType& pseudo : kPseudoTypes)
        if (type == pseudo.magic) return pseudo.name;
    // The devices' file system tells itself from a tmpfs by its mount only.
    if (type == kTmpfsMagic && mountedType(dev) == "devtmpfs") return "devtmpfs";
    return {};
}

bool onNetworkFileSystem(const std::string& path) {
    struct statfs st {};
    if (sys::statfs(nearestExistingAncestor(path).c_str(), &st) != 0) return false;
    const auto type = static_cast<unsigned long>(st.f_type) & 0xFFFFFFFFul;
    for (const unsigned long network : kNetworkTypes)
        if (type == network) return true;
    return false;
}

namespace {

constexpr unsigned long kFatType = 0x4d44;
constexpr unsigned long kFuseType = 0x65735546;

}  // namespace

bool isLocalTimeType(unsigned long fsType, const std::string& mountType) {
    if (fsType == kFatType) return true;
    if (fsType != kFuseType) return false;
    const size_t dot = mountType.find('.');
    if (dot == std::string::npos) return false;
    const std::string subtype = mountType.substr(dot + 1);
    return subtype == "fusefat" || subtype == "vfat" || subtype == "msdos" || subtype == "fat";
}

std::string mountTypeOf(const std::string& mountinfo, const std::string& path) {
    const std::string folder = includeTrailingDelimiter(path);
    std::string type;
    size_t deepest = 0;
    for (const TMountEntry& mount : parseMountInfo(mountinfo)) {
        const std::string point = includeTrailingDelimiter(mount.point);
        // A later mount on the same point covers an earlier one.
        if (isAtOrBelow(folder, point) && point.size() >= deepest) {
            deepest = point.size();
            type = mount.type;
        }
    }
    return type;
}

// Fields: id, parent, major:minor, root, mount point, options, optional
// fields up to a lone "-", then type and source.
std::vector<TMountEntry> parseMountInfo(const std::string& mountinfo) {
    std::vector<TMountEntry> mounts;
    std::istringstream lines(mountinfo);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream stream(line);
        std::vector<std::string> fields;
        for (std::string field; stream >> field;) fields.push_back(field);
        size_t separator = 5;
        while (separator < fields.size() && fields[separator] != "-") ++separator;
        if (fields.size() < 5 || separator + 1 >= fields.size()) continue;
        const std::string source =
            separator + 2 < fields.size() ? unescapeMountField(fields[separator + 2]) : "";
        mounts.push_back({fields[2], unescapeMountField(fields[4]), fields[separator + 1], source});
    }
    return mounts;
}

std::string fileSystemType(const std::string& path, const TMountTables& tables) {
    const std::optional<std::string> mountinfo = readSmallFile(tables.mountinfo);
    return mountinfo ? mountTypeOf(*mountinfo, nearestExistingAncestor(path)) : std::string();
}

bool storesTwoSecondSteps(const std::string& path) {
    struct statfs st {};
    return sys::statfs(path.c_str(), &st) == 0 &&
           (static_cast<unsigned long>(st.f_type) & 0xFFFFFFFFul) == kFatType;
}

bool storesLocalTime(const std::string& path, const TMountTables& tables) {
    struct statfs st {};
    if (sys::statfs(nearestExistingAncestor(path).c_str(), &st) != 0) return false;
    const auto type = static_cast<unsigned long>(st.f_type) & 0xFFFFFFFFul;
    if (type != kFuseType) return isLocalTimeType(type, {});
    const std::optional<std::string> mountinfo = readSmallFile(tables.mountinfo);
    return mountinfo &&
           isLocalTimeType(type, mountTypeOf(*mountinfo, nearestExistingAncestor(path)));
}

std::string unescapeMountField(const std::string& field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        const bool octal = field[i] == '\\' && i + 3 < field.size() &&
                           field.find_first_not_of("01234567", i + 1) >= i + 4;
        if (octal) {
            text += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

std::optional<std::string> missingMount(const std::string& path, const TMountTables& tables) {
    const std::string folder = includeTrailingDelimiter(path);
    if (std::optional<std::string> point = unmountedFstabEntry(folder, tables)) return point;
    return emptyMediaFolder(folder, tables);
}

}  // namespace qvb
