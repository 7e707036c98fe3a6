#include "clients/outlook_express.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <map>
#include <set>

#include "catalog/identities.h"
#include "catalog/reads.h"
#include "clients/all_clients.h"
#include "jobs/archive_job.h"
#include "jobs/job_progress.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "support/interaction.h"
#include "support/msg_texts.h"
#include "testkit/clients_fixture.h"
#include "testkit/testkit.h"

using namespace qb;
using platform::RootKey;
using qb::test::FakeMachine;
using qb::test::TempDir;
namespace fs = std::filesystem;
namespace oe = qb::clients::oe;

namespace {

const std::string kMain = "{3F1B2E8A-6C1D-4E7B-9A52-0D4C8E7F1A21}";
const std::string kAnn = "{B7A4C0D2-1E3F-4A5B-8C6D-7E8F9A0B1C2D}";
const std::string kOld = "{00000000-1111-2222-3333-444444444444}";

// The two identities of the machine that is backed up: the client's default store
// (below %UserProfile%) and one the person moved, stored with a trailing backslash.
const std::vector<test::OEIdentity> kIdentities = {{"Main Identity", kMain},
                                                   {"Ann", kAnn, "C:\\Mail Store\\Ann\\"}};

const std::vector<std::string> kRegFiles = {"accounts.reg", "accounts2.reg", "blockedsender.reg",
                                            "identity.reg", "identity2.reg", "rules.reg",
                                            "settings.reg", "settings2.reg", "signatures.reg"};
const std::vector<std::string> kStoreFiles = {
    ".cleanup.log", "Deleted Items.dbx", "Drafts.dbx",    "Folders.dbx",
    "Inbox.dbx",    "Offline.dbx",       "Old Folders/",  "Old Folders/Inbox.dbx",
    "Outbox.dbx",   "Pop3uidl.dbx",      "Sent Items.dbx"};

// The names and contents of a ZIP file, read with libarchive (names with "/",
// folders ending in "/").
std::map<std::string, std::string> readZip(const fs::path& file) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::map<std::string, std::string> out;
    struct archive* a = archive_read_new();
    archive_read_support_format_zip(a);
    if (archive_read_open_filename(a, file.c_str(), 65536) != ARCHIVE_OK) {
        ADD_FAILURE() << "cannot open " << file << ": " << archive_error_string(a);
        archive_read_free(a);
        return out;
    }
    struct archive_entry* e;
    while (archive_read_next_header(a, &e) == ARCHIVE_OK) {
        std::string data;
        char buf[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
            data.append(buf, static_cast<size_t>(n));
        const char* name = archive_entry_pathname_utf8(e);
        out[name ? name : "?"] = std::move(data);
    }
    archive_read_free(a);
    return out;
}

// Writes a ZIP file whose entries have exactly the given names.
void writeZip(const fs::path& file, const std::vector<std::pair<std::string, std::string>>& files) {
    struct archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    ASSERT_EQ(archive_write_open_filename(a, file.c_str()), ARCHIVE_OK);
    for (const auto& [name, data] : files) {
        struct archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, name.c_str());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, static_cast<la_int64_t>(data.size()));
        archive_write_header(a, e);
        archive_write_data(a, data.data(), data.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
}

// Every file and folder below a host folder, relative, "/" separated, folders
// ending in "/".
std::vector<std::string> treeOf(const fs::path& root) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::end(it); ++it) {
        std::string rel = fs::relative(it->path(), root).generic_string();
        if (it->is_directory()) rel += "/";
        names.push_back(rel);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs the quillbox program on the machine at `prefix` without a terminal;
// returns its exit status. Its output goes to `log`.
int runQuillbox(const std::vector<std::string>& args, const fs::path& prefix, const fs::path& log) {
    platform::flushRegistry();
    const std::string program = QB_BIN_DIR "/quillbox";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::setenv("QUILLBOX_PREFIX", prefix.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    // The program changed the machine's hives: read them afresh.
    platform::unloadRegistry();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Selection select(const std::vector<std::pair<std::string, bool>>& entries) {
    Selection s;
    for (const auto& [name, checked] : entries)
        s.add(name, checked);
    return s;
}

Selection allItems() {
    Selection s;
    for (const std::string& item : BackupItems(kind::OutlookExpress))
        s.add(item, true);
    return s;
}

Selection onlyItems(const std::set<std::string>& chosen) {
    Selection s;
    for (const std::string& item : BackupItems(kind::OutlookExpress))
        s.add(item, chosen.count(item) > 0);
    return s;
}

std::string text(RootKey root, std::string_view key, std::string_view name) {
    return catalog::readText(root, key, name);
}

std::string identity(const std::string& g, std::string_view below = "") {
    return "\\identities\\" + g + std::string(below);
}
const std::string kSettings = "\\Software\\Microsoft\\Outlook Express\\5.0";

class OutlookExpress : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ::setenv("QUILLBOX_SQX", QB_BIN_DIR "/libsqx.so", 0);
        clients::RegisterAllClients();
    }

    // Makes `m` the machine the jobs work on (its own staging folder).
    void use(const FakeMachine& m) {
        m.activate();
        const char* lang = "C:\\Program Files\\Quillbox\\English.lng";
        ASSERT_TRUE(platform::forceDirectories(platform::extractFilePath(lang)));
        ASSERT_TRUE(WriteBuiltInLanguageFile(lang));
        ASSERT_TRUE(jobs::InitJobModule(lang));
        jobs::ArchiveJob& job = jobs::archiveJob();
        job.errorFlag = false;
        job.errorText.clear();
        job.aborted = false;
        job.abortRequest = false;
    }

    // A backup file in the shared folder, as every machine reaches it (drive Z:).
    std::string shared(std::string_view name) const {
        return platform::windowsPath(backups.path() / std::string(name));
    }

    // Backs up the person's identities, all items, on `m`.
    std::string backUp(const FakeMachine& m, const Selection& items = allItems()) {
        use(m);
        Selection ids;
        for (const std::string& n : ListIdentities(kind::OutlookExpress))
            ids.add(n, true);
        const std::string path = shared("oe.ebk");
        EXPECT_FALSE(jobs::RunBackup(path, kind::OutlookExpress, ids, items))
            << jobs::archiveJob().errorText;
        return path;
    }

    // The entries of a backup file of the shared folder (whichever machine is current).
    std::map<std::string, std::string> entriesOf(const std::string& backupPath) {
        return readZip(backups.path() / platform::extractFileName(backupPath));
    }

    // An INI file of a backup, readable through IniFile.
    platform::IniFile iniOf(const std::map<std::string, std::string>& entries,
                            const std::string& name) {
        const fs::path file = backups.path() / ("extracted-" + name);
        test::writeHostFile(file, entries.at(name));
        return platform::IniFile(platform::windowsPath(file));
    }

    struct QuietProgress : jobs::JobProgress {
        void progress(int, int, std::string_view) override {}
    };

    TempDir backups;
    ScriptedInteraction boxes;
    ScopedInteraction scope{boxes};
    QuietProgress quiet;
    jobs::ScopedJobProgress progressScope{quiet};
};

}  // namespace

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
    FakeMachine ann("ann");
    const test::OEInstall install = test::installOutlookExpress(ann, kIdentities);
    const auto entries = entriesOf(backUp(ann));

    std::vector<std::string> expected = {"infobak.ini",
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
            expected.push_back(n + "/" + f);
    for (const std::string& g : {kMain, kAnn})
        for (const std::string& f : kStoreFiles)
            expected.push_back(g + "/" + f);
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> names;
    for (const auto& [name, data] : entries)
        names.push_back(name);
    EXPECT_EQ(names, expected);

    // The mail store straight from its folders, the moved one included.
    EXPECT_EQ(entries.at(kMain + "/Inbox.dbx"),
              ann.readFile(install.storeFolders[0] + "\\Inbox.dbx"));
    EXPECT_EQ(entries.at(kAnn + "/Old Folders/Inbox.dbx"),
              ann.readFile("C:\\Mail Store\\Ann\\Old Folders\\Inbox.dbx"));
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
    platform::IniFile manifest = iniOf(entries, "infobak.ini");
    EXPECT_EQ(manifest.readString("Backup", "EmailClient", ""), "OutlookExpress");
    EXPECT_EQ(manifest.readSectionValues("Identities"),
              (std::vector<std::string>{"Item1=Main Identity", "Item2=Ann"}));
    EXPECT_EQ(manifest.readSectionValues("Items").size(), 6u);
    EXPECT_EQ(manifest.readSectionValues("Directory"),
              (std::vector<std::string>{"Item1=" + kMain, "Item2=" + kAnn}));
    EXPECT_EQ(iniOf(entries, "others.ini").readSectionValues("Directory"),
              (std::vector<std::string>{"Item1=%UserProfile%\\Local Settings\\Application "
                                        "Data\\Identities\\" +
                                            kMain + "\\Microsoft\\Outlook Express",
                                        "Item2=C:\\Mail Store\\Ann"}));
    EXPECT_EQ(iniOf(entries, "stationery.ini").readString("Directory", "Stationery", ""),
              install.stationeryFolder + "\\");
}

