#include <gtest/gtest.h>

#include "adapter_test_support.h"

using namespace qb;
using namespace qb::test;

namespace {

const std::string kAnnKey = "{1A2B3C4D-0000-4000-8000-00000000000A}";
const std::string kBobKey = "{1A2B3C4D-0000-4000-8000-00000000000B}";
const std::string kNamelessKey = "{1A2B3C4D-0000-4000-8000-00000000000C}";
const std::string kRetiredKey = "{1A2B3C4D-0000-4000-8000-00000000000D}";
const char* kBackup = "C:\\Backups\\IncrediMail backup.ebk";
const char* kContent2 = "C:\\IM Shared\\Content Data";
const char* kContentFolders[] = {"Animation", "ECard", "Emoticon", "Letter",
                                 "Notifier",  "Skin",  "Sound",    "Image"};

// The stored names of one identity's folders, as the source fixture lays them out.
std::set<std::string> folderNames(const std::string& k) {
    std::set<std::string> out;
    for (const char* f :
         {"Message Store\\Inbox.imm", "Message Store\\Inbox.imh", "Message Store\\Sent Items.imm",
          "Message Store\\.Folders.dat", "Message Store\\Work\\Project Plans.imm",
          "Message Store\\Work\\Old\\2004 Archive.imm", "Message Store\\Attachments\\photo.jpg",
          "Message Store\\Attachments\\holiday notes.txt", "Attachments\\photo.jpg",
          "Attachments\\holiday notes.txt", "AddressBook\\AddressBook.db",
          "AddressBook\\Groups\\Family list.dat"})
        out.insert(k + "\\" + f);
    return out;
}

std::set<std::string> stationeryNames() {
    std::set<std::string> out{"stationery.reg", "Stationery\\Letter\\Sunny Day\\letter.htm",
                              "Stationery\\Letter\\Sunny Day\\background.jpg"};
    for (const char* c : kContentFolders)
        out.insert(std::string("Stationery\\") + c + "\\item1.imc");
    return out;
}

std::set<std::string> registryNames(const std::string& n) {
    return {n + "\\identity.reg", n + "\\account.reg", n + "\\rules.reg", n + "\\RuleOrder.dat"};
}

// The stored files of a backup of the source with every identity and item.
std::set<std::string> everyIdentityLayout() {
    std::set<std::string> out = stationeryNames();
    out.insert("infobak.ini");
    for (const auto& part :
         {registryNames("Ann Smith"), registryNames("Bob"), registryNames("[Identity3]"),
          folderNames(kAnnKey), folderNames(kBobKey), folderNames(kNamelessKey)})
        out.insert(part.begin(), part.end());
    return out;
}

class IncrediMail : public AdapterTest {
  protected:
    // The source: identities under the current user, one of them without a name
    // (listed as "[Identity3]") and one no longer valid.
    IMInstall installSource(bool perUser = true) {
        use(source);
        return installIncrediMail(source, perUser,
                                  {{kAnnKey, "Ann Smith", std::nullopt},
                                   {kBobKey, "Bob", 1},
                                   {kNamelessKey, "", std::nullopt},
                                   {kRetiredKey, "Old", 0}});
    }

    bool backup(const Selection& identities, const Selection& items) {
        return backupOn(source, kBackup, kind::IncrediMail, identities, items);
    }

