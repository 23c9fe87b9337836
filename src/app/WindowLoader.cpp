#include "app/WindowLoader.h"

#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "app/WindowStart.h"
#include "session/ModuleFile.h"

namespace qvb {

namespace {

void reportUnloadable(const std::string& reason) {
    std::fprintf(stderr, "QV_Backup: Das Fenster kann nicht geöffnet werden: %s\n", reason.c_str());
}

}  // namespace

int runWindow(int& argc, char** argv, const TCommandLine& line) {
    std::string error;
    const std::string module = moduleFile(kWindowModuleFile, error);
    if (module.empty()) {
        reportUnloadable(error);
        return kExitUsage;
    }
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
