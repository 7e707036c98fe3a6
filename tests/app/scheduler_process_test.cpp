// The scheduler program and the scheduled and uninstall runs of quillbox, as child
// processes on a fake machine.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/date_time.h"
#include "app/schedule_setup.h"
#include "app/scheduler.h"
#include "app/settings.h"
#include "app_fixture.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/child_process.h"
#include "support/interaction.h"
#include "support/proc_list.h"
#include "testkit/clients_fixture.h"

using namespace qb;
using namespace qb::app;
using namespace qb::test;
using platform::Registry;
using platform::RootKey;
namespace fs = std::filesystem;

namespace {

const RootKey kCU = RootKey::CurrentUser;

// The stored "LastBackupDate", read afresh from the machine's files.
std::optional<double> lastBackupDate() {
    platform::unloadRegistry();
    Registry r(kCU);
    if (!r.openKeyReadOnly(kSettingsKey) || !r.valueExists("LastBackupDate")) return std::nullopt;
    return r.readDateTime("LastBackupDate");
}

template <typename Pred>
bool waitFor(Pred pred, std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return pred();
}

// A schedule of daily backups that began yesterday at this time.
void scheduleDaily(const FakeMachine& m) {
    const LocalTime now = LocalNow();
    setDword(kCU, kSettingsKey, "AutoBackup", 1);
    setString(kCU, kSettingsKey, "AutoBackupDir", "C:\\Auto\\");
    Registry r(kCU);
    r.openKey(kSettingsKey, true);
    r.writeDateTime("BackupDate", ToDateTime(DatePart(now)) - 1);
    r.writeDateTime("BackupTime", static_cast<double>(TimeOfDay(now).count()) / 86400.0);
    r.writeInteger("BackupPeriod", 1);
    r.writeInteger("BackupInterval", 1);
    r.closeKey();
    installEudora(m);
    setDword(kCU, std::string(kScheduleKey) + "\\3", "Selected", 1);
    platform::flushRegistry();
}

}  // namespace

TEST(SchedulerProgram, StartsOneRunWhenDueAndEndsWhenSwitchedOff) {
    FakeMachine m;
    scheduleDaily(m);
    ScopedEnv prefix("QUILLBOX_PREFIX", m.prefix().string());
    ChildProcess sched(kQuillsched, {kQuillsched, "--check-every", "0.1"});

    ASSERT_TRUE(waitFor([] { return lastBackupDate().has_value(); })) << "no run was recorded";
    const double last = *lastBackupDate();
    EXPECT_NEAR(last, ToDateTime(LocalNow()), 120.0 / 86400);
    // One run: one line for the one scheduled client. The next is due tomorrow.
    const auto logLines = [&] {
        const std::string log = m.readFile("C:\\Auto\\quillbox-auto.log");
        return std::count(log.begin(), log.end(), '\n');
    };
    EXPECT_EQ(logLines(), 1);
    EXPECT_NE(m.readFile("C:\\Auto\\quillbox-auto.log").find("\tEudora\t"), std::string::npos);

    // A second scheduler for the same machine ends at once.
    const ProgramRun second = runProgram(m, kQuillsched, {"--check-every", "0.1"});
    EXPECT_EQ(second.status, 0);
    EXPECT_NE(second.err.find("already runs for this machine (process " +
                              std::to_string(sched.pid()) + ")"),
              std::string::npos)
        << second.err;
    EXPECT_EQ(RunningScheduler(), sched.pid());

    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(logLines(), 1);
    EXPECT_EQ(lastBackupDate(), last);

    platform::unloadRegistry();
    setDword(kCU, kSettingsKey, "AutoBackup", 0);
    platform::flushRegistry();
    ASSERT_TRUE(waitFor([&] { return sched.ended(); }, std::chrono::seconds(20)));
    const int status = sched.reap();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(RunningScheduler().has_value());
}

