#include "platform/paths.h"

#include <algorithm>
#include <cctype>

namespace qb::platform {

namespace {
size_t lastDelimiter(std::string_view path) {
    return path.find_last_of("\\:");
}
char lowerChar(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}
}  // namespace

std::string extractFilePath(std::string_view path) {
    size_t p = lastDelimiter(path);
    return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}

std::string extractFileName(std::string_view path) {
    size_t p = lastDelimiter(path);
    return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

std::string extractFileExt(std::string_view path) {
    size_t p = path.find_last_of(".\\:");
    if (p == std::string_view::npos || path[p] != '.') return {};
    return std::string(path.substr(p));
}

std::string extractFileDrive(std::string_view path) {
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])))
        return std::string(path.substr(0, 2));
    return {};
}

std::string changeFileExt(std::string_view path, std::string_view ext) {
    size_t p = path.find_last_of(".\\:");
    std::string_view stem =
        (p != std::string_view::npos && path[p] == '.') ? path.substr(0, p) : path;
    std::string out(stem);
    out += ext;
    return out;
}

std::string includeTrailingBackslash(std::string_view path) {
    std::string out(path);
    if (out.empty() || out.back() != '\\') out += '\\';
    return out;
}

std::string excludeTrailingBackslash(std::string_view path) {
    std::string out(path);
    if (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

std::string joinPath(std::string_view folder, std::string_view name) {
    while (!name.empty() && name.front() == '\\')
        name.remove_prefix(1);
    if (folder.empty()) return std::string(name);
    return includeTrailingBackslash(folder) + std::string(name);
}

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = lowerChar(c);
    return out;
}

std::string upperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && compareNoCase(a, b) == 0;
}

int compareNoCase(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char x = lowerChar(a[i]);
        char y = lowerChar(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalsNoCase(s.substr(0, prefix.size()), prefix);
}

bool containsNoCase(std::string_view s, std::string_view part) {
    return lowerAscii(s).find(lowerAscii(part)) != std::string::npos;
}

}  // namespace qb::platform
