// The scheduled run in this process, with the tests' adapters, and the pruning of
// older automatic backups.
#include "app/auto_backup.h"

#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>

#include "app_fixture.h"
#include "catalog/backup_name.h"
#include "catalog/identities.h"
#include "catalog/kinds.h"
#include "clients/all_clients.h"
#include "platform/files.h"
#include "testkit/clients_fixture.h"

using namespace qb;
using namespace qb::app;
using platform::RootKey;
namespace fs = std::filesystem;

namespace {

const RootKey kCU = RootKey::CurrentUser;

std::string entry(std::string_view code, std::string_view sub = {}) {
    std::string key = std::string(kScheduleKey) + "\\" + std::string(code);
    if (!sub.empty()) key += "\\" + std::string(sub);
    return key;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        out.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return out;
        start = tab + 1;
    }
}

// Every file entry of a ZIP, read by libarchive: name -> content.
std::map<std::string, std::string> readZip(const fs::path& file, std::string* error) {
    std::map<std::string, std::string> out;
    struct archive* a = archive_read_new();
    archive_read_support_format_zip(a);
    struct archive_entry* e;
    if (archive_read_open_filename(a, file.c_str(), 65536) == ARCHIVE_OK) {
        while (archive_read_next_header(a, &e) == ARCHIVE_OK) {
            std::string data;
            char buf[65536];
            la_ssize_t n;
            while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
                data.append(buf, static_cast<size_t>(n));
            if (n < 0) break;
            out[archive_entry_pathname(e)] = std::move(data);
        }
    }
    const char* why = archive_error_string(a);
    *error = why ? why : "";
    archive_read_free(a);
    return out;
}

class ScheduledRun : public test::AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        settings().autoBackupFolder = "C:\\Auto";  // as a folder browser leaves it
        settings().backupMode = kNewBackupFile;
        test::setString(kCU, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
                        "Logon User Name", "Ann");
    }
    std::string autoFile(ClientKind kind) { return "C:\\Auto\\Ann " + DefaultBackupFileName(kind); }
};

}  // namespace

TEST_F(ScheduledRun, BacksUpTheSelectedClientsWithTheirStoredChoices) {
    test::installPegasus(machine, {"Ann", "Bob"});
    test::installTheBat(machine);
    adapter(kind::PegasusMail);
    adapter(kind::TheBat);
    adapter(kind::IncrediMail);
    test::setDword(kCU, entry("0"), "Selected", 0);
    test::setDword(kCU, entry("4"), "Selected", 0);  // scheduled once, no longer
    test::setDword(kCU, entry("5"), "Selected", 1);
    test::setDword(kCU, entry("5", "Identity"), "ann", 1);
    test::setDword(kCU, entry("6"), "Selected", 1);
    // Stored in another order than the client lists them, with an identity the
    // client no longer has.
    test::setDword(kCU, entry("6", "Identity"), "Carl", 1);
    test::setDword(kCU, entry("6", "Identity"), "Bob", 0);
    test::setDword(kCU, entry("6", "Identity"), "ANN", 1);
    test::setDword(kCU, entry("6", "Items"), "Filters", 1);
    test::setDword(kCU, entry("6", "Items"), "Address book", 1);  // names match exactly
    test::setDword(kCU, entry("6", "Items"), "Accounts Settings", 1);
    // A family entry with no version installed has nothing to back up.
    test::setDword(kCU, entry("7"), "Selected", 1);

    EXPECT_TRUE(run({"/auto"}).failed == false) << err;
    ASSERT_EQ(calls.size(), 2u);

    const test::AdapterCall& pegasus = calls[0];
    EXPECT_EQ(pegasus.kind, kind::PegasusMail);
    EXPECT_EQ(pegasus.path, autoFile(kind::PegasusMail));
    ASSERT_EQ(pegasus.identities.count, 2);
    EXPECT_TRUE(pegasus.identities.isChecked(0));   // "ann" names Ann
    EXPECT_FALSE(pegasus.identities.isChecked(1));  // no stored value for Bob
    // Pegasus Mail's items cannot be chosen: all of them go.
    ASSERT_EQ(pegasus.items.count, 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(pegasus.items.isChecked(i)) << i;

    const test::AdapterCall& bat = calls[1];
    EXPECT_EQ(bat.kind, kind::TheBat);
    ASSERT_EQ(bat.identities.count, 2);
    EXPECT_EQ(bat.identities[0].name, "Ann");
    EXPECT_TRUE(bat.identities.isChecked(0));
    EXPECT_EQ(bat.identities[1].name, "Bob");
    EXPECT_FALSE(bat.identities.isChecked(1));
    ASSERT_EQ(bat.items.count, 4);
    const char* expected[] = {"Accounts Settings", "Mail Folders", "Filters", "Address Book"};
    const bool checked[] = {true, false, true, false};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bat.items[i].name, expected[i]);
        EXPECT_EQ(bat.items.isChecked(i), checked[i]) << expected[i];
    }

    EXPECT_TRUE(platform::fileExists(autoFile(kind::TheBat)));
    const std::vector<std::string> log = lines(machine.readFile("C:\\Auto\\quillbox-auto.log"));
    ASSERT_EQ(log.size(), 2u);
    const std::vector<std::string> f = fields(log[1]);
    ASSERT_EQ(f.size(), 5u);
    EXPECT_EQ(f[0].size(), 19u);  // "2026-03-10 08:30:00"
    EXPECT_EQ(f[1], "The Bat!");
    EXPECT_EQ(f[2], autoFile(kind::TheBat));
    EXPECT_EQ(f[3], "backed up");
    EXPECT_EQ(f[4], "");
}

