#include "clients/eudora.h"

#include <algorithm>

#include "client_test_support.h"
#include "jobs/restore_job.h"
#include "testkit/clients_fixture.h"

namespace qb::test {
namespace {

using platform::RootKey;

const std::string kBackup = "C:\\Backups\\Eudora Backup.ebk";
const std::string kFolder = "C:\\Eudora Mail";

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

class EudoraAdapter : public ClientTest {};

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

TEST_F(EudoraAdapter, BackupStoresTheLayoutOfTheDesign) {
    installEudora(machine, kFolder);
    ASSERT_FALSE(jobs::RunBackup(kBackup, kind::Eudora, identities(), items()))
        << jobs::archiveJob().errorText;

    const auto entries = readZipEntries(machine.host(kBackup));
    std::vector<std::string> names;
    for (const StoredEntry& e : entries)
        if (!e.folder) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    // Attachments are not Eudora's data to keep; a folder with two ".pce" files is
    // packed once.
    const std::vector<std::string> expected = {"Filters/Work.flt",
                                               "Mail/In.mbx",
                                               "Mail/In.toc",
                                               "Mail/Out.mbx",
                                               "Mail/Out.toc",
                                               "Mail/Trash.mbx",
                                               "Mail/Trash.toc",
                                               "Mail/descmap.pce",
                                               "Personal.fol/.Family.toc",
                                               "Personal.fol/Family.mbx",
                                               "Personal.fol/descmap.pce",
                                               "Personal.fol/sortmap.pce",
                                               "Sigs/Alternate Sig.txt",
                                               "Sigs/Standard.txt",
                                               "Spool/.queue.lck",
                                               "Spool/spool.tmp",
                                               "Stationery/Thanks.sta",
                                               "Work.fol/Client Projects.mbx",
                                               "Work.fol/Client Projects.toc",
                                               "Work.fol/Old.fol/2003.mbx",
                                               "Work.fol/Old.fol/descmap.pce",
                                               "Work.fol/Projects.mbx",
                                               "Work.fol/Projects.toc",
                                               "Work.fol/descmap.pce",
                                               "directory.ini",
                                               "eudora.ini",
                                               "filters.pce",
                                               "infobak.ini",
                                               "nndbase.toc",
                                               "nndbase.txt"};
    EXPECT_EQ(names, expected);

    const auto files = storedFiles(machine.host(kBackup));
    EXPECT_EQ(files.at("Work.fol/Client Projects.mbx"),
              machine.readFile(kFolder + "\\Work.fol\\Client Projects.mbx"));
    // The mail folders in the order the search found them, a nested one after the
    // folder that holds it.
    const std::string& list = files.at("directory.ini");
    EXPECT_EQ(iniValue(machine, list, "Directory", "Dir1"), "Personal.fol");
    EXPECT_EQ(iniValue(machine, list, "Directory", "Dir2"), "Work.fol");
    EXPECT_EQ(iniValue(machine, list, "Directory", "Dir3"), "Work.fol\\Old.fol");
    EXPECT_EQ(iniValue(machine, list, "Directory", "Dir4"), "<missing>");
    const std::string& manifest = files.at("infobak.ini");
    EXPECT_EQ(iniValue(machine, manifest, "Backup", "EmailClient"), "Eudora");
    EXPECT_EQ(iniValue(machine, manifest, "Identities", "Item1"), "Default");
    EXPECT_EQ(iniValue(machine, manifest, "Items", "Item5"), "Address Book");
    EXPECT_EQ(iniValue(machine, manifest, "Directory", "Dir1"), "<missing>");
}

TEST_F(EudoraAdapter, OnlyTheChosenItems) {
    installEudora(machine);
    ASSERT_FALSE(jobs::RunBackup(kBackup, kind::Eudora, identities(),
                                 items(false, false, false, false, true)))
        << jobs::archiveJob().errorText;
    const auto files = storedFiles(machine.host(kBackup));
    EXPECT_EQ(namesOf(files),
              (std::vector<std::string>{"infobak.ini", "nndbase.toc", "nndbase.txt"}));
    EXPECT_EQ(iniValue(machine, files.at("infobak.ini"), "Items", "Item1"), "Address Book");
    EXPECT_EQ(iniValue(machine, files.at("infobak.ini"), "Items", "Item2"), "<missing>");
}

// A command line that names no data folder must not make the backup pack the
// root of a drive: it fails with a clear text, and an older backup stays.
TEST_F(EudoraAdapter, BackupWithoutDataFolderFails) {
    machine.writeFile(kBackup, "older backup");
    machine.writeFile("C:\\Spool\\x.tmp", "not Eudora's");
    machine.writeFile("C:\\In.mbx", "not Eudora's");
    for (const char* commandLine : {"", "C:\\Eudora.exe C:\\ C:\\eudora.ini", "Eudora.exe Mail"}) {
        setString(RootKey::ClassesRoot, "\\SOFTWARE\\Qualcomm\\Eudora\\CommandLine\\Current", "",
                  commandLine);
        EXPECT_TRUE(jobs::RunBackup(kBackup, kind::Eudora, identities(), items())) << commandLine;
        EXPECT_NE(jobs::archiveJob().errorText.find("names no data folder"), std::string::npos)
            << jobs::archiveJob().errorText;
        EXPECT_EQ(machine.readFile(kBackup), "older backup");
    }
}

// ---- restore ----

// Ann's Eudora (folder with blanks, unquoted command line) backed up on her
// machine; Bob's Eudora keeps its data in his profile and quotes its command line.
class EudoraRestore : public EudoraAdapter {
  protected:
    void SetUp() override {
        EudoraAdapter::SetUp();
        installEudora(machine, kFolder);
        machine.writeFile(kFolder + "\\In.mbx", "ann's inbox");
        machine.writeFile(kFolder + "\\Work.fol\\Old.fol\\2003.mbx", "ann's 2003");
        ASSERT_FALSE(jobs::RunBackup(kBackup, kind::Eudora, identities(), items()))
            << jobs::archiveJob().errorText;
        prepare(target);
        copyFile(machine, target, kBackup);
        bob = installEudora(target, appDataFolder(target) + "\\Qualcomm\\Eudora", true);
        target.writeFile(bob.folder + "\\filters.pce", "bob's filters");
        target.writeFile(bob.folder + "\\nndbase.toc", "bob's index");
    }