    // The second machine: another user, the content elsewhere, no identities and
    // no content files yet.
    IMInstall installTarget() {
        use(target);
        const IMInstall im = installIncrediMail(target, true, {}, kContent2);
        fs::remove_all(target.host(kContent2));
        return im;
    }
};

TEST_F(IncrediMail, BackupStoresTheLayoutOfEveryChosenIdentityAndTheStationery) {
    const IMInstall im = installSource();
    ASSERT_EQ(ListIdentities(kind::IncrediMail),
              (std::vector<std::string>{"Ann Smith", "Bob", "[Identity3]"}));
    ASSERT_FALSE(backup(selection({{"Ann Smith", true}, {"Bob", false}, {"[Identity3]", true}}),
                        allItems(kind::IncrediMail)))
        << errorText();

    const StoredFiles c = stored(kBackup);
    ASSERT_TRUE(c.ok) << c.error;
    std::set<std::string> expected = stationeryNames();
    expected.insert("infobak.ini");
    for (const auto& part : {registryNames("Ann Smith"), registryNames("[Identity3]"),
                             folderNames(kAnnKey), folderNames(kNamelessKey)})
        expected.insert(part.begin(), part.end());
    EXPECT_EQ(c.names('\\'), expected);
    EXPECT_TRUE(c.has(kAnnKey + "\\Message Store\\Work\\Old\\"));

    EXPECT_EQ(iniSection(c.at("infobak.ini"), "Backup"),
              (std::map<std::string, std::string>{{"EmailClient", "IncrediMail"}}));
    EXPECT_EQ(
        iniSection(c.at("infobak.ini"), "Identities"),
        (std::map<std::string, std::string>{{"Item1", "Ann Smith"}, {"Item2", "[Identity3]"}}));
    EXPECT_EQ(iniSection(c.at("infobak.ini"), "Directory"),
              (std::map<std::string, std::string>{{"Item1", kAnnKey}, {"Item2", kNamelessKey}}));
    EXPECT_EQ(iniSection(c.at("infobak.ini"), "Items").size(), 5u);

    // The registry files: the identity key alone, the accounts and rules with
    // their subkeys, the content with its subkeys; all under the current user.
    const std::string& identity = c.at("Ann Smith\\identity.reg");
    EXPECT_TRUE(identity.starts_with("REGEDIT4\r\n"));
    EXPECT_NE(identity.find("[HKEY_CURRENT_USER\\Software\\IncrediMail\\Identities\\" + kAnnKey +
                            "]\r\n\"Identity\"=\"Ann Smith\""),
              std::string::npos);
    EXPECT_EQ(identity.find("Accounts"), std::string::npos);
    EXPECT_NE(c.at("Ann Smith\\account.reg").find("\\accounts\\Account1\\POP3]\r\n"),
              std::string::npos);
    EXPECT_NE(c.at("Ann Smith\\rules.reg").find("\"Contains\"=\"newsletter\""), std::string::npos);
    EXPECT_NE(c.at("stationery.reg").find("[HKEY_CURRENT_USER\\SOFTWARE\\incredimail\\content\\"),
              std::string::npos);
    EXPECT_EQ(c.at(kAnnKey + "\\Attachments\\photo.jpg"),
              c.at(kAnnKey + "\\Message Store\\Attachments\\photo.jpg"));
    source.activate();
    EXPECT_EQ(c.at(kAnnKey + "\\Message Store\\Inbox.imm"),
              source.readFile(im.applicationFolder + "\\Identities\\" + kAnnKey +
                              "\\Message Store\\Inbox.imm"));
}

TEST_F(IncrediMail, BackupOfChosenItemsOnly) {
    const IMInstall im = installSource();
    source.activate();
    platform::deleteFile(im.applicationFolder + "\\Identities\\" + kAnnKey + "\\RuleOrder.dat");

    // Stationery alone: the content, and still each chosen identity's key.
    Selection items = allItems(kind::IncrediMail);
    for (int i = 0; i < 4; ++i)
        items[i].checked = false;
    ASSERT_FALSE(backup(selection({{"Ann Smith", true}}), items)) << errorText();
    std::set<std::string> expected = stationeryNames();
    expected.insert({"infobak.ini", "Ann Smith\\identity.reg"});
    EXPECT_EQ(stored(kBackup).names('\\'), expected);

    // Message Rules of an identity without a rule order file: the rules alone.
    items = selection({{"Accounts Settings", false},
                       {"Mail Folders", false},
                       {"Message Rules", true},
                       {"Address Book", false},
                       {"Stationery", false}});
    ASSERT_FALSE(backup(selection({{"Ann Smith", true}}), items)) << errorText();
    EXPECT_EQ(stored(kBackup).names('\\'),
              (Names{"infobak.ini", "Ann Smith\\identity.reg", "Ann Smith\\rules.reg"}));
    // Its restore brings the rules back and misses no rule order file.
    carry(source, kBackup, target, kBackup);
    const IMInstall bob = installTarget();
    EXPECT_FALSE(
        jobs::RunRestore(kBackup, kind::IncrediMail, selection({{"Ann Smith", true}}), items))
        << errorText();
    EXPECT_EQ(
        registryText(RootKey::CurrentUser,
                     "\\SOFTWARE\\incredimail\\identities\\" + kAnnKey + "\\Rules\\Rule1", "Name"),
        "Move newsletters");
    EXPECT_FALSE(
        existsOn(target, bob.applicationFolder + "\\Identities\\" + kAnnKey + "\\RuleOrder.dat"));
}

TEST_F(IncrediMail, IdentitiesSharingANameAreKeptApart) {
    use(source);
    installIncrediMail(source, true, {{kAnnKey, "Ann", std::nullopt}, {kBobKey, "Ann", 1}});
    ASSERT_EQ(ListIdentities(kind::IncrediMail), (std::vector<std::string>{"Ann", "Ann"}));
    ASSERT_FALSE(backup(selection({{"Ann", true}, {"Ann", true}}), allItems(kind::IncrediMail)))
        << errorText();
    const StoredFiles c = stored(kBackup);
    for (const auto& part : {registryNames("Ann"), registryNames("Ann (2)"), folderNames(kAnnKey),
                             folderNames(kBobKey)})
        for (const std::string& name : part)
            EXPECT_TRUE(c.has(name)) << name;
    EXPECT_NE(c.at("Ann\\identity.reg").find(kAnnKey), std::string::npos);
    EXPECT_NE(c.at("Ann (2)\\identity.reg").find(kBobKey), std::string::npos);
    EXPECT_EQ(iniSection(c.at("infobak.ini"), "Identities"),
              (std::map<std::string, std::string>{{"Item1", "Ann"}, {"Item2", "Ann (2)"}}));
    EXPECT_EQ(iniSection(c.at("infobak.ini"), "Directory"),
              (std::map<std::string, std::string>{{"Item1", kAnnKey}, {"Item2", kBobKey}}));

    // Only the second listed "Ann" chosen: only the second identity.
    ASSERT_FALSE(backup(selection({{"Ann", false}, {"Ann", true}}), allItems(kind::IncrediMail)))
        << errorText();
    const StoredFiles second = stored(kBackup);
    EXPECT_NE(second.at("Ann\\identity.reg").find(kBobKey), std::string::npos);
    EXPECT_FALSE(second.has(kAnnKey + "\\Message Store\\Inbox.imm"));
}

// Refused identities are named and fail the backup, which keeps the older file;
// the others back up without them.
TEST_F(IncrediMail, BackupRefusesNamesThatWouldLeaveItsFolders) {
    use(source);
    installIncrediMail(source, true,
                       {{kAnnKey, "Ann", std::nullopt},
                        {kBobKey, "..\\..\\Windows", std::nullopt},
                        {kNamelessKey, "C:Drive", std::nullopt}});
    source.writeFile(kBackup, "the previous backup");
    EXPECT_TRUE(backup(
        selection({{"Ann", true}, {"..\\..\\Windows", true}, {"C:Drive", true}, {"Gone", true}}),
        allItems(kind::IncrediMail)));
    const std::string error = errorText();
    EXPECT_NE(error.find("\"..\\..\\Windows\""), std::string::npos) << error;
    EXPECT_NE(error.find("\"C:Drive\""), std::string::npos) << error;
    EXPECT_NE(error.find("\"Gone\" was not found"), std::string::npos) << error;
    EXPECT_EQ(source.readFile(kBackup), "the previous backup");
    EXPECT_FALSE(
        backup(selection({{"Ann", true}, {"..\\..\\Windows", false}}), allItems(kind::IncrediMail)))
        << errorText();
    const StoredFiles c = stored(kBackup);
    ASSERT_TRUE(c.ok) << c.error;
    for (const std::string& name : c.names('\\')) {
        EXPECT_EQ(name.find(".."), std::string::npos) << name;
        EXPECT_TRUE(name == "infobak.ini" || name == "stationery.reg" ||
                    name.starts_with("Stationery\\") || name.starts_with("Ann\\") ||
                    name.starts_with(kAnnKey + "\\"))
            << name;
    }
    EXPECT_EQ(iniValue(c.at("infobak.ini"), "Directory", "Item1"), kAnnKey);
}

TEST_F(IncrediMail, BackupWithoutItsFoldersFailsAndKeepsTheOldBackup) {
    installSource();
    source.writeFile(kBackup, "the previous backup");
    test::setString(RootKey::CurrentUser, "\\SOFTWARE\\incredimail", "ApplicationPath", "");
    EXPECT_TRUE(backup(selection({{"Ann Smith", true}}), allItems(kind::IncrediMail)));
    EXPECT_NE(errorText().find("\"ApplicationPath\" of HKEY_CURRENT_USER\\SOFTWARE\\incredimail"),
              std::string::npos)
        << errorText();
    EXPECT_EQ(source.readFile(kBackup), "the previous backup");

    // The stationery needs the content folder of the machine.
    test::setString(RootKey::LocalMachine, "\\SOFTWARE\\incredimail", "CommonDataPath", "");
    Selection items = allItems(kind::IncrediMail);
    for (int i = 0; i < 4; ++i)
        items[i].checked = false;
    EXPECT_TRUE(backup(selection({}), items));
    EXPECT_NE(errorText().find("\"CommonDataPath\""), std::string::npos) << errorText();
    EXPECT_EQ(source.readFile(kBackup), "the previous backup");
}

// ---- restores ------------------------------------------------------------------

std::string identityKey(const std::string& k) {
    return "\\SOFTWARE\\incredimail\\identities\\" + k;
}

class IncrediMailRestore : public IncrediMail {
  protected:
    // Backs up the source of the given variant with the quillbox program (every
    // identity and item) and carries the backup file to the target machine.
    void backupAndCarry(bool perUser) {
        source_ = installSource(perUser);
        made = carriedBackup("incredimail", "IncrediMailBackup ", kBackup);
        ASSERT_FALSE(made.empty());
    }

