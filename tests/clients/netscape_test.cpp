// Netscape 4 and Netscape 6/7 (Mozilla): backups through the quillbox program
// checked against the stored layout, restores into another user's machine and
// into a folder, users without mail, profiles kept elsewhere and hostile backups.
#include "clients/netscape.h"

#include "adapter_test_support.h"
#include "catalog/identities.h"
#include "catalog/mozilla_profiles.h"

namespace qb::test {
namespace {

const char* kBackup = "C:\\Backups\\NetscapeBackup.ebk";
const char* kNavigator = "\\Software\\Netscape\\Netscape Navigator";

Selection allItems() {
    return qb::test::allItems(kind::Netscape4);
}

// The mail tree of a fixture user, below its mail folder.
const Names kMailTree = {"Inbox",
                         "Inbox.sbd/Old",
                         "Inbox.sbd/Old.sbd/.2002.snm",
                         "Inbox.sbd/Old.sbd/2002",
                         "Inbox.snm",
                         "Sent Items",
                         "popstate.dat"};

Names netscape4Names(const std::string& u) {
    Names names = {u + "/Address/pab.na2", u + "/Address/work contacts.na2",
                   u + "/directory.ini",   u + "/directorydat.ini",
                   u + "/identity.reg",    u + "/liprefs.js",
                   u + "/nsreg.dat",       u + "/prefs.js"};
    for (const std::string& f : kMailTree) {
        names.insert(u + "/Mailbox/" + f);
        if (f.find('/') != std::string::npos) names.insert(u + "/Mail/" + f);
    }
    return names;
}

// A user's files as they lie in its folder: the mail tree below `mail`.
Names userFiles(const std::string& mail, Names others) {
    for (const std::string& f : kMailTree)
        others.insert(mail + "/" + f);
    return others;
}

using NetscapeTest = AdapterTest;

TEST_F(NetscapeTest, Netscape4ThroughTheProgramIntoAnotherMachineAndIntoAFolder) {
    const auto users = installNetscape4(source, {"ann", "bob smith"});
    const auto files = backupsThroughProgram("netscape", "C:\\Backups\\cli");
    ASSERT_EQ(files.size(), 1u);
    const std::string file = files.at("Netscape4");

    const StoredFiles s = stored(file);
    Names expected = netscape4Names("ann");
    expected.merge(netscape4Names("bob smith"));
    expected.insert("infobak.ini");
    EXPECT_EQ(s.names(), expected);
    // Each user keeps its own list of mail sub-folders, relative to its folder.
    EXPECT_EQ(iniLines(s.at("bob smith/directorydat.ini"), "Directory"),
              (Strings{"Dir1=Mail\\Inbox.sbd", "Dir2=Mail\\Inbox.sbd\\Old.sbd"}));
    const std::string& dirIni = s.at("ann/directory.ini");
    EXPECT_EQ(iniValue(dirIni, "Directory", "Dir"), users[0].userFolder);
    EXPECT_EQ(iniValue(dirIni, "Directory", "Dir2"), "C:\\Program Files\\Netscape\\Users\\");
    EXPECT_NE(s.at("ann/identity.reg")
                  .find("[HKEY_CURRENT_USER\\Software\\Netscape\\"
                        "Netscape Navigator\\ann\\Mail]"),
              std::string::npos);

    // Another user's machine: the files into the user folders the backup names,
    // which the restored settings name too.
    use(target);
    moveBackup(file, target);
    const Choice c = contents(file, kind::Netscape4);
    ASSERT_EQ(c.identities.count, 2);
    ASSERT_FALSE(jobs::RunRestore(file, kind::Netscape4, c.identities, c.items)) << errorText();
    for (const Netscape4User& u : users)
        EXPECT_EQ(filesBelow(u.userFolder),
                  userFiles("Mail", {"liprefs.js", "pab.na2", "prefs.js", "work contacts.na2"}))
            << u.name;
    EXPECT_EQ(
        registryText(RootKey::CurrentUser, std::string(kNavigator) + "\\bob smith", "DirRoot"),
        users[1].userFolder);
    EXPECT_EQ(
        registryText(RootKey::CurrentUser, std::string(kNavigator) + "\\ann\\Mail", "POP Server"),
        "pop.example.com");
    EXPECT_TRUE(exists("C:\\windows\\nsreg.dat"));

    // Into a folder: per user its settings, address books and the whole mail tree,
    // the main mail folder and its sub-folders together.
    ASSERT_FALSE(jobs::RunRestoreToFolder(file, "C:\\Netscape Copy\\", kind::Netscape4,
                                          c.identities, c.items))
        << errorText();
    for (const Netscape4User& u : users)
        EXPECT_EQ(filesBelow("C:\\Netscape Copy\\" + u.name),
                  userFiles("Mail", {"Address/pab.na2", "Address/work contacts.na2",
                                     "directory.ini", "identity.reg", "liprefs.js", "prefs.js"}))
            << u.name;
}

TEST_F(NetscapeTest, Netscape4UserWithoutMailServer) {
    installNetscape4(source, {"ann"});
    // carl browses only: a user folder but no mail server; dora has neither.
    const std::string carl = "C:\\Program Files\\Netscape\\Users\\carl\\";
    setString(RootKey::CurrentUser, std::string(kNavigator) + "\\carl", "DirRoot", carl);
    createKey(RootKey::CurrentUser, std::string(kNavigator) + "\\biff\\users\\carl");
    source.writeFile(carl + "prefs.js", "user_pref(\"browser.startup.page\", 1);\r\n");
    source.writeFile(carl + "carl.na2", "address book");
    source.writeFile(carl + "Mail\\Inbox", "From - not to be saved\r\n");
    createKey(RootKey::CurrentUser, std::string(kNavigator) + "\\biff\\users\\dora\\servers");
    source.writeFile("C:\\prefs.js", "a stray file at the drive's root");
    source.writeFile("C:\\Mail\\Inbox", "a stray mail folder at the drive's root");

    const Selection ids = selection({{"ann", false}, {"carl", true}, {"dora", true}});
    // Users without mail are told in notes; the backup of what they have succeeds.
    EXPECT_FALSE(jobs::RunBackup(kBackup, kind::Netscape4, ids, allItems())) << errorText();
    std::string notes;
    for (const std::string& note : jobs::archiveJob().notes)
        notes += note + "\n";
    EXPECT_NE(notes.find("\"carl\" has no mail server"), std::string::npos) << notes;
    EXPECT_NE(notes.find("\"dora\" has no mail server"), std::string::npos) << notes;
    EXPECT_EQ(stored(kBackup).names(),
              (Names{"carl/Address/carl.na2", "carl/directory.ini", "carl/directorydat.ini",
                     "carl/identity.reg", "carl/nsreg.dat", "carl/prefs.js", "dora/directory.ini",
                     "dora/directorydat.ini", "dora/nsreg.dat", "infobak.ini"}));
    // Exporting did not make up a key for dora.
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, std::string(kNavigator) + "\\dora"));

