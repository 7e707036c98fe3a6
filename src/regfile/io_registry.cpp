#include "regfile/io_registry.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text_codec.h"
#include "support/interaction.h"

namespace qb {

namespace {

using platform::Registry;
using platform::RegistryError;
using platform::ValueType;

struct RootName {
    platform::RootKey root;
    const char* name;
};

constexpr std::array<RootName, 6> kRootNames = {{
    {platform::RootKey::ClassesRoot, "HKEY_CLASSES_ROOT"},
    {platform::RootKey::CurrentUser, "HKEY_CURRENT_USER"},
    {platform::RootKey::LocalMachine, "HKEY_LOCAL_MACHINE"},
    {platform::RootKey::Users, "HKEY_USERS"},
    {platform::RootKey::CurrentConfig, "HKEY_CURRENT_CONFIG"},
    {platform::RootKey::DynData, "HKEY_DYN_DATA"},
}};

bool isBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view trimLeft(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && isBlankOrControl(s[i]))
        ++i;
    return s.substr(i);
}

std::string_view trimRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && isBlankOrControl(s[n - 1]))
        --n;
    return s.substr(0, n);
}

std::string_view trim(std::string_view s) {
    return trimRight(trimLeft(s));
}

// The key path as a key line shows it: no backslash at either end.
std::string_view stripBackslashes(std::string_view path) {
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    return path;
}

std::string childPath(const std::string& parent, const std::string& name) {
    return parent.empty() ? name : parent + "\\" + name;
}

// Opens a key given by its path below the root ("" is the root itself).
bool openAbsolute(Registry& reg, const std::string& path, bool canCreate) {
    return reg.openKey("\\" + path, canCreate);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string upperHex(uint64_t value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out(static_cast<size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i) {
        out[static_cast<size_t>(i)] = kDigits[value & 0xF];
        value >>= 4;
    }
    return out;
}

// --- Text encoding of files ------------------------------------------------

// One input line with the line break that ended it ("" for the last line).
struct Line {
    std::string text;
    std::string end;
};

// Lines end at CR, LF or the pair of both.
std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        const size_t breakLen =
            (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        lines.push_back(
            {std::string(text.substr(start, i - start)), std::string(text.substr(i, breakLen))});
        i += breakLen - 1;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back({std::string(text.substr(start)), ""});
    return lines;
}

// The text of a file as UTF-8: UTF-16 (little or big endian) with a byte order
// mark, UTF-16LE without one (told by its first character), UTF-8 with or without
// a byte order mark, else Windows-1252.
std::string decodeFileText(std::string bytes) {
    auto utf16 = [&](size_t from, bool big) {
        std::u16string units;
        units.reserve((bytes.size() - from) / 2);
        for (size_t i = from; i + 1 < bytes.size(); i += 2) {
            const auto a = static_cast<uint8_t>(bytes[i]);
            const auto b = static_cast<uint8_t>(bytes[i + 1]);
            units.push_back(static_cast<char16_t>(big ? (a << 8 | b) : (b << 8 | a)));
        }
        return platform::utf16ToUtf8(units);
    };
    if (bytes.starts_with("\xFF\xFE")) return utf16(2, false);
    if (bytes.starts_with("\xFE\xFF")) return utf16(2, true);
    if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0') return utf16(0, false);
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
    if (!platform::isValidUtf8(bytes)) return platform::windows1252ToUtf8(bytes);
    return bytes;
}

std::vector<Line> readFileLines(std::string_view fileName) {
    const auto host = platform::hostPath(fileName);
    if (!host) throw RegFileError("Registry file \"" + std::string(fileName) + "\": no such drive");
    std::ifstream in(*host, std::ios::binary);
    std::string text;
    if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof())
        throw RegFileError("Registry file \"" + std::string(fileName) + "\": cannot be read");
    return splitLines(decodeFileText(std::move(text)));
}

std::string removeChar(std::string_view s, char c) {
    std::string out;
    out.reserve(s.size());
    for (char ch : s)
        if (ch != c) out += ch;
    return out;
}

// --- Values as the two forms write them ----------------------------------------

constexpr std::string_view kStandardHeader = "Windows Registry Editor Version 5.00";

bool isStringType(ValueType t) {
    return t == ValueType::String || t == ValueType::ExpandString || t == ValueType::MultiString;
}

