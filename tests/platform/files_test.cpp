#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "platform/machine.h"
#include "testkit/testkit.h"

using namespace qb::platform;
using qb::test::FakeMachine;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> names(const std::vector<SearchRec>& recs) {
    std::vector<std::string> out;
    for (const SearchRec& r : recs)
        out.push_back(r.name);
    return out;
}

const SearchRec* entry(const std::vector<SearchRec>& recs, std::string_view name) {
    auto it =
        std::find_if(recs.begin(), recs.end(), [&](const SearchRec& r) { return r.name == name; });
    return it == recs.end() ? nullptr : &*it;
}

using Names = std::vector<std::string>;

class Files : public ::testing::Test {
  protected:
    FakeMachine m;
    fs::path c = m.prefix() / "drive_c";
    void touch(const fs::path& p, std::string_view content = "x") {
        qb::test::writeHostFile(p, content);
    }
};

}  // namespace

TEST_F(Files, HostPathResolvesComponentsWithoutRegardToCase) {
    fs::create_directories(c / "Mail Store" / "Inbox");
    touch(c / "Mail Store" / "Inbox" / "Msg.DBX");
    const fs::path dbx = c / "Mail Store" / "Inbox" / "Msg.DBX";

    EXPECT_EQ(hostPath("C:\\Mail Store\\Inbox\\Msg.DBX"), dbx);  // exact spelling
    EXPECT_EQ(hostPath("c:\\MAIL STORE\\inbox\\msg.dbx"), dbx);
    EXPECT_EQ(hostPath("C:/mail store/INBOX/msg.dbx"), dbx);   // forward slashes
    EXPECT_EQ(hostPath("\\mail store\\inbox\\msg.dbx"), dbx);  // a lone "\" is drive C:
    EXPECT_EQ(hostPath("C:\\\\mail store\\\\inbox\\msg.dbx"), dbx);
    EXPECT_EQ(hostPath("\\\\?\\C:\\mail store\\inbox\\msg.dbx"), dbx);
    // Missing components keep the case they are written in, after the existing ones.
    EXPECT_EQ(hostPath("C:\\MAIL STORE\\New Folder\\Sub"), c / "Mail Store" / "New Folder" / "Sub");
    // "." and ".." are applied to the written path, never above the drive root.
    EXPECT_EQ(hostPath("C:\\x\\..\\mail store\\.\\inbox\\msg.dbx"), dbx);
    EXPECT_EQ(hostPath("C:\\..\\..\\Mail Store"), c / "Mail Store");
    // Trailing dots and spaces of the last component are dropped, as Windows does.
    EXPECT_EQ(hostPath("C:\\mail store\\inbox\\msg.dbx. "), dbx);
    // Drive roots.
    EXPECT_EQ(hostPath("C:\\"), c);
    EXPECT_EQ(hostPath("c:"), c);
    EXPECT_EQ(hostPath("Z:\\"), fs::path("/"));
    EXPECT_EQ(hostPath("z:\\etc"), fs::path("/etc"));
}

TEST_F(Files, HostPathRefusesWhatHasNoHostPath) {
    EXPECT_FALSE(hostPath("Q:\\x"));                 // unmapped drive
    EXPECT_FALSE(hostPath("\\\\server\\share\\x"));  // UNC
    EXPECT_FALSE(hostPath("relative\\x"));
    EXPECT_FALSE(hostPath("C:relative"));  // relative to the drive's current folder
    EXPECT_FALSE(hostPath(""));
    EXPECT_FALSE(hostPath("C:\\a*b"));  // characters Windows refuses in names
    EXPECT_FALSE(hostPath("C:\\a.txt:stream"));
}

