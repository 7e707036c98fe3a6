#include "sqx/names.h"

#include <cstdio>
#include <cwctype>

#include "sqx/support.h"

namespace sqx {

namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// Splits on either separator, dropping empty levels.
std::vector<std::string_view> splitLevels(std::string_view name) {
    std::vector<std::string_view> levels;
    size_t i = 0;
    while (i < name.size()) {
        while (i < name.size() && isSeparator(name[i]))
            ++i;
        size_t start = i;
        while (i < name.size() && !isSeparator(name[i]))
            ++i;
        if (i > start) levels.push_back(name.substr(start, i - start));
    }
    return levels;
}

// Decodes one UTF-8 sequence at s[i]; an invalid byte decodes to itself
// offset into a private range so that it round-trips through encode().
char32_t decodeAt(std::string_view s, size_t& i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) {
        ++i;
        return 0x110000 + c;
    }
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0x110000 + c;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    i += len;
    return cp;
}

void encode(char32_t cp, std::string& out) {
    if (cp >= 0x110000) {
        out += static_cast<char>(cp - 0x110000);
    } else if (cp < 0x80) {
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

char32_t foldChar(char32_t cp) {
    if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
    if (cp >= 0x110000) return cp;
    return static_cast<char32_t>(std::towlower(static_cast<wint_t>(cp)));
}

std::u32string foldedCodePoints(std::string_view s) {
    std::u32string out;
    size_t i = 0;
    while (i < s.size())
        out += foldChar(decodeAt(s, i));
    return out;
}

}  // namespace

std::string storedNameFromHost(std::string_view hostName, std::string_view sourcePath) {
    std::string stored;
    for (std::string_view level : splitLevels(hostName)) {
        if (level == ".") continue;
        if (level == "..")
            fail(SQX_ERR_BAD_NAME, "stored name \"" + std::string(hostName) + "\" for " +
                                       std::string(sourcePath) + " has a \"..\" level");
        if (!stored.empty()) stored += '/';
        stored += level;
    }
    if (stored.empty()) fail(SQX_ERR_BAD_NAME, "empty stored name for " + std::string(sourcePath));
    return stored;
}

std::string hostNameOf(std::string_view archiveName) {
    std::string out(archiveName);
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

std::string foldCase(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (char32_t cp : foldedCodePoints(utf8))
        encode(cp, out);
    return out;
}

std::string matchKey(std::string_view name) {
    std::string joined;
    for (std::string_view level : splitLevels(name)) {
        if (!joined.empty()) joined += '/';
        joined += level;
    }
    return foldCase(joined);
}

bool wildcardMatch(std::string_view pattern, std::string_view name) {
    if (pattern == "*.*" || pattern == "*") return true;
    std::u32string p = foldedCodePoints(pattern);
    std::u32string n = foldedCodePoints(name);
    // Iterative matcher: on a mismatch, let the last "*" swallow one more
    // character.
    size_t pi = 0, ni = 0, starP = std::u32string::npos, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == U'?' || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == U'*') {
            starP = pi++;
            starN = ni;
        } else if (starP != std::u32string::npos) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == U'*')
        ++pi;
    return pi == p.size();
}

std::vector<std::string> nameComponents(std::string_view archiveName, bool& unsafe) {
    unsafe = !archiveName.empty() && isSeparator(archiveName.front());
    std::vector<std::string> parts;
    for (std::string_view level : splitLevels(archiveName)) {
        if (level == ".") continue;
        if (level == "..") unsafe = true;
        parts.emplace_back(level);
    }
    return parts;
}

std::string volumePath(std::string_view firstPath, unsigned index) {
    if (index == 0) return std::string(firstPath);
    size_t slash = firstPath.rfind('/');
    size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    size_t dot = firstPath.rfind('.');
    // A leading dot starts a hidden name, not an extension.
    std::string_view stem = firstPath;
    if (dot != std::string_view::npos && dot > nameStart) stem = firstPath.substr(0, dot);
    char ext[16];
    std::snprintf(ext, sizeof ext, ".e%02u", index);
    return std::string(stem) + ext;
}

}  // namespace sqx