// The UTF-16LE bytes of a string type as text in UTF-8, every unit (NULs and lone
// surrogates included) kept, so that textToUnits gives the same bytes back.
std::string unitsToText(const std::vector<uint8_t>& data) {
    std::string out;
    platform::appendUtf8(out, platform::unitsFromUtf16Le(data));
    return out;
}

// Code page bytes of a typed REGEDIT4 string (UTF-8 when they are UTF-8, else
// Windows-1252) as the registry's UTF-16LE bytes.
std::vector<uint8_t> textToUnits(const std::vector<uint8_t>& bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (auto units = platform::exactUtf8ToUtf16(text)) return platform::utf16LeBytes(*units, false);
    return platform::utf16LeBytes(platform::utf8ToUtf16(platform::windows1252ToUtf8(text)), false);
}

// The text of a REG_SZ that a quoted string carries exactly: one terminating NUL
// and no other, no line break, valid UTF-8. Nothing otherwise.
std::optional<std::string> plainString(const platform::RegValue& v) {
    if (v.type != ValueType::String || v.data.size() < 2 || v.data.size() % 2) return std::nullopt;
    const std::u16string units = platform::unitsFromUtf16Le(v.data);
    if (units.back() != u'\0') return std::nullopt;
    for (size_t i = 0; i + 1 < units.size(); ++i)
        if (units[i] == u'\0' || units[i] == u'\r' || units[i] == u'\n') return std::nullopt;
    std::string text;
    platform::appendUtf8(text, std::u16string_view(units).substr(0, units.size() - 1));
    if (!platform::isValidUtf8(text)) return std::nullopt;
    return text;
}

std::string typeNumber(ValueType t) {
    static const char kDigits[] = "0123456789abcdef";
    auto n = static_cast<uint32_t>(t);
    std::string out;
    do {
        out.insert(out.begin(), kDigits[n & 0xF]);
        n >>= 4;
    } while (n);
    return out;
}

// The data text of a backup-form value line.
std::string backupData(const platform::RegValue& v, const std::string& quote,
                       const std::string& dwordPrefix, const std::string& binaryPrefix) {
    if (auto text = plainString(v)) return quote + *text + quote;
    if (v.type == ValueType::Dword && v.data.size() == 4) {
        const uint32_t n =
            static_cast<uint32_t>(v.data[0]) | static_cast<uint32_t>(v.data[1]) << 8 |
            static_cast<uint32_t>(v.data[2]) << 16 | static_cast<uint32_t>(v.data[3]) << 24;
        return dwordPrefix + upperHex(n, 8);
    }
    std::vector<uint8_t> bytes = v.data;
    std::string data =
        v.type == ValueType::Binary ? binaryPrefix : "hex(" + typeNumber(v.type) + "):";
    if (isStringType(v.type)) {
        const std::string text = unitsToText(v.data);
        bytes.assign(text.begin(), text.end());
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) data += ',';
        data += upperHex(bytes[i], 2);
    }
    return data;
}

std::string escapeStandard(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// A standard-form value line, wrapped as the registry editor wraps it: lines of at
// most 80 characters, continued with ",\" and two blanks.
std::string standardLine(const std::string& name, const platform::RegValue& v) {
    std::string line = name.empty() ? std::string("@=") : "\"" + escapeStandard(name) + "\"=";
    if (auto text = plainString(v)) return line + "\"" + escapeStandard(*text) + "\"";
    if (v.type == ValueType::Dword && v.data.size() == 4) {
        std::string digits = upperHex(
            static_cast<uint32_t>(v.data[0]) | static_cast<uint32_t>(v.data[1]) << 8 |
                static_cast<uint32_t>(v.data[2]) << 16 | static_cast<uint32_t>(v.data[3]) << 24,
            8);
        for (char& c : digits)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return line + "dword:" + digits;
    }
    line += v.type == ValueType::Binary ? std::string("hex:") : "hex(" + typeNumber(v.type) + "):";
    size_t column = line.size();
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < v.data.size(); ++i) {
        line += kDigits[v.data[i] >> 4];
        line += kDigits[v.data[i] & 0xF];
        column += 2;
        if (i + 1 == v.data.size()) break;
        line += ',';
        ++column;
        if (column + 3 > 78) {
            line += "\\\r\n  ";
            column = 2;
        }
    }
    return line;
}