TEST_F(OutlookExpress, BackupOfChosenIdentitiesAndItemsKeepsTheSectionsAligned) {
    FakeMachine ann("ann");
    test::installOutlookExpress(ann, kIdentities);
    use(ann);

    // Only the second identity: line 1 of every section is Ann's.
    const std::string path = shared("second.ebk");
    ASSERT_FALSE(jobs::RunBackup(path, kind::OutlookExpress,
                                 select({{"Main Identity", false}, {"Ann", true}}),
                                 onlyItems({"Signatures"})))
        << jobs::archiveJob().errorText;
    auto entries = entriesOf(path);
    EXPECT_EQ(iniOf(entries, "infobak.ini").readSectionValues("Directory"),
              std::vector<std::string>{"Item1=" + kAnn});
    EXPECT_EQ(iniOf(entries, "infobak.ini").readSectionValues("Identities"),
              std::vector<std::string>{"Item1=Ann"});
    EXPECT_EQ(iniOf(entries, "others.ini").readSectionValues("Directory"),
              std::vector<std::string>{"Item1=C:\\Mail Store\\Ann"});
    EXPECT_EQ(iniOf(entries, "stationery.ini").readString("Directory", "Stationery", ""),
              "C:\\Program Files\\Common Files\\Microsoft Shared\\Stationery\\");
    EXPECT_TRUE(entries.count("Ann/signatures.reg"));
    EXPECT_FALSE(entries.count("Ann/accounts.reg"));
    EXPECT_FALSE(entries.count("Main Identity/identity.reg"));
    EXPECT_FALSE(entries.count(kAnn + "/Inbox.dbx"));

    // An identity that matches no key still has its line, empty, in each section;
    // only the address book: no identity at all.
    const std::string book = shared("book.ebk");
    ASSERT_FALSE(jobs::RunBackup(book, kind::OutlookExpress, select({{"Nobody", true}}),
                                 onlyItems({"Address Book"})))
        << jobs::archiveJob().errorText;
    entries = entriesOf(book);
    std::vector<std::string> names;
    for (const auto& [name, data] : entries)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Address Book/ann.wab", "Address Book/ann.wa~",
                                               "address.reg", "infobak.ini", "others.ini",
                                               "stationery.ini"}));
    EXPECT_EQ(iniOf(entries, "infobak.ini").readSectionValues("Directory"),
              std::vector<std::string>{"Item1="});
    EXPECT_EQ(iniOf(entries, "others.ini").readSectionValues("Directory"),
              std::vector<std::string>{"Item1="});
    ASSERT_FALSE(jobs::RunBackup(book, kind::OutlookExpress,
                                 select({{"Main Identity", false}, {"Ann", false}}),
                                 onlyItems({"Address Book"})))
        << jobs::archiveJob().errorText;
    entries = entriesOf(book);
    EXPECT_TRUE(iniOf(entries, "infobak.ini").readSectionValues("Identities").empty());
    EXPECT_TRUE(entries.count("Address Book/ann.wab"));
}

