#include "platform/paths.h"

#include <gtest/gtest.h>

using namespace qb::platform;

TEST(Paths, SplitsWindowsPaths) {
    EXPECT_EQ(extractFilePath("C:\\Mail\\Inbox.mbx"), "C:\\Mail\\");
    EXPECT_EQ(extractFilePath("C:Inbox"), "C:");
    EXPECT_EQ(extractFilePath("Inbox"), "");
    EXPECT_EQ(extractFileName("C:\\Mail\\Inbox.mbx"), "Inbox.mbx");
    EXPECT_EQ(extractFileName("C:\\Mail\\"), "");
    EXPECT_EQ(extractFileExt("C:\\a.b\\file"), "");
    EXPECT_EQ(extractFileExt("C:\\a\\file.tar.gz"), ".gz");
    EXPECT_EQ(extractFileDrive("d:\\x"), "d:");
    EXPECT_EQ(extractFileDrive("\\x"), "");
}

TEST(Paths, ChangesExtensionsAndBackslashes) {
    EXPECT_EQ(changeFileExt("C:\\a.b\\file", ".ebk"), "C:\\a.b\\file.ebk");
    EXPECT_EQ(changeFileExt("C:\\a\\file.txt", ""), "C:\\a\\file");
    EXPECT_EQ(includeTrailingBackslash("C:\\a"), "C:\\a\\");
    EXPECT_EQ(includeTrailingBackslash("C:\\a\\"), "C:\\a\\");
    EXPECT_EQ(excludeTrailingBackslash("C:\\a\\"), "C:\\a");
    EXPECT_EQ(joinPath("C:\\a\\", "\\b"), "C:\\a\\b");
    EXPECT_EQ(joinPath("", "b"), "b");
}

TEST(Paths, ComparesWithoutCase) {
    EXPECT_TRUE(equalsNoCase("Inbox.DBX", "inbox.dbx"));
    EXPECT_FALSE(equalsNoCase("Inbox", "Inbox2"));
    EXPECT_LT(compareNoCase("abc", "ABD"), 0);
    EXPECT_LT(compareNoCase("ab", "ABC"), 0);
    EXPECT_TRUE(startsWithNoCase("HKEY_Current_User\\x", "hkey_current_user"));
    EXPECT_TRUE(containsNoCase("C:\\Program Files\\MSIMN.EXE", "msimn"));
}
