#include <gtest/gtest.h>

#include "backup_file_support.h"
#include "jobs/restore_job.h"

using namespace qb;
using namespace qb::test;
using namespace qb::test::ebk;
using platform::RootKey;

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
        use(source);
        platform::forceDirectories("C:\\Backups");
        return jobs::RunBackup(kBackup, kind::PegasusMail, identities, allItems(kind::PegasusMail));
    }

    Contents stored() {
        use(source);
        return readBackup(source.host(kBackup));
    }

    FakeMachine source{"ann"};
    FakeMachine target{"bob"};
};

TEST_F(Pegasus, BackupOfAMultiUserInstallation) {
    use(source);
    installPegasus(source, {"ADMIN", "ANN SMITH", "GUEST"});
    ASSERT_EQ(ListIdentities(kind::PegasusMail),
              (std::vector<std::string>{"ADMIN", "ANN SMITH", "GUEST"}));
    ASSERT_FALSE(backup(selection({{"ADMIN", true}, {"ANN SMITH", true}, {"GUEST", false}})))
        << errorText();

    const Contents c = stored();
    ASSERT_TRUE(c.ok) << c.error;
    std::set<std::string> expected{"user.reg", "Pmail.usr", "infobak.ini"};
    for (const auto& part : {mailFolderNames("ADMIN"), mailFolderNames("ANN SMITH")})
        expected.insert(part.begin(), part.end());
    EXPECT_EQ(c.files(), expected);
    EXPECT_TRUE(c.has("ANN SMITH\\Old Mail\\1999\\"));
    EXPECT_NE(c.data("Pmail.usr").find("Y GUEST;"), std::string::npos);
    EXPECT_EQ(c.data("user.reg"),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\software\\pegasus "
              "mail\\Username]\r\n\"\"=\"multi-user mode\"\r\n");
    EXPECT_EQ(manifestSection(c.data("infobak.ini"), "Backup"),
              (std::map<std::string, std::string>{{"EmailClient", "PegasusMail"}}));
    EXPECT_EQ(manifestSection(c.data("infobak.ini"), "Identities"),
              (std::map<std::string, std::string>{{"Item1", "ADMIN"}, {"Item2", "ANN SMITH"}}));
    EXPECT_EQ(manifestSection(c.data("infobak.ini"), "Items").size(), 4u);
}

TEST_F(Pegasus, BackupInSingleUserModeTakesTheMailFolder) {
    use(source);
    const PegasusInstall pm = installPegasus(source);
    ASSERT_FALSE(backup(selection({{"Default User", true}}))) << errorText();
    std::set<std::string> expected = mailFolderNames("Default User", false);
    expected.insert({"user.reg", "infobak.ini"});
    EXPECT_EQ(stored().files(), expected);

    // A user list left over from a multi-user setup does not change where the one
    // user's mail is.
    source.writeFile(pm.baseFolder + "\\PMAIL.USR", "Y ADMIN;Admin\r\n");
    ASSERT_FALSE(backup(selection({{"Default User", true}}))) << errorText();
    expected.insert("Pmail.usr");
    EXPECT_EQ(stored().files(), expected);
}

