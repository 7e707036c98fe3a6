#include <gtest/gtest.h>

#include "adapter_test_support.h"

using namespace qb;
using namespace qb::test;

namespace {

const char* kBackup = "C:\\Backups\\Pegasus backup.ebk";
const char* kPegasusKey = "\\SOFTWARE\\Classes\\software\\pegasus mail";

// The stored names of one user's mail folder as the fixture lays it out.
std::set<std::string> mailFolderNames(const std::string& user, bool signature = true) {
    std::set<std::string> out;
    for (const char* f : {"HIERARCH.PM", "FOLDER1.PMM", "FOLDER1.PMI", "PMAIL.INI", "ADDRBOOK.PMR",
                          "Sent mail copy.CNM", ".lock", "Old Mail\\1999\\FOLDER2.PMM"})
        out.insert(user + "\\" + f);
    if (signature) out.insert(user + "\\" + user + ".PML");
    return out;
}

class Pegasus : public AdapterTest {
  protected:
    bool backup(const Selection& identities) {
        return backupOn(source, kBackup, kind::PegasusMail, identities,
                        allItems(kind::PegasusMail));
    }
};

TEST_F(Pegasus, BackupOfAMultiUserInstallation) {
    use(source);
    installPegasus(source, {"ADMIN", "ANN SMITH", "GUEST"});
    ASSERT_EQ(ListIdentities(kind::PegasusMail),
              (std::vector<std::string>{"ADMIN", "ANN SMITH", "GUEST"}));
    ASSERT_FALSE(backup(selection({{"ADMIN", true}, {"ANN SMITH", true}, {"GUEST", false}})))
        << errorText();

    const StoredFiles c = stored(kBackup);
    ASSERT_TRUE(c.ok) << c.error;
    std::set<std::string> expected{"user.reg", "Pmail.usr", "infobak.ini"};
    for (const auto& part : {mailFolderNames("ADMIN"), mailFolderNames("ANN SMITH")})
        expected.insert(part.begin(), part.end());
    EXPECT_EQ(c.names('\\'), expected);
    EXPECT_TRUE(c.has("ANN SMITH\\Old Mail\\1999\\"));
    EXPECT_NE(c.at("Pmail.usr").find("Y GUEST;"), std::string::npos);
    EXPECT_EQ(c.at("user.reg"),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\software\\pegasus "
              "mail\\Username]\r\n\"\"=\"multi-user mode\"\r\n");
    EXPECT_EQ(iniSection(c.at("infobak.ini"), "Backup"),
              (std::map<std::string, std::string>{{"EmailClient", "PegasusMail"}}));
    EXPECT_EQ(iniSection(c.at("infobak.ini"), "Identities"),
              (std::map<std::string, std::string>{{"Item1", "ADMIN"}, {"Item2", "ANN SMITH"}}));
    EXPECT_EQ(iniSection(c.at("infobak.ini"), "Items").size(), 4u);
}

TEST_F(Pegasus, BackupInSingleUserModeTakesTheMailFolder) {
    use(source);
    const PegasusInstall pm = installPegasus(source);
    ASSERT_FALSE(backup(selection({{"Default User", true}}))) << errorText();
    std::set<std::string> expected = mailFolderNames("Default User", false);
    expected.insert({"user.reg", "infobak.ini"});
    EXPECT_EQ(stored(kBackup).names('\\'), expected);

    // A user list left over from a multi-user setup does not change where the one
    // user's mail is.
    source.writeFile(pm.baseFolder + "\\PMAIL.USR", "Y ADMIN;Admin\r\n");
    ASSERT_FALSE(backup(selection({{"Default User", true}}))) << errorText();
    expected.insert("Pmail.usr");
    EXPECT_EQ(stored(kBackup).names('\\'), expected);
}

TEST_F(Pegasus, BackupRefusesUserNamesThatLeaveTheBaseFolder) {
    use(source);
    const PegasusInstall pm = installPegasus(source, {"ADMIN"});
    source.writeFile(pm.baseFolder + "\\PMAIL.USR",
                     "Y ADMIN;Admin\r\nY ..\\PROGRAMS;Programs\r\nY NOBODY;No folder\r\n");
    source.writeFile(pm.baseFolder + "\\PROGRAMS\\secret.txt", "not mail");
    ASSERT_EQ(ListIdentities(kind::PegasusMail),
              (std::vector<std::string>{"ADMIN", "..\\PROGRAMS", "NOBODY"}));
    source.writeFile(kBackup, "the previous backup");
    EXPECT_TRUE(backup(selection({{"ADMIN", true}, {"..\\PROGRAMS", true}, {"NOBODY", true}})));
    EXPECT_NE(errorText().find("\"..\\PROGRAMS\" was not backed up"), std::string::npos)
        << errorText();
    EXPECT_NE(errorText().find("C:\\PMAIL\\NOBODY of the Pegasus Mail user \"NOBODY\" does not"),
              std::string::npos)
        << errorText();
    // The failed backup kept the older file; ADMIN alone backs up.
    EXPECT_EQ(source.readFile(kBackup), "the previous backup");
    EXPECT_FALSE(backup(selection({{"ADMIN", true}}))) << errorText();
    std::set<std::string> expected = mailFolderNames("ADMIN");
    expected.insert({"user.reg", "Pmail.usr", "infobak.ini"});
    EXPECT_EQ(stored(kBackup).names('\\'), expected);

    // When the backup file cannot be written either, both are told.
    use(source);
    EXPECT_TRUE(jobs::RunBackup("C:\\No Such Folder\\x.ebk", kind::PegasusMail,
                                selection({{"..\\PROGRAMS", true}}), allItems(kind::PegasusMail)));
    EXPECT_NE(errorText().find("Access denied!"), std::string::npos) << errorText();
    EXPECT_NE(errorText().find("\"..\\PROGRAMS\" was not backed up"), std::string::npos)
        << errorText();
}

TEST_F(Pegasus, BackupWithoutMailboxPathFailsAndKeepsTheOldBackup) {
    use(source);
    installPegasus(source);
    test::setString(RootKey::LocalMachine, std::string(kPegasusKey) + "\\MailBox", "", "");
    source.writeFile("C:\\Mail\\FOLDER1.PMM", "at the root of the drive");
    source.writeFile(kBackup, "the previous backup");
    EXPECT_TRUE(backup(selection({{"Default User", true}})));
    EXPECT_NE(errorText().find("mailbox path"), std::string::npos) << errorText();
    EXPECT_NE(errorText().find("is not set"), std::string::npos) << errorText();
    EXPECT_EQ(source.readFile(kBackup), "the previous backup");

    // A mailbox path that is no full path is no better.
    test::setString(RootKey::LocalMachine, std::string(kPegasusKey) + "\\MailBox", "", "MAIL");
    EXPECT_TRUE(backup(selection({{"Default User", true}})));
    EXPECT_NE(errorText().find("\"MAIL\" is no full path"), std::string::npos) << errorText();
    EXPECT_EQ(source.readFile(kBackup), "the previous backup");
}

// ---- restores ------------------------------------------------------------------

const char* kTargetBase = "C:\\Mail Server\\PMAIL";

class PegasusRestore : public Pegasus {
  protected:
    // Installs Pegasus Mail with the users on Ann's machine, backs it up with the
    // quillbox program (every user) and carries the backup file to Bob's machine.
    void backupAndCarry(const std::vector<std::string>& users) {
        use(source);
        source_ = installPegasus(source, users);
        made = carriedBackup("pegasus", "PegasusMailBackup ", kBackup);
        ASSERT_FALSE(made.empty());
    }

