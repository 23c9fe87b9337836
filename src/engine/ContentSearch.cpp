// The content criterion of the file search: finds a phrase in a file stored as
// UTF-16 (either byte order, by its mark), as UTF-8 with a mark, or as plain
// bytes, optionally as a whole word and case-insensitively.

#include <fcntl.h>
#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "engine/FindFile.h"
#include "util/Sys.h"

namespace qvb {

namespace {

constexpr size_t kBlockSize = 61440;

bool isWordCodePoint(int32_t cp) {
    if (cp < 0) return false;
    switch (utf8proc_category(cp)) {
        case UTF8PROC_CATEGORY_LU:
        case UTF8PROC_CATEGORY_LL:
        case UTF8PROC_CATEGORY_LT:
        case UTF8PROC_CATEGORY_LM:
        case UTF8PROC_CATEGORY_LO:
        case UTF8PROC_CATEGORY_ND:
        case UTF8PROC_CATEGORY_NL:
        case UTF8PROC_CATEGORY_NO:
            return true;
        default:
            return false;
    }
}

// Case and word tables, built once so that scanning makes no per-character calls.
struct Tables {
    std::array<char, 256> same8{};
    std::vector<char16_t> lower16 = std::vector<char16_t>(65536);
    std::vector<char16_t> same16 = std::vector<char16_t>(65536);
    std::vector<bool> word16 = std::vector<bool>(65536);

    Tables() {
        for (int c = 0; c < 256; ++c) {
            same8[c] = static_cast<char>(c);
        }
        for (int32_t c = 0; c < 65536; ++c) {
            same16[c] = static_cast<char16_t>(c);
            const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
            const int32_t l = surrogate ? c : utf8proc_tolower(c);
            lower16[c] = static_cast<char16_t>(l < 65536 ? l : c);
            word16[c] = !surrogate && isWordCodePoint(c);
        }
    }
};

const Tables& tables() {
    static const Tables instance;
    return instance;
}

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

int32_t decodeAt(const char* p, size_t available) {
    utf8proc_int32_t cp = -1;
    if (available == 0) return -1;
    utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(p),
                     static_cast<utf8proc_ssize_t>(std::min<size_t>(available, 4)), &cp);
    return cp;
}

// Byte text (UTF-8 or plain): the neighbours of a match are decoded as UTF-8.
struct ByteUnits {
    using Unit = char;
    static bool wordBefore(const std::vector<char>& buf, size_t pos) {
        size_t start = pos - 1;
        for (int k = 0;
             k < 3 && start > 0 && isContinuation(static_cast<unsigned char>(buf[start])); ++k)
            --start;
        return isWordCodePoint(decodeAt(buf.data() + start, pos - start));
    }
    static bool wordAt(const std::vector<char>& buf, size_t pos) {
        return isWordCodePoint(decodeAt(buf.data() + pos, buf.size() - pos));
    }
    static constexpr size_t kLook = 4;
};

struct WideUnits {
    using Unit = char16_t;
    static bool wordBefore(const std::vector<char16_t>& buf, size_t pos) {
        return tables().word16[buf[pos - 1]];
    }
    static bool wordAt(const std::vector<char16_t>& buf, size_t pos) {
        return tables().word16[buf[pos]];
    }
    static constexpr size_t kLook = 1;
};

// Feeds the file's bytes after the mark, block by block.
class BlockSource {
  public:
    BlockSource(int fd, std::vector<char> first, size_t skip) : fFd(fd), fFirst(std::move(first)) {
        fFirst.erase(fFirst.begin(), fFirst.begin() + static_cast<long>(skip));
    }
    // Next bytes; empty at the end. False on a read error.
    bool next(std::vector<char>& out) {
        if (!fFirstTaken) {
            fFirstTaken = true;
            out = std::move(fFirst);
            if (!out.empty()) return true;
        }
        out.resize(kBlockSize);
        const ssize_t n = sys::read(fFd, out.data(), out.size());
        if (n < 0) return false;
        out.resize(static_cast<size_t>(n));
        return true;
    }

