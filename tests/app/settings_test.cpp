#include "app/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "app/date_time.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "testkit/clients_fixture.h"
#include "testkit/testkit.h"

using namespace qb;
using namespace qb::app;
using platform::Registry;
using platform::RootKey;
using platform::ValueType;
using qb::test::FakeMachine;
using qb::test::TempDir;
using qb::test::writeHostFile;
namespace fs = std::filesystem;

namespace {

std::optional<ValueType> typeOf(std::string_view key, std::string_view name) {
    Registry r(RootKey::CurrentUser);
    if (!r.openKeyReadOnly(key)) return std::nullopt;
    return r.dataType(name);
}

}  // namespace

TEST(Settings, FirstLoadWritesEveryDefaultAndTheLastClient) {
    FakeMachine m;
    Settings s;
    LoadSettings(s);
    EXPECT_TRUE(s.problems.empty());
    const std::string docs = "C:\\users\\tester\\Documents\\";
    EXPECT_EQ(s.documentsFolder, docs);
    EXPECT_EQ(s.backupFolder, docs);
    EXPECT_EQ(s.autoBackupFolder, docs + "AutoBackup\\");

    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.openKeyReadOnly(kSettingsKey));
    const std::pair<const char*, int32_t> integers[] = {{"X", 355},
                                                        {"Y", 143},
                                                        {"Volumes", 4},
                                                        {"BackupMode", 2},
                                                        {"OldBackupMode", 3},
                                                        {"BackupKeep", 3},
                                                        {"BackupPeriod", 3},
                                                        {"BackupInterval", 2},
                                                        {"MultipleVolumes", 0},
                                                        {"AutoBackup", 0}};
    for (const auto& [name, value] : integers) {
        EXPECT_EQ(r.dataType(name), ValueType::Dword) << name;
        EXPECT_EQ(r.readInteger(name), value) << name;
    }
    EXPECT_EQ(r.readString("Language"), "English");
    EXPECT_EQ(r.readString("BackupDir"), docs);
    EXPECT_EQ(r.readString("RestoreDir"), docs);
    EXPECT_EQ(r.readString("AutoBackupDir"), docs + "AutoBackup\\");
    // Today at midnight, and a time of day without a date.
    const double date = r.readDateTime("BackupDate");
    EXPECT_EQ(FromDateTime(date), LocalTime(DatePart(LocalNow())));
    const double time = r.readDateTime("BackupTime");
    EXPECT_GE(time, 0.0);
    EXPECT_LT(time, 1.0);
    for (const char* absent : {"DefaultBackDir", "LastBackupDate", "Col1", "Col4"})
        EXPECT_FALSE(r.valueExists(absent)) << absent;

    Registry last(RootKey::CurrentUser);
    ASSERT_TRUE(last.openKeyReadOnly(std::string(kLastClientKey)));
    EXPECT_EQ(last.readInteger("Code"), 1);
    ASSERT_TRUE(last.openKeyReadOnly(std::string(kLastClientKey) + "\\Items"));
    EXPECT_EQ(last.valueNames().size(), 6u);
    EXPECT_TRUE(last.readBool("Stationery"));
    ASSERT_TRUE(last.openKeyReadOnly(std::string(kLastClientKey) + "\\Identity"));
    EXPECT_TRUE(last.readBool("Main Identity"));
}

TEST(Settings, StoredValuesWinAndBadOnesAreReplaced) {
    FakeMachine m;
    using test::setDword;
    using test::setString;
    const RootKey cu = RootKey::CurrentUser;
    setString(cu, kSettingsKey, "DefaultBackDir", "D:\\Fixed");
    setString(cu, kSettingsKey, "BackupDir", "C:\\Mine");
    setString(cu, kSettingsKey, "RestoreDir", "");
    setDword(cu, kSettingsKey, "BackupMode", 3);
    setDword(cu, kSettingsKey, "MultipleVolumes", 7);  // any non-zero value is true
    setString(cu, kSettingsKey, "Volumes", "2");       // wrong type
    setDword(cu, kSettingsKey, "Col2", 90);
    setDword(cu, std::string(kLastClientKey), "Code", 6);
    platform::flushRegistry();

    Settings s;
    LoadSettings(s);
    EXPECT_EQ(s.backupFolder, "D:\\Fixed");
    EXPECT_EQ(s.backupMode, 3);
    EXPECT_TRUE(s.multipleVolumes);
    EXPECT_EQ(s.volumeSizeIndex, 4);
    EXPECT_EQ(s.columns, (std::array<int32_t, 4>{173, 90, 75, 75}));
    ASSERT_EQ(s.problems.size(), 1u);
    EXPECT_NE(s.problems[0].find("Volumes"), std::string::npos);

    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.openKeyReadOnly(kSettingsKey));
    EXPECT_EQ(r.readString("BackupDir"), "C:\\Mine");  // kept for when the default goes
    EXPECT_EQ(r.readString("RestoreDir"), "C:\\users\\tester\\Documents\\");
    EXPECT_EQ(r.dataType("Volumes"), ValueType::Dword);
    EXPECT_FALSE(r.valueExists("Col1"));
    // An existing LastClient is left as it is.
    EXPECT_FALSE(typeOf(std::string(kLastClientKey) + "\\Items", "Stationery").has_value());
}

