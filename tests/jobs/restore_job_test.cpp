#include "jobs/restore_job.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <functional>
#include <random>

#include "archive/archive_library.h"
#include "catalog/identities.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "jobs/job_progress.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/interaction.h"
#include "support/msg_texts.h"
#include "testkit/job_kit.h"
#include "testkit/testkit.h"
#include "testkit/zip_declaring.h"

using namespace qb;
using namespace qb::jobs;
using qb::test::FakeMachine;
using qb::test::randomBytes;
using qb::test::selection;
using qb::test::startJobModule;
namespace fs = std::filesystem;

namespace {

const char* kLang = "C:\\Program Files\\Quillbox\\English.lng";
const char* kBackup = "C:\\Backups\\mail.ebk";

struct ZipItem {
    std::string name;  // as stored: a folder ends in "/"
    std::string data;
};

// Writes a ZIP with libarchive, names exactly as given: the hostile backups that
// our own backups never make.
void writeZip(const fs::path& file, const std::vector<ZipItem>& items) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    fs::create_directories(file.parent_path());
    struct archive* a = archive_write_new();
    ASSERT_EQ(archive_write_set_format_zip(a), ARCHIVE_OK);
    ASSERT_EQ(archive_write_open_filename(a, file.c_str()), ARCHIVE_OK);
    for (const ZipItem& item : items) {
        const bool folder = !item.name.empty() && item.name.back() == '/';
        struct archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, item.name.c_str());
        archive_entry_set_filetype(e, folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(e, folder ? 0755 : 0644);
        archive_entry_set_size(e, folder ? 0 : static_cast<la_int64_t>(item.data.size()));
        ASSERT_EQ(archive_write_header(a, e), ARCHIVE_OK) << item.name;
        if (!folder) archive_write_data(a, item.data.data(), item.data.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
}

std::string manifestText(std::string_view client, std::vector<std::string> identities = {},
                         std::vector<std::string> items = {}) {
    std::string s = "[Backup]\r\nEmailClient=" + std::string(client) + "\r\n[Identities]\r\n";
    for (size_t i = 0; i < identities.size(); ++i)
        s += "Item" + std::to_string(i + 1) + "=" + identities[i] + "\r\n";
    s += "[Items]\r\n";
    for (size_t i = 0; i < items.size(); ++i)
        s += "Item" + std::to_string(i + 1) + "=" + items[i] + "\r\n";
    return s;
}

// Files below a host folder, relative, "/" separators, sorted.
std::vector<std::string> treeOf(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    if (!fs::exists(folder, ec)) return names;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        std::string rel = fs::relative(e.path(), folder).generic_string();
        if (e.is_directory()) rel += "/";
        names.push_back(rel);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class RecordingProgress : public JobProgress {
  public:
    void progress(int overall, int item, std::string_view label) override {
        (void)item;
        (void)label;
        values.push_back(overall);
        if (onReport) onReport();
    }
    std::vector<int> values;
    std::function<void()> onReport;
};

// A file of the machine packed under an archive folder.
struct Packed {
    std::string source;
    std::string archiveFolder;
};

class RestoreJob : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(startJobModule(machine, kLang));
        ASSERT_TRUE(platform::forceDirectories("C:\\Backups"));
        staging = archiveJob().stagingFolder;
    }
    void TearDown() override {
        for (ClientKind k : registered) {
            RegisterBackupAdapter(k, nullptr);
            RegisterRestoreAdapter(k, nullptr, nullptr);
        }
        EndExtraction();
        archiveJob().abortRequest = false;
        archiveJob().password.clear();
        JobTexts().CloseFile();
    }

    // A backup made by the backup frame: each file under its archive folder (the
    // name inside is folder + "\" + file name), then the manifest unless left out.
    void packBackup(ClientKind kind, const std::vector<Packed>& files, const Selection& ids = {},
                    const Selection& items = {}, bool withManifest = true,
                    const char* path = kBackup) {
        registered.push_back(kind);
        RegisterBackupAdapter(kind, [&](BackupContext& ctx) {
            StartBackupFrame(ctx);
            for (const Packed& p : files)
                AddFileToJob(p.source, p.archiveFolder, platform::extractFilePath(p.source));
            CloseProgressGroup(ctx, "Everything");
            if (withManifest) {
                WriteManifest(ctx);
                AddStagingFileToJob(kManifestName);
            }
            FinishBackupFrame(ctx);
        });
        ASSERT_FALSE(RunBackup(path, kind, ids, items)) << archiveJob().errorText;
        archiveJob().errorFlag = false;
    }

    void extract(bool subFolders, const std::vector<std::pair<std::string, std::string>>& entries,
                 const char* backup = kBackup) {
        BeginExtraction(subFolders);
        for (const auto& [name, folder] : entries)
            AddExtractEntry(name, folder);
        ExtractJob(backup);
        EndExtraction();
    }
    void extractUnder(bool subFolders, const char* prefix, const char* folder) {
        BeginExtraction(subFolders);
        AddExtractEntriesUnder(prefix, folder);
        ExtractJob(kBackup);
        EndExtraction();
    }

    // One notice of the library, sent as it sends them; returns the record's file
    // name as the job leaves it.
    std::string notice(int32_t reason, const std::string& fileName = {}, int32_t percent = 0) {
        archive::CallbackRecord rec(raw.data());
        rec.writeInt(archive::CallbackRecord::kReasonOffset, reason);
        rec.writeInt(archive::CallbackRecord::kPercentOffset, percent);
        rec.setFileName(fileName);
        EXPECT_EQ(ArchiveCallback(0, raw.data()), archive::kAnswerGoOn);
        return rec.fileName();
    }

    FakeMachine machine;
    std::string staging;
    std::vector<unsigned char> raw = std::vector<unsigned char>(1024, 0);
    std::vector<ClientKind> registered;
    ScriptedInteraction boxes;
    ScopedInteraction interactionScope{boxes};
    RecordingProgress progress;
    ScopedJobProgress progressScope{progress};
};

}  // namespace

