#include "clients/outlook_express.h"

#include <algorithm>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "adapter_test_support.h"
#include "catalog/reads.h"
#include "platform/registry_internal.h"

namespace qb::test {
namespace oe = qb::clients::oe;

namespace {

const std::string kMain = "{3F1B2E8A-6C1D-4E7B-9A52-0D4C8E7F1A21}";
const std::string kAnn = "{B7A4C0D2-1E3F-4A5B-8C6D-7E8F9A0B1C2D}";
const std::string kOld = "{00000000-1111-2222-3333-444444444444}";

// The two identities of the machine that is backed up: the client's default store
// (below %UserProfile%) and one the person moved, stored with a trailing backslash.
const std::vector<OEIdentity> kIdentities = {{"Main Identity", kMain},
                                             {"Ann", kAnn, "C:\\Mail Store\\Ann\\"}};

const std::vector<std::string> kRegFiles = {"accounts.reg", "accounts2.reg", "blockedsender.reg",
                                            "identity.reg", "identity2.reg", "rules.reg",
                                            "settings.reg", "settings2.reg", "signatures.reg"};
const std::vector<std::string> kStoreFiles = {
    ".cleanup.log", "Deleted Items.dbx", "Drafts.dbx",    "Folders.dbx",
    "Inbox.dbx",    "Offline.dbx",       "Old Folders/",  "Old Folders/Inbox.dbx",
    "Outbox.dbx",   "Pop3uidl.dbx",      "Sent Items.dbx"};

constexpr ClientKind kOE = kind::OutlookExpress;

std::string text(RootKey root, std::string_view key, std::string_view name) {
    return catalog::readText(root, key, name);
}

std::string identity(const std::string& g, std::string_view below = "") {
    return "\\identities\\" + g + std::string(below);
}
const std::string kSettings = "\\Software\\Microsoft\\Outlook Express\\5.0";

class OutlookExpress : public AdapterTest {
  protected:
    // A backup file in the shared folder, as every machine reaches it (drive Z:).
    std::string shared(std::string_view name) const {
        return platform::windowsPath(backups.path() / std::string(name));
    }

    // Backs up the person's identities, all items, on `m`.
    std::string backUp(const FakeMachine& m, const Selection& items = allItems(kOE)) {
        use(m);
        const std::string path = shared("oe.ebk");
        EXPECT_FALSE(jobs::RunBackup(path, kOE, everything(kOE).identities, items)) << errorText();
        return path;
    }

    // The entries of a backup file of the shared folder (whichever machine is current).
    StoredFiles entriesOf(const std::string& backupPath) {
        return storedIn(backups.path() / platform::extractFileName(backupPath));
    }