    Selection offeredIdentities() {
        use(target);
        return contents(kBackup, kind::IncrediMail).identities;
    }

    IMInstall source_;
    std::string made;  // the backup file on the source machine
};

// The whole way: Ann's identities backed up with the quillbox program, the stored
// names checked against the layout, the file restored with the program into Bob's
// IncrediMail, whose application and content folders lie elsewhere.
TEST_F(IncrediMailRestore, ThroughTheCommandLineIntoAnotherMachine) {
    backupAndCarry(true);
    EXPECT_EQ(stored(source, made).names('\\'), everyIdentityLayout());

    const IMInstall im = installTarget();
    const Selection ids = offeredIdentities();
    ASSERT_EQ(ids.count, 3);
    EXPECT_EQ(ids[2].name, "[Identity3]");
    ASSERT_TRUE(restoreThroughProgram(target, kBackup));

    for (const std::string& k : {kAnnKey, kBobKey, kNamelessKey}) {
        SCOPED_TRACE(k);
        const std::string from = source_.applicationFolder + "\\Identities\\" + k + "\\";
        const std::string to = im.applicationFolder + "\\Identities\\" + k + "\\";
        for (const char* f :
             {"Message Store\\Inbox.imm", "Message Store\\.Folders.dat",
              "Message Store\\Work\\Project Plans.imm",
              "Message Store\\Work\\Old\\2004 Archive.imm", "Message Store\\Attachments\\photo.jpg",
              "Message Store\\Attachments\\holiday notes.txt", "AddressBook\\AddressBook.db",
              "AddressBook\\Groups\\Family list.dat", "RuleOrder.dat"}) {
            const std::string original = readOn(source, from + f);
            ASSERT_TRUE(existsOn(target, to + f)) << to + f;
            EXPECT_EQ(target.readFile(to + f), original) << f;
        }
        // Folders come back as folders: nothing lands a level up.
        EXPECT_FALSE(existsOn(target, to + "Message Store\\2004 Archive.imm"));
        EXPECT_FALSE(existsOn(target, to + "Message Store\\photo.jpg"));
        EXPECT_FALSE(existsOn(target, to + "AddressBook\\Family list.dat"));
    }

    use(target);
    EXPECT_EQ(registryText(RootKey::CurrentUser, identityKey(kAnnKey), "Identity"), "Ann Smith");
    EXPECT_EQ(registryText(RootKey::CurrentUser, identityKey(kNamelessKey), "Identity"), "");
    EXPECT_EQ(
        registryText(RootKey::CurrentUser, identityKey(kBobKey) + "\\Accounts\\Account1", "Name"),
        "Bob at home");
    EXPECT_EQ(registryText(RootKey::CurrentUser,
                           identityKey(kBobKey) + "\\Rules\\Rule1\\Condition1", "Contains"),
              "newsletter");
    {
        platform::Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKeyReadOnly(identityKey(kAnnKey)));
        EXPECT_EQ(reg.readBinary("WindowPos"),
                  (std::vector<uint8_t>{0x10, 0x00, 0x20, 0x00, 0x80, 0x02, 0xE0, 0x01}));
        EXPECT_EQ(reg.readInteger("LastUsed"), 1);
    }
    // The retired identity was never offered, so nothing of it came back.
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, identityKey(kRetiredKey)));
    EXPECT_FALSE(keyExists(RootKey::LocalMachine, identityKey(kAnnKey)));

    for (const char* c : kContentFolders)
        EXPECT_TRUE(existsOn(target, std::string(kContent2) + "\\" + c + "\\item1.imc")) << c;
    EXPECT_TRUE(existsOn(target, std::string(kContent2) + "\\Letter\\Sunny Day\\letter.htm"));
    EXPECT_FALSE(existsOn(target, std::string(kContent2) + "\\Letter\\letter.htm"));
    use(target);
    EXPECT_EQ(
        registryText(RootKey::CurrentUser, "\\SOFTWARE\\incredimail\\content\\Letter", "Path"),
        std::string(kContent2) + "\\Letter");
}

