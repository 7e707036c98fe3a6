// Hive files on disk: exact round trips, what a change rewrites, atomic saves,
// broken files, and the refusal to write while a Wine server runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/machine.h"
#include "platform/registry.h"
#include "registry_test_support.h"
#include "support/child_process.h"

namespace qb::platform {
namespace {

using test::FakeMachine;
using test::FixturePrefix;
using test::readHostFile;
using test::sections;
using test::WineServerLock;
using test::writeHostFile;
namespace fs = std::filesystem;

struct timespec modifiedAt(const fs::path& file) {
    struct stat st {};
    ::stat(file.c_str(), &st);
    return st.st_mtim;
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Equal texts, or where they part (hive files are too long to print whole).
::testing::AssertionResult sameText(const std::string& a, const std::string& b) {
    if (a == b) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    const size_t from = at > 80 ? at - 80 : 0;
    return ::testing::AssertionFailure() << "the texts differ at byte " << at << ":\n"
                                         << a.substr(from, 200) << "\n---- versus:\n"
                                         << b.substr(from, 200);
}

TEST(RegistryFiles, HivesWithoutChangesAreNeitherRewrittenNorAltered) {
    FixturePrefix p;
    const auto before = modifiedAt(p.hive("system.reg"));
    {
        Registry lm(RootKey::LocalMachine);
        ASSERT_TRUE(lm.openKey("\\Software\\Microsoft\\Windows\\CurrentVersion", false));
        EXPECT_EQ(lm.readString("ProgramFilesDir"), "C:\\Program Files");
        // Writing what a value already holds is no change.
        lm.writeString("ProgramFilesDir", "C:\\Program Files");
        Registry cr(RootKey::ClassesRoot);
        EXPECT_FALSE(cr.keyNames().empty());
        Registry users(RootKey::Users);
        EXPECT_TRUE(users.keyExists("\\.Default\\Software"));
    }
    flushRegistry();
    unloadRegistry();
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"})
        EXPECT_TRUE(sameText(p.text(name), readHostFile(FixturePrefix::original(name)))) << name;
    EXPECT_TRUE(sameTime(before, modifiedAt(p.hive("system.reg"))));
}

TEST(RegistryFiles, AChangeRewritesOnlyItsKeyAndIsReadBackByAFreshLoad) {
    FixturePrefix p;
    const std::string original = p.text("system.reg");
    const std::string changedKey =
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\iexplore.exe]";
    const std::string newKey = "[Software\\\\Quillbox\\\\Test]";
    {
        Registry lm(RootKey::LocalMachine);
        ASSERT_TRUE(
            lm.openKey("\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\"
                       "IEXPLORE.EXE",
                       false));
        lm.writeString("Quillbox", "was here");
        ASSERT_TRUE(lm.openKey("\\Software\\Quillbox\\Test", true));
        lm.writeInteger("Count", 7);
    }  // saved here, as the accessor goes
    const std::string saved = p.text("system.reg");
    ASSERT_NE(saved, original);
    auto before = sections(original), after = sections(saved);
    ASSERT_TRUE(before.count(changedKey));
    ASSERT_TRUE(after.count(newKey));
    EXPECT_EQ(after.size(), before.size() + 1);
    for (const auto& [key, text] : before) {
        if (key == changedKey) continue;
        ASSERT_TRUE(after.count(key)) << key;
        EXPECT_EQ(after[key], text) << key;
    }
    // The changed key: new time stamps, its old values as they were, the new one last.
    const std::string& changed = after[changedKey];
    EXPECT_EQ(changed.find(before[changedKey].substr(before[changedKey].find("\n#time="))),
              std::string::npos);
    EXPECT_NE(changed.find("\"Path\"=\"C:\\\\Program Files\\\\Internet Explorer;\"\n"
                           "\"Quillbox\"=\"was here\"\n"),
              std::string::npos)
        << changed;
    EXPECT_NE(after[newKey].find("\n#time="), std::string::npos);
    EXPECT_NE(after[newKey].find("\"Count\"=dword:00000007\n"), std::string::npos);
    // Outside the two sections, not a byte moved.
    auto strip = [](std::string text, const std::string& section) {
        const size_t at = text.find(section);
        if (at != std::string::npos) text.erase(at, section.size());
        return text;
    };
    EXPECT_TRUE(sameText(strip(strip(saved, after[changedKey]), after[newKey]),
                         strip(original, before[changedKey])));