    TempDir backups;
};

TEST(OutlookExpressVariables, ExpandEachVariableWhereItStands) {
    oe::Folders f;
    f.profile = "C:\\users\\bob";
    f.systemDrive = "C:";
    f.programFiles = "C:\\Program Files";
    f.windows = "C:\\windows";
    EXPECT_EQ(oe::ExpandVariables("%UserProfile%\\Mail\\Store", f), "C:\\users\\bob\\Mail\\Store");
    EXPECT_EQ(oe::ExpandVariables("%PROGRAMFILES%\\Common Files", f),
              "C:\\Program Files\\Common Files");
    EXPECT_EQ(oe::ExpandVariables("%systemdrive%\\x\\%SystemRoot%", f), "C:\\x\\C:\\windows");
    EXPECT_EQ(oe::ExpandVariables("D:\\Mail\\Store", f), "D:\\Mail\\Store");
    EXPECT_EQ(oe::ExpandVariables("", f), "");
}

TEST_F(OutlookExpress, BackupHoldsEveryIdentityAndItemInTheLayoutOfTheClient) {
    const OEInstall install = installOutlookExpress(source, kIdentities);
    const StoredFiles entries = entriesOf(backUp(source));

    Names expected = {"infobak.ini",
                      "others.ini",
                      "stationery.ini",
                      "address.reg",
                      "Address Book/ann.wab",
                      "Address Book/ann.wa~",
                      "Stationery/Ivy.gif",
                      "Stationery/Ivy.htm",
                      "Stationery/Sample Pack/",
                      "Stationery/Sample Pack/Blue Note.htm"};
    for (const std::string& n : {std::string("Main Identity"), std::string("Ann")})
        for (const std::string& f : kRegFiles)
            expected.insert(n + "/" + f);
    for (const std::string& g : {kMain, kAnn})
        for (const std::string& f : kStoreFiles)
            expected.insert(g + "/" + f);
    EXPECT_EQ(entries.everyName(), expected);

    // The mail store straight from its folders, the moved one included.
    EXPECT_EQ(entries.at(kMain + "/Inbox.dbx"),
              source.readFile(install.storeFolders[0] + "\\Inbox.dbx"));
    EXPECT_EQ(entries.at(kAnn + "/Old Folders/Inbox.dbx"),
              source.readFile("C:\\Mail Store\\Ann\\Old Folders\\Inbox.dbx"));
    EXPECT_EQ(entries.at("Stationery/Sample Pack/Blue Note.htm"),
              "<html><body>Blue Note</body></html>");

    // The registry files: the identity's own key alone, the accounts with subkeys.
    const std::string& identityReg = entries.at("Ann/identity.reg");
    EXPECT_NE(identityReg.find("[HKEY_CURRENT_USER\\identities\\" + kAnn + "]\r\n"),
              std::string::npos);
    EXPECT_NE(identityReg.find("\"Username\"=\"Ann\""), std::string::npos);
    EXPECT_EQ(identityReg.find("Software"), std::string::npos);
    EXPECT_NE(entries.at("Ann/accounts.reg").find("\"SMTP Email Address\"=\"Ann@example.com\""),
              std::string::npos);
    EXPECT_NE(entries.at("Ann/accounts2.reg").find("Directory Service"), std::string::npos);
    EXPECT_NE(entries.at("Main Identity/blockedsender.reg").find("spam@example.com"),
              std::string::npos);
    EXPECT_NE(entries.at("address.reg").find(install.wabFile), std::string::npos);

    // The manifest pairs each identity with its key, "others.ini" with its store
    // as stored (one trailing backslash less), "stationery.ini" has the folder.
    const std::string& manifest = entries.at("infobak.ini");
    EXPECT_EQ(iniValue(manifest, "Backup", "EmailClient"), "OutlookExpress");
    EXPECT_EQ(iniLines(manifest, "Identities"),
              (std::vector<std::string>{"Item1=Main Identity", "Item2=Ann"}));
    EXPECT_EQ(iniLines(manifest, "Items").size(), 6u);
    EXPECT_EQ(iniLines(manifest, "Directory"),
              (std::vector<std::string>{"Item1=" + kMain, "Item2=" + kAnn}));
    EXPECT_EQ(iniLines(entries.at("others.ini"), "Directory"),
              (std::vector<std::string>{"Item1=%UserProfile%\\Local Settings\\Application "
                                        "Data\\Identities\\" +
                                            kMain + "\\Microsoft\\Outlook Express",
                                        "Item2=C:\\Mail Store\\Ann"}));
    EXPECT_EQ(iniValue(entries.at("stationery.ini"), "Directory", "Stationery"),
              install.stationeryFolder + "\\");
}

TEST_F(OutlookExpress, BackupOfChosenIdentitiesAndItemsKeepsTheSectionsAligned) {
    installOutlookExpress(source, kIdentities);

    // Only the second identity: line 1 of every section is Ann's.
    const std::string path = shared("second.ebk");
    ASSERT_FALSE(jobs::RunBackup(path, kOE, selection({{"Main Identity", false}, {"Ann", true}}),
                                 onlyItems(kOE, {"Signatures"})))
        << errorText();
    StoredFiles entries = entriesOf(path);
    EXPECT_EQ(iniLines(entries.at("infobak.ini"), "Directory"),
              std::vector<std::string>{"Item1=" + kAnn});
    EXPECT_EQ(iniLines(entries.at("infobak.ini"), "Identities"),
              std::vector<std::string>{"Item1=Ann"});
    EXPECT_EQ(iniLines(entries.at("others.ini"), "Directory"),
              std::vector<std::string>{"Item1=C:\\Mail Store\\Ann"});
    EXPECT_EQ(iniValue(entries.at("stationery.ini"), "Directory", "Stationery"),
              "C:\\Program Files\\Common Files\\Microsoft Shared\\Stationery\\");
    EXPECT_TRUE(entries.has("Ann/signatures.reg"));
    EXPECT_FALSE(entries.has("Ann/accounts.reg"));
    EXPECT_FALSE(entries.has("Main Identity/identity.reg"));
    EXPECT_FALSE(entries.has(kAnn + "/Inbox.dbx"));

    // An identity that matches no key still has its line, empty, in each section;
    // only the address book: no identity at all.
    const std::string book = shared("book.ebk");
    ASSERT_FALSE(
        jobs::RunBackup(book, kOE, selection({{"Nobody", true}}), onlyItems(kOE, {"Address Book"})))
        << errorText();
    entries = entriesOf(book);
    EXPECT_EQ(entries.everyName(),
              (Names{"Address Book/ann.wab", "Address Book/ann.wa~", "address.reg", "infobak.ini",
                     "others.ini", "stationery.ini"}));
    EXPECT_EQ(iniLines(entries.at("infobak.ini"), "Directory"), std::vector<std::string>{"Item1="});
    EXPECT_EQ(iniLines(entries.at("others.ini"), "Directory"), std::vector<std::string>{"Item1="});
    ASSERT_FALSE(jobs::RunBackup(book, kOE, selection({{"Main Identity", false}, {"Ann", false}}),
                                 onlyItems(kOE, {"Address Book"})))
        << errorText();
    entries = entriesOf(book);
    EXPECT_TRUE(iniLines(entries.at("infobak.ini"), "Identities").empty());
    EXPECT_TRUE(entries.has("Address Book/ann.wab"));
}

TEST_F(OutlookExpress, IdentitiesOfOneNameAreBothPackedEachUnderItsKey) {
    installOutlookExpress(source, {{"Main Identity", kMain}, {"Main Identity", kAnn}});
    const StoredFiles entries = entriesOf(backUp(source, onlyItems(kOE, {"Mail Folders"})));
    EXPECT_TRUE(entries.has(kMain + "/Inbox.dbx"));
    EXPECT_TRUE(entries.has(kAnn + "/Inbox.dbx"));
    EXPECT_TRUE(entries.has("Main Identity/identity.reg"));
}

TEST_F(OutlookExpress, BackupWithoutAFolderToPackFailsAndKeepsTheOlderBackup) {
    installOutlookExpress(source, kIdentities);
    const std::string path = shared("kept.ebk");
    writeHostFile(*platform::hostPath(path), "an older backup");
    auto run = [&](const Selection& items) {
        return jobs::RunBackup(path, kOE, selection({{"Main Identity", true}, {"Ann", true}}),
                               items);
    };

    // No "Store Root": the search would run on the current drive's root.
    platform::Registry(RootKey::CurrentUser).deleteKey(identity(kAnn, kSettings));
    {
        platform::Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKey(identity(kMain, kSettings), false));
        reg.deleteValue("Store Root");
    }
    EXPECT_TRUE(run(onlyItems(kOE, {"Mail Folders"})));
    EXPECT_NE(errorText().find("\"Main Identity\""), std::string::npos) << errorText();
    EXPECT_NE(errorText().find("\"Ann\""), std::string::npos);
    EXPECT_EQ(readHostFile(*platform::hostPath(path)), "an older backup");
    // Without the mail folders the same identities back up.
    EXPECT_FALSE(run(onlyItems(kOE, {"Accounts Settings"}))) << errorText();
    writeHostFile(*platform::hostPath(path), "an older backup");

