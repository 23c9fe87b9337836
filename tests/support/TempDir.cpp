#include "support/TempDir.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace qvb::test {

namespace {

int removeEntry(const char* path, const struct stat* st, int flag, struct FTW*) {
    if (flag == FTW_DP || flag == FTW_D || flag == FTW_DNR) {
        ::chmod(path, 0700);
        ::rmdir(path);
    } else {
        ::unlink(path);
    }
    (void)st;
    return 0;
}

int openUp(const char* path, const struct stat*, int flag, struct FTW*) {
    if (flag == FTW_D || flag == FTW_DNR) ::chmod(path, 0700);
    return 0;
}

}  // namespace

void removeTree(const std::string& path) {
    // First make every folder enterable, then remove depth first.
    ::nftw(path.c_str(), openUp, 64, FTW_PHYS);
    ::nftw(path.c_str(), removeEntry, 64, FTW_PHYS | FTW_DEPTH);
}

TempDir::TempDir(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    fPath = std::string(buf.data()) + "/";
}

TempDir::~TempDir() {
    removeTree(fPath);
}

}  // namespace qvb::test
