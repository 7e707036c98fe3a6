#include "catalog/identities.h"

#include <span>

#include "catalog/client_paths.h"
#include "catalog/mozilla_profiles.h"
#include "catalog/reads.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/interaction.h"

namespace qb {

using catalog::keyExists;
using catalog::readFileBytes;
using catalog::readNumber;
using catalog::readText;
using catalog::splitLines;
using catalog::subKeyNames;
using platform::RootKey;

namespace {

std::string trimmed(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const size_t last = s.find_last_not_of(" \t");
    return std::string(s.substr(first, last - first + 1));
}

std::vector<std::string> outlookExpressIdentities() {
    std::vector<std::string> ids;
    for (const std::string& sub : subKeyNames(RootKey::CurrentUser, "\\identities"))
        ids.push_back(readText(RootKey::CurrentUser, "\\identities\\" + sub, "Username"));
    return ids;
}

// IncrediMail keeps its identities under the current user, or, in older setups,
// only under the machine. Under the current user an identity without a name is
// shown by its number among the valid ones.
std::vector<std::string> incrediMailIdentities() {
    const bool perUser = keyExists(RootKey::CurrentUser, "\\SOFTWARE\\incredimail");
    const RootKey root = perUser ? RootKey::CurrentUser : RootKey::LocalMachine;
    const std::string base = "\\SOFTWARE\\incredimail\\identities";
    std::vector<std::string> ids;
    int valid = 0;
    for (const std::string& sub : subKeyNames(root, base)) {
        const std::string key = base + "\\" + sub;
        const auto isValid = readNumber(root, key, "IsValid");
        if (isValid && *isValid == 0) continue;
        ++valid;
        std::string name = readText(root, key, "Identity");
        if (name.empty() && perUser) name = "[Identity" + std::to_string(valid) + "]";
        ids.push_back(std::move(name));
    }
    return ids;
}

std::vector<std::string> pegasusIdentities() {
    std::vector<std::string> raw;
    if (platform::lowerAscii(PegasusUserMode()) == "single-user mode") {
        raw.push_back("Default User");
    } else if (const std::string base = PegasusBaseFolder(); !base.empty()) {
        if (const auto text = readFileBytes(base + "\\pmail.usr")) raw = splitLines(*text);
    }
    std::vector<std::string> ids;
    for (const std::string& line : raw)
        if (!trimmed(line).empty()) ids.push_back(PegasusUserFromLine(line));
    return ids;
}

std::vector<std::string> theBatIdentities() {
    platform::Registry reg(RootKey::CurrentUser);
    if (!reg.openKeyReadOnly("\\Software\\RIT\\The Bat!\\Users Depot")) return {};
    int32_t count = 0;
    if (reg.dataType("Count") == platform::ValueType::Dword) count = reg.readInteger("Count");
    // Every user has a "User #n" value, so a count beyond the number of values
    // in the key is damage; it must not make the listing run for ages.
    const auto values = static_cast<int32_t>(reg.valueNames().size());
    if (count > values) count = values;
    std::vector<std::string> ids;
    for (int32_t n = 1; n <= count; ++n) {
        const std::string name = "User #" + std::to_string(n);
        const auto type = reg.dataType(name);
        const bool text =
            type == platform::ValueType::String || type == platform::ValueType::ExpandString;
        ids.push_back(text ? reg.readString(name) : std::string());
    }
    return ids;
}

std::vector<std::string> pocoMailIdentities(ClientKind version) {
    std::vector<std::string> ids{"Default User"};
    const std::string folder = PocoFolder(version);
    if (folder.empty()) return ids;
    for (const platform::SearchRec& rec :
         platform::findFiles(folder + "\\users\\*.*", platform::faDirectory)) {
        if (rec.name == "." || rec.name == "..") continue;
        ids.push_back(rec.name);
    }
    return ids;
}

// The accounts are the lines of the "[Accounts]" section of Mail\accounts.ini,
// read as plain lines. The section's "Count" line and blank lines name no account.
std::vector<std::string> opera6Identities() {
    const std::string folder = OperaFolder();
    if (folder.empty()) return {};
    const auto text = readFileBytes(folder + "Mail\\accounts.ini");
    if (!text) return {};
    std::vector<std::string> ids;
    bool inAccounts = false;
    for (const std::string& line : splitLines(*text)) {
        if (line.find('[') != std::string::npos) inAccounts = false;
        if (inAccounts) {
            const std::string t = trimmed(line);
            const bool countLine =
                platform::equalsNoCase(trimmed(t.substr(0, t.find('='))), "count") &&
                t.find('=') != std::string::npos;
            if (!t.empty() && !countLine) ids.push_back(OperaAccountFromLine(line));
        }
        if (platform::lowerAscii(trimmed(line)) == "[accounts]") inAccounts = true;
    }
    return ids;
}

std::vector<std::string> netscape4Identities() {
    return subKeyNames(RootKey::CurrentUser,
                       "\\Software\\Netscape\\Netscape Navigator\\biff\\users");
}

std::vector<std::string> mozillaIdentities() {
    std::vector<std::string> paths;
    if (const auto bytes = readFileBytes(MozillaRegistryFile())) {
        const auto* data = reinterpret_cast<const uint8_t*>(bytes->data());
        paths = ScanMozillaRegistry(std::span<const uint8_t>(data, bytes->size()),
                                    [] { interaction().processMessages(); });
    }
    std::vector<std::string> ids;
    for (const std::string& p : paths)
        ids.push_back(MozillaProfileName(p));
    MozillaProfilePaths().assign(std::move(paths));
    return ids;
}

}  // namespace

std::vector<std::string> BackupItems(ClientKind kind) {
    using namespace item;
    std::vector<std::string_view> list;
    switch (kind) {
        case kind::OutlookExpress:
            list = {AccountsSettings, MailFolders, Signatures,
                    MessageRules,     AddressBook, Stationery};
            break;
        case kind::Outlook:
            list = {AccountsSettings, MailFolders, PersonalStore,
                    MessageRules,     AddressBook, Signatures};
            break;
        case kind::Eudora:
            list = {AccountsSettings, MailFolders, Filters, Signatures, AddressBook};
            break;
        case kind::IncrediMail:
            list = {AccountsSettings, MailFolders, MessageRules, AddressBook, Stationery};
            break;
        case kind::PegasusMail:
            list = {AccountsSettings, MailFolders, Signatures, AddressBook};
            break;
        case kind::TheBat:
            list = {AccountsSettings, MailFolders, Filters, AddressBook};
            break;
        case kind::PocoMail2:
        case kind::PocoMail3:
        case kind::PocoMail2PE:
            list = {AccountsSettings, MailFolders, Filters, Signatures, AddressBook, Scripts};
            break;
        case kind::Opera6:
        case kind::Opera7:
            list = {AccountsSettings, MailFolders, Filters, Signatures, AddressBook};
            break;
        case kind::Netscape4:
        case kind::Mozilla:
            list = {AccountsSettings, MailFolders, Filters, AddressBook};
            break;
        case kind::Favorites:
            list = {item::Favorites};
            break;
        default:
            break;
    }
    return {list.begin(), list.end()};
}

bool ItemsSelectable(ClientKind kind) {
    switch (kind) {
        case kind::OutlookExpress:
        case kind::Eudora:
        case kind::IncrediMail:
        case kind::TheBat:
        case kind::PocoMail2:
        case kind::PocoMail3:
        case kind::PocoMail2PE:
        case kind::Opera6:
        case kind::Favorites:
            return true;
        default:
            return false;
    }
}

std::vector<std::string> ListIdentities(ClientKind kind) {
    switch (kind) {
        case kind::OutlookExpress:
            return outlookExpressIdentities();
        case kind::Outlook:
            return {"Default user"};
        case kind::Eudora:
        case kind::Favorites:
            return {"Default"};
        case kind::IncrediMail:
            return incrediMailIdentities();
        case kind::PegasusMail:
            return pegasusIdentities();
        case kind::TheBat:
            return theBatIdentities();
        case kind::PocoMail2:
        case kind::PocoMail3:
        case kind::PocoMail2PE:
            return pocoMailIdentities(kind);
        case kind::Opera6:
            return opera6Identities();
        case kind::Opera7:
            return {"Default User"};
        case kind::Netscape4:
            return netscape4Identities();
        case kind::Mozilla:
            return mozillaIdentities();
        default:
            return {};
    }
}

bool ListIdentitiesAndItems(ClientKind kind, std::vector<std::string>& identities,
                            std::vector<std::string>& items) {
    std::vector<std::string> fixed = BackupItems(kind);
    if (fixed.empty()) return false;
    for (std::string& id : ListIdentities(kind))
        identities.push_back(std::move(id));
    for (std::string& it : fixed)
        items.push_back(std::move(it));
    return ItemsSelectable(kind);
}

std::string PegasusUserFromLine(std::string_view line) {
    const size_t semicolon = line.rfind(';');
    if (semicolon == std::string_view::npos) return std::string(line);
    if (semicolon <= 2) return {};
    return std::string(line.substr(2, semicolon - 2));
}

std::string OperaAccountFromLine(std::string_view line) {
    if (line.find('?') == std::string_view::npos) return std::string(line);
    if (line.size() < 2) return {};
    const size_t end = line.size() - 2;  // the last two characters are not part of it
    for (size_t i = end + 1; i-- > 0;) {
        if (line[i] != '?') continue;
        return i + 1 <= end ? std::string(line.substr(i + 1, end - (i + 1))) : std::string();
    }
    return std::string(line.substr(0, end));
}

}  // namespace qb
