#include "catalog/reads.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/files.h"

namespace qb::catalog {

using platform::Registry;
using platform::ValueType;

bool keyExists(RootKey root, std::string_view key) {
    Registry reg(root);
    return reg.keyExists(key);
}

bool valueExists(RootKey root, std::string_view key, std::string_view name) {
    Registry reg(root);
    return reg.openKeyReadOnly(key) && reg.valueExists(name);
}

std::vector<std::string> subKeyNames(RootKey root, std::string_view key) {
    Registry reg(root);
    if (!reg.openKeyReadOnly(key)) return {};
    return reg.keyNames();
}

std::optional<int32_t> readNumber(RootKey root, std::string_view key, std::string_view name) {
    Registry reg(root);
    if (!reg.openKeyReadOnly(key)) return std::nullopt;
    const auto type = reg.dataType(name);
    if (type == ValueType::Dword) return reg.readInteger(name);
    if (type != ValueType::String && type != ValueType::ExpandString) return std::nullopt;
    const std::string text = reg.readString(name);
    int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

std::optional<std::string> readFileBytes(std::string_view winPath) {
    if (winPath.empty() || !platform::fileExists(winPath)) return std::nullopt;
    const auto host = platform::hostPath(winPath);
    if (!host) return std::nullopt;
    std::ifstream in(*host, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(s).str();
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

}  // namespace qb::catalog
