// Text pieces of Wine's registry format: escaping, values, key lines, name order.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/hive.h"

namespace qb::platform::hive {

namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kTicks1601To1970 = 116'444'736'000'000'000;

// Decodes one UTF-8 sequence at s[i] and advances i. Bytes that do not form a
// sequence stand for themselves (as Latin-1), so no input is lost or rejected.
uint32_t decodeOne(std::string_view s, size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    auto cont = [&](size_t k) {
        return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    };
    auto at = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(s[i + k])); };
    if (b0 >= 0xC2 && b0 <= 0xDF && cont(1)) {
        uint32_t cp = ((b0 & 0x1Fu) << 6) | (at(1) & 0x3F);
        i += 2;
        return cp;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF && cont(1) && cont(2)) {
        uint32_t cp = ((b0 & 0x0Fu) << 12) | ((at(1) & 0x3F) << 6) | (at(2) & 0x3F);
        if (cp >= 0x800) {
            i += 3;
            return cp;
        }
    }
    if (b0 >= 0xF0 && b0 <= 0xF4 && cont(1) && cont(2) && cont(3)) {
        uint32_t cp =
            ((b0 & 0x07u) << 18) | ((at(1) & 0x3F) << 12) | ((at(2) & 0x3F) << 6) | (at(3) & 0x3F);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            i += 4;
            return cp;
        }
    }
    ++i;
    return b0;
}

// Lower case of a UTF-16 unit for ordering names: ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic, the scripts key names use in practice.
char16_t lowerUnit(char16_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 32) : c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F))
        return static_cast<char16_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x178) return 0xFF;
        const bool evenUpper = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if ((evenUpper && c % 2 == 0) || (oddUpper && c % 2 == 1))
            return static_cast<char16_t>(c + 1);
    }
    return c;
}

// Walks the UTF-16 code units of UTF-8 text.
struct Units {
    std::string_view s;
    size_t i;
    char16_t pending = 0;
    bool done() const { return pending == 0 && i >= s.size(); }
    char16_t next() {
        if (pending) {
            char16_t p = pending;
            pending = 0;
            return p;
        }
        uint32_t cp = decodeOne(s, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            pending = static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
            return static_cast<char16_t>(0xD800 | (cp >> 10));
        }
        return static_cast<char16_t>(cp);
    }
};

void appendHex(std::string& out, unsigned value, bool eightDigits) {
    char buf[16];
    int n = std::snprintf(buf, sizeof buf, eightDigits ? "%08x" : "%x", value);
    out.append(buf, static_cast<size_t>(n));
}

}  // namespace

uint64_t nowFileTime() {
    const auto since1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    return static_cast<uint64_t>(since1970 / 100) + kTicks1601To1970;
}

void appendUtf8(std::string& out, uint32_t cp) {
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

std::u16string toUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    Units u{utf8, 0};
    while (!u.done())
        out += u.next();
    return out;
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
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
            ++i;
        }
        appendUtf8(out, c);
    }
}

std::string toUtf8(std::u16string_view s) {
    std::string out;
    appendUtf8(out, s);
    return out;
}

int compareNames(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    for (; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if ((ca | cb) & 0x80) break;
        if (ca != cb) {
            const int la = (ca >= 'A' && ca <= 'Z') ? ca + 32 : ca;
            const int lb = (cb >= 'A' && cb <= 'Z') ? cb + 32 : cb;
            if (la != lb) return la < lb ? -1 : 1;
        }
    }
    if (i == n) return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
    Units ua{a, i};
    Units ub{b, i};
    while (!ua.done() && !ub.done()) {
        const char16_t la = lowerUnit(ua.next());
        const char16_t lb = lowerUnit(ub.next());
        if (la != lb) return la < lb ? -1 : 1;
    }
    if (ua.done() && ub.done()) return 0;
    return ua.done() ? -1 : 1;
}