// UTF-16LE with a byte order mark, as the registry editor writes its files.
std::string standardFileBytes(std::string_view utf8) {
    const std::vector<uint8_t> bytes = platform::utf16LeBytes(platform::utf8ToUtf16(utf8), false);
    std::string out("\xFF\xFE");
    out.append(bytes.begin(), bytes.end());
    return out;
}

bool writeFileBytes(std::string_view fileName, const std::string& bytes, std::string& error) {
    const auto host = platform::hostPath(fileName);
    if (!host) {
        error = "cannot write \"" + std::string(fileName) + "\": no such drive";
        return false;
    }
    std::ofstream out(*host, std::ios::binary | std::ios::trunc);
    platform::noteNewEntry(*host);
    if (!out.is_open()) {
        error = "cannot write \"" + std::string(fileName) + "\": " + std::strerror(errno);
        return false;
    }
    out << bytes;
    out.close();
    if (!out) {
        error = "cannot write \"" + std::string(fileName) + "\"";
        return false;
    }
    return true;
}

// --- Reading: what a file asks for ------------------------------------------------

class LineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One change a registry file asks for.
struct Change {
    enum Kind { OpenKey, DeleteKey, SetValue, DeleteValue };
    explicit Change(Kind k) : kind(k) {}
    Kind kind;
    platform::RootKey root = platform::RootKey::CurrentUser;
    std::string path;  // OpenKey and DeleteKey: below the root, may start with "\"
    std::string name;  // SetValue and DeleteValue
    platform::RegValue value;
    size_t line = 0;  // 1-based number of the line it comes from
};

uint32_t parseDword(std::string_view digits) {
    digits = trim(digits);
    if (digits.empty()) throw LineError("no hexadecimal number after \"dword:\"");
    uint64_t value = 0;
    for (char c : digits) {
        const int d = hexDigit(c);
        if (d < 0) throw LineError("\"" + std::string(digits) + "\" is no hexadecimal number");
        value = value * 16 + static_cast<uint64_t>(d);
        if (value > 0xFFFFFFFFu)
            throw LineError("\"" + std::string(digits) + "\" does not fit in 32 bits");
    }
    return static_cast<uint32_t>(value);
}

// Backup form: commas anywhere, digits read in pairs, an odd last digit dropped.
std::vector<uint8_t> parseHexBytes(std::string_view data) {
    const std::string digits(trimRight(removeChar(data, ',')));
    std::vector<uint8_t> bytes;
    bytes.reserve(digits.size() / 2);
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        const int hi = hexDigit(digits[i]);
        const int lo = hexDigit(digits[i + 1]);
        if (hi < 0 || lo < 0)
            throw LineError("\"" + digits.substr(i, 2) + "\" is no hexadecimal byte");
        bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return bytes;
}

// Standard form: bytes of one or two digits separated by commas, blanks around them.
std::vector<uint8_t> parseStandardBytes(std::string_view data) {
    std::vector<uint8_t> bytes;
    data = trim(data);
    if (data.empty()) return bytes;
    bytes.reserve(data.size() / 3 + 1);
    size_t start = 0;
    for (;;) {
        const size_t comma = data.find(',', start);
        const std::string_view item = trim(data.substr(start, comma - start));
        if (item.empty() || item.size() > 2 || hexDigit(item[0]) < 0 ||
            (item.size() == 2 && hexDigit(item[1]) < 0))
            throw LineError("\"" + std::string(item) + "\" is no hexadecimal byte");
        bytes.push_back(static_cast<uint8_t>(
            item.size() == 1 ? hexDigit(item[0]) : hexDigit(item[0]) * 16 + hexDigit(item[1])));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
        if (start == data.size()) break;  // a trailing comma
    }
    return bytes;
}

// The type number of "hex(N):" data, N in hexadecimal; `data` starts after "hex(".
// Sets `rest` to what follows the colon.
ValueType parseTypeNumber(std::string_view data, std::string_view& rest) {
    const size_t close = data.find("):");
    if (close == std::string_view::npos || close == 0 || close > 8)
        throw LineError("\"hex(\" is not followed by a type number and \"):\"");
    uint32_t n = 0;
    for (char c : data.substr(0, close)) {
        const int d = hexDigit(c);
        if (d < 0)
            throw LineError("\"" + std::string(data.substr(0, close)) + "\" is no type number");
        n = n * 16 + static_cast<uint32_t>(d);
    }
    rest = data.substr(close + 2);
    return static_cast<ValueType>(n);
}