TEST_F(ScheduledRun, AFailedBackupIsLoggedAndFailsTheRun) {
    test::installTheBat(machine);
    test::installEudora(machine);
    adapter(kind::Eudora, true);
    adapter(kind::TheBat);
    test::setDword(kCU, entry("3"), "Selected", 1);
    test::setDword(kCU, entry("6"), "Selected", 1);
    // An earlier backup of the failed client is not pruned; mode 1 would delete it.
    settings().backupMode = kOverwriteLastBackup;
    machine.writeFile("C:\\Auto\\Ann EudoraBackup 1-1-2020.ebk", "old");

    EXPECT_TRUE(run({"/auto"}).failed);
    const std::vector<std::string> log = lines(machine.readFile("C:\\Auto\\quillbox-auto.log"));
    ASSERT_EQ(log.size(), 2u);
    const std::vector<std::string> f = fields(log[0]);
    ASSERT_EQ(f.size(), 5u);
    EXPECT_EQ(f[1], "Eudora");
    EXPECT_EQ(f[3], "failed");
    // Escaped in the log and on the terminal.
    EXPECT_EQ(f[4], "Access denied! C:\\Locked\\\\x1b[2J\\x07 file.dat");
    EXPECT_NE(err.find("Access denied! C:\\Locked\\\\x1b[2J\\x07\\rfile.dat"), std::string::npos)
        << err;
    EXPECT_EQ(err.find_first_of("\x1b\a\r"), std::string::npos) << err;
    EXPECT_EQ(fields(log[1])[3], "backed up");
    EXPECT_TRUE(platform::fileExists("C:\\Auto\\Ann EudoraBackup 1-1-2020.ebk"));

    // A second run appends.
    run({"/auto"});
    EXPECT_EQ(lines(machine.readFile("C:\\Auto\\quillbox-auto.log")).size(), 4u);
}

TEST_F(ScheduledRun, NothingScheduledDoesNothing) {
    EXPECT_FALSE(run({"/auto"}).failed) << err;
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(platform::fileExists("C:\\Auto\\quillbox-auto.log"));
}

