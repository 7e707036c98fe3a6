// qbreg: the registry of the current machine from the command line, in the
// manner of reg.exe. The machine is the one Quillbox uses ($QUILLBOX_PREFIX,
// $WINEPREFIX, ~/.wine or its own prefix).
//
//   qbreg query  KEY [/v NAME | /ve] [/s]
//   qbreg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]
//   qbreg delete KEY [/v NAME | /ve | /va] [/f]
//   qbreg export KEY FILE [/y]
//   qbreg import FILE [/backup]
//
// Each subcommand is one entry of the command table below.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text_codec.h"
#include "regfile/io_registry.h"
#include "support/interaction.h"

namespace {

using qb::platform::equalsNoCase;
using qb::platform::Registry;
using qb::platform::RegistryError;
using qb::platform::RegValue;
using qb::platform::RootKey;
using qb::platform::ValueType;

// Wrong use of the command line: reported with a pointer to the usage text.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Command {
    const char* name;
    const char* usage;
    int (*run)(const std::vector<std::string>& args);
};

// ---- command-line pieces --------------------------------------------------------

struct KeyName {
    RootKey root;
    std::string rootName;  // long form, for output
    std::string path;      // below the root, without leading backslash
    std::string full() const { return path.empty() ? rootName : rootName + "\\" + path; }
};

KeyName parseKey(const std::string& text) {
    if (text.starts_with("\\\\"))
        throw std::runtime_error("keys of other machines are not supported");
    static const struct {
        const char* shortName;
        const char* longName;
        RootKey root;
    } roots[] = {
        {"HKCR", "HKEY_CLASSES_ROOT", RootKey::ClassesRoot},
        {"HKCU", "HKEY_CURRENT_USER", RootKey::CurrentUser},
        {"HKLM", "HKEY_LOCAL_MACHINE", RootKey::LocalMachine},
        {"HKU", "HKEY_USERS", RootKey::Users},
        {"HKCC", "HKEY_CURRENT_CONFIG", RootKey::CurrentConfig},
        {"HKDD", "HKEY_DYN_DATA", RootKey::DynData},
    };
    const size_t slash = text.find('\\');
    const std::string head = text.substr(0, slash);
    std::string rest = slash == std::string::npos ? "" : text.substr(slash + 1);
    while (!rest.empty() && rest.back() == '\\')
        rest.pop_back();
    for (const auto& r : roots) {
        if (equalsNoCase(head, r.shortName) || equalsNoCase(head, r.longName))
            return {r.root, r.longName, rest};
    }
    throw UsageError("\"" + text +
                     "\" does not start with a root key (HKLM, HKCU, HKCR, HKU, HKCC)");
}

// The switches of a subcommand: KEY first, then /name [argument] pairs.
struct Options {
    std::string key;
    std::optional<std::string> valueName;  // /v NAME, or "" for /ve
    bool allValues = false;                // /va
    bool recurse = false;                  // /s (query)
    bool force = false;                    // /f
    std::optional<std::string> type;       // /t
    std::optional<std::string> data;       // /d
    std::optional<std::string> separator;  // /s (add)
};

