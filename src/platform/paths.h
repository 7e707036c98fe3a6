// Path helpers with Windows semantics ("\" separates levels, "X:" names a drive).
#pragma once

#include <string>
#include <string_view>

namespace qb::platform {

// Folder part including its trailing backslash: "C:\a\b.txt" -> "C:\a\".
std::string extractFilePath(std::string_view path);
// "C:\a\b.txt" -> "b.txt".
std::string extractFileName(std::string_view path);
// Extension with its dot: "b.txt" -> ".txt"; "" when there is none.
std::string extractFileExt(std::string_view path);
// Drive part: "C:\a" -> "C:"; "" for paths without a drive.
std::string extractFileDrive(std::string_view path);
std::string changeFileExt(std::string_view path, std::string_view ext);
std::string includeTrailingBackslash(std::string_view path);
std::string excludeTrailingBackslash(std::string_view path);
// Joins two parts with exactly one backslash between them.
std::string joinPath(std::string_view folder, std::string_view name);

// ASCII case folding and comparison, as Windows compares names.
std::string lowerAscii(std::string_view s);
std::string upperAscii(std::string_view s);
bool equalsNoCase(std::string_view a, std::string_view b);
int compareNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view s, std::string_view prefix);
bool containsNoCase(std::string_view s, std::string_view part);

}  // namespace qb::platform