TEST_F(OutlookExpress, IdentitiesOfOneNameAreBothPackedEachUnderItsKey) {
    FakeMachine ann("ann");
    test::installOutlookExpress(ann, {{"Main Identity", kMain}, {"Main Identity", kAnn}});
    const auto entries = entriesOf(backUp(ann, onlyItems({"Mail Folders"})));
    EXPECT_TRUE(entries.count(kMain + "/Inbox.dbx"));
    EXPECT_TRUE(entries.count(kAnn + "/Inbox.dbx"));
    EXPECT_TRUE(entries.count("Main Identity/identity.reg"));
}

TEST_F(OutlookExpress, BackupWithoutAFolderToPackFailsAndKeepsTheOlderBackup) {
    FakeMachine ann("ann");
    test::installOutlookExpress(ann, kIdentities);
    use(ann);
    const std::string path = shared("kept.ebk");
    test::writeHostFile(*platform::hostPath(path), "an older backup");
    auto run = [&](const Selection& items) {
        return jobs::RunBackup(path, kind::OutlookExpress,
                               select({{"Main Identity", true}, {"Ann", true}}), items);
    };

    // No "Store Root": the search would run on the current drive's root.
    platform::Registry(RootKey::CurrentUser).deleteKey(identity(kAnn, kSettings));
    {
        platform::Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKey(identity(kMain, kSettings), false));
        reg.deleteValue("Store Root");
    }
    EXPECT_TRUE(run(onlyItems({"Mail Folders"})));
    EXPECT_NE(jobs::archiveJob().errorText.find("\"Main Identity\""), std::string::npos)
        << jobs::archiveJob().errorText;
    EXPECT_NE(jobs::archiveJob().errorText.find("\"Ann\""), std::string::npos);
    EXPECT_EQ(test::readHostFile(*platform::hostPath(path)), "an older backup");
    // Without the mail folders the same identities back up.
    EXPECT_FALSE(run(onlyItems({"Accounts Settings"}))) << jobs::archiveJob().errorText;
    test::writeHostFile(*platform::hostPath(path), "an older backup");

    // No address book file name, no stationery folder.
    test::setString(RootKey::CurrentUser, "\\Software\\Microsoft\\WAB\\WAB4\\Wab File Name", "",
                    "");
    EXPECT_TRUE(run(onlyItems({"Address Book"})));
    EXPECT_NE(jobs::archiveJob().errorText.find("address book"), std::string::npos);
    test::setString(RootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Shared Tools\\Stationery",
                    "Stationery Folder", "C:\\");
    EXPECT_TRUE(run(onlyItems({"Stationery"})));
    EXPECT_NE(jobs::archiveJob().errorText.find("stationery"), std::string::npos);
    EXPECT_EQ(test::readHostFile(*platform::hostPath(path)), "an older backup");

    // No application data folder: nothing can be resolved.
    {
        platform::Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKey(
            "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false));
        reg.deleteValue("AppData");
    }
    EXPECT_TRUE(run(onlyItems({"Signatures"})));
    EXPECT_EQ(jobs::archiveJob().errorText, " Error code: 3120");
    EXPECT_EQ(test::readHostFile(*platform::hostPath(path)), "an older backup");
}

