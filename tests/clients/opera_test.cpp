#include "clients/opera.h"

#include "adapter_test_support.h"

namespace qb::test {
namespace {

using Strings = std::vector<std::string>;

const char* kBackup = "C:\\Backups\\OperaBackup.ebk";
const Strings kItems = {"Accounts Settings", "Mail Folders", "Filters", "Signatures",
                        "Address Book"};

Selection items(std::initializer_list<int> chosen) {
    Selection s;
    for (size_t i = 0; i < kItems.size(); ++i)
        s.add(kItems[i],
              std::find(chosen.begin(), chosen.end(), static_cast<int>(i)) != chosen.end());
    return s;
}
Selection allItems() {
    return items({0, 1, 2, 3, 4});
}

// What one Opera 6 account puts into a backup with every item.
Strings opera6AccountNames(const std::string& a) {
    Strings names = {a + "/Account.ini",
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
        names.push_back(a + "/" + box + ".IDX");
        names.push_back(a + "/" + box + ".MBS");
    }
    return names;
}

// The same account's files as they lie in the account folder after a restore.
Strings opera6AccountFiles() {
    Strings files = {"Account.ini",
                     "Folder.ini",
                     "Inbox\\Inbox.idx",
                     "Inbox\\Inbox.mbs",
                     "Inbox\\Old\\Old.idx",
                     "Inbox\\Old\\Old.mbs",
                     "Inbox\\Old\\folder.ini",
                     "Inbox\\folder.ini",
                     "Mailing Lists\\.Digest.mbs",
                     "Mailing Lists\\Mailing Lists.idx",
                     "Mailing Lists\\Mailing Lists.mbs",
                     "Mailing Lists\\folder.ini",
                     "filters.dat",
                     "sig.txt"};
    for (const char* box : {"Drafts", "Inbox", "Outbox", "Sent", "Trash"}) {
        files.push_back(std::string(box) + ".IDX");
        files.push_back(std::string(box) + ".MBS");
    }
    std::sort(files.begin(), files.end());
    return files;
}

Strings sorted(Strings s) {
    std::sort(s.begin(), s.end());
    return s;
}

using OperaTest = AdapterTest;

TEST_F(OperaTest, Opera6BackupLayoutAndRestoresToAnotherOperaFolder) {
    const OperaInstall opera = installOpera6(machine, {"account1", "work mail"});
    const Selection ids = selection({{"account1", true}, {"work mail", true}});
    ASSERT_FALSE(jobs::RunBackup(kBackup, kind::Opera6, ids, allItems())) << errorText();

    const StoredFiles stored = readBackup(machine.host(kBackup));
    Strings expected = {"Accounts.ini", "Contacts.adr", "infobak.ini"};
    for (const char* a : {"account1", "work mail"})
        for (std::string& n : opera6AccountNames(a))
            expected.push_back(std::move(n));
    EXPECT_EQ(stored.names(), sorted(expected));
    for (const auto& [name, times] : stored.times)
        EXPECT_EQ(times, 1) << name;
    // Mail folders in the order found, nested ones after their parent.
    EXPECT_EQ(iniSection(machine, stored.data.at("work mail/directory.ini"), "Directory"),
              (Strings{"Dir1=work mail\\Inbox", "Dir2=work mail\\Inbox\\Old",
                       "Dir3=work mail\\Mailing Lists"}));
    const std::string sigIni = stored.data.at("account1/signatures.ini");
    EXPECT_EQ(iniValue(machine, sigIni, "Directory", "Dir"), opera.folder + "Mail\\account1\\");
    EXPECT_EQ(iniValue(machine, sigIni, "Files", "File"), "sig.txt");
    const std::string manifest = stored.data.at("infobak.ini");
    EXPECT_EQ(iniValue(machine, manifest, "Backup", "EmailClient"), "Opera");
    EXPECT_EQ(iniValue(machine, manifest, "Identities", "Item2"), "work mail");
    EXPECT_EQ(iniValue(machine, manifest, "Items", "Item5"), "Address Book");
    EXPECT_EQ(iniValue(machine, manifest, "Directory", "Dir1"), "<missing>");

    // Another machine whose Opera 6 lives elsewhere: every file into its Mail
    // folder, the signature with its account, and the account file told so.
    const std::string backupFile = machine.readFile(kBackup);
    const std::string oldInbox =
        machine.readFile(opera.folder + "Mail\\work mail\\Inbox\\Inbox.mbs");
    FakeMachine other{"bob"};
    other.writeFile(kBackup, backupFile);
    prepare(other);
    const std::string newOpera = "C:\\Apps\\Opera 6\\";
    setString(RootKey::CurrentUser, "Software\\Opera Software", "Last CommandLine",
              newOpera + "Opera.exe");
    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::Opera6, ids, allItems())) << errorText();
    EXPECT_EQ(filesBelow(other, newOpera + "Mail\\work mail"), opera6AccountFiles());
    EXPECT_EQ(other.readFile(newOpera + "Mail\\work mail\\Inbox\\Inbox.mbs"), oldInbox);
    EXPECT_TRUE(exists(other, newOpera + "Mail\\Accounts.ini"));
    EXPECT_TRUE(exists(other, newOpera + "Contacts.adr"));
    EXPECT_FALSE(exists(other, opera.folder + "Mail\\account1\\sig.txt"));
    EXPECT_EQ(platform::IniFile(newOpera + "Mail\\account1\\Account.ini")
                  .readString("OUTGOING", "SignatureFile", ""),
              newOpera + "Mail\\account1\\sig.txt");

