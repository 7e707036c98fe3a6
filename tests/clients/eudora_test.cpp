#include "clients/eudora.h"

#include "adapter_test_support.h"

namespace qb::test {
namespace {

const std::string kBackup = "C:\\Backups\\Eudora Backup.ebk";
const std::string kFolder = "C:\\Eudora Mail";
const std::string kUserCommandLine = "\\SOFTWARE\\Qualcomm\\Eudora\\CommandLine";

Selection identities() {
    return selection({{"Default", true}});
}

Selection items(bool accounts = true, bool mail = true, bool filters = true, bool sigs = true,
                bool addressBook = true) {
    return selection({{"Accounts Settings", accounts},
                      {"Mail Folders", mail},
                      {"Filters", filters},
                      {"Signatures", sigs},
                      {"Address Book", addressBook}});
}

// The stored files of a backup of installEudora with every item chosen; a folder
// with two ".pce" files is packed once.
std::set<std::string> fullLayout() {
    return {"Attach\\report.doc",
            "Filters\\Work.flt",
            "Mail\\In.mbx",
            "Mail\\In.toc",
            "Mail\\Out.mbx",
            "Mail\\Out.toc",
            "Mail\\Trash.mbx",
            "Mail\\Trash.toc",
            "Mail\\descmap.pce",
            "Personal.fol\\.Family.toc",
            "Personal.fol\\Family.mbx",
            "Personal.fol\\descmap.pce",
            "Personal.fol\\sortmap.pce",
            "Sigs\\Alternate Sig.txt",
            "Sigs\\Standard.txt",
            "Spool\\.queue.lck",
            "Spool\\spool.tmp",
            "Stationery\\Thanks.sta",
            "Work.fol\\Client Projects.mbx",
            "Work.fol\\Client Projects.toc",
            "Work.fol\\Old.fol\\2003.mbx",
            "Work.fol\\Old.fol\\descmap.pce",
            "Work.fol\\Projects.mbx",
            "Work.fol\\Projects.toc",
            "Work.fol\\descmap.pce",
            "directory.ini",
            "eudora.ini",
            "filters.pce",
            "infobak.ini",
            "nndbase.toc",
            "nndbase.txt"};
}

class EudoraAdapter : public AdapterTest {
  protected:
    bool backup(const Selection& chosen = items()) {
        return backupOn(source, kBackup, kind::Eudora, identities(), chosen);
    }
};

TEST(EudoraCommandLine, NamesTheDataFolder) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Eudora\\Eudora.exe C:\\Eudora C:\\Eudora\\eudora.ini", "C:\\Eudora"},
        // Quoted program, folder and settings file, blanks inside.
        {"\"C:\\Program Files\\Qualcomm\\Eudora\\Eudora.exe\" \"C:\\My Mail\" "
         "\"C:\\My Mail\\eudora.ini\"",
         "C:\\My Mail"},
        // Quoted program with blanks, folder unquoted.
        {"\"C:\\Program Files\\Eudora\\Eudora.exe\" D:\\Mail D:\\Mail\\eudora.ini", "D:\\Mail"},
        // Nothing quoted, blanks in the program and in the folder.
        {"C:\\Program Files\\Eudora\\Eudora.exe C:\\Eudora Mail\\ C:\\Eudora Mail\\eudora.ini",
         "C:\\Eudora Mail"},
        // The settings file elsewhere: the folder ends at the first blank.
        {"C:\\Eudora\\Eudora.exe C:\\Data C:\\Settings\\eudora.ini", "C:\\Data"},
        {"C:\\Eudora\\Eudora.exe C:\\Data", "C:\\Data"},
        {"C:\\Eudora", "C:\\Eudora"},
        {"\"C:\\Program Files\\Eudora\\Eudora.exe\"", ""},
        {"  ", ""},
        {"", ""}};
    for (const auto& [commandLine, folder] : cases)
        EXPECT_EQ(clients::EudoraFolderFromCommandLine(commandLine), folder) << commandLine;
}

TEST_F(EudoraAdapter, OnlyTheChosenItems) {
    use(source);
    installEudora(source);
    ASSERT_FALSE(backup(items(false, false, false, false, true))) << errorText();
    const StoredFiles c = stored(source, kBackup);
    EXPECT_EQ(c.names('\\'), (Names{"infobak.ini", "nndbase.toc", "nndbase.txt"}));
    EXPECT_EQ(iniValue(c.at("infobak.ini"), "Items", "Item1"), "Address Book");
    EXPECT_EQ(iniValue(c.at("infobak.ini"), "Items", "Item2"), "<missing>");
}