platform::RegValue stringValue(std::string_view text) {
    return {ValueType::String, platform::utf8ToUtf16Bytes(text, true)};
}

platform::RegValue dwordValue(uint32_t n) {
    return {ValueType::Dword,
            {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
             static_cast<uint8_t>(n >> 24)}};
}

}  // namespace

// --- Root names --------------------------------------------------------------

platform::RootKey TIORegistry::RootKeyFromName(std::string_view name) {
    for (const RootName& r : kRootNames)
        if (name == r.name) return r.root;
    return platform::RootKey::CurrentUser;
}

std::string TIORegistry::RootKeyName(platform::RootKey root) {
    for (const RootName& r : kRootNames)
        if (root == r.root) return r.name;
    return "HKEY_CURRENT_USER";
}

TLineKind TIORegistry::ClassifyLine(std::string_view line) const {
    const std::string_view t = trimLeft(line);
    if (t == RegHeader) return lkHeader;
    if (t.empty()) return lkOther;
    if (t.front() == RootStart) return lkKey;
    if (t.front() == StringStartEndChar) return lkValue;
    if (t.front() == ';') return lkComment;
    return lkOther;
}

// --- Export --------------------------------------------------------------------

namespace {

// Appends the subtree below `key` in walk order: all children of a key first, then
// the expansion of each child in turn. Returns false when some key's subkeys could
// not be listed; the walk below that key ends there.
bool walkSubKeys(Registry& reg, const std::string& key, std::vector<std::string>& keys) {
    std::vector<std::string> names;
    try {
        reg.closeKey();
        if (!openAbsolute(reg, key, false)) return false;
        names = reg.keyNames();
    } catch (const RegistryError&) {
        return false;
    }
    std::vector<std::string> children;
    children.reserve(names.size());
    for (const std::string& name : names)
        children.push_back(childPath(key, name));
    keys.insert(keys.end(), children.begin(), children.end());
    bool ok = true;
    for (const std::string& child : children)
        ok = walkSubKeys(reg, child, keys) && ok;
    return ok;
}

}  // namespace

bool TIORegistry::ExportKey(std::string_view rootName, std::string_view keyPath,
                            bool includeSubKeys, std::string_view fileName) {
    lastError_.clear();
    std::vector<std::string> lines{"REGEDIT4"};
    const platform::RootKey root =
        rootName.empty() ? platform::RootKey::CurrentUser : RootKeyFromName(rootName);
    const std::string rootText = rootName.empty() ? RootKeyName(root) : std::string(rootName);
    const std::string path(stripBackslashes(keyPath));
    const std::string keyName = rootText + "\\" + path;
    bool ok = true;
    auto fail = [&](const std::string& why) {
        ok = false;
        if (lastError_.empty()) lastError_ = why;
    };

    const bool standard = ExportFormat == RegFileFormat::Standard;
    if (standard) lines[0] = std::string(kStandardHeader);
    const std::string quote(1, StringStartEndChar);
    auto valueLine = [&](const Registry& reg, const std::string& name) {
        std::optional<platform::RegValue> value;
        try {
            value = reg.readValue(name);
        } catch (const std::exception&) {
            value.reset();
        }
        if (standard) {
            // The registry editor has no form for a value without data; an
            // unreadable value (none here in practice) becomes an empty string.
            return standardLine(name, value.value_or(stringValue("")));
        }
        // A value that cannot be read is written without data.
        return quote + name + quote + DataNameValueDelim +
               (value ? backupData(*value, quote, HexIntPrefix, BinaryPrefix) : std::string());
    };

    try {
        Registry reg(root);
        std::vector<std::string> keys;
        bool opened = false;
        try {
            opened = openAbsolute(reg, path, false);
        } catch (const RegistryError& e) {
            fail("cannot open the key \"" + keyName + "\": " + e.what());
        }
        if (!opened) {
            // An export only reads: a key the machine lacks is written as its empty
            // section (importing it makes the key), never created here.
            if (ok) keys.push_back(path);
        } else {
            keys.push_back(path);
            if (includeSubKeys && !walkSubKeys(reg, path, keys)) {
                fail("cannot list the subkeys of a key below \"" + keyName + "\"");
                // Listing failed at the exported key itself: nothing is exported.
                if (keys.size() == 1) keys.clear();
            }
        }
        for (const std::string& key : keys) {
            lines.emplace_back();
            // The editor names a root key without a trailing delimiter.
            const bool bareRoot = standard && key.empty();
            lines.push_back(std::string(1, RootStart) + rootText +
                            (bareRoot ? std::string() : KeyLevelDelim + key) + RootEnd);
            try {
                reg.closeKey();
                if (!openAbsolute(reg, key, false)) continue;  // gone since the walk
                for (const std::string& name : reg.valueNames())
                    lines.push_back(valueLine(reg, name));
            } catch (const RegistryError& e) {
                fail("cannot list the values of \"" + rootText + "\\" + key + "\": " + e.what());
            }
        }
        reg.closeKey();
    } catch (const std::exception& e) {
        fail(std::string("registry error: ") + e.what());
    }

    if (standard) lines.emplace_back();  // the registry editor ends with an empty line
    if (fileName.empty() || ExportDestination != eiFile) {
        RegistryData.insert(RegistryData.end(), lines.begin(), lines.end());
        return ok;
    }
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    if (standard) text = standardFileBytes(text);
    if (!writeFileBytes(fileName, text, lastError_)) return false;
    return ok;
}