Options parseOptions(const std::vector<std::string>& args, bool addSyntax) {
    Options o;
    if (args.empty()) throw UsageError("the key is missing");
    o.key = args[0];
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || (a[0] != '/' && a[0] != '-'))
            throw UsageError("unexpected argument \"" + a + "\"");
        const std::string sw = a.substr(1);
        auto argument = [&]() -> std::string {
            if (i + 1 >= args.size()) throw UsageError("/" + sw + " needs an argument");
            return args[++i];
        };
        auto once = [&](bool already) {
            if (already) throw UsageError("/" + sw + " is given twice");
        };
        if (equalsNoCase(sw, "v")) {
            once(o.valueName.has_value());
            o.valueName = argument();
        } else if (equalsNoCase(sw, "ve")) {
            once(o.valueName.has_value());
            o.valueName = "";
        } else if (equalsNoCase(sw, "va") && !addSyntax) {
            once(o.allValues);
            o.allValues = true;
        } else if (equalsNoCase(sw, "f")) {
            o.force = true;
        } else if (equalsNoCase(sw, "s") && addSyntax) {
            once(o.separator.has_value());
            o.separator = argument();
        } else if (equalsNoCase(sw, "s")) {
            o.recurse = true;
        } else if (equalsNoCase(sw, "t") && addSyntax) {
            once(o.type.has_value());
            o.type = argument();
        } else if (equalsNoCase(sw, "d") && addSyntax) {
            once(o.data.has_value());
            o.data = argument();
        } else if (equalsNoCase(sw, "reg:32") || equalsNoCase(sw, "reg:64")) {
            // One registry view serves both here.
        } else {
            throw UsageError("unknown switch \"" + a + "\"");
        }
    }
    if (o.allValues && o.valueName) throw UsageError("/va cannot be combined with /v or /ve");
    return o;
}

// Asks on the terminal; without one the answer is No.
bool confirm(const std::string& question) {
    if (!::isatty(STDIN_FILENO)) return false;
    for (;;) {
        std::cout << question << " (Yes/No)? " << std::flush;
        std::string answer;
        if (!std::getline(std::cin, answer)) return false;
        if (equalsNoCase(answer, "y") || equalsNoCase(answer, "yes")) return true;
        if (equalsNoCase(answer, "n") || equalsNoCase(answer, "no")) return false;
    }
}

// ---- value text --------------------------------------------------------------------

std::string typeName(ValueType type) {
    switch (type) {
        case ValueType::None:
            return "REG_NONE";
        case ValueType::String:
            return "REG_SZ";
        case ValueType::ExpandString:
            return "REG_EXPAND_SZ";
        case ValueType::Binary:
            return "REG_BINARY";
        case ValueType::Dword:
            return "REG_DWORD";
        case ValueType::DwordBigEndian:
            return "REG_DWORD_BIG_ENDIAN";
        case ValueType::Link:
            return "REG_LINK";
        case ValueType::MultiString:
            return "REG_MULTI_SZ";
        case ValueType::ResourceList:
            return "REG_RESOURCE_LIST";
        case ValueType::FullResourceDescriptor:
            return "REG_FULL_RESOURCE_DESCRIPTOR";
        case ValueType::ResourceRequirementsList:
            return "REG_RESOURCE_REQUIREMENTS_LIST";
        case ValueType::Qword:
            return "REG_QWORD";
    }
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(type));
    return buf;
}

std::string hexText(const std::vector<uint8_t>& data) {
    std::string out;
    char buf[4];
    for (uint8_t b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        out += buf;
    }
    return out;
}

uint64_t littleEndian(const std::vector<uint8_t>& data, size_t count) {
    uint64_t v = 0;
    for (size_t i = std::min(count, data.size()); i-- > 0;)
        v = (v << 8) | data[i];
    return v;
}

std::string dataText(const RegValue& v) {
    char buf[32];
    switch (v.type) {
        case ValueType::String:
        case ValueType::ExpandString:
        case ValueType::Link:  // the target's path
            return qb::platform::utf16BytesToUtf8(v.data);
        case ValueType::MultiString: {
            std::string out;
            for (const std::string& item : qb::platform::multiStringItems(v.data)) {
                if (!out.empty()) out += "\\0";
                out += item;
            }
            return out;
        }
        case ValueType::Dword:
            if (v.data.size() != 4) break;
            std::snprintf(buf, sizeof buf, "0x%llx",
                          static_cast<unsigned long long>(littleEndian(v.data, 4)));
            return buf;
        case ValueType::DwordBigEndian:
            if (v.data.size() != 4) break;
            std::snprintf(buf, sizeof buf, "0x%x",
                          static_cast<unsigned>(v.data[0] << 24 | v.data[1] << 16 | v.data[2] << 8 |
                                                v.data[3]));
            return buf;
        case ValueType::Qword:
            if (v.data.size() != 8) break;
            std::snprintf(buf, sizeof buf, "0x%llx",
                          static_cast<unsigned long long>(littleEndian(v.data, 8)));
            return buf;
        default:
            break;
    }
    return hexText(v.data);
}