    // No address book file name: the address book adds nothing, with a note,
    // and the backup is written.
    setString(RootKey::CurrentUser, "\\Software\\Microsoft\\WAB\\WAB4\\Wab File Name", "", "");
    EXPECT_FALSE(run(onlyItems(kOE, {"Address Book"}))) << errorText();
    ASSERT_EQ(jobs::archiveJob().notes.size(), 1u);
    EXPECT_NE(jobs::archiveJob().notes[0].find("address book"), std::string::npos);
    writeHostFile(*platform::hostPath(path), "an older backup");
    // A stationery folder at a drive's root is refused.
    setString(RootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Shared Tools\\Stationery",
              "Stationery Folder", "C:\\");
    EXPECT_TRUE(run(onlyItems(kOE, {"Stationery"})));
    EXPECT_NE(errorText().find("stationery"), std::string::npos);
    EXPECT_EQ(readHostFile(*platform::hostPath(path)), "an older backup");

    // No application data folder: nothing can be resolved.
    {
        platform::Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKey(kShellFolders, false));
        reg.deleteValue("AppData");
    }
    EXPECT_TRUE(run(onlyItems(kOE, {"Signatures"})));
    EXPECT_EQ(errorText(), " Error code: 3120");
    EXPECT_EQ(readHostFile(*platform::hostPath(path)), "an older backup");
}

// An identity whose name cannot be a folder is named and fails the backup, which
// then keeps the older file; the other identities back up on their own.
TEST_F(OutlookExpress, IdentityWhoseNameCannotBeAFolderFailsTheBackupAndKeepsTheOlderOne) {
    const std::string bell = "Bell\a\x1b[2J";
    installOutlookExpress(source, {{"..\\..\\evil", kMain}, {"Ann", kAnn}, {bell, kOld}});
    const std::string path = shared("names.ebk");
    writeHostFile(*platform::hostPath(path), "an older backup");
    EXPECT_TRUE(jobs::RunBackup(path, kOE,
                                selection({{"..\\..\\evil", true}, {"Ann", true}, {bell, true}}),
                                allItems(kOE)));
    EXPECT_NE(errorText().find("\"..\\..\\evil\""), std::string::npos) << errorText();
    // Shown escaped, so that the name does nothing to a terminal.
    EXPECT_NE(errorText().find("\"Bell\\x07\\x1b[2J\""), std::string::npos) << errorText();
    EXPECT_EQ(errorText().find_first_of("\a\x1b"), std::string::npos) << errorText();
    EXPECT_EQ(readHostFile(*platform::hostPath(path)), "an older backup");
    EXPECT_EQ(treeOf(backups.path()), Names{"names.ebk"});
    // Nothing was written beside the staging folder.
    const fs::path staging = *platform::hostPath(jobs::archiveJob().stagingFolder);
    for (const std::string& name : treeOf(staging.parent_path().parent_path()))
        EXPECT_EQ(name.find("evil"), std::string::npos) << name;

    EXPECT_FALSE(jobs::RunBackup(path, kOE, selection({{"..\\..\\evil", false}, {"Ann", true}}),
                                 allItems(kOE)))
        << errorText();
    const StoredFiles entries = entriesOf(path);
    EXPECT_TRUE(entries.has("Ann/identity.reg"));
    EXPECT_TRUE(entries.has(kAnn + "/Inbox.dbx"));
    EXPECT_FALSE(entries.has(kMain + "/Inbox.dbx"));
}