TEST_F(RestoreJob, ReadsTheClientFromTheManifest) {
    machine.writeFile("C:\\Mail\\a.txt", "a");
    packBackup(kind::PocoMail3, {{"C:\\Mail\\a.txt", "Mail"}});
    EXPECT_EQ(ReadBackupClient(kBackup), kind::PocoMail3);
    EXPECT_FALSE(archiveJob().errorFlag) << archiveJob().errorText;

    writeZip(machine.host("C:\\Backups\\lower.ebk"),
             {{"infobak.ini", manifestText("pocomail3")}, {"Mail/a.txt", "a"}});
    EXPECT_EQ(ReadBackupClient("C:\\Backups\\lower.ebk"), kind::None) << "keys compare exactly";

    // A backup without a manifest reads as no client, also when an earlier one
    // left its manifest in the staging folder.
    packBackup(kind::TheBat, {{"C:\\Mail\\a.txt", "Mail"}}, {}, {}, false, "C:\\Backups\\bare.ebk");
    machine.writeFile(StagingPath("infobak.ini"), manifestText("TheBat"));
    EXPECT_EQ(ReadBackupClient("C:\\Backups\\bare.ebk"), kind::None);
    EXPECT_FALSE(archiveJob().errorFlag);

    // A file that is no backup: no client, and an error naming the file.
    machine.writeFile("C:\\Backups\\junk.ebk", "this is not an archive at all");
    EXPECT_EQ(ReadBackupClient("C:\\Backups\\junk.ebk"), kind::None);
    EXPECT_TRUE(archiveJob().errorFlag);
    EXPECT_NE(archiveJob().errorText.find("junk.ebk"), std::string::npos) << archiveJob().errorText;
    ListArchive(kBackup);
    EXPECT_FALSE(ArchiveListing().empty());
    archiveJob().errorFlag = false;
    ListArchive("C:\\Backups\\junk.ebk");
    EXPECT_TRUE(ArchiveListing().empty());
    EXPECT_TRUE(archiveJob().errorFlag);
}

TEST_F(RestoreJob, ListsIdentitiesAndTheItemsTheBackupHolds) {
    machine.writeFile("C:\\Mail\\a.txt", "a");
    packBackup(kind::OutlookExpress, {{"C:\\Mail\\a.txt", "Mail"}},
               selection({{"Main Identity", true}, {"Unused", false}, {"Second", true}}),
               selection({{"Mail Folders", true}, {"Address Book", true}}));
    std::vector<bool> present;
    uint8_t count = 99;
    std::vector<std::string> identities, items;
    bool mismatch = true;
    EXPECT_TRUE(ListBackupContents(1, kBackup, present, count, identities, items, mismatch));
    EXPECT_FALSE(mismatch);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(present, (std::vector<bool>{false, true, false, false, true, false}));
    EXPECT_EQ(identities, (std::vector<std::string>{"Main Identity", "Second"}));
    EXPECT_EQ(items, BackupItems(kind::OutlookExpress));

    // Another client's backup: its fixed items only, no identities, nothing present.
    identities.clear();
    items.clear();
    EXPECT_TRUE(ListBackupContents(3, kBackup, present, count, identities, items, mismatch));
    EXPECT_TRUE(mismatch);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(identities.empty());
    EXPECT_EQ(items, BackupItems(kind::Eudora));
    EXPECT_EQ(std::count(present.begin(), present.end(), true), 0);

    // An unknown list kind appends nothing.
    items.clear();
    EXPECT_FALSE(ListBackupContents(11, kBackup, present, count, identities, items, mismatch));
    EXPECT_TRUE(mismatch);
    EXPECT_TRUE(items.empty());
}

