// The command line run in this process, with small adapters of the tests standing
// in for the clients' own.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include "app_fixture.h"
#include "catalog/backup_name.h"
#include "catalog/identities.h"
#include "jobs/restore_job.h"
#include "platform/files.h"
#include "support/child_process.h"
#include "support/interaction.h"
#include "support/running_check.h"
#include "testkit/clients_fixture.h"
#include "testkit/testkit.h"

using namespace qb;
using namespace qb::app;
using qb::test::FakeMachine;
namespace fs = std::filesystem;

using CommandLine = qb::test::AppFixture;

TEST_F(CommandLine, BacksUpNamedClientsInTableOrderWithEverythingSelected) {
    test::installEudora(machine);
    test::installTheBat(machine);
    adapter(kind::Eudora);
    adapter(kind::TheBat);

    const CommandLineResult r = run({"/b", "/c:thebat,eudora", "/p:C:\\x\\", "-"});
    EXPECT_FALSE(r.failed) << err;
    EXPECT_TRUE(r.terminate);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, kind::Eudora);
    EXPECT_EQ(calls[1].kind, kind::TheBat);
    const std::string eudoraFile = "C:\\x\\" + DefaultBackupFileName(kind::Eudora);
    const std::string batFile = "C:\\x\\" + DefaultBackupFileName(kind::TheBat);
    EXPECT_EQ(calls[0].path, eudoraFile);
    EXPECT_EQ(calls[1].path, batFile);
    EXPECT_TRUE(platform::fileExists(eudoraFile));
    EXPECT_TRUE(platform::fileExists(batFile));
    EXPECT_EQ(out.str(),
              "Eudora: backed up to " + eudoraFile + "\nThe Bat!: backed up to " + batFile + "\n");

    // Every identity and every item the client has, checked, in list order.
    const test::AdapterCall& bat = calls[1];
    const std::vector<std::string> users = ListIdentities(kind::TheBat);
    const std::vector<std::string> items = BackupItems(kind::TheBat);
    ASSERT_EQ(bat.identities.count, users.size());
    ASSERT_EQ(bat.items.count, items.size());
    for (int i = 0; i < bat.identities.count; ++i) {
        EXPECT_TRUE(bat.identities[i].checked);
        EXPECT_EQ(bat.identities[i].name, users[static_cast<size_t>(i)]);
    }
    for (int i = 0; i < bat.items.count; ++i) {
        EXPECT_TRUE(bat.items[i].checked);
        EXPECT_EQ(bat.items[i].name, items[static_cast<size_t>(i)]);
    }
}

TEST_F(CommandLine, ThreeParametersOrAMisspelledSwitchIsAnInvalidCommand) {
    test::installEudora(machine);
    adapter(kind::Eudora);
    const std::vector<std::vector<std::string>> invalid = {
        {"/b", "/c:eudora", "/p:C:\\Backup"},       // a fourth parameter is required
        {"/b", "/x:eudora", "/p:C:\\Backup", "-"},  // not /c
        {"/b", "/c:eudora", "/pC:\\Backup", "-"},   // the colon must come third
        {"/b", "/c:eudora", "/p", "-"},
        {"/b", "/c:eudora", "/p:", "-"},  // no folder
        {"/b"},
        {"/r", "/x:C:\\a.ebk", "/p:C:\\Backup"},
        {"/r", "/f:C:\\a.ebk"},
    };
    for (const auto& params : invalid) {
        boxes.boxes.clear();
        const CommandLineResult r = run(params);
        EXPECT_TRUE(r.failed) << params.size();
        EXPECT_TRUE(invalidCommandShown()) << params[1 % params.size()];
        EXPECT_EQ(boxes.boxes.size(), 1u);
        EXPECT_NE(err.find("quillbox --help"), std::string::npos);
    }
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(platform::directoryExists("C:\\Backup"));

    // The same with any fourth parameter backs up into the folder.
    boxes.boxes.clear();
    const CommandLineResult r = run({"/b", "/c:eudora", "/p:C:\\Backup", "anything"});
    EXPECT_FALSE(r.failed) << err;
    EXPECT_TRUE(platform::fileExists("C:\\Backup\\" + DefaultBackupFileName(kind::Eudora)));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(CommandLine, SwitchesAndClientsIgnoreCaseTheFolderKeepsIt) {
    test::installEudora(machine);
    adapter(kind::Eudora);
    const CommandLineResult r = run({"/B", "/C:EuDoRa", "/P:C:\\Mixed Case\\SubFolder", "-"});
    EXPECT_FALSE(r.failed) << err;
    ASSERT_EQ(calls.size(), 1u);
    const fs::path folder = machine.host("C:\\");
    EXPECT_TRUE(fs::is_directory(folder / "Mixed Case" / "SubFolder"));
}

TEST_F(CommandLine, EveryInstalledVersionOfAFamilyGetsItsOwnFile) {
    test::installPocoMail(machine, kind::PocoMail2);
    test::installPocoMail(machine, kind::PocoMail3);
    test::installOpera7(machine);
    adapter(kind::PocoMail2);
    adapter(kind::PocoMail3);
    adapter(kind::Opera7);

    const CommandLineResult r = run({"/b", "/c:opera+pocomail", "/p:C:\\B", "-"});
    EXPECT_FALSE(r.failed) << err;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kind, kind::PocoMail3);
    EXPECT_EQ(calls[1].kind, kind::PocoMail2);
    EXPECT_EQ(calls[2].kind, kind::Opera7);
    // Two PocoMail files side by side; the one Opera keeps the usual name.
    EXPECT_EQ(calls[0].path, "C:\\B\\" + CommandLineBackupName(kind::PocoMail3, true));
    EXPECT_EQ(calls[1].path, "C:\\B\\" + CommandLineBackupName(kind::PocoMail2, true));
    EXPECT_NE(calls[0].path, calls[1].path);
    EXPECT_EQ(calls[2].path, "C:\\B\\" + DefaultBackupFileName(kind::Opera7));
    EXPECT_TRUE(CommandLineBackupName(kind::PocoMail3, true).starts_with("PocoMailBackup 3.x "));
    EXPECT_TRUE(CommandLineBackupName(kind::Mozilla, true).starts_with("NetscapeBackup 6.x-7.x "));

    // A family none of whose versions is installed backs up nothing: a failure.
    const CommandLineResult none = run({"/b", "/c:netscape", "/p:C:\\B", "-"});
    EXPECT_TRUE(none.failed);
    EXPECT_EQ(out.str(), "Netscape: not backed up, no version of it is installed\n");
}

