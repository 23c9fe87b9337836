#include "util/CommaText.h"

namespace qvb {

namespace {

bool isBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

std::vector<std::string> splitDelimitedText(const std::string& text, char delimiter, char quote) {
    std::vector<std::string> items;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && isBlankOrControl(text[i])) ++i;
    while (i < n) {
        std::string item;
        if (quote != '\0' && text[i] == quote) {
            ++i;
            while (i < n) {
                if (text[i] == quote) {
                    if (i + 1 < n && text[i + 1] == quote) {
                        item += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
        } else {
            while (i < n && text[i] != delimiter && !isBlankOrControl(text[i])) item += text[i++];
        }
        items.push_back(std::move(item));
        while (i < n && isBlankOrControl(text[i])) ++i;
        if (i < n && text[i] == delimiter) {
            ++i;
            while (i < n && isBlankOrControl(text[i])) ++i;
            if (i == n) items.emplace_back();
        }
    }
    return items;
}

std::string joinDelimitedText(const std::vector<std::string>& items, char delimiter, char quote) {
    std::string out;
    for (size_t k = 0; k < items.size(); ++k) {
        if (k > 0) out += delimiter;
        const std::string& item = items[k];
        bool needsQuotes = item.empty();
        for (char c : item)
            if (isBlankOrControl(c) || c == delimiter || c == quote) needsQuotes = true;
        if (!needsQuotes || quote == '\0') {
            out += item;
            continue;
        }
        out += quote;
        for (char c : item) {
            if (c == quote) out += quote;
            out += c;
        }
        out += quote;
    }
    return out;
}

}  // namespace qvb
