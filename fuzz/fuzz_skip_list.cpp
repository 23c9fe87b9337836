// The skip list of a folder scan: any stored text splits into items that hold
// no "*", no separator and no blank, each one a piece of the text itself.
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "engine/QV_FileList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvb;
    const std::string text(reinterpret_cast<const char*>(data), size);
    TFileList list;
    list.setSkipFolders(text);
    std::string starFree;
    for (char c : text)
        if (c != '*') starFree += c;
    QVB_CHECK(list.fSkipFolders == starFree);
    for (const std::string& item : list.fSkipList) {
        QVB_CHECK(item.find_first_of("*;") == std::string::npos);
        for (unsigned char c : item) QVB_CHECK(c > ' ');
        QVB_CHECK(starFree.find(item) != std::string::npos);
    }
    return 0;
}
