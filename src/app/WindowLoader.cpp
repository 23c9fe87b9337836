#include "app/WindowLoader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "app/WindowStart.h"
#include "util/Sys.h"

namespace qvb {

namespace {

void reportUnloadable(const std::string& reason) {
    std::fprintf(stderr, "QV_Backup: Das Fenster kann nicht geöffnet werden: %s\n", reason.c_str());
}

// Where the window module may be, in the order they are tried: beside the
// executable (the build tree, a portable copy), then the private library
// folder of an install.
std::vector<std::string> windowModuleCandidates(const std::string& executable) {
    const std::string folder = executable.substr(0, executable.rfind('/') + 1);
    return {folder + kWindowModuleFile, folder + QVB_WINDOW_MODULE_DIR + "/" + kWindowModuleFile};
}

// The first candidate that exists; when none does, the install location, so
// that the message names where the module belongs.
std::string chooseModule(const std::vector<std::string>& candidates) {
    struct stat st {};
    for (const std::string& path : candidates)
        if (sys::stat(path.c_str(), &st) == 0) return path;
    return candidates.back();
}

}  // namespace

int runWindow(int& argc, char** argv, const TCommandLine& line) {
    std::string executable;
    if (sys::readlink("/proc/self/exe", executable) < 0) {
        reportUnloadable("/proc/self/exe: " + sys::errorText(errno));
        return kExitUsage;
    }
    const std::string module = chooseModule(windowModuleCandidates(executable));
    // Never closed: the window's libraries stay until the program ends.
    void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto open =
        handle ? reinterpret_cast<TOpenWindow>(::dlsym(handle, kWindowEntryName)) : nullptr;
    if (!open) {
        const char* why = ::dlerror();
        reportUnloadable(why ? why : module);
        return kExitUsage;
    }
    return open(&argc, argv, line.iniFile.c_str(), line.showProtocol.c_str());
}

}  // namespace qvb