namespace {

class Pruning : public ::testing::Test {
  protected:
    // Five earlier backups of Outlook Express for the user prefix, oldest first,
    // beside files that are not theirs to prune.
    void SetUp() override {
        int64_t age = 100;
        for (const char* d : {"1-1-2026", "1-2-2026", "1-3-2026", "1-4-2026", "1-5-2026"})
            put(prefix + "OExpressBackup " + d + ".ebk", age--);
        put("Bob OExpressBackup 1-1-2026.ebk", 200);
        put(prefix + "EudoraBackup 1-1-2026.ebk", 200);
        put(prefix + "OExpressBackup notes.txt", 200);
        put(newName, 1);
    }
    void put(const std::string& name, int64_t hoursOld) {
        machine.writeFile("C:\\Auto\\" + name, name);
        fs::last_write_time(machine.host("C:\\Auto\\" + name),
                            fs::file_time_type::clock::now() - std::chrono::hours(hoursOld));
    }
    std::vector<std::string> remaining() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(machine.host("C:\\Auto")))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> allBut(std::vector<std::string> gone) {
        std::vector<std::string> names = remaining0;
        std::erase_if(names, [&](const std::string& n) {
            return std::find(gone.begin(), gone.end(), n) != gone.end();
        });
        return names;
    }
    void prune(int32_t mode, int32_t keep) {
        remaining0 = remaining();
        PruneAutomaticBackups(kind::OutlookExpress, "C:\\Auto\\" + newName, mode, keep);
    }

    test::FakeMachine machine;
    std::string prefix = "Ann ";
    std::string newName = "Ann OExpressBackup 6-1-2026.ebk";
    std::vector<std::string> remaining0;
};

}  // namespace

TEST_F(Pruning, OverwriteModeDeletesOnlyTheNewestEarlierBackup) {
    prune(kOverwriteLastBackup, 3);
    EXPECT_EQ(remaining(), allBut({"Ann OExpressBackup 1-5-2026.ebk"}));
}

TEST_F(Pruning, NewFileModeDeletesNothing) {
    prune(kNewBackupFile, 1);
    EXPECT_EQ(remaining(), remaining0);
}

TEST_F(Pruning, KeepModeKeepsTheNewestOthersAndNeverTheNewFile) {
    // The new file looks older than all the others (a clock set back): still kept.
    put(newName, 500);
    prune(kKeepLastBackups, 2);
    EXPECT_EQ(remaining(),
              allBut({"Ann OExpressBackup 1-1-2026.ebk", "Ann OExpressBackup 1-2-2026.ebk",
                      "Ann OExpressBackup 1-3-2026.ebk"}));
    // Any other mode counts as keep; a count of 0 deletes nothing.
    prune(9, 0);
    EXPECT_EQ(remaining(), remaining0);
    prune(9, 1);
    EXPECT_EQ(remaining(), allBut({"Ann OExpressBackup 1-4-2026.ebk"}));
}

TEST_F(Pruning, TheNewFileIsKnownWhateverItsLetterCaseOnTheDisk) {
    // The backup replaced an older file whose name differs in letter case only.
    fs::rename(machine.host("C:\\Auto\\" + newName),
               machine.host("C:\\Auto") / "ann oexpressbackup 6-1-2026.ebk");
    prune(kOverwriteLastBackup, 3);
    EXPECT_EQ(remaining(), allBut({"Ann OExpressBackup 1-5-2026.ebk"}));
}

TEST_F(Pruning, WithoutAUserPrefixOtherUsersBackupsStay) {
    newName = "OExpressBackup 6-1-2026.ebk";
    put(newName, 1);
    put("OExpressBackup 1-1-2026.ebk", 300);
    put("OExpressBackup 1-2-2026.ebk", 250);
    prune(kKeepLastBackups, 1);
    EXPECT_EQ(remaining(), allBut({"OExpressBackup 1-1-2026.ebk"}));
}