TEST(SchedulerProgram, UninstallEndsTheSchedulerAndRemovesIt) {
    FakeMachine m;
    scheduleDaily(m);
    {
        // Nothing due for a while.
        Registry r(kCU);
        r.openKey(kSettingsKey, true);
        r.writeDateTime("LastBackupDate", ToDateTime(LocalNow()));
    }
    platform::flushRegistry();
    ChildProcess sched = [&] {
        ScopedEnv prefix("QUILLBOX_PREFIX", m.prefix().string());
        return ChildProcess(kQuillsched, {kQuillsched, "--check-every", "0.1"});
    }();
    ASSERT_TRUE(waitFor([&] { return RunningScheduler() == sched.pid(); }));

    // The program in a folder of its own, with the scheduler file beside it.
    TempDir dir;
    fs::copy_file(kQuillbox, dir.path() / "quillbox");
    writeHostFile(dir.path() / "quillsched", "scheduler");
    const ProgramRun r = runProgram(m, (dir.path() / "quillbox").string(), {"/uninstall"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(sched.ended());
    EXPECT_FALSE(fs::exists(dir.path() / "quillsched"));
    EXPECT_NE(r.err.find("Thank you for using Quillbox.\n\rWould you like to tell us why you "
                         "removed it?"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("answering no"), std::string::npos) << r.err;
    EXPECT_FALSE(platform::fileExists("C:\\Auto\\quillbox-auto.log"));
}

TEST(SchedulerProgram, ScheduledRunWithoutAUsableFolderFails) {
    FakeMachine m;
    setString(kCU, kSettingsKey, "AutoBackupDir", "Q:\\NoSuchDrive\\");
    setDword(kCU, std::string(kScheduleKey) + "\\10", "Selected", 1);
    const ProgramRun r = runProgram(m, kQuillbox, {"/AUTO"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot create the automatic backup folder Q:\\NoSuchDrive\\"),
              std::string::npos)
        << r.err;

    platform::unloadRegistry();
    Registry reg(kCU);
    reg.deleteKey(kScheduleKey);
    reg.closeKey();
    EXPECT_EQ(runProgram(m, kQuillbox, {"/auto"}).status, 0);
}

namespace {

// Ends a scheduler that a test started and lost, so no process outlives the test.
struct SchedulerReaper {
    ~SchedulerReaper() {
        if (const std::optional<pid_t> pid = RunningScheduler()) ::kill(*pid, SIGKILL);
    }
};

std::optional<std::string> runValue() {
    platform::unloadRegistry();
    Registry r(RootKey::LocalMachine);
    if (!r.openKeyReadOnly(kRunKey) || !r.valueExists(kRunValue)) return std::nullopt;
    return r.readString(kRunValue);
}

}  // namespace

TEST(SchedulerSwitch, OnRegistersAndStartsTheSchedulerOffRemovesAndEndsIt) {
    FakeMachine m;
    scheduleDaily(m);
    {
        Registry r(kCU);
        r.openKey(kSettingsKey, true);
        r.writeDateTime("LastBackupDate", ToDateTime(LocalNow()));
        r.writeBool("AutoBackup", false);
    }
    TempDir config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.path().string());
    Settings& s = settings();
    s = Settings{};
    s.programFolder = platform::includeTrailingBackslash(platform::windowsPath(QB_BIN_DIR));
    ChooseLanguageFile(s);
    ScriptedInteraction boxes;
    ScopedInteraction scope(boxes);
    SchedulerReaper reaper;
    const fs::path entry = config.path() / "autostart" / "quillsched.desktop";

    // Another machine's entry is replaced by this machine's.
    writeHostFile(entry, "[Desktop Entry]\nX-Quillbox-Prefix=/elsewhere\n");
    ASSERT_TRUE(SetSchedulerEnabled(true));
    EXPECT_EQ(runValue(), s.programFolder + "quillsched");
    const std::string text = readHostFile(entry);
    EXPECT_NE(text.find("\nExec=env QUILLBOX_PREFIX=" + m.prefix().string() +
                        " " QB_BIN_DIR "/quillsched\n"),
              std::string::npos)
        << text;
    ASSERT_TRUE(waitFor([] { return RunningScheduler().has_value(); }));
    const pid_t pid = *RunningScheduler();
    ASSERT_TRUE(processInfo(pid));
    EXPECT_EQ(processInfo(pid)->ExeName, "quillsched");
    // The scheduler reads the switch from the registry and keeps running.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(processInfo(pid)) << "the scheduler ended by itself";

    // On again while it runs: no second scheduler.
    ASSERT_TRUE(SetSchedulerEnabled(true));
    EXPECT_EQ(RunningScheduler(), pid);

    ASSERT_TRUE(SetSchedulerEnabled(false));
    EXPECT_FALSE(runValue().has_value());
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_FALSE(processInfo(pid).has_value());
    EXPECT_FALSE(RunningScheduler().has_value());
    EXPECT_FALSE(s.autoBackupEnabled);
    EXPECT_TRUE(boxes.boxes.empty());

    // A scheduler that cannot start is told; the registration stays.
    s.programFolder = "C:\\Nowhere\\";
    EXPECT_FALSE(SetSchedulerEnabled(true));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "The scheduler program could not be started!");
    EXPECT_EQ(boxes.boxes[0].icon, MsgIcon::Error);
    EXPECT_EQ(runValue(), "C:\\Nowhere\\quillsched");
    EXPECT_TRUE(s.autoBackupEnabled);

    // Off leaves another machine's autostart entry alone.
    writeHostFile(entry, "[Desktop Entry]\nX-Quillbox-Prefix=/elsewhere\n");
    EXPECT_TRUE(SetSchedulerEnabled(false));
    EXPECT_TRUE(fs::exists(entry));
}

TEST(SchedulerProgram, AMissedScheduledBackupIsToldOnTheDesktop) {
    FakeMachine m;
    scheduleDaily(m);
    // Outlook runs and holds its files, so its scheduled backup is skipped.
    installOutlook(m);
    setDword(kCU, std::string(kScheduleKey) + "\\3", "Selected", 0);
    setDword(kCU, std::string(kScheduleKey) + "\\2", "Selected", 1);
    TempDir bin;
    // A program of this machine: its prefix is in its environment.
    ScopedEnv prefix("QUILLBOX_PREFIX", m.prefix().string());
    ChildProcess outlook = ChildProcess::namedSleep(bin.path(), "outlook.exe");
    // The desktop's notifier records what it is asked to show.
    const fs::path told = bin.path() / "told";
    writeHostFile(bin.path() / "notify-send",
                  "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " + told.string() +
                      ".tmp && mv " + told.string() + ".tmp " + told.string() + "\n");
    fs::permissions(bin.path() / "notify-send", fs::perms::owner_all);
    ScopedEnv path("PATH", bin.path().string() + ":" + std::getenv("PATH"));
    ScopedEnv display("DISPLAY", ":77");
    ChildProcess sched(kQuillsched, {kQuillsched, "--check-every", "0.1"});

    ASSERT_TRUE(waitFor([&] { return fs::exists(told); })) << "nothing was told";
    const std::string text = readHostFile(told);
    EXPECT_NE(text.find("Scheduled backup not made\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Outlook: skipped (the client is running)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("The log is " + m.host("C:\\Auto\\quillbox-auto.log").string()),
              std::string::npos)
        << text;
    sched.terminate();
}
