#pragma once

// Files with holes (disk images, databases) keep them in the copy: only the
// stretches that hold data are read and written, the rest stays unallocated.

#include <sys/stat.h>

#include <cstdint>

namespace qvb {

// [start, end) of a file that holds data.
struct TDataStretch {
    int64_t start = 0;
    int64_t end = 0;
};

// True when the file takes fewer blocks than its size needs: it has holes.
// Files without them keep the plain copy.
bool mayHaveHoles(const struct stat& st);

// The next stretch of data at or after `from`, below `size`. 0, ENXIO when
// only holes follow, or the errno of a failure. A file system that cannot
// tell holes reports everything as data.
int nextDataStretch(int fd, int64_t from, int64_t size, TDataStretch& stretch);

}  // namespace qvb
