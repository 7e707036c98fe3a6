// The quillbox program as a child process on a fake machine: its exit status, what
// it prints, and what it leaves in the machine's registry and folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include <filesystem>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app_fixture.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "testkit/clients_fixture.h"
#include "testkit/testkit.h"

using namespace qb;
using namespace qb::test;
namespace fs = std::filesystem;

namespace {

ProgramRun quillbox(const FakeMachine& m, const std::vector<std::string>& args) {
    return runProgram(m, kQuillbox, args);
}

// No display for the child: neither X nor a platform plugin that needs none.
class ScopedNoDisplay {
  public:
    ScopedNoDisplay() {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            const char* v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
            ::unsetenv(name);
        }
    }
    ~ScopedNoDisplay() {
        for (const auto& [name, value] : saved_)
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
    }
    ScopedNoDisplay(const ScopedNoDisplay&) = delete;
    ScopedNoDisplay& operator=(const ScopedNoDisplay&) = delete;

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace

TEST(QuillboxProgram, HelpAndVersionTouchNothing) {
    FakeMachine m;
    const ProgramRun version = quillbox(m, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quillbox " QB_VERSION "\n");
    for (const char* flag : {"--help", "/?", "--HELP"}) {
        const ProgramRun help = quillbox(m, {flag});
        EXPECT_EQ(help.status, 0) << flag;
        for (const char* word : {"/b /c:CLIENTS /p:FOLDER", "/r /f:BACKUPFILE /p:FOLDER", "/auto",
                                 "/uninstall", "oexpress", "favorites", "exit status", "--no-undo"})
            EXPECT_NE(help.out.find(word), std::string::npos) << flag << " " << word;
    }
    platform::Registry r(platform::RootKey::CurrentUser);
    EXPECT_FALSE(r.keyExists(app::kSettingsKey));
}

TEST(QuillboxProgram, InvalidCommandsExitWithOneAndTheSyntaxMessage) {
    FakeMachine m;
    const ProgramRun three = quillbox(m, {"/b", "/c:oexpress", "/p:C:\\Backup"});
    EXPECT_EQ(three.status, 1);
    EXPECT_NE(three.err.find("Error: Invalid command!"), std::string::npos) << three.err;
    EXPECT_EQ(three.out, "");
    EXPECT_FALSE(platform::directoryExists("C:\\Backup"));
    // The start-up ran first: the settings' defaults are in the machine's registry.
    platform::Registry r(platform::RootKey::CurrentUser);
    ASSERT_TRUE(r.openKeyReadOnly(app::kSettingsKey));
    EXPECT_EQ(r.readInteger("BackupMode"), 2);
    EXPECT_EQ(r.readString("AutoBackupDir"), "C:\\users\\tester\\Documents\\AutoBackup\\");

    // Without a display the main window cannot open: one line, and status 1.
    {
        ScopedNoDisplay noDisplay;
        const ProgramRun opened = quillbox(m, {"/O", "C:\\a.ebk"});
        EXPECT_EQ(opened.status, 1);
        EXPECT_NE(opened.err.find("main window cannot open"), std::string::npos) << opened.err;
        const ProgramRun plain = quillbox(m, {});
        EXPECT_EQ(plain.status, 1);
        EXPECT_EQ(std::count(plain.err.begin(), plain.err.end(), '\n'), 1) << plain.err;
        EXPECT_EQ(plain.out, "");
    }
    EXPECT_EQ(quillbox(m, {"/r", "/f:C:\\a.ebk", "/p"}).status, 1);
}

TEST(QuillboxProgram, BackupOfAnUninstalledFamilyFailsButMakesTheFolder) {
    FakeMachine m;
    test::TempDir host;
    const fs::path folder = host.path() / "Backups" / "Mixed Case";
    const ProgramRun r = quillbox(m, {"/B", "/C:PocoMail", "/P:" + folder.string(), "-"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "PocoMail: not backed up, no version of it is installed\n");
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST(QuillboxProgram, WithoutTheArchiveLibraryEveryRunFails) {
    FakeMachine m;
    // A copy of the program in a folder without the library beside it.
    test::TempDir dir;
    const fs::path copy = dir.path() / "quillbox";
    fs::copy_file(kQuillbox, copy);
    const ProgramRun r =
        runProgram(m, copy.string(), {"/b", "/c:favorites", "/p:C:\\B", "-"}, false);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("SQX.DLL not found! Reinstall Quillbox!"), std::string::npos) << r.err;
}

namespace {

// The .ebk files of a folder of the machine.
std::vector<std::string> backupFiles(const FakeMachine& m, std::string_view folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(m.host(folder), ec))
        if (e.path().extension() == ".ebk") out.push_back(e.path().filename().string());
    return out;
}

}  // namespace

TEST(QuillboxProgram, NoBackupIsReportedForWhatWasNotBackedUp) {
    FakeMachine m;
    // An empty machine: neither Outlook nor anything in the Favorites.
    const ProgramRun empty = quillbox(m, {"/b", "/c:msoutlook+favorites", "/p:C:\\B", "-"});
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.out,
              "Microsoft Outlook: not backed up, it is not installed on this machine\n"
              "Internet Explorer Favorites: not backed up, it is not installed on this machine\n");
    EXPECT_NE(empty.err.find("no e-mail client is installed on the machine " + m.prefix().string()),
              std::string::npos)
        << empty.err;
    EXPECT_TRUE(backupFiles(m, "C:\\B").empty());

    // A misspelt name in a list stops the whole run, naming it and the valid names;
    // the substring rule still lets names run together.
    test::installTheBat(m);
    test::installEudora(m);
    const ProgramRun typo = quillbox(m, {"/b", "/c:thebat,outlok", "/p:C:\\T", "-"});
    EXPECT_EQ(typo.status, 1);
    EXPECT_EQ(typo.out, "");
    EXPECT_NE(typo.err.find("\"outlok\" is no client"), std::string::npos) << typo.err;
    EXPECT_NE(typo.err.find("oexpress msoutlook eudora"), std::string::npos) << typo.err;
    EXPECT_FALSE(platform::directoryExists("C:\\T"));
    const ProgramRun joined = quillbox(m, {"/b", "/c:eudorathebat", "/p:C:\\T", "-"});
    EXPECT_EQ(joined.status, 0) << joined.err;
    EXPECT_EQ(backupFiles(m, "C:\\T").size(), 2u);
    // Without a terminal only the result lines: no progress unless asked for.
    EXPECT_EQ(joined.err.find('%'), std::string::npos) << joined.err;
    const ProgramRun verbose = quillbox(m, {"/b", "/c:eudora", "/p:C:\\V", "-", "--verbose"});
    EXPECT_EQ(verbose.status, 0) << verbose.err;
    EXPECT_NE(verbose.err.find("Eudora: 100%"), std::string::npos) << verbose.err;

    // A drive the machine lacks is named as such, once.
    const ProgramRun drive = quillbox(m, {"/b", "/c:eudora", "/p:Q:\\Backups", "-"});
    EXPECT_EQ(drive.status, 1);
    EXPECT_EQ(drive.err, "quillbox: Q:\\Backups: the machine has no drive Q:\n");
}

TEST(QuillboxProgram, ItemsTheMachineLacksAreNotedAndTheRestIsBackedUp) {
    FakeMachine m;
    const test::OEInstall oe = test::installOutlookExpress(m);
    // No address book file named, and the stationery folder gone.
    test::setString(platform::RootKey::CurrentUser,
                    "\\Software\\Microsoft\\WAB\\WAB4\\Wab File Name", "", "");
    fs::remove_all(m.host(oe.stationeryFolder));
    const ProgramRun r = quillbox(m, {"/b", "/c:oexpress", "/p:C:\\B", "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("Outlook Express: backed up to C:\\B\\")) << r.out;
    EXPECT_NE(r.err.find("Outlook Express: The address book adds nothing"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Outlook Express: The stationery adds nothing: its folder " +
                         oe.stationeryFolder + " does not exist"),
              std::string::npos)
        << r.err;
    ASSERT_EQ(backupFiles(m, "C:\\B").size(), 1u);
}

TEST(QuillboxProgram, ADirectRestoreFirstBacksUpWhatItReplaces) {
    FakeMachine m;
    const test::EudoraInstall eudora = test::installEudora(m);
    ASSERT_EQ(quillbox(m, {"/b", "/c:eudora", "/p:C:\\B", "-"}).status, 0);
    const std::vector<std::string> made = backupFiles(m, "C:\\B");
    ASSERT_EQ(made.size(), 1u);
    const std::string older = "C:\\B\\" + made[0];
    // New mail arrives after the backup.
    const std::string inbox = eudora.folder + "\\In.mbx";
    const std::string newMail = "From new@example.com Tue Dec 08 2026\r\nNew mail\r\n";
    m.writeFile(inbox, newMail);

    const ProgramRun restore = quillbox(m, {"/r", "/f:" + older, "/p:C:\\R"});
    EXPECT_EQ(restore.status, 0) << restore.err;
    EXPECT_NE(m.readFile(inbox), newMail);
    const std::string marker = "; its data before the restore is in ";
    const size_t at = restore.out.find(marker);
    ASSERT_NE(at, std::string::npos) << restore.out;
    const std::string undo =
        restore.out.substr(at + marker.size(), restore.out.size() - at - marker.size() - 1);
    EXPECT_TRUE(
        undo.starts_with("C:\\users\\tester\\Documents\\AutoBackup\\BeforeRestore "
                         "EudoraBackup "))
        << undo;
    EXPECT_TRUE(undo.ends_with(".ebk")) << undo;

    // One restore of that file undoes it; --no-undo makes no further backup.
    const ProgramRun back = quillbox(m, {"/r", "/f:" + undo, "/p:C:\\R", "--no-undo"});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(back.out.find(marker), std::string::npos) << back.out;
    EXPECT_EQ(m.readFile(inbox), newMail);
    EXPECT_EQ(backupFiles(m, "C:\\users\\tester\\Documents\\AutoBackup").size(), 1u);
}

TEST(QuillboxProgram, APrivateMachineIsAnnouncedOnceWhenItIsMade) {
    test::TempDir home;
    const std::string cmd = "env -u QUILLBOX_PREFIX -u WINEPREFIX HOME='" + home.path().string() +
                            "' XDG_DATA_HOME='" + home.path().string() + "' '" + kQuillbox +
                            "' /b /c:favorites '/p:C:\\B' - 2>&1";
    auto runOnce = [&] {
        std::string text;
        if (FILE* p = ::popen(cmd.c_str(), "r")) {
            char buf[512];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
                text.append(buf, n);
            ::pclose(p);
        }
        return text;
    };
    const std::string first = runOnce();
    const fs::path prefix = home.path() / "quillbox" / "prefix";
    EXPECT_NE(first.find("empty private machine was created in " + prefix.string()),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("QUILLBOX_PREFIX"), std::string::npos) << first;
    EXPECT_TRUE(fs::is_directory(prefix / "drive_c"));
    EXPECT_EQ(runOnce().find("private machine"), std::string::npos);
}