TEST_F(Files, HostPathPrefersTheExactSpellingAndFollowsDriveLinks) {
    // Linux allows names that differ only in case; the exact one wins, else the
    // byte-wise first.
    fs::create_directories(c / "mail");
    fs::create_directories(c / "Mail");
    EXPECT_EQ(hostPath("C:\\mail"), c / "mail");
    EXPECT_EQ(hostPath("C:\\Mail"), c / "Mail");
    EXPECT_EQ(hostPath("C:\\MAIL"), c / "Mail");
    // A drive added to dosdevices is used at once (nothing is cached).
    const qb::test::TempDir other;
    fs::create_directory_symlink(other.path(), m.prefix() / "dosdevices" / "d:");
    fs::create_directories(other.path() / "Data");
    EXPECT_EQ(hostPath("D:\\data\\new"), other.path() / "Data" / "new");
    fs::remove(m.prefix() / "dosdevices" / "d:");
    EXPECT_FALSE(hostPath("D:\\data"));
}

TEST_F(Files, WindowsPathMapsBackThroughTheLongestDrive) {
    fs::create_directories(c / "users" / "tester" / "Mail");
    EXPECT_EQ(windowsPath(c / "users" / "tester" / "Mail"), "C:\\users\\tester\\Mail");
    EXPECT_EQ(windowsPath(c), "C:\\");
    EXPECT_EQ(windowsPath("/etc/hosts"), "Z:\\etc\\hosts");
    EXPECT_EQ(windowsPath("/"), "Z:\\");
    // A host path reached through "..", or through a symbolic link into drive_c.
    EXPECT_EQ(windowsPath(c / "users" / ".." / "users" / "tester"), "C:\\users\\tester");
    const qb::test::TempDir t;
    fs::create_directory_symlink(c / "users", t.path() / "link");
    EXPECT_EQ(windowsPath(t.path() / "link" / "tester"), "C:\\users\\tester");
    // A drive mapped to a folder inside C: is the longer, better match.
    fs::create_directory_symlink("../drive_c/users", m.prefix() / "dosdevices" / "u:");
    EXPECT_EQ(windowsPath(c / "users" / "tester"), "U:\\tester");
    EXPECT_EQ(windowsPath(c / "windows"), "C:\\windows");
}

TEST_F(Files, FindFilesListsDotsFirstThenNamesInWindowsOrder) {
    const fs::path dir = c / "Mail";
    for (const char* n : {"b.txt", "A.txt", "c.TXT", "_x.txt", "B1.txt"})
        touch(dir / n);
    fs::create_directories(dir / "Sub");

    // NTFS orders by upper case, so "_" (0x5F) comes after letters.
    EXPECT_EQ(names(findFiles("C:\\mail\\*", faAnyFile)),
              (Names{".", "..", "A.txt", "b.txt", "B1.txt", "c.TXT", "Sub", "_x.txt"}));
    EXPECT_EQ(names(findFiles("C:\\MAIL\\*.*", 0)),
              (Names{"A.txt", "b.txt", "B1.txt", "c.TXT", "_x.txt"}));
    const auto dots = findFiles("C:\\mail\\*", faDirectory);
    ASSERT_GE(dots.size(), 3u);
    EXPECT_EQ(dots[0].attr & faDirectory, uint32_t{faDirectory});
    EXPECT_EQ(dots[1].attr & faDirectory, uint32_t{faDirectory});
    // A drive root has no "." and "..", as on Windows.
    const auto root = names(findFiles("C:\\*", faAnyFile));
    EXPECT_EQ(std::count(root.begin(), root.end(), "."), 0);
    EXPECT_EQ(std::count(root.begin(), root.end(), ".."), 0);
    EXPECT_EQ(std::count(root.begin(), root.end(), "Mail"), 1);
    // A missing folder, a folder path without mask, a relative or unmapped pattern.
    EXPECT_TRUE(findFiles("C:\\nowhere\\*.*", faAnyFile).empty());
    EXPECT_TRUE(findFiles("C:\\mail\\", faAnyFile).empty());
    EXPECT_TRUE(findFiles("mail\\*.*", faAnyFile).empty());
    EXPECT_TRUE(findFiles("Q:\\*.*", faAnyFile).empty());
}

