// Conversions between the text encodings Windows data comes in: UTF-8 (the
// program's own), UTF-16LE (registry strings, Unicode INI files), Windows-1252
// (ANSI data of Western systems) and Latin-1.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qb::platform {

// Decodes the UTF-8 sequence at s[i] and advances i past it. Encoded surrogates
// are accepted (they carry lone UTF-16 surrogates); overlong forms, code points
// beyond Unicode and broken sequences are not: then the single byte at s[i] stands
// for itself (as Latin-1), and `raw`, when given, is set.
char32_t decodeUtf8(std::string_view s, size_t& i, bool* raw = nullptr);

// True when `s` is well-formed UTF-8: no overlong forms, no surrogates, nothing
// beyond U+10FFFF.
bool isValidUtf8(std::string_view s);

void appendUtf8(std::string& out, char32_t codePoint);
// UTF-16 units to UTF-8; a lone surrogate becomes its three-byte form, so that
// converting back restores it.
void appendUtf8(std::string& out, std::u16string_view utf16);
void appendUtf16(std::u16string& out, char32_t codePoint);

// UTF-8 to UTF-16 units; bytes that are not UTF-8 stand for Latin-1 characters,
// so no input is lost or rejected.
std::u16string utf8ToUtf16(std::string_view utf8);
// The same, but nothing if any byte is not part of a UTF-8 sequence.
std::optional<std::u16string> exactUtf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);

// UTF-16 units <-> their little-endian bytes; an odd last byte is ignored.
std::u16string unitsFromUtf16Le(std::span<const uint8_t> bytes);
std::vector<uint8_t> utf16LeBytes(std::u16string_view units, bool terminate);

// UTF-8 <-> UTF-16LE bytes as the registry stores strings. Reading stops at the
// first NUL; writing adds one when `terminate` is set.
std::vector<uint8_t> utf8ToUtf16Bytes(std::string_view text, bool terminate = true);
std::string utf16BytesToUtf8(std::span<const uint8_t> bytes);

// Windows-1252 <-> UTF-8. The five unassigned bytes (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) map to the control characters of the same number, as Windows converts
// them. Characters Windows-1252 cannot hold become "?".
std::string windows1252ToUtf8(std::string_view text);
std::string utf8ToWindows1252(std::string_view utf8);
std::string latin1ToUtf8(std::string_view text);

// Text from outside (names in a backup file, manifest values, lines of registry
// and INI files, other programs' window titles) made fit to show in a terminal, a
// log line or a message box: control characters, C1 ones (U+0080..U+009F)
// included, are written "\r", "\n", "\t" or "\xNN", so that none takes effect.
// With `keepLineBreaks`, line breaks stay ("\n", and a CR beside one): for
// messages whose lines are the program's own, whose untrusted parts were escaped
// already. A lone CR, which would let a line overwrite itself, never stays.
std::string escapeControls(std::string_view text, bool keepLineBreaks = false);

}  // namespace qb::platform
