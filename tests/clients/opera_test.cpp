// Opera 6 and 7: backups through the quillbox program checked against the stored
// layout, restores into another machine's Opera and into a folder, items one by
// one, a missing Opera folder and hostile backup files.
#include "clients/opera.h"

#include "adapter_test_support.h"

namespace qb::test {
namespace {

using Strings = std::vector<std::string>;

const char* kBackup = "C:\\Backups\\OperaBackup.ebk";
constexpr const char* kShellFolders =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const Strings kItems = {"Accounts Settings", "Mail Folders", "Filters", "Signatures",
                        "Address Book"};

Selection items(std::initializer_list<int> chosen) {
    Selection s;
    for (size_t i = 0; i < kItems.size(); ++i)
        s.add(kItems[i],
              std::find(chosen.begin(), chosen.end(), static_cast<int>(i)) != chosen.end());
    return s;
}

// What one Opera 6 account puts into a backup with every item.
Names opera6AccountNames(const std::string& a) {
    Names names = {a + "/Account.ini",
                   a + "/Folder.ini",
                   a + "/Inbox/Inbox.idx",
                   a + "/Inbox/Inbox.mbs",
                   a + "/Inbox/Old/Old.idx",
                   a + "/Inbox/Old/Old.mbs",
                   a + "/Inbox/Old/folder.ini",
                   a + "/Inbox/folder.ini",
                   a + "/Mailing Lists/.Digest.mbs",
                   a + "/Mailing Lists/Mailing Lists.idx",
                   a + "/Mailing Lists/Mailing Lists.mbs",
                   a + "/Mailing Lists/folder.ini",
                   a + "/Signatures/sig.txt",
                   a + "/directory.ini",
                   a + "/filters.dat",
                   a + "/signatures.ini"};
    for (const char* box : {"Drafts", "Inbox", "Outbox", "Sent", "Trash"}) {
        names.insert(a + "/" + box + ".IDX");
        names.insert(a + "/" + box + ".MBS");
    }
    return names;
}

// The same account's files as they lie in the account folder after a restore.
Names opera6AccountFiles() {
    Names files;
    for (const std::string& name : opera6AccountNames("a"))
        if (name != "a/directory.ini" && name != "a/signatures.ini") files.insert(name.substr(2));
    files.erase("Signatures/sig.txt");
    files.insert("sig.txt");
    return files;
}

using OperaTest = AdapterTest;

TEST_F(OperaTest, Opera6ThroughTheProgramIntoAnotherOperaFolderAndIntoAFolder) {
    const OperaInstall opera = installOpera6(machine, {"account1", "work mail"});
    installOpera7(machine);
    // The family's keyword backs up every installed version, each into its file.
    const auto files = backupThroughProgram("opera", "C:\\Backups\\cli");
    ASSERT_EQ(files.size(), 2u);
    ASSERT_TRUE(files.count("Opera") && files.count("Opera7"));
    const std::string file = files.at("Opera");

    const StoredFiles s = stored(file);
    Names expected = {"Accounts.ini", "Contacts.adr", "infobak.ini"};
    for (const char* a : {"account1", "work mail"})
        expected.merge(opera6AccountNames(a));
    EXPECT_EQ(s.names(), expected);
    // Mail folders in the order found, nested ones after their parent.
    EXPECT_EQ(iniLines(s.at("work mail/directory.ini"), "Directory"),
              (Strings{"Dir1=work mail\\Inbox", "Dir2=work mail\\Inbox\\Old",
                       "Dir3=work mail\\Mailing Lists"}));
    const std::string& sigIni = s.at("account1/signatures.ini");
    EXPECT_EQ(iniValue(sigIni, "Directory", "Dir"), opera.folder + "Mail\\account1\\");
    EXPECT_EQ(iniValue(sigIni, "Files", "File"), "sig.txt");
    const std::string& manifest = s.at("infobak.ini");
    EXPECT_EQ(iniValue(manifest, "Identities", "Item2"), "work mail");
    EXPECT_EQ(iniValue(manifest, "Items", "Item5"), "Address Book");
    EXPECT_EQ(iniValue(manifest, "Directory", "Dir1"), "<missing>");

    // Another machine whose Opera 6 lives elsewhere: every file into its Mail
    // folder, the signature with its account, and the account file told so.
    const std::string oldInbox =
        machine.readFile(opera.folder + "Mail\\work mail\\Inbox\\Inbox.mbs");
    FakeMachine other{"bob"};
    moveBackup(file, other);
    const std::string newOpera = "C:\\Apps\\Opera 6\\";
    setString(RootKey::CurrentUser, "Software\\Opera Software", "Last CommandLine",
              newOpera + "Opera.exe");
    const Choice c = contents(file, kind::Opera6);
    ASSERT_EQ(c.identities.count, 2);
    ASSERT_FALSE(jobs::RunRestore(file, kind::Opera6, c.identities, c.items)) << errorText();
    for (const char* a : {"account1", "work mail"})
        EXPECT_EQ(filesBelow(newOpera + "Mail\\" + a), opera6AccountFiles()) << a;
    EXPECT_EQ(other.readFile(newOpera + "Mail\\work mail\\Inbox\\Inbox.mbs"), oldInbox);
    EXPECT_TRUE(exists(newOpera + "Mail\\Accounts.ini"));
    EXPECT_TRUE(exists(newOpera + "Contacts.adr"));
    EXPECT_FALSE(exists(opera.folder + "Mail\\account1\\sig.txt"));
    EXPECT_EQ(platform::IniFile(newOpera + "Mail\\account1\\Account.ini")
                  .readString("OUTGOING", "SignatureFile", ""),
              newOpera + "Mail\\account1\\sig.txt");

    // Into a folder: one folder per account, the shared files beside them.
    ASSERT_FALSE(
        jobs::RunRestoreToFolder(file, "C:\\Opera Copy\\", kind::Opera6, c.identities, c.items))
        << errorText();
    Names inFolder = {"Accounts.ini", "Contacts.adr"};
    for (const char* a : {"account1", "work mail"})
        for (const std::string& f : opera6AccountFiles())
            inFolder.insert(std::string(a) + "/" + f);
    EXPECT_EQ(filesBelow("C:\\Opera Copy"), inFolder);
}

TEST_F(OperaTest, Opera6ItemsOneByOne) {
    const OperaInstall opera = installOpera6(machine, {"account1", "account2"});
    // Only the signature of the second account: its staging folder is made first.
    const Selection second = selection({{"account1", false}, {"account2", true}});
    ASSERT_FALSE(jobs::RunBackup(kBackup, kind::Opera6, second, items({3}))) << errorText();
    EXPECT_EQ(stored(kBackup).names(),
              (Names{"account2/Signatures/sig.txt", "account2/signatures.ini", "infobak.ini"}));

    // The address book needs no account: it comes back with none chosen.
    ASSERT_FALSE(jobs::RunBackup(kBackup, kind::Opera6, second, allItems(kind::Opera6)))
        << errorText();
    platform::deleteFile(opera.folder + "Contacts.adr");
    platform::deleteFile(opera.folder + "Mail\\account2\\filters.dat");
    const Selection none = selection({{"account2", false}});
    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::Opera6, none, items({2, 4}))) << errorText();
    EXPECT_TRUE(exists(opera.folder + "Contacts.adr"));
    EXPECT_FALSE(exists(opera.folder + "Mail\\account2\\filters.dat"));
}