TEST_F(IncrediMailRestore, IntoAFolder) {
    backupAndCarry(true);
    const Selection ids = offeredIdentities();
    const std::string t = "C:\\Restored Mail\\";
    use(target);
    ASSERT_FALSE(
        jobs::RunRestoreToFolder(kBackup, t, kind::IncrediMail, ids, allItems(kind::IncrediMail)))
        << errorText();
    // Every stored file in its place: the separate copy of the attachments below
    // the message store, everything else under its stored name.
    const StoredFiles c = stored(source, made);
    for (const std::string& name : c.names('\\')) {
        if (name == "infobak.ini") continue;
        std::string at = name;
        const size_t attachments = name.find("\\Attachments\\");
        if (attachments != std::string::npos && name.find("\\Message Store\\") == std::string::npos)
            at.insert(attachments, "\\Message Store");
        // Registry files in the registry editor's form, for import by hand.
        EXPECT_EQ(readOn(target, t + at),
                  name.ends_with(".reg") ? registryEditorForm(c.at(name)) : c.at(name))
            << name;
    }
    EXPECT_EQ(
        readOn(target, t + "Ann Smith\\RuleOrder.dat"),
        readOn(source, source_.applicationFolder + "\\Identities\\" + kAnnKey + "\\RuleOrder.dat"));
    // Nothing went into the registry of the machine.
    use(target);
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, identityKey(kAnnKey)));
}

