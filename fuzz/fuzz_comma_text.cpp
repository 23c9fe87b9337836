// Splitting and joining the stored filter lists must never crash, and joining
// what was split must split back into the same items.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "util/CommaText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto items = qvb::splitCommaText(text);
    if (qvb::splitCommaText(qvb::joinCommaText(items)) != items) std::abort();
    qvb::splitDelimitedText(text, ';');
    return 0;
}
