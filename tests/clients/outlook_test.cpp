#include "clients/outlook.h"

#include <algorithm>

#include "client_test_support.h"
#include "jobs/restore_job.h"
#include "testkit/clients_fixture.h"

namespace qb::test {
namespace {

using platform::RootKey;

const std::string kBackup = "C:\\Backups\\Outlook Backup.ebk";
const std::string kNtProfiles =
    "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
const std::string kOldProfiles = "\\Software\\Microsoft\\Windows Messaging Subsystem\\Profiles";
const std::string kMainService = "\\5ac3e4e8a5f1e84ba4e3c58b0e3c1f01";
const std::string kArchiveService = "\\9207f3e0a3b11019908b08002b2a56c2";
const std::string kOtherLocalService = "\\b2c3d4e5f60718293a4b5c6d7e8f90a1";
const std::string kGoneService = "\\d4e5f60718293a4b5c6d7e8f90a1b2c3";

Selection identities(bool defaultUser = true) {
    return selection({{"Default user", defaultUser}});
}

Selection items() {
    return selection({{"Accounts Settings", true},
                      {"Mail Folders", true},
                      {"Personal Store", true},
                      {"Message Rules", true},
                      {"Address Book", true},
                      {"Signatures", true}});
}

std::string storePath(const std::string& serviceKey) {
    platform::Registry reg(RootKey::CurrentUser);
    if (!reg.openKeyReadOnly(serviceKey)) return "<no key>";
    const auto value = reg.readValue("001e6700");
    return value ? clients::StorePathFromValue(*value) : "<no value>";
}

std::optional<platform::ValueType> storeType(const std::string& serviceKey) {
    platform::Registry reg(RootKey::CurrentUser);
    if (!reg.openKeyReadOnly(serviceKey)) return std::nullopt;
    return reg.dataType("001e6700");
}

class OutlookAdapter : public ClientTest {
  protected:
    bool backup(bool defaultUser = true) {
        return jobs::RunBackup(kBackup, kind::Outlook, identities(defaultUser), items());
    }
};

// ---- backup ----

TEST_F(OutlookAdapter, BackupStoresTheLayoutOfTheDesign) {
    const OutlookInstall outlook = installOutlook(machine);
    ASSERT_FALSE(backup()) << jobs::archiveJob().errorText;

    const auto files = storedFiles(machine.host(kBackup));
    const std::vector<std::string> expected = {"Others.ini",
                                               "Others/Dir1/Old Projects.pst",
                                               "Others/Dir1/archive.pst",
                                               "Others/Dir2/family.pst",
                                               "Signatures/Private Note.rtf",
                                               "Signatures/Work.htm",
                                               "Signatures/Work.txt",
                                               "Signatures/Work_files/image001.jpg",
                                               "accounts1.reg",
                                               "accounts2.reg",
                                               "app/Forms/frmcache.dat",
                                               "app/Outlook.NK2",
                                               "app/Send Receive.srs",
                                               "app/outcmd.dat",
                                               "infobak.ini",
                                               "local/.outlook.lock",
                                               "local/2004 mail.pst",
                                               "local/Offline Address Book/oab.lzx",
                                               "local/Outlook.pst",
                                               "local/extend.dat",
                                               "setting.reg",
                                               "setting2.reg"};
    EXPECT_EQ(namesOf(files), expected);
    // Every store once: the main store is not packed a second time under Others.
    const auto entries = readZipEntries(machine.host(kBackup));
    EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                            [](const StoredEntry& e) { return e.name.ends_with(".pst"); }),
              5);
    EXPECT_EQ(files.at("Others/Dir2/family.pst"), machine.readFile("C:\\Shared Mail\\family.pst"));

    const std::string& manifest = files.at("infobak.ini");
    EXPECT_EQ(iniValue(machine, manifest, "Backup", "EmailClient"), "Outlook");
    EXPECT_EQ(iniValue(machine, manifest, "Identities", "Item1"), "Default user");
    EXPECT_EQ(iniValue(machine, manifest, "Items", "Item6"), "Signatures");
    EXPECT_EQ(iniValue(machine, manifest, "Directory", "Dir1"), appDataFolder(machine));
    EXPECT_EQ(iniValue(machine, manifest, "Directory", "Dir2"), localAppDataFolder(machine));