TEST_F(RestoreJob, VersionBackupsListWithTheirFamily) {
    for (auto [code, listKind] :
         {std::pair{72, 7}, {720, 7}, {73, 7}, {86, 8}, {87, 8}, {94, 9}, {967, 9}, {1, 1}, {0, 0}})
        EXPECT_EQ(ListKindOf(code), listKind) << code;

    struct Case {
        const char* key;
        int listKind;
        bool accepted;
    };
    const Case cases[] = {
        {"PocoMail2", 7, true},  {"PocoMail20", 7, true}, {"PocoMail3", 7, true},
        {"PocoMail", 7, false},  {"Opera", 8, true},      {"Opera7", 8, true},
        {"Netscape4", 9, true},  {"Netscape", 9, true},   {"Opera7", 7, false},
        {"PocoMail3", 73, true},  // asked with the code the manifest gave
    };
    for (const Case& c : cases) {
        writeZip(machine.host(kBackup),
                 {{"infobak.ini", manifestText(c.key, {"Profile"}, {"Filters", "Address Book"})}});
        std::vector<bool> present;
        uint8_t count = 0;
        std::vector<std::string> identities, items;
        bool mismatch = false;
        const bool selectable =
            ListBackupContents(c.listKind, kBackup, present, count, identities, items, mismatch);
        const int family = ListKindOf(c.listKind) ? ListKindOf(c.listKind) : c.listKind;
        SCOPED_TRACE(std::string(c.key) + " as " + std::to_string(c.listKind));
        EXPECT_EQ(mismatch, !c.accepted);
        EXPECT_EQ(selectable, family != 9);
        const std::vector<std::string> fixed = BackupItems(family == 7   ? kind::PocoMail3
                                                           : family == 8 ? kind::Opera7
                                                                         : kind::Mozilla);
        EXPECT_EQ(items, fixed);
        if (!c.accepted) continue;
        EXPECT_EQ(identities, std::vector<std::string>{"Profile"});
        ASSERT_EQ(count, fixed.size());
        for (size_t k = 0; k < fixed.size(); ++k)
            EXPECT_EQ(present[k], fixed[k] == "Filters" || fixed[k] == "Address Book") << fixed[k];
    }
}

TEST_F(RestoreJob, EntriesUnderAPrefixComeFromTheListing) {
    writeZip(machine.host(kBackup), {{"infobak.ini", manifestText("OutlookExpress")},
                                     {"address book/", ""},
                                     {"address book/contacts.wab", "wab"},
                                     {"Address Book/x/", ""},
                                     {"Address Book/x/y.wab", "y"},
                                     {"Address Book.reg", "reg"},
                                     {"old/Address Book/a.wab", "old"}});
    ListArchive(kBackup);
    EXPECT_EQ(ArchiveListing(), (std::vector<std::string>{
                                    "infobak.ini", "address book\\", "address book\\contacts.wab",
                                    "Address Book\\x\\", "Address Book\\x\\y.wab",
                                    "Address Book.reg", "old\\Address Book\\a.wab"}));
    auto sources = [] {
        std::vector<std::string> s;
        for (const JobFileEntry& e : archiveJob().files)
            s.push_back(e.source);
        return s;
    };
    BeginExtraction(false);
    AddExtractEntriesUnder("Address Book", "C:\\Book\\");
    EXPECT_EQ(sources(),
              (std::vector<std::string>{"address book\\contacts.wab", "Address Book\\x\\y.wab"}));
    ExtractJob(kBackup);
    EndExtraction();
    EXPECT_FALSE(archiveJob().errorFlag) << archiveJob().errorText;
    EXPECT_EQ(treeOf(machine.host("C:\\Book")),
              (std::vector<std::string>{"contacts.wab", "y.wab"}));

    // With sub-folders the folder entries come too, so empty folders return.
    BeginExtraction(true);
    AddExtractEntriesUnder("address book", "C:\\Tree");
    EXPECT_EQ(sources().size(), 4u);
    EXPECT_EQ(archiveJob().files[0].destinationFolder, "C:\\Tree\\");
    EndExtraction();
}

