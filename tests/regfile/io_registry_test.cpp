#include "regfile/io_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/registry_test_support.h"
#include "support/interaction.h"
#include "testkit/testkit.h"

using namespace qb;
using platform::Registry;
using platform::RootKey;
using platform::ValueType;
using test::FakeMachine;

namespace {

constexpr const char* kFile = "C:\\export.reg";

// Writes values into a key (created when missing) with an accessor of its own.
template <typename Fn>
void withKey(RootKey root, std::string_view path, Fn fn) {
    Registry reg(root);
    ASSERT_TRUE(reg.openKey(path, true)) << path;
    fn(reg);
}

bool keyExists(RootKey root, std::string_view path) {
    Registry reg(root);
    return reg.keyExists(path);
}

std::optional<platform::RegValue> valueOf(RootKey root, std::string_view path,
                                          std::string_view name) {
    Registry reg(root);
    if (!reg.openKeyReadOnly(path)) return std::nullopt;
    return reg.readValue(name);
}

std::string stringOf(RootKey root, std::string_view path, std::string_view name) {
    Registry reg(root);
    if (!reg.openKeyReadOnly(path)) return "<no key>";
    if (reg.dataType(name) != ValueType::String) return "<not a string>";
    return reg.readString(name);
}

std::string exportText(std::string_view root, std::string_view key, bool subtree,
                       const FakeMachine& m, bool* result = nullptr) {
    TIORegistry io;
    const bool ok = io.ExportKey(root, key, subtree, kFile);
    if (result) *result = ok;
    return m.readFile(kFile);
}

// Imports `text` (lines joined with CR LF) from a file.
bool importText(const FakeMachine& m, std::string_view text) {
    m.writeFile("C:\\import.reg", text);
    TIORegistry io;
    return io.ImportFile("C:\\import.reg");
}

std::string crlf(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines)
        out += l + "\r\n";
    return out;
}

// The bytes of `text` as "hex:" data writes them: upper-case pairs, commas between.
std::string hexOf(std::string_view text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        if (!out.empty()) out += ',';
        out += kDigits[static_cast<unsigned char>(c) >> 4];
        out += kDigits[static_cast<unsigned char>(c) & 0xF];
    }
    return out;
}

// The key lines of an exported text, in order.
std::vector<std::string> keyLines(const std::string& text) {
    std::vector<std::string> keys;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        if (text[start] == '[') keys.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return keys;
}

}  // namespace

TEST(RegFileNames, RootNamesAreExactAndDefaultToCurrentUser) {
    EXPECT_EQ(TIORegistry::RootKeyFromName("HKEY_CLASSES_ROOT"), RootKey::ClassesRoot);
    EXPECT_EQ(TIORegistry::RootKeyFromName("HKEY_LOCAL_MACHINE"), RootKey::LocalMachine);
    EXPECT_EQ(TIORegistry::RootKeyFromName("HKEY_USERS"), RootKey::Users);
    EXPECT_EQ(TIORegistry::RootKeyFromName("HKEY_CURRENT_CONFIG"), RootKey::CurrentConfig);
    EXPECT_EQ(TIORegistry::RootKeyFromName("HKEY_DYN_DATA"), RootKey::DynData);
    EXPECT_EQ(TIORegistry::RootKeyFromName("hkey_local_machine"), RootKey::CurrentUser);
    EXPECT_EQ(TIORegistry::RootKeyFromName("HKLM"), RootKey::CurrentUser);
    EXPECT_EQ(TIORegistry::RootKeyFromName(""), RootKey::CurrentUser);
    EXPECT_EQ(TIORegistry::RootKeyName(RootKey::LocalMachine), "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(TIORegistry::RootKeyName(RootKey::DynData), "HKEY_DYN_DATA");
    EXPECT_EQ(TIORegistry::RootKeyName(static_cast<RootKey>(42)), "HKEY_CURRENT_USER");
}

TEST(RegFileNames, ClassifiesLinesAfterLeadingBlanks) {
    TIORegistry io;
    EXPECT_EQ(io.ClassifyLine("REGEDIT4"), lkHeader);
    EXPECT_EQ(io.ClassifyLine(" \tREGEDIT4"), lkHeader);
    EXPECT_EQ(io.ClassifyLine("REGEDIT4 "), lkOther);
    EXPECT_EQ(io.ClassifyLine("[HKEY_CURRENT_USER\\x]"), lkKey);
    EXPECT_EQ(io.ClassifyLine("  [x]"), lkKey);
    EXPECT_EQ(io.ClassifyLine("\"a\"=\"b\""), lkValue);
    EXPECT_EQ(io.ClassifyLine("\t\"a\"=dword:00000001"), lkValue);
    EXPECT_EQ(io.ClassifyLine("; comment"), lkComment);
    EXPECT_EQ(io.ClassifyLine("@=\"default\""), lkOther);
    EXPECT_EQ(io.ClassifyLine(""), lkOther);
    EXPECT_EQ(io.ClassifyLine("   "), lkOther);
    EXPECT_EQ(io.ClassifyLine("Windows Registry Editor Version 5.00"), lkOther);
}

TEST(RegFileExport, MissingKeyIsWrittenWithoutValuesAndNotCreated) {
    FakeMachine m;
    bool ok = false;
    const std::string text =
        exportText("HKEY_CURRENT_USER", "\\Software\\Qb\\Missing", true, m, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(text, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Qb\\Missing]\r\n");
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, "\\Software\\Qb\\Missing"));

    // Without a leading backslash and without a root name: the same key and text.
    EXPECT_EQ(exportText("", "Software\\Qb\\Missing", false, m), text);
}