void printValue(const std::string& name, const RegValue& v) {
    std::cout << "    " << (name.empty() ? "(Default)" : name) << "    " << typeName(v.type)
              << "    " << dataText(v) << '\n';
}

std::optional<uint64_t> parseNumber(const std::string& text, uint64_t max) {
    if (text.empty()) return std::nullopt;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    uint64_t v = 0;
    for (char c : digits) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        const uint64_t base = hex ? 16 : 10;
        if (v > (max - d) / base) return std::nullopt;
        v = v * base + d;
    }
    return v;
}

RegValue valueFromText(const std::string& typeText, const std::string& data,
                       const std::string& separator) {
    RegValue v;
    auto le = [&](uint64_t n, size_t bytes) {
        for (size_t i = 0; i < bytes; ++i)
            v.data.push_back(static_cast<uint8_t>(n >> (8 * i)));
    };
    auto number = [&](uint64_t max) {
        auto n = parseNumber(data, max);
        if (!n) throw std::runtime_error("\"" + data + "\" is not a valid number for " + typeText);
        return *n;
    };
    if (equalsNoCase(typeText, "REG_SZ") || equalsNoCase(typeText, "REG_EXPAND_SZ")) {
        v.type = equalsNoCase(typeText, "REG_SZ") ? ValueType::String : ValueType::ExpandString;
        v.data = qb::platform::utf8ToUtf16Bytes(data, true);
    } else if (equalsNoCase(typeText, "REG_MULTI_SZ")) {
        v.type = ValueType::MultiString;
        if (separator.empty()) throw UsageError("the separator of /s is empty");
        std::vector<std::string> items;
        size_t start = 0;
        while (start <= data.size() && !data.empty()) {
            size_t end = data.find(separator, start);
            if (end == std::string::npos) end = data.size();
            items.push_back(data.substr(start, end - start));
            if (items.back().empty())
                throw std::runtime_error("REG_MULTI_SZ data holds an empty string");
            start = end + separator.size();
            if (end == data.size()) break;
        }
        v.data = qb::platform::multiStringBytes(items);
    } else if (equalsNoCase(typeText, "REG_DWORD") ||
               equalsNoCase(typeText, "REG_DWORD_LITTLE_ENDIAN")) {
        v.type = ValueType::Dword;
        le(number(0xFFFFFFFFu), 4);
    } else if (equalsNoCase(typeText, "REG_DWORD_BIG_ENDIAN")) {
        v.type = ValueType::DwordBigEndian;
        const uint64_t n = number(0xFFFFFFFFu);
        for (int i = 3; i >= 0; --i)
            v.data.push_back(static_cast<uint8_t>(n >> (8 * i)));
    } else if (equalsNoCase(typeText, "REG_QWORD")) {
        v.type = ValueType::Qword;
        le(number(UINT64_MAX), 8);
    } else if (equalsNoCase(typeText, "REG_BINARY") || equalsNoCase(typeText, "REG_NONE")) {
        v.type = equalsNoCase(typeText, "REG_BINARY") ? ValueType::Binary : ValueType::None;
        std::string hex = data.size() % 2 ? "0" + data : data;
        for (size_t i = 0; i < hex.size(); i += 2) {
            auto b = parseNumber("0x" + hex.substr(i, 2), 0xFF);
            if (!b) throw std::runtime_error("\"" + data + "\" is not hexadecimal data");
            v.data.push_back(static_cast<uint8_t>(*b));
        }
    } else {
        throw UsageError("unknown value type \"" + typeText + "\"");
    }
    return v;
}

// ---- subcommands -------------------------------------------------------------------

[[noreturn]] void notFound() {
    throw std::runtime_error("The system was unable to find the specified registry key or value.");
}