TEST_F(OperaTest, WithoutTheirFoldersOrWithHostileNames) {
    installOpera6(machine, {"account1"});
    installOpera7(machine);
    machine.writeFile(kBackup, "an older backup");
    // Neither version's folder is known: no relative "Mail" or "\Opera\Opera7"
    // folder is packed, and the older backup stays.
    setString(RootKey::CurrentUser, "Software\\Opera Software", "Last CommandLine", "");
    EXPECT_TRUE(jobs::RunBackup(kBackup, kind::Opera6, selection({{"account1", true}}),
                                allItems(kind::Opera6)));
    EXPECT_NE(errorText().find("Last CommandLine"), std::string::npos) << errorText();
    EXPECT_EQ(machine.readFile(kBackup), "an older backup");
    setString(RootKey::CurrentUser, kShellFolders, "AppData", "");
    EXPECT_TRUE(jobs::RunBackup(kBackup, kind::Opera7, selection({{"Default User", true}}),
                                allItems(kind::Opera7)));
    EXPECT_NE(errorText().find("\"AppData\""), std::string::npos) << errorText();
    EXPECT_EQ(machine.readFile(kBackup), "an older backup");

    writeBackup(
        machine.host(kBackup),
        {{"infobak.ini", "[Backup]\r\nEmailClient=Opera\r\n"},
         {"../evil/Account.ini", "x"},
         {"acct/directory.ini", "[Directory]\r\nDir1=..\\..\\Windows\r\nDir2=acct\\In\r\n"},
         {"acct/In/In.mbs", "mail"},
         {"acct/signatures.ini", "[Directory]\r\nDir=C:\\x\\\r\n[Files]\r\nFile=..\\x.dll\r\n"},
         {"acct/Signatures/../x.dll", "x"}});
    const Selection ids = selection({{"..\\evil", true}, {"acct", true}});
    EXPECT_TRUE(
        jobs::RunRestoreToFolder(kBackup, "C:\\Out\\", kind::Opera6, ids, allItems(kind::Opera6)));
    EXPECT_EQ(filesBelow("C:\\Out"), Names{"acct/In/In.mbs"});
    for (const char* name : {"..\\evil", "..\\..\\Windows", "..\\x.dll"})
        EXPECT_NE(errorText().find(name), std::string::npos) << name << "\n" << errorText();
    EXPECT_FALSE(exists("C:\\evil"));
    EXPECT_FALSE(exists("C:\\x.dll"));
}