  private:
    int fFd;
    std::vector<char> fFirst;
    bool fFirstTaken = false;
};

template <typename Traits, typename Decode>
int scan(BlockSource& source, const std::vector<typename Traits::Unit>& phrase,
         const typename Traits::Unit* fold, bool wholeWord, Decode decode) {
    using Unit = typename Traits::Unit;
    std::vector<Unit> buf;
    std::vector<char> bytes;
    size_t start = 0;
    bool atFileStart = true;
    const size_t len = phrase.size();
    auto fits = [&](size_t i) {
        for (size_t k = 0; k < len; ++k)
            if (fold[static_cast<std::make_unsigned_t<Unit>>(buf[i + k])] != phrase[k])
                return false;
        return true;
    };
    for (;;) {
        if (!source.next(bytes)) return -1;
        const bool eof = bytes.empty();
        decode(bytes, buf);
        const size_t look = wholeWord ? Traits::kLook : 0;
        const size_t limit =
            eof ? buf.size() : (buf.size() > len + look ? buf.size() - len - look + 1 : 0);
        for (size_t i = start; i < limit && i + len <= buf.size(); ++i) {
            if (!fits(i)) continue;
            if (!wholeWord) return 1;
            const bool before = (i == 0 && atFileStart) ? false : Traits::wordBefore(buf, i);
            const bool after = i + len < buf.size() && Traits::wordAt(buf, i + len);
            if (!before && !after) return 1;
        }
        if (eof) return 0;
        start = std::max(start, limit);
        const size_t keep = start > Traits::kLook ? start - Traits::kLook : 0;
        if (keep > 0) atFileStart = false;
        buf.erase(buf.begin(), buf.begin() + static_cast<long>(keep));
        start -= keep;
    }
}

void appendUtf16(int32_t cp, std::vector<char16_t>& out) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

// A lead byte at `pos` whose sequence the end of the bytes cuts short.
bool cutSequence(const std::vector<char>& bytes, size_t pos) {
    const auto lead = static_cast<unsigned char>(bytes[pos]);
    const size_t length = (lead & 0xE0) == 0xC0   ? 2
                          : (lead & 0xF0) == 0xE0 ? 3
                          : (lead & 0xF8) == 0xF0 ? 4
                                                  : 1;
    if (bytes.size() - pos >= length) return false;
    for (size_t i = pos + 1; i < bytes.size(); ++i)
        if (!isContinuation(static_cast<unsigned char>(bytes[i]))) return false;
    return true;
}

// Byte text read case-insensitively: decoded as UTF-8 (a byte outside any
// sequence as Latin-1, as the phrase is), so that letters beyond ASCII fold
// too. A sequence cut by the end of a block waits for the next one.
class Utf8Decoder {
  public:
    void operator()(const std::vector<char>& bytes, std::vector<char16_t>& out) {
        const bool eof = bytes.empty();
        fCarry.insert(fCarry.end(), bytes.begin(), bytes.end());
        size_t i = 0;
        while (i < fCarry.size()) {
            utf8proc_int32_t cp = -1;
            utf8proc_ssize_t n =
                utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(fCarry.data() + i),
                                 static_cast<utf8proc_ssize_t>(fCarry.size() - i), &cp);
            if (n <= 0) {
                if (!eof && cutSequence(fCarry, i)) break;
                cp = static_cast<unsigned char>(fCarry[i]);
                n = 1;
            }
            appendUtf16(cp, out);
            i += static_cast<size_t>(n);
        }
        fCarry.erase(fCarry.begin(), fCarry.begin() + static_cast<long>(i));
    }

  private:
    std::vector<char> fCarry;
};

