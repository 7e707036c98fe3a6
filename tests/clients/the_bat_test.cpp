// The Bat!: a backup through the quillbox program checked against the stored
// layout, restores into another machine's client and into a folder, damaged
// settings and hostile backup files.
#include "clients/the_bat.h"

#include "adapter_test_support.h"

namespace qb::test {
namespace {

constexpr const char* kBackupFile = "C:\\Backups\\mail backup.ebk";
constexpr const char* kBatKey = "\\Software\\RIT\\The Bat!";
constexpr const char* kDepot = "\\Software\\RIT\\The Bat!\\Users Depot";
const std::vector<std::string> kUserFiles = {"account.cfg", "account.vcf", "account.flx",
                                             "account.m_d", "account.m_r", "account.pfx",
                                             "account.qtn", "account.sce", "account.srx"};

// The three users of the source machine: two in the working folder (one with a
// blank in the name), one in a folder of its own.
const std::vector<BatUser> kUsers = {{"Ann", ""}, {"Bob", "C:\\BatMail\\Bob"}, {"Carol Smith", ""}};

// One user's files, all items, relative to the user's folder.
Names userFiles() {
    Names names(kUserFiles.begin(), kUserFiles.end());
    for (const std::string& box : batMailFolders()) {
        names.insert(slashes(box + "/Messages.tbi"));
        names.insert(slashes(box + "/Messages.tbb"));
    }
    return names;
}
// The same stored below the user's name, with the list of its mail folders.
Names userNames(const std::string& user) {
    Names names = {user + "/directory.ini"};
    for (const std::string& f : userFiles())
        names.insert(user + "/" + f);
    return names;
}
const Names kAddressBook = {"Address Book/MainAB.abd", "Address Book/.Private Contacts.abd",
                            "Address Book/Groups.cfg", "Address Book/Addrbook.ini"};

// Everything a backup of kUsers with every item stores.
Names allNames() {
    Names names = kAddressBook;
    names.insert("infobak.ini");
    for (const BatUser& u : kUsers)
        names.merge(userNames(u.name));
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

TEST_F(TheBatTest, ThroughTheProgramIntoAnotherMachineAndIntoAFolder) {
    const BatInstall b = install();
    const auto files = backupsThroughProgram("thebat", "C:\\CLI");
    ASSERT_EQ(files.size(), 1u);
    const std::string file = files.at("TheBat");
    const StoredFiles s = stored(file);
    EXPECT_EQ(s.names(), allNames());

    // Each user's files are that user's, wherever the user keeps them.
    EXPECT_EQ(s.at("Bob/Inbox/Lists/Messages.tbi"),
              source.readFile("C:\\BatMail\\Bob\\Inbox\\Lists\\Messages.tbi"));
    EXPECT_EQ(s.at("Carol Smith/.Archive/Messages.tbb"),
              source.readFile(b.workingFolder + "\\Carol Smith\\.Archive\\Messages.tbb"));
    EXPECT_EQ(s.at("Address Book/MainAB.abd"), "source address book");

    const std::string& manifest = s.at("infobak.ini");
    EXPECT_EQ(iniKeys(manifest, "Identities"),
              (std::vector<std::string>{"Item1", "Item2", "Item3"}));
    EXPECT_EQ(iniValue(manifest, "Identities", "Item3"), "Carol Smith");
    EXPECT_EQ(iniValue(manifest, "Items", "Item4"), "Address Book");
    // A user of the working folder is "default"; the others keep their folder.
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

    // Another person's machine: The Bat! in another working folder, with a user
    // Zed of its own and a Bob kept elsewhere.
    use(target);
    const BatInstall t =
        installTheBat(target, {{"Zed", ""}, {"Bob", "C:\\Old\\Bob"}}, "C:\\Apps\\The Bat");
    moveBackup(file, target);
    const ProgramRun restore = runQuillbox(target, {"/r", "/f:" + file, "/p:C:\\Fallback"});
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    use(target);

    // Users of the working folder land in this machine's working folder + their
    // name; Bob in the folder the backup took him from. Never one level deeper.
    for (const auto& [user, folder] : std::vector<std::pair<std::string, std::string>>{
             {"Ann", t.workingFolder + "\\Ann"},
             {"Bob", "C:\\BatMail\\Bob"},
             {"Carol Smith", t.workingFolder + "\\Carol Smith"}}) {
        EXPECT_EQ(filesBelow(folder), userFiles()) << user;
        const std::string from =
            user == "Bob" ? std::string("C:\\BatMail\\Bob") : b.workingFolder + "\\" + user;
        EXPECT_EQ(target.readFile(folder + "\\Inbox\\Lists\\Old Threads\\Messages.tbb"),
                  readOn(source, from + "\\Inbox\\Lists\\Old Threads\\Messages.tbb"));
    }
    EXPECT_EQ(target.readFile(t.workingFolder + "\\MainAB.abd"), "source address book");
    EXPECT_TRUE(exists(t.workingFolder + "\\.Private Contacts.abd"));
    EXPECT_TRUE(exists(t.workingFolder + "\\Addrbook.ini"));

    // Bob is pointed at his folder; Ann and Carol are appended as new users.
    EXPECT_EQ(registryNumber(RootKey::CurrentUser, kDepot, "Count"), 4);
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "User #1"), "Zed");
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "Dir #2"), "C:\\BatMail\\Bob");
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "User #3"), "Ann");
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "Dir #3"), "");
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "User #4"), "Carol Smith");
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "Dir #4"), "");

    // Into a folder: the stored layout without the lists; the client's settings
    // stay as they are.
    Choice c = contents(file, kind::TheBat);
    ASSERT_EQ(c.identities.count, 3);
    c.identities[2].checked = false;  // Carol stays out
    EXPECT_FALSE(
        jobs::RunRestoreToFolder(file, "C:\\Restored Mail\\", kind::TheBat, c.identities, c.items))
        << errorText();
    Names expected = kAddressBook;
    for (const std::string user : {"Ann", "Bob"})
        for (const std::string& f : userFiles())
            expected.insert(user + "/" + f);
    EXPECT_EQ(filesBelow("C:\\Restored Mail"), expected);
    EXPECT_EQ(registryNumber(RootKey::CurrentUser, kDepot, "Count"), 4);
}