TEST_F(OperaTest, Opera7ThroughTheProgramIntoAnotherUsersProfileAndIntoAFolder) {
    const OperaInstall opera = installOpera7(machine);
    const auto files = backupThroughProgram("opera", "C:\\Backups\\cli");
    ASSERT_EQ(files.size(), 1u);
    const std::string file = files.at("Opera7");

    // The cache, index and storage folders are stored a second time at the root.
    const Names tree = {"Cache/hfcache0.hca", "Cache/sub cache/hfcache1.hca", "index/0.idx",
                        "storage/2004/mail 0001.mbs", "storage/omailbase.dat"};
    Names expected = {"Mail/.lock",           "Mail/accounts.ini", "Mail/index.ini",
                      "Mail/signature 1.txt", "contacts.adr",      "infobak.ini"};
    for (const std::string& t : tree) {
        expected.insert(t);
        expected.insert("Mail/" + t);
    }
    EXPECT_EQ(stored(file).names(), expected);

    // Another user's machine: below that user's application data folder.
    Names mail = {"Mail/.lock", "Mail/accounts.ini", "Mail/index.ini", "Mail/signature 1.txt"};
    for (const std::string& t : tree)
        mail.insert("Mail/" + t);
    const std::string base = machine.readFile(opera.folder + "\\Mail\\storage\\omailbase.dat");
    FakeMachine other{"bob"};
    moveBackup(file, other);
    const Choice c = contents(file, kind::Opera7);
    ASSERT_FALSE(jobs::RunRestore(file, kind::Opera7, c.identities, c.items)) << errorText();
    const std::string q = appDataFolder(other) + "\\Opera\\Opera7";
    Names inProfile = mail;
    inProfile.insert("profile/contacts.adr");
    EXPECT_EQ(filesBelow(q), inProfile);
    EXPECT_EQ(other.readFile(q + "\\Mail\\storage\\omailbase.dat"), base);

    ASSERT_FALSE(
        jobs::RunRestoreToFolder(file, "C:\\Opera7 Copy\\", kind::Opera7, c.identities, c.items))
        << errorText();
    Names inFolder = mail;
    inFolder.insert("contacts.adr");
    EXPECT_EQ(filesBelow("C:\\Opera7 Copy"), inFolder);

    // Without its one identity chosen, the backup holds no mail.
    const Selection none = selection({{"Default User", false}});
    ASSERT_FALSE(jobs::RunBackup(kBackup, kind::Opera7, none, allItems(kind::Opera7)))
        << errorText();
    EXPECT_EQ(stored(other, kBackup).names(), Names{"infobak.ini"});
}

}  // namespace
}  // namespace qb::test
