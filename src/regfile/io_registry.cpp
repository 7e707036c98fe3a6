#include "regfile/io_registry.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/files.h"
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

std::vector<Line> readFileLines(std::string_view fileName) {
    const auto host = platform::hostPath(fileName);
    if (!host) throw RegFileError("Registry file \"" + std::string(fileName) + "\": no such drive");
    std::ifstream in(*host, std::ios::binary);
    std::string text;
    if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof())
        throw RegFileError("Registry file \"" + std::string(fileName) + "\": cannot be read");
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    if (!platform::isValidUtf8(text)) text = platform::windows1252ToUtf8(text);
    return splitLines(text);
}

// --- One value of an import line --------------------------------------------

enum class DataKind { String, Dword, Binary };

struct ParsedValue {
    std::string name;
    DataKind kind = DataKind::String;
    std::string text;
    uint32_t dword = 0;
    std::vector<uint8_t> bytes;
};

std::string removeChar(std::string_view s, char c) {
    std::string out;
    out.reserve(s.size());
    for (char ch : s)
        if (ch != c) out += ch;
    return out;
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

    const std::string quote(1, StringStartEndChar);
    auto valueLine = [&](const Registry& reg, const std::string& name) {
        std::string data;
        try {
            switch (reg.dataType(name).value_or(ValueType::None)) {
                case ValueType::String:
                case ValueType::ExpandString:
                    data = quote + reg.readString(name) + quote;
                    break;
                case ValueType::Dword:
                    data = HexIntPrefix + upperHex(static_cast<uint32_t>(reg.readInteger(name)), 8);
                    break;
                case ValueType::Binary: {
                    const std::vector<uint8_t> bytes = reg.readBinary(name);
                    if (bytes.empty()) break;
                    data = BinaryPrefix;
                    for (size_t i = 0; i < bytes.size(); ++i) {
                        if (i) data += ',';
                        data += upperHex(bytes[i], 2);
                    }
                    break;
                }
                default:
                    break;  // the format carries no other type
            }
        } catch (const std::exception&) {
            data.clear();  // a value that cannot be read is written without data
        }
        return quote + name + quote + DataNameValueDelim + data;
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
            lines.push_back(std::string(1, RootStart) + rootText + KeyLevelDelim + key + RootEnd);
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

    if (fileName.empty() || ExportDestination != eiFile) {
        RegistryData.insert(RegistryData.end(), lines.begin(), lines.end());
        return ok;
    }
    const auto host = platform::hostPath(fileName);
    if (!host) {
        lastError_ = "cannot write \"" + std::string(fileName) + "\": no such drive";
        return false;
    }
    std::ofstream out(*host, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) {
        lastError_ = "cannot write \"" + std::string(fileName) + "\": " + std::strerror(errno);
        return false;
    }
    for (const std::string& line : lines)
        out << line << "\r\n";
    out.close();
    if (!out) {
        lastError_ = "cannot write \"" + std::string(fileName) + "\"";
        return false;
    }
    return ok;
}

// --- Import ----------------------------------------------------------------------

namespace {

class LineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
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

    const std::string quote(1, StringStartEndChar);
    // The value of the line lines[i]. The name runs from the first quote to the
    // quote-and-delimiter that closes it; quoted data runs to the last quote of the
    // line and is always a string; only unquoted data is read as a DWORD or as
    // binary. A line without that closing pair is read by the older rule: every
    // quote removed, the name cut at the first delimiter.
    //
    // Strings are written without escaping, so a string with line breaks spans
    // several lines: quoted data without any closing quote on its line continues up
    // to the next line that ends with a quote, line breaks kept as the file has them.
    // Without such a line it is the rest of its own line. Returns the index of the
    // last line used.
    auto parseValue = [&](size_t i, ParsedValue& v) {
        std::string_view line = trimLeft(lines[i].text);
        const std::string closer = quote + DataNameValueDelim;
        const size_t close = line.find(closer, 1);
        std::string data;
        if (close != std::string_view::npos) {
            v.name = std::string(line.substr(1, close - 1));
            const std::string_view rest = line.substr(close + closer.size());
            if (!rest.empty() && rest.front() == StringStartEndChar) {
                const size_t last = rest.find_last_of(StringStartEndChar);
                if (last > 0) {
                    v.text = std::string(rest.substr(1, last - 1));
                    return i;
                }
                v.text = std::string(rest.substr(1));
                for (size_t j = i + 1; j < lines.size(); ++j) {
                    if (lines[j].text.empty() || lines[j].text.back() != StringStartEndChar)
                        continue;
                    for (size_t k = i; k < j; ++k)
                        v.text += lines[k].end + (k + 1 < j ? lines[k + 1].text : "");
                    v.text += std::string_view(lines[j].text).substr(0, lines[j].text.size() - 1);
                    return j;
                }
                return i;
            }
            data = removeChar(rest, StringStartEndChar);
        } else {
            const std::string bare = removeChar(line, StringStartEndChar);
            const size_t delim = bare.find(DataNameValueDelim);
            if (delim == std::string::npos) {
                data = bare;
            } else {
                v.name = bare.substr(0, delim);
                data = bare.substr(delim + 1);
            }
        }
        if (data.starts_with(BinaryPrefix)) {
            v.kind = DataKind::Binary;
            v.bytes = parseHexBytes(std::string_view(data).substr(BinaryPrefix.size()));
        } else if (data.starts_with(HexIntPrefix)) {
            v.kind = DataKind::Dword;
            v.dword = parseDword(std::string_view(data).substr(HexIntPrefix.size()));
        } else {
            v.text = std::move(data);
        }
        return i;
    };

    size_t lineNo = 0;
    auto lineError = [&](const std::string& what) {
        lastError_ = source + ", line " + std::to_string(lineNo) + ": " + what;
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
    std::string currentKey;  // as the key line names it, for messages
    for (size_t i = 0; i < lines.size(); ++i) {
        lineNo = i + 1;
        const std::string& raw = lines[i].text;
        const TLineKind kind = ClassifyLine(raw);
        if (kind == lkKey) {
            std::string_view body = trim(raw).substr(1);
            if (!body.empty() && body.back() == RootEnd) body.remove_suffix(1);
            const size_t split = body.find(KeyLevelDelim);
            const std::string_view rootName =
                split == std::string_view::npos ? std::string_view() : body.substr(0, split);
            const std::string_view keyPath =
                split == std::string_view::npos ? body : body.substr(split);
            currentKey = std::string(body);
            save(reg);
            try {
                reg.setRootKey(RootKeyFromName(rootName));
                const bool opened =
                    keyPath.empty() ? reg.openKey("\\", false) : reg.openKey(keyPath, true);
                if (!opened)
                    throw lineError("cannot open or create the key \"" + currentKey + "\"");
            } catch (const RegistryError& e) {
                throw lineError("cannot open or create the key \"" + currentKey +
                                "\": " + e.what());
            }
        } else if (kind == lkValue) {
            if (!reg.hasOpenKey()) throw lineError("value line before the first key line");
            ParsedValue v;
            try {
                i = parseValue(i, v);
            } catch (const LineError& e) {
                throw lineError(e.what());
            }
            try {
                switch (v.kind) {
                    case DataKind::String:
                        reg.writeString(v.name, v.text);
                        break;
                    case DataKind::Dword:
                        reg.writeInteger(v.name, static_cast<int32_t>(v.dword));
                        break;
                    case DataKind::Binary:
                        reg.writeBinary(v.name, v.bytes);
                        break;
                }
            } catch (const RegistryError& e) {
                throw lineError("cannot write the value \"" + v.name + "\" of \"" + currentKey +
                                "\": " + e.what());
            }
        }
    }
    save(reg);
    return true;
}

}  // namespace qb