TEST_F(Files, FindFilesWithAPlainNameGivesThatEntryAsSpeltOnDisk) {
    touch(c / "Mail" / "Inbox.MBX", "hello");
    fs::create_directories(c / "Mail" / "Folders");
    auto one = findFiles("C:\\MAIL\\inbox.mbx", 0);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].name, "Inbox.MBX");
    EXPECT_EQ(one[0].size, 5u);
    EXPECT_TRUE(findFiles("C:\\mail\\folders", 0).empty());  // folders need faDirectory
    EXPECT_EQ(names(findFiles("C:\\mail\\folders", faDirectory)), Names{"Folders"});
    EXPECT_TRUE(findFiles("C:\\mail\\missing.mbx", faAnyFile).empty());
}

TEST(Masks, FollowWindowsWildcardRules) {
    struct Case {
        const char* mask;
        const char* name;
        bool match;
    };
    const Case cases[] = {
        {"*", "anything.at.all", true},
        {"*.*", "README", true},  // also names without a dot
        {"*.", "README", true},   // names without an extension
        {"*.", "a.txt", false},
        {"*.DBX", "x.dbx", true},
        {"*.dbx", "a.dbx2", false},  // 8.3 aliases play no part
        {"*.dbx", "a.dbx.bak", false},
        {"*.dbx", "a.b.dbx", true},
        {"*.dbx", ".dbx", true},
        {"?", "a", true},
        {"??", "a", true},          // "?" also matches nothing at the end
        {"a?.txt", "a.txt", true},  // ... and before a dot
        {"a?.txt", "abc.txt", false},
        {"a.*", "a", true},
        {"a.*", "ab", false},
        {"*.?", "x.cc", false},
        {"m*x*.mbx", "mail.mbx", false},
        {"Inbox", "INBOX", true},
        {"My Mail *.pst", "my mail 2024.PST", true},
        {"Входящие.*", "вхОДящие.dbx", true},  // Cyrillic letters fold too
        {"*.ÄÖÜ", "straße.äöü", true},
        {"?.txt", "ä.txt", true},  // "?" is one character, not one byte
        {"straße", "STRASSE", false},
    };
    for (const Case& k : cases)
        EXPECT_EQ(matchesMask(k.name, k.mask), k.match) << k.mask << " vs " << k.name;
}

TEST_F(Files, FindFilesAppliesMasksToTheFolder) {
    const fs::path dir = c / "Store";
    for (const char* n : {"Inbox.dbx", "Sent.DBX", "a.dbx2", "Folders.dbx.bak", "README",
                          "Entwürfe.dbx", "My Mail.dbx"})
        touch(dir / n);
    EXPECT_EQ(names(findFiles("C:\\store\\*.dbx", faAnyFile)),
              (Names{"Entwürfe.dbx", "Inbox.dbx", "My Mail.dbx", "Sent.DBX"}));
    EXPECT_EQ(names(findFiles("C:\\store\\*.", 0)), (Names{"README"}));
    // "?" matches nothing before the dot, so five of them take shorter names too.
    EXPECT_EQ(names(findFiles("C:\\store\\?????.dbx", 0)), (Names{"Inbox.dbx", "Sent.DBX"}));
    EXPECT_EQ(names(findFiles("C:\\store\\ENTW*", 0)), (Names{"Entwürfe.dbx"}));
}

