#include "clients/adapter_support.h"

#include <gtest/gtest.h>

#include "adapter_test_support.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"

using namespace qb;
using namespace qb::clients;
using namespace qb::test;
using platform::RootKey;

// Names from a client's registry or from a backup file become folder names below
// folders the adapter chose; none of these may lead anywhere else.
TEST(AdapterNames, FolderNamesThatWouldLeaveTheirFolderAreRefused) {
    for (const char* bad : {"", ".", "..", ".. ", " . ", "...", "C:", "c:x", "a\\b", "\\a", "a/b",
                            "a:b", "a*", "a?", "a|b", "a\"b", "<a>", "a\x01"})
        EXPECT_FALSE(IsSafeFolderName(bad)) << bad;
    for (const char* good : {"Ann Smith", "[Identity1]", "{1A2B3C4D-0000-4000-8000-000000000001}",
                             "Ann.", ".lock", "Default User", "\xC3\x9Cn\xC3\xAF Ordner"})
        EXPECT_EQ(FolderNameProblem(good), "") << good;

    for (const char* bad :
         {"", "\\a", "a\\..\\b", "a\\\\b", "C:\\x", "a\\. .\\b", "..\\x", "a\\b:c", "a/../b"})
        EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
    for (const char* good : {"a", "a\\b\\c.txt", "Sub Folder\\", "Sunny Day\\letter.htm"})
        EXPECT_EQ(RelativePathProblem(good), "") << good;
}

// A folder value of the registry or of a backup is only taken when it names a
// place below a drive's root; an unset or damaged value must not reach a whole
// drive or leave through "..".
TEST(AdapterNames, FullPaths) {
    for (const char* yes : {"C:\\PMAIL", "c:\\Mail\\", "Z:\\a b\\c.txt"})
        EXPECT_TRUE(IsFullPath(yes)) << yes;
    for (const char* no :
         {"", "C:", "C:\\", "C:x", "\\PMAIL", "PMAIL", "1:\\x", "\\\\server\\share",
          "C:\\a\\..\\..\\Windows", "C:\\a\\\\b", "C:\\a?", "C:\\a/b"})
        EXPECT_FALSE(IsFullPath(no)) << no;
}

namespace {

constexpr const char* kBackup = "C:\\Backups\\test.ebk";

class AdapterSupport : public AdapterTest {
  protected:
    void SetUp() override {
        AdapterTest::SetUp();
        use(machine);
        jobs::archiveJob().errorFlag = false;
        jobs::archiveJob().errorText.clear();
    }
    void backup(std::vector<std::pair<std::string, std::string>> entries) {
        for (auto& [name, data] : entries)
            name = slashes(name);
        writeBackup(machine.host(kBackup), entries);
    }
    bool exists(const std::string& winPath) const {
        return std::filesystem::exists(machine.host(winPath));
    }

    FakeMachine machine;
};

}  // namespace

// A failed archive operation replaces the job's error text with its own; what
// the adapter recorded before must still be reported, and only for its own run.
TEST_F(AdapterSupport, RecordedErrorsOutliveALaterArchiveFailure) {
    jobs::ArchiveJob& job = jobs::archiveJob();
    {
        AdapterRun run;
        RecordError("user \"x\" was skipped");
        job.errorText = "The archive is damaged.";
    }
    EXPECT_TRUE(job.errorFlag);
    EXPECT_NE(job.errorText.find("The archive is damaged."), std::string::npos);
    EXPECT_NE(job.errorText.find("user \"x\" was skipped"), std::string::npos);

    job.errorFlag = false;
    job.errorText.clear();
    { AdapterRun next; }
    EXPECT_FALSE(job.errorFlag);
    EXPECT_EQ(job.errorText, "");
}

// Files an earlier job left in the staging folder must never be read as this
// backup's: a backup without a manifest is refused, and a stored file it lacks
// leaves no older copy behind.
TEST_F(AdapterSupport, StaleStagingCopiesAreNeverTakenForTheBackups) {
    machine.writeFile(jobs::StagingPath(jobs::kManifestName), "[Backup]\r\nEmailClient=Eudora\r\n");
    machine.writeFile(jobs::StagingPath("Ann\\directory.ini"), "[Directory]\r\nDir1=old\r\n");
    backup({{"Ann\\prefs.js", "prefs"}});

    EXPECT_FALSE(BeginRestore(kBackup));
    EXPECT_NE(errorText().find(kBackup), std::string::npos) << errorText();
    EXPECT_FALSE(exists(jobs::StagingPath(jobs::kManifestName)));
    EXPECT_EQ(ExtractToStaging(kBackup, "Ann\\directory.ini", "Ann"), "");
    EXPECT_FALSE(exists(jobs::StagingPath("Ann\\directory.ini")));
    // Names are found in any letter case, under their stored spelling.
    EXPECT_EQ(ListedName("ann\\PREFS.JS"), "Ann\\prefs.js");
    EXPECT_EQ(machine.readFile(ExtractToStaging(kBackup, "ANN\\prefs.js")), "prefs");
}

