#include "jobs/backup_job.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "archive/archive_library.h"
#include "jobs/archive_job.h"
#include "jobs/job_progress.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "support/child_process.h"
#include "support/interaction.h"
#include "support/msg_texts.h"
#include "testkit/job_kit.h"
#include "testkit/testkit.h"

using namespace qb;
using namespace qb::jobs;
using qb::test::FakeMachine;
using qb::test::randomBytes;
using qb::test::selection;
using qb::test::startJobModule;
namespace fs = std::filesystem;

namespace {

constexpr ClientKind kKind = kind::TheBat;
const char* kLang = "C:\\Program Files\\Quillbox\\English.lng";
const char* kBackup = "C:\\Backups\\mail.ebk";

struct ZipEntry {
    std::string data;
    bool folder = false;
};

// Reads a ZIP file with libarchive; names with "/" as stored.
std::map<std::string, ZipEntry> readZip(const fs::path& file, const char* passphrase = nullptr,
                                        std::string* error = nullptr) {
    std::map<std::string, ZipEntry> out;
    // The reader converts names to the locale's character set.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    struct archive* a = archive_read_new();
    archive_read_support_format_zip(a);
    if (passphrase) archive_read_add_passphrase(a, passphrase);
    auto failWith = [&](const char* what) {
        const char* why = archive_error_string(a);
        if (error) *error = std::string(what) + ": " + (why ? why : "?");
        archive_read_free(a);
        return std::map<std::string, ZipEntry>{};
    };
    if (archive_read_open_filename(a, file.c_str(), 65536) != ARCHIVE_OK) return failWith("open");
    struct archive_entry* e;
    int r;
    while ((r = archive_read_next_header(a, &e)) == ARCHIVE_OK) {
        const char* name = archive_entry_pathname_utf8(e);
        ZipEntry z;
        z.folder = archive_entry_filetype(e) == AE_IFDIR;
        char buf[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
            z.data.append(buf, static_cast<size_t>(n));
        if (n < 0) return failWith("data");
        out[name ? name : "?"] = std::move(z);
    }
    if (r != ARCHIVE_EOF) return failWith("header");
    archive_read_free(a);
    if (error) error->clear();
    return out;
}

struct Report {
    int overall;
    int item;
    std::string label;
};

class RecordingProgress : public JobProgress {
  public:
    void start() override { reports.clear(); }
    void progress(int overall, int item, std::string_view label) override {
        reports.push_back({overall, item, std::string(label)});
        if (onReport) onReport();
    }
    std::vector<Report> reports;
    std::function<void()> onReport;
};

// The adapter of the tests of single failures: the named files of C:\Mail in the
// archive folder "Mail", as one item.
void registerMailFilesAdapter(std::vector<std::string> names) {
    RegisterBackupAdapter(kKind, [names](BackupContext& ctx) {
        StartBackupFrame(ctx);
        for (const std::string& name : names)
            AddFileToJob("C:\\Mail\\" + name, "Mail", "C:\\Mail\\");
        CloseProgressGroup(ctx, "Mail Folders");
        FinishBackupFrame(ctx);
    });
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class BackupJob : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(startJobModule(machine, kLang));
        machine.writeFile("C:\\Backups\\readme.txt", "backups go here");
    }
    void TearDown() override {
        RegisterBackupAdapter(kKind, nullptr);
        archiveJob().abortRequest = false;
        JobTexts().CloseFile();
    }

    // A mail store with the shapes clients leave: nested and empty folders, hidden
    // and empty files, blanks and letters beyond ASCII in names.
    void makeMailStore(size_t inboxBytes = 20000) {
        machine.writeFile("C:\\Mail\\Store\\Inbox.mbx", randomBytes(inboxBytes, 1));
        machine.writeFile("C:\\Mail\\Store\\.hidden.idx", "hidden");
        machine.writeFile("C:\\Mail\\Store\\empty.toc", "");
        machine.writeFile("C:\\Mail\\Store\\Sub Folder\\Nested\\deep message.txt", "deep");
        machine.writeFile("C:\\Mail\\Store\\\xC3\x9Cn\xC3\xAF Ordner\\Gr\xC3\xBC\xC3\x9F\x65.mbx",
                          "gruesse");
        fs::create_directories(machine.host("C:\\Mail\\Store\\Empty Folder"));
        machine.writeFile("C:\\Mail\\account settings.ini", "[Account]\r\nName=Me\r\n");
    }

    // The adapter of the tests: mail folders, accounts (listed files missing here
    // and on a drive that does not exist), an item without data, then the manifest.
    void registerMailAdapter() {
        RegisterBackupAdapter(kKind, [](BackupContext& ctx) {
            StartBackupFrame(ctx);
            AddFolderToJob("C:\\Mail\\Store", "Mail Folders", "C:\\Mail\\Store\\", "*");
            CloseProgressGroup(ctx, "Mail Folders");
            // A drive this machine does not have: the library never sees the path.
            AddFileToJob("Q:\\Elsewhere\\x.ini", "Accounts", "Q:\\");
            AddFileToJob("C:\\Mail\\account settings.ini", "Accounts", "C:\\Mail\\");
            AddFileToJob("C:\\Mail\\accounts-missing.ini", "Accounts", "C:\\Mail\\");
            CloseProgressGroup(ctx, "Accounts Settings");
            CloseProgressGroup(ctx, "Signatures");
            WriteManifest(ctx);
            WriteManifestDirectory("Store", "C:\\Mail\\Store");
            AddStagingFileToJob(kManifestName);
            FinishBackupFrame(ctx);
        });
    }

    bool runMailBackup(const char* path = kBackup) {
        return RunBackup(path, kKind, selection({{"Main", false}, {"Second", true}}),
                         selection({{"Mail Folders", true},
                                    {"Accounts Settings", true},
                                    {"Signatures", true},
                                    {"Address Book", false}}));
    }

    FakeMachine machine;
    ScriptedInteraction boxes;
    ScopedInteraction interactionScope{boxes};
    RecordingProgress progress;
    ScopedJobProgress progressScope{progress};
};

}  // namespace