    Selection offeredIdentities() {
        use(target);
        return contents(kBackup, kind::PegasusMail).identities;
    }

    // Every file of the user's mail folder on Ann's machine is in `to` on Bob's,
    // sub-folders kept.
    void expectMailFolder(const std::string& from, const std::string& to, bool signature,
                          const std::string& user) {
        std::vector<std::string> files = {
            "HIERARCH.PM",  "FOLDER1.PMM",        "FOLDER1.PMI", "PMAIL.INI",
            "ADDRBOOK.PMR", "Sent mail copy.CNM", ".lock",       "Old Mail\\1999\\FOLDER2.PMM"};
        if (signature) files.push_back(user + ".PML");
        for (const std::string& f : files) {
            const std::string original = readOn(source, from + "\\" + f);
            EXPECT_EQ(readOn(target, to + "\\" + f), original) << f;
        }
        EXPECT_FALSE(existsOn(target, to + "\\FOLDER2.PMM"));
    }

    PegasusInstall source_;
    std::string made;  // the backup file on Ann's machine
};

// The whole way: a multi-user installation backed up with the quillbox program,
// the stored names checked, the file restored with the program on Bob's machine,
// whose Pegasus Mail is a single-user one in another folder until then.
TEST_F(PegasusRestore, ThroughTheCommandLineIntoAnotherMachine) {
    backupAndCarry({"ADMIN", "ANN SMITH"});
    std::set<std::string> expected{"user.reg", "Pmail.usr", "infobak.ini"};
    for (const auto& part : {mailFolderNames("ADMIN"), mailFolderNames("ANN SMITH")})
        expected.insert(part.begin(), part.end());
    EXPECT_EQ(stored(source, made).names('\\'), expected);

    use(target);
    installPegasus(target, {}, kTargetBase);
    ASSERT_EQ(offeredIdentities().count, 2);
    ASSERT_TRUE(restoreThroughProgram(target, kBackup));
    for (const char* user : {"ADMIN", "ANN SMITH"})
        expectMailFolder(source_.baseFolder + "\\" + user, std::string(kTargetBase) + "\\" + user,
                         true, user);
    EXPECT_EQ(readOn(target, std::string(kTargetBase) + "\\Pmail.usr"),
              readOn(source, source_.baseFolder + "\\PMAIL.USR"));
    use(target);
    EXPECT_EQ(registryText(RootKey::LocalMachine, std::string(kPegasusKey) + "\\Username", ""),
              "multi-user mode");
    EXPECT_EQ(ListIdentities(kind::PegasusMail), (std::vector<std::string>{"ADMIN", "ANN SMITH"}));
}

TEST_F(PegasusRestore, SingleUserBackIntoTheMailFolder) {
    backupAndCarry({});
    use(target);
    installPegasus(target, {}, kTargetBase);
    target.writeFile(std::string(kTargetBase) + "\\MAIL\\FOLDER1.PMM", "to be replaced");
    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::PegasusMail, offeredIdentities(),
                                  allItems(kind::PegasusMail)))
        << errorText();
    expectMailFolder(source_.mailboxPath, std::string(kTargetBase) + "\\Mail", false, "");
    EXPECT_FALSE(existsOn(target, std::string(kTargetBase) + "\\Default User"));
    EXPECT_EQ(registryText(RootKey::LocalMachine, std::string(kPegasusKey) + "\\Username", ""),
              "single-user mode");
}