TEST_F(OutlookExpress, IdentityWhoseNameCannotBeAFolderIsSkipped) {
    FakeMachine ann("ann");
    test::installOutlookExpress(ann, {{"..\\..\\evil", kMain}, {"Ann", kAnn}});
    use(ann);
    const std::string path = shared("names.ebk");
    EXPECT_TRUE(jobs::RunBackup(path, kind::OutlookExpress,
                                select({{"..\\..\\evil", true}, {"Ann", true}}), allItems()));
    EXPECT_NE(jobs::archiveJob().errorText.find("\"..\\..\\evil\""), std::string::npos)
        << jobs::archiveJob().errorText;
    const auto entries = entriesOf(path);
    EXPECT_TRUE(entries.count("Ann/identity.reg"));
    EXPECT_TRUE(entries.count(kAnn + "/Inbox.dbx"));
    EXPECT_FALSE(entries.count(kMain + "/Inbox.dbx"));
    for (const auto& [name, data] : entries)
        EXPECT_EQ(name.find(".."), std::string::npos) << name;
    EXPECT_EQ(iniOf(entries, "infobak.ini").readSectionValues("Directory"),
              (std::vector<std::string>{"Item1=", "Item2=" + kAnn}));
    // Nothing was written beside the staging folder.
    const fs::path staging = *platform::hostPath(jobs::archiveJob().stagingFolder);
    for (const std::string& name : treeOf(staging.parent_path().parent_path()))
        EXPECT_EQ(name.find("evil"), std::string::npos) << name;
}