    FakeMachine target{"bob"};
    EudoraInstall bob;
};

TEST_F(EudoraRestore, DirectRestoreIntoTheFolderOfTheCommandLine) {
    // The mail folders alone leave Bob's filters and address book as they are.
    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::Eudora, identities(),
                                  items(false, true, false, false, false)))
        << jobs::archiveJob().errorText;
    const std::string e = bob.folder + "\\";
    EXPECT_EQ(target.readFile(e + "In.mbx"), "ann's inbox");
    EXPECT_EQ(target.readFile(e + "Work.fol\\Old.fol\\2003.mbx"), "ann's 2003");
    EXPECT_EQ(target.readFile(e + "filters.pce"), "bob's filters");
    EXPECT_EQ(target.readFile(e + "nndbase.toc"), "bob's index");

    ASSERT_FALSE(jobs::RunRestore(kBackup, kind::Eudora, identities(), items()))
        << jobs::archiveJob().errorText;
    for (const char* f :
         {"Work.fol\\Client Projects.mbx", "Work.fol\\Client Projects.toc",
          "Personal.fol\\.Family.toc", "Personal.fol\\sortmap.pce", "Spool\\.queue.lck",
          "Spool\\spool.tmp", "eudora.ini", "Stationery\\Thanks.sta", "Filters\\Work.flt",
          "Sigs\\Alternate Sig.txt", "nndbase.txt"})
        EXPECT_TRUE(exists(e + f)) << f;
    EXPECT_EQ(target.readFile(e + "filters.pce"), "rule Newsletters\r\n");  // Ann's
    EXPECT_NE(target.readFile(e + "nndbase.toc"), "bob's index");
    // The data folder's own mailboxes come back into it, not into a "Mail" folder.
    EXPECT_FALSE(exists(e + "Mail"));
    EXPECT_FALSE(exists(kFolder));
}

