// qbreg export and import as a user runs them: a child process on the prefix of a
// fake machine, named by QUILLBOX_PREFIX.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text_codec.h"
#include "testkit/program_run.h"
#include "testkit/testkit.h"

namespace {

using qb::platform::Registry;
using qb::platform::RootKey;
using qb::test::FakeMachine;
using qb::test::readHostFile;
using qb::test::TempDir;
namespace fs = std::filesystem;

using Result = qb::test::ProgramRun;

// A file as the registry editor writes it: UTF-16LE with a byte order mark.
std::string utf16File(std::string_view text) {
    const std::vector<uint8_t> bytes =
        qb::platform::utf16LeBytes(qb::platform::utf8ToUtf16(text), false);
    return "\xFF\xFE" + std::string(bytes.begin(), bytes.end());
}

// Runs qbreg with `args` in the folder `cwd`, without a terminal on its standard
// input.
Result qbreg(const FakeMachine& m, const fs::path& cwd, const std::vector<std::string>& args) {
    return qb::test::runProgram(m, qb::test::kQbreg, args, true, cwd);
}

}  // namespace

TEST(QbregFiles, ExportsAndImportsThroughHostAndWindowsPaths) {
    FakeMachine m;
    TempDir here;
    {
        Registry reg;
        ASSERT_TRUE(reg.openKey("\\Software\\QbTool\\Accounts", true));
        reg.writeString("Cmd", "\"C:\\Program Files\\Client\\client.exe\" /mail");
        reg.writeInteger("Port", 110);
        reg.writeBinary("Blob", {1, 2, 3});
    }
    const std::string expected = utf16File(
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\QbTool]\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\QbTool\\Accounts]\r\n"
        "\"Cmd\"=\"\\\"C:\\\\Program Files\\\\Client\\\\client.exe\\\" /mail\"\r\n"
        "\"Port\"=dword:0000006e\r\n\"Blob\"=hex:01,02,03\r\n\r\n");

    // A host path relative to the working folder; the key as short, lower-case name.
    Result r = qbreg(m, here.path(), {"export", "hkcu\\software\\qbtool", "./tool.reg"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "The operation completed successfully.\n");
    EXPECT_EQ(readHostFile(here.path() / "tool.reg"), expected);

    // An existing file is replaced only with /y (nobody can be asked here).
    qb::test::writeHostFile(here.path() / "tool.reg", "old");
    r = qbreg(m, here.path(), {"export", "HKCU\\Software\\QbTool", "./tool.reg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("/y"), std::string::npos) << r.err;
    EXPECT_EQ(readHostFile(here.path() / "tool.reg"), "old");
    r = qbreg(m, here.path(), {"export", "HKCU\\Software\\QbTool", "./tool.reg", "/y"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readHostFile(here.path() / "tool.reg"), expected);

    // A Windows path of the machine.
    r = qbreg(m, here.path(), {"export", "HKEY_CURRENT_USER\\Software\\QbTool", "C:\\tool.reg"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(m.readFile("C:\\tool.reg"), expected);

    // Delete the key, import the host file back: every value returns.
    {
        Registry reg;
        ASSERT_TRUE(reg.deleteKey("\\Software\\QbTool"));
    }
    r = qbreg(m, here.path(), {"import", (here.path() / "tool.reg").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    {
        Registry reg;
        ASSERT_TRUE(reg.openKeyReadOnly("\\Software\\QbTool\\Accounts"));
        EXPECT_EQ(reg.readString("Cmd"), "\"C:\\Program Files\\Client\\client.exe\" /mail");
        EXPECT_EQ(reg.readInteger("Port"), 110);
        EXPECT_EQ(reg.readBinary("Blob"), (std::vector<uint8_t>{1, 2, 3}));
    }
}

TEST(QbregFiles, FailuresNameWhatFailed) {
    FakeMachine m;
    TempDir here;

    // A missing key is reported and not created.
    Result r = qbreg(m, here.path(), {"export", "HKCU\\Software\\Typo", "./t.reg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unable to find"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(here.path() / "t.reg"));
    EXPECT_FALSE(Registry().keyExists("\\Software\\Typo"));

    // A missing file, a bare name (neither kind of path), a file with a bad line.
    r = qbreg(m, here.path(), {"import", "C:\\missing.reg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: File \"C:\\missing.reg\" not found.\n");
    r = qbreg(m, here.path(), {"import", "missing.reg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Invalid syntax"), std::string::npos) << r.err;
    m.writeFile("C:\\bad.reg",
                "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Bad]\r\n"
                "\"Good\"=\"kept\"\r\n\"Num\"=dword:12G4\r\n");
    r = qbreg(m, here.path(), {"import", "C:\\bad.reg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\"C:\\bad.reg\", line 4"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    // The file is read whole before anything is written.
    EXPECT_FALSE(Registry().keyExists("\\Software\\Bad"));
}

// Every kind of line that cannot be carried out stops the import: the exit status
// says so, the error names the line by number and text, and the hives stay as
// they were (the file is read whole before anything is written).
TEST(QbregFiles, MalformedLinesChangeNothing) {
    struct Case {
        const char* what;
        std::string text;  // the file, lines joined with CR LF
        int line;
        std::string shown;  // part of the error text
    };
    const std::string head =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Bad]\r\n"
        "\"Good\"=\"would be written\"\r\n";
    const std::vector<Case> cases = {
        {"a plain text file", "Dear Ann,\r\nthe settings are attached.\r\n", 1, "Dear Ann,"},
        {"a garbage line", head + "this is no registry line\r\n", 5, "this is no registry line"},
        {"an open string", head + "\"A\"=\"no end\r\n", 5, "\"A\"=\"no end"},
        {"text after a string", head + "\"A\"=\"x\" y\r\n", 5, "\"A\"=\"x\" y"},
        {"an open name", head + "\"A=\"x\r\n", 5, "\"A=\"x"},
        {"no equals sign", head + "\"A\" \"x\"\r\n", 5, "\"A\" \"x\""},
        {"no data", head + "\"A\"=\r\n", 5, "no data"},
        {"unknown data", head + "\"A\"=word:1\r\n", 5, "word:1"},
        {"a bad byte", head + "\"A\"=hex:01,zz,03\r\n", 5, "\"zz\""},
        {"a bad type", head + "\"A\"=hex(zz):01\r\n", 5, "hex(zz)"},
        {"a long number", head + "\"A\"=dword:123456789\r\n", 5, "32 bits"},
        {"a bad number", head + "\"A\"=dword:12G4\r\n", 5, "12G4"},
        {"data past the end", head + "\"A\"=hex:01,02,\\\r\n", 5, "end of the file"},
        {"an unknown root", head + "[HKEY_NOWHERE\\Software\\X]\r\n", 5, "HKEY_NOWHERE"},
        {"an open key line", head + "[HKEY_CURRENT_USER\\Software\\X\r\n", 5, "\"]\""},
        {"a deleted root", head + "[-HKEY_CURRENT_USER]\r\n", 5, "[-HKEY_CURRENT_USER]"},
        {"a value before any key", "REGEDIT4\r\n\"A\"=\"x\"\r\n", 2, "\"A\"=\"x\""},
        {"a value of a deleted key",
         "REGEDIT4\r\n[-HKEY_CURRENT_USER\\Software\\Old]\r\n\"A\"=\"x\"\r\n", 3, "\"A\"=\"x\""},
    };
    FakeMachine m;
    TempDir here;
    qb::platform::flushRegistry();
    const std::string hiveBefore = readHostFile(m.prefix() / "user.reg");
    for (const Case& c : cases) {
        for (bool utf16 : {false, true}) {
            const fs::path file = here.path() / "bad.reg";
            qb::test::writeHostFile(file, utf16 ? utf16File(c.text) : c.text);
            const Result r = qbreg(m, here.path(), {"import", file.string()});
            EXPECT_EQ(r.status, 1) << c.what;
            EXPECT_NE(r.err.find(", line " + std::to_string(c.line) + ":"), std::string::npos)
                << c.what << ": " << r.err;
            EXPECT_NE(r.err.find(c.shown), std::string::npos) << c.what << ": " << r.err;
            EXPECT_EQ(r.out, "") << c.what;
            EXPECT_EQ(readHostFile(m.prefix() / "user.reg"), hiveBefore) << c.what;
        }
    }
}

// What the registry editor's files ask beyond values: "=-" deletes a value,
// [-KEY] a key with its subtree; REGEDIT4 files of the editor are escaped too.
TEST(QbregFiles, DeletesOfKeysAndValues) {
    FakeMachine m;
    TempDir here;
    {
        Registry reg;
        ASSERT_TRUE(reg.openKey("\\Software\\Qb\\Old\\Deeper", true));
        ASSERT_TRUE(reg.openKey("\\Software\\Qb", true));
        reg.writeString("", "default");
        reg.writeString("Gone", "x");
        reg.writeString("Stays", "y");
    }
    qb::test::writeHostFile(here.path() / "del.reg",
                            "REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Qb\\Old]\r\n"
                            "[-HKEY_CURRENT_USER\\Software\\Qb\\Never There]\r\n"
                            "[HKCU\\Software\\Qb]\r\n\"Gone\"=-\r\n@=-\r\n\"Never\"=-\r\n"
                            "\"Path\"=\"C:\\\\Mail\\\\\"\r\n");
    const Result r = qbreg(m, here.path(), {"import", "./del.reg"});
    ASSERT_EQ(r.status, 0) << r.err;
    Registry reg;
    EXPECT_FALSE(reg.keyExists("\\Software\\Qb\\Old"));
    ASSERT_TRUE(reg.openKeyReadOnly("\\Software\\Qb"));
    EXPECT_EQ(reg.valueNames(), (std::vector<std::string>{"Stays", "Path"}));
    EXPECT_EQ(reg.readString("Path"), "C:\\Mail\\");
}
