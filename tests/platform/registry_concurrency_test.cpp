// Several of our processes changing one machine's registry at the same time.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "platform/registry.h"
#include "registry_test_support.h"
#include "testkit/program_run.h"

namespace qb::platform {
namespace {

using test::FixturePrefix;

constexpr int kRounds = 100;

// A child process that adds one value per round, each round a transaction of its
// own, as a long-running program (the scheduler, the windows) makes them.
pid_t startWriter(const std::string& tag) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    int status = 0;
    try {
        for (int i = 0; i < kRounds; ++i) {
            Registry cu(RootKey::CurrentUser);
            if (!cu.openKey("\\Software\\Race", true)) {
                status = 2;
                break;
            }
            cu.writeString(tag + std::to_string(i), tag);
            cu.closeKey();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", tag.c_str(), e.what());
        status = 1;
    }
    ::_exit(status);
}

int exitStatus(pid_t pid) {
    int st = 0;
    if (::waitpid(pid, &st, 0) != pid) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST(RegistryTransactions, ConcurrentWritersLoseNothingAndAWaitEndsNamingTheHolder) {
    FixturePrefix p;
    const pid_t a = startWriter("A");
    const pid_t b = startWriter("B");
    EXPECT_EQ(exitStatus(a), 0);
    EXPECT_EQ(exitStatus(b), 0);
    unloadRegistry();
    {
        Registry cu(RootKey::CurrentUser);
        ASSERT_TRUE(cu.openKeyReadOnly("\\Software\\Race"));
        int found = 0;
        for (const char* tag : {"A", "B"})
            for (int i = 0; i < kRounds; ++i)
                found += cu.readString(tag + std::to_string(i)) == tag;
        EXPECT_EQ(found, 2 * kRounds);
    }

    // A change held open here keeps the registry locked: qbreg waits, gives up,
    // names this process and changes nothing.
    Registry held(RootKey::CurrentUser);
    ASSERT_TRUE(held.openKey("\\Software\\Held", true));
    held.writeString("v", "1");
    const std::string before = p.text("user.reg");
    const std::string command = "QUILLBOX_PREFIX='" + p.prefix().string() +
                                "' QUILLBOX_REGISTRY_WAIT=0.2 " + test::kQbreg +
                                " add 'HKCU\\Software\\Other' /v x /d y 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[512];
    while (size_t n = std::fread(buf, 1, sizeof buf, pipe))
        out.append(buf, n);
    const int st = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 1) << out;
    EXPECT_NE(out.find("process " + std::to_string(::getpid())), std::string::npos) << out;
    EXPECT_EQ(out.find("completed successfully"), std::string::npos) << out;
    EXPECT_EQ(p.text("user.reg"), before);
    held.closeKey();
    EXPECT_NE(p.text("user.reg").find("[Software\\\\Held]"), std::string::npos);
}

}  // namespace
}  // namespace qb::platform