// A command line that names no data folder must not make the backup pack the
// root of a drive: it fails with a clear text, and an older backup stays.
TEST_F(EudoraAdapter, BackupWithoutDataFolderFails) {
    use(source);
    source.writeFile(kBackup, "older backup");
    source.writeFile("C:\\Spool\\x.tmp", "not Eudora's");
    source.writeFile("C:\\In.mbx", "not Eudora's");
    for (const char* commandLine : {"", "C:\\Eudora.exe C:\\ C:\\eudora.ini", "Eudora.exe Mail"}) {
        setString(RootKey::ClassesRoot, "\\SOFTWARE\\Qualcomm\\Eudora\\CommandLine\\Current", "",
                  commandLine);
        EXPECT_TRUE(backup()) << commandLine;
        EXPECT_NE(errorText().find("names no data folder"), std::string::npos) << errorText();
        EXPECT_EQ(readOn(source, kBackup), "older backup");
    }
}

// Mail folder names from the backup that would leave the data folder are skipped
// and named; the others are restored.
TEST_F(EudoraAdapter, HostileFolderListStaysInside) {
    use(target);
    writeBackup(
        target.host(kBackup),
        {{"infobak.ini", "[Backup]\r\nEmailClient=Eudora\r\n[Identities]\r\nItem1=Default\r\n"},
         {"directory.ini",
          "[Directory]\r\nDir1=Work.fol\r\nDir2=..\\Outside\r\nDir3=C:\\Windows\r\n"
          "Dir4=\\Root\r\n"},
         {"Work.fol/x.mbx", "x"},
         {"Windows/y.mbx", "y"}});
    const std::string t = "C:\\Restored\\";
    EXPECT_TRUE(jobs::RunRestoreToFolder(kBackup, t, kind::Eudora, identities(), items()));
    const std::string error = errorText();
    for (const char* named : {"..\\Outside", "C:\\Windows", "\\Root"})
        EXPECT_NE(error.find(named), std::string::npos) << named << " in: " << error;
    EXPECT_EQ(readOn(target, t + "Work.fol\\x.mbx"), "x");
    EXPECT_FALSE(existsOn(target, t + "Windows"));
    EXPECT_FALSE(existsOn(target, "C:\\Outside"));
}

// ---- restore ----

// Ann's Eudora (folder with blanks, unquoted command line) backed up on her machine
// with the quillbox program; Bob's Eudora keeps its data in his profile, quotes its
// command line, and has only its settings, filters and address book index yet.
class EudoraRestore : public EudoraAdapter {
  protected:
    void SetUp() override {
        EudoraAdapter::SetUp();
        use(source);
        installEudora(source, kFolder);
        source.writeFile(kFolder + "\\In.mbx", "ann's inbox");
        source.writeFile(kFolder + "\\Work.fol\\Old.fol\\2003.mbx", "ann's 2003");
        made = carriedBackup("eudora", "EudoraBackup ", kBackup);
        ASSERT_FALSE(made.empty());

        use(target);
        bob = installEudora(target, profileFolder(target) + "\\Documents\\Eudora Mail", true);
        fs::remove_all(target.host(bob.folder));
        target.writeFile(bob.folder + "\\eudora.ini", "[Settings]\r\nRealName=Bob\r\n");
        target.writeFile(bob.folder + "\\filters.pce", "bob's filters");
        target.writeFile(bob.folder + "\\nndbase.toc", "bob's index");
    }

    std::string made;  // the backup file on Ann's machine
    EudoraInstall bob;
};