TEST(RegFileExport, ValuesAreWrittenInTheFixedForm) {
    FakeMachine m;
    withKey(RootKey::CurrentUser, "\\Software\\Qb\\Values", [](Registry& r) {
        r.writeString("", "default text");
        r.writeBinary("Bin", {0x00, 0x0A, 0xFF});
        r.writeInteger("Dword0", 0);
        r.writeInteger("Dword255", 255);
        r.writeInteger("DwordAll", -1);
        r.writeBinary("EmptyBin", {});
        r.writeExpandString("Expand", "%USERPROFILE%\\Mail");
        r.writeMultiString("Multi", {"one", "two"});
        r.writeValue("Qword", {ValueType::Qword, {1, 0, 0, 0, 0, 0, 0, 0}});
        r.writeString("Quoted", "\"C:\\Program Files\\x.exe\" /a");
    });
    EXPECT_EQ(
        exportText("HKEY_CURRENT_USER", "\\Software\\Qb\\Values", false, m),
        crlf({"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\Qb\\Values]", "\"\"=\"default text\"",
              "\"Bin\"=hex:00,0A,FF", "\"Dword0\"=dword:00000000", "\"Dword255\"=dword:000000FF",
              "\"DwordAll\"=dword:FFFFFFFF", "\"EmptyBin\"=hex:",
              "\"Expand\"=hex(2):" + hexOf(std::string("%USERPROFILE%\\Mail\0", 19)),
              "\"Multi\"=hex(7):" + hexOf(std::string("one\0two\0\0", 9)),
              "\"Qword\"=hex(b):01,00,00,00,00,00,00,00",
              "\"Quoted\"=\"\"C:\\Program Files\\x.exe\" /a\""}));

    // Long binary data stays on one line.
    withKey(RootKey::CurrentUser, "\\Software\\Qb\\Long",
            [](Registry& r) { r.writeBinary("Blob", std::vector<uint8_t>(1000, 0xAB)); });
    const std::string text = exportText("HKEY_CURRENT_USER", "\\Software\\Qb\\Long", false, m);
    std::string expected = "\"Blob\"=hex:AB";
    for (int i = 1; i < 1000; ++i)
        expected += ",AB";
    EXPECT_NE(text.find("\r\n" + expected + "\r\n"), std::string::npos);
    EXPECT_EQ(text.size(),
              std::string("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Qb\\Long]\r\n").size() +
                  expected.size() + 2);
}