TEST_F(IncrediMailRestore, MachineWideIdentitiesComeBackUnderTheCurrentUser) {
    use(source);
    test::setString(RootKey::LocalMachine, identityKey(kAnnKey), "Note",
                    "HKEY_LOCAL_MACHINE\\SOFTWARE\\incredimail stays as written");
    backupAndCarry(false);
    // The same layout as the current-user variant's; the nameless identity, listed
    // with an empty name here, is stored by number, and the content comes from the
    // application folder.
    const StoredFiles c = stored(source, made);
    EXPECT_EQ(c.names('\\'), everyIdentityLayout());
    EXPECT_NE(c.at("Ann Smith\\identity.reg").find("[HKEY_LOCAL_MACHINE\\Software\\"),
              std::string::npos);
    EXPECT_NE(c.at("stationery.reg").find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\incredimail\\content\\"),
              std::string::npos);

    const IMInstall im = installTarget();
    use(target);
    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::IncrediMail, offeredIdentities(),
                                  allItems(kind::IncrediMail)))
        << errorText();
    use(target);
    EXPECT_EQ(registryText(RootKey::CurrentUser, identityKey(kAnnKey), "Identity"), "Ann Smith");
    EXPECT_EQ(registryText(RootKey::CurrentUser, identityKey(kAnnKey), "Note"),
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\incredimail stays as written");
    EXPECT_EQ(registryText(RootKey::CurrentUser, identityKey(kNamelessKey) + "\\Accounts\\Account1",
                           "Email"),
              "user@example.com");
    EXPECT_FALSE(keyExists(RootKey::LocalMachine, identityKey(kAnnKey)));
    EXPECT_TRUE(existsOn(target, im.applicationFolder + "\\Identities\\" + kNamelessKey +
                                     "\\Message Store\\Work\\Old\\2004 Archive.imm"));
    EXPECT_TRUE(existsOn(target, std::string(kContent2) + "\\Letter\\Sunny Day\\letter.htm"));
}

