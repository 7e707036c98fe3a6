// Reads of the machine with the catalog's rule: whatever is missing reads as
// empty. Each registry read opens its own read-only accessor and lets it go
// before returning. A value of an unexpected type reads as missing.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace qb::catalog {

using platform::RootKey;

bool keyExists(RootKey root, std::string_view key);
bool valueExists(RootKey root, std::string_view key, std::string_view name);
// Names of the key's subkeys in registry order; empty when the key is missing.
std::vector<std::string> subKeyNames(RootKey root, std::string_view key);
// A string value ("" is the default value); "" when missing or not a string.
inline std::string readText(RootKey root, std::string_view key, std::string_view name) {
    return platform::readStringValue(root, key, name);
}
// A DWORD value, or a string value that holds a decimal number; no value otherwise.
std::optional<int32_t> readNumber(RootKey root, std::string_view key, std::string_view name);

// The whole content of a file by Windows path; no value when it cannot be read.
std::optional<std::string> readFileBytes(std::string_view winPath);
// Lines of a text as a list of lines: CR LF, LF and CR end a line; a final line
// end adds no empty line.
std::vector<std::string> splitLines(std::string_view text);

}  // namespace qb::catalog