    // Into a folder: one folder per account, the shared files beside them.
    ASSERT_FALSE(
        jobs::RunRestoreToFolder(kBackup, "C:\\Opera Copy\\", kind::Opera6, ids, allItems()))
        << errorText();
    EXPECT_EQ(filesBelow(other, "C:\\Opera Copy\\account1"), opera6AccountFiles());
    EXPECT_TRUE(exists(other, "C:\\Opera Copy\\Accounts.ini"));
    EXPECT_TRUE(exists(other, "C:\\Opera Copy\\Contacts.adr"));
}

TEST_F(OperaTest, CommandLineBacksUpBothVersions) {
    if (!quillboxBuilt()) GTEST_SKIP() << "the quillbox program is not built";
    installOpera6(machine, {"account1"});
    installOpera7(machine);
    const ProgramRun run = runQuillbox(machine, {"/b", "/c:opera", "/p:C:\\Backups\\cli", "-"});
    ASSERT_EQ(run.status, 0) << run.output;
    const auto backups = backupsByClient(machine, "C:\\Backups\\cli");
    ASSERT_EQ(backups.size(), 2u);
    Strings opera6 = opera6AccountNames("account1");
    for (const char* shared : {"Accounts.ini", "Contacts.adr", "infobak.ini"})
        opera6.push_back(shared);
    EXPECT_EQ(readBackup(backups.at("Opera")).names(), sorted(opera6));
    const StoredFiles opera7 = readBackup(backups.at("Opera7"));
    EXPECT_TRUE(opera7.has("Mail/storage/2004/mail 0001.mbs"));
    EXPECT_TRUE(opera7.has("storage/2004/mail 0001.mbs"));
    EXPECT_TRUE(opera7.has("contacts.adr"));
}

TEST_F(OperaTest, Opera6ItemsOneByOne) {
    const OperaInstall opera = installOpera6(machine, {"account1", "account2"});
    // Only the signature of the second account: its staging folder is made first.
    const Selection second = selection({{"account1", false}, {"account2", true}});
    ASSERT_FALSE(jobs::RunBackup(kBackup, kind::Opera6, second, items({3}))) << errorText();
    EXPECT_EQ(readBackup(machine.host(kBackup)).names(),
              (Strings{"account2/Signatures/sig.txt", "account2/signatures.ini", "infobak.ini"}));

    // The address book needs no account: it comes back with none chosen.
    ASSERT_FALSE(jobs::RunBackup(kBackup, kind::Opera6, second, allItems())) << errorText();
    platform::deleteFile(opera.folder + "Contacts.adr");
    platform::deleteFile(opera.folder + "Mail\\account2\\filters.dat");
    const Selection none = selection({{"account2", false}});
    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::Opera6, none, items({2, 4}))) << errorText();
    EXPECT_TRUE(exists(machine, opera.folder + "Contacts.adr"));
    EXPECT_FALSE(exists(machine, opera.folder + "Mail\\account2\\filters.dat"));
}