TEST_F(RestoreJob, EachEntryGoesToItsOwnFolder) {
    for (const char* n : {"a", "b", "c"})
        machine.writeFile(std::string("C:\\Src\\") + n + ".txt", std::string("text ") + n);
    packBackup(
        kind::TheBat,
        {{"C:\\Src\\a.txt", "Data"}, {"C:\\Src\\b.txt", "Data"}, {"C:\\Src\\c.txt", "Data"}});
    extract(false, {{"Data\\a.txt", "C:\\One\\"},
                    {"Data\\b.txt", "C:\\Two\\Deeper\\"},
                    {"Data\\c.txt", staging + "\\"}});
    EXPECT_FALSE(archiveJob().errorFlag) << archiveJob().errorText;
    EXPECT_EQ(machine.readFile("C:\\One\\a.txt"), "text a");
    EXPECT_EQ(machine.readFile("C:\\Two\\Deeper\\b.txt"), "text b");
    EXPECT_EQ(machine.readFile(StagingPath("c.txt")), "text c");
    EXPECT_FALSE(platform::fileExists(StagingPath("a.txt")));

    // A name the backup lacks: the entries after it still reach their folders.
    extract(false, {{"Data\\a.txt", "C:\\Gap1\\"},
                    {"Data\\missing.txt", "C:\\Gap2\\"},
                    {"Data\\c.txt", "C:\\Gap3\\"}});
    EXPECT_FALSE(archiveJob().errorFlag) << archiveJob().errorText;
    EXPECT_EQ(machine.readFile("C:\\Gap1\\a.txt"), "text a");
    EXPECT_FALSE(platform::directoryExists("C:\\Gap2"));
    EXPECT_EQ(machine.readFile("C:\\Gap3\\c.txt"), "text c");
    EXPECT_EQ(archiveJob().position, 3u);

    // A folder that cannot be made (a drive this machine lacks) costs only its entry.
    extract(false, {{"Data\\a.txt", "Q:\\Nowhere\\"}, {"Data\\b.txt", "C:\\After\\"}});
    EXPECT_TRUE(archiveJob().errorFlag);
    EXPECT_NE(archiveJob().errorText.find("Q:\\Nowhere\\"), std::string::npos)
        << archiveJob().errorText;
    EXPECT_EQ(machine.readFile("C:\\After\\b.txt"), "text b");

    // The library's notices as it sends them: a fourth announcement beyond a list
    // of three stays where the library put it and moves no counter.
    BeginExtraction(false);
    AddExtractEntry("Data\\a.txt", "C:\\N1\\");
    AddExtractEntry("Data\\b.txt", "C:\\N2\\");
    AddExtractEntry("Data\\c.txt", "C:\\N3\\");
    archiveJob().filesStarted = 0;
    auto announce = [&](const std::string& name) {
        return notice(archive::kReasonExtractEntry, staging + "\\" + name);
    };
    EXPECT_EQ(announce("a.txt"), "C:\\N1\\a.txt");
    EXPECT_EQ(announce("b.txt"), "C:\\N2\\b.txt");
    EXPECT_EQ(announce("c.txt"), "C:\\N3\\c.txt");
    EXPECT_TRUE(platform::directoryExists("C:\\N3"));
    EXPECT_EQ(announce("d.txt"), staging + "\\d.txt");
    EXPECT_EQ(archiveJob().position, 3u);
    EXPECT_EQ(archiveJob().filesStarted, 3u);
    EndExtraction();
}

TEST_F(RestoreJob, FlatOrWithSubFolders) {
    machine.writeFile("C:\\Store\\Inbox\\one.mbx", "one");
    machine.writeFile("C:\\Store\\Sub\\Deep\\two.mbx", "two");
    fs::create_directories(machine.host("C:\\Store\\Empty"));
    packBackup(kind::Eudora, {{"C:\\Store\\Inbox", "Mail Folders"},
                              {"C:\\Store\\Sub", "Mail Folders"},
                              {"C:\\Store\\Empty", "Mail Folders"}});
    ListArchive(kBackup);

    extractUnder(false, "Mail Folders", "C:\\Flat\\");
    EXPECT_FALSE(archiveJob().errorFlag) << archiveJob().errorText;
    EXPECT_EQ(treeOf(machine.host("C:\\Flat")), (std::vector<std::string>{"one.mbx", "two.mbx"}));

    extractUnder(true, "Mail Folders", "C:\\Tree\\");
    EXPECT_FALSE(archiveJob().errorFlag) << archiveJob().errorText;
    EXPECT_EQ(
        treeOf(machine.host("C:\\Tree")),
        (std::vector<std::string>{"Mail Folders/", "Mail Folders/Empty/", "Mail Folders/Inbox/",
                                  "Mail Folders/Inbox/one.mbx", "Mail Folders/Sub/",
                                  "Mail Folders/Sub/Deep/", "Mail Folders/Sub/Deep/two.mbx"}));
}

TEST_F(RestoreJob, MoreThanFiveThousandNamesKeepTheirFolders) {
    // One file under many names keeps the backup quick.
    constexpr int kNames = 5003;
    machine.writeFile("C:\\Many\\m.eml", "mail");
    std::vector<Packed> files;
    for (int i = 0; i < kNames; ++i)
        files.push_back({"C:\\Many\\m.eml", "Item\\" + std::to_string(i)});
    packBackup(kind::TheBat, files);
    ListArchive(kBackup);
    const auto& listing = ArchiveListing();
    EXPECT_EQ(std::count_if(listing.begin(), listing.end(),
                            [](const std::string& n) { return n.ends_with("m.eml"); }),
              kNames);
    // Every fiftieth entry is in the backup; the others are names it lacks, which
    // keep the test from writing thousands of files but still move the position.
    BeginExtraction(false);
    for (int i = 0; i < kNames; ++i) {
        const std::string n = std::to_string(i);
        if (i % 50 == 1)
            AddExtractEntry("Item\\" + n + "\\m.eml", "C:\\Out\\" + n);
        else
            AddExtractEntry("Item\\" + n + "\\absent.eml", "C:\\Out\\absent");
    }
    ExtractJob(kBackup);
    EndExtraction();
    EXPECT_FALSE(archiveJob().errorFlag) << archiveJob().errorText;
    EXPECT_EQ(archiveJob().position, static_cast<size_t>(kNames));
    EXPECT_EQ(machine.readFile("C:\\Out\\1\\m.eml"), "mail");
    EXPECT_EQ(machine.readFile("C:\\Out\\5001\\m.eml"), "mail");
    const std::vector<std::string> out = treeOf(machine.host("C:\\Out"));
    EXPECT_EQ(out.size(), 2u * 101u);
    EXPECT_EQ(std::count(out.begin(), out.end(), "absent/"), 0);
}

