// qbreg as a user runs it: a child process on a prefix named by QUILLBOX_PREFIX.
#include <gtest/gtest.h>

#include "platform/registry.h"
#include "registry_test_support.h"
#include "testkit/program_run.h"

namespace qb::platform {
namespace {

using test::FakeMachine;
using test::readHostFile;
namespace fs = std::filesystem;

// Runs qbreg with `args` on the machine, without a terminal on its standard input.
test::ProgramRun qbreg(const FakeMachine& m, const std::vector<std::string>& args) {
    return test::runProgram(m, test::kQbreg, args);
}

TEST(Qbreg, AddsQueriesAndDeletesKeysAndValues) {
    FakeMachine machine;
    auto ok = [&](const std::vector<std::string>& args) {
        test::ProgramRun r = qbreg(machine, args);
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

    const test::ProgramRun q = ok({"query", "HKCU\\SOFTWARE\\QBTEST"});
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
    const test::ProgramRun after = ok({"query", "HKCU\\Software\\QbTest"});
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
        const test::ProgramRun r = qbreg(machine, args);
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
        EXPECT_EQ(qbreg(machine, {"query", "HKCU\\Environment"}).status, 0);  // reading is fine
    }
    EXPECT_EQ(readHostFile(p / "user.reg"), before);

    const test::ProgramRun help = qbreg(machine, {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"query", "add", "delete", "/ve", "/va", "REG_MULTI_SZ"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    EXPECT_EQ(qbreg(machine, {"add", "/?"}).status, 0);
}

}  // namespace
}  // namespace qb::platform