    const std::string& others = files.at("Others.ini");
    EXPECT_EQ(iniValue(machine, others, "Directory", "Dir1"), "C:\\Mail Archive\\");
    EXPECT_EQ(iniValue(machine, others, "Directory", "Dir2"), "C:\\Shared Mail\\");
    EXPECT_EQ(iniValue(machine, others, "Directory", "Dir3"), "<missing>");

    const std::string& profile = files.at("setting.reg");
    EXPECT_NE(profile.find("[HKEY_CURRENT_USER" + kNtProfiles + "\\Outlook]\r\n"),
              std::string::npos);
    EXPECT_NE(profile.find("\\Outlook\\9375CFF0413111d3B88A00104B2A6676\\00000001]"),
              std::string::npos);
    EXPECT_NE(files.at("setting2.reg").find("\"MailSettings\"=dword:00000001"), std::string::npos);
    EXPECT_NE(files.at("accounts2.reg").find("\"NoOST\"=\"0\""), std::string::npos);
}

TEST_F(OutlookAdapter, WithoutDefaultUserOnlyManifestAndSignatures) {
    installOutlook(machine);
    ASSERT_FALSE(backup(false)) << jobs::archiveJob().errorText;
    const auto files = storedFiles(machine.host(kBackup));
    const std::vector<std::string> expected = {"Signatures/Private Note.rtf", "Signatures/Work.htm",
                                               "Signatures/Work.txt",
                                               "Signatures/Work_files/image001.jpg", "infobak.ini"};
    EXPECT_EQ(namesOf(files), expected);
    // The manifest still lists every identity and item.
    const std::string& manifest = files.at("infobak.ini");
    EXPECT_EQ(iniValue(machine, manifest, "Identities", "Item1"), "Default user");
    EXPECT_EQ(iniValue(machine, manifest, "Items", "Item1"), "Accounts Settings");
}

// Store paths kept as binary data (ANSI or UTF-16 text) are read as the paths they
// hold; a profile kept below the Windows 9x key is found there.
TEST_F(OutlookAdapter, BinaryStorePathsAndOldProfileKey) {
    for (StorePathForm form : {StorePathForm::AnsiBinary, StorePathForm::Utf16Binary}) {
        FakeMachine m("ann");
        prepare(m);
        const OutlookInstall outlook = installOutlook(m, {.windowsNt = false, .storePaths = form});
        ASSERT_EQ(storeType(outlook.profileKey + kMainService), platform::ValueType::Binary);
        ASSERT_EQ(storePath(outlook.profileKey + kMainService), outlook.pstFiles.front());
        ASSERT_FALSE(jobs::RunBackup(kBackup, kind::Outlook, identities(), items()))
            << jobs::archiveJob().errorText;
        const auto files = storedFiles(m.host(kBackup));
        for (const char* name :
             {"Others/Dir1/archive.pst", "Others/Dir2/family.pst", "local/2004 mail.pst"})
            EXPECT_TRUE(files.contains(name)) << name;
        EXPECT_EQ(iniValue(m, files.at("Others.ini"), "Directory", "Dir1"), "C:\\Mail Archive\\");
        EXPECT_NE(files.at("setting.reg").find("[HKEY_CURRENT_USER" + kOldProfiles + "\\Outlook]"),
                  std::string::npos);
    }
    machine.activate();
}

