#pragma once

#include <string>

#include "util/Version.h"

namespace qvb {

inline constexpr char kPathDelimiter = '/';
inline constexpr const char* kApplicationTitle = "QV_Backup";
inline constexpr const char* kOrganisation = "Nerk";

// "Version MAJOR.MINOR.BUILD" of a four-number version: the third number is
// not shown, so 4.7.2.0 reads "Version 4.7.0".
inline std::string versionText(int major, int minor, int /*release*/, int build) {
    return "Version " + std::to_string(major) + "." + std::to_string(minor) + "." +
           std::to_string(build);
}

// The version compiled into the program.
inline std::string versionText() {
    return versionText(kVersionMajor, kVersionMinor, kVersionRelease, kVersionBuild);
}

}  // namespace qvb
