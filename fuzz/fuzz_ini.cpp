// Any bytes parse into a document whose text is valid UTF-8 and reads back as
// the same document, byte for byte; every value found before the round trip
// is found after it, and a value set is found again.
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "platform/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvb;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TIniDocument doc = parseIni(bytes);
    const std::string text = doc.serialize();
    QVB_CHECK(isValidUtf8(text));
    const TIniDocument again = parseIni(text);
    QVB_CHECK(again.serialize() == text);
    for (const TIniSection& section : doc.sections())
        for (const TIniLine& line : section.lines) {
            if (!line.isEntry) continue;
            const std::string* before = doc.find(section.name, line.key);
            const std::string* after = again.find(section.name, line.key);
            // A later section of the same name is found neither time.
            QVB_CHECK((before == nullptr) == (after == nullptr));
            QVB_CHECK(!before || *before == *after);
        }
    doc.set("Fuzz", "Wert", "eins zwei");
    QVB_CHECK(doc.find("FUZZ", "wert") && *doc.find("FUZZ", "wert") == "eins zwei");
    QVB_CHECK(*parseIni(doc.serialize()).find("fuzz", "WERT") == "eins zwei");
    return 0;
}