TEST(OutlookStorePath, ReadsTextAndBothBinaryForms) {
    using platform::RegValue;
    using platform::ValueType;
    const std::string path =
        "C:\\Mail\\Gr\xC3\xBC\xC3\x9F"
        "e.pst";  // "Grüße.pst"
    RegValue text{ValueType::String, platform::utf8ToUtf16Bytes(path)};
    RegValue utf16{ValueType::Binary, platform::utf8ToUtf16Bytes(path)};
    RegValue ansi{ValueType::Binary, {}};
    for (unsigned char c : std::string("C:\\Mail\\Gr\xFC\xDF"
                                       "e.pst"))
        ansi.data.push_back(c);
    ansi.data.push_back(0);
    ansi.data.push_back('x');  // bytes after the NUL are not part of the path
    EXPECT_EQ(clients::StorePathFromValue(text), path);
    EXPECT_EQ(clients::StorePathFromValue(utf16), path);
    EXPECT_EQ(clients::StorePathFromValue(ansi), path);
    EXPECT_EQ(clients::StorePathFromValue({ValueType::Dword, {1, 0, 0, 0}}), "");
    EXPECT_EQ(clients::StorePathFromValue({ValueType::Binary, {}}), "");
}

// Missing values never turn into a drive's root: without an application data
// folder the backup fails with a clear text and an older backup file stays.
TEST_F(OutlookAdapter, BackupWithoutApplicationDataFolderFails) {
    installOutlook(machine);
    machine.writeFile(kBackup, "older backup");
    {
        platform::Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKey(
            "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false));
        reg.deleteValue("AppData");
    }
    EXPECT_TRUE(backup());
    EXPECT_NE(jobs::archiveJob().errorText.find("\"AppData\""), std::string::npos)
        << jobs::archiveJob().errorText;
    EXPECT_EQ(machine.readFile(kBackup), "older backup");
}

// A signatures value that is empty must not pack the whole Microsoft folder, and
// no profile means no profile file (a restore then keeps the profiles it finds).
TEST_F(OutlookAdapter, EmptySignaturesValueAndNoProfile) {
    installOutlook(machine, {.signatures = ""});
    {
        platform::Registry reg(RootKey::CurrentUser);
        reg.deleteKey(kNtProfiles);
    }
    machine.writeFile(appDataFolder(machine) + "\\Microsoft\\Word\\Normal.dot", "word");
    ASSERT_FALSE(backup()) << jobs::archiveJob().errorText;
    const auto files = storedFiles(machine.host(kBackup));
    EXPECT_FALSE(files.contains("setting.reg"));
    for (const auto& [name, data] : files) {
        EXPECT_FALSE(name.starts_with("Signatures/")) << name;
        EXPECT_FALSE(name.starts_with("Others/")) << name;
    }
    EXPECT_TRUE(files.contains("app/outcmd.dat"));
    EXPECT_TRUE(files.contains("Others.ini"));
}

// ---- restore ----

const std::string kSignaturesKey10 = "\\Software\\Microsoft\\Office\\10.0\\Common\\General";

class OutlookRestore : public OutlookAdapter {
  protected:
    // Ann's Outlook backed up on her machine; Bob's machine, with a profile of his
    // own and Office 10 naming the signatures folder, gets the backup file.
    void SetUp() override {
        OutlookAdapter::SetUp();
        ann = installOutlook(machine);
        machine.writeFile(ann.pstFiles.front(), "ann's mail");
        machine.writeFile(ann.outsideStores.front(), "ann's archive");
        ASSERT_FALSE(backup()) << jobs::archiveJob().errorText;
        moveToTarget();
    }

    void moveToTarget() {
        prepare(target);
        copyFile(machine, target, kBackup);
        bob = installOutlook(target,
                             {.profile = "Bob's mail", .officeVersion = "10.0", .minimal = true});
        target.writeFile(bob.outlookFolder + "\\outlook.FAV", "favourites");
    }

    bool restore(bool defaultUser = true) {
        return jobs::RunRestore(kBackup, kind::Outlook, identities(defaultUser), items());
    }
    bool restoreToFolder(const std::string& folder, bool defaultUser = true) {
        return jobs::RunRestoreToFolder(kBackup, folder, kind::Outlook, identities(defaultUser),
                                        items());
    }

    FakeMachine target{"bob"};
    OutlookInstall ann;
    OutlookInstall bob;
};

TEST_F(OutlookRestore, DirectRestorePutsEverythingInBobsPlaces) {
    ASSERT_FALSE(restore()) << jobs::archiveJob().errorText;

    // The profile replaces Bob's, under both profiles keys, its stores pointing to
    // Bob's folders where they lay in Ann's.
    for (const std::string& root : {kNtProfiles, kOldProfiles}) {
        EXPECT_FALSE(keyExists(RootKey::CurrentUser, root + "\\Bob's mail")) << root;
        const std::string profile = root + "\\Outlook";
        EXPECT_EQ(storePath(profile + kMainService), bob.localOutlookFolder + "\\Outlook.pst");
        EXPECT_EQ(storePath(profile + kOtherLocalService),
                  bob.localOutlookFolder + "\\2004 mail.pst");
        EXPECT_EQ(storePath(profile + kArchiveService), "C:\\Mail Archive\\archive.pst");
        EXPECT_EQ(storePath(profile + kGoneService), "C:\\Gone\\old.pst");
        EXPECT_EQ(
            readValueText(RootKey::CurrentUser,
                          profile + "\\9375CFF0413111d3B88A00104B2A6676\\00000001", "Account Name"),
            "mail.example.com");
    }
    {
        platform::Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(
            reg.openKeyReadOnly(kNtProfiles + "\\Outlook\\0a0d020000000000c000000000000046"));
        EXPECT_EQ(reg.readBinary("01023d01"),
                  (std::vector<uint8_t>{0x5a, 0xc3, 0xe4, 0xe8, 0, 0xff}));
        ASSERT_TRUE(reg.openKeyReadOnly("\\Software\\Microsoft\\Office\\11.0\\Outlook"));
        EXPECT_EQ(reg.readInteger("MailSettings"), 1);
    }
    EXPECT_EQ(
        readValueText(RootKey::CurrentUser, "\\Software\\Microsoft\\Office\\Outlook\\OST", "NoOST"),
        "0");

    // Files: the Outlook folders flat into Bob's, the outside stores to their
    // folders, the signatures into the folder Bob's Office names.
    const std::string& local = bob.localOutlookFolder;
    EXPECT_EQ(target.readFile(local + "\\Outlook.pst"), "ann's mail");
    for (const std::string& f :
         {local + "\\extend.dat", local + "\\.outlook.lock", local + "\\oab.lzx",
          local + "\\2004 mail.pst", bob.outlookFolder + "\\outcmd.dat",
          bob.outlookFolder + "\\Send Receive.srs", bob.outlookFolder + "\\frmcache.dat",
          bob.signaturesFolder + "\\image001.jpg", bob.signaturesFolder + "\\Private Note.rtf",
          std::string("C:\\Mail Archive\\Old Projects.pst"),
          std::string("C:\\Shared Mail\\family.pst")})
        EXPECT_TRUE(exists(f)) << f;
    EXPECT_EQ(target.readFile("C:\\Mail Archive\\archive.pst"), "ann's archive");
    EXPECT_FALSE(exists(bob.outlookFolder + "\\outlook.FAV"));
    // Nothing lands in Ann's folders on Bob's machine.
    EXPECT_FALSE(exists(profileFolder(machine)));
}

TEST_F(OutlookRestore, RestoreIntoAFolderLeavesTheRegistryAlone) {
    const std::string t = "C:\\Restored\\Outlook Mail\\";
    ASSERT_FALSE(restoreToFolder(t)) << jobs::archiveJob().errorText;
    for (const char* f :
         {"setting.reg", "setting2.reg", "accounts1.reg", "accounts2.reg", "local\\Outlook.pst",
          "local\\oab.lzx", "local\\2004 mail.pst", "app\\outcmd.dat", "app\\frmcache.dat",
          "Signatures\\Work.htm", "Signatures\\image001.jpg", "Others\\Dir1\\archive.pst",
          "Others\\Dir1\\Old Projects.pst", "Others\\Dir2\\family.pst"})
        EXPECT_TRUE(exists(t + f)) << f;
    EXPECT_EQ(target.readFile(t + "local\\Outlook.pst"), "ann's mail");
    EXPECT_TRUE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Bob's mail"));
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Outlook"));
    EXPECT_FALSE(exists("C:\\Mail Archive"));
    EXPECT_TRUE(exists(bob.outlookFolder + "\\outlook.FAV"));
}

TEST_F(OutlookRestore, WithoutDefaultUserOnlyTheFavouritesGo) {
    ASSERT_FALSE(restore(false)) << jobs::archiveJob().errorText;
    EXPECT_TRUE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Bob's mail"));
    EXPECT_FALSE(exists("C:\\Mail Archive"));
    EXPECT_FALSE(exists(bob.outlookFolder + "\\outcmd.dat"));
    EXPECT_FALSE(exists(bob.outlookFolder + "\\outlook.FAV"));

    const std::string t = "C:\\Restored\\Nothing\\";
    ASSERT_FALSE(restoreToFolder(t, false)) << jobs::archiveJob().errorText;
    EXPECT_FALSE(exists(t));
}

// A registry file that a restore does not extract from this backup is never taken
// from an earlier restore's leftovers: the current profiles stay.
TEST_F(OutlookRestore, BackupWithoutProfileKeepsTheCurrentProfiles) {
    machine.activate();
    {
        platform::Registry reg(RootKey::CurrentUser);
        reg.deleteKey(kNtProfiles);
    }
    prepare(machine);
    ASSERT_FALSE(backup()) << jobs::archiveJob().errorText;
    prepare(target);
    copyFile(machine, target, kBackup);
    target.writeFile(jobs::StagingPath("setting.reg"),
                     "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER" + kNtProfiles + "\\Stale]\r\n");
    ASSERT_FALSE(restore()) << jobs::archiveJob().errorText;
    EXPECT_TRUE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Bob's mail"));
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Stale"));
    EXPECT_TRUE(exists(bob.outlookFolder + "\\outcmd.dat"));
}

// Store paths kept as binary data come back as binary data of the same encoding,
// pointing to the new user's folder.
TEST_F(OutlookRestore, BinaryStorePathsKeepTheirForm) {
    for (StorePathForm form : {StorePathForm::AnsiBinary, StorePathForm::Utf16Binary}) {
        FakeMachine source("ann");
        prepare(source);
        installOutlook(source, {.storePaths = form});
        ASSERT_FALSE(backup()) << jobs::archiveJob().errorText;
        FakeMachine to("bob");
        prepare(to);
        copyFile(source, to, kBackup);
        ASSERT_FALSE(restore()) << jobs::archiveJob().errorText;
        const std::string service = kNtProfiles + "\\Outlook" + kMainService;
        EXPECT_EQ(storePath(service), localAppDataFolder(to) + "\\Microsoft\\Outlook\\Outlook.pst");
        platform::Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKeyReadOnly(service));
        ASSERT_EQ(reg.dataType("001e6700"), platform::ValueType::Binary);
        const auto bytes = reg.readBinary("001e6700");
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes[1] == 0, form == StorePathForm::Utf16Binary);
        EXPECT_EQ(bytes.back(), 0);
    }
    machine.activate();
}