TEST_F(OutlookExpress, RestoreIntoAnotherMachineImportsTheSettingsAndMovesTheFiles) {
    installOutlookExpress(source, kIdentities);
    const std::string path = backUp(source);
    const StoredFiles entries = entriesOf(path);

    // Bob has an identity of the same name under another key, and his stationery
    // in a folder of his own.
    use(target);
    installOutlookExpress(target, {{"Main Identity", kOld}});
    setString(RootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Shared Tools\\Stationery",
              "Stationery Folder", "%SystemDrive%\\Stationery Bob\\");
    ASSERT_FALSE(jobs::RunRestore(path, kOE, selection({{"Main Identity", true}, {"Ann", true}}),
                                  allItems(kOE)))
        << errorText();

    // The namesake is replaced by the backed-up identity; both point to their
    // stores on this machine.
    EXPECT_FALSE(catalog::keyExists(RootKey::CurrentUser, identity(kOld)));
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kMain), "Username"), "Main Identity");
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kAnn), "Username"), "Ann");
    const std::string mainStore = "C:\\users\\bob\\Local Settings\\Application Data\\Identities\\" +
                                  kMain + "\\Microsoft\\Outlook Express";
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kMain, kSettings), "Store Root"), mainStore);
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kAnn, kSettings), "Store Root"),
              "C:\\Mail Store\\Ann");
    EXPECT_EQ(catalog::readNumber(RootKey::CurrentUser, identity(kMain, kSettings + "\\Mail"),
                                  "Show Unread"),
              1);
    EXPECT_EQ(text(RootKey::CurrentUser,
                   identity(kAnn,
                            "\\Software\\Microsoft\\Internet Account "
                            "Manager\\Accounts\\00000001"),
                   "SMTP Email Address"),
              "Ann@example.com");
    EXPECT_EQ(
        text(RootKey::CurrentUser, identity(kMain, kSettings + "\\Signatures\\00000000"), "text"),
        "-- \r\nMain Identity");
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kAnn, kSettings + "\\Rules\\Mail\\000"), "Name"),
              "Newsletters");
    EXPECT_EQ(text(RootKey::CurrentUser,
                   identity(kAnn, kSettings + "\\Block Senders\\Mail\\Criteria\\0"), "Sender"),
              "spam@example.com");

    // The mail stores, sub-folders and hidden files included.
    for (const auto& [g, store] :
         {std::pair{kMain, mainStore}, std::pair{kAnn, std::string("C:\\Mail Store\\Ann")}}) {
        for (const std::string& f : kStoreFiles) {
            if (f.back() == '/') continue;
            std::string win = f;
            std::replace(win.begin(), win.end(), '/', '\\');
            EXPECT_EQ(target.readFile(store + "\\" + win), entries.at(g + "/" + f))
                << g << " " << f;
        }
    }

    // The address book goes where the restored file name points; the stationery
    // into this machine's stationery folder.
    const std::string wab = "C:\\users\\ann\\AppData\\Roaming\\Microsoft\\Address Book\\ann.wab";
    EXPECT_EQ(text(RootKey::CurrentUser, "\\Software\\Microsoft\\WAB\\WAB4\\Wab File Name", ""),
              wab);
    EXPECT_EQ(target.readFile(wab), entries.at("Address Book/ann.wab"));
    EXPECT_EQ(treeOf(target.host("C:\\Stationery Bob")),
              (Names{"Ivy.gif", "Ivy.htm", "Sample Pack/", "Sample Pack/Blue Note.htm"}));
    EXPECT_EQ(text(RootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Shared Tools\\Stationery",
                   "Stationery Folder"),
              "%SystemDrive%\\Stationery Bob\\");
}

TEST_F(OutlookExpress, RestorePairsIdentitiesByPositionAndFillsInMissingPlaces) {
    const std::string kWork = "{A1B2C3D4-0000-4000-8000-000000000003}";  // between the two
    std::string path, noStore;
    {
        installOutlookExpress(source, {{"Main Identity", kMain},
                                       {"Work", kWork, "C:\\Work Mail"},
                                       {"Ann", kAnn, "C:\\Mail Store\\Ann\\"}});
        path = backUp(source);
        // A backup of an identity without "Store Root" (its mail not chosen).
        platform::Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKey(identity(kMain, kSettings), false));
        reg.deleteValue("Store Root");
        reg.closeKey();
        noStore = shared("no store.ebk");
        ASSERT_FALSE(jobs::RunBackup(noStore, kOE, selection({{"Main Identity", true}}),
                                     onlyItems(kOE, {"Accounts Settings"})))
            << errorText();
    }

    // Bob's stationery value exists but is empty.
    use(target);
    setString(RootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Shared Tools\\Stationery",
              "Stationery Folder", "");
    ASSERT_FALSE(jobs::RunRestore(
        path, kOE, selection({{"Main Identity", true}, {"Work", false}, {"Ann", true}}),
        onlyItems(kOE, {"Mail Folders", "Stationery"})))
        << errorText();
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kAnn, kSettings), "Store Root"),
              "C:\\Mail Store\\Ann");
    EXPECT_TRUE(platform::fileExists("C:\\Mail Store\\Ann\\Inbox.dbx"));
    EXPECT_FALSE(catalog::keyExists(RootKey::CurrentUser, identity(kWork)));
    EXPECT_FALSE(platform::directoryExists("C:\\Work Mail"));
    // Not chosen: no accounts.
    EXPECT_FALSE(catalog::keyExists(
        RootKey::CurrentUser, identity(kAnn, "\\Software\\Microsoft\\Internet Account Manager")));
    const std::string stationery = "C:\\users\\bob\\OExpress\\Stationery";
    EXPECT_EQ(text(RootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Shared Tools\\Stationery",
                   "Stationery Folder"),
              stationery);
    EXPECT_TRUE(platform::fileExists(stationery + "\\Sample Pack\\Blue Note.htm"));

    // Without a store in the backup the identity's store is a folder of its own
    // below the profile.
    ASSERT_FALSE(
        jobs::RunRestore(noStore, kOE, selection({{"Main Identity", true}}), allItems(kOE)))
        << errorText();
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kMain, kSettings), "Store Root"),
              "C:\\users\\bob\\OExpress\\" + kMain);
}