TEST_F(OutlookExpress, RestoreIntoAnotherMachineImportsTheSettingsAndMovesTheFiles) {
    std::string path;
    {
        FakeMachine ann("ann");
        test::installOutlookExpress(ann, kIdentities);
        path = backUp(ann);
    }
    const auto entries = entriesOf(path);

    // Bob has an identity of the same name under another key, and his stationery
    // in a folder of his own.
    FakeMachine bob("bob");
    test::installOutlookExpress(bob, {{"Main Identity", kOld}});
    test::setString(RootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Shared Tools\\Stationery",
                    "Stationery Folder", "%SystemDrive%\\Stationery Bob\\");
    use(bob);
    ASSERT_FALSE(jobs::RunRestore(path, kind::OutlookExpress,
                                  select({{"Main Identity", true}, {"Ann", true}}), allItems()))
        << jobs::archiveJob().errorText;

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
            EXPECT_EQ(bob.readFile(store + "\\" + win), entries.at(g + "/" + f)) << g << " " << f;
        }
    }

    // The address book goes where the restored file name points; the stationery
    // into this machine's stationery folder.
    const std::string wab = "C:\\users\\ann\\AppData\\Roaming\\Microsoft\\Address Book\\ann.wab";
    EXPECT_EQ(text(RootKey::CurrentUser, "\\Software\\Microsoft\\WAB\\WAB4\\Wab File Name", ""),
              wab);
    EXPECT_EQ(bob.readFile(wab), entries.at("Address Book/ann.wab"));
    EXPECT_EQ(treeOf(bob.host("C:\\Stationery Bob")),
              (std::vector<std::string>{"Ivy.gif", "Ivy.htm", "Sample Pack/",
                                        "Sample Pack/Blue Note.htm"}));
    EXPECT_EQ(text(RootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Shared Tools\\Stationery",
                   "Stationery Folder"),
              "%SystemDrive%\\Stationery Bob\\");
}

TEST_F(OutlookExpress, RestorePairsIdentitiesByPositionAndFillsInMissingPlaces) {
    const std::string kWork = "{A1B2C3D4-0000-4000-8000-000000000003}";  // between the two
    std::string path, noStore;
    {
        FakeMachine ann("ann");
        test::installOutlookExpress(ann, {{"Main Identity", kMain},
                                          {"Work", kWork, "C:\\Work Mail"},
                                          {"Ann", kAnn, "C:\\Mail Store\\Ann\\"}});
        path = backUp(ann);
        // A backup of an identity without "Store Root" (its mail not chosen).
        platform::Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKey(identity(kMain, kSettings), false));
        reg.deleteValue("Store Root");
        reg.closeKey();
        noStore = shared("no store.ebk");
        ASSERT_FALSE(jobs::RunBackup(noStore, kind::OutlookExpress,
                                     select({{"Main Identity", true}}),
                                     onlyItems({"Accounts Settings"})))
            << jobs::archiveJob().errorText;
    }

    // Bob's stationery value exists but is empty.
    FakeMachine bob("bob");
    test::setString(RootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Shared Tools\\Stationery",
                    "Stationery Folder", "");
    use(bob);
    ASSERT_FALSE(jobs::RunRestore(path, kind::OutlookExpress,
                                  select({{"Main Identity", true}, {"Work", false}, {"Ann", true}}),
                                  onlyItems({"Mail Folders", "Stationery"})))
        << jobs::archiveJob().errorText;
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
    ASSERT_FALSE(jobs::RunRestore(noStore, kind::OutlookExpress, select({{"Main Identity", true}}),
                                  allItems()))
        << jobs::archiveJob().errorText;
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kMain, kSettings), "Store Root"),
              "C:\\users\\bob\\OExpress\\" + kMain);
}

