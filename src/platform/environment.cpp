// The parts of the machine that come from the registry: the environment
// variables, the temporary folder and the types of drives.
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace qb::platform {

namespace {

struct Variable {
    std::string name;
    std::string value;
};
using Environment = std::vector<Variable>;

const std::string* lookup(const Environment& env, std::string_view name) {
    for (const Variable& v : env)
        if (equalsNoCase(v.name, name)) return &v.value;
    return nullptr;
}

void assign(Environment& env, std::string_view name, std::string value) {
    for (Variable& v : env) {
        if (equalsNoCase(v.name, name)) {
            v.value = std::move(value);
            return;
        }
    }
    env.push_back({std::string(name), std::move(value)});
}

// %NAME% replaced by its value; a name that is not set keeps its text, and its
// closing '%' may open the next name (as Windows scans).
std::string expandWith(const Environment& env, std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '%') {
            out += text[i++];
            continue;
        }
        const size_t close = text.find('%', i + 1);
        if (close != std::string_view::npos && close > i + 1) {
            if (const std::string* v = lookup(env, text.substr(i + 1, close - i - 1))) {
                out += *v;
                i = close + 1;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

// Adds the string values of a key; REG_EXPAND_SZ values are expanded once with
// what is known so far. "Path" of the user's key extends the system's.
void addKey(Environment& env, RootKey root, std::string_view key, bool appendPath) {
    Registry reg(root);
    if (!reg.openKeyReadOnly(key)) return;
    for (const std::string& name : reg.valueNames()) {
        if (name.empty()) continue;
        const auto type = reg.dataType(name);
        if (type != ValueType::String && type != ValueType::ExpandString) continue;
        std::string value = reg.readString(name);
        if (type == ValueType::ExpandString) value = expandWith(env, value);
        if (appendPath && equalsNoCase(name, "Path")) {
            if (const std::string* old = lookup(env, name); old && !old->empty())
                value = *old + ";" + value;
        }
        assign(env, name, std::move(value));
    }
}

Environment machineEnvironment() {
    Environment env;
    std::string systemRoot = readStringValue(
        RootKey::LocalMachine, "\\Software\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot");
    if (systemRoot.empty()) systemRoot = "C:\\windows";
    std::string systemDrive = extractFileDrive(systemRoot);
    if (systemDrive.empty()) systemDrive = "C:";
    assign(env, "SystemRoot", systemRoot);
    assign(env, "windir", systemRoot);
    assign(env, "SystemDrive", systemDrive);

    const std::string profiles = "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    auto profileFolder = [&](const char* name, const std::string& fallback) {
        std::string v = expandWith(env, readStringValue(RootKey::LocalMachine, profiles, name));
        return v.empty() ? fallback : v;
    };
    const std::string programData = profileFolder("ProgramData", systemDrive + "\\ProgramData");
    assign(env, "ALLUSERSPROFILE", programData);
    assign(env, "ProgramData", programData);
    assign(env, "PUBLIC", profileFolder("Public", systemDrive + "\\users\\Public"));

    const std::string currentVersion = "\\Software\\Microsoft\\Windows\\CurrentVersion";
    auto folder = [&](const char* var, const char* value, const std::string& fallback) {
        std::string v =
            expandWith(env, readStringValue(RootKey::LocalMachine, currentVersion, value));
        if (v.empty()) v = fallback;
        if (!v.empty()) assign(env, var, v);
    };
    folder("ProgramFiles", "ProgramFilesDir", systemDrive + "\\Program Files");
    folder("CommonProgramFiles", "CommonFilesDir", systemDrive + "\\Program Files\\Common Files");
    folder("ProgramFiles(x86)", "ProgramFilesDir (x86)", "");
    folder("CommonProgramFiles(x86)", "CommonFilesDir (x86)", "");

    const std::string& user = Machine::current().userName();
    const std::string profile = systemDrive + "\\users\\" + user;
    assign(env, "USERNAME", user);
    assign(env, "USERPROFILE", profile);
    assign(env, "HOMEDRIVE", systemDrive);
    assign(env, "HOMEPATH", "\\users\\" + user);
    assign(env, "APPDATA", profile + "\\AppData\\Roaming");
    assign(env, "LOCALAPPDATA", profile + "\\AppData\\Local");

    addKey(env, RootKey::LocalMachine,
           "\\System\\CurrentControlSet\\Control\\Session Manager\\Environment", false);
    addKey(env, RootKey::CurrentUser, "\\Environment", true);
    addKey(env, RootKey::CurrentUser, "\\Volatile Environment", false);
    return env;
}

bool isDrivePath(std::string_view path) {
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && path[2] == '\\';
}

}  // namespace

std::string expandEnvironmentStrings(std::string_view text) {
    if (text.find('%') == std::string_view::npos) return std::string(text);
    return expandWith(machineEnvironment(), text);
}

std::string tempFolder() {
    const std::string fallback = "C:\\windows\\temp";
    std::string temp =
        expandEnvironmentStrings(readStringValue(RootKey::CurrentUser, "\\Environment", "TEMP"));
    temp = excludeTrailingBackslash(temp);
    // A TEMP that names no folder on a drive, or one that cannot be made, is
    // replaced by the system's, as programs would fail on it otherwise.
    if (!isDrivePath(temp + "\\") || temp.find('%') != std::string::npos ||
        driveType(temp[0]) == DriveType::NoRootDir ||
        !(directoryExists(temp) || forceDirectories(temp))) {
        temp = fallback;
        if (!directoryExists(temp)) forceDirectories(temp);
    }
    return includeTrailingBackslash(temp);
}

DriveType driveType(char drive) {
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(drive)));
    if (letter < 'a' || letter > 'z') return DriveType::NoRootDir;
    const std::string device = std::string(1, letter) + ":";
    std::error_code ec;
    if (!std::filesystem::exists(Machine::current().prefix() / "dosdevices" / device, ec))
        return DriveType::NoRootDir;
    const std::string type =
        lowerAscii(readStringValue(RootKey::LocalMachine, "\\Software\\Wine\\Drives", device));
    if (type == "cdrom") return DriveType::CdRom;
    if (type == "floppy") return DriveType::Removable;
    if (type == "network") return DriveType::Remote;
    if (type == "ramdisk") return DriveType::RamDisk;
    return DriveType::Fixed;
}

}  // namespace qb::platform
