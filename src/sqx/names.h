// Stored names, their matching, and the names of volume files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sqx {

// The stored name the host handed back ("\" or "/" separators) as the archive
// keeps it: "/" separators, no leading or doubled separators, no trailing
// one, "." levels dropped. Throws SQX_ERR_BAD_NAME for an empty name or one
// with ".." levels.
std::string storedNameFromHost(std::string_view hostName, std::string_view sourcePath);

// An archive name as the host sees it: "\" separators (a folder keeps its
// trailing separator).
std::string hostNameOf(std::string_view archiveName);

// Key under which list names and archive names are compared: separators
// unified, leading/trailing/doubled ones dropped, letters folded to lower
// case (Unicode-aware as far as the C library's UTF-8 locale goes).
std::string matchKey(std::string_view name);
std::string foldCase(std::string_view utf8);

// "*" any run of characters (separators included), "?" one character;
// "*.*" matches every name. Both sides are compared case-insensitively.
bool wildcardMatch(std::string_view pattern, std::string_view name);

// Components of an archive name (either separator), without empty and "."
// levels. `unsafe` is set when the name is absolute or has ".." levels,
// i.e. when it could lead outside the output folder.
std::vector<std::string> nameComponents(std::string_view archiveName, bool& unsafe);

// Path of volume `index` of the archive at `firstPath`: index 0 is the
// archive itself, index n >= 1 replaces the extension by ".e01", ".e02", ...
std::string volumePath(std::string_view firstPath, unsigned index);

}  // namespace sqx