TEST_F(OutlookExpress, RestoreIntoAFolderLaysOutTheBackupWithoutTouchingTheRegistry) {
    std::string path;
    {
        FakeMachine ann("ann");
        test::installOutlookExpress(ann, kIdentities);
        path = backUp(ann);
    }
    FakeMachine bob("bob");
    use(bob);
    const Selection ids = select({{"Main Identity", true}, {"Ann", true}});
    ASSERT_FALSE(jobs::RunRestoreToFolder(path, "C:\\Restored Mail\\", kind::OutlookExpress, ids,
                                          allItems()))
        << jobs::archiveJob().errorText;
    std::vector<std::string> expected = {"Address Book/",
                                         "Address Book/ann.wa~",
                                         "Address Book/ann.wab",
                                         "Stationery/",
                                         "Stationery/Ivy.gif",
                                         "Stationery/Ivy.htm",
                                         "Stationery/Sample Pack/",
                                         "Stationery/Sample Pack/Blue Note.htm",
                                         "address.reg"};
    for (const std::string& n : {std::string("Main Identity"), std::string("Ann")}) {
        expected.push_back(n + "/");
        for (const std::string& f : kRegFiles)
            expected.push_back(n + "/" + f);
    }
    for (const std::string& g : {kMain, kAnn}) {
        expected.push_back(g + "/");
        for (const std::string& f : kStoreFiles)
            expected.push_back(g + "/" + f);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(treeOf(bob.host("C:\\Restored Mail")), expected);
    EXPECT_FALSE(catalog::keyExists(RootKey::CurrentUser, "\\identities"));
    EXPECT_TRUE(
        text(RootKey::CurrentUser, "\\Software\\Microsoft\\WAB\\WAB4\\Wab File Name", "").empty());

    ASSERT_FALSE(jobs::RunRestoreToFolder(path, "C:\\Book Only\\", kind::OutlookExpress,
                                          select({{"Main Identity", false}, {"Ann", false}}),
                                          onlyItems({"Address Book"})))
        << jobs::archiveJob().errorText;
    EXPECT_EQ(treeOf(bob.host("C:\\Book Only")),
              (std::vector<std::string>{"Address Book/", "Address Book/ann.wab",
                                        "Address Book/ann.wa~", "address.reg"}));
}

TEST_F(OutlookExpress, HostileBackupWritesNothingOutsideItsDestinations) {
    FakeMachine bob("bob");
    use(bob);
    TempDir sentinel;
    const std::string absolute = platform::windowsPath(sentinel.path() / "evil drive.txt");
    std::string zipAbsolute = absolute;
    std::replace(zipAbsolute.begin(), zipAbsolute.end(), '\\', '/');
    const std::string idKey = "[HKEY_CURRENT_USER\\identities\\" + kMain;
    const std::string path = shared("hostile.ebk");
    writeZip(
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
        for (const fs::path& root : {bob.prefix(), sentinel.path(), backups.path()})
            for (const std::string& name : treeOf(root))
                EXPECT_EQ(name.find("evil"), std::string::npos) << name;
        EXPECT_FALSE(catalog::keyExists(RootKey::LocalMachine, "\\Software\\Evil Run"));
        EXPECT_FALSE(catalog::keyExists(RootKey::LocalMachine, "\\Software\\Evil Sig"));
        EXPECT_FALSE(catalog::keyExists(RootKey::CurrentUser, "\\Software\\Evil Rules"));
    };
    const Selection ids =
        select({{"Main Identity", true}, {"..\\..\\evil identity", true}, {"Bad Key", true}});

    EXPECT_TRUE(jobs::RunRestore(path, kind::OutlookExpress, ids, allItems()));
    const std::string errors = jobs::archiveJob().errorText;
    for (const char* named : {"evil store", "..\\..\\evil identity", "evil key", "Evil Run",
                              "Evil Rules", "evil book", "evil stationery", "evil parent.dbx"})
        EXPECT_NE(errors.find(named), std::string::npos) << named << " in:\n" << errors;
    nothingEvil();
    // What is sound in it is restored, the store in the default place.
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kMain), "Username"), "Main Identity");
    const std::string store = "C:\\users\\bob\\OExpress\\" + kMain;
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kMain, kSettings), "Store Root"), store);
    EXPECT_EQ(treeOf(bob.host(store)), std::vector<std::string>{"Inbox.dbx"});
    EXPECT_EQ(
        text(RootKey::CurrentUser, identity(kMain, kSettings + "\\Signatures\\00000000"), "text"),
        "-- \r\n[HKEY_LOCAL_MACHINE\\Software\\Evil Sig]");
    EXPECT_FALSE(catalog::keyExists(RootKey::CurrentUser, identity(kAnn)));
    EXPECT_EQ(treeOf(bob.host("C:\\users\\bob\\OExpress\\Stationery")),
              std::vector<std::string>{"good.htm"});

    EXPECT_TRUE(
        jobs::RunRestoreToFolder(path, "C:\\Hostile\\", kind::OutlookExpress, ids, allItems()));
    nothingEvil();
    EXPECT_EQ(treeOf(bob.host("C:\\Hostile")),
              (std::vector<std::string>{"Address Book/", "Address Book/good.wab", "Main Identity/",
                                        "Main Identity/accounts.reg", "Main Identity/identity.reg",
                                        "Main Identity/identity2.reg", "Main Identity/rules.reg",
                                        "Main Identity/signatures.reg", "Stationery/",
                                        "Stationery/good.htm", "address.reg", kMain + "/",
                                        kMain + "/Inbox.dbx"}));
}