std::u16string toUtf16(const std::string& utf8) {
    std::vector<char16_t> units;
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(utf8.size());
    while (left > 0) {
        utf8proc_int32_t cp = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(p, left, &cp);
        if (n <= 0) {  // not UTF-8: take the byte as Latin-1
            cp = *p;
            p += 1;
            left -= 1;
        } else {
            p += n;
            left -= n;
        }
        appendUtf16(cp, units);
    }
    return std::u16string(units.begin(), units.end());
}

std::string composed(const std::string& text) {
    utf8proc_uint8_t* nfc = utf8proc_NFC(reinterpret_cast<const utf8proc_uint8_t*>(text.c_str()));
    if (nfc == nullptr) return text;
    std::string out(reinterpret_cast<const char*>(nfc));
    std::free(nfc);
    return out;
}

}  // namespace

void TContentCriteria::Clear() {
    setPhrase({});
    Options = 0;
}

void TContentCriteria::setPhrase(const std::string& phrase) {
    if (phrase == fPhrase) return;
    fPhrase = phrase;
    fVariants.Ansi = phrase;
    fVariants.Utf8 = composed(phrase);
    fVariants.Unicode = toUtf16(fVariants.Utf8);
}

bool TContentCriteria::AcceptContent(const std::string& path) const {
    if (fPhrase.empty()) return true;
    // Never blocks on a FIFO and never follows a link: only regular files are read.
    sys::UniqueFd fd(sys::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!fd.valid() || sys::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::vector<char> first(kBlockSize);
    const ssize_t n = sys::read(fd.get(), first.data(), first.size());
    if (n < 0) return false;
    first.resize(static_cast<size_t>(n));
    const auto* b = reinterpret_cast<const unsigned char*>(first.data());
    const bool caseSensitive = (Options & csoCaseSensitive) != 0;
    const bool wholeWord = (Options & csoWholeWord) != 0;
    const Tables& t = tables();
    int found;
    if (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        const bool bigEndian = b[0] == 0xFE;
        const char16_t* fold = caseSensitive ? t.same16.data() : t.lower16.data();
        std::vector<char16_t> phrase;
        for (char16_t c : fVariants.Unicode) phrase.push_back(fold[c]);
        BlockSource source(fd.get(), std::move(first), 2);
        std::vector<char> carry;  // an odd byte left from the last block
        auto decode = [bigEndian, &carry](const std::vector<char>& bytes,
                                          std::vector<char16_t>& out) {
            carry.insert(carry.end(), bytes.begin(), bytes.end());
            size_t i = 0;
            for (; i + 1 < carry.size(); i += 2) {
                const auto lo = static_cast<unsigned char>(carry[i]);
                const auto hi = static_cast<unsigned char>(carry[i + 1]);
                out.push_back(static_cast<char16_t>(bigEndian ? (lo << 8) | hi : (hi << 8) | lo));
            }
            carry.erase(carry.begin(), carry.begin() + static_cast<long>(i));
        };
        found = scan<WideUnits>(source, phrase, fold, wholeWord, decode);
    } else {
        const bool utf8Mark = n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF;
        BlockSource source(fd.get(), std::move(first), utf8Mark ? 3 : 0);
        if (caseSensitive) {
            const std::string& form = utf8Mark ? fVariants.Utf8 : fVariants.Ansi;
            const std::vector<char> phrase(form.begin(), form.end());
            auto decode = [](const std::vector<char>& bytes, std::vector<char>& out) {
                out.insert(out.end(), bytes.begin(), bytes.end());
            };
            found = scan<ByteUnits>(source, phrase, t.same8.data(), wholeWord, decode);
        } else {
            std::vector<char16_t> phrase;
            for (char16_t c : fVariants.Unicode) phrase.push_back(t.lower16[c]);
            found = scan<WideUnits>(source, phrase, t.lower16.data(), wholeWord, Utf8Decoder());
        }
    }
    if (found < 0) return false;
    return (found == 1) != ((Options & csoNegate) != 0);
}

}  // namespace qvb
