#include "platform/machine.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/paths.h"
#include "platform/registry.h"

namespace qb::platform {

namespace fs = std::filesystem;

namespace {

std::unique_ptr<Machine>& currentSlot() {
    static std::unique_ptr<Machine> slot;
    return slot;
}

std::string envOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : fallback;
}

fs::path homeFolder() {
    std::string home = envOr("HOME", "");
    if (home.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid())) home = pw->pw_dir;
    }
    return home.empty() ? fs::path("/") : fs::path(home);
}

// Escapes a string for a quoted value of Wine's registry text format.
std::string wineQuote(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

struct Folder {
    const char* valueName;
    const char* relative;  // below the user's profile folder
};

// The per-user shell folders Wine creates and records on first start.
const std::vector<Folder>& userShellFolders() {
    static const std::vector<Folder> folders = {
        {"AppData", "AppData\\Roaming"},
        {"Cache", "AppData\\Local\\Microsoft\\Windows\\INetCache"},
        {"Cookies", "AppData\\Local\\Microsoft\\Windows\\INetCookies"},
        {"Desktop", "Desktop"},
        {"Favorites", "Favorites"},
        {"History", "AppData\\Local\\Microsoft\\Windows\\History"},
        {"Local AppData", "AppData\\Local"},
        {"My Music", "Music"},
        {"My Pictures", "Pictures"},
        {"My Videos", "Videos"},
        {"NetHood", "AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts"},
        {"Personal", "Documents"},
        {"PrintHood", "AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts"},
        {"Programs", "AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
        {"Recent", "AppData\\Roaming\\Microsoft\\Windows\\Recent"},
        {"SendTo", "AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
        {"Start Menu", "AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
        {"StartUp", "AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
        {"Templates", "AppData\\Roaming\\Microsoft\\Windows\\Templates"},
    };
    return folders;
}

std::string keyLine(std::string_view key) {
    // Wine writes key names with doubled backslashes and a modification stamp.
    return "[" + wineQuote(key) + "] 1796676579\n#time=1dd868c7a2a1ab8\n";
}

std::string userHive(const std::string& user) {
    const std::string profile = "C:\\users\\" + user;
    std::ostringstream s;
    s << "WINE REGISTRY Version 2\n;; All keys relative to "
         "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
         "#arch=win64\n\n";
    s << keyLine("Environment") << "\"TEMP\"=\"" << wineQuote(profile + "\\Temp") << "\"\n"
      << "\"TMP\"=\"" << wineQuote(profile + "\\Temp") << "\"\n\n";
    s << keyLine("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
    for (const Folder& f : userShellFolders())
        s << "\"" << f.valueName << "\"=\"" << wineQuote(profile + "\\" + f.relative) << "\"\n";
    s << "\n"
      << keyLine("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders");
    for (const Folder& f : userShellFolders())
        s << "\"" << f.valueName << "\"=str(2):\""
          << wineQuote(std::string("%USERPROFILE%\\") + f.relative) << "\"\n";
    s << "\n" << keyLine("Volatile Environment");
    s << "\"APPDATA\"=\"" << wineQuote(profile + "\\AppData\\Roaming") << "\"\n"
      << "\"HOMEDRIVE\"=\"C:\"\n"
      << "\"HOMEPATH\"=\"" << wineQuote("\\users\\" + user) << "\"\n"
      << "\"LOCALAPPDATA\"=\"" << wineQuote(profile + "\\AppData\\Local") << "\"\n"
      << "\"USERNAME\"=\"" << wineQuote(user) << "\"\n"
      << "\"USERPROFILE\"=\"" << wineQuote(profile) << "\"\n";
    return s.str();
}

std::string systemHive(const std::string& user) {
    std::ostringstream s;
    s << "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n";
    s << keyLine("Software\\Microsoft\\Windows\\CurrentVersion")
      << "\"CommonFilesDir\"=\"C:\\\\Program Files\\\\Common Files\"\n"
      << "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\n\n";
    s << keyLine("Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList")
      << "\"ProfilesDirectory\"=str(2):\"C:\\\\users\"\n"
      << "\"ProgramData\"=str(2):\"C:\\\\ProgramData\"\n"
      << "\"Public\"=str(2):\"C:\\\\users\\\\Public\"\n\n";
    s << keyLine(
             "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-1000")
      << "\"Flags\"=dword:00000000\n"
      << "\"ProfileImagePath\"=\"" << wineQuote("C:\\users\\" + user) << "\"\n\n";
    s << keyLine("System\\CurrentControlSet\\Control\\Session Manager\\Environment")
      << "\"ComSpec\"=str(2):\"%SystemRoot%\\\\system32\\\\cmd.exe\"\n"
      << "\"OS\"=\"Windows_NT\"\n"
      << "\"TEMP\"=str(2):\"%SystemRoot%\\\\temp\"\n"
      << "\"TMP\"=str(2):\"%SystemRoot%\\\\temp\"\n"
      << "\"windir\"=str(2):\"%SystemRoot%\"\n\n";
    s << keyLine("Software\\Microsoft\\Windows NT\\CurrentVersion")
      << "\"SystemRoot\"=\"C:\\\\windows\"\n";
    return s.str();
}

std::string userDefaultHive() {
    return "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\.Default\n\n"
           "#arch=win64\n";
}

void writeText(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw MachineError("cannot write " + file.string());
}

// The profile folder name of the prefix's user: the Linux login when the prefix
// has a folder of that name (as Wine makes it), else the one other profile there.
std::string findUser(const fs::path& prefix) {
    const std::string login = hostUserName();
    std::vector<std::string> candidates;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(prefix / "drive_c" / "users", ec)) {
        std::string name = e.path().filename().string();
        if (!e.is_directory(ec) || equalsNoCase(name, "Public") || equalsNoCase(name, "Default"))
            continue;
        if (equalsNoCase(name, login)) return name;
        candidates.push_back(name);
    }
    return candidates.size() == 1 ? candidates.front() : login;
}

}  // namespace

std::string hostUserName() {
    std::string user = envOr("USER", "");
    if (user.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid())) user = pw->pw_name;
    }
    return user.empty() ? std::string("user") : user;
}

Machine::Machine(fs::path prefix) : prefix_(std::move(prefix)), user_(findUser(prefix_)) {}

fs::path Machine::selectPrefix() {
    if (const char* v = std::getenv("QUILLBOX_PREFIX"); v && *v) return fs::path(v);
    if (const char* v = std::getenv("WINEPREFIX"); v && *v) return fs::path(v);
    fs::path wine = homeFolder() / ".wine";
    std::error_code ec;
    if (fs::is_directory(wine, ec)) return wine;
    // A relative XDG_DATA_HOME is invalid and to be ignored.
    fs::path data = envOr("XDG_DATA_HOME", "");
    fs::path base = data.is_absolute() ? data : homeFolder() / ".local" / "share";
    return base / "quillbox" / "prefix";
}

Machine& Machine::current() {
    static std::mutex choosing;
    std::lock_guard<std::mutex> lock(choosing);
    auto& slot = currentSlot();
    if (!slot) {
        std::error_code ec;
        // Absolute, so that a later change of the working folder does not move the machine.
        fs::path prefix = fs::absolute(selectPrefix(), ec);
        const char* q = std::getenv("QUILLBOX_PREFIX");
        const char* w = std::getenv("WINEPREFIX");
        const bool named = (q && *q) || (w && *w);
        if (!fs::is_directory(prefix, ec)) {
            if (named)
                throw MachineError("the prefix " + prefix.string() +
                                   " does not exist (named by the environment)");
            createPrefix(prefix, hostUserName());
            // Said once, when it is made: otherwise every later run would find an
            // empty machine without knowing why.
            std::cerr << program_invocation_short_name
                      << ": no Wine prefix was found, so an empty private machine was "
                         "created in "
                      << prefix.string()
                      << "; to use the machine of your e-mail client, set QUILLBOX_PREFIX (or "
                         "WINEPREFIX) to its Wine prefix\n";
        }
        slot.reset(new Machine(prefix));
    }
    return *slot;
}

Machine& Machine::use(const fs::path& prefix) {
    std::error_code ec;
    if (!fs::is_directory(prefix, ec))
        throw MachineError("the prefix " + prefix.string() + " does not exist");
    unloadRegistry();
    currentSlot().reset(new Machine(fs::absolute(prefix)));
    return *currentSlot();
}

void Machine::createPrefix(const fs::path& prefix, const std::string& user) {
    std::error_code ec;
    fs::create_directories(prefix / "dosdevices", ec);
    if (ec) throw MachineError("cannot create the prefix " + prefix.string() + ": " + ec.message());
    const fs::path c = prefix / "drive_c";
    for (const char* dir : {"windows", "windows\\temp", "windows\\system32", "Program Files",
                            "Program Files\\Common Files", "ProgramData", "users\\Public"}) {
        std::string rel(dir);
        for (char& ch : rel)
            if (ch == '\\') ch = '/';
        fs::create_directories(c / rel, ec);
        if (ec) throw MachineError("cannot create " + (c / rel).string() + ": " + ec.message());
    }
    const fs::path profile = c / "users" / user;
    fs::create_directories(profile / "Temp", ec);
    if (ec)
        throw MachineError("cannot create " + (profile / "Temp").string() + ": " + ec.message());
    for (const Folder& f : userShellFolders()) {
        std::string rel(f.relative);
        for (char& ch : rel)
            if (ch == '\\') ch = '/';
        fs::create_directories(profile / rel, ec);
        if (ec)
            throw MachineError("cannot create " + (profile / rel).string() + ": " + ec.message());
    }
    auto link = [&](const char* name, const fs::path& target) {
        fs::path l = prefix / "dosdevices" / name;
        std::error_code e2;
        if (!fs::is_symlink(l, e2)) fs::create_directory_symlink(target, l, e2);
        if (e2) throw MachineError("cannot create " + l.string() + ": " + e2.message());
    };
    link("c:", "../drive_c");
    link("z:", "/");
    if (!fs::exists(prefix / "system.reg")) writeText(prefix / "system.reg", systemHive(user));
    if (!fs::exists(prefix / "user.reg")) writeText(prefix / "user.reg", userHive(user));
    if (!fs::exists(prefix / "userdef.reg")) writeText(prefix / "userdef.reg", userDefaultHive());
}

}  // namespace qb::platform