TEST_F(OutlookExpress, RestoreIntoAFolderLaysOutTheBackupWithoutTouchingTheRegistry) {
    installOutlookExpress(source, kIdentities);
    const std::string path = backUp(source);
    use(target);
    const Selection ids = selection({{"Main Identity", true}, {"Ann", true}});
    ASSERT_FALSE(jobs::RunRestoreToFolder(path, "C:\\Restored Mail\\", kOE, ids, allItems(kOE)))
        << errorText();
    Names expected = {"Address Book/",
                      "Address Book/ann.wa~",
                      "Address Book/ann.wab",
                      "Stationery/",
                      "Stationery/Ivy.gif",
                      "Stationery/Ivy.htm",
                      "Stationery/Sample Pack/",
                      "Stationery/Sample Pack/Blue Note.htm",
                      "address.reg"};
    for (const std::string& n : {std::string("Main Identity"), std::string("Ann")}) {
        expected.insert(n + "/");
        for (const std::string& f : kRegFiles)
            expected.insert(n + "/" + f);
    }
    for (const std::string& g : {kMain, kAnn}) {
        expected.insert(g + "/");
        for (const std::string& f : kStoreFiles)
            expected.insert(g + "/" + f);
    }
    EXPECT_EQ(treeOf(target.host("C:\\Restored Mail")), expected);
    EXPECT_FALSE(catalog::keyExists(RootKey::CurrentUser, "\\identities"));
    EXPECT_TRUE(
        text(RootKey::CurrentUser, "\\Software\\Microsoft\\WAB\\WAB4\\Wab File Name", "").empty());

    ASSERT_FALSE(jobs::RunRestoreToFolder(path, "C:\\Book Only\\", kOE,
                                          selection({{"Main Identity", false}, {"Ann", false}}),
                                          onlyItems(kOE, {"Address Book"})))
        << errorText();
    EXPECT_EQ(treeOf(target.host("C:\\Book Only")), (Names{"Address Book/", "Address Book/ann.wab",
                                                           "Address Book/ann.wa~", "address.reg"}));
}