void queryAll(Registry& reg, const KeyName& key, bool recurse) {
    std::cout << key.full() << '\n';
    const std::vector<std::string> values = reg.valueNames();
    for (const std::string& name : values)
        if (auto v = reg.readValue(name)) printValue(name, *v);
    const std::vector<std::string> subkeys = reg.keyNames();
    if (!values.empty() || recurse) std::cout << '\n';
    for (const std::string& sub : subkeys) {
        KeyName child = key;
        child.path = key.path.empty() ? sub : key.path + "\\" + sub;
        if (recurse) {
            Registry subReg(key.root);
            if (subReg.openKeyReadOnly("\\" + child.path)) queryAll(subReg, child, true);
        } else {
            std::cout << child.full() << '\n';
        }
    }
    if (!subkeys.empty() && !recurse) std::cout << '\n';
}

int runQuery(const std::vector<std::string>& args) {
    const Options o = parseOptions(args, false);
    if (o.allValues || o.force) throw UsageError("query takes /v, /ve and /s only");
    KeyName key = parseKey(o.key);
    Registry reg(key.root);
    if (!reg.openKeyReadOnly("\\" + key.path)) notFound();
    key.path = reg.currentPath();  // as the names are stored
    std::cout << '\n';
    if (o.valueName) {
        auto v = reg.readValue(*o.valueName);
        if (!v && !o.valueName->empty()) notFound();
        std::cout << key.full() << '\n';
        if (v) {
            std::string stored = *o.valueName;
            for (const std::string& name : reg.valueNames())
                if (equalsNoCase(name, stored)) stored = name;
            printValue(stored, *v);
        } else {
            std::cout << "    (Default)    REG_SZ    (value not set)\n";
        }
        std::cout << '\n';
        return 0;
    }
    queryAll(reg, key, o.recurse);
    return 0;
}

int runAdd(const std::vector<std::string>& args) {
    const Options o = parseOptions(args, true);
    if (o.recurse) throw UsageError("add does not take /s without a separator");
    if (!o.valueName && (o.type || o.data)) throw UsageError("/t and /d need /v or /ve");
    const KeyName key = parseKey(o.key);
    if (key.path.empty() && !o.valueName) throw UsageError("a key below the root is needed");
    std::optional<RegValue> value;
    if (o.valueName)
        value = valueFromText(o.type.value_or("REG_SZ"), o.data.value_or(""),
                              o.separator.value_or("\\0"));
    Registry reg(key.root);
    if (!reg.openKey("\\" + key.path, true))
        throw std::runtime_error("the key " + key.full() + " cannot be created");
    if (value) {
        if (reg.valueExists(*o.valueName) && !o.force) {
            const std::string shown = o.valueName->empty() ? "(Default)" : *o.valueName;
            if (!confirm("Value " + shown + " exists, overwrite"))
                throw std::runtime_error("the value " + shown +
                                         " exists and was left as it is (use /f to overwrite it)");
        }
        reg.writeValue(*o.valueName, *value);
    }
    reg.closeKey();
    std::cout << "The operation completed successfully.\n";
    return 0;
}

int runDelete(const std::vector<std::string>& args) {
    const Options o = parseOptions(args, false);
    if (o.recurse) throw UsageError("delete does not take /s");
    const KeyName key = parseKey(o.key);
    Registry reg(key.root);
    if (!reg.openKey("\\" + key.path, false)) notFound();
    if (o.valueName) {
        if (!reg.valueExists(*o.valueName)) notFound();
        const std::string shown = o.valueName->empty() ? "(Default)" : *o.valueName;
        if (!o.force && !confirm("Delete the registry value " + shown))
            throw std::runtime_error("nothing was deleted (use /f to delete without asking)");
        reg.deleteValue(*o.valueName);
    } else if (o.allValues) {
        if (!o.force && !confirm("Delete all values under the registry key " + key.full()))
            throw std::runtime_error("nothing was deleted (use /f to delete without asking)");
        for (const std::string& name : reg.valueNames())
            reg.deleteValue(name);
    } else {
        if (key.path.empty()) throw std::runtime_error("a root key cannot be deleted");
        if (!o.force && !confirm("Permanently delete the registry key " + key.full()))
            throw std::runtime_error("nothing was deleted (use /f to delete without asking)");
        reg.closeKey();
        if (!reg.deleteKey("\\" + key.path)) notFound();
    }
    reg.closeKey();
    std::cout << "The operation completed successfully.\n";
    return 0;
}