TEST_F(RestoreJob, ProgressCountsFilesAndTheCurrentShare) {
    SetRestoreScale(0);
    EXPECT_EQ(archiveJob().restoreScale, 100.0);
    SetRestoreScale(4);
    EXPECT_EQ(archiveJob().restoreScale, 25.0);

    // The library's notices fed as it feeds them: one file started of four.
    BeginExtraction(false);
    ArchiveJob& job = archiveJob();
    job.filesStarted = 1;
    auto report = [&](int percent) {
        notice(archive::kReasonProgress, {}, percent);
        return progress.values.back();
    };
    EXPECT_EQ(report(50), 37);  // 12.5 rounds to 12
    EXPECT_EQ(report(10), 27);  // 2.5 rounds to 2
    EXPECT_EQ(report(30), 33);  // 7.5 rounds to 8
    job.filesStarted = 4;
    EXPECT_EQ(report(100), 100) << "never beyond the end of the bar";
    EndExtraction();

    // A whole restore: the manifest read before the scale is set moves nothing;
    // afterwards the bar only grows and stays within 0..100.
    machine.writeFile("C:\\Src\\big.mbx", randomBytes(3 << 20, 3));
    machine.writeFile("C:\\Src\\small.txt", "small");
    packBackup(kind::TheBat, {{"C:\\Src\\big.mbx", "Mail"}, {"C:\\Src\\small.txt", "Mail"}});
    progress.values.clear();
    size_t reportsBeforeScale = 99;
    RegisterRestoreAdapter(
        kind::TheBat,
        [&](RestoreContext& ctx) {
            extract(false, {{"infobak.ini", ""}}, ctx.backupPath.c_str());
            reportsBeforeScale = progress.values.size();
            ListArchive(ctx.backupPath);
            archiveJob().filesStarted = 0;
            SetRestoreScale(ArchiveListing().size() - 1);  // the files, less the manifest
            extractUnder(false, "Mail", "C:\\Restored\\");
            return archiveJob().errorFlag;
        },
        nullptr);
    EXPECT_FALSE(RunRestore(kBackup, kind::TheBat, {}, {})) << archiveJob().errorText;
    EXPECT_EQ(reportsBeforeScale, 0u);
    ASSERT_GT(progress.values.size(), 10u);
    EXPECT_TRUE(std::is_sorted(progress.values.begin(), progress.values.end()));
    EXPECT_LE(progress.values.back(), 100);
    EXPECT_GE(progress.values.front(), 0);
    EXPECT_EQ(machine.readFile("C:\\Restored\\big.mbx"), randomBytes(3 << 20, 3));
}

TEST_F(RestoreJob, FolderOnAMissingDriveMovesToTheFirstFixedDrive) {
    machine.writeFile("C:\\Existing\\x", "x");
    EXPECT_EQ(MakeFolderOrUseFixedDrive("C:\\Existing\\New\\"), "C:\\Existing\\New\\");
    EXPECT_TRUE(platform::directoryExists("C:\\Existing\\New"));
    EXPECT_EQ(MakeFolderOrUseFixedDrive("C:\\Existing"), "C:\\Existing");
    // Only one level is made here; deeper paths keep their drive when it exists.
    EXPECT_EQ(MakeFolderOrUseFixedDrive("C:\\No\\Such\\Store"), "C:\\No\\Such\\Store");
    EXPECT_FALSE(platform::directoryExists("C:\\No"));
    ASSERT_EQ(platform::driveType('Q'), platform::DriveType::NoRootDir);
    EXPECT_EQ(MakeFolderOrUseFixedDrive("Q:\\Mail\\Store\\"), "C:\\Mail\\Store\\");
    EXPECT_FALSE(platform::directoryExists("C:\\Mail"));
}