    // dora's backup names no folder: her restore writes nothing but nsreg.dat.
    platform::deleteFile(carl + "prefs.js");
    EXPECT_FALSE(jobs::RunRestore(kBackup, kind::Netscape4,
                                  selection({{"carl", true}, {"dora", true}}), allItems()))
        << errorText();
    EXPECT_TRUE(exists(carl + "prefs.js"));
}

TEST_F(NetscapeTest, Netscape4SettingsOfAnotherKeyAreNotImported) {
    const std::string reg =
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Netscape\\Netscape Navigator\\ann]\r\n"
        "\"DirRoot\"=\"C:\\Users\\ann\\\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
        "\"evil\"=\"C:\\evil.exe\"\r\n";
    writeBackup(source.host(kBackup),
                {{"infobak.ini", "[Backup]\r\nEmailClient=Netscape4\r\n"},
                 {"ann/identity.reg", reg},
                 {"ann/directory.ini", "[Directory]\r\nDir=C:\\Netscape\\ann\\\r\n"},
                 {"ann/prefs.js", "prefs"},
                 {"ann/Mailbox/../../../evil.txt", "x"},
                 {"ann/Mailbox/Inbox", "mail"}});
    EXPECT_TRUE(jobs::RunRestore(kBackup, kind::Netscape4, selection({{"ann", true}}), allItems()));
    EXPECT_NE(
        errorText().find("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
        std::string::npos)
        << errorText();
    EXPECT_EQ(registryText(RootKey::LocalMachine,
                           "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "evil")
                  .find("evil.exe"),
              std::string::npos);
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, std::string(kNavigator) + "\\ann"));
    EXPECT_EQ(filesBelow("C:\\Netscape\\ann"), (Names{"Mail/Inbox", "prefs.js"}));
    EXPECT_FALSE(exists("C:\\evil.txt"));
}