TEST_F(BackupJob, PacksFolderTreesUnderTheNamesTheJobComputes) {
    makeMailStore();
    registerMailAdapter();
    archiveJob().keepManifest = true;  // as while the windows show it
    ASSERT_FALSE(runMailBackup()) << archiveJob().errorText;
    archiveJob().keepManifest = false;
    EXPECT_FALSE(archiveJob().aborted);

    const fs::path file = machine.host(kBackup);
    std::string error;
    const auto entries = readZip(file, nullptr, &error);
    ASSERT_TRUE(error.empty()) << error;
    std::vector<std::string> names;
    for (const auto& [name, e] : entries)
        names.push_back(name);
    const std::vector<std::string> expected = {
        "Accounts/account settings.ini",
        "Mail Folders/.hidden.idx",
        "Mail Folders/Empty Folder/",
        "Mail Folders/Inbox.mbx",
        "Mail Folders/Sub Folder/",
        "Mail Folders/Sub Folder/Nested/",
        "Mail Folders/Sub Folder/Nested/deep message.txt",
        "Mail Folders/empty.toc",
        "Mail Folders/\xC3\x9Cn\xC3\xAF Ordner/",
        "Mail Folders/\xC3\x9Cn\xC3\xAF Ordner/Gr\xC3\xBC\xC3\x9F\x65.mbx",
        "infobak.ini",
    };
    EXPECT_EQ(names, expected);
    EXPECT_EQ(entries.at("Mail Folders/Inbox.mbx").data, randomBytes(20000, 1));
    EXPECT_EQ(entries.at("Mail Folders/.hidden.idx").data, "hidden");
    EXPECT_EQ(entries.at("Mail Folders/empty.toc").data, "");
    EXPECT_EQ(entries.at("Mail Folders/Sub Folder/Nested/deep message.txt").data, "deep");
    EXPECT_TRUE(entries.at("Mail Folders/Empty Folder/").folder);
    EXPECT_EQ(entries.at("infobak.ini").data, machine.readFile(StagingPath("infobak.ini")));

    // An independent tool agrees the file is whole.
    const std::string cmd = "unzip -tqq '" + file.string() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    // Nothing but the backup is left beside it.
    EXPECT_EQ(filesIn(file.parent_path()), (std::vector<std::string>{"mail.ebk", "readme.txt"}));
}

