// PocoMail 2, 3 and 2 PE: backups through the quillbox program checked against
// the stored layout, restores into another machine's client and into a folder,
// damaged settings and hostile backup files.
#include "clients/pocomail.h"

#include "adapter_test_support.h"
#include "catalog/client_paths.h"

namespace qb::test {
namespace {

constexpr const char* kBackupFile = "C:\\Backups\\mail backup.ebk";

// Stored names of one user's files below `prefix` ("" or "users/N/"), all items.
Names userNames(const std::string& prefix) {
    Names names;
    for (const char* f : {"poco.ini", "accounts.ini", "Filters.ini", "Mail/Inbox.mbx",
                          "Mail/Inbox.itx", "Mail/.sort.tmp", "Address/Address.dat",
                          "Address/Old Lists/Friends.dat", "Scripts/Hello.pms",
                          "Signatures/Default.sig", "Templates/Reply.tpl", "Attach/read me.txt"})
        names.insert(prefix + f);
    return names;
}
// The main user's mail sub-folders as the installer lays them out, below Mail.
const Names kSubFolderFiles = {"Work/Project.mbx", "Work/Project.itx",  "Work/Clients.mbx",
                               "Work/notes.txt",   "Work/2005/Old.mbx", "Work/2005/Old.dat"};
// The copies of those stored at the root: mailboxes, indexes and data files only.
const Names kSubFolderCopies = {"Work/Project.mbx", "Work/Project.itx", "Work/Clients.mbx",
                                "Work/2005/Old.mbx", "Work/2005/Old.dat"};

// The main user's files as they lie in its folder.
Names mainFiles() {
    Names names = userNames("");
    for (const std::string& f : kSubFolderFiles)
        names.insert("Mail/" + f);
    return names;
}
// The same stored: with the root copies of the sub-folders and their list.
Names mainNames() {
    Names names = mainFiles();
    names.insert(kSubFolderCopies.begin(), kSubFolderCopies.end());
    names.insert("directory.ini");
    return names;
}

const std::map<ClientKind, std::string> kManifestKeys = {{kind::PocoMail2, "PocoMail2"},
                                                         {kind::PocoMail3, "PocoMail3"},
                                                         {kind::PocoMail2PE, "PocoMail20"}};

class PocoMailTest : public AdapterTest {
  protected:
    bool backup(ClientKind kind, const Choice& c) {
        return jobs::RunBackup(kBackupFile, kind, c.identities, c.items);
    }
};

class PocoMailVersions : public PocoMailTest, public ::testing::WithParamInterface<ClientKind> {};

TEST_P(PocoMailVersions, ThroughTheProgramIntoAnotherMachineAndIntoAFolder) {
    const ClientKind kind = GetParam();
    const PocoInstall p = installPocoMail(machine, kind, {"Ann", "Bob Smith"});
    // The users folder's plain file is listed too, but it is no user.
    ASSERT_EQ(everything(kind).identities.count, 4);
    const auto files = backupThroughProgram("pocomail", "C:\\CLI");
    ASSERT_EQ(files.size(), 1u);
    const std::string file = files.at(kManifestKeys.at(kind));

    const StoredFiles s = stored(file);
    Names expected = mainNames();
    expected.merge(userNames("users/Ann/"));
    expected.merge(userNames("users/Bob Smith/"));
    expected.insert("infobak.ini");
    EXPECT_EQ(s.names(), expected);
    EXPECT_TRUE(s.folders.count("Address/Old Lists/"));
    EXPECT_EQ(s.at("users/Ann/Mail/Inbox.mbx"),
              machine.readFile(p.folder + "\\users\\Ann\\Mail\\Inbox.mbx"));

    const std::string& manifest = s.at("infobak.ini");
    EXPECT_EQ(iniKeys(manifest, "Identities"),
              (std::vector<std::string>{"Item1", "Item2", "Item3"}));
    EXPECT_EQ(iniValue(manifest, "Identities", "Item1"), "Default User");
    EXPECT_EQ(iniValue(manifest, "Identities", "Item3"), "Bob Smith");
    // Sub-folders in search order, each once however many mailboxes it holds.
    const std::string& list = s.at("directory.ini");
    EXPECT_EQ(iniLines(list, "Directory"),
              (std::vector<std::string>{"Dir1=Work", "Dir2=Work\\2005"}));

    // Another machine: the same version in another folder, nobody's users yet.
    FakeMachine target("zoe");
    const PocoInstall t = installPocoMail(target, kind, {}, "C:\\Mail Programs\\Poco");
    moveBackup(file, target);
    Choice c = contents(file, kind);
    ASSERT_EQ(c.identities.count, 3);
    EXPECT_FALSE(jobs::RunRestore(file, kind, c.identities, c.items)) << errorText();
    EXPECT_EQ(errorText(), "");
    Names restored = mainFiles();
    restored.merge(userNames("users/Ann/"));
    restored.merge(userNames("users/Bob Smith/"));
    EXPECT_EQ(filesBelow(t.folder), restored);
    EXPECT_EQ(target.readFile(t.folder + "\\users\\Ann\\Mail\\Inbox.mbx"),
              readOn(machine, p.folder + "\\users\\Ann\\Mail\\Inbox.mbx"));
    EXPECT_EQ(target.readFile(t.folder + "\\Mail\\Work\\2005\\Old.dat"),
              readOn(machine, p.folder + "\\Mail\\Work\\2005\\Old.dat"));
    // The restored settings point at this machine's users folder.
    const platform::IniFile settings(t.folder + "\\poco.ini");
    EXPECT_EQ(settings.readString("Program", "UsersPath", ""), t.folder + "\\users\\");
    EXPECT_EQ(settings.readString("Program", "MailPath", ""), "Mail\\");

    // Into a folder: the stored layout, the users below "users".
    c.identities[1].checked = false;  // Ann stays out
    EXPECT_FALSE(jobs::RunRestoreToFolder(file, "C:\\Restored\\", kind, c.identities, c.items))
        << errorText();
    Names inFolder = mainFiles();
    inFolder.merge(userNames("users/Bob Smith/"));
    EXPECT_EQ(filesBelow("C:\\Restored"), inFolder);
    EXPECT_TRUE(fs::is_directory(target.host("C:\\Restored\\Address\\Old Lists")));
}

INSTANTIATE_TEST_SUITE_P(Versions, PocoMailVersions,
                         ::testing::Values(kind::PocoMail2, kind::PocoMail3, kind::PocoMail2PE));

TEST_F(PocoMailTest, FurtherUserAloneComesFromTheMainUsersUsersFolder) {
    // The users live outside the PocoMail folder, where the main user's settings
    // say; only the second further user is chosen.
    const PocoInstall p = installPocoMail(machine, kind::PocoMail3, {});
    const std::string users = "C:\\Poco Users";
    machine.writeFile(p.folder + "\\poco.ini", pocoIniText(users));
    for (const std::string name : {"Ann", "Bob"}) {
        machine.writeFile(users + "\\" + name + "\\poco.ini", pocoIniText(users));
        machine.writeFile(users + "\\" + name + "\\accounts.ini", name + "'s accounts");
    }
    Choice c;
    c.identities = selection({{"Default User", false}, {"Ann", false}, {"Bob", true}});
    c.items = allItems(kind::PocoMail3);
    ASSERT_FALSE(backup(kind::PocoMail3, c)) << errorText();
    const StoredFiles s = stored(kBackupFile);
    EXPECT_EQ(s.names(), (Names{"infobak.ini", "users/Bob/poco.ini", "users/Bob/accounts.ini"}));
    EXPECT_EQ(s.at("users/Bob/accounts.ini"), "Bob's accounts");
    EXPECT_EQ(iniValue(s.at("infobak.ini"), "Identities", "Item1"), "Bob");

    // A backup without the main user restores nobody as the main user: Bob goes to
    // this machine's users folder, the main settings stay as they are.
    FakeMachine target("zoe");
    const PocoInstall t = installPocoMail(target, kind::PocoMail3, {});
    const std::string mainSettings = target.readFile(t.folder + "\\poco.ini");
    moveBackup(kBackupFile, target);
    const Choice r = contents(kBackupFile, kind::PocoMail3);
    EXPECT_FALSE(jobs::RunRestore(kBackupFile, kind::PocoMail3, r.identities, r.items))
        << errorText();
    EXPECT_EQ(target.readFile(t.folder + "\\users\\Bob\\accounts.ini"), "Bob's accounts");
    EXPECT_EQ(target.readFile(t.folder + "\\poco.ini"), mainSettings);
}

TEST_F(PocoMailTest, FolderValuesWithoutTrailingBackslashKeepTheirLastLetter) {
    const PocoInstall p = installPocoMail(machine, kind::PocoMail2, {});
    machine.writeFile(p.folder + "\\poco.ini",
                      "[Program]\r\nMailPath=Mail\r\nAddressPath=Address\r\nSigPath=Signatures\r\n"
                      "UsersPath=" +
                          p.folder + "\\users\r\n[Mail]\r\nAttachPath=Attach\r\n");
    ASSERT_FALSE(backup(kind::PocoMail2, everything(kind::PocoMail2))) << errorText();
    const StoredFiles s = stored(kBackupFile);
    EXPECT_TRUE(s.has("Mail/Inbox.mbx"));
    EXPECT_TRUE(s.has("Address/Address.dat"));
    EXPECT_TRUE(s.has("Signatures/Default.sig"));
    EXPECT_TRUE(s.has("Attach/read me.txt"));
    EXPECT_TRUE(s.has("Work/2005/Old.mbx"));
    // Folders the settings do not name (no scripts, no templates) are left out
    // quietly, not taken as the whole PocoMail folder.
    EXPECT_FALSE(s.has("Scripts/Hello.pms"));
    EXPECT_FALSE(s.has("Templates/Reply.tpl"));
    EXPECT_EQ(errorText(), "");
}

TEST_F(PocoMailTest, MissingFoldersFailTheBackupWithoutTouchingADrivesRoot) {
    // No PocoMail folder registered: "\poco.ini" would be the root of the drive.
    machine.writeFile("C:\\poco.ini", pocoIniText("C:\\users"));
    Choice c;
    c.identities = selection({{"Default User", true}});
    c.items = allItems(kind::PocoMail2);
    EXPECT_TRUE(backup(kind::PocoMail2, c));
    EXPECT_NE(errorText().find("HKEY_CURRENT_USER\\Software\\Poco\\Mail"), std::string::npos)
        << errorText();
    EXPECT_FALSE(fs::exists(machine.host(kBackupFile)));

    // The main user's settings name no users folder: further users cannot be found.
    const PocoInstall p = installPocoMail(machine, kind::PocoMail2, {"Ann"});
    machine.writeFile(p.folder + "\\poco.ini", "[Program]\r\nMailPath=Mail\\\r\n");
    EXPECT_TRUE(backup(kind::PocoMail2, everything(kind::PocoMail2)));
    EXPECT_NE(errorText().find("UsersPath"), std::string::npos) << errorText();
    EXPECT_FALSE(fs::exists(machine.host(kBackupFile)));
}

TEST_F(PocoMailTest, HostileBackupIsRestoredWithinItsFolders) {
    const std::string manifest =
        "[Backup]\r\nEmailClient=PocoMail3\r\n"
        "[Identities]\r\nItem1=Default User\r\nItem2=..\\..\\evil\r\nItem3=Ann\r\n"
        "[Items]\r\nItem1=Accounts Settings\r\nItem2=Mail Folders\r\nItem3=Address Book\r\n";
    FakeMachine target("zoe");
    const PocoInstall t = installPocoMail(target, kind::PocoMail3, {});
    prepare(target);
    writeBackup(target.host(kBackupFile),
                {{"infobak.ini", manifest},
                 {"poco.ini",
                  "[Program]\r\nMailPath=Mail\\\r\nAddressPath=..\\..\\evil\\\r\n"
                  "UsersPath=C:\\Elsewhere\\users\\\r\n"},
                 {"accounts.ini", "main accounts"},
                 {"Mail/Inbox.mbx", "main inbox"},
                 {"directory.ini", "[Directory]\r\nDir1=Work\r\nDir2=..\\..\\evil\r\n"},
                 {"Work/Project.mbx", "work mail"},
                 {"users/Ann/poco.ini", "[Program]\r\nMailPath=C:\\evil\\\r\n"},
                 {"users/Ann/accounts.ini", "ann's accounts"}});
    const Choice c = contents(kBackupFile, kind::PocoMail3);
    ASSERT_EQ(c.identities.count, 3);
    EXPECT_TRUE(jobs::RunRestore(kBackupFile, kind::PocoMail3, c.identities, c.items));
    const std::string errors = errorText();
    EXPECT_NE(errors.find("..\\..\\evil\""), std::string::npos) << errors;  // the user name
    EXPECT_NE(errors.find("AddressPath"), std::string::npos) << errors;
    EXPECT_NE(errors.find("MailPath"), std::string::npos) << errors;  // Ann's C:\evil
    EXPECT_NE(errors.find("\"..\\..\\evil\" listed"), std::string::npos) << errors;

    EXPECT_EQ(target.readFile(t.folder + "\\accounts.ini"), "main accounts");
    EXPECT_EQ(target.readFile(t.folder + "\\Mail\\Inbox.mbx"), "main inbox");
    EXPECT_EQ(target.readFile(t.folder + "\\Mail\\Work\\Project.mbx"), "work mail");
    EXPECT_EQ(target.readFile(t.folder + "\\users\\Ann\\accounts.ini"), "ann's accounts");
    EXPECT_FALSE(anyNameContains(target.prefix(), "evil"));
    // The users folder the backup named is not on this machine: this one's is used.
    EXPECT_EQ(platform::IniFile(t.folder + "\\poco.ini").readString("Program", "UsersPath", ""),
              t.folder + "\\users\\");
}

TEST_F(PocoMailTest, ProgramBacksUpEveryInstalledVersionAndRestoresOne) {
    installPocoMail(machine, kind::PocoMail2, {"Ann"});
    const PocoInstall p3 = installPocoMail(machine, kind::PocoMail3, {"Bob"});
    // One backup file per version, each with that version's users only.
    const auto files = backupThroughProgram("pocomail", "C:\\CLI");
    ASSERT_EQ(files.size(), 2u);
    for (const auto& [key, file] : files) {
        Names expected = mainNames();
        expected.merge(userNames(key == "PocoMail3" ? "users/Bob/" : "users/Ann/"));
        expected.insert("infobak.ini");
        EXPECT_EQ(stored(file).names(), expected) << key;
    }
    ASSERT_TRUE(files.count("PocoMail2") && files.count("PocoMail3"));
    const std::string bobInbox = machine.readFile(p3.folder + "\\users\\Bob\\Mail\\Inbox.mbx");

    FakeMachine target("zoe");
    const PocoInstall t = installPocoMail(target, kind::PocoMail3, {}, "C:\\Apps\\Poco");
    moveBackup(files.at("PocoMail3"), target);
    const ProgramRun restore =
        runQuillbox(target, {"/r", "/f:" + files.at("PocoMail3"), "/p:C:\\Fallback"});
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    EXPECT_EQ(target.readFile(t.folder + "\\users\\Bob\\Mail\\Inbox.mbx"), bobInbox);
    EXPECT_TRUE(exists(t.folder + "\\Mail\\Work\\2005\\Old.mbx"));
    EXPECT_EQ(platform::IniFile(t.folder + "\\poco.ini").readString("Program", "UsersPath", ""),
              t.folder + "\\users\\");
}

}  // namespace
}  // namespace qb::test
