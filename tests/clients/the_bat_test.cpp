// The Bat!: backups checked against the stored layout with an independent reader,
// restores into another machine's client and into a folder, damaged settings and
// hostile backup files.
#include "clients/the_bat.h"

#include "jobs/restore_job.h"
#include "mail_user_test_kit.h"

namespace qb::test::mailkit {
namespace {

using platform::RootKey;

constexpr const char* kBatKey = "\\Software\\RIT\\The Bat!";
constexpr const char* kDepot = "\\Software\\RIT\\The Bat!\\Users Depot";
const std::vector<std::string> kUserFiles = {"account.cfg", "account.vcf", "account.flx",
                                             "account.m_d", "account.m_r", "account.pfx",
                                             "account.qtn", "account.sce", "account.srx"};

// The three users of the source machine: two in the working folder (one with a
// blank in the name), one in a folder of its own.
const std::vector<BatUser> kUsers = {{"Ann", ""}, {"Bob", "C:\\BatMail\\Bob"}, {"Carol Smith", ""}};

std::string slashes(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

// Stored names of one user's files, all items.
std::set<std::string> userNames(const std::string& user) {
    std::set<std::string> names;
    for (const std::string& f : kUserFiles)
        names.insert(user + "/" + f);
    for (const std::string& box : batMailFolders()) {
        names.insert(slashes(user + "/" + box + "/Messages.tbi"));
        names.insert(slashes(user + "/" + box + "/Messages.tbb"));
    }
    names.insert(user + "/directory.ini");
    return names;
}

class TheBatTest : public AdapterTest {
  protected:
    BatInstall install(const std::vector<BatUser>& users = kUsers) {
        BatInstall b = installTheBat(source, users);
        // Distinct address book contents, so a restore shows where they came from.
        source.writeFile(b.workingFolder + "\\MainAB.abd", "source address book");
        return b;
    }
    bool backup(const Choice& c) {
        return jobs::RunBackup(kBackupFile, kind::TheBat, c.identities, c.items);
    }
};

TEST_F(TheBatTest, BackupStoresEveryUserUnderItsNameAndTheAddressBookBesideThem) {
    const BatInstall b = install();
    ASSERT_FALSE(backup(everything(kind::TheBat))) << errorText();
    EXPECT_EQ(errorText(), "");
    const Stored s = stored();

    std::set<std::string> expected = {"infobak.ini", "Address Book/MainAB.abd",
                                      "Address Book/.Private Contacts.abd",
                                      "Address Book/Groups.cfg", "Address Book/Addrbook.ini"};
    for (const BatUser& u : kUsers)
        expected.merge(userNames(u.name));
    EXPECT_EQ(s.fileNames(), expected);

    // Each user's files are that user's, wherever the user keeps them.
    EXPECT_EQ(s.at("Bob/Inbox/Lists/Messages.tbi"),
              source.readFile("C:\\BatMail\\Bob\\Inbox\\Lists\\Messages.tbi"));
    EXPECT_EQ(s.at("Carol Smith/.Archive/Messages.tbb"),
              source.readFile(b.workingFolder + "\\Carol Smith\\.Archive\\Messages.tbb"));
    EXPECT_EQ(s.at("Address Book/MainAB.abd"), "source address book");

    const std::string& manifest = s.at("infobak.ini");
    EXPECT_EQ(iniValue(manifest, "Backup", "EmailClient"), "TheBat");
    EXPECT_EQ(iniKeys(manifest, "Identities"),
              (std::vector<std::string>{"Item1", "Item2", "Item3"}));
    EXPECT_EQ(iniValue(manifest, "Identities", "Item3"), "Carol Smith");
    EXPECT_EQ(iniValue(manifest, "Items", "Item4"), "Address Book");
    EXPECT_EQ(iniValue(manifest, "Directory", "Item1"), "default");
    EXPECT_EQ(iniValue(manifest, "Directory", "Item2"), "C:\\BatMail\\Bob");
    EXPECT_EQ(iniValue(manifest, "Directory", "Item3"), "default");

    // Every user's list names that user's folders, a folder before its subfolders.
    for (const BatUser& u : kUsers) {
        const std::string& list = s.at(u.name + "/directory.ini");
        const std::vector<std::string> folders = batMailFolders();
        ASSERT_EQ(iniKeys(list, "Directory").size(), folders.size()) << u.name;
        for (size_t k = 0; k < folders.size(); ++k)
            EXPECT_EQ(iniValue(list, "Directory", "Dir" + std::to_string(k + 1)),
                      folders[k] + "\\");
    }
}

TEST_F(TheBatTest, BackupTakesOnlyTheChosenUsersAndItems) {
    install();
    Choice c = everything(kind::TheBat);
    c.identities[0].checked = false;
    c.identities[2].checked = false;
    c.items = selection({{"Accounts Settings", false},
                         {"Mail Folders", false},
                         {"Filters", true},
                         {"Address Book", false}});
    ASSERT_FALSE(backup(c)) << errorText();
    const Stored s = stored();
    EXPECT_EQ(s.fileNames(), (std::set<std::string>{"infobak.ini", "Bob/account.srx"}));
    const std::string& manifest = s.at("infobak.ini");
    EXPECT_EQ(iniValue(manifest, "Identities", "Item1"), "Bob");
    EXPECT_EQ(iniValue(manifest, "Identities", "Item2"), "<missing>");
    EXPECT_EQ(iniValue(manifest, "Directory", "Item1"), "C:\\BatMail\\Bob");
    EXPECT_EQ(iniValue(manifest, "Items", "Item1"), "Filters");
}

TEST_F(TheBatTest, RestorePutsUsersIntoTheirFoldersOnAnotherMachine) {
    install();
    ASSERT_FALSE(backup(everything(kind::TheBat))) << errorText();

    // Another person's machine: The Bat! in another working folder, with a user
    // Zed of its own and a Bob kept elsewhere.
    FakeMachine target("zoe");
    const BatInstall t =
        installTheBat(target, {{"Zed", ""}, {"Bob", "C:\\Old\\Bob"}}, "C:\\Apps\\The Bat");
    moveTo(target);
    const Choice c = contents(kind::TheBat);
    ASSERT_EQ(c.identities.count, 3);
    EXPECT_FALSE(jobs::RunRestore(kBackupFile, kind::TheBat, c.identities, c.items)) << errorText();
    EXPECT_EQ(errorText(), "");

    // Users of the working folder land in this machine's working folder + their
    // name; Bob in the folder the backup took him from. Never one level deeper.
    for (const auto& [user, folder] : std::vector<std::pair<std::string, std::string>>{
             {"Ann", t.workingFolder + "\\Ann"},
             {"Bob", "C:\\BatMail\\Bob"},
             {"Carol Smith", t.workingFolder + "\\Carol Smith"}}) {
        std::set<std::string> expected;
        for (const std::string& name : userNames(user))
            if (name != user + "/directory.ini") expected.insert(name.substr(user.size() + 1));
        EXPECT_EQ(filesBelow(target.host(folder)), expected) << user;
        const std::string from = user == "Bob" ? std::string("C:\\BatMail\\Bob")
                                               : "C:\\Program Files\\The Bat!\\" + user;
        EXPECT_EQ(target.readFile(folder + "\\Inbox\\Lists\\Old Threads\\Messages.tbb"),
                  readOn(source, from + "\\Inbox\\Lists\\Old Threads\\Messages.tbb"));
    }
    EXPECT_EQ(target.readFile(t.workingFolder + "\\MainAB.abd"), "source address book");
    EXPECT_TRUE(fs::exists(target.host(t.workingFolder + "\\.Private Contacts.abd")));
    EXPECT_TRUE(fs::exists(target.host(t.workingFolder + "\\Addrbook.ini")));

    // Bob is pointed at his folder; Ann and Carol are appended as new users.
    EXPECT_EQ(registryNumber(RootKey::CurrentUser, kDepot, "Count"), 4);
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "User #1"), "Zed");
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "Dir #2"), "C:\\BatMail\\Bob");
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "User #3"), "Ann");
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "Dir #3"), "");
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "User #4"), "Carol Smith");
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "Dir #4"), "");
}