TEST_F(Pegasus, BackupRefusesUserNamesThatLeaveTheBaseFolder) {
    use(source);
    const PegasusInstall pm = installPegasus(source, {"ADMIN"});
    source.writeFile(pm.baseFolder + "\\PMAIL.USR",
                     "Y ADMIN;Admin\r\nY ..\\PROGRAMS;Programs\r\nY NOBODY;No folder\r\n");
    source.writeFile(pm.baseFolder + "\\PROGRAMS\\secret.txt", "not mail");
    ASSERT_EQ(ListIdentities(kind::PegasusMail),
              (std::vector<std::string>{"ADMIN", "..\\PROGRAMS", "NOBODY"}));
    EXPECT_TRUE(backup(selection({{"ADMIN", true}, {"..\\PROGRAMS", true}, {"NOBODY", true}})));
    EXPECT_NE(errorText().find("\"..\\PROGRAMS\" was not backed up"), std::string::npos)
        << errorText();
    EXPECT_NE(errorText().find("C:\\PMAIL\\NOBODY of the Pegasus Mail user \"NOBODY\" does not"),
              std::string::npos)
        << errorText();
    std::set<std::string> expected = mailFolderNames("ADMIN");
    expected.insert({"user.reg", "Pmail.usr", "infobak.ini"});
    EXPECT_EQ(stored().files(), expected);

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
    void backupAndCarry(const std::vector<std::string>& users) {
        use(source);
        source_ = installPegasus(source, users);
        Selection ids;
        for (const std::string& id : ListIdentities(kind::PegasusMail))
            ids.add(id, true);
        ASSERT_FALSE(backup(ids)) << errorText();
        carry(source, kBackup, target, kBackup);
    }

    Selection offeredIdentities() {
        use(target);
        EXPECT_EQ(jobs::ReadBackupClient(kBackup), kind::PegasusMail);
        std::vector<bool> present;
        uint8_t count = 0;
        std::vector<std::string> identities, items;
        bool mismatch = true;
        jobs::ListBackupContents(kind::PegasusMail, kBackup, present, count, identities, items,
                                 mismatch);
        EXPECT_FALSE(mismatch);
        Selection s;
        for (const std::string& id : identities)
            s.add(id, true);
        return s;
    }

    // Every file of the user's mail folder on the source is in `to` on the target.
    void expectMailFolder(const std::string& from, const std::string& to, bool signature,
                          const std::string& user) {
        std::vector<std::string> files = {
            "HIERARCH.PM",  "FOLDER1.PMM",        "FOLDER1.PMI", "PMAIL.INI",
            "ADDRBOOK.PMR", "Sent mail copy.CNM", ".lock",       "Old Mail\\1999\\FOLDER2.PMM"};
        if (signature) files.push_back(user + ".PML");
        for (const std::string& f : files) {
            source.activate();
            const std::string original = source.readFile(from + "\\" + f);
            target.activate();
            ASSERT_TRUE(platform::fileExists(to + "\\" + f)) << to + "\\" + f;
            EXPECT_EQ(target.readFile(to + "\\" + f), original) << f;
        }
        target.activate();
        EXPECT_FALSE(platform::fileExists(to + "\\FOLDER2.PMM"));
    }

    PegasusInstall source_;
};

TEST_F(PegasusRestore, MultiUserIntoAnotherMachine) {
    backupAndCarry({"ADMIN", "ANN SMITH"});
    use(target);
    installPegasus(target, {}, kTargetBase);  // single-user mode until the restore
    const Selection ids = offeredIdentities();
    ASSERT_EQ(ids.count, 2);
    use(target);
    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::PegasusMail, ids, allItems(kind::PegasusMail)))
        << errorText();
    for (const char* user : {"ADMIN", "ANN SMITH"})
        expectMailFolder(source_.baseFolder + "\\" + user, std::string(kTargetBase) + "\\" + user,
                         true, user);
    source.activate();
    const std::string users = source.readFile(source_.baseFolder + "\\PMAIL.USR");
    target.activate();
    EXPECT_EQ(target.readFile(std::string(kTargetBase) + "\\Pmail.usr"), users);
    EXPECT_EQ(ebk::readText(RootKey::LocalMachine, std::string(kPegasusKey) + "\\Username", ""),
              "multi-user mode");
    EXPECT_EQ(ListIdentities(kind::PegasusMail), (std::vector<std::string>{"ADMIN", "ANN SMITH"}));
}

TEST_F(PegasusRestore, SingleUserBackIntoTheMailFolder) {
    backupAndCarry({});
    use(target);
    installPegasus(target, {}, kTargetBase);
    target.writeFile(std::string(kTargetBase) + "\\MAIL\\FOLDER1.PMM", "to be replaced");
    use(target);
    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::PegasusMail, offeredIdentities(),
                                  allItems(kind::PegasusMail)))
        << errorText();
    expectMailFolder(source_.mailboxPath, std::string(kTargetBase) + "\\Mail", false, "");
    target.activate();
    EXPECT_FALSE(platform::directoryExists(std::string(kTargetBase) + "\\Default User"));
    EXPECT_EQ(ebk::readText(RootKey::LocalMachine, std::string(kPegasusKey) + "\\Username", ""),
              "single-user mode");
}

