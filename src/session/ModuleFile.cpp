#include "session/ModuleFile.h"

#include <sys/stat.h>

#include <cerrno>

#include "util/Sys.h"

namespace qvb {

std::string moduleFile(const std::string& file, std::string& error) {
    std::string executable;
    if (sys::readlink("/proc/self/exe", executable) < 0) {
        error = "/proc/self/exe: " + sys::errorText(errno);
        return {};
    }
    const std::string folder = executable.substr(0, executable.rfind('/') + 1);
    const std::string beside = folder + file;
    struct stat st {};
    if (sys::stat(beside.c_str(), &st) == 0) return beside;
    return folder + QVB_MODULE_DIR + "/" + file;
}

}  // namespace qvb