TEST_F(OutlookExpress, CommandLineBacksUpAndRestoresIntoAnotherMachine) {
    if (!fs::exists(QB_BIN_DIR "/quillbox")) GTEST_SKIP() << "the quillbox program is not built";
    const fs::path log = backups.path() / "quillbox.log";
    const fs::path folder = backups.path() / "cli";
    {
        FakeMachine ann("ann");
        test::installOutlookExpress(ann, kIdentities);
        ASSERT_EQ(
            runQuillbox({"/b", "/c:oexpress", "/p:" + folder.string(), "-"}, ann.prefix(), log), 0)
            << test::readHostFile(log);
    }
    std::vector<std::string> files = treeOf(folder);
    ASSERT_EQ(files.size(), 1u) << test::readHostFile(log);
    const fs::path backup = folder / files.front();
    EXPECT_EQ(backup.extension(), ".ebk");
    const auto entries = readZip(backup);
    for (const char* name : {"infobak.ini", "others.ini", "stationery.ini", "address.reg",
                             "Main Identity/identity.reg", "Ann/rules.reg"})
        EXPECT_TRUE(entries.count(name)) << name;
    EXPECT_TRUE(entries.count(kAnn + "/Old Folders/Inbox.dbx"));

    FakeMachine bob("bob");
    test::installOutlookExpress(bob, {{"Main Identity", kOld}});
    ASSERT_EQ(runQuillbox({"/r", "/f:" + backup.string(), "/p:" + (folder / "bob").string()},
                          bob.prefix(), log),
              0)
        << test::readHostFile(log);
    bob.activate();
    EXPECT_FALSE(catalog::keyExists(RootKey::CurrentUser, identity(kOld)));
    const std::string mainStore = "C:\\users\\bob\\Local Settings\\Application Data\\Identities\\" +
                                  kMain + "\\Microsoft\\Outlook Express";
    EXPECT_EQ(text(RootKey::CurrentUser, identity(kMain, kSettings), "Store Root"), mainStore);
    EXPECT_EQ(bob.readFile(mainStore + "\\Inbox.dbx"), entries.at(kMain + "/Inbox.dbx"));
    EXPECT_EQ(bob.readFile("C:\\Mail Store\\Ann\\Old Folders\\Inbox.dbx"),
              entries.at(kAnn + "/Old Folders/Inbox.dbx"));
    EXPECT_EQ(
        text(RootKey::CurrentUser, identity(kAnn, kSettings + "\\Signatures\\00000000"), "text"),
        "-- \r\nAnn");
}