TEST_F(BackupJob, ManifestNamesClientChosenIdentitiesItemsAndFolders) {
    makeMailStore();
    registerMailAdapter();
    ASSERT_FALSE(runMailBackup()) << archiveJob().errorText;
    const auto entries = readZip(machine.host(kBackup));
    const std::string manifest = entries.at("infobak.ini").data;
    EXPECT_EQ(manifest,
              "[Backup]\r\nEmailClient=TheBat\r\n"
              "[Identities]\r\nItem1=Second\r\n"
              "[Items]\r\nItem1=Mail Folders\r\nItem2=Accounts Settings\r\nItem3=Signatures\r\n"
              "[Directory]\r\nStore=C:\\Mail\\Store\r\n")
        << "sections in the order written; only chosen entries, numbered from 1";

    // Outlook's form lists every entry; an old manifest does not leak into a new one.
    BackupContext ctx;
    ctx.kind = kind::Outlook;
    ctx.identities = selection({{"Main", false}, {"Second", true}});
    ctx.items = selection({{"Accounts Settings", false}});
    ASSERT_TRUE(WriteManifest(ctx, true));
    platform::IniFile ini(StagingPath("infobak.ini"));
    EXPECT_EQ(ini.readString("Backup", "EmailClient", ""), "Outlook");
    EXPECT_EQ(ini.readSection("Identities"), (std::vector<std::string>{"Item1", "Item2"}));
    EXPECT_EQ(ini.readString("Identities", "Item1", ""), "Main");
    EXPECT_EQ(ini.readString("Items", "Item1", ""), "Accounts Settings");
    EXPECT_FALSE(ini.sectionExists("Directory"));
}

TEST_F(BackupJob, AddingSizesFilesAndFoldersAndKeepsEveryEntry) {
    makeMailStore(1000);
    BeginBackupArchive();
    AddFolderToJob("C:\\Mail\\Store", "Mail", "C:\\Mail\\Store\\", "*");
    AddFileToJob("C:\\Mail\\nothing here.ini", "", "C:\\Mail\\");
    const auto& files = archiveJob().files;
    std::map<std::string, uint64_t> sizes;
    for (const JobFileEntry& e : files)
        sizes[e.source] = e.size;
    EXPECT_EQ(sizes.at("C:\\Mail\\Store\\Inbox.mbx"), 1000u);
    EXPECT_EQ(sizes.at("C:\\Mail\\Store\\.hidden.idx"), 6u);
    EXPECT_EQ(sizes.at("C:\\Mail\\Store\\empty.toc"), 0u);
    EXPECT_EQ(sizes.at("C:\\Mail\\Store\\Sub Folder"), 4u) << "a folder counts the bytes below it";
    EXPECT_EQ(sizes.at("C:\\Mail\\Store\\Empty Folder"), 0u);
    EXPECT_EQ(sizes.at("C:\\Mail\\nothing here.ini"), 0u);
    EXPECT_EQ(files.size(), 7u);
    EndBackupArchive();

    // More entries and items than the old fixed tables held: none is lost. One
    // file listed under many names keeps the test quick.
    constexpr int kFiles = 6000;
    constexpr int kItems = 120;
    machine.writeFile("C:\\Many\\m.eml", "mail");
    RegisterBackupAdapter(kKind, [&](BackupContext& ctx) {
        StartBackupFrame(ctx);
        for (int i = 0; i < kFiles; ++i) {
            AddFileToJob("C:\\Many\\m.eml", "Item\\" + std::to_string(i), "C:\\Many\\");
            if (i % (kFiles / kItems) == kFiles / kItems - 1)
                CloseProgressGroup(ctx, "Item " + std::to_string(i));
        }
        EXPECT_EQ(ctx.group, kItems);
        FinishBackupFrame(ctx);
    });
    ASSERT_FALSE(RunBackup(kBackup, kKind, {}, {})) << archiveJob().errorText;
    EXPECT_EQ(archiveJob().files.size(), static_cast<size_t>(kFiles));
    const auto entries = readZip(machine.host(kBackup));
    ASSERT_EQ(entries.size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(entries.at("Item/5999/m.eml").data, "mail");
    // Every item's label came up, in order.
    std::vector<std::string> labels;
    for (const Report& r : progress.reports)
        if (labels.empty() || labels.back() != r.label) labels.push_back(r.label);
    ASSERT_EQ(labels.size(), static_cast<size_t>(kItems));
    EXPECT_EQ(labels.back(), "Backing up: Item 5999");
}

TEST_F(BackupJob, ProgressIsByBytesMonotonicPerGroupAndNeverOver100) {
    makeMailStore(3 << 20);  // large enough to report many times while written
    registerMailAdapter();
    ASSERT_FALSE(runMailBackup()) << archiveJob().errorText;
    const auto& reports = progress.reports;
    ASSERT_FALSE(reports.empty());
    int lastOverall = 0;
    std::map<std::string, int> lastItem;
    std::map<std::string, std::set<int>> itemValues;
    std::string label;
    for (const Report& r : reports) {
        EXPECT_GE(r.overall, lastOverall);
        EXPECT_LE(r.overall, 100);
        EXPECT_GE(r.item, 0);
        EXPECT_LE(r.item, 100);
        if (r.label != label) {
            EXPECT_EQ(lastItem.count(r.label), 0u) << "a group comes back: " << r.label;
            label = r.label;
        } else {
            EXPECT_GE(r.item, lastItem[label]);
        }
        lastItem[label] = r.item;
        itemValues[label].insert(r.item);
        lastOverall = r.overall;
    }
    EXPECT_EQ(reports.back().overall, 100);
    EXPECT_EQ(lastItem.at("Backing up: Mail Folders"), 100);
    EXPECT_EQ(lastItem.at("Backing up: Accounts Settings"), 100);
    EXPECT_GT(itemValues.at("Backing up: Mail Folders").size(), 5u)
        << "the big file moves the bar while it is written";
    EXPECT_EQ(lastItem.count("Backing up: Signatures"), 0u) << "an empty item has no entry";
}

TEST_F(BackupJob, ProgressArithmeticRoundsHalvesToEven) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(37.5), 38);
    EXPECT_EQ(RoundHalfEven(62.5), 62);
    EXPECT_EQ(RoundHalfEven(62.50001), 63);
    EXPECT_EQ(RoundHalfEven(99.4), 99);

    // The library's records, fed to the callback as it feeds them: two files of 3
    // and 5 bytes in one item (overall and item scale 12.5 per byte).
    machine.writeFile("C:\\P\\a", "abc");
    machine.writeFile("C:\\P\\b", "abcde");
    BackupContext ctx;
    StartBackupFrame(ctx);
    AddFileToJob("C:\\P\\a", "X", "C:\\P\\");
    AddFileToJob("C:\\P\\b", "X", "C:\\P\\");
    CloseProgressGroup(ctx, "Both");
    ArchiveJob& job = archiveJob();
    job.overallScale = 100.0 / 8;
    std::vector<unsigned char> raw(1024, 0);
    archive::CallbackRecord rec(raw.data());
    auto send = [&](int32_t reason, int32_t percent, std::string name = {}) {
        rec.writeInt(archive::CallbackRecord::kReasonOffset, reason);
        rec.writeInt(archive::CallbackRecord::kPercentOffset, percent);
        if (reason == archive::kReasonNextEntry) rec.setFileName(name);
        return ArchiveCallback(0, raw.data());
    };
    EXPECT_EQ(send(archive::kReasonNextEntry, 0, "C:\\P\\a"), 1);
    EXPECT_EQ(rec.fileName(), "X\\a");
    EXPECT_EQ(send(archive::kReasonProgress, 100), 1);
    EXPECT_EQ(send(archive::kReasonNextEntry, 0, "C:\\P\\b"), 1);
    EXPECT_EQ(send(archive::kReasonProgress, 50), 1);  // 2.5 bytes: 2
    EXPECT_EQ(send(archive::kReasonProgress, 100), 1);
    ASSERT_EQ(progress.reports.size(), 3u);
    EXPECT_EQ(progress.reports[0].overall, 38);  // 37.5
    EXPECT_EQ(progress.reports[1].overall, 62);  // 62.5
    EXPECT_EQ(progress.reports[1].item, 62);
    EXPECT_EQ(progress.reports[2].overall, 100);
    EXPECT_EQ(progress.reports[2].label, "Backing up: Both");
    // Other requests: overwrite is answered 2, unknown reasons 1, a password copied.
    EXPECT_EQ(send(archive::kReasonOverwrite, 0), 2);
    EXPECT_EQ(send(42, 0), 1);
    job.password = "pw";
    EXPECT_EQ(send(archive::kReasonPassword, 0), 1);
    EXPECT_EQ(rec.pathText(), "pw");
    job.password.clear();
    EndBackupArchive();
}