// --- Import ----------------------------------------------------------------------

namespace {

// Where a line of a file goes wrong: its number, what failed, and its text.
class FileError : public std::runtime_error {
  public:
    FileError(size_t line, const std::string& what, const std::string& text)
        : std::runtime_error(what), line_(line), text_(text) {}
    size_t line() const { return line_; }
    const std::string& text() const { return text_; }

  private:
    size_t line_;
    std::string text_;
};

// Reads the backup form: the value rules of the files backups have always held,
// plus the typed "hex(N):" notation.
std::vector<Change> parseBackupForm(const TIORegistry& io, const std::vector<Line>& lines) {
    std::vector<Change> changes;
    const std::string quote(1, io.StringStartEndChar);
    bool haveKey = false;

    // The value of the line lines[i]. The name runs from the first quote to the
    // quote-and-delimiter that closes it; quoted data runs to the last quote of the
    // line and is always a string; only unquoted data is read as a DWORD, binary or
    // typed data. A line without that closing pair is read by the older rule: every
    // quote removed, the name cut at the first delimiter.
    //
    // Older files wrote strings with line breaks as they are, so such a string spans
    // several lines: quoted data without any closing quote on its line continues up
    // to the next line that ends with a quote, line breaks kept as the file has them.
    // Without such a line it is the rest of its own line. Returns the index of the
    // last line used.
    auto parseValue = [&](size_t i, Change& c) {
        std::string_view line = trimLeft(lines[i].text);
        const std::string closer = quote + io.DataNameValueDelim;
        const size_t close = line.find(closer, 1);
        std::string data;
        if (close != std::string_view::npos) {
            c.name = std::string(line.substr(1, close - 1));
            const std::string_view rest = line.substr(close + closer.size());
            if (!rest.empty() && rest.front() == io.StringStartEndChar) {
                const size_t last = rest.find_last_of(io.StringStartEndChar);
                if (last > 0) {
                    c.value = stringValue(rest.substr(1, last - 1));
                    return i;
                }
                std::string text(rest.substr(1));
                for (size_t j = i + 1; j < lines.size(); ++j) {
                    if (lines[j].text.empty() || lines[j].text.back() != io.StringStartEndChar)
                        continue;
                    for (size_t k = i; k < j; ++k)
                        text += lines[k].end + (k + 1 < j ? lines[k + 1].text : "");
                    text += std::string_view(lines[j].text).substr(0, lines[j].text.size() - 1);
                    c.value = stringValue(text);
                    return j;
                }
                c.value = stringValue(text);
                return i;
            }
            data = removeChar(rest, io.StringStartEndChar);
        } else {
            const std::string bare = removeChar(line, io.StringStartEndChar);
            const size_t delim = bare.find(io.DataNameValueDelim);
            if (delim == std::string::npos) {
                data = bare;
            } else {
                c.name = bare.substr(0, delim);
                data = bare.substr(delim + 1);
            }
        }
        if (data.starts_with(io.BinaryPrefix)) {
            c.value = {ValueType::Binary,
                       parseHexBytes(std::string_view(data).substr(io.BinaryPrefix.size()))};
        } else if (data.starts_with(io.HexIntPrefix)) {
            c.value = dwordValue(parseDword(std::string_view(data).substr(io.HexIntPrefix.size())));
        } else if (data.starts_with("hex(")) {
            std::string_view rest;
            const ValueType type = parseTypeNumber(std::string_view(data).substr(4), rest);
            std::vector<uint8_t> bytes = parseHexBytes(rest);
            c.value = {type, isStringType(type) ? textToUnits(bytes) : std::move(bytes)};
        } else {
            c.value = stringValue(data);
        }
        return i;
    };

    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& raw = lines[i].text;
        try {
            const TLineKind kind = io.ClassifyLine(raw);
            if (kind == lkKey) {
                std::string_view body = trim(raw).substr(1);
                if (!body.empty() && body.back() == io.RootEnd) body.remove_suffix(1);
                const size_t split = body.find(io.KeyLevelDelim);
                const std::string_view rootName =
                    split == std::string_view::npos ? std::string_view() : body.substr(0, split);
                std::string_view keyPath =
                    split == std::string_view::npos ? body : body.substr(split);
                Change c(Change::OpenKey);
                c.root = TIORegistry::RootKeyFromName(rootName);
                c.path = std::string(keyPath);
                c.name = std::string(body);
                c.line = i + 1;
                changes.push_back(std::move(c));
                haveKey = true;
            } else if (kind == lkValue) {
                if (!haveKey) throw LineError("value line before the first key line");
                Change c(Change::SetValue);
                c.line = i + 1;
                i = parseValue(i, c);
                changes.push_back(std::move(c));
            }
        } catch (const LineError& e) {
            throw FileError(i + 1, e.what(), raw);
        }
    }
    return changes;
}

