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

}  // namespace
}  // namespace qb::test