TEST_F(Files, FindFilesFiltersByAttributesAsWindowsDoes) {
    const fs::path dir = c / "Attr";
    touch(dir / "plain.txt");
    touch(dir / ".hidden.txt");
    touch(dir / "locked.txt");
    fs::create_directories(dir / "Folder");
    fs::create_directories(dir / ".hiddendir");
    fs::permissions(dir / "locked.txt", fs::perms::owner_read | fs::perms::group_read);
    fs::create_symlink("plain.txt", dir / "link.txt");
    fs::create_symlink("Folder", dir / "linkdir");
    fs::create_symlink("gone.txt", dir / "dangling.txt");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);

    EXPECT_EQ(names(findFiles("C:\\attr\\*", 0)), (Names{"link.txt", "locked.txt", "plain.txt"}));
    EXPECT_EQ(names(findFiles("C:\\attr\\*", faHidden)),
              (Names{".hidden.txt", "link.txt", "locked.txt", "plain.txt"}));
    EXPECT_EQ(names(findFiles("C:\\attr\\*", faDirectory)),
              (Names{".", "..", "Folder", "link.txt", "linkdir", "locked.txt", "plain.txt"}));
    EXPECT_EQ(names(findFiles("C:\\attr\\*", faDirectory | faHidden)),
              (Names{".", "..", ".hidden.txt", ".hiddendir", "Folder", "link.txt", "linkdir",
                     "locked.txt", "plain.txt"}));
    // Asking for read-only or archive files filters nothing: plain files always match.
    EXPECT_EQ(findFiles("C:\\attr\\*", faReadOnly).size(), 3u);

    const auto all = findFiles("C:\\attr\\*", faAnyFile);
    EXPECT_EQ(entry(all, "plain.txt")->attr, uint32_t{faArchive});
    EXPECT_EQ(entry(all, "locked.txt")->attr, uint32_t{faArchive | faReadOnly});
    EXPECT_EQ(entry(all, ".hidden.txt")->attr, uint32_t{faArchive | faHidden});
    EXPECT_EQ(entry(all, ".hiddendir")->attr, uint32_t{faDirectory | faHidden});
    EXPECT_EQ(entry(all, "Folder")->attr, uint32_t{faDirectory});
    EXPECT_EQ(entry(all, "Folder")->size, 0u);
    EXPECT_EQ(entry(all, "linkdir")->attr, uint32_t{faDirectory});
    EXPECT_EQ(entry(all, "link.txt")->size, 1u);
    EXPECT_EQ(entry(all, "dangling.txt"), nullptr);
    EXPECT_EQ(entry(all, "pipe"), nullptr);
}

TEST_F(Files, SizesAndTimesBeyondThirtyTwoBits) {
    const fs::path big = c / "Big" / "huge.pst";
    touch(big, "");
    const uint64_t size = (uint64_t{5} << 30) + 123;  // sparse: no disk space needed
    ASSERT_EQ(::truncate(big.c_str(), static_cast<off_t>(size)), 0);
    const int64_t when = int64_t{4102444800};  // 2100-01-01, past 2038
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, big.c_str(), times, 0), 0);

    const auto recs = findFiles("C:\\big\\*.pst", 0);
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].size, size);
    EXPECT_EQ(recs[0].lastWrite, when);
    EXPECT_EQ(fileSize("C:\\BIG\\HUGE.PST"), size);
    EXPECT_FALSE(fileSize("C:\\big"));
    EXPECT_FALSE(fileSize("C:\\big\\none.pst"));
}

TEST_F(Files, ExistenceTellsFilesFromFolders) {
    touch(c / "Dir" / "File.txt");
    EXPECT_TRUE(fileExists("c:\\dir\\file.TXT"));
    EXPECT_FALSE(fileExists("c:\\dir"));
    EXPECT_TRUE(directoryExists("C:\\DIR"));
    EXPECT_TRUE(directoryExists("C:\\"));
    EXPECT_FALSE(directoryExists("C:\\dir\\file.txt"));
    EXPECT_FALSE(fileExists("C:\\dir\\*.txt"));
    EXPECT_FALSE(directoryExists("C:\\nowhere\\dir"));
    EXPECT_FALSE(fileExists("Q:\\x"));
}

