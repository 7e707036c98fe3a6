#include "platform/ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "testkit/testkit.h"

using namespace qb::platform;
using qb::test::FakeMachine;
namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;

// UTF-16LE bytes with their BOM, as Windows programs may write INI files.
std::string utf16File(std::u16string_view text) {
    std::string out("\xFF\xFE", 2);
    for (char16_t ch : text) {
        out += static_cast<char>(ch & 0xFF);
        out += static_cast<char>(ch >> 8);
    }
    return out;
}

class Ini : public ::testing::Test {
  protected:
    FakeMachine m;
    const std::string path = "C:\\Config\\Mail.ini";
    IniFile ini{path};
    void put(std::string_view bytes) { m.writeFile(path, bytes); }
    std::string bytes() const { return m.readFile(path); }
};

}  // namespace

TEST_F(Ini, ReadsWithTheProfileFunctionsRules) {
    put("stray=before any section\r\n"
        "; a comment=not a key\r\n"
        "[Accounts]\r\n"
        "  Name   =   Jane Doe  \r\n"
        "Quoted=\"  padded  \"\r\n"
        "Single='x'\r\n"
        "Mismatched=\"x'\r\n"
        "Inner=a \"b\" c\r\n"
        "Both=\"'x'\"\r\n"
        "Empty=\r\n"
        "   ; indented comment=1\r\n"
        "#hash=is a key\r\n"
        "Semi=a;b\r\n"
        "name=second wins nothing\r\n"
        "no equals sign here\r\n"
        "\r\n"
        "[ Spaced ]  trailing text\r\n"
        "k=v\r\n"
        "[accounts]\r\n"
        "Extra=in the second section of that name\r\n");
    EXPECT_EQ(ini.readString("ACCOUNTS", "name", "-"), "Jane Doe");
    EXPECT_EQ(ini.readString("accounts", "quoted", "-"), "  padded  ");
    EXPECT_EQ(ini.readString("accounts", "single", "-"), "x");
    EXPECT_EQ(ini.readString("accounts", "mismatched", "-"), "\"x'");
    EXPECT_EQ(ini.readString("accounts", "inner", "-"), "a \"b\" c");
    EXPECT_EQ(ini.readString("accounts", "both", "-"), "'x'");  // one pair only
    EXPECT_EQ(ini.readString("accounts", "empty", "-"), "");
    EXPECT_EQ(ini.readString("accounts", "#hash", "-"), "is a key");
    EXPECT_EQ(ini.readString("accounts", "semi", "-"), "a;b");
    EXPECT_EQ(ini.readString("accounts", "; a comment", "-"), "-");
    EXPECT_EQ(ini.readString("accounts", "; indented comment", "-"), "-");
    EXPECT_EQ(ini.readString("accounts", "no equals sign here", "-"), "-");
    EXPECT_EQ(ini.readString("accounts", "stray", "-"), "-");
    EXPECT_EQ(ini.readString("accounts", "extra", "-"), "-");  // only the first section counts
    EXPECT_EQ(ini.readString(" Spaced ", "K", "-"), "v");
    EXPECT_EQ(ini.readString("spaced", "k", "-"), "v");
    EXPECT_EQ(ini.readString("missing", "k", "dflt"), "dflt");

    EXPECT_EQ(ini.readSections(), (Strings{"Accounts", "Spaced", "accounts"}));
    EXPECT_EQ(ini.readSection("accounts"),
              (Strings{"Name", "Quoted", "Single", "Mismatched", "Inner", "Both", "Empty", "#hash",
                       "Semi", "name"}));
    EXPECT_EQ(ini.readSectionValues("Accounts"),
              (Strings{"Name=Jane Doe", "Quoted=\"  padded  \"", "Single='x'", "Mismatched=\"x'",
                       "Inner=a \"b\" c", "Both=\"'x'\"", "Empty=", "#hash=is a key", "Semi=a;b",
                       "name=second wins nothing", "no equals sign here"}));
    EXPECT_TRUE(ini.sectionExists("SPACED"));
    EXPECT_FALSE(ini.sectionExists("stray"));
    EXPECT_TRUE(ini.valueExists("accounts", "EMPTY"));
    EXPECT_FALSE(ini.valueExists("accounts", "extra"));
    EXPECT_TRUE(ini.readSection("missing").empty());
}