// The whole way: the stored names of the program's backup checked against the
// layout, then the program's restore into the folder Bob's command line names.
TEST_F(EudoraRestore, ThroughTheCommandLineIntoAnotherMachine) {
    const StoredFiles c = stored(source, made);
    EXPECT_EQ(c.names('\\'), fullLayout());
    EXPECT_EQ(c.at("Work.fol\\Client Projects.mbx"),
              readOn(source, kFolder + "\\Work.fol\\Client Projects.mbx"));
    // The mail folders in the order the search found them, a nested one after the
    // folder that holds it; a folder with two ".pce" files once.
    const std::string& list = c.at("directory.ini");
    EXPECT_EQ(iniValue(list, "Directory", "Dir1"), "Personal.fol");
    EXPECT_EQ(iniValue(list, "Directory", "Dir2"), "Work.fol");
    EXPECT_EQ(iniValue(list, "Directory", "Dir3"), "Work.fol\\Old.fol");
    EXPECT_EQ(iniValue(list, "Directory", "Dir4"), "<missing>");
    const std::string& manifest = c.at("infobak.ini");
    EXPECT_EQ(iniValue(manifest, "Backup", "EmailClient"), "Eudora");
    EXPECT_EQ(iniValue(manifest, "Identities", "Item1"), "Default");
    EXPECT_EQ(iniValue(manifest, "Items", "Item5"), "Address Book");
    EXPECT_EQ(iniValue(manifest, "Directory", "Dir1"), "<missing>");

    ASSERT_TRUE(restoreThroughProgram(target, kBackup));
    const std::string e = bob.folder + "\\";
    for (const std::string& name : fullLayout()) {
        if (name == "infobak.ini" || name == "directory.ini") continue;
        // The data folder's own mailboxes come back into it, not into a "Mail" folder.
        const std::string at = name.starts_with("Mail\\") ? name.substr(5) : name;
        EXPECT_EQ(readOn(target, e + at), c.at(name)) << name;
    }
    EXPECT_EQ(readOn(target, e + "In.mbx"), "ann's inbox");
    EXPECT_EQ(readOn(target, e + "Work.fol\\Old.fol\\2003.mbx"), "ann's 2003");
    EXPECT_FALSE(existsOn(target, e + "Mail"));
    EXPECT_FALSE(existsOn(target, e + "directory.ini"));
    EXPECT_FALSE(existsOn(target, kFolder));
}

TEST_F(EudoraRestore, MailFoldersAloneLeaveTheOtherItems) {
    use(target);
    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::Eudora, identities(),
                                  items(false, true, false, false, false)))
        << errorText();
    const std::string e = bob.folder + "\\";
    EXPECT_EQ(readOn(target, e + "In.mbx"), "ann's inbox");
    EXPECT_EQ(readOn(target, e + "Work.fol\\Old.fol\\2003.mbx"), "ann's 2003");
    EXPECT_TRUE(existsOn(target, e + "Stationery\\Thanks.sta"));
    EXPECT_EQ(readOn(target, e + "filters.pce"), "bob's filters");
    EXPECT_EQ(readOn(target, e + "nndbase.toc"), "bob's index");
    EXPECT_EQ(readOn(target, e + "eudora.ini"), "[Settings]\r\nRealName=Bob\r\n");
    for (const char* f : {"Spool", "Filters", "Sigs", "nndbase.txt"})
        EXPECT_FALSE(existsOn(target, e + f)) << f;
}

TEST_F(EudoraRestore, RestoreIntoAFolderKeepsTheMailFolderApart) {
    // No registry value is read for this.
    use(target);
    setString(RootKey::CurrentUser, kUserCommandLine, "Current", "");
    const std::string t = "C:\\Restored\\Eudora Mail\\";
    ASSERT_FALSE(jobs::RunRestoreToFolder(kBackup, t, kind::Eudora, identities(), items()))
        << errorText();
    const StoredFiles c = stored(source, made);
    for (const std::string& name : fullLayout()) {
        if (name == "infobak.ini" || name == "directory.ini") continue;
        EXPECT_EQ(readOn(target, t + name), c.at(name)) << name;
    }
    EXPECT_EQ(readOn(target, t + "Mail\\In.mbx"), "ann's inbox");
    EXPECT_FALSE(existsOn(target, t + "In.mbx"));
    EXPECT_FALSE(existsOn(target, t + "directory.ini"));
}

// Without a data folder in the command line the direct restore refuses: nothing may
// land at the root of the drive.
TEST_F(EudoraRestore, DirectRestoreWithoutDataFolderRefuses) {
    for (bool missing : {false, true}) {
        use(target);
        if (missing) {
            platform::Registry reg(RootKey::CurrentUser);
            ASSERT_TRUE(reg.openKey(kUserCommandLine, false));
            reg.deleteValue("Current");
        } else {
            setString(RootKey::CurrentUser, kUserCommandLine, "Current", "");
        }
        EXPECT_TRUE(jobs::RunRestore(kBackup, kind::Eudora, identities(), items()));
        EXPECT_NE(errorText().find("names no data folder"), std::string::npos) << errorText();
        for (const char* f : {"C:\\In.mbx", "C:\\eudora.ini", "C:\\Spool", "C:\\Work.fol",
                              "C:\\nndbase.txt", "C:\\Sigs"})
            EXPECT_FALSE(existsOn(target, f)) << f;
    }
}

