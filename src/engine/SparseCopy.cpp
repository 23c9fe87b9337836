#include "engine/SparseCopy.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "util/Sys.h"

namespace qvb {

bool mayHaveHoles(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_size > 0 && int64_t{st.st_blocks} * 512 < st.st_size;
}

int nextDataStretch(int fd, int64_t from, int64_t size, TDataStretch& stretch) {
    if (from >= size) return ENXIO;
    const off_t data = sys::lseek(fd, from, SEEK_DATA);
    if (data < 0) {
        if (errno == ENXIO) return ENXIO;
        if (errno != EINVAL && errno != EOPNOTSUPP) return errno;
        stretch = {from, size};
        return 0;
    }
    if (data >= size) return ENXIO;
    const off_t hole = sys::lseek(fd, data, SEEK_HOLE);
    if (hole < 0) return errno;
    stretch = {data, std::min<int64_t>(hole, size)};
    return 0;
}

}  // namespace qvb
