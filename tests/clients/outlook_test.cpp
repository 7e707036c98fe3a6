#include "clients/outlook.h"

#include "adapter_test_support.h"

namespace qb::test {
namespace {

const std::string kBackup = "C:\\Backups\\Outlook Backup.ebk";
const std::string kNtProfiles =
    "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
const std::string kOldProfiles = "\\Software\\Microsoft\\Windows Messaging Subsystem\\Profiles";
const std::string kMainService = "\\5ac3e4e8a5f1e84ba4e3c58b0e3c1f01";
const std::string kArchiveService = "\\9207f3e0a3b11019908b08002b2a56c2";
const std::string kOtherLocalService = "\\b2c3d4e5f60718293a4b5c6d7e8f90a1";
const std::string kGoneService = "\\d4e5f60718293a4b5c6d7e8f90a1b2c3";
const std::string kNestedService = "\\e5f60718293a4b5c6d7e8f90a1b2c3d4";
// A store of the same name as the main one, elsewhere in the local application
// data folder (added by the restore tests).
const std::string kSameNameService = "\\f0e1d2c3b4a5968778695a4b3c2d1e0f";
// A store in the roaming application data folder, outside its Outlook folder.
const std::string kRoamingService = "\\f1e2d3c4b5a6978879605a4b3c2d1e0f";

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

// The stored files of a backup of installOutlook with the default user chosen.
// The service without a store path adds nothing (no "Others\Dir0", nothing else of
// the local application data folder).
std::set<std::string> fullLayout() {
    return {"Others.ini",
            "Others\\Dir1\\Old Projects.pst",
            "Others\\Dir1\\archive.pst",
            "Others\\Dir2\\family.pst",
            "Signatures\\Private Note.rtf",
            "Signatures\\Work.htm",
            "Signatures\\Work.txt",
            "Signatures\\Work_files\\image001.jpg",
            "accounts1.reg",
            "accounts2.reg",
            "app\\Forms\\frmcache.dat",
            "app\\Outlook.NK2",
            "app\\Send Receive.srs",
            "app\\outcmd.dat",
            "infobak.ini",
            "local\\.outlook.lock",
            "local\\Mail Backup\\2004 mail.pst",
            "local\\Archives\\2005 archive.pst",
            "local\\Offline Address Book\\oab.lzx",
            "local\\Outlook.pst",
            "local\\extend.dat",
            "setting.reg",
            "setting2.reg"};
}

class OutlookAdapter : public AdapterTest {
  protected:
    bool backup(bool defaultUser = true) {
        return backupOn(source, kBackup, kind::Outlook, identities(defaultUser), items());
    }
};

// ---- backup ----

TEST_F(OutlookAdapter, WithoutDefaultUserOnlyManifestAndSignatures) {
    use(source);
    installOutlook(source);
    ASSERT_FALSE(backup(false)) << errorText();
    const StoredFiles c = stored(source, kBackup);
    EXPECT_EQ(c.names('\\'),
              (Names{"Signatures\\Private Note.rtf", "Signatures\\Work.htm", "Signatures\\Work.txt",
                     "Signatures\\Work_files\\image001.jpg", "infobak.ini"}));
    // The manifest still lists every identity and item.
    const std::string& manifest = c.at("infobak.ini");
    EXPECT_EQ(iniValue(manifest, "Identities", "Item1"), "Default user");
    EXPECT_EQ(iniValue(manifest, "Items", "Item1"), "Accounts Settings");
    EXPECT_EQ(iniValue(manifest, "Items", "Item6"), "Signatures");
}

// Store paths kept as binary data (ANSI or UTF-16 text) in a profile below the
// Windows 9x key: the backup reads the paths they hold; the restore puts the profile
// under both keys, its stores pointing to the new user's folder in the same form.
TEST_F(OutlookAdapter, BinaryStorePathsInAWindows9xProfile) {
    for (StorePathForm form : {StorePathForm::AnsiBinary, StorePathForm::Utf16Binary}) {
        FakeMachine from("ann");
        use(from);
        const OutlookInstall ann = installOutlook(from, {.windowsNt = false, .storePaths = form});
        ASSERT_EQ(storeType(ann.profileKey + kMainService), platform::ValueType::Binary);
        ASSERT_FALSE(backupOn(from, kBackup, kind::Outlook, identities(), items())) << errorText();
        const StoredFiles c = stored(from, kBackup);
        for (const char* name : {"Others\\Dir1\\archive.pst", "Others\\Dir2\\family.pst",
                                 "local\\Mail Backup\\2004 mail.pst"})
            EXPECT_TRUE(c.has(name)) << name;
        EXPECT_EQ(iniValue(c.at("Others.ini"), "Directory", "Dir1"), "C:\\Mail Archive\\");
        EXPECT_NE(c.at("setting.reg").find("[HKEY_CURRENT_USER" + kOldProfiles + "\\Outlook]"),
                  std::string::npos);

        FakeMachine to("bob");
        carry(from, kBackup, to, kBackup);
        use(to);
        ASSERT_FALSE(jobs::RunRestore(kBackup, kind::Outlook, identities(), items()))
            << errorText();
        for (const std::string& root : {kNtProfiles, kOldProfiles}) {
            const std::string service = root + "\\Outlook" + kMainService;
            EXPECT_EQ(storePath(service),
                      localAppDataFolder(to) + "\\Microsoft\\Outlook\\Outlook.pst");
            platform::Registry reg(RootKey::CurrentUser);
            ASSERT_TRUE(reg.openKeyReadOnly(service));
            ASSERT_EQ(reg.dataType("001e6700"), platform::ValueType::Binary);
            const auto bytes = reg.readBinary("001e6700");
            ASSERT_GE(bytes.size(), 2u);
            EXPECT_EQ(bytes[1] == 0, form == StorePathForm::Utf16Binary);
            EXPECT_EQ(bytes.back(), 0);
        }
    }
    use(source);
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
    use(source);
    installOutlook(source);
    source.writeFile(kBackup, "older backup");
    {
        platform::Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKey(kShellFolders, false));
        reg.deleteValue("AppData");
    }
    EXPECT_TRUE(backup());
    EXPECT_NE(errorText().find("\"AppData\""), std::string::npos) << errorText();
    EXPECT_EQ(readOn(source, kBackup), "older backup");
}

// A signatures value that is empty must not pack the whole Microsoft folder, and
// no profile means no profile file (a restore then keeps the profiles it finds).
TEST_F(OutlookAdapter, EmptySignaturesValueAndNoProfile) {
    use(source);
    installOutlook(source, {.signatures = ""});
    {
        platform::Registry reg(RootKey::CurrentUser);
        reg.deleteKey(kNtProfiles);
    }
    source.writeFile(appDataFolder(source) + "\\Microsoft\\Word\\Normal.dot", "word");
    ASSERT_FALSE(backup()) << errorText();
    const StoredFiles c = stored(source, kBackup);
    EXPECT_FALSE(c.has("setting.reg"));
    for (const std::string& name : c.names('\\')) {
        EXPECT_FALSE(name.starts_with("Signatures\\")) << name;
        EXPECT_FALSE(name.starts_with("Others\\")) << name;
    }
    EXPECT_TRUE(c.has("app\\outcmd.dat"));
    EXPECT_TRUE(c.has("Others.ini"));
}

// ---- restore ----

// Ann's Outlook backed up on her machine with the quillbox program; Bob's machine,
// with a profile of his own and Office 10 naming the signatures folder, gets the
// backup file.
class OutlookRestore : public OutlookAdapter {
  protected:
    void SetUp() override {
        OutlookAdapter::SetUp();
        use(source);
        ann = installOutlook(source);
        source.writeFile(ann.pstFiles.front(), "ann's mail");
        source.writeFile(ann.outsideStores.front(), "ann's archive");
        source.writeFile(localAppDataFolder(source) + "\\Old Mail\\Outlook.pst", "ann's old mail");
        setString(RootKey::CurrentUser, ann.profileKey + kSameNameService, "001e6700",
                  localAppDataFolder(source) + "\\Old Mail\\Outlook.pst");
        source.writeFile(appDataFolder(source) + "\\Mail Copies\\archive.pst", "ann's copy");
        setString(RootKey::CurrentUser, ann.profileKey + kRoamingService, "001e6700",
                  appDataFolder(source) + "\\Mail Copies\\archive.pst");
        made = backupThroughProgram(source, "msoutlook", "OutlookBackup ");
        ASSERT_FALSE(made.empty());
        moveToTarget();
    }

