#include "catalog/kinds.h"

#include <array>

namespace qb {

namespace {

using namespace kind;

constexpr std::array<KindInfo, 17> kKinds{{
    {OutlookExpress, OutlookExpress, "Outlook Express", "Outlook Express",
     "Microsoft Outlook Express", "OutlookExpress", "OExpressBackup ", ""},
    {Outlook, Outlook, "Microsoft Outlook", "MS Outlook", "Microsoft Outlook", "Outlook",
     "OutlookBackup ", ""},
    {Eudora, Eudora, "Eudora", "Eudora", "Eudora", "Eudora", "EudoraBackup ", ""},
    {IncrediMail, IncrediMail, "IncrediMail", "IncrediMail", "Incredi Mail", "IncrediMail",
     "IncrediMailBackup ", ""},
    {PegasusMail, PegasusMail, "Pegasus Mail", "PegasusMail", "Pegasus Mail", "PegasusMail",
     "PegasusMailBackup ", ""},
    {TheBat, TheBat, "The Bat!", "The Bat", "The Bat", "TheBat", "TheBatBackup ", ""},
    {PocoMailFamily, PocoMailFamily, "PocoMail", "Poco Mail", "Poco Mail", "", "", ""},
    {OperaFamily, OperaFamily, "Opera mail", "Opera Mail", "Opera Mail", "", "", ""},
    {NetscapeFamily, NetscapeFamily, "Netscape", "Netscape Messenger", "Netscape Messenger", "", "",
     ""},
    {Favorites, Favorites, "Internet Explorer Favorites", "Internet Explorer Favorites",
     "Internet Explorer Favorites", "Favorites", "FavoritesBackup ", ""},
    {PocoMail2, PocoMailFamily, "PocoMail 2", "", "", "PocoMail2", "PocoMailBackup ", "2.x"},
    {PocoMail3, PocoMailFamily, "PocoMail 3", "", "", "PocoMail3", "PocoMailBackup ", "3.x"},
    {PocoMail2PE, PocoMailFamily, "PocoMail 2 PE", "", "", "PocoMail20", "PocoMailBackup ",
     "2.x PE"},
    {Opera6, OperaFamily, "Opera 6", "", "", "Opera", "OperaBackup ", "6.x"},
    {Opera7, OperaFamily, "Opera 7", "", "", "Opera7", "OperaBackup ", "7.x"},
    {Netscape4, NetscapeFamily, "Netscape 4", "", "", "Netscape4", "NetscapeBackup ", "4.x"},
    {Mozilla, NetscapeFamily, "Netscape 6/7 and Mozilla", "", "", "Netscape", "NetscapeBackup ",
     "6.x/7.x"},
}};

}  // namespace

std::span<const KindInfo> allKinds() {
    return kKinds;
}

const KindInfo* findKind(ClientKind code) {
    for (const KindInfo& k : kKinds)
        if (k.code == code) return &k;
    return nullptr;
}

bool isFamilyCode(ClientKind code) {
    return code >= OutlookExpress && code <= Favorites;
}

bool isVersionCode(ClientKind code) {
    const KindInfo* k = findKind(code);
    return k && k->family != code;
}

ClientKind familyOf(ClientKind code) {
    const KindInfo* k = findKind(code);
    return k ? k->family : None;
}

std::vector<ClientKind> versionsOf(ClientKind family) {
    std::vector<ClientKind> out;
    for (const KindInfo& k : kKinds)
        if (k.family == family && k.code != family) out.push_back(k.code);
    return out;
}

bool hasBackups(ClientKind code) {
    return !manifestKey(code).empty();
}

std::string_view manifestKey(ClientKind code) {
    const KindInfo* k = findKind(code);
    return k ? k->manifestKey : std::string_view{};
}

std::string_view fileNamePrefix(ClientKind code) {
    const KindInfo* k = findKind(code);
    return k ? k->fileNamePrefix : std::string_view{};
}

ClientKind kindFromManifestKey(std::string_view key) {
    if (key.empty()) return None;
    for (const KindInfo& k : kKinds)
        if (k.manifestKey == key) return k.code;
    return None;
}

}  // namespace qb