TEST_F(BackupJob, AbortStopsAtTheNextCallbackAndKeepsTheOldBackup) {
    makeMailStore(2 << 20);
    registerMailAdapter();
    machine.writeFile(kBackup, "the last good backup");
    int reportsAfterAbort = -1;
    progress.onReport = [&] {
        ++reportsAfterAbort;
        archiveJob().abortRequest = true;  // the Abort button, pressed while packing
    };
    EXPECT_FALSE(runMailBackup()) << archiveJob().errorText;
    EXPECT_TRUE(archiveJob().aborted);
    EXPECT_FALSE(archiveJob().errorFlag);
    EXPECT_EQ(reportsAfterAbort, 0) << "no report after the abort request";
    EXPECT_EQ(machine.readFile(kBackup), "the last good backup");
    EXPECT_EQ(filesIn(machine.host("C:\\Backups")),
              (std::vector<std::string>{"mail.ebk", "readme.txt"}));

    // Pressed before packing began: the first callback already stops.
    progress.onReport = nullptr;
    archiveJob().abortRequest = true;
    EXPECT_FALSE(runMailBackup());
    EXPECT_TRUE(archiveJob().aborted);
    EXPECT_TRUE(progress.reports.empty());
    EXPECT_EQ(machine.readFile(kBackup), "the last good backup");
}