TEST_F(PegasusRestore, IntoAFolder) {
    backupAndCarry({"ADMIN", "ANN SMITH"});
    const std::string t = "C:\\Restored Pegasus\\";
    ASSERT_FALSE(jobs::RunRestoreToFolder(kBackup, t, kind::PegasusMail, offeredIdentities(),
                                          allItems(kind::PegasusMail)))
        << errorText();
    for (const char* user : {"ADMIN", "ANN SMITH"})
        expectMailFolder(source_.baseFolder + "\\" + user, t + user, true, user);
    EXPECT_TRUE(existsOn(target, t + "Pmail.usr"));
    EXPECT_NE(registryEditorText(readOn(target, t + "user.reg")).find("@=\"multi-user mode\""),
              std::string::npos);
    EXPECT_FALSE(keyExists(RootKey::LocalMachine, kPegasusKey));
}

TEST_F(PegasusRestore, WithoutMailboxPathTheMailGoesToAFolderItNames) {
    backupAndCarry({});
    use(target);
    ASSERT_TRUE(jobs::RunRestore(kBackup, kind::PegasusMail, offeredIdentities(),
                                 allItems(kind::PegasusMail)));
    const std::string fallback =
        platform::excludeTrailingBackslash(platform::tempFolder()) + "\\PegasusMail";
    EXPECT_NE(errorText().find("restored into " + fallback), std::string::npos) << errorText();
    expectMailFolder(source_.mailboxPath, fallback + "\\Mail", false, "");
}