struct RootAlias {
    const char* longName;
    const char* shortName;
    platform::RootKey root;
};

constexpr std::array<RootAlias, 6> kRootAliases = {{
    {"HKEY_CLASSES_ROOT", "HKCR", platform::RootKey::ClassesRoot},
    {"HKEY_CURRENT_USER", "HKCU", platform::RootKey::CurrentUser},
    {"HKEY_LOCAL_MACHINE", "HKLM", platform::RootKey::LocalMachine},
    {"HKEY_USERS", "HKU", platform::RootKey::Users},
    {"HKEY_CURRENT_CONFIG", "HKCC", platform::RootKey::CurrentConfig},
    {"HKEY_DYN_DATA", "HKDD", platform::RootKey::DynData},
}};

// A quoted text of the standard form starting at s[i] (the opening quote), with its
// escapes undone; i ends after the closing quote.
std::string unescapeQuoted(std::string_view s, size_t& i, const char* what) {
    std::string out;
    for (++i; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            ++i;
            return out;
        }
        if (c != '\\' || i + 1 == s.size()) {
            out += c;
            continue;
        }
        const char n = s[++i];
        switch (n) {
            case '\\':
            case '"':
                out += n;
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case '0':
                out += '\0';
                break;
            default:  // not an escape: both characters stand
                out += '\\';
                out += n;
        }
    }
    throw LineError(std::string(what) + " has no closing quote");
}