TEST_F(BackupJob, FailedBackupKeepsTheOldFileAndNamesWhatFailed) {
    machine.writeFile("C:\\Mail\\a.txt", "a");
    machine.writeFile("C:\\Mail\\b.txt", "b");
    machine.writeFile(kBackup, "the last good backup");
    const std::string longFolder(280, 'F');
    RegisterBackupAdapter(kKind, [&](BackupContext& ctx) {
        StartBackupFrame(ctx);
        AddFileToJob("C:\\Mail\\a.txt", "Mail", "C:\\Mail\\");
        AddFileToJob("C:\\Mail\\b.txt", longFolder, "C:\\Mail\\");
        CloseProgressGroup(ctx, "Mail Folders");
        FinishBackupFrame(ctx);
    });
    EXPECT_TRUE(RunBackup(kBackup, kKind, {}, {}));
    EXPECT_FALSE(archiveJob().aborted);
    EXPECT_NE(archiveJob().errorText.find(longFolder + "\\b.txt"), std::string::npos)
        << archiveJob().errorText;
    EXPECT_EQ(machine.readFile(kBackup), "the last good backup");
    EXPECT_EQ(filesIn(machine.host("C:\\Backups")),
              (std::vector<std::string>{"mail.ebk", "readme.txt"}));

    // A target folder that does not exist: the library's account names it as a
    // Windows path.
    registerMailFilesAdapter({"a.txt"});
    EXPECT_TRUE(RunBackup("C:\\No Such Folder\\x.ebk", kKind, {}, {}));
    EXPECT_NE(archiveJob().errorText.find("C:\\No Such Folder\\x.ebk"), std::string::npos)
        << archiveJob().errorText;

    // The next backup reports its own outcome.
    EXPECT_FALSE(RunBackup(kBackup, kKind, {}, {})) << archiveJob().errorText;
    EXPECT_TRUE(archiveJob().errorText.empty());
}

TEST_F(BackupJob, AnErrorBeforePackingKeepsTheOlderFileAndFilesOfDeadRunsGo) {
    machine.writeFile("C:\\Mail\\a.txt", "a");
    machine.writeFile(kBackup, "the last good backup");
    // What runs that died left: a backup packed halfway and a staging folder.
    const std::string gone = std::to_string(qb::test::goneProcess());
    const std::string running = std::to_string(::getppid());
    for (const std::string& name :
         {"mail-qbnew-" + gone + "-0badf00d.ebk", "mail-qbnew-" + gone + "-0badf00d.e01",
          "mail-qbnew-" + running + "-0badf00d.ebk"})
        machine.writeFile("C:\\Backups\\" + name, "left by a run");
    const fs::path temp = *platform::hostPath(platform::tempFolder());
    fs::create_directories(temp / ("quillbox-" + gone + "-0badf00d") / "inside");
    ASSERT_NO_FATAL_FAILURE(startJobModule(machine, kLang));
    EXPECT_FALSE(fs::exists(temp / ("quillbox-" + gone + "-0badf00d")));
    // Each process stages in a folder of its own that only its user reads.
    const fs::path staging = *platform::hostPath(archiveJob().stagingFolder);
    EXPECT_TRUE(
        staging.filename().string().starts_with("quillbox-" + std::to_string(::getpid()) + "-"))
        << staging;
    EXPECT_EQ(fs::status(staging).permissions() & fs::perms::all, fs::perms::owner_all);

    // An adapter records an error (an identity left out), then packs the rest.
    RegisterBackupAdapter(kKind, [](BackupContext& ctx) {
        StartBackupFrame(ctx);
        archiveJob().errorFlag = true;
        archiveJob().errorText = "The identity \"x\" was left out.";
        AddFileToJob("C:\\Mail\\a.txt", "Mail", "C:\\Mail\\");
        CloseProgressGroup(ctx, "Mail Folders");
        FinishBackupFrame(ctx);
    });
    EXPECT_TRUE(RunBackup(kBackup, kKind, {}, {}));
    EXPECT_EQ(archiveJob().errorText, "The identity \"x\" was left out.");
    EXPECT_EQ(machine.readFile(kBackup), "the last good backup");
    EXPECT_EQ(filesIn(machine.host("C:\\Backups")),
              (std::vector<std::string>{"mail-qbnew-" + running + "-0badf00d.ebk", "mail.ebk",
                                        "readme.txt"}));
}