TEST_F(TheBatTest, OnlyTheChosenUsersAndItems) {
    install();
    Choice c = everything(kind::TheBat);
    c.identities[0].checked = false;
    c.identities[2].checked = false;
    c.items = selection({{"Accounts Settings", false},
                         {"Mail Folders", false},
                         {"Filters", true},
                         {"Address Book", false}});
    ASSERT_FALSE(backup(c)) << errorText();
    const StoredFiles s = stored(kBackupFile);
    EXPECT_EQ(s.names(), (Names{"infobak.ini", "Bob/account.srx"}));
    const std::string& manifest = s.at("infobak.ini");
    EXPECT_EQ(iniValue(manifest, "Identities", "Item1"), "Bob");
    EXPECT_EQ(iniValue(manifest, "Identities", "Item2"), "<missing>");
    EXPECT_EQ(iniValue(manifest, "Directory", "Item1"), "C:\\BatMail\\Bob");
    EXPECT_EQ(iniValue(manifest, "Items", "Item1"), "Filters");
}

TEST_F(TheBatTest, RestoreWithoutUsersCountAddsTheFirstUser) {
    install({{"Ann", ""}});
    ASSERT_FALSE(backup(everything(kind::TheBat))) << errorText();
    use(target);
    setString(RootKey::CurrentUser, kBatKey, "Working Directory", "C:\\Bat\\");
    createKey(RootKey::CurrentUser, kDepot);
    moveBackup(kBackupFile, target);
    const Choice c = contents(kBackupFile, kind::TheBat);
    EXPECT_FALSE(jobs::RunRestore(kBackupFile, kind::TheBat, c.identities, c.items)) << errorText();
    EXPECT_EQ(registryNumber(RootKey::CurrentUser, kDepot, "Count"), 1);
    EXPECT_EQ(registryText(RootKey::CurrentUser, kDepot, "User #1"), "Ann");
    EXPECT_EQ(target.readFile("C:\\Bat\\Ann\\account.cfg"),
              readOn(source, "C:\\Program Files\\The Bat!\\Ann\\account.cfg"));
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
    clearJobOutcome();
    Choice bob = everything(kind::TheBat);
    bob.identities[0].checked = bob.identities[2].checked = false;
    bob.items[3].checked = false;
    EXPECT_FALSE(backup(bob)) << errorText();
    EXPECT_TRUE(stored(kBackupFile).has("Bob/Inbox/Messages.tbi"));
}

TEST_F(TheBatTest, UserNameThatIsNoFolderNameIsNamedAndFailsTheBackup) {
    install({{"Ann", ""}, {"..\\..\\Windows", ""}, {"Bob", "C:\\BatMail\\Bob"}});
    source.writeFile(kBackupFile, "the previous backup");
    Choice all = everything(kind::TheBat);
    EXPECT_TRUE(backup(all));
    EXPECT_NE(errorText().find("..\\..\\Windows"), std::string::npos) << errorText();
    EXPECT_EQ(source.readFile(kBackupFile), "the previous backup");
    // Without that user, the others back up.
    all.identities[1].checked = false;
    EXPECT_FALSE(backup(all)) << errorText();
    const StoredFiles s = stored(kBackupFile);
    for (const std::string& name : s.names())
        EXPECT_EQ(name.find(".."), std::string::npos) << name;
    EXPECT_TRUE(s.has("Ann/account.cfg"));
    EXPECT_TRUE(s.has("Bob/account.cfg"));
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
    use(target);
    installTheBat(target, {}, "C:\\Bat");
    writeBackup(target.host(kBackupFile),
                {{"infobak.ini", manifest},
                 {"Ann/directory.ini", "[Directory]\r\nDir1=Inbox\\\r\nDir2=..\\..\\evil\\\r\n"},
                 {"Ann/Inbox/Messages.tbi", "inbox index"},
                 {"Ann/account.cfg", "ann's account"},
                 {"Eve/account.cfg", "eve's account"},
                 {"Address Book/Main.abd", "addresses"}});
    const Choice c = contents(kBackupFile, kind::TheBat);
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
}

}  // namespace
}  // namespace qb::test