TEST_F(OutlookExpress, HostileBackupWritesNothingOutsideItsDestinations) {
    use(target);
    TempDir sentinel;
    const std::string absolute = platform::windowsPath(sentinel.path() / "evil drive.txt");
    std::string zipAbsolute = absolute;
    std::replace(zipAbsolute.begin(), zipAbsolute.end(), '\\', '/');
    const std::string idKey = "[HKEY_CURRENT_USER\\identities\\" + kMain;
    const std::string path = shared("hostile.ebk");
    writeBackup(
        *platform::hostPath(path),
        {{"infobak.ini",
          "[Backup]\r\nEmailClient=OutlookExpress\r\n[Identities]\r\nItem1=Main "
          "Identity\r\nItem2=..\\..\\evil identity\r\nItem3=Bad Key\r\n[Items]\r\n"
          "Item1=Accounts Settings\r\nItem2=Mail Folders\r\nItem3=Signatures\r\n"
          "Item4=Message Rules\r\nItem5=Address Book\r\nItem6=Stationery\r\n"
          "[Directory]\r\nItem1=" +
              kMain + "\r\nItem2=" + kAnn + "\r\nItem3=..\\..\\evil key\r\n"},
         {"others.ini",
          "[Directory]\r\nItem1=%UserProfile%\\..\\..\\..\\evil store\r\nItem2=C:\\Mail\r\n"
          "Item3=C:\\Mail\r\n"},
         {"stationery.ini", "[Directory]\r\nStationery=C:\\Stationery\\..\\evil stationery\r\n"},
         {"Main Identity/identity.reg",
          "REGEDIT4\r\n\r\n" + idKey + "]\r\n\"Username\"=\"Main Identity\"\r\n"},
         {"Main Identity/identity2.reg",
          "REGEDIT4\r\n\r\n" + idKey + "\\Software\\Microsoft\\Outlook Express\\5.0]\r\n"},
         {"Main Identity/accounts.reg",
          "REGEDIT4\r\n\r\n" + idKey +
              "]\r\n\"a\"=\"b\"\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Evil Run]\r\n"
              "\"evil\"=\"evil.exe\"\r\n"},
         // A signature whose text has a line that looks like a key: it is text.
         {"Main Identity/signatures.reg",
          "REGEDIT4\r\n\r\n" + idKey +
              "\\Software\\Microsoft\\Outlook Express\\5.0\\Signatures\\00000000]\r\n"
              "\"text\"=\"-- \r\n[HKEY_LOCAL_MACHINE\\Software\\Evil Sig]\"\r\n"},
         {"Main Identity/rules.reg",
          "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Evil Rules]\r\n\"x\"=\"y\"\r\n"},
         {kMain + "/Inbox.dbx", "good inbox"},
         {kMain + "/../../evil parent.dbx", "evil"},
         {kMain + "/..\\..\\evil parent2.dbx", "evil"},
         {"..\\..\\evil backslash.txt", "evil"},
         {"../../evil slash.txt", "evil"},
         {zipAbsolute, "evil"},
         {(sentinel.path() / "evil absolute.txt").string(), "evil"},
         {"address.reg",
          "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\WAB\\WAB4\\"
          "Wab File Name]\r\n\"\"=\"C:\\users\\bob\\..\\..\\evil "
          "book\\bob.wab\"\r\n"},
         {"Address Book/good.wab", "good wab"},
         {"Address Book/../../evil book.wab", "evil"},
         {"Stationery/good.htm", "good page"},
         {"Stationery/..\\..\\evil stationery.htm", "evil"}});

    auto nothingEvil = [&] {
        for (const fs::path& root : {target.prefix(), sentinel.path(), backups.path()})
            for (const std::string& name : treeOf(root))
                EXPECT_EQ(name.find("evil"), std::string::npos) << name;
        EXPECT_FALSE(catalog::keyExists(RootKey::LocalMachine, "\\Software\\Evil Run"));
        EXPECT_FALSE(catalog::keyExists(RootKey::LocalMachine, "\\Software\\Evil Sig"));
        EXPECT_FALSE(catalog::keyExists(RootKey::CurrentUser, "\\Software\\Evil Rules"));
    };
    const Selection ids =
        selection({{"Main Identity", true}, {"..\\..\\evil identity", true}, {"Bad Key", true}});

    EXPECT_TRUE(jobs::RunRestore(path, kOE, ids, allItems(kOE)));
    const std::string errors = errorText();
    for (const char* named : {"evil store", "..\\..\\evil identity", "evil key", "Evil Run",
                              "Evil Rules", "evil book", "evil stationery", "evil parent.dbx"})
        EXPECT_NE(errors.find(named), std::string::npos) << named << " in:\n" << errors;
    nothingEvil();
    // What is sound in it is restored, the store in the default place.
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kMain), "Username"), "Main Identity");
    const std::string store = "C:\\users\\bob\\OExpress\\" + kMain;
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kMain, kSettings), "Store Root"), store);
    EXPECT_EQ(treeOf(target.host(store)), Names{"Inbox.dbx"});
    EXPECT_EQ(
        text(RootKey::CurrentUser, identity(kMain, kSettings + "\\Signatures\\00000000"), "text"),
        "-- \r\n[HKEY_LOCAL_MACHINE\\Software\\Evil Sig]");
    EXPECT_FALSE(catalog::keyExists(RootKey::CurrentUser, identity(kAnn)));
    EXPECT_EQ(treeOf(target.host("C:\\users\\bob\\OExpress\\Stationery")), Names{"good.htm"});

    EXPECT_TRUE(jobs::RunRestoreToFolder(path, "C:\\Hostile\\", kOE, ids, allItems(kOE)));
    nothingEvil();
    EXPECT_EQ(treeOf(target.host("C:\\Hostile")),
              (Names{"Address Book/", "Address Book/good.wab", "Main Identity/",
                     "Main Identity/accounts.reg", "Main Identity/identity.reg",
                     "Main Identity/identity2.reg", "Main Identity/rules.reg",
                     "Main Identity/signatures.reg", "Stationery/", "Stationery/good.htm",
                     "address.reg", kMain + "/", kMain + "/Inbox.dbx"}));
}