// ---- registry files ------------------------------------------------------------

// The FILE of export and import: a path of this computer when it starts with "/"
// or ".", else a Windows path of the machine. Host paths reach the registry file
// code through the drive that holds them (Z: for the whole file system).
std::string registryFileName(const std::string& file) {
    if (file.starts_with('/') || file.starts_with('.'))
        return qb::platform::windowsPath(std::filesystem::absolute(file).lexically_normal());
    if (!qb::platform::hostPath(file))
        throw UsageError("\"" + file +
                         "\" is neither a Windows path of the machine (C:\\...) nor a path of "
                         "this computer (/... or ./...)");
    return file;
}

int runExport(const std::vector<std::string>& args) {
    if (args.size() < 2) throw UsageError(args.empty() ? "the key is missing" : "FILE is missing");
    bool overwrite = false;
    for (size_t i = 2; i < args.size(); ++i) {
        if (equalsNoCase(args[i], "/y") || equalsNoCase(args[i], "-y"))
            overwrite = true;
        else if (!equalsNoCase(args[i], "/reg:32") && !equalsNoCase(args[i], "/reg:64"))
            throw UsageError("unexpected argument \"" + args[i] + "\"");
    }
    KeyName key = parseKey(args[0]);
    {
        // The file code creates a missing key; a mistyped name here must not.
        Registry reg(key.root);
        if (!reg.openKeyReadOnly("\\" + key.path)) notFound();
        key.path = reg.currentPath();  // as the names are stored
    }
    const std::string file = registryFileName(args[1]);
    if (qb::platform::fileExists(file) && !overwrite &&
        !confirm("File " + args[1] + " already exists. Overwrite"))
        throw std::runtime_error(
            "the file was not overwritten (use /y to overwrite without asking)");
    qb::TIORegistry io;
    io.ExportFormat = qb::RegFileFormat::Standard;
    if (!io.ExportKey(key.rootName, key.path, true, file)) throw std::runtime_error(io.LastError());
    std::cout << "The operation completed successfully.\n";
    return 0;
}

int runImport(const std::vector<std::string>& args) {
    if (args.empty()) throw UsageError("FILE is missing");
    bool backupForm = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (equalsNoCase(args[i], "/backup") || equalsNoCase(args[i], "-backup"))
            backupForm = true;
        else
            throw UsageError("unexpected argument \"" + args[i] + "\"");
    }
    const std::string file = registryFileName(args[0]);
    // The file code reports a missing file in a message box; here it is an ERROR line.
    qb::ScriptedInteraction quiet;
    qb::ScopedInteraction scope(quiet);
    qb::TIORegistry io;
    io.ImportFormat = backupForm ? qb::RegFileFormat::Backup : qb::RegFileFormat::Standard;
    try {
        if (!io.ImportFile(file)) throw std::runtime_error(io.LastError());
    } catch (const qb::RegFileError& e) {
        // A backup's own files look like the editor's REGEDIT4 files.
        std::string head(8, '\0');
        if (auto host = qb::platform::hostPath(file)) {
            std::ifstream in(*host, std::ios::binary);
            in.read(head.data(), static_cast<std::streamsize>(head.size()));
        }
        if (backupForm || head != "REGEDIT4") throw;
        throw std::runtime_error(std::string(e.what()) +
                                 "\n(A registry file taken out of a backup is read with /backup.)");
    }
    std::cout << "The operation completed successfully.\n";
    return 0;
}