TEST(RegFileExport, SubtreeOrderAndNames) {
    FakeMachine m;
    // Created out of order: the registry lists subkeys alphabetically.
    for (const char* k : {"\\Software\\Qb\\Tree\\b\\b1", "\\Software\\Qb\\Tree\\a\\a2",
                          "\\Software\\Qb\\Tree\\a\\a1\\x"})
        withKey(RootKey::CurrentUser, k, [](Registry&) {});
    withKey(RootKey::CurrentUser, "\\Software\\Qb\\Tree\\a\\a1",
            [](Registry& r) { r.writeString("v", "in a1"); });

    const std::string text = exportText("HKEY_CURRENT_USER", "\\software\\qb\\Tree", true, m);
    // The exported key keeps the caller's letter case, subkeys the stored one.
    EXPECT_EQ(keyLines(text), (std::vector<std::string>{
                                  "[HKEY_CURRENT_USER\\software\\qb\\Tree]",
                                  "[HKEY_CURRENT_USER\\software\\qb\\Tree\\a]",
                                  "[HKEY_CURRENT_USER\\software\\qb\\Tree\\b]",
                                  "[HKEY_CURRENT_USER\\software\\qb\\Tree\\a\\a1]",
                                  "[HKEY_CURRENT_USER\\software\\qb\\Tree\\a\\a2]",
                                  "[HKEY_CURRENT_USER\\software\\qb\\Tree\\a\\a1\\x]",
                                  "[HKEY_CURRENT_USER\\software\\qb\\Tree\\b\\b1]",
                              }));
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\software\\qb\\Tree\\a\\a1]\r\n\"v\"=\"in a1\"\r\n"),
              std::string::npos);

    // A root key: its own path is empty, its subkeys follow without a backslash.
    const std::string root = exportText("HKEY_CURRENT_USER", "", true, m);
    EXPECT_TRUE(
        root.starts_with("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\]\r\n\r\n"
                         "[HKEY_CURRENT_USER\\Environment]\r\n"))
        << root.substr(0, 200);
    EXPECT_NE(root.find("\r\n[HKEY_CURRENT_USER\\Software\\Qb\\Tree\\a\\a1\\x]\r\n"),
              std::string::npos);

    // A key without subkeys gives the same text with and without its subtree.
    EXPECT_EQ(exportText("HKEY_CURRENT_USER", "\\Software\\Qb\\Tree\\a\\a2", true, m),
              exportText("HKEY_CURRENT_USER", "\\Software\\Qb\\Tree\\a\\a2", false, m));
}

TEST(RegFileExport, PropertyDestinationAppends) {
    FakeMachine m;
    withKey(RootKey::LocalMachine, "\\Software\\Qb", [](Registry& r) { r.writeInteger("n", 7); });
    TIORegistry io;
    io.ExportDestination = eiProperty;
    io.RegistryData = {"kept"};
    EXPECT_TRUE(io.ExportKey("HKEY_LOCAL_MACHINE", "\\Software\\Qb", false, kFile));
    EXPECT_EQ(io.RegistryData, (std::vector<std::string>{"kept", "REGEDIT4", "",
                                                         "[HKEY_LOCAL_MACHINE\\Software\\Qb]",
                                                         "\"n\"=dword:00000007"}));
    EXPECT_FALSE(platform::fileExists(kFile));

    // An empty file name also goes to the list; the list then imports elsewhere.
    io.ExportDestination = eiFile;
    io.RegistryData.clear();
    EXPECT_TRUE(io.ExportKey("HKEY_LOCAL_MACHINE", "\\Software\\Qb", false, ""));
    EXPECT_EQ(io.RegistryData.size(), 4u);
    io.RegistryData[2] = "[HKEY_CURRENT_USER\\Software\\FromList]";
    io.ImportSource = eiProperty;
    EXPECT_TRUE(io.ImportFile("C:\\not-read.reg"));
    EXPECT_EQ(valueOf(RootKey::CurrentUser, "\\Software\\FromList", "n")->type, ValueType::Dword);
}