    unloadRegistry();
    Registry fresh(RootKey::LocalMachine);
    ASSERT_TRUE(fresh.openKeyReadOnly(
        "\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\iexplore.exe"));
    EXPECT_EQ(fresh.readString("quillbox"), "was here");
    EXPECT_EQ(fresh.valueNames().back(), "Quillbox");
    ASSERT_TRUE(fresh.openKeyReadOnly("\\Software\\Quillbox\\Test"));
    EXPECT_EQ(fresh.readInteger("Count"), 7);
}

TEST(RegistryFiles, SavesAreAtomicKeepTheModeAndLeaveNoTemporaryFiles) {
    FixturePrefix p;
    fs::permissions(p.hive("user.reg"),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // Temporary files of saves killed midway: those of processes that are gone go
    // with the next save of their hive; a running process's, another hive's and
    // names without a process stay. A planted link goes, not what it points to.
    const std::string gone = std::to_string(qb::test::goneProcess());
    const std::string running = std::to_string(::getppid());
    const fs::path outside = p.prefix().parent_path() / "outside.txt";
    writeHostFile(outside, "keep me");
    for (const std::string& name : std::vector<std::string>{
             ".user.reg.qbtmp-" + gone + "-Ab12Cd", ".user.reg.qbtmp-" + running + "-Ef34Gh",
             ".user.reg.qbtmp-Ij56Kl", ".system.reg.qbtmp-" + gone + "-Mn78Op"})
        writeHostFile(p.prefix() / name, "half a hive");
    fs::create_symlink(outside, p.prefix() / (".user.reg.qbtmp-" + gone + "-link"));
    for (int i = 0; i < 3; ++i) {
        Registry cu(RootKey::CurrentUser);
        ASSERT_TRUE(cu.openKey("\\Software\\Atomic", true));
        cu.writeInteger("Run", i);
        cu.closeKey();
    }
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(p.prefix()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".system.reg.qbtmp-" + gone + "-Mn78Op",
                                               ".user.reg.qbtmp-" + running + "-Ef34Gh",
                                               ".user.reg.qbtmp-Ij56Kl", "dosdevices", "drive_c",
                                               "system.reg", "user.reg", "userdef.reg"}));
    EXPECT_EQ(readHostFile(outside), "keep me");
    EXPECT_EQ(fs::status(p.hive("user.reg")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    unloadRegistry();
    Registry cu(RootKey::CurrentUser);
    ASSERT_TRUE(cu.openKeyReadOnly("\\Software\\Atomic"));
    EXPECT_EQ(cu.readInteger("Run"), 2);
}

TEST(RegistryFiles, AMalformedHiveReportsFileAndLineAndIsNeverRewritten) {
    FixturePrefix p;
    std::string text = p.text("user.reg");
    // Line 9 of user.reg is a value of the first key; break its string.
    size_t at = 0;
    for (int line = 1; line < 9; ++line)
        at = text.find('\n', at) + 1;
    text.insert(at, "\"Broken\"=hex:01,zz\n");
    writeHostFile(p.hive("user.reg"), text);
    unloadRegistry();

    Registry cu(RootKey::CurrentUser);
    try {
        cu.keyExists("\\Control Panel");
        ADD_FAILURE() << "a broken hive was read";
    } catch (const RegistryError& e) {
        const std::string msg = e.what();
        EXPECT_NE(msg.find(p.hive("user.reg").string() + ", line 9:"), std::string::npos) << msg;
        EXPECT_NE(msg.find("bad hex data"), std::string::npos) << msg;
    }
    EXPECT_THROW(cu.openKey("\\Software\\New", true), RegistryError);
    EXPECT_THROW(cu.writeString("x", "y"), RegistryError);
    Registry cr(RootKey::ClassesRoot);  // merges the user's classes: reports the same
    EXPECT_THROW(cr.keyNames(), RegistryError);
    // The machine's hive is fine and stays usable.
    Registry lm(RootKey::LocalMachine);
    ASSERT_TRUE(lm.openKey("\\Software\\Quillbox", true));
    lm.writeString("ok", "1");
    lm.closeKey();
    flushRegistry();
    unloadRegistry();
    EXPECT_TRUE(sameText(p.text("user.reg"), text));
}

TEST(RegistryFiles, UnknownLinesAreSkippedWithOneWarningAndTheHiveIsNeverRewritten) {
    FixturePrefix p;
    std::string text = p.text("user.reg");
    // Two lines of no known kind, one before the first key's values, one at the end.
    size_t at = 0;
    for (int line = 1; line < 9; ++line)
        at = text.find('\n', at) + 1;
    text.insert(at, "stray text a later Wine may write\n");
    text += "&another\n";
    writeHostFile(p.hive("user.reg"), text);
    unloadRegistry();

    ::testing::internal::CaptureStderr();
    Registry cu(RootKey::CurrentUser);
    EXPECT_TRUE(cu.keyExists("\\Control Panel"));
    ASSERT_TRUE(cu.openKeyReadOnly("\\Environment"));
    EXPECT_FALSE(cu.readString("TEMP").empty());
    cu.closeKey();
    EXPECT_TRUE(cu.keyExists("\\Software\\Wine"));
    const std::string warned = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(warned.find(p.hive("user.reg").string() + ", line 9: unrecognized line"),
              std::string::npos)
        << warned;
    EXPECT_NE(warned.find("1 more"), std::string::npos) << warned;
    EXPECT_EQ(warned.find('\n'), warned.size() - 1) << "warned more than once: " << warned;

    EXPECT_THROW(cu.openKey("\\Software\\New", true), RegistryError);
    try {
        Registry env(RootKey::CurrentUser);
        ASSERT_TRUE(env.openKey("\\Environment", false));
        env.writeString("TEMP", "C:\\elsewhere");
        ADD_FAILURE() << "a hive with unknown lines was written";
    } catch (const RegistryError& e) {
        EXPECT_NE(std::string(e.what()).find("not rewritten"), std::string::npos) << e.what();
    }
    flushRegistry();
    EXPECT_TRUE(sameText(p.text("user.reg"), text));
}

TEST(RegistryFiles, AHiveChangedByAnotherProgramIsNotOverwritten) {
    FixturePrefix p;
    Registry cu(RootKey::CurrentUser);
    ASSERT_TRUE(cu.openKey("\\Software\\Mine", true));
    cu.writeString("v", "1");
    const std::string theirs = p.text("user.reg") + "\n[Software\\\\Theirs] 1796676580\n";
    writeHostFile(p.hive("user.reg"), theirs);
    EXPECT_THROW(cu.closeKey(), RegistryError);
    EXPECT_TRUE(sameText(p.text("user.reg"), theirs));
    unloadRegistry();  // drops the changes that could not be saved, with a message
    EXPECT_TRUE(sameText(p.text("user.reg"), theirs));
}

TEST(RegistryFiles, AMissingHiveReadsEmptyAndIsCreatedOnTheFirstWrite) {
    FixturePrefix p;
    fs::remove(p.hive("userdef.reg"));
    Registry users(RootKey::Users);
    EXPECT_FALSE(users.keyExists("\\.Default\\Software"));
    ASSERT_TRUE(users.openKey("\\.Default\\Software\\Quillbox", true));
    users.writeString("v", "1");
    users.closeKey();
    const std::string text = p.text("userdef.reg");
    EXPECT_TRUE(
        text.starts_with("WINE REGISTRY Version 2\n;; All keys relative to "
                         "REGISTRY\\\\User\\\\.Default\n\n#arch=win64\n\n"
                         "[Software\\\\Quillbox] "))
        << text;
    EXPECT_TRUE(text.ends_with("\n\"v\"=\"1\"\n")) << text;
}

TEST(RegistryFiles, WritesAreRefusedWhileAWineServerRunsForThePrefix) {
    FakeMachine machine;
    const std::string before = readHostFile(machine.prefix() / "user.reg");
    Registry pending(RootKey::CurrentUser);
    ASSERT_TRUE(pending.openKey("\\Software\\Pending", true));
    pending.writeString("v", "1");
    {
        WineServerLock server(machine.prefix());
        Registry cu(RootKey::CurrentUser);
        ASSERT_TRUE(cu.openKey("\\Environment", true));  // exists: no write needed
        EXPECT_FALSE(cu.readString("TEMP").empty());     // reads still work
        try {
            cu.writeString("TEMP", "C:\\elsewhere");
            ADD_FAILURE() << "a write went through while the server ran";
        } catch (const RegistryError& e) {
            const std::string msg = e.what();
            EXPECT_NE(msg.find(machine.prefix().string()), std::string::npos) << msg;
            EXPECT_NE(msg.find("wineserver -k"), std::string::npos) << msg;
        }
        EXPECT_THROW(cu.openKey("\\Software\\New", true), RegistryError);
        EXPECT_THROW(cu.deleteKey("\\Environment"), RegistryError);
        EXPECT_THROW(cu.deleteValue("TEMP"), RegistryError);
        // A change made before the server started is kept back, not written.
        EXPECT_THROW(pending.closeKey(), RegistryError);
        EXPECT_TRUE(sameText(readHostFile(machine.prefix() / "user.reg"), before));

        // The server ended: its lock file stays, unlocked.
        server.release();
        ASSERT_TRUE(fs::exists(server.folder() / "lock"));
        cu.writeString("Quillbox", "after");
        cu.closeKey();
    }
    const std::string after = readHostFile(machine.prefix() / "user.reg");
    EXPECT_NE(after.find("\"Quillbox\"=\"after\""), std::string::npos);
    EXPECT_NE(after.find("[Software\\\\Pending]"), std::string::npos);
}

TEST(RegistryFiles, DebiansServerFolderIsFoundThroughThePrefix) {
    FakeMachine machine;
    {
        WineServerLock server(machine.prefix(), WineServerLock::Debian);
        Registry cu(RootKey::CurrentUser);
        EXPECT_THROW(cu.openKey("\\Software\\New", true), RegistryError);
        server.release();
        EXPECT_TRUE(cu.openKey("\\Software\\New", true));
    }
    // A name in the prefix's file that leads nowhere is no server.
    writeHostFile(machine.prefix() / "wineserver", "wine-gone");
    Registry cu(RootKey::CurrentUser);
    EXPECT_TRUE(cu.openKey("\\Software\\Other", true));
}

}  // namespace
}  // namespace qb::platform
