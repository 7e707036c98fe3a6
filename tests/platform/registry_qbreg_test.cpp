// qbreg as a user runs it: a child process on a prefix named by QUILLBOX_PREFIX.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/registry.h"
#include "registry_test_support.h"

namespace qb::platform {
namespace {

using test::FakeMachine;
using test::readHostFile;
using test::TempDir;
namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs qbreg with `args` on `prefix`, without a terminal on its standard input.
Result qbreg(const fs::path& prefix, const std::vector<std::string>& args) {
    TempDir io;
    const std::string outFile = (io.path() / "out").string();
    const std::string errFile = (io.path() / "err").string();
    const std::string exe = std::string(QB_BIN_DIR) + "/qbreg";
    std::vector<std::string> argStore = {exe};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string env = "QUILLBOX_PREFIX=" + prefix.string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outFile.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        const int err = ::open(errFile.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::putenv(const_cast<char*>(env.c_str()));
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    Result r;
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readHostFile(outFile);
    r.err = readHostFile(errFile);
    return r;
}

TEST(Qbreg, AddsQueriesAndDeletesKeysAndValues) {
    FakeMachine machine;
    const fs::path& p = machine.prefix();
    auto ok = [&](const std::vector<std::string>& args) {
        Result r = qbreg(p, args);
        EXPECT_EQ(r.status, 0) << args[0] << " failed: " << r.err;
        return r;
    };
    EXPECT_NE(ok({"add", "HKCU\\Software\\QbTest", "/v", "Name", "/d", "Grüße"})
                  .out.find("The operation completed successfully."),
              std::string::npos);
    ok({"add", "HKEY_CURRENT_USER\\Software\\QbTest", "/v", "Count", "/t", "REG_DWORD", "/d",
        "0x2A"});
    ok({"add", "hkcu\\software\\qbtest", "/v", "Big", "/t", "REG_QWORD", "/d",
        "18446744073709551615"});
    ok({"add", "HKCU\\Software\\QbTest", "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a\\0b c"});
    ok({"add", "HKCU\\Software\\QbTest", "/v", "Bytes", "/t", "REG_BINARY", "/d", "00ff10"});
    ok({"add", "HKCU\\Software\\QbTest", "/ve", "/t", "REG_EXPAND_SZ", "/d", "%TEMP%\\x"});
    ok({"add", "HKCU\\Software\\QbTest\\Sub\\Deeper"});

    const Result q = ok({"query", "HKCU\\SOFTWARE\\QBTEST"});
    EXPECT_EQ(q.out,
              "\nHKEY_CURRENT_USER\\Software\\QbTest\n"
              "    Name    REG_SZ    Grüße\n"
              "    Count    REG_DWORD    0x2a\n"
              "    Big    REG_QWORD    0xffffffffffffffff\n"
              "    List    REG_MULTI_SZ    a\\0b c\n"
              "    Bytes    REG_BINARY    00FF10\n"
              "    (Default)    REG_EXPAND_SZ    %TEMP%\\x\n"
              "\n"
              "HKEY_CURRENT_USER\\Software\\QbTest\\Sub\n"
              "\n");
    EXPECT_EQ(ok({"query", "HKCU\\Software\\QbTest", "/v", "count"}).out,
              "\nHKEY_CURRENT_USER\\Software\\QbTest\n    Count    REG_DWORD    0x2a\n\n");
    EXPECT_NE(ok({"query", "HKCU\\Software\\QbTest", "/s"})
                  .out.find("HKEY_CURRENT_USER\\Software\\QbTest\\Sub\\Deeper\n"),
              std::string::npos);

    // The tool wrote real hive text that this process reads after a reload.
    unloadRegistry();
    {
        Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKeyReadOnly("\\Software\\QbTest"));
        EXPECT_EQ(reg.readString("Name"), "Grüße");
        EXPECT_EQ(reg.readInteger("Count"), 42);
        EXPECT_EQ(reg.readMultiString("List"), (std::vector<std::string>{"a", "b c"}));
        EXPECT_EQ(reg.dataType(""), ValueType::ExpandString);
    }

    ok({"delete", "HKCU\\Software\\QbTest", "/v", "Name", "/f"});
    ok({"delete", "HKCU\\Software\\QbTest\\Sub", "/f"});
    const Result after = ok({"query", "HKCU\\Software\\QbTest"});
    EXPECT_EQ(after.out.find("Name"), std::string::npos);
    EXPECT_EQ(after.out.find("\\Sub"), std::string::npos);
    ok({"delete", "HKCU\\Software\\QbTest", "/va", "/f"});
    EXPECT_EQ(ok({"query", "HKCU\\Software\\QbTest"}).out,
              "\nHKEY_CURRENT_USER\\Software\\QbTest\n");
    ok({"delete", "HKCU\\Software\\QbTest", "/f"});
    unloadRegistry();
    Registry reg(RootKey::CurrentUser);
    EXPECT_FALSE(reg.keyExists("\\Software\\QbTest"));
}

TEST(Qbreg, FailsWithAMessageOnEveryError) {
    FakeMachine machine;
    const fs::path& p = machine.prefix();
    const std::string before = readHostFile(p / "user.reg");
    auto fails = [&](const std::vector<std::string>& args, const std::string& message) {
        const Result r = qbreg(p, args);
        EXPECT_NE(r.status, 0) << "succeeded: " << (args.empty() ? "" : args[0]);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    };
    fails({"query", "HKCU\\No\\Such\\Key"}, "unable to find the specified registry key");
    fails({"query", "HKCU\\Environment", "/v", "NoSuchValue"}, "unable to find");
    fails({"query", "HKXX\\Software"}, "Invalid syntax");
    fails({"add", "HKCU\\Software\\X", "/t", "REG_DWORD"}, "Invalid syntax");
    fails({"add", "HKCU\\Software\\X", "/v", "n", "/t", "REG_DWORD", "/d", "12z"},
          "not a valid number");
    fails({"add", "HKCU\\Software\\X", "/v", "n", "/t", "REG_WHATEVER"}, "unknown value type");
    fails({"frobnicate"}, "unknown command");
    fails({}, "Invalid syntax");
    // Without /f and without a terminal to ask on, nothing is overwritten or deleted.
    fails({"add", "HKCU\\Environment", "/v", "TEMP", "/d", "x"}, "use /f");
    fails({"delete", "HKCU\\Environment", "/v", "TEMP"}, "use /f");
    fails({"delete", "HKCU\\Environment"}, "use /f");
    EXPECT_EQ(readHostFile(p / "user.reg"), before);
    // A refused write is an error too.
    {
        test::WineServerLock server(p);
        fails({"add", "HKCU\\Software\\X", "/v", "n", "/d", "1"}, "wineserver -k");
        EXPECT_EQ(qbreg(p, {"query", "HKCU\\Environment"}).status, 0);  // reading is fine
    }
    EXPECT_EQ(readHostFile(p / "user.reg"), before);

    const Result help = qbreg(p, {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"query", "add", "delete", "/ve", "/va", "REG_MULTI_SZ"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    EXPECT_EQ(qbreg(p, {"add", "/?"}).status, 0);
}

}  // namespace
}  // namespace qb::platform