// Names of a hostile backup reach the terminal escaped, with the reason they were
// refused; a folder path too long for the host leaves none of its folders behind.
TEST_F(OutlookExpress, HostileNamesAreShownEscapedAndLeaveNoFoldersBehind) {
    installOutlookExpress(source, {{"Main Identity", kMain}});
    const std::string backup = backupThroughProgram(source, "oexpress", "OExpressBackup ");
    ASSERT_FALSE(backup.empty());
    std::vector<std::pair<std::string, std::string>> hostile;
    for (const auto& [name, data] : stored(backup).files)
        hostile.emplace_back(name, data);
    hostile.emplace_back(kMain + "/\x1b]2;pwned\a\r\nevil ctl.dbx", "x");
    std::string deep = kMain + "/";
    while (deep.size() < 5000)
        deep += "evil deep " + std::string(100, 'd') + "/";
    hostile.emplace_back(deep, "");
    hostile.emplace_back(deep + "evil deep.dbx", "x");

    use(target);
    const OEInstall install = installOutlookExpress(target, {{"Main Identity", kMain}});
    moveBackup(backup, target);
    writeBackup(*platform::hostPath(backup), hostile);
    const ProgramRun run = runQuillbox(target, {"/r", "/f:" + backup, "/p:C:\\Undo"});
    const std::string said = run.out + run.err;
    EXPECT_EQ(run.status, 1) << said;
    EXPECT_NE(said.find("\\x1b]2;pwned\\x07\\r\\nevil ctl.dbx\" was skipped: its name holds a "
                        "control character"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find_first_of("\a\x1b\r"), std::string::npos) << said;
    EXPECT_FALSE(anyNameContains(target.prefix(), "evil"))
        << testing::PrintToString(treeOf(target.host(install.storeFolders[0])));
    // The rest came back into the store, which was there before.
    EXPECT_EQ(target.readFile(install.storeFolders[0] + "\\Inbox.dbx"),
              stored(backup).at(kMain + "/Inbox.dbx"));
}

// A restore that stops midway says which registry files it had imported and
// which files it wrote, and names the backup that undoes it.
TEST_F(OutlookExpress, ARestoreThatFailsMidwayNamesTheRegistryFilesItImported) {
    installOutlookExpress(source, kIdentities);
    const std::string path = backUp(source);
    use(target);
    installOutlookExpress(target, {{"Main Identity", kOld}});
    // Where Ann's moved store goes, a file stands: her mail cannot be written.
    target.writeFile("C:\\Mail Store\\Ann", "a file in the way");
    jobs::archiveJob().undoBackup = "C:\\Undo\\oe.ebk";
    EXPECT_TRUE(jobs::RunRestore(path, kOE, selection({{"Main Identity", true}, {"Ann", true}}),
                                 allItems(kOE)));
    jobs::archiveJob().undoBackup.clear();
    const std::string errors = errorText();
    EXPECT_NE(errors.find("C:\\Mail Store\\Ann"), std::string::npos) << errors;
    EXPECT_NE(errors.find(" file(s) of the client were written, the first "), std::string::npos)
        << errors;
    const size_t imported = errors.find("Imported into the registry: ");
    ASSERT_NE(imported, std::string::npos) << errors;
    for (const char* name : {"\"Main Identity\\identity.reg\"", "\"Main Identity\\accounts.reg\"",
                             "\"Ann\\identity.reg\"", "\"Ann\\rules.reg\"", "\"address.reg\""})
        EXPECT_NE(errors.find(name, imported), std::string::npos) << name << " in:\n" << errors;
    EXPECT_EQ(errors.find("Not imported:"), std::string::npos) << errors;
    EXPECT_NE(errors.find("To undo the restore, restore C:\\Undo\\oe.ebk."), std::string::npos);
    // What it says is what happened.
    EXPECT_TRUE(catalog::keyExists(RootKey::CurrentUser, identity(kAnn)));
    EXPECT_EQ(target.readFile("C:\\Mail Store\\Ann"), "a file in the way");

    // Nothing imported: said so.
    use(source);
    const std::string none = shared("none.ebk");
    writeBackup(*platform::hostPath(none),
                {{"infobak.ini",
                  "[Backup]\r\nEmailClient=OutlookExpress\r\n[Identities]\r\n"
                  "Item1=Main Identity\r\n[Items]\r\nItem1=Mail Folders\r\n"
                  "[Directory]\r\nItem1=" +
                      kMain + "\r\n"},
                 {"others.ini", "[Directory]\r\nItem1=C:\\Mail Store\\Ann\\Main\r\n"},
                 {kMain + "/Inbox.dbx", "mail"}});
    use(target);
    EXPECT_TRUE(jobs::RunRestore(none, kOE, selection({{"Main Identity", true}}),
                                 onlyItems(kOE, {"Mail Folders"})));
    EXPECT_NE(errorText().find("No registry file of the backup was imported."), std::string::npos)
        << errorText();
}

TEST_F(OutlookExpress, CommandLineBacksUpAndRestoresIntoAnotherMachine) {
    installOutlookExpress(source, kIdentities);
    const std::string backup = backupThroughProgram(source, "oexpress", "OExpressBackup ");
    ASSERT_FALSE(backup.empty());
    const StoredFiles entries = stored(backup);
    for (const char* name : {"infobak.ini", "others.ini", "stationery.ini", "address.reg",
                             "Main Identity/identity.reg", "Ann/rules.reg"})
        EXPECT_TRUE(entries.has(name)) << name;
    EXPECT_TRUE(entries.has(kAnn + "/Old Folders/Inbox.dbx"));

    use(target);
    installOutlookExpress(target, {{"Main Identity", kOld}});
    moveBackup(backup, target);
    ASSERT_TRUE(restoreThroughProgram(target, backup));
    EXPECT_FALSE(catalog::keyExists(RootKey::CurrentUser, identity(kOld)));
    const std::string mainStore = "C:\\users\\bob\\Local Settings\\Application Data\\Identities\\" +
                                  kMain + "\\Microsoft\\Outlook Express";
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kMain, kSettings), "Store Root"), mainStore);
    EXPECT_EQ(target.readFile(mainStore + "\\Inbox.dbx"), entries.at(kMain + "/Inbox.dbx"));
    EXPECT_EQ(target.readFile("C:\\Mail Store\\Ann\\Old Folders\\Inbox.dbx"),
              entries.at(kAnn + "/Old Folders/Inbox.dbx"));
    EXPECT_EQ(
        text(RootKey::CurrentUser, identity(kAnn, kSettings + "\\Signatures\\00000000"), "text"),
        "-- \r\nAnn");
}

