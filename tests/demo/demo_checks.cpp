#include "demo/demo_check.h"
#include "demo/demo_machine.h"

namespace qb::demo {

using platform::RootKey;

namespace {

struct User {
    std::string profile, appData, local, favorites;
    DemoFolders f;
};

User userOf(const std::string& name, bool data) {
    User u;
    u.profile = "C:\\users\\" + name;
    u.appData = u.profile + "\\AppData\\Roaming";
    u.local = u.profile + "\\AppData\\Local";
    u.favorites = u.profile + "\\Favorites";
    u.f = demoFolders(name, data);
    return u;
}

// A folder that the restore puts back at the same place on machine B.
Tree same(const std::string& folder, std::vector<std::string> only = {},
          std::vector<std::string> skip = {}) {
    return {folder, folder, std::move(only), std::move(skip)};
}

Key sameKey(RootKey root, const std::string& key, bool subkeys = true) {
    return {root, key, key, subkeys};
}

}  // namespace

std::vector<ClientCheck> demoChecks(const std::string& userA, const std::string& userB) {
    const User a = userOf(userA, true), b = userOf(userB, false);
    std::vector<ClientCheck> checks;

    {  // Outlook Express: each identity's store below the profile folder, which the
       // restore expands for the new user; address book and stationery.
        ClientCheck c{"Outlook Express", "OExpressBackup ", {}, {}, {}};
        for (const char* g :
             {"{3F1B2E8A-6C1D-4E7B-9A52-0D4C8E7F1A21}", "{B7A4C0D2-1E3F-4A5B-8C6D-7E8F9A0B1C2D}"}) {
            const std::string tail =
                std::string("\\Local Settings\\Application Data\\Identities\\") + g +
                "\\Microsoft\\Outlook Express";
            c.trees.push_back({a.profile + tail, b.profile + tail});
            c.keys.push_back(sameKey(RootKey::CurrentUser, std::string("\\Identities\\") + g));
        }
        c.trees.push_back(same(a.appData + "\\Microsoft\\Address Book"));
        c.trees.push_back({a.f.stationery, b.f.stationery});
        c.keys.push_back(sameKey(RootKey::CurrentUser, "\\Software\\Microsoft\\WAB"));
        c.keys.push_back(
            sameKey(RootKey::CurrentUser, "\\Software\\Microsoft\\Internet Account Manager"));
        // The store folder is this machine's path, in a value of the stored type.
        c.rewrites = {{"expand_sz:%UserProfile%", "expand_sz:" + b.profile}};
        checks.push_back(std::move(c));
    }
    {  // Outlook: the two Outlook folders of the user, the signatures, and the
       // stores outside the user's folders, which come back where they were. A
       // store elsewhere in the user's local folder joins the local Outlook
       // folder, and the profile names it there.
        ClientCheck c{"Microsoft Outlook", "OutlookBackup ", {}, {}, {}};
        c.trees.push_back({a.appData + "\\Microsoft\\Outlook", b.appData + "\\Microsoft\\Outlook"});
        c.trees.push_back({a.local + "\\Microsoft\\Outlook",
                           b.local + "\\Microsoft\\Outlook",
                           {},
                           {"Mail Backup\\*"}});
        c.trees.push_back({a.local + "\\Mail Backup",
                           b.local + "\\Microsoft\\Outlook\\Mail Backup",
                           {"2004 mail.pst"},
                           {},
                           false});
        c.trees.push_back(
            {a.appData + "\\Microsoft\\Signatures", b.appData + "\\Microsoft\\Signatures"});
        c.trees.push_back(same("C:\\Mail Archive"));
        c.trees.push_back(same("C:\\Shared Mail"));
        // The backup holds the mail profile itself, not the profiles key's choice
        // of the default profile.
        c.keys.push_back(sameKey(RootKey::CurrentUser,
                                 "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows "
                                 "Messaging Subsystem\\Profiles\\Outlook"));
        c.keys.push_back(
            sameKey(RootKey::CurrentUser, "\\Software\\Microsoft\\Office\\11.0\\Outlook"));
        c.keys.push_back(sameKey(RootKey::CurrentUser, "\\Software\\Microsoft\\Office\\Outlook"));
        c.rewrites = {{a.local + "\\Microsoft\\Outlook", b.local + "\\Microsoft\\Outlook"},
                      {a.local + "\\Mail Backup", b.local + "\\Microsoft\\Outlook\\Mail Backup"},
                      {a.appData + "\\Microsoft\\Outlook", b.appData + "\\Microsoft\\Outlook"}};
        checks.push_back(std::move(c));
    }
    {  // Eudora: its data folder, found from the command line of each machine.
        ClientCheck c{"Eudora", "EudoraBackup ", {}, {}, {}};
        c.trees.push_back({a.f.eudora, b.f.eudora, {}, {"Eudora.exe", "Attach\\*"}});
        checks.push_back(std::move(c));
    }
    {  // IncrediMail: the identities' folders and keys, the shared content.
        ClientCheck c{"IncrediMail", "IncrediMailBackup ", {}, {}, {}};
        c.trees.push_back({a.local + "\\IM\\Identities", b.local + "\\IM\\Identities"});
        for (const char* content :
             {"Animation", "ECard", "Emoticon", "Letter", "Notifier", "Skin", "Sound", "Image"})
            c.trees.push_back(
                {a.f.incrediContent + "\\" + content, b.f.incrediContent + "\\" + content});
        c.keys.push_back(sameKey(RootKey::CurrentUser, "\\SOFTWARE\\IncrediMail\\Identities"));
        c.keys.push_back(sameKey(RootKey::CurrentUser, "\\SOFTWARE\\IncrediMail\\Content"));
        c.rewrites = {{a.f.incrediContent, b.f.incrediContent}};
        checks.push_back(std::move(c));
    }
    {  // Pegasus Mail: every user's folder below the base folder, and the user list.
        ClientCheck c{"Pegasus Mail", "PegasusMailBackup ", {}, {}, {}};
        c.trees.push_back({a.f.pegasus, b.f.pegasus, {}, {"PROGRAMS\\*"}});
        c.keys.push_back(sameKey(RootKey::LocalMachine,
                                 "\\SOFTWARE\\Classes\\software\\pegasus mail\\Username", false));
        checks.push_back(std::move(c));
    }
    {  // The Bat!: the user below the working folder moves with it; the user with
       // a folder of its own comes back there; the address books.
        ClientCheck c{"The Bat!", "TheBatBackup ", {}, {}, {}};
        // The lock files beside the message bases are no data of the user.
        c.trees.push_back({a.f.theBat, b.f.theBat, {}, {"TheBat.exe", "*\\.lock"}});
        c.trees.push_back(same("C:\\BatMail", {}, {"*\\.lock"}));
        c.keys.push_back(sameKey(RootKey::CurrentUser, "\\Software\\RIT\\The Bat!\\Users Depot"));
        checks.push_back(std::move(c));
    }
    for (auto [name, label, from, to] :
         {std::tuple{"PocoMail 2", "PocoMailBackup 2.x ", a.f.poco2, b.f.poco2},
          std::tuple{"PocoMail 3", "PocoMailBackup 3.x ", a.f.poco3, b.f.poco3},
          std::tuple{"PocoMail 2 PE", "PocoMailBackup 2.x PE ", a.f.pocoPE, b.f.pocoPE}}) {
        // PocoMail: the main user in the PocoMail folder, the others below it.
        ClientCheck c{name, label, {}, {}, {}};
        c.trees.push_back({from, to, {}, {"PocoMail.exe", "users\\users.lst"}});
        c.rewrites = {{from, to}};
        checks.push_back(std::move(c));
    }
    {  // Opera 6: the accounts below the program folder's mail folder.
        ClientCheck c{"Opera 6", "OperaBackup 6.x ", {}, {}, {}};
        // A file that is no mail, beside the mailboxes, is not saved.
        c.trees.push_back({a.f.opera6 + "\\Mail", b.f.opera6 + "\\Mail", {}, {"*\\notes.txt"}});
        c.trees.push_back({a.f.opera6, b.f.opera6, {"Contacts.adr"}, {}, false});
        c.rewrites = {{a.f.opera6, b.f.opera6}};
        checks.push_back(std::move(c));
    }
    {  // Opera 7: the mail folder and the address book in the user's folder.
        ClientCheck c{"Opera 7", "OperaBackup 7.x ", {}, {}, {}};
        c.trees.push_back({a.appData + "\\Opera\\Opera7", b.appData + "\\Opera\\Opera7"});
        checks.push_back(std::move(c));
    }
    {  // Netscape 4: the users' folders come back where they were.
        ClientCheck c{"Netscape 4", "NetscapeBackup 4.x ", {}, {}, {}};
        c.trees.push_back(same("C:\\Program Files\\Netscape\\Users"));
        c.trees.push_back(same("C:\\windows", {"nsreg.dat"}, {}));
        for (const char* u : {"ann", "annwork"})
            c.keys.push_back(
                sameKey(RootKey::CurrentUser,
                        std::string("\\Software\\Netscape\\Netscape Navigator\\") + u));
        checks.push_back(std::move(c));
    }
    {  // Mozilla: the profiles below the old user's profiles folder move below
       // the new user's, and the restored profile registry names them there.
        ClientCheck c{"Mozilla", "NetscapeBackup 6.x-7.x ", {}, {}, {}};
        c.trees.push_back({a.appData + "\\Mozilla\\Profiles",
                           b.appData + "\\Mozilla\\Profiles",
                           {},
                           {"*\\bookmarks.html"}});
        c.trees.push_back(
            {a.appData + "\\Mozilla", b.appData + "\\Mozilla", {"registry.dat"}, {}, false});
        c.rewrites = {{a.appData + "\\Mozilla\\Profiles", b.appData + "\\Mozilla\\Profiles"}};
        checks.push_back(std::move(c));
    }
    {  // Favorites: the shortcuts, folder by folder.
        ClientCheck c{"Favorites", "FavoritesBackup ", {}, {}, {}};
        c.trees.push_back({a.favorites, b.favorites, {"*.url"}});
        checks.push_back(std::move(c));
    }
    return checks;
}

}  // namespace qb::demo
