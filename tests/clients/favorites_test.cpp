// Favorites: a backup through the quillbox program checked against the stored
// layout, restores into another user's Favorites and into a folder, a missing
// Favorites folder, many folders and hostile backup files.
#include "clients/favorites.h"

#include "adapter_test_support.h"

namespace qb::test {
namespace {

using Strings = std::vector<std::string>;

const char* kBackup = "C:\\Backups\\FavoritesBackup.ebk";
constexpr const char* kShellFolders =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

class FavoritesTest : public AdapterTest {
  protected:
    bool backup() {
        return jobs::RunBackup(kBackup, kind::Favorites, selection({{"Default", true}}),
                               selection({{"Favorites", true}}));
    }
    static Selection ids() { return selection({{"Default", true}}); }
    static Selection items() { return selection({{"Favorites", true}}); }
};

// The folders in search order: the Favorites folder's own shortcuts first, then
// its sub-folders depth first in name order; folders without shortcuts get no number.
const Names kStored = {"Dir1/.Private Bank.url", "Dir1/Example.url", "Dir2/Old Site.url",
                       "Dir3/News.url",          "Dir3/Weather.url", "Dir4/Tracker.url",
                       "Dir5/Budget Sheet.url",  "directory.ini",    "infobak.ini"};
const Strings kFolders = {"Dir1=", "Dir2=Archive\\2003", "Dir3=Links", "Dir4=Work\\Projects",
                          "Dir5=Work\\Projects\\Q1 Reports"};
// Only the shortcuts come back, each into its folder; the other files beside them
// (desktop.ini, notes, documents) are not saved.
const Names kRestored = {".Private Bank.url",
                         "Archive/2003/Old Site.url",
                         "Example.url",
                         "Links/News.url",
                         "Links/Weather.url",
                         "Work/Projects/Q1 Reports/Budget Sheet.url",
                         "Work/Projects/Tracker.url"};

TEST_F(FavoritesTest, ThroughTheProgramIntoAnotherUsersFavoritesAndIntoAFolder) {
    installFavorites(machine);
    const auto files = backupThroughProgram("favorites", "C:\\Backups\\cli");
    ASSERT_EQ(files.size(), 1u);
    const std::string file = files.at("Favorites");

    const StoredFiles s = stored(file);
    EXPECT_EQ(s.names(), kStored);
    EXPECT_EQ(iniLines(s.at("directory.ini"), "Directory"), kFolders);
    const std::string& manifest = s.at("infobak.ini");
    EXPECT_EQ(iniValue(manifest, "Identities", "Item1"), "Default");
    EXPECT_EQ(iniValue(manifest, "Items", "Item1"), "Favorites");
    EXPECT_EQ(s.at("Dir5/Budget Sheet.url"),
              machine.readFile(favoritesFolder(machine) +
                               "\\Work\\Projects\\Q1 Reports\\Budget Sheet.url"));

    // Into another user's Favorites folder, on another machine.
    const std::string news = machine.readFile(favoritesFolder(machine) + "\\Links\\News.url");
    FakeMachine other{"bob"};
    moveBackup(file, other);
    const Choice c = contents(file, kind::Favorites);
    ASSERT_FALSE(jobs::RunRestore(file, kind::Favorites, c.identities, c.items)) << errorText();
    EXPECT_EQ(filesBelow(favoritesFolder(other)), kRestored);
    EXPECT_EQ(other.readFile(favoritesFolder(other) + "\\Links\\News.url"), news);

    // Into a folder: the same tree below it.
    ASSERT_FALSE(jobs::RunRestoreToFolder(file, "C:\\Saved Favorites\\", kind::Favorites,
                                          c.identities, c.items))
        << errorText();
    EXPECT_EQ(filesBelow("C:\\Saved Favorites"), kRestored);
}

TEST_F(FavoritesTest, NoFavoritesFolderFailsInsteadOfSearchingTheDrive) {
    installFavorites(machine);
    machine.writeFile("C:\\stray.url", "[InternetShortcut]\r\n");
    machine.writeFile(kBackup, "an older backup");

    setString(RootKey::CurrentUser, kShellFolders, "Favorites", "");
    EXPECT_TRUE(backup());
    EXPECT_NE(errorText().find("\"Favorites\""), std::string::npos) << errorText();
    EXPECT_EQ(machine.readFile(kBackup), "an older backup");

    for (const char* bad : {"C:\\", "Favorites", "C:\\users\\ann\\..\\..", "\\\\server\\fav"}) {
        setString(RootKey::CurrentUser, kShellFolders, "Favorites", bad);
        EXPECT_TRUE(backup()) << bad;
        EXPECT_NE(errorText().find(bad), std::string::npos) << errorText();
        EXPECT_EQ(machine.readFile(kBackup), "an older backup");
    }

    setString(RootKey::CurrentUser, kShellFolders, "Favorites", "C:\\Gone");
    EXPECT_TRUE(backup());
    EXPECT_NE(errorText().find("C:\\Gone"), std::string::npos) << errorText();

    // A restore into the client has nowhere to go either.
    setString(RootKey::CurrentUser, kShellFolders, "Favorites", "");
    writeBackup(machine.host(kBackup),
                {{"directory.ini", "[Directory]\r\nDir1=\r\n"}, {"Dir1/a.url", "x"}});
    EXPECT_TRUE(jobs::RunRestore(kBackup, kind::Favorites, ids(), items()));
    EXPECT_FALSE(exists("C:\\a.url"));
}

TEST_F(FavoritesTest, MoreThanAThousandShortcutFoldersAreAllKept) {
    const std::string fav = favoritesFolder(machine);
    for (int i = 1; i <= 1001; ++i)
        machine.writeFile(fav + "\\F" + std::to_string(i) + "\\site.url", "[InternetShortcut]\r\n");
    ASSERT_FALSE(backup()) << errorText();
    const StoredFiles s = stored(kBackup);
    EXPECT_TRUE(s.has("Dir1001/site.url"));
    EXPECT_EQ(iniLines(s.at("directory.ini"), "Directory").size(), 1001u);
}

TEST_F(FavoritesTest, HostileFolderNamesInABackupStayInsideTheTarget) {
    writeBackup(machine.host(kBackup),
                {{"infobak.ini", "[Backup]\r\nEmailClient=Favorites\r\n"},
                 {"directory.ini",
                  "[Directory]\r\nDir1=..\\..\\Windows\r\nDir2=C:\\Windows\r\nDir3=\\Windows\r\n"
                  "Dir4=Links\r\nDir5=Links\\. .\\..\r\n"},
                 {"Dir1/evil1.url", "x"},
                 {"Dir2/evil2.url", "x"},
                 {"Dir3/evil3.url", "x"},
                 {"Dir4/good.url", "good"},
                 {"Dir4/../../escape.url", "x"},
                 {"Dir5/evil5.url", "x"}});
    EXPECT_TRUE(jobs::RunRestoreToFolder(kBackup, "C:\\Target\\", kind::Favorites, ids(), items()));
    EXPECT_EQ(filesBelow("C:\\Target"), Names{"Links/good.url"});
    for (const char* name : {"..\\..\\Windows", "C:\\Windows", "\\Windows", "Links\\. .\\.."})
        EXPECT_NE(errorText().find(name), std::string::npos) << name << "\n" << errorText();
    for (const char* path : {"C:\\Windows\\evil1.url", "C:\\Windows\\evil2.url",
                             "C:\\Windows\\evil3.url", "C:\\escape.url", "C:\\Target\\escape.url"})
        EXPECT_FALSE(exists(path)) << path;
}

}  // namespace
}  // namespace qb::test