TEST_F(IncrediMailRestore, IdentitiesSharingANameBothComeBack) {
    use(source);
    source_ =
        installIncrediMail(source, true, {{kAnnKey, "Ann", std::nullopt}, {kBobKey, "Ann", 1}});
    ASSERT_FALSE(backup(selection({{"Ann", true}, {"Ann", true}}), allItems(kind::IncrediMail)))
        << errorText();
    carry(source, kBackup, target, kBackup);
    const IMInstall im = installTarget();
    const Selection ids = offeredIdentities();
    ASSERT_EQ(ids.count, 2);
    EXPECT_EQ(ids[1].name, "Ann (2)");
    use(target);
    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::IncrediMail, ids, allItems(kind::IncrediMail)))
        << errorText();
    for (const std::string& k : {kAnnKey, kBobKey}) {
        use(target);
        EXPECT_EQ(registryText(RootKey::CurrentUser, identityKey(k), "Identity"), "Ann") << k;
        EXPECT_TRUE(keyExists(RootKey::CurrentUser, identityKey(k) + "\\Rules\\Rule1")) << k;
        const std::string original = readOn(source, source_.applicationFolder + "\\Identities\\" +
                                                        k + "\\Message Store\\Inbox.imm");
        const std::string restored =
            im.applicationFolder + "\\Identities\\" + k + "\\Message Store\\Inbox.imm";
        ASSERT_TRUE(existsOn(target, restored)) << restored;
        EXPECT_EQ(target.readFile(restored), original);
    }
}

