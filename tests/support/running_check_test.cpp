#include "support/running_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "support/proc_list.h"
#include "testkit/testkit.h"

namespace qb {
namespace {

using test::ChildProcess;
using test::ScopedEnv;
using test::TempDir;

// The line the dialog shows for a windowless process.
std::string processLine(const std::string& name, pid_t pid) {
    return name + " (process " + std::to_string(pid) + ")";
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A name no other test (or program) uses, so that "Close all" ends only ours.
std::string uniqueName(const std::string& suffix) {
    return "qb" + std::to_string(::getpid()) + "-" + suffix;
}

// Every test here runs without a display: the processes are all there is.
// The programs they start run in the current machine (its prefix in their
// environment) unless a test says otherwise.
class Headless : public ::testing::Test {
  protected:
    ScopedEnv noDisplay{"DISPLAY", std::nullopt};
    ScopedEnv inMachine{"WINEPREFIX", platform::Machine::current().prefix().string()};
    TempDir bin;
};

using ProcListTest = Headless;

TEST_F(ProcListTest, SeesNativeAndWineProcessesByTheirExecutableNames) {
    ChildProcess native = ChildProcess::namedSleep(bin.path(), "poco.exe");
    ChildProcess wine = ChildProcess::wineLike("C:\\Program Files\\PocoMail\\poco.exe");
    // comm holds 15 bytes; the whole name comes from the command line.
    ChildProcess longName = ChildProcess::namedSleep(bin.path(), "a-rather-long-name-poco.exe");

    auto n = processInfo(native.pid());
    ASSERT_TRUE(n);
    EXPECT_EQ(n->ExeName, "poco.exe");
    EXPECT_FALSE(n->Wine);
    EXPECT_EQ(n->ExeFile, test::sleepBinary());  // the binary behind the symlink
    EXPECT_EQ(n->ParentProcessID, static_cast<uint32_t>(::getpid()));
    EXPECT_EQ(n->Threads, 1u);

    auto w = processInfo(wine.pid());
    ASSERT_TRUE(w);
    EXPECT_EQ(w->ExeName, "poco.exe");
    EXPECT_TRUE(w->Wine);
    EXPECT_EQ(w->ExeFile, "C:\\Program Files\\PocoMail\\poco.exe");

    auto l = processInfo(longName.pid());
    ASSERT_TRUE(l);
    EXPECT_EQ(l->ExeName, "a-rather-long-name-poco.exe");

    // One line per name, for the first process of that name.
    TProcList& list = ProcList1();
    list.Refresh();
    uint32_t first = 0;
    for (const TProcessInfo& p : processSnapshot())
        if (platform::equalsNoCase(p.ExeName, "poco.exe") && (first == 0 || p.ProcessID < first))
            first = p.ProcessID;
    const int index = list.IndexOf("POCO.EXE");
    ASSERT_GE(index, 0);
    EXPECT_EQ(list.ProcessId(index), first);
    EXPECT_EQ(std::count_if(list.ProcessList().begin(), list.ProcessList().end(),
                            [](const TProcList::Line& line) {
                                return platform::equalsNoCase(line.name, "poco.exe");
                            }),
              1);
    EXPECT_TRUE(std::is_sorted(list.ProcessList().begin(), list.ProcessList().end(),
                               [](const TProcList::Line& a, const TProcList::Line& b) {
                                   return platform::compareNoCase(a.name, b.name) < 0;
                               }));
    EXPECT_TRUE(list.ModuleList().empty());
    EXPECT_EQ(list.ProcessId(-1), 0u);
    EXPECT_EQ(list.ProcessId(static_cast<int>(list.ProcessList().size())), 0u);
}

TEST_F(ProcListTest, EndedProcessesAndPrioritiesAreReportedAsWindowsSeesThem) {
    ChildProcess idle =
        ChildProcess::namedSleep(bin.path(), "idle.exe", ChildProcess::Options{.nice = 19});
    auto info = processInfo(idle.pid());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->PriClassBase, kPriorityIdle);
    EXPECT_EQ(PriorityClassName(info->PriClassBase), "[Idle    ]");

    // Killed but not yet reaped: no longer running.
    ::kill(idle.pid(), SIGKILL);
    idle.waitEnded();
    EXPECT_FALSE(processInfo(idle.pid()));
    const auto all = processSnapshot();
    EXPECT_TRUE(std::none_of(all.begin(), all.end(), [&](const TProcessInfo& p) {
        return p.ProcessID == static_cast<uint32_t>(idle.pid());
    }));
}

using RunningCheckTest = Headless;

TEST_F(RunningCheckTest, ChecksTheProgramNamesOfEachClientBeforeARestore) {
    // Each client and the program that shows it is running.
    const std::map<ClientKind, std::string> restore = {
        {kind::OutlookExpress, "msimn.exe"}, {kind::Outlook, "outlook.exe"},
        {kind::Eudora, "eudora.exe"},        {kind::IncrediMail, "imapp.exe"},
        {kind::PegasusMail, "winpm-32.exe"}, {kind::TheBat, "thebat.exe"},
        {kind::PocoMail2, "poco.exe"},       {kind::PocoMail3, "poco.exe"},
        {kind::PocoMail2PE, "poco.exe"},     {kind::Opera6, "opera.exe"},
        {kind::Opera7, "opera.exe"},         {kind::Netscape4, "netscp.exe"},
        {kind::Mozilla, "netscp.exe"},
    };
    std::map<std::string, ChildProcess> running;
    for (const auto& [k, name] : restore)
        if (!running.count(name)) running.emplace(name, ChildProcess::namedSleep(bin.path(), name));

    for (const auto& [k, name] : restore) {
        ScriptedCloseProgramsDialog dialog;  // answers Cancel
        ScopedCloseProgramsDialog scope(dialog);
        EXPECT_TRUE(CheckRunningClient(k, false)) << "client " << k;
        ASSERT_EQ(dialog.shown.size(), 1u) << "client " << k;
        EXPECT_TRUE(contains(dialog.shown[0], processLine(name, running.at(name).pid())))
            << "client " << k;
    }
    {  // Family codes and the Favorites have no program to look for.
        ScriptedCloseProgramsDialog dialog;
        ScopedCloseProgramsDialog scope(dialog);
        for (ClientKind k : {kind::None, kind::PocoMailFamily, kind::OperaFamily,
                             kind::NetscapeFamily, kind::Favorites, 11})
            EXPECT_FALSE(CheckRunningClient(k, false)) << "client " << k;
        EXPECT_TRUE(dialog.shown.empty());
    }

    // IncrediMail's names are tried in turn: "Close all" for the first goes on to
    // the next names, and Cancel on the last one stops. (Here rather than in a test
    // of its own, so that no other test sees or ends these programs meanwhile.)
    ChildProcess incredimail = ChildProcess::namedSleep(bin.path(), "incredimail.exe");
    ScriptedCloseProgramsDialog dialog({CloseChoice::CloseAll, CloseChoice::Cancel});
    ScopedCloseProgramsDialog scope(dialog);
    EXPECT_TRUE(CheckRunningClient(kind::IncrediMail, false));
    ASSERT_EQ(dialog.shown.size(), 2u);
    EXPECT_TRUE(contains(dialog.shown[0], processLine("incredimail.exe", incredimail.pid())));
    EXPECT_TRUE(contains(dialog.shown[1], processLine("imapp.exe", running.at("imapp.exe").pid())));
    EXPECT_TRUE(incredimail.ended());
    EXPECT_FALSE(running.at("imapp.exe").ended());
}

TEST_F(RunningCheckTest, BeforeABackupOnlyOutlookAndNetscape4AreLookedFor) {
    std::vector<ChildProcess> running;
    for (const char* name : {"msimn.exe", "outlook.exe", "netscape.exe", "poco.exe"})
        running.push_back(ChildProcess::namedSleep(bin.path(), name));

    ScriptedCloseProgramsDialog dialog;
    ScopedCloseProgramsDialog scope(dialog);
    for (ClientKind k :
         {kind::OutlookExpress, kind::Eudora, kind::PocoMail3, kind::Mozilla, kind::Favorites})
        EXPECT_FALSE(CheckRunningClient(k, true)) << "client " << k;
    EXPECT_TRUE(dialog.shown.empty());

    EXPECT_TRUE(CheckRunningClient(kind::Outlook, true));
    EXPECT_TRUE(CheckRunningClient(kind::Netscape4, true));
    ASSERT_EQ(dialog.shown.size(), 2u);
    EXPECT_TRUE(contains(dialog.shown[0], processLine("outlook.exe", running[1].pid())));
    EXPECT_TRUE(contains(dialog.shown[1], processLine("netscape.exe", running[2].pid())));
    // The restore of Outlook Express does look, and the restore of Netscape 4 also
    // knows its program by the name the backup looks for.
    EXPECT_TRUE(CheckRunningClient(kind::OutlookExpress, false));
    EXPECT_TRUE(CheckRunningClient(kind::Netscape4, false));
    EXPECT_EQ(dialog.shown.size(), 4u);
}

TEST_F(RunningCheckTest, HeadlessCheckAnswersCancelAndListsTheClientOnStderr) {
    ChildProcess poco = ChildProcess::namedSleep(bin.path(), "poco.exe");
    ChildProcess wine = ChildProcess::wineLike("C:\\Program Files\\PocoMail\\poco.exe");
    // A name that tries to clear the screen reaches the terminal harmless.
    ChildProcess hostile = ChildProcess::wineLike("C:\\x\\\x1b[2Jpoco.exe");

    // The console dialog, and no terminal on stdin.
    const int savedStdin = ::dup(STDIN_FILENO);
    const int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, STDIN_FILENO);
    ::close(devnull);
    testing::internal::CaptureStderr();
    const bool cancelled = CheckRunningClient(kind::PocoMail3, false);
    const std::string err = testing::internal::GetCapturedStderr();
    ::dup2(savedStdin, STDIN_FILENO);
    ::close(savedStdin);