TEST(RegFileImport, KeyLinesSwitchRoots) {
    FakeMachine m;
    ASSERT_TRUE(importText(
        m, crlf({"REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\Software\\Qb]", "\"Where\"=\"machine\"",
                 "[HKEY_CURRENT_USER\\Software\\Qb]", "\"Where\"=\"user\"",
                 "[HKEY_LOCAL_MACHINE\\Software\\Qb\\Sub]", "\"Where\"=\"machine sub\""})));
    EXPECT_EQ(stringOf(RootKey::LocalMachine, "\\Software\\Qb", "Where"), "machine");
    EXPECT_EQ(stringOf(RootKey::CurrentUser, "\\Software\\Qb", "Where"), "user");
    EXPECT_EQ(stringOf(RootKey::LocalMachine, "\\Software\\Qb\\Sub", "Where"), "machine sub");
}

TEST(RegFileImport, UnknownAndMiscasedRootsMeanCurrentUser) {
    FakeMachine m;
    ASSERT_TRUE(importText(m, crlf({"REGEDIT4", "[HKEY_NOWHERE\\Software\\Qb\\A]", "\"v\"=\"1\"",
                                    "[hkey_local_machine\\Software\\Qb\\B]", "\"v\"=\"2\"",
                                    "[HKLM\\Software\\Qb\\C]", "\"v\"=\"3\""})));
    for (auto [key, v] : {std::pair{"\\Software\\Qb\\A", "1"}, std::pair{"\\Software\\Qb\\B", "2"},
                          std::pair{"\\Software\\Qb\\C", "3"}}) {
        EXPECT_EQ(stringOf(RootKey::CurrentUser, key, "v"), v);
        EXPECT_FALSE(keyExists(RootKey::LocalMachine, key)) << key;
    }

    // Before the first backslash stands the root name, whatever it is; a line
    // without one names a key below HKEY_CURRENT_USER.
    ASSERT_TRUE(
        importText(m, crlf({"[Software\\Qb\\D]", "\"v\"=\"4\"", "[Lonely]", "\"v\"=\"5\""})));
    EXPECT_EQ(stringOf(RootKey::CurrentUser, "\\Qb\\D", "v"), "4");
    EXPECT_EQ(stringOf(RootKey::CurrentUser, "\\Lonely", "v"), "5");
}

TEST(RegFileImport, CommentsBlanksAndTheHeaderAreOptional) {
    const std::string body =
        "; written by hand\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Qb]\r"
        "; a comment between values\r\n"
        "@=\"ignored: at-sign lines are not values\"\n"
        "  \"Indented\"=\"yes\"  \r\n"
        "\t[HKEY_CURRENT_USER\\Software\\Qb\\Indented] \n"
        "\"\"=\"default\"\n"
        "\"T\"=hex(7):41,00\n";
    for (bool header : {true, false}) {
        FakeMachine m;
        ASSERT_TRUE(importText(m, (header ? "REGEDIT4\r\n" : "") + body));
        EXPECT_EQ(stringOf(RootKey::CurrentUser, "\\Software\\Qb", "Indented"), "yes");
        EXPECT_EQ(stringOf(RootKey::CurrentUser, "\\Software\\Qb\\Indented", ""), "default");
        // Typed data keeps its type; string bytes are the file's text.
        const auto typed = valueOf(RootKey::CurrentUser, "\\Software\\Qb\\Indented", "T");
        ASSERT_TRUE(typed);
        EXPECT_EQ(typed->type, ValueType::MultiString);
        EXPECT_EQ(typed->data, (std::vector<uint8_t>{0x41, 0, 0, 0}));
        Registry reg;
        ASSERT_TRUE(reg.openKeyReadOnly("\\Software\\Qb"));
        EXPECT_EQ(reg.valueNames(), std::vector<std::string>{"Indented"});
    }
}