// ---- Netscape 6/7 and Mozilla ----

const Names kProfileFiles = {"abook.mab",  "history.mab", "localstore.rdf", "panacea.dat",
                             "panels.rdf", "prefs.js",    "xul.mfl"};
const Names kMozillaMail = {"Local Folders/Projects",
                            "Local Folders/Projects.sbd/.Old Stuff.msf",
                            "Local Folders/Projects.sbd/Old Stuff",
                            "Local Folders/Trash",
                            "Local Folders/Trash.msf",
                            "pop.example.com/Inbox",
                            "pop.example.com/Inbox.msf"};

// What a profile folder holds after a restore.
Names profileFiles() {
    Names files = kProfileFiles;
    for (const std::string& f : kMozillaMail)
        files.insert("Mail/" + f);
    return files;
}

TEST_F(NetscapeTest, MozillaThroughTheProgramIntoAnotherMachineAndIntoAFolder) {
    installNetscape4(source, {"ann"});
    const auto profiles = installMozilla(source, {"default", "work"});
    // The family's keyword backs up both versions, each into its file.
    const auto files = backupsThroughProgram("netscape", "C:\\Backups\\cli");
    ASSERT_EQ(files.size(), 2u);
    ASSERT_TRUE(files.count("Netscape4") && files.count("Netscape"));
    const std::string file = files.at("Netscape");

    const StoredFiles s = stored(file);
    Names expected = {"registry.dat", "infobak.ini"};
    for (const MozillaProfile& p : profiles) {
        const std::string below = p.name + "/" + platform::extractFileName(p.folder);
        for (const std::string& f : kMozillaMail)
            expected.insert("Mozilla/Profiles/" + below + "/Mail/" + f);
        for (const std::string& f : kProfileFiles)
            expected.insert(p.name + "/" + f);
        expected.insert(p.name + "/directory.ini");
    }
    EXPECT_EQ(s.names(), expected);
    // One line per mail folder, however many files the search found in it.
    const std::string work = "work\\" + platform::extractFileName(profiles[1].folder);
    EXPECT_EQ(iniLines(s.at("work/directory.ini"), "Directory"),
              (Strings{"Dir1=" + work + "\\Mail", "Dir2=" + work + "\\Mail\\Local Folders",
                       "Dir3=" + work + "\\Mail\\Local Folders\\Projects.sbd",
                       "Dir4=" + work + "\\Mail\\pop.example.com"}));
    const std::string& manifest = s.at("infobak.ini");
    EXPECT_EQ(iniValue(manifest, "Directory", "Dir1"), profiles[0].folder);
    EXPECT_EQ(iniValue(manifest, "Directory", "Dir2"), profiles[1].folder);

    // Another machine and user, with a profile of her own: the profile registry
    // goes where this user's browser reads it, and the profiles of the old user's
    // application data folder into this user's, where the restored registry names
    // them. Nothing is written into a folder of the old user, and this user's own
    // profile stays listed.
    use(target);
    const std::string mine = installMozilla(target, {"mine"}).front().folder;
    moveBackup(file, target);
    const Choice c = contents(file, kind::Mozilla);
    ASSERT_EQ(c.identities.count, 2);
    ASSERT_FALSE(jobs::RunRestore(file, kind::Mozilla, c.identities, c.items)) << errorText();
    Strings listed;
    for (const MozillaProfile& p : profiles) {
        listed.push_back(appDataFolder(target) + "\\Mozilla\\Profiles\\" + p.name + "\\" +
                         platform::extractFileName(p.folder));
        EXPECT_EQ(filesBelow(listed.back()), profileFiles()) << p.name;
    }
    listed.push_back(mine);
    EXPECT_FALSE(exists(profileFolder(source)));
    EXPECT_EQ(ListIdentities(kind::Mozilla), (Strings{"default", "work", "mine"}));
    EXPECT_EQ(MozillaProfilePaths().paths(), listed);
    EXPECT_EQ(target.readFile(mine + "\\Mail\\pop.example.com\\Inbox"),
              "From - Mon Jan 05 2004\r\n");

    // Into a folder: the profiles below "Profiles" as they lay below the old one.
    ASSERT_FALSE(
        jobs::RunRestoreToFolder(file, "C:\\Mozilla Copy\\", kind::Mozilla, c.identities, c.items))
        << errorText();
    Names inFolder = {"registry.dat"};
    for (const MozillaProfile& p : profiles)
        for (const std::string& f : profileFiles())
            inFolder.insert("Profiles/" + p.name + "/" + platform::extractFileName(p.folder) + "/" +
                            f);
    EXPECT_EQ(filesBelow("C:\\Mozilla Copy"), inFolder);
}