TEST(Settings, SavedValuesLoadAgain) {
    FakeMachine m;
    Settings s;
    LoadSettings(s);
    s.windowX = 12;
    s.autoBackupEnabled = true;
    s.autoBackupFolder = "C:\\Auto\\";
    s.scheduleDate = 46091.0;
    s.scheduleTime = 0.3541666666666667;
    s.schedulePeriod = 0;
    s.scheduleInterval = 5;
    s.volumeSizeIndex = 1;
    s.backupMode = 1;
    s.backupKeep = 9;
    SaveWindowAndFolderSettings(s);
    SaveOptionSettings(s);

    Settings again;
    LoadSettings(again);
    EXPECT_EQ(again.windowX, 12);
    EXPECT_TRUE(again.autoBackupEnabled);
    EXPECT_EQ(again.autoBackupFolder, "C:\\Auto\\");
    EXPECT_DOUBLE_EQ(again.scheduleDate, 46091.0);
    EXPECT_DOUBLE_EQ(again.scheduleTime, 0.3541666666666667);
    EXPECT_EQ(again.schedulePeriod, 0);
    EXPECT_EQ(again.scheduleInterval, 5);
    EXPECT_EQ(again.volumeSizeIndex, 1);
    EXPECT_EQ(again.backupMode, 1);
    EXPECT_EQ(again.backupKeep, 9);
}

TEST(Settings, LanguageFileFallsBackToEnglishWrittenFromTheBuiltInText) {
    FakeMachine m;
    Settings s;
    s.programFolder = "C:\\Program Files\\Quillbox\\";
    platform::forceDirectories(s.programFolder);
    s.languageName = "Deutsch";
    EXPECT_EQ(ChooseLanguageFile(s), "C:\\Program Files\\Quillbox\\English.lng");
    EXPECT_EQ(s.languageName, "English");
    EXPECT_NE(m.readFile(s.languageFile).find("Message1=\"Invalid command!\""), std::string::npos);

    m.writeFile("C:\\Program Files\\Quillbox\\Deutsch.lng", "[Messages]\r\n");
    s.languageName = "Deutsch";
    EXPECT_EQ(ChooseLanguageFile(s), "C:\\Program Files\\Quillbox\\Deutsch.lng");
    // A name that reaches out of the program's folder is not taken.
    m.writeFile("C:\\Program Files\\Other.lng", "[Messages]\r\n");
    s.languageName = "..\\Other";
    EXPECT_EQ(ChooseLanguageFile(s), "C:\\Program Files\\Quillbox\\English.lng");

    // A program folder nobody may write to: the texts go to the user's data folder,
    // where the languages are looked up too.
    TempDir data;
    const char* oldData = std::getenv("XDG_DATA_HOME");
    const std::string saved = oldData ? oldData : "";
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    s.programFolder = "Q:\\Nowhere\\";
    s.languageName = "Deutsch";
    EXPECT_EQ(ChooseLanguageFile(s), UserLanguageFolder() + "English.lng");
    EXPECT_TRUE(fs::exists(data.path() / "quillbox" / "English.lng"));
    writeHostFile(data.path() / "quillbox" / "Deutsch.lng", "[Messages]\r\n");
    s.languageName = "Deutsch";
    EXPECT_EQ(ChooseLanguageFile(s), UserLanguageFolder() + "Deutsch.lng");
    if (oldData)
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

TEST(DateTime, DayCountsSince1899) {
    using namespace std::chrono;
    const LocalTime noon2000 = local_days(year(2000) / January / 1) + hours(12);
    EXPECT_DOUBLE_EQ(ToDateTime(noon2000), 36526.5);
    EXPECT_EQ(FromDateTime(36526.5), noon2000);
    // Before the epoch the time of day stays a positive fraction.
    const LocalTime before = local_days(year(1899) / December / 29) + hours(6);
    EXPECT_DOUBLE_EQ(ToDateTime(before), -1.25);
    EXPECT_EQ(FromDateTime(-1.25), before);
    EXPECT_EQ(FromDateTime(46091.0 + 8.5 / 24),
              local_days(year(2026) / March / 10) + hours(8) + minutes(30));
}