TEST_F(OperaTest, Opera6WithoutItsFolderOrWithHostileNames) {
    installOpera6(machine, {"account1"});
    machine.writeFile(kBackup, "an older backup");
    setString(RootKey::CurrentUser, "Software\\Opera Software", "Last CommandLine", "");
    EXPECT_TRUE(
        jobs::RunBackup(kBackup, kind::Opera6, selection({{"account1", true}}), allItems()));
    EXPECT_NE(errorText().find("Last CommandLine"), std::string::npos) << errorText();
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
    EXPECT_TRUE(jobs::RunRestoreToFolder(kBackup, "C:\\Out\\", kind::Opera6, ids, allItems()));
    EXPECT_EQ(filesBelow(machine, "C:\\Out"), Strings{"acct\\In\\In.mbs"});
    for (const char* name : {"..\\evil", "..\\..\\Windows", "..\\x.dll"})
        EXPECT_NE(errorText().find(name), std::string::npos) << name << "\n" << errorText();
    EXPECT_FALSE(exists(machine, "C:\\evil"));
    EXPECT_FALSE(exists(machine, "C:\\x.dll"));
}

TEST_F(OperaTest, Opera7BackupLayoutAndRestoresIntoAnotherUsersProfile) {
    const OperaInstall opera = installOpera7(machine);
    const Selection ids = selection({{"Default User", true}});
    ASSERT_FALSE(jobs::RunBackup(kBackup, kind::Opera7, ids, allItems())) << errorText();

    const StoredFiles stored = readBackup(machine.host(kBackup));
    const Strings tree = {"Cache/hfcache0.hca", "Cache/sub cache/hfcache1.hca", "index/0.idx",
                          "storage/2004/mail 0001.mbs", "storage/omailbase.dat"};
    Strings expected = {"Mail/.lock",           "Mail/accounts.ini", "Mail/index.ini",
                        "Mail/signature 1.txt", "contacts.adr",      "infobak.ini"};
    for (const std::string& t : tree) {
        expected.push_back(t);  // the second copy at the root
        expected.push_back("Mail/" + t);
    }
    EXPECT_EQ(stored.names(), sorted(expected));
    EXPECT_EQ(iniValue(machine, stored.data.at("infobak.ini"), "Backup", "EmailClient"), "Opera7");

    const Strings files = {"Mail\\.lock",
                           "Mail\\Cache\\hfcache0.hca",
                           "Mail\\Cache\\sub cache\\hfcache1.hca",
                           "Mail\\accounts.ini",
                           "Mail\\index.ini",
                           "Mail\\index\\0.idx",
                           "Mail\\signature 1.txt",
                           "Mail\\storage\\2004\\mail 0001.mbs",
                           "Mail\\storage\\omailbase.dat"};
    const std::string backupFile = machine.readFile(kBackup);
    const std::string base = machine.readFile(opera.folder + "\\Mail\\storage\\omailbase.dat");
    FakeMachine other{"bob"};
    other.writeFile(kBackup, backupFile);
    prepare(other);
    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::Opera7, ids, allItems())) << errorText();
    const std::string q = appDataFolder(other) + "\\Opera\\Opera7";
    Strings inProfile = files;
    inProfile.push_back("profile\\contacts.adr");
    EXPECT_EQ(filesBelow(other, q), sorted(inProfile));
    EXPECT_EQ(other.readFile(q + "\\Mail\\storage\\omailbase.dat"), base);

    ASSERT_FALSE(
        jobs::RunRestoreToFolder(kBackup, "C:\\Opera7 Copy\\", kind::Opera7, ids, allItems()))
        << errorText();
    Strings inFolder = files;
    inFolder.push_back("contacts.adr");
    EXPECT_EQ(filesBelow(other, "C:\\Opera7 Copy"), sorted(inFolder));

    // Without its one identity chosen, neither backup nor restore touch the mail.
    const Selection none = selection({{"Default User", false}});
    ASSERT_FALSE(jobs::RunBackup(kBackup, kind::Opera7, none, allItems())) << errorText();
    EXPECT_EQ(readBackup(other.host(kBackup)).names(), Strings{"infobak.ini"});
}

}  // namespace
}  // namespace qb::test