TEST_F(NetscapeTest, MozillaSecondProfileAloneAndAProfileKeptElsewhere) {
    auto profiles = installMozilla(source, {"default", "work"});
    // A third profile the person keeps outside the application data folder.
    const std::string travel = "C:\\Mail Profiles\\travel\\zz91.slt";
    MozillaRegistryWriter reg;
    const int32_t tree = reg.addKey(reg.common(), "Profiles");
    for (const auto& [name, folder] : {std::pair{profiles[0].name, profiles[0].folder},
                                       std::pair{profiles[1].name, profiles[1].folder},
                                       std::pair{std::string("travel"), travel}})
        reg.setString(reg.addKey(tree, name), "directory", folder);
    source.writeFile(appDataFolder(source) + "\\Mozilla\\registry.dat",
                     std::string(reg.bytes().begin(), reg.bytes().end()));
    source.writeFile(travel + "\\prefs.js", "travel prefs");
    source.writeFile(travel + "\\Mail\\Local Folders\\Inbox", "travel mail");

    // No listing ran before: the backup finds the profiles itself.
    MozillaProfilePaths().clear();
    const Selection ids = selection({{"default", false}, {"work", true}, {"travel", true}});
    ASSERT_FALSE(jobs::RunBackup(kBackup, kind::Mozilla, ids, allItems())) << errorText();
    const StoredFiles s = stored(kBackup);
    const std::string manifest = s.at("infobak.ini");
    EXPECT_EQ(iniValue(manifest, "Directory", "Dir1"), profiles[1].folder);
    EXPECT_EQ(iniValue(manifest, "Directory", "Dir2"), travel);
    EXPECT_TRUE(s.has("Mozilla/Profiles/travel/zz91.slt/Mail/Local Folders/Inbox"));
    EXPECT_FALSE(s.has("default/prefs.js"));

    platform::deleteFile(travel + "\\Mail\\Local Folders\\Inbox");
    const Selection restored = selection({{"work", false}, {"travel", true}});
    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::Mozilla, restored, allItems())) << errorText();
    EXPECT_EQ(source.readFile(travel + "\\Mail\\Local Folders\\Inbox"), "travel mail");
    ASSERT_FALSE(
        jobs::RunRestoreToFolder(kBackup, "C:\\Copy\\", kind::Mozilla, restored, allItems()))
        << errorText();
    EXPECT_EQ(filesBelow("C:\\Copy\\Profiles"),
              (Names{"travel/zz91.slt/Mail/Local Folders/Inbox", "travel/zz91.slt/prefs.js"}));
}