// A store as a person may leave it: links into the user's home folder and to a
// file elsewhere on drive C: (the client under Wine follows them), a link to a
// folder of the host outside the machine, links back up the tree, pipes.
TEST_F(BackupJob, LinksAreFollowedIntoTheMachineOnlyAndNeverInCircles) {
    qb::test::TempDir home;
    qb::test::TempDir outside;  // stands in for /etc
    const qb::test::ScopedEnv homeHere("HOME", home.path().string());

    qb::test::writeHostFile(outside.path() / "shadow", "root:secret");
    qb::test::writeHostFile(outside.path() / "cron" / "job", "outside");
    qb::test::writeHostFile(home.path() / "Archive" / "2019.mbx", "archived");
    fs::create_symlink(outside.path() / "shadow", home.path() / "Archive" / "shadow");
    machine.writeFile("C:\\Mail\\Store\\Inbox.mbx", "inbox");
    machine.writeFile("C:\\Mail\\Store\\Sub\\Sent.mbx", "sent");
    machine.writeFile("C:\\Shared\\common.mbx", "common");
    const fs::path store = machine.host("C:\\Mail\\Store");
    fs::create_symlink(outside.path(), store / "etc");
    fs::create_symlink(".", store / "a");
    fs::create_symlink("..", store / "Sub" / "up");
    fs::create_symlink(machine.host("C:\\Shared\\common.mbx"), store / "shared.mbx");
    fs::create_symlink(home.path() / "Archive", store / "Sub" / "Archive");
    fs::create_symlink(store / "nowhere", store / "dangling");
    ASSERT_EQ(::mkfifo((store / "pipe").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((store / "Sub" / "fifo").c_str(), 0600), 0);

    RegisterBackupAdapter(kKind, [](BackupContext& ctx) {
        StartBackupFrame(ctx);
        AddFolderToJob("C:\\Mail\\Store", "Mail", "C:\\Mail\\Store\\", "*");
        CloseProgressGroup(ctx, "Mail Folders");
        FinishBackupFrame(ctx);
    });
    ASSERT_FALSE(RunBackup(kBackup, kKind, {}, {})) << archiveJob().errorText;

    std::string error;
    const auto entries = readZip(machine.host(kBackup), nullptr, &error);
    ASSERT_TRUE(error.empty()) << error;
    std::vector<std::string> names;
    for (const auto& [name, e] : entries)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{
                         "Mail/Inbox.mbx",
                         "Mail/Sub/",
                         "Mail/Sub/Archive/",
                         "Mail/Sub/Archive/2019.mbx",
                         "Mail/Sub/Sent.mbx",
                         "Mail/shared.mbx",
                     }));
    EXPECT_EQ(entries.at("Mail/shared.mbx").data, "common");
    EXPECT_EQ(entries.at("Mail/Sub/Archive/2019.mbx").data, "archived");

    // Each entry left out is named once, with why.
    const std::vector<std::string>& notes = archiveJob().notes;
    auto noteFor = [&](const std::string& source, const std::string& why) {
        return std::count_if(notes.begin(), notes.end(), [&](const std::string& n) {
            return n.rfind(source + " is left out of the backup: ", 0) == 0 &&
                   n.find(why) != std::string::npos;
        });
    };
    EXPECT_EQ(noteFor("C:\\Mail\\Store\\etc", fs::canonical(outside.path()).string()), 1);
    EXPECT_EQ(noteFor("C:\\Mail\\Store\\Sub\\Archive\\shadow", "outside drive C:"), 1);
    EXPECT_EQ(noteFor("C:\\Mail\\Store\\a", "back into a folder above it"), 1);
    EXPECT_EQ(noteFor("C:\\Mail\\Store\\Sub\\up", "back into a folder above it"), 1);
    EXPECT_EQ(noteFor("C:\\Mail\\Store\\dangling", "leads nowhere"), 1);
    EXPECT_EQ(noteFor("C:\\Mail\\Store\\pipe", "not a file or a folder"), 1);
    EXPECT_EQ(noteFor("C:\\Mail\\Store\\Sub\\fifo", "not a file or a folder"), 1);
    EXPECT_EQ(notes.size(), 7u) << ::testing::PrintToString(notes);
}

