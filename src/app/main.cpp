#include <cstdio>
#include <cstring>

#include "util/Konstanten.h"

namespace {

void printHelp() {
    std::printf(
        "QV_Backup %s\n"
        "Aufruf:\n"
        "  QV_Backup --help             diese Hilfe\n"
        "  QV_Backup --version          Programmversion\n",
        qvb::versionText().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s\n", qvb::versionText().c_str());
        return 0;
    }
    printHelp();
    return 0;
}
