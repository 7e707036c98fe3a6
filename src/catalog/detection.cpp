#include "catalog/detection.h"

#include <array>
#include <string_view>

#include "catalog/client_paths.h"
#include "catalog/kinds.h"
#include "catalog/reads.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qb {

using catalog::keyExists;
using catalog::readText;
using catalog::subKeyNames;
using catalog::valueExists;
using platform::RootKey;

namespace {

constexpr const char* kClientsMail = "\\software\\clients\\mail";
constexpr const char* kPocoPEUninstall =
    "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\pocomail2moe_is1";

// The default value names a client exactly; the installed check only needs a
// fragment of a subkey's name (so "The Bat!" and "The Bat" both count).
struct ClientName {
    ClientKind family;
    std::string_view defaultName;
    std::string_view fragment;
};

constexpr std::array<ClientName, 9> kClientNames{{
    {kind::OutlookExpress, "outlook express", "outlook express"},
    {kind::Outlook, "microsoft outlook", "microsoft outlook"},
    {kind::Eudora, "eudora", "eudora"},
    {kind::IncrediMail, "incredimail", "incredimail"},
    {kind::PegasusMail, "pegasus mail", "pegasus mail"},
    {kind::TheBat, "the bat!", "the bat"},
    {kind::PocoMailFamily, "poco", "poco"},
    {kind::OperaFamily, "opera", "opera"},
    {kind::NetscapeFamily, "netscape", "netscape"},
}};

bool fallbackInstalled(ClientKind family) {
    switch (family) {
        case kind::PocoMailFamily:
            // A per-user setup leaves its uninstall key under the current user, a
            // setup for all users under the machine; the version list reads the
            // latter, so both count here.
            return keyExists(RootKey::CurrentUser, kPocoPEUninstall) ||
                   keyExists(RootKey::CurrentUser, "\\software\\poco") ||
                   keyExists(RootKey::CurrentUser, "\\Software\\Poco Systems Inc") ||
                   keyExists(RootKey::LocalMachine, kPocoPEUninstall);
        case kind::PegasusMail:
            return keyExists(RootKey::LocalMachine, "\\SOFTWARE\\Classes\\software\\pegasus mail");
        case kind::OperaFamily:
            return keyExists(RootKey::CurrentUser, "\\Software\\Opera Software");
        default:
            return false;
    }
}

}  // namespace

ClientKind DefaultMailClient() {
    const std::string name =
        platform::lowerAscii(readText(RootKey::LocalMachine, kClientsMail, ""));
    for (const ClientName& c : kClientNames)
        if (name == c.defaultName) return c.family;
    return kind::None;
}

bool IsClientInstalled(ClientKind family) {
    if (family == kind::Favorites) return true;
    const ClientName* client = nullptr;
    for (const ClientName& c : kClientNames)
        if (c.family == family) client = &c;
    if (!client) return false;
    for (const std::string& sub : subKeyNames(RootKey::LocalMachine, kClientsMail))
        if (platform::lowerAscii(sub).find(client->fragment) != std::string::npos) return true;
    return fallbackInstalled(family);
}

std::vector<ClientVersion> InstalledVersions(ClientKind family) {
    std::vector<ClientVersion> found;
    auto add = [&](ClientKind version) {
        found.push_back({std::string(findKind(version)->versionLabel), version});
    };
    switch (family) {
        case kind::PocoMailFamily:
            if (keyExists(RootKey::CurrentUser, "\\Software\\Poco Systems Inc"))
                add(kind::PocoMail3);
            if (keyExists(RootKey::CurrentUser, "\\Software\\Poco\\Mail")) add(kind::PocoMail2);
            if (keyExists(RootKey::LocalMachine, kPocoPEUninstall)) add(kind::PocoMail2PE);
            break;
        case kind::OperaFamily:
            if (valueExists(RootKey::CurrentUser, "Software\\Opera Software",
                            "Last CommandLine v2"))
                add(kind::Opera7);
            if (valueExists(RootKey::CurrentUser, "Software\\Opera Software", "Last CommandLine"))
                add(kind::Opera6);
            break;
        case kind::NetscapeFamily: {
            const std::string registryFile = MozillaRegistryFile();
            if (!registryFile.empty() && platform::fileExists(registryFile)) add(kind::Mozilla);
            if (keyExists(RootKey::CurrentUser, "\\Software\\Netscape\\Netscape Navigator"))
                add(kind::Netscape4);
            break;
        }
        default:
            break;
    }
    return found;
}

}  // namespace qb