// A hand-made backup file: foreign registry keys, list entries that are no store
// folders and paths that climb out are refused with their names in the error
// text; everything else is restored.
class OutlookHostileBackup : public ClientTest {
  protected:
    void SetUp() override {
        ClientTest::SetUp();
        bob = installOutlook(machine, {.profile = "Bob's mail", .minimal = true});
        writeZip(machine.host(kBackup),
                 {{"infobak.ini",
                   "[Backup]\r\nEmailClient=Outlook\r\n[Identities]\r\nItem1=Default user\r\n"
                   "[Directory]\r\nDir1=..\\..\r\nDir2=C:\\users\\eve\\AppData\\Local\r\n"},
                  {"Others.ini",
                   "[Directory]\r\nDir1=C:\\Windows\\..\\Evil\\\r\n..\\x=C:\\Evil\\\r\n"
                   "Dir2=C:\\Fine Mail\\\r\nDir3=relative\\\r\n"},
                  {"Others/Dir1/a.pst", "a"},
                  {"Others/Dir2/b.pst", "b"},
                  {"Others/Dir3/c.pst", "c"},
                  {"Others/x/d.pst", "d"},
                  {"setting.reg",
                   "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows"
                   "\\CurrentVersion\\Run]\r\n\"evil\"=\"C:\\evil.exe\"\r\n"},
                  {"accounts2.reg",
                   "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Office\\Outlook]"
                   "\r\n\"evil\"=\"1\"\r\n"},
                  {"setting2.reg",
                   "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\"
                   "Office\\11.0\\Outlook\\Options]\r\n\"Crafted\"=\"yes\"\r\n"},
                  {"app/ok.dat", "ok"}});
    }
    OutlookInstall bob;
};