TEST_F(CommandLine, OneFailedClientFailsTheRunAndTheOthersStillRun) {
    test::installEudora(machine);
    test::installTheBat(machine);
    test::installFavorites(machine);
    adapter(kind::Eudora, true);
    adapter(kind::TheBat);
    // Favorites has no adapter here: it reports no error but writes nothing.
    const CommandLineResult r = run({"/b", "/c:eudora thebat favorites", "/p:C:\\B", "-"});
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(calls.size(), 2u);
    const std::string text = out.str();
    EXPECT_NE(text.find("Eudora: backup failed: C:\\B\\"), std::string::npos) << text;
    EXPECT_NE(text.find("The Bat!: backed up to"), std::string::npos) << text;
    EXPECT_NE(text.find("Internet Explorer Favorites: backup failed"), std::string::npos) << text;
    EXPECT_NE(err.find("Eudora: Access denied! C:\\Locked\\\\x1b[2J\\x07\\rfile.dat"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find_first_of("\x1b\a\r"), std::string::npos) << err;
    EXPECT_NE(err.find("no backup file was written"), std::string::npos) << err;
}

TEST_F(CommandLine, AFolderOfThisComputerIsReachedThroughDriveZ) {
    test::installEudora(machine);
    adapter(kind::Eudora);
    test::TempDir host;
    const fs::path folder = host.path() / "out dir";
    const CommandLineResult r = run({"/b", "/c:eudora", "/p:" + folder.string(), "-"});
    EXPECT_FALSE(r.failed) << err;
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].path.starts_with("Z:\\")) << calls[0].path;
    const fs::path file = folder / DefaultBackupFileName(kind::Eudora);
    EXPECT_TRUE(fs::is_regular_file(file));
    EXPECT_EQ(out.str(), "Eudora: backed up to " + file.string() + "\n");

    // A relative Windows path has no place on the machine: said so, nothing runs.
    calls.clear();
    EXPECT_TRUE(run({"/b", "/c:eudora", "/p:backups", "-"}).failed);
    EXPECT_TRUE(calls.empty());
    EXPECT_NE(err.find("\"backups\\\" is neither a full Windows path"), std::string::npos) << err;
}

TEST_F(CommandLine, RequestsThatDoNothingFailWithoutTheSyntaxMessage) {
    const std::vector<std::vector<std::string>> cases = {
        {"/b", "/c:outlookexpress", "/p:C:\\B", "-"},  // no keyword in it
        {"/r", "/f:C:\\a.ebk", "/p"},                  // no folder: nothing is restored
        {"/R", "/F:C:\\missing.ebk", "/P:C:\\R"},
        {"backup"},
    };
    for (const auto& params : cases) {
        const CommandLineResult r = run(params);
        EXPECT_TRUE(r.failed) << params[0];
        EXPECT_TRUE(r.terminate);
        EXPECT_FALSE(invalidCommandShown()) << params[0];
        EXPECT_FALSE(err.empty() && out.str().empty()) << params[0];
    }
    EXPECT_FALSE(platform::directoryExists("C:\\R"));

    // "/o" leaves the program running, for the main window to open the file.
    const CommandLineResult open = run({"/O", "C:\\a.ebk"});
    EXPECT_FALSE(open.terminate);
    EXPECT_FALSE(open.failed);
    EXPECT_EQ(open.openBackupFile, "C:\\a.ebk");
}