TEST_F(PegasusRestore, AHostileBackupRestoresOnlyWhatIsSafe) {
    use(target);
    installPegasus(target, {"ADMIN"}, kTargetBase);
    writeBackup(
        target.host(kBackup),
        {{"infobak.ini",
          "[Backup]\r\nEmailClient=PegasusMail\r\n[Identities]\r\nItem1=ADMIN\r\n"
          "Item2=..\\PROGRAMS\r\n[Items]\r\nItem1=Accounts Settings\r\n"},
         {"ADMIN/FOLDER1.PMM", "mail"},
         {"ADMIN/../PROGRAMS/WINPM-32.EXE", "replaced program"},
         {"../PROGRAMS/WINPM-32.EXE", "replaced program"},
         {"user.reg",
          "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\software\\pegasus "
          "mail\\Username]\r\n\"\"=\"multi-user mode\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\"
          "Microsoft\\Windows\\CurrentVersion\\Run]\r\n\"evil\"=\"C:\\evil.exe\"\r\n"}});
    EXPECT_TRUE(jobs::RunRestore(kBackup, kind::PegasusMail,
                                 selection({{"ADMIN", true}, {"..\\PROGRAMS", true}}),
                                 allItems(kind::PegasusMail)));
    const std::string error = errorText();
    EXPECT_NE(error.find("\"..\\PROGRAMS\" was not restored"), std::string::npos) << error;
    EXPECT_NE(error.find("CurrentVersion\\Run"), std::string::npos) << error;
    target.activate();
    EXPECT_EQ(target.readFile(std::string(kTargetBase) + "\\ADMIN\\FOLDER1.PMM"), "mail");
    EXPECT_NE(target.readFile(std::string(kTargetBase) + "\\PROGRAMS\\WINPM-32.EXE"),
              "replaced program");
    EXPECT_FALSE(
        keyExists(RootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"));
    EXPECT_EQ(registryText(RootKey::LocalMachine, std::string(kPegasusKey) + "\\Username", ""),
              "multi-user mode");
}

// A user mode file left in the staging folder by an earlier job is not this
// backup's: a backup without one leaves the mode as it is.
TEST_F(PegasusRestore, AUserModeFileOfAnEarlierJobIsNotImported) {
    use(target);
    installPegasus(target, {}, kTargetBase);
    writeBackup(target.host(kBackup),
                {{"infobak.ini",
                  "[Backup]\r\nEmailClient=PegasusMail\r\n[Identities]\r\nItem1=Default User\r\n"},
                 {"Default User/FOLDER1.PMM", "mail"}});
    target.writeFile(jobs::StagingPath("user.reg"),
                     "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\software\\pegasus "
                     "mail\\Username]\r\n\"\"=\"multi-user mode\"\r\n");
    EXPECT_FALSE(jobs::RunRestore(kBackup, kind::PegasusMail, offeredIdentities(),
                                  allItems(kind::PegasusMail)))
        << errorText();
    EXPECT_EQ(readOn(target, std::string(kTargetBase) + "\\Mail\\FOLDER1.PMM"), "mail");
    EXPECT_EQ(registryText(RootKey::LocalMachine, std::string(kPegasusKey) + "\\Username", ""),
              "single-user mode");
}

}  // namespace