// Reads the standard form: the registry editor's REGEDIT4 and Version 5.00 files.
std::vector<Change> parseStandardForm(const std::vector<Line>& lines) {
    std::vector<Change> changes;
    size_t i = 0;
    while (i < lines.size() && trim(lines[i].text).empty())
        ++i;
    if (i == lines.size()) throw FileError(1, "the file is empty", "");
    const std::string_view header = trim(lines[i].text);
    if (header != kStandardHeader && header != "REGEDIT4")
        throw FileError(i + 1,
                        "no registry file: the first line is neither \"" +
                            std::string(kStandardHeader) + "\" nor \"REGEDIT4\"",
                        lines[i].text);
    // Version 5.00 holds typed strings as UTF-16LE bytes, REGEDIT4 in the code page.
    const bool unicode = header == kStandardHeader;
    bool haveKey = false;
    for (++i; i < lines.size(); ++i) {
        const std::string& raw = lines[i].text;
        const size_t first = i;
        try {
            const std::string_view line = trim(raw);
            if (line.empty() || line.front() == ';' || line.front() == '#') continue;
            if (line.front() == '[') {
                if (line.back() != ']') throw LineError("the key line has no closing \"]\"");
                std::string_view body = line.substr(1, line.size() - 2);
                Change c(Change::OpenKey);
                if (!body.empty() && body.front() == '-') {
                    c.kind = Change::DeleteKey;
                    body.remove_prefix(1);
                }
                const size_t split = body.find('\\');
                const std::string_view rootName = body.substr(0, split);
                const RootAlias* alias = nullptr;
                for (const RootAlias& r : kRootAliases)
                    if (platform::equalsNoCase(rootName, r.longName) ||
                        platform::equalsNoCase(rootName, r.shortName))
                        alias = &r;
                if (!alias) throw LineError("\"" + std::string(rootName) + "\" is no root key");
                c.root = alias->root;
                c.path = split == std::string_view::npos
                             ? std::string()
                             : std::string(stripBackslashes(body.substr(split)));
                if (c.kind == Change::DeleteKey && c.path.empty())
                    throw LineError("a root key cannot be deleted");
                c.name = std::string(body);
                c.line = i + 1;
                haveKey = c.kind == Change::OpenKey;
                changes.push_back(std::move(c));
                continue;
            }
            if (line.front() != '"' && line.front() != '@')
                throw LineError("neither a key line, a value line nor a comment");
            if (!haveKey) throw LineError("value line without a key line before it");
            Change c(Change::SetValue);
            c.line = i + 1;
            size_t p = 0;
            if (line.front() == '@')
                p = 1;
            else
                c.name = unescapeQuoted(line, p, "the value name");
            while (p < line.size() && (line[p] == ' ' || line[p] == '\t'))
                ++p;
            if (p == line.size() || line[p] != '=')
                throw LineError("no \"=\" after the value name");
            std::string_view data = trimLeft(line.substr(p + 1));
            if (data.empty()) throw LineError("no data after \"=\"");
            if (data.front() == '"') {
                size_t q = 0;
                const std::string text = unescapeQuoted(data, q, "the string");
                if (!trim(data.substr(q)).empty())
                    throw LineError("text after the closing quote of the string");
                c.value = {ValueType::String,
                           platform::utf16LeBytes(platform::utf8ToUtf16(text), true)};
            } else if (data == "-") {
                c.kind = Change::DeleteValue;
            } else if (data.starts_with("dword:")) {
                const std::string_view digits = trim(data.substr(6));
                if (digits.size() > 8)
                    throw LineError("\"" + std::string(digits) + "\" does not fit in 32 bits");
                c.value = dwordValue(parseDword(digits));
            } else if (data.starts_with("hex:") || data.starts_with("hex(")) {
                ValueType type = ValueType::Binary;
                std::string_view rest = data.substr(4);
                if (data.starts_with("hex(")) type = parseTypeNumber(rest, rest);
                // Long data goes on over lines that end with a backslash.
                std::string all(rest);
                for (;;) {
                    const std::string_view t = trimRight(all);
                    if (t.empty() || t.back() != '\\') break;
                    all.resize(t.size() - 1);
                    if (++i == lines.size())
                        throw LineError("the data goes on past the end of the file");
                    all += trimLeft(lines[i].text);
                }
                std::vector<uint8_t> bytes = parseStandardBytes(all);
                c.value = {type,
                           isStringType(type) && !unicode ? textToUnits(bytes) : std::move(bytes)};
            } else {
                throw LineError("\"" + std::string(data) + "\" is no value data");
            }
            changes.push_back(std::move(c));
        } catch (const LineError& e) {
            throw FileError(first + 1, e.what(), raw);
        }
    }
    return changes;
}

// The standard form of the changes, as text (UTF-8 lines ending in CR LF).
std::string standardText(const std::vector<Change>& changes) {
    std::string out(kStandardHeader);
    out += "\r\n";
    for (const Change& c : changes) {
        const std::string path(stripBackslashes(c.path));
        const std::string key =
            TIORegistry::RootKeyName(c.root) + (path.empty() ? "" : "\\" + path);
        switch (c.kind) {
            case Change::OpenKey:
                out += "\r\n[" + key + "]\r\n";
                break;
            case Change::DeleteKey:
                out += "\r\n[-" + key + "]\r\n";
                break;
            case Change::SetValue:
                out += standardLine(c.name, c.value) + "\r\n";
                break;
            case Change::DeleteValue:
                out += (c.name.empty() ? std::string("@") : "\"" + escapeStandard(c.name) + "\"") +
                       "=-\r\n";
                break;
        }
    }
    out += "\r\n";
    return out;
}