TEST(RegFileImport, QuotedDataStaysTextAndNamesKeepTheirDelimiter) {
    FakeMachine m;
    ASSERT_TRUE(
        importText(m, crlf({"REGEDIT4", "[HKEY_CURRENT_USER\\Software\\Qb]",
                            "\"Cmd\"=\"\"C:\\Program Files\\Eudora\\Eudora.exe\" C:\\Mail\"",
                            "\"LooksLikeDword\"=\"dword:12345678\"", "\"LooksLikeHex\"=\"hex:zz\"",
                            "\"a=b\"=\"x=y\"", "\"Num\"=dword:0000002A", "\"Bytes\"=hex:de,AD,0",
                            "\"NoData\"=", "\"Plain\"=unquoted text"})));
    const char* key = "\\Software\\Qb";
    EXPECT_EQ(stringOf(RootKey::CurrentUser, key, "Cmd"),
              "\"C:\\Program Files\\Eudora\\Eudora.exe\" C:\\Mail");
    EXPECT_EQ(stringOf(RootKey::CurrentUser, key, "LooksLikeDword"), "dword:12345678");
    EXPECT_EQ(stringOf(RootKey::CurrentUser, key, "LooksLikeHex"), "hex:zz");
    EXPECT_EQ(stringOf(RootKey::CurrentUser, key, "a=b"), "x=y");
    EXPECT_EQ(stringOf(RootKey::CurrentUser, key, "NoData"), "");
    EXPECT_EQ(stringOf(RootKey::CurrentUser, key, "Plain"), "unquoted text");
    const auto num = valueOf(RootKey::CurrentUser, key, "Num");
    ASSERT_TRUE(num);
    EXPECT_EQ(num->type, ValueType::Dword);
    EXPECT_EQ(num->data, (std::vector<uint8_t>{0x2A, 0, 0, 0}));
    const auto bytes = valueOf(RootKey::CurrentUser, key, "Bytes");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->type, ValueType::Binary);
    EXPECT_EQ(bytes->data, (std::vector<uint8_t>{0xDE, 0xAD}));  // the odd digit is dropped
}

TEST(RegFileImport, EscapedFilesOfOtherToolsReadAsBefore) {
    FakeMachine m;
    ASSERT_TRUE(
        importText(m, crlf({"REGEDIT4", "[HKEY_CURRENT_USER\\Software\\Qb]",
                            "\"Path\"=\"C:\\\\Program Files\\\\x\"", "\"Said\"=\"say \\\"hi\\\"\"",
                            "\"Wrapped\"=hex:01,02,\\", "  03,04"})));
    // Escapes are not undone (doubled backslashes stay); quotes inside are kept.
    EXPECT_EQ(stringOf(RootKey::CurrentUser, "\\Software\\Qb", "Path"), "C:\\\\Program Files\\\\x");
    EXPECT_EQ(stringOf(RootKey::CurrentUser, "\\Software\\Qb", "Said"), "say \\\"hi\\\"");
    // Continuation lines are not part of the format: the first line's bytes only.
    EXPECT_EQ(valueOf(RootKey::CurrentUser, "\\Software\\Qb", "Wrapped")->data,
              (std::vector<uint8_t>{1, 2}));
}

TEST(RegFileImport, SingleByteFilesAreReadAsWindows1252) {
    FakeMachine m;
    ASSERT_TRUE(importText(m,
                           "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Qb]\r\n"
                           "\"Name\"=\"J\xFCrgen \x80 \x93q\x94\"\r\n"));
    EXPECT_EQ(stringOf(RootKey::CurrentUser, "\\Software\\Qb", "Name"),
              "J\xC3\xBCrgen \xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D");
}

TEST(RegFileImport, MissingFileShowsItsNameAndWritesNothing) {
    FakeMachine m;
    ScriptedInteraction ui;
    ScopedInteraction scope(ui);
    TIORegistry io;
    EXPECT_FALSE(io.ImportFile("C:\\nowhere\\gone.reg"));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "File \"C:\\nowhere\\gone.reg\" not found.");
    EXPECT_EQ(ui.boxes[0].icon, MsgIcon::None);
    EXPECT_EQ(ui.boxes[0].buttons, MsgButtons::Ok);
}