TEST_F(RestoreJob, AbortStopsThisAndEveryLaterExtraction) {
    machine.writeFile("C:\\Src\\big1.mbx", randomBytes(2 << 20, 1));
    machine.writeFile("C:\\Src\\big2.mbx", randomBytes(2 << 20, 2));
    machine.writeFile("C:\\Src\\small.txt", "small");
    packBackup(kind::TheBat, {{"C:\\Src\\big1.mbx", "Mail"},
                              {"C:\\Src\\big2.mbx", "Mail"},
                              {"C:\\Src\\small.txt", "Mail"}});
    bool firstAborted = false;
    bool adapterRanToItsEnd = false;
    RegisterRestoreAdapter(
        kind::TheBat,
        [&](RestoreContext& ctx) {
            archiveJob().filesStarted = 0;
            SetRestoreScale(3);
            extract(false,
                    {{"Mail\\big1.mbx", "C:\\Restored\\"},
                     {"Mail\\big2.mbx", "C:\\Restored\\"},
                     {"Mail\\small.txt", "C:\\Restored\\"}},
                    ctx.backupPath.c_str());
            firstAborted = archiveJob().aborted;
            extract(false, {{"Mail\\small.txt", "C:\\Second\\"}}, ctx.backupPath.c_str());
            adapterRanToItsEnd = true;
            return archiveJob().errorFlag;
        },
        nullptr);
    int reportsAfterAbort = -1;
    progress.onReport = [&] {
        ++reportsAfterAbort;
        archiveJob().abortRequest = true;  // the Abort button, pressed while extracting
    };
    EXPECT_FALSE(RunRestore(kBackup, kind::TheBat, {}, {})) << archiveJob().errorText;
    EXPECT_TRUE(adapterRanToItsEnd);
    EXPECT_TRUE(firstAborted);
    EXPECT_TRUE(archiveJob().aborted) << "the later extraction stopped too";
    EXPECT_FALSE(archiveJob().errorFlag);
    EXPECT_EQ(reportsAfterAbort, 0);
    EXPECT_EQ(treeOf(machine.host("C:\\Restored")), std::vector<std::string>{})
        << "no half-written file is left";
    EXPECT_FALSE(platform::fileExists("C:\\Second\\small.txt"));
}

TEST_F(RestoreJob, PasswordProtectedBackup) {
    machine.writeFile("C:\\Src\\secret.mbx", "private mail");
    archiveJob().password = "correct horse";
    packBackup(kind::TheBat, {{"C:\\Src\\secret.mbx", "Mail"}});

    archiveJob().password.clear();
    EXPECT_EQ(ReadBackupClient(kBackup), kind::None);
    EXPECT_TRUE(archiveJob().errorFlag);
    EXPECT_NE(archiveJob().errorText.find("password"), std::string::npos) << archiveJob().errorText;

    archiveJob().errorFlag = false;
    archiveJob().password = "wrong";
    extract(false, {{"Mail\\secret.mbx", "C:\\Out\\"}});
    EXPECT_TRUE(archiveJob().errorFlag);
    EXPECT_FALSE(platform::fileExists("C:\\Out\\secret.mbx"));

    archiveJob().errorFlag = false;
    archiveJob().password = "correct horse";
    EXPECT_EQ(ReadBackupClient(kBackup), kind::TheBat);
    extract(false, {{"Mail\\secret.mbx", "C:\\Out\\"}});
    EXPECT_FALSE(archiveJob().errorFlag) << archiveJob().errorText;
    EXPECT_EQ(machine.readFile("C:\\Out\\secret.mbx"), "private mail");
}

namespace {
// Answers a next-volume question after putting the volume back in its place.
class VolumeFetcher : public Interaction {
  public:
    explicit VolumeFetcher(std::function<void()> fetch) : fetch_(std::move(fetch)) {}
    MsgAnswer messageBox(std::string_view text, MsgIcon icon, MsgButtons buttons) override {
        texts.emplace_back(text);
        EXPECT_EQ(icon, MsgIcon::Confirmation);
        EXPECT_EQ(buttons, MsgButtons::OkCancel);
        fetch_();
        return MsgAnswer::Ok;
    }
    std::vector<std::string> texts;

  private:
    std::function<void()> fetch_;
};
}  // namespace

TEST_F(RestoreJob, SplitBackupReadsBackAndAsksForAMissingVolume) {
    const std::string data = randomBytes(3500000, 7);  // does not compress
    machine.writeFile("C:\\Src\\big.mbx", data);
    machine.writeFile("C:\\Src\\small.txt", "small");
    archiveJob().multipleVolumes = true;
    archiveJob().volumeSizeIndex = 0;  // floppy
    packBackup(kind::TheBat, {{"C:\\Src\\big.mbx", "Mail"}, {"C:\\Src\\small.txt", "Mail"}});
    ASSERT_TRUE(platform::fileExists("C:\\Backups\\mail.e02"));
    boxes.boxes.clear();

    EXPECT_EQ(ReadBackupClient(kBackup), kind::TheBat);
    extract(false, {{"Mail\\big.mbx", "C:\\Out\\"}, {"Mail\\small.txt", "C:\\Out\\"}});
    EXPECT_FALSE(archiveJob().errorFlag) << archiveJob().errorText;
    EXPECT_EQ(machine.readFile("C:\\Out\\big.mbx"), data);
    EXPECT_TRUE(boxes.boxes.empty());

    // The last volume is elsewhere: the person is asked for it and brings it.
    const fs::path last = machine.host("C:\\Backups\\mail.e02");
    const fs::path away = machine.host("C:\\mail.e02");
    fs::rename(last, away);
    {
        VolumeFetcher fetcher([&] { fs::rename(away, last); });
        ScopedInteraction scope(fetcher);
        extract(false, {{"Mail\\small.txt", "C:\\Again\\"}});
        EXPECT_EQ(fetcher.texts, std::vector<std::string>{"Insert next volume! Disk number 3"});
    }
    EXPECT_FALSE(archiveJob().errorFlag) << archiveJob().errorText;
    EXPECT_EQ(machine.readFile("C:\\Again\\small.txt"), "small");

    // Nobody to ask (or Cancel): the extraction stops as aborted.
    fs::rename(last, away);
    extract(false, {{"Mail\\small.txt", "C:\\Never\\"}});
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].buttons, MsgButtons::OkCancel);
    EXPECT_TRUE(archiveJob().aborted);
    EXPECT_FALSE(platform::directoryExists("C:\\Never"));
}