TEST_F(Ini, ReadsNumbersBomAndAnyLineEnds) {
    put("\xEF\xBB\xBF[N]\nA=12\r B = -5 \r\nC=0x1F\nD=0xFFFFFFFF\nE=12abc\nF=\nG=true\nH=0\n"
        "I=99999999999\nJ=No");
    EXPECT_EQ(ini.readSections(), Strings{"N"});  // the BOM is not part of the name
    EXPECT_EQ(ini.readInteger("n", "a", 7), 12);
    EXPECT_EQ(ini.readInteger("n", "b", 7), -5);
    EXPECT_EQ(ini.readInteger("n", "c", 7), 31);
    EXPECT_EQ(ini.readInteger("n", "d", 7), -1);
    EXPECT_EQ(ini.readInteger("n", "e", 7), 7);
    EXPECT_EQ(ini.readInteger("n", "i", 7), 7);
    EXPECT_TRUE(ini.readBool("n", "g", false));
    EXPECT_FALSE(ini.readBool("n", "h", true));
    EXPECT_FALSE(ini.readBool("n", "j", true));
    EXPECT_TRUE(ini.readBool("n", "e", true));  // not a number: the default

    IniFile missing("C:\\nowhere\\none.ini");
    EXPECT_EQ(missing.readString("a", "b", "d"), "d");
    EXPECT_TRUE(missing.readSections().empty());
}

TEST_F(Ini, WritingCreatesFileAndSectionsInWindowsLayout) {
    fs::create_directories(m.host("C:\\Config"));
    EXPECT_TRUE(ini.writeString("App1", "key1", "string1"));
    EXPECT_EQ(bytes(), "[App1]\r\nkey1=string1\r\n");
    EXPECT_TRUE(ini.writeString("App1", "key2", "string2"));
    EXPECT_TRUE(ini.writeString("App2", "key3", "string3"));
    EXPECT_TRUE(ini.writeInteger("app1", "KEY1", -42));  // the file keeps its spelling
    EXPECT_EQ(bytes(), "[App1]\r\nkey1=-42\r\nkey2=string2\r\n[App2]\r\nkey3=string3\r\n");
    EXPECT_EQ(ini.readInteger("APP1", "key1", 0), -42);

    // Values that reading would trim or unquote are written so they read back as given.
    for (const std::string v : {" lead", "trail\t", "\"quoted\"", "'single'", "", "a=b;c"}) {
        EXPECT_TRUE(ini.writeString("Values", "v", v));
        EXPECT_EQ(ini.readString("values", "v", "-"), v);
    }
    // What the file cannot hold on one line is refused, and the file stays as it was.
    const std::string before = bytes();
    EXPECT_FALSE(ini.writeString("App1", "k", "two\r\nlines"));
    EXPECT_FALSE(ini.writeString("App1", "a=b", "v"));
    EXPECT_FALSE(ini.writeString("App1", ";k", "v"));
    EXPECT_FALSE(ini.writeString("App1", "", "v"));
    EXPECT_FALSE(ini.writeString("Ap]p", "k", "v"));
    EXPECT_EQ(bytes(), before);
}