TEST_F(EudoraRestore, RestoreIntoAFolderKeepsTheMailFolderApart) {
    // No registry value is read for this.
    setString(RootKey::CurrentUser, "\\SOFTWARE\\Qualcomm\\Eudora\\CommandLine", "Current", "");
    const std::string t = "C:\\Restored\\Eudora Mail\\";
    ASSERT_FALSE(jobs::RunRestoreToFolder(kBackup, t, kind::Eudora, identities(), items()))
        << jobs::archiveJob().errorText;
    for (const char* f :
         {"Mail\\In.mbx", "Mail\\Trash.toc", "Mail\\descmap.pce", "Work.fol\\Old.fol\\2003.mbx",
          "Work.fol\\Projects.toc", "Personal.fol\\Family.mbx", "Spool\\spool.tmp", "eudora.ini",
          "Stationery\\Thanks.sta", "Filters\\Work.flt", "filters.pce", "nndbase.toc",
          "nndbase.txt", "Sigs\\Standard.txt"})
        EXPECT_TRUE(exists(t + f)) << f;
    EXPECT_EQ(target.readFile(t + "Mail\\In.mbx"), "ann's inbox");
    EXPECT_FALSE(exists(t + "In.mbx"));
    EXPECT_FALSE(exists(t + "directory.ini"));
}

// Without a data folder in the command line the direct restore refuses: nothing may
// land at the root of the drive.
TEST_F(EudoraRestore, DirectRestoreWithoutDataFolderRefuses) {
    for (bool missing : {false, true}) {
        if (missing) {
            platform::Registry reg(RootKey::CurrentUser);
            ASSERT_TRUE(reg.openKey("\\SOFTWARE\\Qualcomm\\Eudora\\CommandLine", false));
            reg.deleteValue("Current");
        } else {
            setString(RootKey::CurrentUser, "\\SOFTWARE\\Qualcomm\\Eudora\\CommandLine", "Current",
                      "");
        }
        EXPECT_TRUE(jobs::RunRestore(kBackup, kind::Eudora, identities(), items()));
        EXPECT_NE(jobs::archiveJob().errorText.find("names no data folder"), std::string::npos)
            << jobs::archiveJob().errorText;
        for (const char* f : {"C:\\In.mbx", "C:\\eudora.ini", "C:\\Spool", "C:\\Work.fol",
                              "C:\\nndbase.txt", "C:\\Sigs"})
            EXPECT_FALSE(exists(f)) << f;
    }
}

// Mail folder names from the backup that would leave the data folder are skipped
// and named; the others are restored.
TEST_F(EudoraAdapter, HostileFolderListStaysInside) {
    writeZip(
        machine.host(kBackup),
        {{"infobak.ini", "[Backup]\r\nEmailClient=Eudora\r\n[Identities]\r\nItem1=Default\r\n"},
         {"directory.ini",
          "[Directory]\r\nDir1=Work.fol\r\nDir2=..\\Outside\r\nDir3=C:\\Windows\r\n"
          "Dir4=\\Root\r\n"},
         {"Work.fol/x.mbx", "x"},
         {"Windows/y.mbx", "y"}});
    const std::string t = "C:\\Restored\\";
    EXPECT_TRUE(jobs::RunRestoreToFolder(kBackup, t, kind::Eudora, identities(), items()));
    const std::string& error = jobs::archiveJob().errorText;
    for (const char* named : {"..\\Outside", "C:\\Windows", "\\Root"})
        EXPECT_NE(error.find(named), std::string::npos) << named << " in: " << error;
    EXPECT_EQ(machine.readFile(t + "Work.fol\\x.mbx"), "x");
    EXPECT_FALSE(exists(t + "Windows"));
    EXPECT_FALSE(exists("C:\\Outside"));
}

}  // namespace
}  // namespace qb::test
