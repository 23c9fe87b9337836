// The skip list of a folder scan: any stored text splits into items that hold
// no "*"; without quotes each item is a piece of the star-free text holding no
// separator (a blank inside an item belongs to it, as in "Neuer Ordner").
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
    const bool quoted = text.find('"') != std::string::npos;
    for (const std::string& item : list.fSkipList) {
        QVB_CHECK(!item.empty());
        QVB_CHECK(item.find('*') == std::string::npos);
        if (quoted) continue;
        QVB_CHECK(item.find(';') == std::string::npos);
        QVB_CHECK(starFree.find(item) != std::string::npos);
    }
    return 0;
}