TEST_F(OutlookHostileBackup, DirectRestoreRefusesWhatIsNotOutlooks) {
    EXPECT_TRUE(jobs::RunRestore(kBackup, kind::Outlook, identities(), items()));
    const std::string& error = jobs::archiveJob().errorText;
    for (const char* named : {"CurrentVersion\\Run", "HKEY_LOCAL_MACHINE", "..\\x",
                              "C:\\Windows\\..\\Evil", "relative"})
        EXPECT_NE(error.find(named), std::string::npos) << named << " in: " << error;
    EXPECT_FALSE(
        keyExists(RootKey::CurrentUser, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
    EXPECT_FALSE(keyExists(RootKey::LocalMachine, "\\Software\\Microsoft\\Office\\Outlook"));
    EXPECT_TRUE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Bob's mail"));
    EXPECT_EQ(readValueText(RootKey::CurrentUser,
                            "\\Software\\Microsoft\\Office\\11.0\\Outlook\\Options", "Crafted"),
              "yes");
    EXPECT_FALSE(exists("C:\\Evil"));
    EXPECT_EQ(machine.readFile("C:\\Fine Mail\\b.pst"), "b");
    EXPECT_EQ(machine.readFile(bob.outlookFolder + "\\ok.dat"), "ok");
}

TEST_F(OutlookHostileBackup, FolderRestoreKeepsEverythingInTheFolder) {
    const std::string t = "C:\\Restored\\";
    EXPECT_TRUE(jobs::RunRestoreToFolder(kBackup, t, kind::Outlook, identities(), items()));
    EXPECT_NE(jobs::archiveJob().errorText.find("..\\x"), std::string::npos);
    for (const char* f : {"Others\\Dir1\\a.pst", "Others\\Dir2\\b.pst", "Others\\Dir3\\c.pst",
                          "setting.reg", "app\\ok.dat"})
        EXPECT_TRUE(exists(t + f)) << f;
    EXPECT_FALSE(exists("C:\\x"));
    EXPECT_FALSE(exists("C:\\Evil"));
    EXPECT_FALSE(
        keyExists(RootKey::CurrentUser, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
}

// A profile file that holds the profiles key but no profile: the profiles are
// replaced by none, no store path is rewritten, and the restore goes on.
TEST_F(OutlookHostileBackup, ProfileFileWithoutProfile) {
    writeZip(machine.host(kBackup),
             {{"infobak.ini", "[Backup]\r\nEmailClient=Outlook\r\n[Directory]\r\nDir1=C:\\x\r\n"},
              {"setting.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER" + kNtProfiles +
                                  "]\r\n\"DefaultProfile\"=\"Outlook\"\r\n"},
              {"app/ok.dat", "ok"}});
    EXPECT_FALSE(jobs::RunRestore(kBackup, kind::Outlook, identities(), items()))
        << jobs::archiveJob().errorText;
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Bob's mail"));
    EXPECT_EQ(readValueText(RootKey::CurrentUser, kNtProfiles, "DefaultProfile"), "Outlook");
    EXPECT_EQ(machine.readFile(bob.outlookFolder + "\\ok.dat"), "ok");
}

}  // namespace
}  // namespace qb::test