TEST_F(TheBatTest, RestoreWithoutUsersCountAddsTheFirstUser) {
    install({{"Ann", ""}});
    ASSERT_FALSE(backup(everything(kind::TheBat))) << errorText();
    FakeMachine target("zoe");
    setString(RootKey::CurrentUser, kBatKey, "Working Directory", "C:\\Bat\\");
    createKey(RootKey::CurrentUser, kDepot);
    moveTo(target);
    const Choice c = contents(kind::TheBat);
    EXPECT_FALSE(jobs::RunRestore(kBackupFile, kind::TheBat, c.identities, c.items)) << errorText();
    EXPECT_EQ(registryNumber(RootKey::CurrentUser, kDepot, "Count"), 1);
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "User #1"), "Ann");
    EXPECT_EQ(target.readFile("C:\\Bat\\Ann\\account.cfg"),
              readOn(source, "C:\\Program Files\\The Bat!\\Ann\\account.cfg"));
}

TEST_F(TheBatTest, RestoreIntoAFolderKeepsTheStoredLayout) {
    install();
    ASSERT_FALSE(backup(everything(kind::TheBat))) << errorText();
    FakeMachine target("zoe");
    moveTo(target);
    Choice c = contents(kind::TheBat);
    c.identities[2].checked = false;  // Carol stays out
    EXPECT_FALSE(jobs::RunRestoreToFolder(kBackupFile, "C:\\Restored Mail\\", kind::TheBat,
                                          c.identities, c.items))
        << errorText();
    std::set<std::string> expected = {"Address Book/MainAB.abd",
                                      "Address Book/.Private Contacts.abd",
                                      "Address Book/Groups.cfg", "Address Book/Addrbook.ini"};
    for (const std::string user : {"Ann", "Bob"})
        for (const std::string& name : userNames(user))
            if (name != user + "/directory.ini") expected.insert(name);
    EXPECT_EQ(filesBelow(target.host("C:\\Restored Mail")), expected);
    // The client's settings are not touched.
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "Count"), "<no key>");
}