TEST(RegFileImport, BadDataEndsTheImportBeforeAnythingIsWritten) {
    struct Case {
        const char* line;
        const char* why;
    };
    for (const Case& c :
         {Case{"\"Bad\"=hex:0g", "\"0g\""}, Case{"\"Bad\"=dword:xyz", "\"xyz\""},
          Case{"\"Bad\"=dword:", "dword:"}, Case{"\"Bad\"=dword:100000000", "32 bits"}}) {
        FakeMachine m;
        m.writeFile("C:\\bad.reg", crlf({"REGEDIT4", "[HKEY_CURRENT_USER\\Software\\Qb]",
                                         "\"Before\"=\"kept\"", c.line, "\"After\"=\"never\""}));
        TIORegistry io;
        try {
            io.ImportFile("C:\\bad.reg");
            ADD_FAILURE() << c.line << " imported";
        } catch (const RegFileError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("C:\\bad.reg"), std::string::npos) << what;
            EXPECT_NE(what.find("line 4"), std::string::npos) << what;
            EXPECT_NE(what.find(c.why), std::string::npos) << what;
            EXPECT_NE(what.find(c.line), std::string::npos) << what;
            EXPECT_EQ(io.LastError(), what);
        }
        EXPECT_FALSE(keyExists(RootKey::CurrentUser, "\\Software\\Qb"));
        EXPECT_FALSE(valueOf(RootKey::CurrentUser, "\\Software\\Qb", "After"));
    }

    FakeMachine m;
    m.writeFile("C:\\nokey.reg", crlf({"REGEDIT4", "\"Orphan\"=\"x\""}));
    TIORegistry io;
    EXPECT_THROW(io.ImportFile("C:\\nokey.reg"), RegFileError);
    EXPECT_NE(io.LastError().find("before the first key line"), std::string::npos);
}

TEST(RegFileRoundTrip, ExportDeleteImportRestoresWhatTheFormatKeeps) {
    FakeMachine m;
    const char* top = "\\Software\\Qb\\Client";
    withKey(RootKey::CurrentUser, top, [](Registry& r) {
        r.writeString("", "the default");
        r.writeString("Store", "C:\\Mail\\Store Folder");
        r.writeString("Cmd", "\"C:\\Program Files\\Eudora\\Eudora.exe\" C:\\Mail");
        r.writeString("Tricky", "dword:00000001");
        r.writeString("Empty", "");
        r.writeString("Umlaut", "M\xC3\xBCller \xE2\x82\xAC");
        r.writeString("a=b", "c=d");
        r.writeExpandString("Expand", "%APPDATA%\\Client");
        r.writeInteger("Zero", 0);
        r.writeInteger("Neg", -2);
        r.writeBinary("Bin", {0, 1, 2, 0xFE, 0xFF});
    });
    withKey(RootKey::CurrentUser, "\\Software\\Qb\\Client\\Accounts\\00000001", [](Registry& r) {
        r.writeString("Account Name", "Work");
        r.writeInteger("POP3 Port", 110);
    });
    withKey(RootKey::CurrentUser, "\\Software\\Qb\\Client\\Accounts\\00000002", [](Registry& r) {
        r.writeBinary("Password", {0x12, 0x34});
    });
    withKey(RootKey::CurrentUser, "\\Software\\Qb\\Client\\Empty Key", [](Registry&) {});

    const std::string before = exportText("HKEY_CURRENT_USER", top, true, m);
    {
        Registry reg;
        ASSERT_TRUE(reg.deleteKey(top));
    }
    ASSERT_FALSE(keyExists(RootKey::CurrentUser, top));
    TIORegistry io;
    ASSERT_TRUE(io.ImportFile(kFile));

    // Same text again, and every value back with the type the format carries.
    EXPECT_EQ(exportText("HKEY_CURRENT_USER", top, true, m), before);
    EXPECT_TRUE(keyExists(RootKey::CurrentUser, "\\Software\\Qb\\Client\\Empty Key"));
    EXPECT_EQ(stringOf(RootKey::CurrentUser, top, ""), "the default");
    EXPECT_EQ(stringOf(RootKey::CurrentUser, top, "Cmd"),
              "\"C:\\Program Files\\Eudora\\Eudora.exe\" C:\\Mail");
    EXPECT_EQ(stringOf(RootKey::CurrentUser, top, "Tricky"), "dword:00000001");
    EXPECT_EQ(stringOf(RootKey::CurrentUser, top, "Umlaut"), "M\xC3\xBCller \xE2\x82\xAC");
    EXPECT_EQ(stringOf(RootKey::CurrentUser, top, "a=b"), "c=d");
    {
        Registry reg;
        ASSERT_TRUE(reg.openKeyReadOnly(top));
        EXPECT_EQ(reg.dataType("Expand"), ValueType::ExpandString);
        EXPECT_EQ(reg.readString("Expand"), "%APPDATA%\\Client");
        EXPECT_EQ(reg.readInteger("Zero"), 0);
        EXPECT_EQ(reg.readInteger("Neg"), -2);
        EXPECT_EQ(reg.dataType("Bin"), ValueType::Binary);
        EXPECT_EQ(reg.readBinary("Bin"), (std::vector<uint8_t>{0, 1, 2, 0xFE, 0xFF}));
        ASSERT_TRUE(reg.openKeyReadOnly("\\Software\\Qb\\Client\\Accounts\\00000001"));
        EXPECT_EQ(reg.readString("Account Name"), "Work");
        EXPECT_EQ(reg.readInteger("POP3 Port"), 110);
    }
}

