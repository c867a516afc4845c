#include "common/charset.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace qm {

bool isAscii(std::string_view text) {
    const char* p = text.data();
    std::size_t n = text.size(), i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (w & 0x8080808080808080ull) return false;
    }
    for (; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
    return true;
}

std::size_t utf8SequenceLength(std::string_view text) {
    if (text.empty()) return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    unsigned char c = s[0];
    if (c < 0x80) return 1;
    std::size_t len;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (len > text.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((s[k] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (s[k] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF.
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = utf8SequenceLength(text.substr(i));
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string storedToUtf8(std::string_view text) {
    if (isValidUtf8(text)) return std::string(text);
    // Windows-1252 positions 0x80-0x9F; the rest of the upper half equals Latin-1.
    static constexpr char16_t kCp1252High[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    out.reserve(text.size() * 2);
    for (char ch : text) {
        auto b = static_cast<unsigned char>(ch);
        char32_t cp = (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : b;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::string_view charsetFor(std::string_view text) {
    if (isAscii(text)) return "us-ascii";
    if (isValidUtf8(text)) return "utf-8";
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b <= 0x9F) return "windows-1252";
    }
    return "iso-8859-1";
}

std::size_t userLength(std::string_view text) {
    if (!isValidUtf8(text)) return text.size();
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string firstChars(std::string_view text, std::size_t n) {
    if (!isValidUtf8(text)) return std::string(text.substr(0, n));
    std::size_t i = 0;
    while (i < text.size() && n > 0) {
        i += utf8SequenceLength(text.substr(i));
        --n;
    }
    return std::string(text.substr(0, i));
}

}  // namespace qm