// Every backup is read back before it takes its place; "/t" tests any backup file
// the same way and names the first damaged entry.
TEST_F(OutlookExpress, TestOfABackupNamesItsFirstDamagedEntry) {
    installOutlookExpress(source, kIdentities);
    const std::string backup = backupThroughProgram(source, "oexpress", "OExpressBackup ");
    ASSERT_FALSE(backup.empty());
    use(source);
    const fs::path file = *platform::hostPath(backup);
    for (const auto& e : fs::directory_iterator(file.parent_path()))
        EXPECT_EQ(e.path(), file) << "left behind by the backup";
    const ProgramRun whole = runQuillbox(source, {"/t", "/f:" + backup});
    EXPECT_EQ(whole.status, 0) << whole.out << whole.err;
    EXPECT_NE(whole.out.find("every entry is whole"), std::string::npos) << whole.out;

    // One byte of the stored Inbox.dbx of Ann changed: its data follows its
    // local header (30 bytes, the name, the extra field).
    std::string bytes = readHostFile(file);
    const std::string name = kAnn + "/Inbox.dbx";
    const size_t at = bytes.find(name);
    ASSERT_NE(at, std::string::npos);
    const auto u16 = [&](size_t p) {
        return static_cast<size_t>(static_cast<unsigned char>(bytes[p])) |
               static_cast<size_t>(static_cast<unsigned char>(bytes[p + 1])) << 8;
    };
    ASSERT_EQ(bytes.compare(at - 30, 4, "PK\x03\x04"), 0);
    const size_t data = at + u16(at - 4) + u16(at - 2);
    bytes[data + 3] = static_cast<char>(bytes[data + 3] ^ 0x5A);
    writeHostFile(file, bytes);
    const ProgramRun damaged = runQuillbox(source, {"/T", "/F:" + backup});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.err.find("damaged entry " + kAnn + "\\Inbox.dbx"), std::string::npos)
        << damaged.err;
    EXPECT_EQ(runQuillbox(source, {"/t", "/f:C:\\No such.ebk"}).status, 1);
    EXPECT_EQ(runQuillbox(source, {"/t"}).status, 1);
}

// The real Wine server for a machine's prefix while the object lives, as when a
// Windows program of that machine runs.
class RunningWine {
  public:
    explicit RunningWine(const fs::path& prefix) : prefix_(prefix) {
        wine("wineserver -p");
        for (int i = 0; i < 500 && !platform::wineServerProcess(prefix_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(platform::wineServerProcess(prefix_)) << "no Wine server started";
    }
    ~RunningWine() { wine("wineserver -k"); }
    RunningWine(const RunningWine&) = delete;
    RunningWine& operator=(const RunningWine&) = delete;

  private:
    void wine(const std::string& command) {
        const std::string line =
            "WINEPREFIX='" + prefix_.string() + "' " + command + " >/dev/null 2>&1";
        if (std::system(line.c_str()) != 0) ADD_FAILURE() << line;
    }
    fs::path prefix_;
};

TEST_F(OutlookExpress, WhileWineRunsABackupOnlyReadsAndARestoreWritesNothing) {
    installOutlookExpress(source, kIdentities);
    // Keys the client makes only when they are first used.
    platform::Registry(RootKey::CurrentUser).deleteKey(identity(kAnn, kSettings + "\\Rules"));
    platform::Registry(RootKey::CurrentUser)
        .deleteKey(identity(kAnn, kSettings + "\\Block Senders"));
    platform::flushRegistry();
    const std::string hive = readHostFile(source.prefix() / "user.reg");
    std::string backup;
    {
        RunningWine wine(source.prefix());
        backup = backupThroughProgram(source, "oexpress", "OExpressBackup ");
        // Checked while Wine runs: it saves the registry in its own order when it ends.
        EXPECT_TRUE(readHostFile(source.prefix() / "user.reg") == hive);
    }
    ASSERT_FALSE(backup.empty());
    const StoredFiles entries = stored(backup);
    EXPECT_NE(entries.at("Ann/rules.reg").find(kSettings.substr(1) + "\\Rules]"),
              std::string::npos);
    EXPECT_TRUE(entries.has(kAnn + "/Inbox.dbx"));

    use(target);
    const OEInstall install = installOutlookExpress(target, {{"Main Identity", kOld}});
    const std::string inbox = install.storeFolders[0] + "\\Inbox.dbx";
    const std::string before = target.readFile(inbox);
    moveBackup(backup, target);
    ProgramRun run;
    {
        RunningWine wine(target.prefix());
        run = runQuillbox(target, {"/r", "/f:" + backup, "/p:C:\\Restore"});
    }
    use(target);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find("Nothing was restored"), std::string::npos)
        << run.out << run.err;
    EXPECT_NE((run.out + run.err).find("Wine server"), std::string::npos) << run.out << run.err;
    EXPECT_EQ(target.readFile(inbox), before);
    EXPECT_TRUE(catalog::keyExists(RootKey::CurrentUser, identity(kOld)));
}

}  // namespace
}  // namespace qb::test
