// The quillbox program as a child process on a fake machine: its exit status, what
// it prints, and what it leaves in the machine's registry and folders.
#include <gtest/gtest.h>

#include <algorithm>
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
    const ProgramRun help = quillbox(m, {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"/b /c:CLIENTS /p:FOLDER", "/r /f:BACKUPFILE /p:FOLDER", "/auto",
                             "/uninstall", "oexpress", "favorites", "exit status"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
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