namespace {

// Two versions of each family whose versions share a file-name prefix, all
// scheduled, backed up by the real adapters.
class ScheduledVersions : public ScheduledRun {
  protected:
    void SetUp() override {
        ScheduledRun::SetUp();
        clients::RegisterAllClients();
        test::installPocoMail(machine, kind::PocoMail2);
        test::installPocoMail(machine, kind::PocoMail3);
        test::installOpera6(machine);
        test::installOpera7(machine);
        test::installNetscape4(machine);
        test::installMozilla(machine);
        for (ClientKind k : kVersions) {
            const std::string code = std::to_string(k);
            test::setDword(kCU, entry(code), "Selected", 1);
            std::vector<std::string> ids, items;
            ListIdentitiesAndItems(k, ids, items);
            for (const std::string& id : ids)
                test::setDword(kCU, entry(code, "Identity"), id, 1);
            for (const std::string& item : items)
                test::setDword(kCU, entry(code, "Items"), item, 1);
        }
    }
    // The name a backup of `k` made `daysAgo` days ago has.
    static std::string named(ClientKind k, int daysAgo, bool withVersion = true) {
        const auto day = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now()) -
                         std::chrono::days(daysAgo);
        return "Ann " + BackupFileName(k, withVersion, std::chrono::year_month_day{day});
    }
    fs::path host(const std::string& name) { return machine.host("C:\\Auto\\" + name); }
    // A copy of today's backup of `k`, as if made `daysAgo` days ago.
    void older(ClientKind k, int daysAgo, std::string name = {}) {
        if (name.empty()) name = named(k, daysAgo);
        fs::copy_file(host(named(k, 0)), host(name), fs::copy_options::overwrite_existing);
        fs::last_write_time(host(name),
                            fs::file_time_type::clock::now() - std::chrono::hours(24 * daysAgo));
    }
    std::set<std::string> backups() {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(machine.host("C:\\Auto")))
            if (e.path().extension() == ".ebk") names.insert(e.path().filename().string());
        return names;
    }
    std::string manifestKeyOf(const std::string& name) {
        std::string error;
        const auto entries = readZip(host(name), &error);
        const auto it = entries.find("infobak.ini");
        if (it == entries.end()) return "unreadable: " + error;
        const size_t at = it->second.find("EmailClient=");
        if (at == std::string::npos) return "no key";
        const size_t end = it->second.find_first_of("\r\n", at);
        return it->second.substr(at + 12, end - at - 12);
    }

    static constexpr std::array<ClientKind, 6> kVersions{kind::PocoMail2, kind::PocoMail3,
                                                         kind::Opera6,    kind::Opera7,
                                                         kind::Netscape4, kind::Mozilla};
};

}  // namespace