TEST_F(IncrediMailRestore, AHostileBackupRestoresOnlyWhatIsSafe) {
    use(target);
    const IMInstall im = installTarget();
    const std::string k1 = "{K1}";
    const std::string identityReg =
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\IncrediMail\\Identities\\" + k1 +
        "]\r\n\"Identity\"=\"Ann\"\r\n\"Signature\"=\"Regards,\r\n[HKEY_CURRENT_USER\\Software\\"
        "Evil]\r\nAnn\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
        "Run]\r\n\"evil\"=\"C:\\evil.exe\"\r\n\r\n[HKEY_CURRENT_USER\\Software\\IncrediMail\\"
        "Identities\\" +
        k1 + "\\..\\..\\..\\Microsoft]\r\n\"x\"=\"y\"\r\n";
    const std::string manifest =
        "[Backup]\r\nEmailClient=IncrediMail\r\n[Identities]\r\nItem1=Ann\r\nItem2=..\\..\\Evil\r\n"
        "Item3=Bad Key\r\nItem4=Nothing\r\n[Items]\r\nItem1=Accounts Settings\r\nItem2=Mail "
        "Folders\r\nItem3=Message Rules\r\nItem4=Address Book\r\nItem5=Stationery\r\n"
        "[Directory]\r\nItem1=" +
        k1 + "\r\nItem2={K2}\r\nItem3=..\\..\\windows\r\nItem4=\r\n";
    writeBackup(target.host(kBackup), {{"infobak.ini", manifest},
                                       {"Ann/identity.reg", identityReg},
                                       {k1 + "/Message Store/Inbox.imm", "mail"},
                                       {k1 + "/Message Store/../../../escaped.txt", "out"},
                                       {"Stationery/Letter/../../escaped2.txt", "out"},
                                       {"Stationery/Letter/Good/letter.htm", "<html>"}});
    // A rules file left in the staging folder by an earlier job: this backup has
    // none, so it must not be imported.
    target.writeFile(jobs::StagingPath("rules.reg"),
                     "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\IncrediMail\\Identities\\" +
                         k1 + "\\rules]\r\n\"stale\"=\"yes\"\r\n");

    EXPECT_TRUE(jobs::RunRestore(
        kBackup, kind::IncrediMail,
        selection({{"Ann", true}, {"..\\..\\Evil", true}, {"Bad Key", true}, {"Nothing", true}}),
        allItems(kind::IncrediMail)));
    const std::string error = errorText();
    EXPECT_NE(error.find("CurrentVersion\\Run"), std::string::npos) << error;
    EXPECT_NE(error.find("\"..\\..\\Evil\" was not restored"), std::string::npos) << error;
    EXPECT_NE(error.find("\"..\\..\\windows\""), std::string::npos) << error;
    EXPECT_NE(error.find("no data of the IncrediMail identity \"Nothing\""), std::string::npos)
        << error;

    use(target);
    EXPECT_EQ(registryText(RootKey::CurrentUser, identityKey(k1), "Identity"), "Ann");
    EXPECT_EQ(registryText(RootKey::CurrentUser, identityKey(k1), "Signature"),
              "Regards,\r\n[HKEY_CURRENT_USER\\Software\\Evil]\r\nAnn");
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, "\\Software\\Evil"));
    EXPECT_FALSE(
        keyExists(RootKey::CurrentUser, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"));
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, "\\Software\\Microsoft\\x"));
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, identityKey(k1) + "\\rules"));
    EXPECT_TRUE(existsOn(
        target, im.applicationFolder + "\\Identities\\" + k1 + "\\Message Store\\Inbox.imm"));
    EXPECT_TRUE(existsOn(target, std::string(kContent2) + "\\Letter\\Good\\letter.htm"));
    for (const std::string& escaped :
         {im.applicationFolder + "\\escaped.txt",
          im.applicationFolder + "\\Identities\\escaped.txt",
          std::string("C:\\IM Shared\\escaped2.txt"), std::string(kContent2) + "\\escaped2.txt"})
        EXPECT_FALSE(existsOn(target, escaped)) << escaped;
}

TEST_F(IncrediMailRestore, WithoutAnApplicationFolderOnlyTheSettingsComeBack) {
    backupAndCarry(true);
    use(target);  // IncrediMail was never installed here
    EXPECT_TRUE(jobs::RunRestore(kBackup, kind::IncrediMail, offeredIdentities(),
                                 allItems(kind::IncrediMail)));
    EXPECT_NE(errorText().find("application folder is not set"), std::string::npos) << errorText();
    EXPECT_NE(errorText().find("content folder is not set"), std::string::npos) << errorText();
    use(target);
    EXPECT_EQ(registryText(RootKey::CurrentUser, identityKey(kAnnKey), "Identity"), "Ann Smith");
    EXPECT_FALSE(platform::directoryExists("C:\\Identities"));
    EXPECT_FALSE(platform::directoryExists("C:\\Letter"));
}
}  // namespace
