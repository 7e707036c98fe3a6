#include "clients/adapter_support.h"

#include <gtest/gtest.h>

using namespace qb::clients;

// Names from a client's registry or from a backup file become folder names below
// folders the adapter chose; none of these may lead anywhere else.
TEST(AdapterNames, FolderNamesThatWouldLeaveTheirFolderAreRefused) {
    for (const char* bad : {"", ".", "..", ".. ", " . ", "...", "C:", "c:x", "a\\b", "\\a", "a/b",
                            "a:b", "a*", "a?", "a|b", "a\"b", "<a>", "a\x01"})
        EXPECT_NE(FolderNameProblem(bad), "") << bad;
    for (const char* good : {"Ann Smith", "[Identity1]", "{1A2B3C4D-0000-4000-8000-000000000001}",
                             "Ann.", ".lock", "Default User", "\xC3\x9Cn\xC3\xAF Ordner"})
        EXPECT_EQ(FolderNameProblem(good), "") << good;

    for (const char* bad :
         {"", "\\a", "a\\..\\b", "a\\\\b", "C:\\x", "a\\. .\\b", "..\\x", "a\\b:c"})
        EXPECT_NE(RelativePathProblem(bad), "") << bad;
    for (const char* good : {"a", "a\\b\\c.txt", "Sub Folder\\", "Sunny Day\\letter.htm"})
        EXPECT_EQ(RelativePathProblem(good), "") << good;
}

// A folder value of the registry is only taken when it names a place on a drive.
TEST(AdapterNames, DrivePaths) {
    for (const char* yes : {"C:\\PMAIL", "C:", "c:\\", "Z:\\a b\\c"})
        EXPECT_TRUE(IsDrivePath(yes)) << yes;
    for (const char* no : {"", "C", "C:x", "\\PMAIL", "PMAIL", "1:\\x", "\\\\server\\share"})
        EXPECT_FALSE(IsDrivePath(no)) << no;
}