TEST(RegFileRoundTrip, StringsWithLineBreaksComeBackWhole) {
    FakeMachine m;
    // A signature, say: its lines may look like key lines, value lines or comments.
    const std::string signature =
        "Best regards,\r\n\r\n[Jane Doe]\r\n\"Sales\"=\"EMEA\r\n; not a comment\nLF only";
    withKey(RootKey::CurrentUser, "\\Software\\Qb\\Sig", [&](Registry& r) {
        r.writeString("", "default");
        r.writeString("text", signature);
        r.writeString("leading", "\r\nafter a break");
        r.writeString("trailing", "before a break\r\n");
        r.writeInteger("after", 5);
    });
    exportText("HKEY_CURRENT_USER", "\\Software\\Qb\\Sig", false, m);
    {
        Registry reg;
        ASSERT_TRUE(reg.deleteKey("\\Software\\Qb\\Sig"));
    }
    TIORegistry io;
    ASSERT_TRUE(io.ImportFile(kFile));
    Registry reg;
    ASSERT_TRUE(reg.openKeyReadOnly("\\Software\\Qb\\Sig"));
    EXPECT_EQ(reg.valueNames(),
              (std::vector<std::string>{"", "text", "leading", "trailing", "after"}));
    EXPECT_EQ(reg.readString(""), "default");
    EXPECT_EQ(reg.readString("text"), signature);
    EXPECT_EQ(reg.readString("leading"), "\r\nafter a break");
    EXPECT_EQ(reg.readString("trailing"), "before a break\r\n");
    EXPECT_EQ(reg.readInteger("after"), 5);
    EXPECT_FALSE(reg.keyExists("\\Jane Doe"));

    // Without a line that ends the string, it is the rest of its line only.
    ASSERT_TRUE(importText(m, crlf({"[HKEY_CURRENT_USER\\Software\\Qb\\Open]", "\"open\"=\"no end",
                                    "\"next\"=dword:00000001"})));
    EXPECT_EQ(stringOf(RootKey::CurrentUser, "\\Software\\Qb\\Open", "open"), "no end");
    EXPECT_EQ(valueOf(RootKey::CurrentUser, "\\Software\\Qb\\Open", "next")->type,
              ValueType::Dword);
}

TEST(RegFileRoundTrip, EmptyBinaryAndMultiStringComeBackExactly) {
    FakeMachine m;
    withKey(RootKey::CurrentUser, "\\Software\\Qb", [](Registry& r) {
        r.writeBinary("EmptyBin", {});
        r.writeMultiString("Multi", {"a", "b"});
    });
    exportText("HKEY_CURRENT_USER", "\\Software\\Qb", false, m);
    TIORegistry io;
    ASSERT_TRUE(io.ImportFile(kFile));
    Registry reg;
    ASSERT_TRUE(reg.openKeyReadOnly("\\Software\\Qb"));
    EXPECT_EQ(reg.dataType("EmptyBin"), ValueType::Binary);
    EXPECT_TRUE(reg.readBinary("EmptyBin").empty());
    EXPECT_EQ(reg.readMultiString("Multi"), (std::vector<std::string>{"a", "b"}));
}