TEST_F(BackupJob, UnreadableFileFailsWithItsName) {
    const fs::path locked = machine.host("C:\\Mail\\locked.mbx");
    if (::geteuid() != 0) {
        machine.writeFile("C:\\Mail\\locked.mbx", "secret");
        fs::permissions(locked, fs::perms::none);
    } else {
        // Root reads every plain file; a write-only kernel attribute refuses it too.
        const fs::path writeOnly = "/sys/bus/pci/rescan";
        if (::access(writeOnly.c_str(), F_OK) != 0) GTEST_SKIP() << "no file root cannot read";
        fs::create_directories(locked.parent_path());
        fs::create_symlink(writeOnly, locked);
    }
    // A link is followed only into the machine or the home folder: make the
    // attribute's folder the home folder for this run.
    std::optional<qb::test::ScopedEnv> homeHere;
    if (::geteuid() == 0) homeHere.emplace("HOME", "/sys/bus/pci");
    machine.writeFile(kBackup, "the last good backup");
    registerMailFilesAdapter({"locked.mbx"});
    EXPECT_TRUE(RunBackup(kBackup, kKind, {}, {}));
    EXPECT_EQ(archiveJob().errorText.rfind("Access denied!", 0), 0u) << archiveJob().errorText;
    EXPECT_NE(archiveJob().errorText.find("C:\\Mail\\locked.mbx"), std::string::npos)
        << archiveJob().errorText;
    EXPECT_EQ(machine.readFile(kBackup), "the last good backup");
}

TEST_F(BackupJob, ResultCodesBecomeFlagsAndTexts) {
    ArchiveJob& job = archiveJob();
    auto reset = [&] {
        job.errorFlag = false;
        job.aborted = false;
        job.errorText = "earlier text";
        job.callbackError.clear();
    };
    reset();
    MapArchiveResult(0);
    EXPECT_FALSE(job.errorFlag);
    EXPECT_EQ(job.errorText, "earlier text");

    const std::pair<int32_t, const char*> withText[] = {
        {5, "Access denied!"},
        {101, "Disk is full. Replace or select other!"},
        {150, "Drive is write protected!"}};
    for (const auto& [code, text] : withText) {
        reset();
        MapArchiveResult(code);
        EXPECT_TRUE(job.errorFlag) << code;
        EXPECT_FALSE(job.aborted) << code;
        EXPECT_EQ(job.errorText.rfind(text, 0), 0u) << job.errorText;
    }

    reset();
    MapArchiveResult(2926);
    EXPECT_TRUE(job.aborted);
    EXPECT_FALSE(job.errorFlag);
    EXPECT_EQ(job.errorText, "");

    // Results without a text of their own are failures too, never success.
    for (int32_t code : {2, 13, 86, 206, 9961, -1}) {
        reset();
        MapArchiveResult(code);
        EXPECT_TRUE(job.errorFlag) << code;
        EXPECT_FALSE(job.aborted) << code;
        EXPECT_FALSE(job.errorText.empty()) << code;
        EXPECT_NE(job.errorText, "earlier text") << code;
    }

    // A damaged file as the library reports it: its own account is the text.
    machine.writeFile("C:\\Backups\\foreign.ebk", "this is no archive at all");
    archive::FileList patterns;
    archive::NameList names;
    archive::ArchiveInfo info;
    archive::ExtractOptions eo;
    ASSERT_TRUE(archive::MakeExtractOptions(eo, false, job.stagingFolder));
    archive::SqxInitFileList(patterns);
    archive::SqxAddFileList("*.*", patterns);
    archive::SqxInitArcFileList(names);
    const int32_t r = archive::SqxListFiles("C:\\Backups\\foreign.ebk", patterns, names, info, eo,
                                            ArchiveCallback, 0);
    reset();
    MapArchiveResult(r);
    archive::SqxDoneArcFileList(names);
    archive::SqxDoneFileList(patterns);
    EXPECT_EQ(r, archive::kResultDamaged);
    EXPECT_TRUE(job.errorFlag);
    EXPECT_NE(job.errorText.find("C:\\Backups\\foreign.ebk"), std::string::npos) << job.errorText;

    EXPECT_EQ(VolumeSizeCode(0), 1357664);
    EXPECT_EQ(VolumeSizeCode(1), 9);
    EXPECT_EQ(VolumeSizeCode(2), 11);
    EXPECT_EQ(VolumeSizeCode(3), 12);
    EXPECT_EQ(VolumeSizeCode(4), 13);
    EXPECT_EQ(VolumeSizeCode(5), 0);
}