// Attachments are files apart from the mailboxes, in the folder the settings name.
// They travel with the mail folders and return to the folder this machine's
// settings name (never to a place the backup's settings name), as do the pictures
// of HTML messages; further address books travel with the address book. A backup
// made before they were kept restores as before.
TEST_F(EudoraRestore, AttachmentsTravelWithTheMailFolders) {
    use(source);
    const std::string annAttach = "C:\\Files\\Eudora Attachments";
    source.writeFile(kFolder + "\\eudora.ini",
                     "[Settings]\r\nRealName=Ann\r\nAttachDir=" + annAttach + "\r\n");
    source.writeFile(annAttach + "\\invoice.pdf", "ann's invoice");
    source.writeFile(annAttach + "\\2004\\photo.jpg", "ann's photo");
    source.writeFile(kFolder + "\\Embedded\\logo.gif", "a picture in a message");
    source.writeFile(kFolder + "\\Nickname\\Work.txt", "alias boss boss@example.com\r\n");
    ASSERT_FALSE(backupOn(source, kBackup, kind::Eudora, identities(), items())) << errorText();
    const StoredFiles c = stored(source, kBackup);
    EXPECT_EQ(c.at("Attach\\invoice.pdf"), "ann's invoice");
    EXPECT_EQ(c.at("Attach\\2004\\photo.jpg"), "ann's photo");
    EXPECT_FALSE(c.files.count("Attach\\report.doc"));  // not the folder in use
    carry(source, kBackup, target, kBackup);

    use(target);
    const std::string bobAttach = profileFolder(target) + "\\Documents\\Attachments";
    target.writeFile(bob.folder + "\\eudora.ini",
                     "[Settings]\r\nRealName=Bob\r\nAttachDir=" + bobAttach + "\\\r\n");
    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::Eudora, identities(), items())) << errorText();
    EXPECT_EQ(readOn(target, bobAttach + "\\invoice.pdf"), "ann's invoice");
    EXPECT_EQ(readOn(target, bobAttach + "\\2004\\photo.jpg"), "ann's photo");
    EXPECT_FALSE(existsOn(target, annAttach));
    EXPECT_FALSE(existsOn(target, bob.folder + "\\Attach"));
    EXPECT_EQ(readOn(target, bob.folder + "\\Embedded\\logo.gif"), "a picture in a message");
    EXPECT_EQ(readOn(target, bob.folder + "\\Nickname\\Work.txt"), c.at("Nickname\\Work.txt"));

    // Into a folder: beside the mail folders.
    const std::string t = "C:\\Restored\\";
    ASSERT_FALSE(jobs::RunRestoreToFolder(kBackup, t, kind::Eudora, identities(), items()))
        << errorText();
    EXPECT_EQ(readOn(target, t + "Attach\\2004\\photo.jpg"), "ann's photo");

    // An older backup: no attachments, everything else as always.
    const std::string old = "C:\\Backups\\Older.ebk";
    writeBackup(target.host(old),
                {{"infobak.ini",
                  "[Backup]\r\nEmailClient=Eudora\r\n[Identities]\r\nItem1=Default\r\n"
                  "[Items]\r\nItem1=Mail Folders\r\n"},
                 {"directory.ini", "[Directory]\r\nDir1=Old.fol\r\n"},
                 {"Mail/In.mbx", "old inbox"},
                 {"Old.fol/Box.mbx", "old box"}});
    fs::remove_all(target.host(bobAttach));
    ASSERT_FALSE(
        jobs::RunRestore(old, kind::Eudora, identities(), items(false, true, false, false, false)))
        << errorText();
    EXPECT_EQ(readOn(target, bob.folder + "\\In.mbx"), "old inbox");
    EXPECT_EQ(readOn(target, bob.folder + "\\Old.fol\\Box.mbx"), "old box");
    EXPECT_FALSE(existsOn(target, bobAttach));
}

}  // namespace
}  // namespace qb::test