TEST_F(RestoreJob, HostileNamesWriteNothingOutsideTheirFolders) {
    std::string climb;  // enough levels to leave the prefix
    for (int i = 0; i < 12; ++i)
        climb += "../";
    const std::string evil = "evil-" + std::to_string(::getpid());
    writeZip(machine.host(kBackup), {{"infobak.ini", manifestText("TheBat")},
                                     {"Data/good.txt", "good"},
                                     {"../../" + evil + "-1", "x"},
                                     {climb + evil + "-2", "x"},
                                     {"C:\\" + evil + "-3", "x"},
                                     {"/" + evil + "-4", "x"},
                                     {"Data/../../" + evil + "-5", "x"},
                                     {"Data/ok.txt", "ok"},
                                     // Terminal control in a name: clear screen, bell, CR LF.
                                     {"../\x1b[2J\a\r\n" + evil + "-7", "x"},
                                     // The same that stays inside: no Windows name holds it.
                                     {"Data/\x1b]0;title\a\r\n" + evil + "-8", "x"}});
    ListArchive(kBackup);
    const std::vector<std::string> listing = ArchiveListing();
    ASSERT_EQ(listing.size(), 10u);
    // The names arrive as stored, so each reaches the job.
    EXPECT_EQ(listing[2], "..\\..\\" + evil + "-1");
    EXPECT_EQ(listing[4], "C:\\" + evil + "-3");
    EXPECT_EQ(listing[5], "\\" + evil + "-4");

    for (bool subFolders : {true, false}) {
        SCOPED_TRACE(subFolders ? "with sub-folders" : "flat");
        archiveJob().errorFlag = false;
        archiveJob().errorText.clear();
        const std::string dest = subFolders ? "C:\\Dest\\Tree\\" : "C:\\Dest\\Flat\\";
        BeginExtraction(subFolders);
        for (const std::string& name : listing)
            AddExtractEntry(name, dest);
        AddExtractEntriesUnder("Data", dest + "Under\\");
        // A manifest value an adapter would put in front of a file name.
        AddExtractEntry("..\\..\\" + evil + "-6", dest);
        ExtractJob(kBackup);
        EndExtraction();

        EXPECT_TRUE(archiveJob().errorFlag);
        const std::string& text = archiveJob().errorText;
        EXPECT_NE(text.find(kBackup), std::string::npos) << text;
        for (int i : {1, 2, 3, 4, 5, 6, 7})
            EXPECT_NE(text.find(evil + "-" + std::to_string(i) + "\" would be written outside"),
                      std::string::npos)
                << i << ": " << text;
        // Shown escaped, never sent raw to the terminal, with the real reason.
        EXPECT_NE(text.find("\\x1b[2J\\x07\\r\\n" + evil + "-7"), std::string::npos) << text;
        EXPECT_NE(text.find("\\x1b]0;title\\x07\\r\\n" + evil + "-8\" holds a control character"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find(evil + "-8\" would be"), std::string::npos) << text;
        EXPECT_EQ(text.find_first_of("\x1b\a\r\n"), std::string::npos) << text;
        // Everything else came back.
        const std::string under = subFolders ? "Data\\" : "";
        EXPECT_EQ(machine.readFile(dest + under + "good.txt"), "good");
        EXPECT_EQ(machine.readFile(dest + under + "ok.txt"), "ok");
        EXPECT_EQ(machine.readFile(dest + "Under\\" + under + "ok.txt"), "ok");
        EXPECT_EQ(machine.readFile(dest + "infobak.ini"), manifestText("TheBat"));
    }
    // Nothing of them anywhere: not in the machine, not beside it, not at the root.
    const fs::path outside = machine.prefix().parent_path();
    for (const auto& e : fs::recursive_directory_iterator(outside))
        EXPECT_EQ(e.path().filename().string().find(evil), std::string::npos) << e.path();
    for (const auto& e : fs::directory_iterator(outside.parent_path()))
        EXPECT_EQ(e.path().filename().string().find(evil), std::string::npos) << e.path();
    EXPECT_FALSE(fs::exists("/" + evil + "-4"));

    // Should the library ever propose a place outside the staging folder, or one
    // that climbs out of it, the entry is not written at all.
    BeginExtraction(true);
    AddExtractEntry("a.txt", "C:\\Dest\\");
    AddExtractEntry("b.txt", "C:\\Dest\\");
    EXPECT_EQ(notice(archive::kReasonExtractEntry, "C:\\windows\\a.txt"), "");
    EXPECT_EQ(notice(archive::kReasonExtractEntry, staging + "\\..\\..\\b.txt"), "");
    EXPECT_EQ(archiveJob().position, 2u);
    EndExtraction();
}

TEST_F(RestoreJob, SafeRelativeNames) {
    for (const char* good :
         {"a", "Mail Folders\\Inbox.mbx", "a/b", "Main Identity", ".hidden", "x..y", "a\\.b\\c"})
        EXPECT_TRUE(IsSafeRelativeName(good)) << good;
    for (const char* bad :
         {"", "..", ".", "..\\x", "a\\..\\..\\x", "a/../x", "\\x", "/x", "\\\\server\\share",
          "C:\\x", "C:x", "a\\b:c", "a\\\\b", "a\\", ". .\\x", "...", ".. \\x"})
        EXPECT_FALSE(IsSafeRelativeName(bad)) << bad;
}

// A backup of a few bytes whose entry declares more than the client's drive has
// free is refused at once, before the adapter writes anything, with both figures.
TEST_F(RestoreJob, ABackupThatDoesNotFitIsRefusedBeforeTheFirstWrite) {
    const uint64_t free = platform::diskFree('C').value_or(0);
    ASSERT_GT(free, 0u);
    const uint64_t declared = free + (10ull << 30);
    test::writeHostFile(machine.host(kBackup),
                        test::zipDeclaring("Mail/Inbox.mbx", std::string(4096, '\0'), declared));
    bool ran = false;
    registered.push_back(kind::TheBat);
    RegisterRestoreAdapter(
        kind::TheBat,
        [&](RestoreContext&) {
            ran = true;
            return false;
        },
        nullptr);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(RunRestore(kBackup, kind::TheBat, {}, {}));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_FALSE(ran);
    const std::string& text = archiveJob().errorText;
    EXPECT_EQ(text.rfind("Nothing was restored from " + std::string(kBackup) + ": it holds ", 0),
              0u)
        << text;
    EXPECT_NE(text.find(std::to_string(declared)), std::string::npos) << text;
    EXPECT_NE(text.find("and drive C: has only "), std::string::npos) << text;
}

TEST_F(RestoreJob, DispatchRunsTheAdapterOfTheKind) {
    EXPECT_FALSE(RunRestore(kBackup, kind::OutlookExpress, {}, {})) << "the table starts empty";

    std::vector<RestoreContext> seen;
    auto record = [&](bool result) {
        return [&seen, result](RestoreContext& ctx) {
            seen.push_back(ctx);
            if (result) archiveJob().errorFlag = true;
            return false;
        };
    };
    for (ClientKind k : {kind::PocoMail2, kind::PocoMail3, kind::PocoMailFamily}) {
        registered.push_back(k);
        RegisterRestoreAdapter(k, record(false), record(true));
    }
    archiveJob().errorFlag = true;
    archiveJob().errorText = "old";
    EXPECT_FALSE(RunRestore(kBackup, kind::PocoMail3, selection({{"Me", true}}),
                            selection({{"Filters", false}, {"Scripts", true}})));
    EXPECT_TRUE(archiveJob().errorText.empty()) << "each restore reports its own outcome";
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, kind::PocoMail3);
    EXPECT_EQ(seen[0].backupPath, kBackup);
    EXPECT_FALSE(seen[0].toFolder());
    EXPECT_EQ(seen[0].identities.count, 1);
    EXPECT_EQ(seen[0].items[1].name, "Scripts");
    EXPECT_FALSE(seen[0].items[0].checked);

    // The folder form gets its folder with a trailing backslash; the adapter's
    // recorded error is the result even when it returns false.
    EXPECT_TRUE(RunRestoreToFolder(kBackup, "C:\\Target", kind::PocoMail2, {}, {}));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].targetFolder, "C:\\Target\\");
    EXPECT_TRUE(seen[1].toFolder());

    // Family codes never restore; neither does a kind that lost its adapter.
    EXPECT_FALSE(RunRestore(kBackup, kind::PocoMailFamily, {}, {}));
    RegisterRestoreAdapter(kind::PocoMail2, nullptr, nullptr);
    EXPECT_FALSE(RunRestoreToFolder(kBackup, "C:\\T\\", kind::PocoMail2, {}, {}));
    EXPECT_EQ(seen.size(), 2u);
}