size_t appendEscaped(std::string& out, const std::u16string& text, const char quote[2]) {
    // The control characters that have a letter escape.
    static const char letters[33] = ".......abtnvfr.............e....";
    const size_t start = out.size();
    const size_t len = text.size();
    for (size_t i = 0; i < len; ++i) {
        const char16_t c = text[i];
        const bool more = i + 1 < len;
        if (c > 127) {
            const char16_t nx = more ? text[i + 1] : 0;
            const bool hexFollows = nx < 128 && std::isxdigit(static_cast<unsigned char>(nx));
            char buf[16];
            int n = std::snprintf(buf, sizeof buf, hexFollows ? "\\x%04x" : "\\x%x",
                                  static_cast<unsigned>(c));
            out.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (c < 32) {
            if (c == 0 && !more) continue;  // the terminating NUL is implied
            if (letters[c] != '.') {
                out += '\\';
                out += letters[c];
            } else {
                const char16_t nx = more ? text[i + 1] : 0;
                char buf[8];
                int n = std::snprintf(buf, sizeof buf, (nx >= '0' && nx <= '7') ? "\\%03o" : "\\%o",
                                      static_cast<unsigned>(c));
                out.append(buf, static_cast<size_t>(n));
            }
            continue;
        }
        if (c == '\\' || c == quote[0] || c == quote[1]) out += '\\';
        out += static_cast<char>(c);
    }
    return out.size() - start;
}

void appendValue(std::string& out, const Value& v) {
    size_t count;
    if (!v.name.empty()) {
        out += '"';
        count = 1 + appendEscaped(out, toUtf16(v.name), "\"\"");
        out += "\"=";
        count += 2;
    } else {
        out += "@=";
        count = 2;
    }
    const size_t len = v.data.size();
    switch (v.type) {
        case 1:  // REG_SZ
        case 2:  // REG_EXPAND_SZ
        case 7:  // REG_MULTI_SZ
            // Only strings with their terminating NUL are written as text.
            if (len >= 2 && len % 2 == 0 && v.data[len - 1] == 0 && v.data[len - 2] == 0) {
                if (v.type != 1) {
                    out += "str(";
                    appendHex(out, v.type, false);
                    out += "):";
                }
                std::u16string units(len / 2, u'\0');
                for (size_t k = 0; k < units.size(); ++k)
                    units[k] = static_cast<char16_t>(v.data[2 * k] | (v.data[2 * k + 1] << 8));
                out += '"';
                appendEscaped(out, units, "\"\"");
                out += "\"\n";
                return;
            }
            break;
        case 4:  // REG_DWORD
            if (len == 4) {
                const unsigned dw = static_cast<unsigned>(v.data[0]) | (v.data[1] << 8) |
                                    (v.data[2] << 16) | (static_cast<unsigned>(v.data[3]) << 24);
                out += "dword:";
                appendHex(out, dw, true);
                out += '\n';
                return;
            }
            break;
        default:
            break;
    }
    const size_t before = out.size();
    if (v.type == 3) {
        out += "hex:";
    } else {
        out += "hex(";
        appendHex(out, v.type, false);
        out += "):";
    }
    count += out.size() - before;
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < len; ++i) {
        out += digits[v.data[i] >> 4];
        out += digits[v.data[i] & 15];
        count += 2;
        if (i + 1 < len) {
            out += ',';
            if (++count > 76) {
                out += "\\\n  ";
                count = 2;
            }
        }
    }
    out += '\n';
}

void appendKeyLine(std::string& out, const Key& key) {
    std::vector<const Key*> chain;
    for (const Key* k = &key; k->parent; k = k->parent)
        chain.push_back(k);
    out += '[';
    for (size_t i = chain.size(); i-- > 0;) {
        appendEscaped(out, toUtf16(chain[i]->name), "[]");
        if (i) out += "\\\\";
    }
    out += "] ";
    const uint64_t seconds =
        key.modified > kTicks1601To1970 ? (key.modified - kTicks1601To1970) / kTicksPerSecond : 0;
    out += std::to_string(static_cast<uint32_t>(seconds));
    out += "\n#time=";
    appendHex(out, static_cast<unsigned>(key.modified >> 32), false);
    appendHex(out, static_cast<unsigned>(key.modified & 0xFFFFFFFFu), true);
    out += '\n';
}

}  // namespace qb::platform::hive