    void moveToTarget() {
        carry(source, made, target, kBackup);
        use(target);
        bob = installOutlook(target,
                             {.profile = "Bob's mail", .officeVersion = "10.0", .minimal = true});
        target.writeFile(bob.outlookFolder + "\\outlook.FAV", "favourites");
    }

    bool restore(bool defaultUser = true) {
        use(target);
        return jobs::RunRestore(kBackup, kind::Outlook, identities(defaultUser), items());
    }
    bool restoreToFolder(const std::string& folder, bool defaultUser = true) {
        use(target);
        return jobs::RunRestoreToFolder(kBackup, folder, kind::Outlook, identities(defaultUser),
                                        items());
    }

    // The stored files of Ann's backup.
    static std::set<std::string> layout() {
        std::set<std::string> names = fullLayout();
        names.insert({"local\\Old Mail\\Outlook.pst", "app\\Mail Copies\\archive.pst"});
        return names;
    }

    std::string made;  // the backup file on Ann's machine
    OutlookInstall ann;
    OutlookInstall bob;
};

// The whole way: the stored names of the program's backup checked against the
// layout, then the program's restore into Bob's Outlook.
TEST_F(OutlookRestore, ThroughTheCommandLineIntoAnotherMachine) {
    const StoredFiles c = stored(source, made);
    EXPECT_EQ(c.names('\\'), layout());
    EXPECT_EQ(c.at("Others\\Dir2\\family.pst"), readOn(source, "C:\\Shared Mail\\family.pst"));
    const std::string& manifest = c.at("infobak.ini");
    EXPECT_EQ(iniValue(manifest, "Backup", "EmailClient"), "Outlook");
    EXPECT_EQ(iniValue(manifest, "Identities", "Item1"), "Default user");
    EXPECT_EQ(iniValue(manifest, "Items", "Item6"), "Signatures");
    EXPECT_EQ(iniValue(manifest, "Directory", "Dir1"), appDataFolder(source));
    EXPECT_EQ(iniValue(manifest, "Directory", "Dir2"), localAppDataFolder(source));
    // Two stores of one outside folder share its number.
    const std::string& others = c.at("Others.ini");
    EXPECT_EQ(iniValue(others, "Directory", "Dir1"), "C:\\Mail Archive\\");
    EXPECT_EQ(iniValue(others, "Directory", "Dir2"), "C:\\Shared Mail\\");
    EXPECT_EQ(iniValue(others, "Directory", "Dir3"), "<missing>");
    const std::string& profile = c.at("setting.reg");
    EXPECT_NE(profile.find("[HKEY_CURRENT_USER" + kNtProfiles + "\\Outlook]\r\n"),
              std::string::npos);
    EXPECT_NE(profile.find("\\Outlook\\9375CFF0413111d3B88A00104B2A6676\\00000001]"),
              std::string::npos);
    EXPECT_NE(c.at("setting2.reg").find("\"MailSettings\"=dword:00000001"), std::string::npos);
    EXPECT_NE(c.at("accounts2.reg").find("\"NoOST\"=\"0\""), std::string::npos);

    ASSERT_TRUE(restoreThroughProgram(target, kBackup));

    // The profile replaces Bob's, under both profiles keys, its stores pointing to
    // Bob's folders where they lay in Ann's.
    for (const std::string& root : {kNtProfiles, kOldProfiles}) {
        EXPECT_FALSE(keyExists(RootKey::CurrentUser, root + "\\Bob's mail")) << root;
        const std::string key = root + "\\Outlook";
        EXPECT_EQ(storePath(key + kMainService), bob.localOutlookFolder + "\\Outlook.pst");
        // Stores elsewhere in Ann's folders come back below Bob's Outlook folder,
        // each at its own place: one of the main store's name replaces nothing.
        EXPECT_EQ(storePath(key + kOtherLocalService),
                  bob.localOutlookFolder + "\\Mail Backup\\2004 mail.pst");
        EXPECT_EQ(storePath(key + kSameNameService),
                  bob.localOutlookFolder + "\\Old Mail\\Outlook.pst");
        EXPECT_EQ(storePath(key + kRoamingService),
                  bob.outlookFolder + "\\Mail Copies\\archive.pst");
        EXPECT_EQ(storePath(key + kNestedService),
                  bob.localOutlookFolder + "\\Archives\\2005 archive.pst");
        EXPECT_EQ(storePath(key + kArchiveService), "C:\\Mail Archive\\archive.pst");
        EXPECT_EQ(storePath(key + kGoneService), "C:\\Gone\\old.pst");
        EXPECT_EQ(
            registryText(RootKey::CurrentUser, key + "\\9375CFF0413111d3B88A00104B2A6676\\00000001",
                         "Account Name"),
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
        registryText(RootKey::CurrentUser, "\\Software\\Microsoft\\Office\\Outlook\\OST", "NoOST"),
        "0");

    // Files: the Outlook folders into Bob's (their sub-folders kept), the outside
    // stores to their folders, the signatures into the folder Bob's Office names.
    const std::string& local = bob.localOutlookFolder;
    const std::pair<std::string, std::string> places[] = {
        {"local\\Outlook.pst", local + "\\Outlook.pst"},
        {"local\\extend.dat", local + "\\extend.dat"},
        {"local\\.outlook.lock", local + "\\.outlook.lock"},
        {"local\\Offline Address Book\\oab.lzx", local + "\\Offline Address Book\\oab.lzx"},
        {"local\\Archives\\2005 archive.pst", local + "\\Archives\\2005 archive.pst"},
        {"local\\Mail Backup\\2004 mail.pst", local + "\\Mail Backup\\2004 mail.pst"},
        {"local\\Old Mail\\Outlook.pst", local + "\\Old Mail\\Outlook.pst"},
        {"app\\Mail Copies\\archive.pst", bob.outlookFolder + "\\Mail Copies\\archive.pst"},
        {"app\\outcmd.dat", bob.outlookFolder + "\\outcmd.dat"},
        {"app\\Send Receive.srs", bob.outlookFolder + "\\Send Receive.srs"},
        {"app\\Forms\\frmcache.dat", bob.outlookFolder + "\\Forms\\frmcache.dat"},
        {"Signatures\\Work_files\\image001.jpg",
         bob.signaturesFolder + "\\Work_files\\image001.jpg"},
        {"Signatures\\Private Note.rtf", bob.signaturesFolder + "\\Private Note.rtf"},
        {"Others\\Dir1\\Old Projects.pst", "C:\\Mail Archive\\Old Projects.pst"},
        {"Others\\Dir2\\family.pst", "C:\\Shared Mail\\family.pst"}};
    for (const auto& [stored, place] : places)
        EXPECT_EQ(readOn(target, place), c.at(stored)) << stored;
    EXPECT_EQ(readOn(target, local + "\\Outlook.pst"), "ann's mail");
    EXPECT_EQ(readOn(target, local + "\\Old Mail\\Outlook.pst"), "ann's old mail");
    EXPECT_EQ(readOn(target, "C:\\Mail Archive\\archive.pst"), "ann's archive");
    EXPECT_FALSE(existsOn(target, bob.outlookFolder + "\\outlook.FAV"));
    // Nothing lands in Ann's folders on Bob's machine.
    EXPECT_FALSE(existsOn(target, profileFolder(source)));
}

TEST_F(OutlookRestore, RestoreIntoAFolderLeavesTheRegistryAlone) {
    const std::string t = "C:\\Restored\\Outlook Mail\\";
    ASSERT_FALSE(restoreToFolder(t)) << errorText();
    const StoredFiles c = stored(source, made);
    for (const std::string& name : layout()) {
        if (name == "infobak.ini" || name == "Others.ini") continue;
        // Registry files in the registry editor's form, for import by hand.
        EXPECT_EQ(readOn(target, t + name),
                  name.ends_with(".reg") ? registryEditorForm(c.at(name)) : c.at(name))
            << name;
    }
    EXPECT_EQ(readOn(target, t + "local\\Outlook.pst"), "ann's mail");
    use(target);
    EXPECT_TRUE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Bob's mail"));
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Outlook"));
    EXPECT_FALSE(existsOn(target, "C:\\Mail Archive"));
    EXPECT_TRUE(existsOn(target, bob.outlookFolder + "\\outlook.FAV"));
}

TEST_F(OutlookRestore, WithoutDefaultUserOnlyTheFavouritesGo) {
    ASSERT_FALSE(restore(false)) << errorText();
    EXPECT_TRUE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Bob's mail"));
    EXPECT_FALSE(existsOn(target, "C:\\Mail Archive"));
    EXPECT_FALSE(existsOn(target, bob.outlookFolder + "\\outcmd.dat"));
    EXPECT_FALSE(existsOn(target, bob.outlookFolder + "\\outlook.FAV"));

    const std::string t = "C:\\Restored\\Nothing\\";
    ASSERT_FALSE(restoreToFolder(t, false)) << errorText();
    EXPECT_FALSE(existsOn(target, t));
}

// A registry file that a restore does not extract from this backup is never taken
// from an earlier restore's leftovers: the current profiles stay.
TEST_F(OutlookRestore, BackupWithoutProfileKeepsTheCurrentProfiles) {
    use(source);
    {
        platform::Registry reg(RootKey::CurrentUser);
        reg.deleteKey(kNtProfiles);
    }
    ASSERT_FALSE(backup()) << errorText();
    carry(source, kBackup, target, kBackup);
    use(target);
    target.writeFile(jobs::StagingPath("setting.reg"),
                     "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER" + kNtProfiles + "\\Stale]\r\n");
    ASSERT_FALSE(restore()) << errorText();
    EXPECT_TRUE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Bob's mail"));
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Stale"));
    EXPECT_TRUE(existsOn(target, bob.outlookFolder + "\\outcmd.dat"));
}

// A hand-made backup file: foreign registry keys, list entries that are no store
// folders and paths that climb out are refused with their names in the error
// text; everything else is restored.
class OutlookHostileBackup : public AdapterTest {
  protected:
    void SetUp() override {
        AdapterTest::SetUp();
        use(target);
        bob = installOutlook(target, {.profile = "Bob's mail", .minimal = true});
        writeBackup(target.host(kBackup),
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
    const std::string error = errorText();
    for (const char* named : {"CurrentVersion\\Run", "HKEY_LOCAL_MACHINE", "..\\x",
                              "C:\\Windows\\..\\Evil", "relative"})
        EXPECT_NE(error.find(named), std::string::npos) << named << " in: " << error;
    EXPECT_FALSE(
        keyExists(RootKey::CurrentUser, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
    EXPECT_FALSE(keyExists(RootKey::LocalMachine, "\\Software\\Microsoft\\Office\\Outlook"));
    EXPECT_TRUE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Bob's mail"));
    EXPECT_EQ(registryText(RootKey::CurrentUser,
                           "\\Software\\Microsoft\\Office\\11.0\\Outlook\\Options", "Crafted"),
              "yes");
    EXPECT_FALSE(existsOn(target, "C:\\Evil"));
    EXPECT_EQ(readOn(target, "C:\\Fine Mail\\b.pst"), "b");
    EXPECT_EQ(readOn(target, bob.outlookFolder + "\\ok.dat"), "ok");
}

TEST_F(OutlookHostileBackup, FolderRestoreKeepsEverythingInTheFolder) {
    const std::string t = "C:\\Restored\\";
    EXPECT_TRUE(jobs::RunRestoreToFolder(kBackup, t, kind::Outlook, identities(), items()));
    EXPECT_NE(errorText().find("..\\x"), std::string::npos) << errorText();
    for (const char* f : {"Others\\Dir1\\a.pst", "Others\\Dir2\\b.pst", "Others\\Dir3\\c.pst",
                          "setting.reg", "app\\ok.dat"})
        EXPECT_TRUE(existsOn(target, t + f)) << f;
    EXPECT_FALSE(existsOn(target, "C:\\x"));
    EXPECT_FALSE(existsOn(target, "C:\\Evil"));
    EXPECT_FALSE(
        keyExists(RootKey::CurrentUser, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
}

// A profile file that holds the profiles key but no profile: the profiles are
// replaced by none, no store path is rewritten, and the restore goes on.
TEST_F(OutlookHostileBackup, ProfileFileWithoutProfile) {
    writeBackup(
        target.host(kBackup),
        {{"infobak.ini", "[Backup]\r\nEmailClient=Outlook\r\n[Directory]\r\nDir1=C:\\x\r\n"},
         {"setting.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER" + kNtProfiles +
                             "]\r\n\"DefaultProfile\"=\"Outlook\"\r\n"},
         {"app/ok.dat", "ok"}});
    EXPECT_FALSE(jobs::RunRestore(kBackup, kind::Outlook, identities(), items())) << errorText();
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, kNtProfiles + "\\Bob's mail"));
    EXPECT_EQ(registryText(RootKey::CurrentUser, kNtProfiles, "DefaultProfile"), "Outlook");
    EXPECT_EQ(readOn(target, bob.outlookFolder + "\\ok.dat"), "ok");
}

}  // namespace
}  // namespace qb::test