TEST(RegFileRoundTrip, WineFixtureKeyMovesToAFreshPrefix) {
    const char* key = "\\Software\\Microsoft\\Windows NT\\CurrentVersion";
    std::string exported;
    {
        FakeMachine source;
        platform::unloadRegistry();
        test::writeHostFile(source.prefix() / "system.reg",
                            test::readHostFile(test::fixture("wine-8.0-prefix/system.reg")));
        bool ok = false;
        exported = exportText("HKEY_LOCAL_MACHINE", key, true, source, &ok);
        ASSERT_TRUE(ok);
    }
    // The fixture's values of several kinds made it into the file.
    for (const char* line :
         {"\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\r\n",
          "\r\n\"SystemRoot\"=\"C:\\windows\"\r\n", "\r\n\"InstallDate\"=dword:4BE5019A\r\n",
          "\\Time Zones\\Alaskan Standard Time\\Dynamic DST]\r\n\"2000\"=hex:1C,02,00,",
          "\r\n\"FirstEntry\"=dword:000007D0\r\n", "\r\n\"Meiryo\"=hex(7):"})
        EXPECT_NE(exported.find(line), std::string::npos) << line;

    FakeMachine target;
    {
        // The new prefix has a few values of its own there; start from nothing.
        Registry reg(RootKey::LocalMachine);
        ASSERT_TRUE(reg.deleteKey(key));
    }
    target.writeFile("C:\\fixture.reg", exported);
    TIORegistry io;
    ASSERT_TRUE(io.ImportFile("C:\\fixture.reg"));
    const std::string again = exportText("HKEY_LOCAL_MACHINE", key, true, target);
    // Every value comes back as it was.
    EXPECT_EQ(again, exported);
}

TEST(RegFileRefusals, WineServerRunning) {
    FakeMachine m;
    withKey(RootKey::LocalMachine, "\\Software\\Qb", [](Registry& r) { r.writeString("v", "1"); });
    m.writeFile("C:\\in.reg",
                crlf({"REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\Software\\Qb]", "\"v\"=\"2\""}));
    test::WineServerLock server(m.prefix());

    // Reading works: an existing key exports as usual.
    TIORegistry io;
    EXPECT_TRUE(io.ExportKey("HKEY_LOCAL_MACHINE", "\\Software\\Qb", true, kFile));
    EXPECT_EQ(m.readFile(kFile),
              crlf({"REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\Software\\Qb]", "\"v\"=\"1\""}));

    // An export only reads: a missing key gives its empty section, and nothing is
    // written to the registry.
    EXPECT_TRUE(io.ExportKey("HKEY_LOCAL_MACHINE", "\\Software\\Qb\\New", true, kFile))
        << io.LastError();
    EXPECT_EQ(m.readFile(kFile), crlf({"REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\Software\\Qb\\New]"}));

    // The import fails with the file and the reason instead of reporting success.
    try {
        io.ImportFile("C:\\in.reg");
        ADD_FAILURE() << "imported while the registry refuses writes";
    } catch (const RegFileError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("C:\\in.reg"), std::string::npos) << what;
        EXPECT_NE(what.find("line 4"), std::string::npos) << what;
        EXPECT_NE(what.find("Wine server"), std::string::npos) << what;
    }
    // A key line whose key cannot be created ends the import there.
    m.writeFile("C:\\new.reg",
                crlf({"REGEDIT4", "[HKEY_CURRENT_USER\\Software\\Brand New]", "\"v\"=\"x\""}));
    EXPECT_THROW(io.ImportFile("C:\\new.reg"), RegFileError);
    EXPECT_NE(io.LastError().find("line 2: cannot open or create the key"), std::string::npos)
        << io.LastError();

    server.release();
    EXPECT_EQ(stringOf(RootKey::LocalMachine, "\\Software\\Qb", "v"), "1");
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, "\\Software\\Brand New"));
}