bool isStandardHeaded(const std::vector<Line>& lines) {
    for (const Line& l : lines) {
        const std::string_view t = trim(l.text);
        if (!t.empty()) return t == kStandardHeader;
    }
    return false;
}

}  // namespace

bool TIORegistry::ImportFile(std::string_view fileName) {
    lastError_.clear();
    const std::string source = ImportSource == eiProperty
                                   ? std::string("RegistryData")
                                   : "Registry file \"" + std::string(fileName) + "\"";
    std::vector<Line> lines;
    if (ImportSource == eiProperty) {
        for (const std::string& text : RegistryData)
            lines.push_back({text, "\r\n"});
    } else {
        if (!platform::fileExists(fileName)) {
            const std::string text = "File \"" + std::string(fileName) + "\" not found.";
            lastError_ = text;
            interaction().messageBox(text, MsgIcon::None, MsgButtons::Ok);
            return false;
        }
        try {
            lines = readFileLines(fileName);
        } catch (const RegFileError& e) {
            lastError_ = e.what();
            throw;
        }
    }

    // Everything is read before anything is written: a line that cannot be read
    // leaves the registry as it was.
    std::vector<Change> changes;
    try {
        changes = ImportFormat == RegFileFormat::Standard || isStandardHeaded(lines)
                      ? parseStandardForm(lines)
                      : parseBackupForm(*this, lines);
    } catch (const FileError& e) {
        lastError_ = source + ", line " + std::to_string(e.line()) + ": " + e.what();
        if (!e.text().empty()) lastError_ += ": " + e.text();
        throw RegFileError(lastError_);
    }

    auto changeError = [&](const Change& c, const std::string& what) {
        lastError_ = source + ", line " + std::to_string(c.line) + ": " + what;
        return RegFileError(lastError_);
    };
    auto save = [&](Registry& reg) {
        try {
            reg.closeKey();
        } catch (const RegistryError& e) {
            lastError_ = source + ": the registry could not be saved: " + e.what();
            throw RegFileError(lastError_);
        }
    };

    Registry reg(platform::RootKey::CurrentUser);
    for (const Change& c : changes) {
        switch (c.kind) {
            case Change::OpenKey:
            case Change::DeleteKey:
                save(reg);
                try {
                    reg.setRootKey(c.root);
                    if (c.kind == Change::DeleteKey) {
                        reg.deleteKey("\\" + c.path);  // a missing key is no error
                        break;
                    }
                    const bool opened =
                        c.path.empty() || c.path == "\\"
                            ? reg.openKey("\\", false)
                            : reg.openKey(c.path.front() == '\\' ? c.path : "\\" + c.path, true);
                    if (!opened)
                        throw changeError(c, "cannot open or create the key \"" + c.name + "\"");
                } catch (const RegistryError& e) {
                    throw changeError(
                        c,
                        "cannot " +
                            std::string(c.kind == Change::DeleteKey ? "delete" : "open or create") +
                            " the key \"" + c.name + "\": " + e.what());
                }
                break;
            case Change::SetValue:
            case Change::DeleteValue:
                try {
                    if (c.kind == Change::SetValue)
                        reg.writeValue(c.name, c.value);
                    else
                        reg.deleteValue(c.name);  // a missing value is no error
                } catch (const RegistryError& e) {
                    throw changeError(
                        c, "cannot " +
                               std::string(c.kind == Change::SetValue ? "write" : "delete") +
                               " the value \"" + c.name + "\": " + e.what());
                }
                break;
        }
    }
    save(reg);
    return true;
}

bool TIORegistry::ConvertToStandardFile(std::string_view fileName) {
    lastError_.clear();
    const std::string source = "Registry file \"" + std::string(fileName) + "\"";
    try {
        const std::vector<Line> lines = readFileLines(fileName);
        const std::vector<Change> changes =
            isStandardHeaded(lines) ? parseStandardForm(lines) : parseBackupForm(*this, lines);
        return writeFileBytes(fileName, standardFileBytes(standardText(changes)), lastError_);
    } catch (const FileError& e) {
        lastError_ = source + ", line " + std::to_string(e.line()) + ": " + e.what();
        if (!e.text().empty()) lastError_ += ": " + e.text();
    } catch (const RegFileError& e) {
        lastError_ = e.what();
    }
    return false;
}

}  // namespace qb