    EXPECT_TRUE(cancelled);
    EXPECT_EQ(CloseDialogTag(), static_cast<int>(CloseChoice::Cancel));
    EXPECT_NE(err.find("Active windows..."), std::string::npos) << err;
    EXPECT_NE(err.find(processLine("poco.exe", poco.pid())), std::string::npos) << err;
    EXPECT_NE(err.find(processLine("poco.exe", wine.pid())), std::string::npos) << err;
    EXPECT_NE(err.find("answering cancel"), std::string::npos) << err;
    EXPECT_EQ(err.find('\x1b'), std::string::npos);
    EXPECT_NE(err.find(processLine("\\x1b[2Jpoco.exe", hostile.pid())), std::string::npos) << err;
    EXPECT_FALSE(poco.ended());
    EXPECT_FALSE(wine.ended());
}

TEST_F(RunningCheckTest, CloseAllEndsTheClientsProcessesAndLetsTheOperationGoOn) {
    const std::string name = uniqueName("poco.exe");
    ChildProcess native = ChildProcess::namedSleep(bin.path(), name);
    ChildProcess second = ChildProcess::namedSleep(bin.path(), name);
    ChildProcess wine = ChildProcess::wineLike("C:\\Program Files\\PocoMail\\" + name);
    ChildProcess other = ChildProcess::namedSleep(bin.path(), uniqueName("opera.exe"));

    ScriptedCloseProgramsDialog dialog({CloseChoice::CloseAll});
    ScopedCloseProgramsDialog scope(dialog);
    EXPECT_FALSE(AskToCloseWindows(name));
    EXPECT_EQ(CloseDialogTag(), static_cast<int>(CloseChoice::CloseAll));
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(dialog.shown[0], (std::vector<std::string>{processLine(name, native.pid()),
                                                         processLine(name, second.pid()),
                                                         processLine(name, wine.pid())}));
    // Ended (and waited for) before the check returned; the program asked to end.
    for (ChildProcess* c : {&native, &second, &wine}) {
        EXPECT_TRUE(c->ended());
        const int status = c->reap();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    }
    EXPECT_FALSE(other.ended());
    // Nothing left: the next check passes without asking.
    EXPECT_FALSE(AskToCloseWindows(name));
    EXPECT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(CloseDialogTag(), 0);
}

TEST_F(RunningCheckTest, OnlyProgramsOfThisMachineAreListedAndClosed) {
    const std::string name = uniqueName("eudora.exe");
    ChildProcess mine = ChildProcess::wineLike("C:\\Eudora\\" + name);
    TempDir otherPrefix;
    std::optional<ChildProcess> other, native;
    {
        // The same client in another prefix, and a program of that name that is
        // no Windows program and names no prefix.
        ScopedEnv noQuillbox{"QUILLBOX_PREFIX", std::nullopt};
        {
            ScopedEnv elsewhere{"WINEPREFIX", otherPrefix.path().string()};
            other.emplace(ChildProcess::wineLike("C:\\Eudora\\" + name));
        }
        ScopedEnv noPrefix{"WINEPREFIX", std::nullopt};
        native.emplace(ChildProcess::namedSleep(bin.path(), name));
    }
    ScriptedCloseProgramsDialog dialog({CloseChoice::CloseAll});
    ScopedCloseProgramsDialog scope(dialog);
    EXPECT_FALSE(AskToCloseWindows(name));
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(dialog.shown[0], (std::vector<std::string>{processLine(name, mine.pid())}));
    EXPECT_TRUE(mine.ended());
    EXPECT_FALSE(other->ended());
    EXPECT_FALSE(native->ended());
}

TEST_F(RunningCheckTest, AProgramThatIgnoresTheRequestToEndIsKilledAfterTheGracePeriod) {
    ChildProcess stubborn = ChildProcess::namedSleep(bin.path(), uniqueName("stubborn.exe"),
                                                     ChildProcess::Options{.ignoreTerm = true});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(TerminateProcessAndWait(stubborn.pid(), std::chrono::milliseconds(200)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    const int status = stubborn.reap();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    // Gone: nothing to signal.
    EXPECT_FALSE(TerminateProcessAndWait(stubborn.pid(), std::chrono::milliseconds(200)));
    EXPECT_FALSE(TerminateProcessAndWait(::getpid(), std::chrono::milliseconds(200)));
}

TEST_F(RunningCheckTest, OkLooksAgainAtOnceAndTheDialogReturnsWhileTheClientRuns) {
    const std::string name = uniqueName("thebat.exe");
    ChildProcess client = ChildProcess::namedSleep(bin.path(), name);

    {  // Still running after OK and after "Wait 5 minutes": asked again, then cancelled.
        ScriptedCloseProgramsDialog dialog({CloseChoice::Ok, CloseChoice::Wait});
        ScopedCloseProgramsDialog scope(dialog);
        EXPECT_TRUE(AskToCloseWindows(name));
        EXPECT_EQ(dialog.shown.size(), 3u);
        EXPECT_EQ(dialog.waitShown, (std::vector<bool>{false, false, true}));
        EXPECT_EQ(CloseDialogTag(), static_cast<int>(CloseChoice::Cancel));
    }
    {  // The user closes the client, then presses OK: the operation goes on.
        ScriptedCloseProgramsDialog dialog({CloseChoice::Ok});
        dialog.onShow = [&](int) {
            ::kill(client.pid(), SIGTERM);
            client.waitEnded();
        };
        ScopedCloseProgramsDialog scope(dialog);
        EXPECT_FALSE(AskToCloseWindows(name));
        EXPECT_EQ(dialog.shown.size(), 1u);
        EXPECT_EQ(CloseDialogTag(), static_cast<int>(CloseChoice::Ok));
    }
    // A check that runs no loop keeps the last choice.
    EXPECT_FALSE(CheckRunningClient(kind::Favorites, false));
    EXPECT_EQ(CloseDialogTag(), static_cast<int>(CloseChoice::Ok));
}

TEST_F(RunningCheckTest, ANameThatOnlyContainsTheProgramNameMatches) {
    const std::string name = uniqueName("xpoco.exe");
    ChildProcess client = ChildProcess::namedSleep(bin.path(), name);
    const auto found = FindRunningProgram("POCO.EXE");
    EXPECT_TRUE(std::any_of(found.begin(), found.end(), [&](const RunningProgram& r) {
        return r.processId == static_cast<uint32_t>(client.pid()) &&
               r.line == processLine(name, client.pid());
    }));
    EXPECT_TRUE(FindRunningProgram("").empty());
}

}  // namespace
}  // namespace qb