TEST_F(NetscapeTest, MozillaWithoutApplicationDataFolder) {
    installMozilla(source, {"default"});
    ListIdentities(kind::Mozilla);
    source.writeFile(kBackup, "an older backup");
    setString(RootKey::CurrentUser, kShellFolders, "AppData", "");
    // The profile registry cannot be found: no drive's root is searched, and the
    // older backup stays.
    EXPECT_TRUE(
        jobs::RunBackup(kBackup, kind::Mozilla, selection({{"default", true}}), allItems()));
    EXPECT_NE(errorText().find("\"AppData\""), std::string::npos) << errorText();
    EXPECT_EQ(source.readFile(kBackup), "an older backup");
}

TEST_F(NetscapeTest, MozillaDamagedProfileRegistryIsNamedAndTheProfileStillRestored) {
    const std::string old = "C:\\users\\zed\\AppData\\Roaming\\Mozilla\\Profiles\\good\\a1.slt";
    writeBackup(source.host(kBackup),
                {{"infobak.ini",
                  "[Backup]\r\nEmailClient=Netscape\r\n[Identities]\r\nItem1=good\r\n"
                  "[Directory]\r\nDir1=" +
                      old + "\r\n"},
                 {"good/prefs.js", "good prefs"},
                 {"registry.dat", "not a profile registry"}});
    EXPECT_TRUE(jobs::RunRestore(kBackup, kind::Mozilla, selection({{"good", true}}), allItems()));
    const std::string registry = appDataFolder(source) + "\\Mozilla\\registry.dat";
    EXPECT_NE(errorText().find(registry), std::string::npos) << errorText();
    EXPECT_EQ(
        source.readFile(appDataFolder(source) + "\\Mozilla\\Profiles\\good\\a1.slt\\prefs.js"),
        "good prefs");
    EXPECT_FALSE(exists("C:\\users\\zed"));
}

TEST_F(NetscapeTest, MozillaHostileManifestStaysInsideItsPlaces) {
    writeBackup(source.host(kBackup),
                {{"infobak.ini",
                  "[Backup]\r\nEmailClient=Netscape\r\n[Identities]\r\nItem1=default\r\n"
                  "Item2=..\r\n[Directory]\r\nDir1=C:\\P\\Mozilla\\Profiles\\..\\..\\Windows\r\n"
                  "Dir2=C:\\P\\Mozilla\\Profiles\\x\\y\r\n"},
                 {"default/prefs.js", "x"},
                 {"../prefs.js", "x"},
                 {"default/directory.ini", "[Directory]\r\nDir1=..\\..\\Windows\r\n"},
                 {"Mozilla/Profiles/../../Windows/evil.dll", "x"}});
    const Selection ids = selection({{"default", true}, {"..", true}});
    EXPECT_TRUE(jobs::RunRestoreToFolder(kBackup, "C:\\Out\\", kind::Mozilla, ids, allItems()));
    EXPECT_TRUE(jobs::RunRestore(kBackup, kind::Mozilla, ids, allItems()));
    EXPECT_TRUE(filesBelow("C:\\Out").empty());
    EXPECT_FALSE(exists("C:\\Windows\\prefs.js"));
    EXPECT_FALSE(exists("C:\\Windows\\evil.dll"));
    EXPECT_FALSE(exists("C:\\P"));
}

TEST(NetscapePaths, UserFolderAndProfileFolderCuts) {
    EXPECT_EQ(clients::CutTwoLevels("C:\\Netscape\\Users\\ann\\mail\\popstate.dat"),
              "C:\\Netscape\\Users\\ann\\");
    EXPECT_EQ(clients::CutTwoLevels("C:\\Netscape\\Users\\ann\\"), "C:\\Netscape\\Users\\");
    EXPECT_EQ(clients::CutTwoLevels("C:\\x"), "C");
    EXPECT_EQ(
        clients::MozillaProfileBelowProfiles("C:\\u\\AppData\\Mozilla\\Profiles\\default\\ab.slt"),
        "default\\ab.slt");
    EXPECT_EQ(clients::MozillaProfileBelowProfiles("D:\\Keep\\travel\\zz.slt\\"), "travel\\zz.slt");
    EXPECT_EQ(clients::MozillaProfileBelowProfiles("C:\\one"), "");
}

}  // namespace
}  // namespace qb::test
