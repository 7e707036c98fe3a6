#include "catalog/client_paths.h"

#include "catalog/reads.h"
#include "platform/paths.h"

namespace qb {

using catalog::readText;
using platform::RootKey;

namespace {

constexpr const char* kShellFolders =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kPegasusKey = "\\SOFTWARE\\Classes\\software\\pegasus mail";

}  // namespace

std::string AppDataFolder() {
    return platform::excludeTrailingBackslash(
        readText(RootKey::CurrentUser, kShellFolders, "AppData"));
}

std::string MozillaRegistryFile() {
    const std::string appData = AppDataFolder();
    return appData.empty() ? std::string() : appData + "\\Mozilla\\registry.dat";
}

std::string PegasusMailboxPath() {
    return readText(RootKey::LocalMachine, std::string(kPegasusKey) + "\\MailBox", "");
}

std::string PegasusBaseFolder() {
    std::string path = PegasusMailboxPath();
    // "C:\" stays whole: its base is the drive's root, not "C:".
    if (path.size() > 3 && path.back() == '\\') path.pop_back();
    const size_t cut = path.rfind('\\');
    if (cut == std::string::npos) return path;
    return path.substr(0, cut);
}

std::string PegasusUserMode() {
    return readText(RootKey::LocalMachine, std::string(kPegasusKey) + "\\Username", "");
}

std::string PocoFolder(ClientKind version) {
    std::string folder;
    switch (version) {
        case kind::PocoMail2:
            folder = readText(RootKey::CurrentUser, "\\Software\\Poco\\Mail", "Path");
            break;
        case kind::PocoMail3:
            folder =
                readText(RootKey::CurrentUser, "\\Software\\Poco Systems Inc\\PocoMail 3", "Path");
            break;
        case kind::PocoMail2PE:
            folder = readText(RootKey::LocalMachine,
                              "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                              "pocomail2moe_is1",
                              "Inno Setup: App Path");
            break;
        default:
            break;
    }
    return platform::excludeTrailingBackslash(folder);
}

std::string OperaFolder() {
    std::string commandLine =
        readText(RootKey::CurrentUser, "Software\\Opera Software", "Last CommandLine");
    if (!commandLine.empty() && commandLine.front() == '"') {
        const size_t close = commandLine.find('"', 1);
        commandLine =
            commandLine.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return platform::extractFilePath(commandLine);
}

std::string Opera7Folder() {
    const std::string appData = AppDataFolder();
    return appData.empty() ? std::string() : appData + "\\Opera\\Opera7";
}

}  // namespace qb