// A stored tree comes back below any folder, empty folders included; names that
// would leave it are named and left out, the rest still comes back.
TEST_F(AdapterSupport, TreesKeepTheirShapeAndHostileNamesStayOut) {
    backup({{"infobak.ini", "[Backup]\r\n"},
            {"Mail\\a.txt", "a"},
            {"Mail\\Sub\\b.txt", "b"},
            {"Mail\\Empty\\", ""},
            {"Mail\\..\\..\\evil.txt", "evil"},
            {"Mail\\bad?.txt", "bad"},
            {"Mailbox\\a.txt", "not below Mail"}});
    ASSERT_TRUE(BeginRestore(kBackup)) << errorText();

    RestoreTree(kBackup, "Mail", "C:\\Out");
    EXPECT_EQ(machine.readFile("C:\\Out\\a.txt"), "a");
    EXPECT_EQ(machine.readFile("C:\\Out\\Sub\\b.txt"), "b");
    EXPECT_TRUE(std::filesystem::is_directory(machine.host("C:\\Out\\Empty")));
    EXPECT_FALSE(exists("C:\\evil.txt"));
    EXPECT_FALSE(exists("C:\\Out\\ox"));
    for (const char* named : {"Mail\\..\\..\\evil.txt", "Mail\\bad?.txt"})
        EXPECT_NE(errorText().find(named), std::string::npos) << named << "\n" << errorText();

    // Only the files directly below the prefix; the first plan for a destination wins.
    Extraction plan;
    plan.addTree("Mail", "C:\\Flat", true);
    EXPECT_TRUE(plan.addFile("Mailbox\\a.txt", "C:\\Flat"));
    EXPECT_FALSE(plan.addFile("Mail\\missing.txt", "C:\\Flat"));
    plan.run(kBackup);
    EXPECT_EQ(machine.readFile("C:\\Flat\\a.txt"), "a");
    EXPECT_FALSE(exists("C:\\Flat\\Sub"));
    EXPECT_FALSE(exists("C:\\Flat\\Empty"));
}

// A registry file of a backup writes only below the keys the client owns: keys
// outside are left out (or refuse the whole file) and named; a value whose text
// looks like a key line stays a value.
TEST_F(AdapterSupport, RegistryFilesStayInsideTheirFence) {
    const std::string file = "C:\\Temp\\import.reg";
    const std::string text =
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Client\\Ann]\r\n"
        "\"Signature\"=\"Regards,\r\n[HKEY_CURRENT_USER\\Software\\Evil]\r\nAnn\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
        "\"evil\"=\"C:\\\\evil.exe\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Client\\Ann\\..\\..\\Other]\r\n\"x\"=\"y\"\r\n";
    const std::vector<AllowedKey> fence = {{RootKey::CurrentUser, "Software\\Client\\Ann"}};

    machine.writeFile(file, text);
    EXPECT_FALSE(
        ImportBackupRegistryFile(file, "Ann\\identity.reg", fence, true, OutsideKeys::RefuseFile));
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, "\\Software\\Client\\Ann"));
    EXPECT_NE(errorText().find("CurrentVersion\\Run"), std::string::npos) << errorText();

    machine.writeFile(file, text);
    EXPECT_FALSE(ImportBackupRegistryFile(file, "Ann\\identity.reg", fence, true));
    EXPECT_EQ(registryText(RootKey::CurrentUser, "\\Software\\Client\\Ann", "Signature"),
              "Regards,\r\n[HKEY_CURRENT_USER\\Software\\Evil]\r\nAnn");
    for (const char* key : {"\\Software\\Evil", "\\Software\\Other",
                            "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"}) {
        EXPECT_FALSE(keyExists(RootKey::CurrentUser, key)) << key;
        EXPECT_FALSE(keyExists(RootKey::LocalMachine, key)) << key;
    }
    EXPECT_NE(errorText().find("Ann\\..\\..\\Other"), std::string::npos) << errorText();
}