TEST_F(BackupJob, SplitBackupWritesVolumesThatReadBackWhole) {
    const std::string data = randomBytes(3500000, 7);  // does not compress
    machine.writeFile("C:\\Mail\\big.mbx", data);
    machine.writeFile("C:\\Mail\\small.txt", "small");
    ArchiveJob& job = archiveJob();
    job.multipleVolumes = true;
    job.volumeSizeIndex = 0;  // floppy
    registerMailFilesAdapter({"big.mbx", "small.txt"});
    ASSERT_FALSE(RunBackup(kBackup, kKind, {}, {})) << job.errorText;
    EXPECT_EQ(filesIn(machine.host("C:\\Backups")),
              (std::vector<std::string>{"mail.e01", "mail.e02", "mail.ebk", "readme.txt"}));
    EXPECT_EQ(fs::file_size(machine.host("C:\\Backups\\mail.ebk")), 1357664u);
    EXPECT_EQ(fs::file_size(machine.host("C:\\Backups\\mail.e01")), 1357664u);
    // The person was asked for each further volume.
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text, "Insert next volume! Disk number 2");
    EXPECT_EQ(boxes.boxes[1].text, "Insert next volume! Disk number 3");

    // The volumes put together are the whole archive.
    qb::test::TempDir tmp;
    const fs::path joined = tmp.path() / "joined.zip";
    {
        std::ofstream out(joined, std::ios::binary);
        for (const char* v :
             {"C:\\Backups\\mail.ebk", "C:\\Backups\\mail.e01", "C:\\Backups\\mail.e02"})
            out << machine.readFile(v);
    }
    std::string error;
    const auto entries = readZip(joined, nullptr, &error);
    ASSERT_TRUE(error.empty()) << error;
    EXPECT_EQ(entries.at("Mail/big.mbx").data, data);
    EXPECT_EQ(entries.at("Mail/small.txt").data, "small");
}

TEST_F(BackupJob, PasswordProtectsTheBackup) {
    machine.writeFile("C:\\Mail\\secret.mbx", "private mail");
    archiveJob().password = "correct horse";
    registerMailFilesAdapter({"secret.mbx"});
    ASSERT_FALSE(RunBackup(kBackup, kKind, {}, {})) << archiveJob().errorText;
    archiveJob().password.clear();
    std::string error;
    readZip(machine.host(kBackup), nullptr, &error);
    EXPECT_FALSE(error.empty()) << "read without the password";
    const auto entries = readZip(machine.host(kBackup), "correct horse", &error);
    ASSERT_TRUE(error.empty()) << error;
    EXPECT_EQ(entries.at("Mail/secret.mbx").data, "private mail");
}

TEST_F(BackupJob, KindWithoutAdapterDoesNothing) {
    machine.writeFile(kBackup, "old");
    archiveJob().errorFlag = true;
    EXPECT_FALSE(RunBackup(kBackup, kind::PocoMailFamily, {}, {}));
    EXPECT_FALSE(RunBackup(kBackup, 12345, {}, {}));
    EXPECT_EQ(machine.readFile(kBackup), "old");
}

TEST_F(BackupJob, MissingLibraryTellsThePersonAndJobsFail) {
    const std::string saved = std::getenv("QUILLBOX_SQX");
    ::setenv("QUILLBOX_SQX", "/nonexistent/libsqx.so", 1);
    const bool loaded = InitJobModule(kLang);
    ::setenv("QUILLBOX_SQX", saved.c_str(), 1);
    EXPECT_FALSE(loaded);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "SQX.DLL not found! Reinstall Quillbox!");
    EXPECT_EQ(boxes.boxes[0].icon, MsgIcon::Error);
    EXPECT_EQ(boxes.boxes[0].buttons, MsgButtons::Ok);

    // A job run anyway records a failure instead of a success.
    machine.writeFile("C:\\Mail\\a.txt", "a");
    registerMailFilesAdapter({"a.txt"});
    EXPECT_TRUE(RunBackup(kBackup, kKind, {}, {}));
    EXPECT_NE(archiveJob().errorText.find("/nonexistent/libsqx.so"), std::string::npos);
    EXPECT_TRUE(InitJobModule(kLang));
}

TEST(ConsoleProgress, OneLinePerItemAndPerFivePercent) {
    std::ostringstream captured;
    std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
    ConsoleJobProgress console;
    console.start();
    for (int p = 0; p <= 100; ++p)
        for (int repeat = 0; repeat < 3; ++repeat)
            console.progress(p / 2, p,
                             p < 50 ? "Backing up: Mail Folders" : "Backing up: Address Book");
    console.start();
    console.progress(0, 0, "Backing up: Mail Folders");
    std::cerr.rdbuf(old);
    const std::string text = captured.str();
    const auto lines = std::count(text.begin(), text.end(), '\n');
    EXPECT_EQ(lines, 11 + 1) << text;  // 0, 5, ... 50 (the second item from 25), the new job
    EXPECT_NE(text.find("quillbox: 20%  Backing up: Mail Folders\n"), std::string::npos) << text;
    EXPECT_NE(text.find("quillbox: 25%  Backing up: Address Book\n"), std::string::npos) << text;
}