TEST_F(CommandLine, ARunningClientIsSkippedAndTheOthersGoOn) {
    test::TempDir bin;
    // The client runs in this machine: its prefix is in the program's environment.
    test::ScopedEnv inMachine{"WINEPREFIX", machine.prefix().string()};
    test::ChildProcess outlook = test::ChildProcess::namedSleep(bin.path(), "outlook.exe");
    test::installEudora(machine);
    test::installOutlook(machine);
    adapter(kind::Outlook);
    adapter(kind::Eudora);
    ScriptedCloseProgramsDialog dialog;  // answers Cancel
    ScopedCloseProgramsDialog dialogScope(dialog);

    const CommandLineResult r = run({"/b", "/c:eudora,msoutlook", "/p:C:\\B", "-"});
    EXPECT_TRUE(r.failed);
    ASSERT_EQ(dialog.shown.size(), 1u);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, kind::Eudora);
    EXPECT_NE(out.str().find("Microsoft Outlook: not backed up, the client is running"),
              std::string::npos)
        << out.str();
}

namespace {

// Backs up Eudora with only some items chosen, through the tests' adapter, and
// installs restores that record what they were given.
class CommandLineRestore : public test::AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        test::installEudora(machine);
        adapter(kind::Eudora);
        Selection ids, items;
        ids.add(ListIdentities(kind::Eudora).at(0), true);
        for (const std::string& item : BackupItems(kind::Eudora))
            items.add(item, item == "Mail Folders" || item == "Address Book");
        platform::forceDirectories("C:\\Backups");
        ASSERT_FALSE(jobs::RunBackup(kFile, kind::Eudora, ids, items))
            << jobs::archiveJob().errorText;
        const auto record = [this](bool fail) {
            return [this, fail](jobs::RestoreContext& ctx) {
                restores.push_back(ctx);
                return fail;
            };
        };
        jobs::RegisterRestoreAdapter(kind::Eudora, record(false), record(false));
    }
    void TearDown() override {
        jobs::RegisterRestoreAdapter(kind::Eudora, nullptr, nullptr);
        AppFixture::TearDown();
    }

    static constexpr const char* kFile = "C:\\Backups\\Eudora.ebk";
    std::vector<jobs::RestoreContext> restores;
};

}  // namespace

TEST_F(CommandLineRestore, RestoresIntoTheClientWhatTheBackupHolds) {
    // The tests' adapters stand in for the client: nothing of its own to keep.
    const CommandLineResult r =
        run({"/R", "/F:" + std::string(kFile), "/P:C:\\Restore", "--NO-UNDO"});
    EXPECT_FALSE(r.failed) << err;
    ASSERT_EQ(restores.size(), 1u);
    const jobs::RestoreContext& ctx = restores[0];
    EXPECT_FALSE(ctx.toFolder());
    EXPECT_EQ(ctx.kind, kind::Eudora);
    ASSERT_EQ(ctx.identities.count, 1);
    EXPECT_TRUE(ctx.identities.isChecked(0));
    // Every item of the client, checked where the backup holds it.
    const std::vector<std::string> items = BackupItems(kind::Eudora);
    ASSERT_EQ(ctx.items.count, items.size());
    for (int i = 0; i < ctx.items.count; ++i) {
        const std::string& name = items[static_cast<size_t>(i)];
        EXPECT_EQ(ctx.items[i].name, name);
        EXPECT_EQ(ctx.items.isChecked(i), name == "Mail Folders" || name == "Address Book") << name;
    }
    EXPECT_TRUE(platform::directoryExists("C:\\Restore"));
    EXPECT_EQ(out.str(), "Eudora: restored from " + std::string(kFile) + "\n");
}

TEST_F(CommandLineRestore, ARunningClientGetsItsDataInTheFolderAndTheRunFails) {
    test::TempDir bin;
    test::ScopedEnv inMachine{"WINEPREFIX", machine.prefix().string()};
    test::ChildProcess eudora = test::ChildProcess::namedSleep(bin.path(), "eudora.exe");
    ScriptedCloseProgramsDialog dialog;  // Cancel: the client stays
    ScopedCloseProgramsDialog dialogScope(dialog);
    const CommandLineResult r = run({"/r", "/f:" + std::string(kFile), "/p:C:\\Restore"});
    EXPECT_TRUE(r.failed);
    ASSERT_EQ(restores.size(), 1u);
    EXPECT_EQ(restores[0].targetFolder, "C:\\Restore\\");
    EXPECT_NE(out.str().find("the client is running; restored into the folder C:\\Restore\\"),
              std::string::npos)
        << out.str();
}

TEST_F(CommandLineRestore, AFileThatIsNoBackupRestoresNothing) {
    machine.writeFile("C:\\Backups\\notes.ebk", "not a backup");
    const CommandLineResult r = run({"/r", "/f:C:\\Backups\\notes.ebk", "/p:C:\\Restore"});
    EXPECT_TRUE(r.failed);
    EXPECT_TRUE(restores.empty());
    EXPECT_NE(err.find("names no e-mail client"), std::string::npos) << err;
}
