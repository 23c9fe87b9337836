#pragma once

// The names of one file list, packed end to end in large blocks: a list often
// holds a million names, and a string of its own per name would take twice
// their bytes (its header, and a heap block rounded up for longer names).
// Names stay where they are until the store is cleared or destroyed.

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace qvb {

class TNameStore {
  public:
    TNameStore() = default;
    TNameStore(const TNameStore&) = delete;
    TNameStore& operator=(const TNameStore&) = delete;

    // Room for a name of `size` bytes, to be filled by the caller.
    char* place(size_t size);
    std::string_view keep(std::string_view name);
    void clear();

  private:
    struct TUnmap {
        size_t size;
        void operator()(char* bytes) const;
    };
    using TBlock = std::unique_ptr<char, TUnmap>;

    std::vector<TBlock> fBlocks;
    size_t fFree = 0;  // unused bytes at the end of the last block
};

}  // namespace qvb