TEST_F(PegasusRestore, IntoAFolder) {
    backupAndCarry({"ADMIN", "ANN SMITH"});
    const std::string t = "C:\\Restored Pegasus\\";
    use(target);
    ASSERT_FALSE(jobs::RunRestoreToFolder(kBackup, t, kind::PegasusMail, offeredIdentities(),
                                          allItems(kind::PegasusMail)))
        << errorText();
    for (const char* user : {"ADMIN", "ANN SMITH"})
        expectMailFolder(source_.baseFolder + "\\" + user, t + user, true, user);
    target.activate();
    EXPECT_TRUE(platform::fileExists(t + "Pmail.usr"));
    EXPECT_NE(target.readFile(t + "user.reg").find("\"\"=\"multi-user mode\""), std::string::npos);
    EXPECT_FALSE(ebk::keyExists(RootKey::LocalMachine, kPegasusKey));
}

TEST_F(PegasusRestore, WithoutMailboxPathTheMailGoesToAFolderItNames) {
    backupAndCarry({});
    use(target);
    ASSERT_TRUE(jobs::RunRestore(kBackup, kind::PegasusMail, offeredIdentities(),
                                 allItems(kind::PegasusMail)));
    const std::string fallback = jobs::StagingPath("PegasusMail");
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
         {"ADMIN\\FOLDER1.PMM", "mail"},
         {"ADMIN\\..\\PROGRAMS\\WINPM-32.EXE", "replaced program"},
         {"..\\PROGRAMS\\WINPM-32.EXE", "replaced program"},
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
    EXPECT_FALSE(ebk::keyExists(RootKey::LocalMachine,
                                "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"));
    EXPECT_EQ(ebk::readText(RootKey::LocalMachine, std::string(kPegasusKey) + "\\Username", ""),
              "multi-user mode");
}

TEST_F(PegasusRestore, ThroughTheCommandLine) {
    if (!std::filesystem::exists(kQuillbox)) GTEST_SKIP() << "no " << kQuillbox;
    use(source);
    source_ = installPegasus(source, {"ADMIN", "ANN SMITH"});
    const ProgramRun b = runQuillbox(source, {"/b", "/c:pegasus", "/p:C:\\Backups\\", "-"});
    EXPECT_EQ(b.status, 0) << b.err;
    source.activate();
    const std::vector<std::string> files = backupFilesIn("C:\\Backups");
    ASSERT_EQ(files.size(), 1u) << b.err;
    EXPECT_TRUE(platform::extractFileName(files[0]).starts_with("PegasusMailBackup ")) << files[0];
    const Contents c = readBackup(source.host(files[0]));
    ASSERT_TRUE(c.ok) << c.error;
    std::set<std::string> expected{"user.reg", "Pmail.usr", "infobak.ini"};
    for (const auto& part : {mailFolderNames("ADMIN"), mailFolderNames("ANN SMITH")})
        expected.insert(part.begin(), part.end());
    EXPECT_EQ(c.files(), expected);

    carry(source, files[0], target, "C:\\Incoming\\pegasus.ebk");
    use(target);
    installPegasus(target, {}, kTargetBase);
    const ProgramRun r =
        runQuillbox(target, {"/r", "/f:C:\\Incoming\\pegasus.ebk", "/p:C:\\Restore\\"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* user : {"ADMIN", "ANN SMITH"})
        expectMailFolder(source_.baseFolder + "\\" + user, std::string(kTargetBase) + "\\" + user,
                         true, user);
    target.activate();
    EXPECT_EQ(ebk::readText(RootKey::LocalMachine, std::string(kPegasusKey) + "\\Username", ""),
              "multi-user mode");
}
}  // namespace
