#pragma once

#include <string>

#include "util/Version.h"

namespace qvb {

inline constexpr char kPathDelimiter = '/';
inline constexpr const char* kApplicationTitle = "QV_Backup";
inline constexpr const char* kOrganisation = "Nerk";

// "Version MAJOR.MINOR.BUILD": the third of the four numbers is not shown.
inline std::string versionText() {
    return "Version " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionBuild);
}

}  // namespace qvb