TEST_F(Files, CreateAndRemoveFolders) {
    EXPECT_TRUE(createDir("C:\\Backup"));
    EXPECT_TRUE(fs::is_directory(c / "Backup"));
    EXPECT_FALSE(createDir("C:\\BACKUP"));          // exists already
    EXPECT_FALSE(createDir("C:\\Missing\\Child"));  // one level only
    EXPECT_NE(lastFileError().find("C:\\Missing\\Child"), std::string::npos);

    // forceDirectories reuses existing folders whatever their case and creates
    // the rest as written.
    fs::create_directories(c / "Profiles" / "Tester");
    EXPECT_TRUE(forceDirectories("C:\\PROFILES\\tester\\Mail Data\\Local Folders"));
    EXPECT_TRUE(fs::is_directory(c / "Profiles" / "Tester" / "Mail Data" / "Local Folders"));
    EXPECT_EQ(names(findFiles("C:\\profiles", faDirectory)), Names{"Profiles"});
    EXPECT_FALSE(fs::exists(c / "PROFILES"));
    EXPECT_TRUE(forceDirectories("C:\\profiles\\TESTER\\mail data"));  // nothing to do
    EXPECT_TRUE(forceDirectories("C:\\"));
    touch(c / "afile");
    EXPECT_FALSE(forceDirectories("C:\\afile\\sub"));

    EXPECT_FALSE(removeDir("C:\\profiles\\tester"));  // not empty
    EXPECT_TRUE(removeDir("C:\\profiles\\tester\\mail data\\local folders"));
    EXPECT_FALSE(fs::exists(c / "Profiles" / "Tester" / "Mail Data" / "Local Folders"));
    EXPECT_FALSE(removeDir("C:\\"));
}

TEST_F(Files, DeleteFileRemovesFilesOnly) {
    touch(c / "d" / "a.txt");
    touch(c / "d" / "ro.txt");
    fs::permissions(c / "d" / "ro.txt", fs::perms::owner_read);
    EXPECT_TRUE(deleteFile("C:\\D\\A.TXT"));
    EXPECT_FALSE(fs::exists(c / "d" / "a.txt"));
    EXPECT_FALSE(deleteFile("C:\\d\\a.txt"));
    EXPECT_FALSE(deleteFile("C:\\d"));
    // Windows refuses to delete a read-only file.
    EXPECT_FALSE(deleteFile("C:\\d\\ro.txt"));
    EXPECT_TRUE(fs::exists(c / "d" / "ro.txt"));
    EXPECT_NE(lastFileError().find("read-only"), std::string::npos);
}

TEST_F(Files, CopyFileStreamsAndKeepsTheModificationTime) {
    std::string content(3 << 20, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    touch(c / "src" / "Data.bin", content);
    const struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (c / "src" / "Data.bin").c_str(), times, 0), 0);
    fs::create_directories(c / "dst");

    EXPECT_TRUE(copyFile("C:\\SRC\\data.bin", "C:\\dst\\Copy.bin", true));
    EXPECT_EQ(qb::test::readHostFile(c / "dst" / "Copy.bin"), content);
    EXPECT_EQ(findFiles("C:\\dst\\copy.bin", 0).at(0).lastWrite, 1234567890);

    // failIfExists refuses an existing target and leaves it as it was.
    touch(c / "dst" / "Other.bin", "other");
    EXPECT_FALSE(copyFile("C:\\src\\data.bin", "C:\\dst\\other.bin", true));
    EXPECT_EQ(qb::test::readHostFile(c / "dst" / "Other.bin"), "other");
    EXPECT_TRUE(copyFile("C:\\src\\data.bin", "C:\\dst\\OTHER.BIN", false));
    EXPECT_EQ(qb::test::readHostFile(c / "dst" / "Other.bin"), content);

    EXPECT_FALSE(copyFile("C:\\src\\none.bin", "C:\\dst\\x.bin", false));
    EXPECT_FALSE(copyFile("C:\\src\\data.bin", "C:\\nowhere\\x.bin", false));
    EXPECT_FALSE(copyFile("C:\\src\\data.bin", "C:\\src\\DATA.BIN", false));  // onto itself
    EXPECT_FALSE(copyFile("C:\\src", "C:\\dst\\folder", false));
    fs::permissions(c / "dst" / "Other.bin", fs::perms::owner_read);
    EXPECT_FALSE(copyFile("C:\\src\\data.bin", "C:\\dst\\other.bin", false));

    // No temporary files are left behind, whatever happened.
    EXPECT_EQ(names(findFiles("C:\\dst\\*", faAnyFile)),
              (Names{".", "..", "Copy.bin", "Other.bin"}));
}