TEST_F(Ini, WritingKeepsEveryOtherByte) {
    // Unix line ends, a comment, trailing blank lines, no line end at the very end.
    put("; settings\n[Main]\nA=1\n   ; note\n\n\n[Other]\nX = 1\n\n[Last]\nL=1");
    EXPECT_TRUE(ini.writeString("main", "B", "2"));  // before the section's trailing blanks
    EXPECT_EQ(bytes(),
              "; settings\n[Main]\nA=1\n   ; note\nB=2\r\n\n\n[Other]\nX = 1\n\n"
              "[Last]\nL=1");
    EXPECT_TRUE(ini.writeString("other", "x", "9"));  // a rewritten line ends in CRLF
    EXPECT_EQ(bytes(),
              "; settings\n[Main]\nA=1\n   ; note\nB=2\r\n\n\n[Other]\nX=9\r\n\n"
              "[Last]\nL=1");
    EXPECT_TRUE(ini.writeString("last", "M", "2"));  // the unterminated line gets its end
    EXPECT_TRUE(ini.writeString("New", "n", "1"));
    EXPECT_EQ(bytes(),
              "; settings\n[Main]\nA=1\n   ; note\nB=2\r\n\n\n[Other]\nX=9\r\n\n"
              "[Last]\nL=1\r\nM=2\r\n[New]\r\nn=1\r\n");
    // Writing the value a key already has changes nothing.
    struct stat before;
    ASSERT_EQ(::stat(m.host(path).c_str(), &before), 0);
    EXPECT_TRUE(ini.writeString("OTHER", "X", "9"));
    struct stat after;
    ASSERT_EQ(::stat(m.host(path).c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(Ini, EraseSectionAndDeleteKey) {
    put("[A]\r\na=1\r\n\r\n; about B\r\n[B]\r\nb=1\r\nc=2\r\nb=3\r\n\r\n[C]\r\nc=1\r\n"
        "[b]\r\nb=4\r\n; kept\r\n[D]\r\n");
    EXPECT_TRUE(ini.deleteKey("B", "B"));  // every "b" of every [B]
    EXPECT_EQ(bytes(),
              "[A]\r\na=1\r\n\r\n; about B\r\n[B]\r\nc=2\r\n\r\n[C]\r\nc=1\r\n"
              "[b]\r\n; kept\r\n[D]\r\n");
    EXPECT_TRUE(ini.deleteKey("B", "missing"));
    EXPECT_TRUE(ini.eraseSection("b"));  // both of them; comment lines stay
    EXPECT_EQ(bytes(), "[A]\r\na=1\r\n\r\n; about B\r\n[C]\r\nc=1\r\n; kept\r\n[D]\r\n");
    EXPECT_FALSE(ini.sectionExists("B"));
    EXPECT_TRUE(ini.eraseSection("nothing"));
    EXPECT_TRUE(ini.eraseSection("A"));
    EXPECT_EQ(bytes(), "; about B\r\n[C]\r\nc=1\r\n; kept\r\n[D]\r\n");

    IniFile none("C:\\Config\\none.ini");
    EXPECT_TRUE(none.eraseSection("x"));
    EXPECT_TRUE(none.deleteKey("x", "y"));
    EXPECT_FALSE(fileExists("C:\\Config\\none.ini"));  // nothing to change, nothing created
}

TEST_F(Ini, KeepsTheEncodingOfTheFile) {
    put("\xEF\xBB\xBF[Ordner]\r\nName=Entwürfe\r\n");
    EXPECT_EQ(ini.readString("ORDNER", "name", ""), "Entwürfe");
    EXPECT_TRUE(ini.writeString("ordner", "Neu", "Größe"));
    EXPECT_EQ(bytes(), "\xEF\xBB\xBF[Ordner]\r\nName=Entwürfe\r\nNeu=Größe\r\n");

    put(utf16File(u"[Папка]\r\nИмя=Входящие 📨\r\n"));
    EXPECT_EQ(ini.readString("папка", "ИМЯ", ""), "Входящие 📨");
    EXPECT_TRUE(ini.writeString("Папка", "Имя", "Отправленные"));
    EXPECT_EQ(bytes(), utf16File(u"[Папка]\r\nИмя=Отправленные\r\n"));

    // A lone surrogate survives a change elsewhere in the file; text that is no
    // UTF-8 (here an overlong NUL) is refused rather than written as a character.
    const std::u16string lone = u"[S]\r\nk=\xD83C!\r\n";
    put(utf16File(lone));
    EXPECT_TRUE(ini.writeString("S", "n", "1"));
    EXPECT_EQ(bytes(), utf16File(lone + u"n=1\r\n"));
    EXPECT_FALSE(ini.writeString("S", "n", std::string("\xC0\x80", 2)));
    EXPECT_NE(lastFileError().find(path), std::string::npos);
    EXPECT_EQ(bytes(), utf16File(lone + u"n=1\r\n"));
}

TEST_F(Ini, WritesAtomicallyAndReportsFailure) {
    put("[S]\r\nk=1\r\n");
    const fs::path host = m.host(path);
    fs::permissions(host, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // A file reached through a link is changed behind the link.
    fs::create_symlink(host, host.parent_path() / "link.ini");
    IniFile viaLink("C:\\config\\LINK.INI");
    EXPECT_TRUE(viaLink.writeString("s", "k", "2"));
    EXPECT_TRUE(fs::is_symlink(host.parent_path() / "link.ini"));
    EXPECT_EQ(bytes(), "[S]\r\nk=2\r\n");
    EXPECT_EQ(fs::status(host).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A missing folder is not created, and a folder that cannot be written to
    // leaves the file untouched; either way the reason names the file.
    IniFile lost("C:\\No Such Folder\\x.ini");
    EXPECT_FALSE(lost.writeString("s", "k", "v"));
    EXPECT_NE(lastFileError().find("C:\\No Such Folder\\x.ini"), std::string::npos);
    // A folder where the file should be cannot be read as one, nor replaced.
    IniFile folder("C:\\Config");
    EXPECT_FALSE(folder.writeString("s", "k", "v"));
    EXPECT_TRUE(fs::is_directory(host.parent_path()));
    if (::geteuid() != 0) {  // root writes regardless of permission bits
        fs::permissions(host.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(ini.writeString("s", "k", "3"));
        EXPECT_NE(lastFileError().find(path), std::string::npos);
        fs::permissions(host.parent_path(), fs::perms::owner_all);
        EXPECT_EQ(bytes(), "[S]\r\nk=2\r\n");
        // A file that exists but cannot be read is never replaced blindly.
        fs::permissions(host, fs::perms::owner_write);
        EXPECT_FALSE(ini.writeString("s", "other", "v"));
        fs::permissions(host, fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(bytes(), "[S]\r\nk=2\r\n");
    }
    // No temporary file is left behind.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(host.parent_path()))
        ++entries;
    EXPECT_EQ(entries, 2u);
}
