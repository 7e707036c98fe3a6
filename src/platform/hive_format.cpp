// Text pieces of Wine's registry format: escaping, values, key lines, name order.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/hive.h"
#include "platform/text_codec.h"

namespace qb::platform::hive {

namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kTicks1601To1970 = 116'444'736'000'000'000;

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
        char32_t cp = decodeUtf8(s, i);
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
        count = 1 + appendEscaped(out, utf8ToUtf16(v.name), "\"\"");
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
                const std::u16string units = unitsFromUtf16Le(v.data);
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
        appendEscaped(out, utf8ToUtf16(chain[i]->name), "[]");
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
