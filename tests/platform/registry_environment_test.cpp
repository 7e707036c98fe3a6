// What the machine derives from its registry: environment variables, the
// temporary folder, drive types.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/registry.h"
#include "registry_test_support.h"

namespace qb::platform {
namespace {

using test::FakeMachine;
namespace fs = std::filesystem;

void setUserVariable(const char* name, const char* value, bool expand) {
    Registry reg(RootKey::CurrentUser);
    ASSERT_TRUE(reg.openKey("\\Environment", true));
    if (expand) {
        reg.writeExpandString(name, value);
    } else {
        reg.writeString(name, value);
    }
}

TEST(Environment, ExpandsTheMachinesVariables) {
    FakeMachine machine("tester");
    EXPECT_EQ(expandEnvironmentStrings("%SystemRoot%\\system32"), "C:\\windows\\system32");
    EXPECT_EQ(expandEnvironmentStrings("%WINDIR%|%SystemDrive%"), "C:\\windows|C:");
    EXPECT_EQ(expandEnvironmentStrings("%userprofile%"), "C:\\users\\tester");
    EXPECT_EQ(expandEnvironmentStrings("%APPDATA%"), "C:\\users\\tester\\AppData\\Roaming");
    EXPECT_EQ(expandEnvironmentStrings("%LocalAppData%"), "C:\\users\\tester\\AppData\\Local");
    EXPECT_EQ(expandEnvironmentStrings("%ProgramFiles%"), "C:\\Program Files");
    EXPECT_EQ(expandEnvironmentStrings("%ALLUSERSPROFILE%;%ProgramData%"),
              "C:\\ProgramData;C:\\ProgramData");
    EXPECT_EQ(expandEnvironmentStrings("%PUBLIC%"), "C:\\users\\Public");
    EXPECT_EQ(expandEnvironmentStrings("%TEMP%"), "C:\\users\\tester\\Temp");  // the user's
    EXPECT_EQ(expandEnvironmentStrings("%ComSpec%"), "C:\\windows\\system32\\cmd.exe");
    // Unknown names and lone percent signs stay as written.
    EXPECT_EQ(expandEnvironmentStrings("%NoSuchVariable%\\x"), "%NoSuchVariable%\\x");
    EXPECT_EQ(expandEnvironmentStrings("100% of %%"), "100% of %%");
    EXPECT_EQ(expandEnvironmentStrings("%nope%WINDIR%"), "%nopeC:\\windows");
    EXPECT_EQ(expandEnvironmentStrings("plain"), "plain");
}

TEST(Environment, ExpandableValuesAreExpandedOnceAndPlainOnesNot) {
    FakeMachine machine("tester");
    setUserVariable("MYDIR", "%USERPROFILE%\\Mine", true);
    setUserVariable("LITERAL", "%USERPROFILE%", false);
    setUserVariable("NESTED", "%MYDIR%\\deeper", true);
    EXPECT_EQ(expandEnvironmentStrings("%mydir%"), "C:\\users\\tester\\Mine");
    EXPECT_EQ(expandEnvironmentStrings("%LITERAL%"), "%USERPROFILE%");
    EXPECT_EQ(expandEnvironmentStrings("%NESTED%"), "C:\\users\\tester\\Mine\\deeper");
    // The user's variables win over the system's, the volatile ones over both.
    setUserVariable("OS", "Mine_NT", false);
    EXPECT_EQ(expandEnvironmentStrings("%OS%"), "Mine_NT");
    Registry vol(RootKey::CurrentUser);
    ASSERT_TRUE(vol.openKey("\\Volatile Environment", true));
    vol.writeString("OS", "Volatile_NT");
    vol.closeKey();
    EXPECT_EQ(expandEnvironmentStrings("%OS%"), "Volatile_NT");
}

TEST(Environment, TempFolderComesFromTheUsersTempAndIsCreated) {
    FakeMachine machine("tester");
    const fs::path temp = machine.prefix() / "drive_c" / "users" / "tester" / "Temp";
    fs::remove_all(temp);
    EXPECT_EQ(tempFolder(), "C:\\users\\tester\\Temp\\");
    EXPECT_TRUE(fs::is_directory(temp));

    setUserVariable("TEMP", "%LOCALAPPDATA%\\Temp\\", true);
    EXPECT_EQ(tempFolder(), "C:\\users\\tester\\AppData\\Local\\Temp\\");
    EXPECT_TRUE(fs::is_directory(machine.prefix() / "drive_c/users/tester/AppData/Local/Temp"));

    // No usable TEMP: the system's temporary folder.
    const fs::path windowsTemp = machine.prefix() / "drive_c" / "windows" / "temp";
    fs::remove_all(windowsTemp);
    setUserVariable("TEMP", "Q:\\unmapped", false);
    EXPECT_EQ(tempFolder(), "C:\\windows\\temp\\");
    EXPECT_TRUE(fs::is_directory(windowsTemp));
    Registry reg(RootKey::CurrentUser);
    ASSERT_TRUE(reg.openKey("\\Environment", false));
    reg.deleteValue("TEMP");
    reg.closeKey();
    EXPECT_EQ(tempFolder(), "C:\\windows\\temp\\");
}

TEST(Environment, DriveTypesFollowWinesDrivesKeyAndTheMappings) {
    FakeMachine machine;
    const fs::path devices = machine.prefix() / "dosdevices";
    fs::create_directory_symlink(machine.prefix() / "drive_c", devices / "d:");
    fs::create_directory_symlink(machine.prefix() / "drive_c", devices / "e:");
    fs::create_directory_symlink(machine.prefix() / "drive_c", devices / "r:");
    fs::create_directory_symlink(machine.prefix() / "gone", devices / "g:");
    {
        Registry reg(RootKey::LocalMachine);
        ASSERT_TRUE(reg.openKey("\\Software\\Wine\\Drives", true));
        reg.writeString("d:", "cdrom");
        reg.writeString("E:", "network");
        reg.writeString("r:", "ramdisk");
        reg.writeString("f:", "floppy");  // no mapping
    }
    EXPECT_EQ(driveType('C'), DriveType::Fixed);
    EXPECT_EQ(driveType('c'), DriveType::Fixed);
    EXPECT_EQ(driveType('Z'), DriveType::Fixed);
    EXPECT_EQ(driveType('D'), DriveType::CdRom);
    EXPECT_EQ(driveType('e'), DriveType::Remote);
    EXPECT_EQ(driveType('R'), DriveType::RamDisk);
    EXPECT_EQ(driveType('F'), DriveType::NoRootDir);
    EXPECT_EQ(driveType('G'), DriveType::NoRootDir);  // mapped to nothing that exists
    EXPECT_EQ(driveType('Q'), DriveType::NoRootDir);
    EXPECT_EQ(driveType('1'), DriveType::NoRootDir);
}

}  // namespace
}  // namespace qb::platform