TEST_F(Files, DrivesAndWellKnownFolders) {
    const auto free = diskFree('C');
    ASSERT_TRUE(free);
    EXPECT_GT(*free, 0u);
    EXPECT_TRUE(diskFree('z'));
    EXPECT_FALSE(diskFree('Q'));
    EXPECT_FALSE(diskFree('1'));

    EXPECT_EQ(windowsFolder(), "C:\\windows");
    EXPECT_TRUE(directoryExists(windowsFolder()));
    const std::string program = programFolder();
    ASSERT_FALSE(program.empty());
    EXPECT_EQ(program.back(), '\\');
    EXPECT_EQ(hostPath(program), fs::read_symlink("/proc/self/exe").parent_path());
}

TEST(Names, CompareAsWindowsOrdersThem) {
    EXPECT_TRUE(sameName("ŁÓDŹ été", "łódź ÉTÉ"));
    EXPECT_TRUE(sameName("ΣΟΦΙΑ", "σοφια"));
    EXPECT_LT(compareNames("Z", "_"), 0);  // by upper case, as NTFS
    EXPECT_LT(compareNames("abc", "ABCD"), 0);
    // Invalid UTF-8 compares byte for byte and never equals valid text.
    EXPECT_FALSE(sameName("\xC3", "\xC3\xA4"));
    EXPECT_TRUE(sameName("a\xFF", "A\xFF"));
    // An overlong spelling of a letter is not that letter: a hostile name must not
    // match the file it imitates.
    EXPECT_FALSE(sameName("\xC1\x81.ini", "a.ini"));
    EXPECT_FALSE(sameName("\xE0\x81\x81", "A"));
    EXPECT_FALSE(matchesMask("\xC1\x81.ini", "a*"));
}

// A job's kept listings: paths still resolve without regard to case, entries the
// job creates (through this layer or announced by another writer) are found under
// any spelling, and entries removed meanwhile are not taken for present.
TEST_F(Files, KeptListingsFollowWhatTheJobCreatesAndRemoves) {
    fs::create_directories(c / "Store");
    touch(c / "Store" / "Old.dbx");
    FolderListingCache listings;
    EXPECT_EQ(hostPath("C:\\store\\OLD.DBX"), c / "Store" / "Old.dbx");

    // Created through this layer after the listing was kept.
    ASSERT_TRUE(createDir("C:\\STORE\\Sub"));
    EXPECT_EQ(hostPath("c:\\store\\SUB\\x"), c / "Store" / "Sub" / "x");
    ASSERT_TRUE(copyFile("C:\\Store\\Old.dbx", "C:\\store\\sub\\Copy.dbx", false));
    EXPECT_TRUE(fileExists("C:\\STORE\\SUB\\COPY.DBX"));
    ASSERT_TRUE(forceDirectories("C:\\Store\\Deep\\Er"));
    EXPECT_TRUE(directoryExists("c:\\store\\deep\\ER"));

    // Written by someone else in the job's name.
    touch(c / "Store" / "New.dbx");
    noteNewEntry(c / "Store" / "New.dbx");
    EXPECT_EQ(hostPath("C:\\STORE\\new.DBX"), c / "Store" / "New.dbx");

    // Removed, through this layer or behind its back.
    ASSERT_TRUE(deleteFile("c:\\store\\new.dbx"));
    EXPECT_FALSE(fileExists("C:\\Store\\NEW.DBX"));
    EXPECT_EQ(hostPath("C:\\Store\\NEW.DBX"), c / "Store" / "NEW.DBX");
    fs::remove(c / "Store" / "Old.dbx");
    touch(c / "Store" / "old.DBX");
    EXPECT_EQ(hostPath("C:\\Store\\OLD.dbx"), c / "Store" / "old.DBX");
}