TEST_F(ScheduledVersions, EveryVersionKeepsItsOwnBackupsAndPrunesOnlyThose) {
    // One run: one file per version, each its own backup.
    ASSERT_FALSE(run({"/auto"}).failed) << err << out.str();
    std::set<std::string> expected;
    for (ClientKind k : kVersions) {
        expected.insert(named(k, 0));
        EXPECT_EQ(manifestKeyOf(named(k, 0)), manifestKey(k)) << k;
    }
    EXPECT_EQ(backups(), expected);
    EXPECT_TRUE(named(kind::PocoMail2PE, 0).starts_with("Ann PocoMailBackup 2.x PE "));
    // Output and log name the version.
    EXPECT_NE(out.str().find("PocoMail 3: backed up to C:\\Auto\\" + named(kind::PocoMail3, 0)),
              std::string::npos)
        << out.str();
    const std::string log = machine.readFile("C:\\Auto\\quillbox-auto.log");
    EXPECT_NE(log.find("\tPocoMail 2\tC:\\Auto\\" + named(kind::PocoMail2, 0) + "\tbacked up"),
              std::string::npos)
        << log;

    // Earlier backups: two per version, one made while PocoMail 2 was the only
    // version (no label; its manifest says PocoMail 2), and a file that cannot be read.
    for (ClientKind k : kVersions) {
        older(k, 1);
        older(k, 2);
    }
    const std::string unlabelled = named(kind::PocoMail2, 3, false);
    older(kind::PocoMail2, 3, unlabelled);
    const std::string unreadable = named(kind::Opera7, 3, false);
    machine.writeFile("C:\\Auto\\" + unreadable, "not a backup");

    // A later run in mode 1: each version loses exactly its newest earlier file.
    settings().backupMode = kOverwriteLastBackup;
    ASSERT_FALSE(run({"/auto"}).failed) << err;
    expected.insert({unlabelled, unreadable});
    for (ClientKind k : kVersions)
        expected.insert(named(k, 2));
    EXPECT_EQ(backups(), expected);

    // Mode 3 keeping 2: each version keeps its own two newest earlier files.
    for (ClientKind k : kVersions) {
        older(k, 4);
        older(k, 5);
    }
    settings().backupMode = kKeepLastBackups;
    settings().backupKeep = 2;
    ASSERT_FALSE(run({"/auto"}).failed) << err;
    expected.clear();
    expected.insert(unreadable);
    for (ClientKind k : kVersions) {
        expected.insert(named(k, 0));
        expected.insert(named(k, 2));
        // PocoMail 2's unlabelled file is its second; the others keep day 4.
        expected.insert(k == kind::PocoMail2 ? unlabelled : named(k, 4));
    }
    EXPECT_EQ(backups(), expected);
}

TEST_F(ScheduledRun, ASingleVersionKeepsThePlainName) {
    test::installPocoMail(machine, kind::PocoMail3);
    adapter(kind::PocoMail3);
    test::setDword(kCU, entry("73"), "Selected", 1);
    ASSERT_FALSE(run({"/auto"}).failed) << err;
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path, autoFile(kind::PocoMail3));
    EXPECT_EQ(BackupFileNameFor(kind::PocoMail3), DefaultBackupFileName(kind::PocoMail3));
}

TEST_F(ScheduledRun, LeftOutItemsAndUninstalledClientsAreLogged) {
    test::installEudora(machine);
    adapter(kind::Outlook);  // scheduled, but not on this machine
    registered.push_back(kind::Eudora);
    const std::string note = "The address book adds nothing: its folder C:\\Gone does not exist";
    jobs::RegisterBackupAdapter(kind::Eudora, [&](jobs::BackupContext& ctx) {
        jobs::archiveJob().notes.push_back(note);
        jobs::StartBackupFrame(ctx);
        jobs::WriteManifest(ctx);
        jobs::AddStagingFileToJob(jobs::kManifestName);
        jobs::FinishBackupFrame(ctx);
    });
    test::setDword(kCU, entry("2"), "Selected", 1);
    test::setDword(kCU, entry("3"), "Selected", 1);

    EXPECT_TRUE(run({"/auto"}).failed);
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(platform::fileExists(autoFile(kind::Eudora)));
    EXPECT_NE(err.find("Eudora: " + note), std::string::npos) << err;
    EXPECT_NE(
        out.str().find("Microsoft Outlook: not backed up, it is not installed on this machine"),
        std::string::npos)
        << out.str();
    int seen = 0;
    for (const std::string& line : lines(machine.readFile("C:\\Auto\\quillbox-auto.log"))) {
        const std::vector<std::string> f = fields(line);
        ASSERT_EQ(f.size(), 5u) << line;
        if (f[1] == "Eudora") {
            EXPECT_EQ(f[3], "backed up");
            EXPECT_EQ(f[4], note);
            ++seen;
        } else if (f[1] == "Microsoft Outlook") {
            EXPECT_EQ(f[3], "skipped");
            EXPECT_EQ(f[4], "not installed on this machine");
            ++seen;
        }
    }
    EXPECT_EQ(seen, 2);
}