TEST_F(TheBatTest, MissingWorkingFolderFailsTheBackupAndKeepsTheOldFile) {
    install();
    ASSERT_FALSE(backup(everything(kind::TheBat))) << errorText();
    const std::string old = source.readFile(kBackupFile);
    {
        platform::Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKey(kBatKey, false));
        reg.deleteValue("Working Directory");
    }
    // Users of the working folder and the address book cannot be found: no drive's
    // root is searched instead, and the last good backup stays.
    EXPECT_TRUE(backup(everything(kind::TheBat)));
    EXPECT_NE(errorText().find("Working Directory"), std::string::npos) << errorText();
    EXPECT_EQ(source.readFile(kBackupFile), old);

    // A user in a folder of its own does not need the working folder.
    Choice bob = everything(kind::TheBat);
    bob.identities[0].checked = bob.identities[2].checked = false;
    bob.items[3].checked = false;
    EXPECT_FALSE(backup(bob)) << errorText();
    EXPECT_TRUE(stored().files.count("Bob/Inbox/Messages.tbi"));
}

TEST_F(TheBatTest, UserNameThatIsNoFolderNameIsLeftOutAndNamed) {
    install({{"Ann", ""}, {"..\\..\\Windows", ""}, {"Bob", "C:\\BatMail\\Bob"}});
    EXPECT_TRUE(backup(everything(kind::TheBat)));
    EXPECT_NE(errorText().find("..\\..\\Windows"), std::string::npos) << errorText();
    const Stored s = stored();
    for (const std::string& name : s.fileNames())
        EXPECT_EQ(name.find(".."), std::string::npos) << name;
    EXPECT_TRUE(s.files.count("Ann/account.cfg"));
    EXPECT_TRUE(s.files.count("Bob/account.cfg"));
    // The manifest's users and folders stay paired.
    const std::string& manifest = s.at("infobak.ini");
    EXPECT_EQ(iniValue(manifest, "Identities", "Item2"), "Bob");
    EXPECT_EQ(iniValue(manifest, "Directory", "Item2"), "C:\\BatMail\\Bob");
    EXPECT_EQ(iniValue(manifest, "Identities", "Item3"), "<missing>");
}

TEST_F(TheBatTest, HostileBackupIsRestoredWithinItsFolders) {
    // A backup made by hand: a user folder that is no full path, a mail folder and
    // a user name leading out, an address book name leading out.
    const std::string manifest =
        "[Backup]\r\nEmailClient=TheBat\r\n"
        "[Identities]\r\nItem1=Ann\r\nItem2=Eve\r\nItem3=..\r\nItem4=Mallory\r\n"
        "[Items]\r\nItem1=Accounts Settings\r\nItem2=Mail Folders\r\nItem3=Address Book\r\n"
        "[Directory]\r\nItem1=default\r\nItem2=..\\..\\evil\r\nItem3=default\r\nItem4=\r\n";
    FakeMachine target("zoe");
    const BatInstall t = installTheBat(target, {}, "C:\\Bat");
    prepare(target);
    writeBackup(target.host(kBackupFile),
                {{"infobak.ini", manifest},
                 {"Ann/directory.ini", "[Directory]\r\nDir1=Inbox\\\r\nDir2=..\\..\\evil\\\r\n"},
                 {"Ann/Inbox/Messages.tbi", "inbox index"},
                 {"Ann/account.cfg", "ann's account"},
                 {"Eve/account.cfg", "eve's account"},
                 {"Address Book/Main.abd", "addresses"}});
    clearJobOutcome();
    const Choice c = contents(kind::TheBat);
    ASSERT_EQ(c.identities.count, 4);
    EXPECT_TRUE(jobs::RunRestore(kBackupFile, kind::TheBat, c.identities, c.items));
    const std::string errors = errorText();
    EXPECT_NE(errors.find("..\\..\\evil\\"), std::string::npos) << errors;
    EXPECT_NE(errors.find("\"Eve\""), std::string::npos) << errors;
    EXPECT_NE(errors.find("\"..\""), std::string::npos) << errors;
    EXPECT_NE(errors.find("\"Mallory\""), std::string::npos) << errors;

    EXPECT_EQ(target.readFile("C:\\Bat\\Ann\\Inbox\\Messages.tbi"), "inbox index");
    EXPECT_EQ(target.readFile("C:\\Bat\\Ann\\account.cfg"), "ann's account");
    EXPECT_EQ(target.readFile("C:\\Bat\\Main.abd"), "addresses");
    EXPECT_FALSE(anyNameContains(target.prefix(), "evil"));
    // Only Ann became a user.
    EXPECT_EQ(registryNumber(RootKey::CurrentUser, kDepot, "Count"), 1);
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "User #1"), "Ann");
    (void)t;
}

}  // namespace
}  // namespace qb::test::mailkit
