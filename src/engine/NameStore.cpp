#include "engine/NameStore.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace qvb {

namespace {

// Big enough that the blocks cost next to nothing per name; taken straight
// from the system so that a cleared list gives its memory back.
constexpr size_t kBlockSize = size_t{1} << 20;

}  // namespace

void TNameStore::TUnmap::operator()(char* bytes) const {
    ::munmap(bytes, size);
}

char* TNameStore::place(size_t size) {
    static char none;
    if (size == 0) return &none;
    if (size > fFree) {
        const size_t blockSize = std::max(size, kBlockSize);
        void* p =
            ::mmap(nullptr, blockSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        fBlocks.emplace_back(static_cast<char*>(p), TUnmap{blockSize});
        fFree = blockSize;
    }
    const TBlock& block = fBlocks.back();
    char* at = block.get() + (block.get_deleter().size - fFree);
    fFree -= size;
    return at;
}

std::string_view TNameStore::keep(std::string_view name) {
    char* at = place(name.size());
    if (!name.empty()) std::memcpy(at, name.data(), name.size());
    return {at, name.size()};
}

void TNameStore::clear() {
    fBlocks.clear();
    fFree = 0;
}

}  // namespace qvb