const Command kCommands[] = {
    {"query",
     "qbreg query KEY [/v NAME | /ve] [/s]\n"
     "  Lists the values and subkeys of KEY.\n"
     "  /v NAME  only the value NAME      /ve  only the default value\n"
     "  /s       every subkey below KEY as well\n",
     runQuery},
    {"add",
     "qbreg add KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]\n"
     "  Creates KEY and, with /v or /ve, sets a value.\n"
     "  /t TYPE  REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,\n"
     "           REG_DWORD_BIG_ENDIAN, REG_BINARY, REG_NONE\n"
     "  /d DATA  the data: numbers in decimal or 0x hex, binary data as hex digits,\n"
     "           REG_MULTI_SZ strings separated by SEP (/s, default \\0)\n"
     "  /f       overwrite an existing value without asking\n",
     runAdd},
    {"delete",
     "qbreg delete KEY [/v NAME | /ve | /va] [/f]\n"
     "  Deletes KEY with all its subkeys, or the value NAME (/v), the default value (/ve)\n"
     "  or every value of KEY (/va).\n"
     "  /f       delete without asking\n",
     runDelete},
    {"export",
     "qbreg export KEY FILE [/y]\n"
     "  Writes KEY with all its subkeys to FILE as the Windows registry editor does\n"
     "  (\"Windows Registry Editor Version 5.00\", UTF-16LE), every value type exact.\n"
     "  FILE     a path of this computer when it starts with \"/\" or \".\", else a\n"
     "           Windows path of the machine (C:\\...)\n"
     "  /y       overwrite FILE without asking\n",
     runExport},
    {"import",
     "qbreg import FILE [/backup]\n"
     "  Reads the registry file FILE into the registry; FILE as for export. FILE is a\n"
     "  file of the Windows registry editor (\"Windows Registry Editor Version 5.00\"\n"
     "  or \"REGEDIT4\"; UTF-16 or UTF-8): \"@\" is the default value, \"=-\" deletes a\n"
     "  value and [-KEY] a key. A line that cannot be read stops the import before\n"
     "  anything is written, and is named.\n"
     "  /backup  FILE is a registry file taken out of a Quillbox backup (REGEDIT4,\n"
     "           strings not escaped)\n",
     runImport},
};

void printHelp(std::ostream& out) {
    out << "qbreg: reads and changes the registry of the Windows machine Quillbox uses\n"
           "(the prefix named by QUILLBOX_PREFIX, else WINEPREFIX, else ~/.wine).\n\n"
           "KEY is ROOT\\path; ROOT is HKLM, HKCU, HKCR, HKU, HKCC or the long\n"
           "HKEY_... name.\n\n";
    for (const Command& c : kCommands)
        out << c.usage << '\n';
    out << "qbreg COMMAND /? shows the help of one command.\n";
}

bool isHelp(const std::string& a) {
    return a == "/?" || a == "-?" || a == "--help" || a == "-h" || a == "/h";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << "ERROR: Invalid syntax.\n";
        printHelp(std::cerr);
        return 1;
    }
    if (isHelp(args[0])) {
        printHelp(std::cout);
        return 0;
    }
    const Command* command = nullptr;
    for (const Command& c : kCommands)
        if (equalsNoCase(args[0], c.name)) command = &c;
    if (!command) {
        std::cerr << "ERROR: Invalid syntax: unknown command \"" << args[0]
                  << "\".\nType \"qbreg --help\" for usage.\n";
        return 1;
    }
    args.erase(args.begin());
    for (const std::string& a : args) {
        if (isHelp(a)) {
            std::cout << command->usage;
            return 0;
        }
    }
    try {
        int rc = command->run(args);
        qb::platform::flushRegistry();
        return rc;
    } catch (const UsageError& e) {
        std::cerr << "ERROR: Invalid syntax: " << e.what() << ".\nType \"qbreg " << command->name
                  << " /?\" for usage.\n";
    } catch (const std::exception& e) {
        // The text may quote a line of a registry file.
        std::cerr << "ERROR: " << qb::platform::escapeControls(e.what(), true) << '\n';
    }
    return 1;
}
