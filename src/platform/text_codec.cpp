#include "platform/text_codec.h"

#include <algorithm>
#include <array>

namespace qb::platform {

namespace {

// Windows-1252 bytes 0x80..0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

char32_t decodeUtf8(std::string_view s, size_t& i, bool* raw) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    auto cont = [&](size_t k) {
        return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    };
    auto at = [&](size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[i + k])); };
    if (b0 >= 0xC2 && b0 <= 0xDF && cont(1)) {
        const char32_t cp = ((b0 & 0x1Fu) << 6) | (at(1) & 0x3F);
        i += 2;
        return cp;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF && cont(1) && cont(2)) {
        const char32_t cp = ((b0 & 0x0Fu) << 12) | ((at(1) & 0x3F) << 6) | (at(2) & 0x3F);
        if (cp >= 0x800) {
            i += 3;
            return cp;
        }
    }
    if (b0 >= 0xF0 && b0 <= 0xF4 && cont(1) && cont(2) && cont(3)) {
        const char32_t cp =
            ((b0 & 0x07u) << 18) | ((at(1) & 0x3F) << 12) | ((at(2) & 0x3F) << 6) | (at(3) & 0x3F);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            i += 4;
            return cp;
        }
    }
    if (raw) *raw = true;
    ++i;
    return b0;
}

bool isValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        bool raw = false;
        if (isSurrogate(decodeUtf8(s, i, &raw)) || raw) return false;
    }
    return true;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendUtf8(std::string& out, std::u16string_view s) {
    if (std::all_of(s.begin(), s.end(), [](char16_t c) { return c < 0x80; })) {
        const size_t at = out.size();
        out.resize(at + s.size());
        for (size_t i = 0; i < s.size(); ++i)
            out[at + i] = static_cast<char>(s[i]);
        return;
    }
    out.reserve(out.size() + s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
            ++i;
        }
        appendUtf8(out, c);
    }
}

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (cp >> 10));
        out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    } else {
        out += static_cast<char16_t>(cp);
    }
}

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();)
        appendUtf16(out, decodeUtf8(utf8, i));
    return out;
}

std::optional<std::u16string> exactUtf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        bool raw = false;
        const char32_t cp = decodeUtf8(utf8, i, &raw);
        if (raw) return std::nullopt;
        appendUtf16(out, cp);
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    appendUtf8(out, utf16);
    return out;
}

std::u16string unitsFromUtf16Le(std::span<const uint8_t> bytes) {
    std::u16string out(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
}

std::vector<uint8_t> utf16LeBytes(std::u16string_view units, bool terminate) {
    std::vector<uint8_t> out((units.size() + (terminate ? 1 : 0)) * 2, 0);
    for (size_t i = 0; i < units.size(); ++i) {
        out[2 * i] = static_cast<uint8_t>(units[i] & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
    }
    return out;
}

std::vector<uint8_t> utf8ToUtf16Bytes(std::string_view text, bool terminate) {
    return utf16LeBytes(utf8ToUtf16(text), terminate);
}

std::string utf16BytesToUtf8(std::span<const uint8_t> bytes) {
    std::u16string units = unitsFromUtf16Le(bytes);
    const size_t nul = units.find(u'\0');
    if (nul != std::u16string::npos) units.resize(nul);
    return utf16ToUtf8(units);
}

std::string windows1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        appendUtf8(out, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : char32_t{c});
    }
    return out;
}

std::string utf8ToWindows1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const char32_t cp = decodeUtf8(utf8, i);
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out += static_cast<char>(cp);
            continue;
        }
        const auto* hit = std::find(kCp1252High.begin(), kCp1252High.end(), cp);
        out +=
            hit == kCp1252High.end() ? '?' : static_cast<char>(0x80 + (hit - kCp1252High.begin()));
    }
    return out;
}

std::string latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text)
        appendUtf8(out, static_cast<unsigned char>(ch));
    return out;
}

std::string escapeControls(std::string_view text, bool keepLineBreaks) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    auto hex = [&](unsigned char c) {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool pairsWithLineFeed =
            (i + 1 < text.size() && text[i + 1] == '\n') || (i > 0 && text[i - 1] == '\n');
        if (keepLineBreaks && (c == '\n' || (c == '\r' && pairsWithLineFeed))) {
            out += static_cast<char>(c);
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            hex(c);
        } else if (c == 0xc2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            hex(c);
            hex(static_cast<unsigned char>(text[++i]));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace qb::platform
