#include "catalog/backup_name.h"

#include <gtest/gtest.h>

#include <regex>

#include "testkit/clients_fixture.h"

namespace qb {
namespace {

using namespace std::chrono;
using platform::RootKey;

constexpr year_month_day kDate{year{2026}, month{6}, day{5}};  // a Friday

void setShortDate(std::string_view picture) {
    test::setString(RootKey::CurrentUser, "\\Control Panel\\International", "sShortDate", picture);
}

TEST(FormatDate, WindowsDatePictures) {
    EXPECT_EQ(FormatDate("M/d/yyyy", kDate), "6/5/2026");
    EXPECT_EQ(FormatDate("dd.MM.yy", kDate), "05.06.26");
    EXPECT_EQ(FormatDate("yyyy-MM-dd", kDate), "2026-06-05");
    EXPECT_EQ(FormatDate("ddd d MMM y", kDate), "Fri 5 Jun 26");
    EXPECT_EQ(FormatDate("dddd, MMMM dd", kDate), "Friday, June 05");
    EXPECT_EQ(FormatDate("'day' d 'of' M, gg", kDate), "day 5 of 6, A.D.");
    EXPECT_EQ(FormatDate("d''M", kDate), "5'6");
    EXPECT_EQ(FormatDate("'it''s' d", kDate), "it's 5");
    EXPECT_EQ(FormatDate("d 'open", kDate), "5 open");
}

TEST(DefaultBackupFileName, PrefixDateAndExtension) {
    test::FakeMachine m;
    // No format set: Wine's en-US one.
    EXPECT_EQ(DefaultBackupFileName(kind::OutlookExpress, kDate), "OExpressBackup 6-5-2026.ebk");
    setShortDate("dd.MM.yyyy");
    EXPECT_EQ(DefaultBackupFileName(kind::PocoMail2PE, kDate), "PocoMailBackup 05-06-2026.ebk");
    setShortDate("dddd d MMMM yyyy");
    EXPECT_EQ(DefaultBackupFileName(kind::Favorites, kDate),
              "FavoritesBackup -------5------2026.ebk");
    setShortDate("yyyy\\MM/dd:*?");  // characters a file name cannot hold become "-"
    EXPECT_EQ(DefaultBackupFileName(kind::Mozilla, kDate), "NetscapeBackup 2026-06-05---.ebk");
}

TEST(DefaultBackupFileName, KindsWithoutPrefixGiveNothing) {
    test::FakeMachine m;
    for (ClientKind k :
         {kind::None, kind::PocoMailFamily, kind::OperaFamily, kind::NetscapeFamily, 11})
        EXPECT_EQ(DefaultBackupFileName(k, kDate), "") << k;
}

TEST(DefaultBackupFileName, AFormatWithoutDateFallsBackToTheDefault) {
    test::FakeMachine m;
    setShortDate("'today'");
    EXPECT_EQ(DefaultBackupFileName(kind::Eudora, kDate), "EudoraBackup 6-5-2026.ebk");
    setShortDate(std::string(200, 'd'));
    EXPECT_EQ(DefaultBackupFileName(kind::Eudora, kDate), "EudoraBackup 6-5-2026.ebk");
}

TEST(DefaultBackupFileName, TodayHasTheShape) {
    test::FakeMachine m;
    setShortDate("dd/MM/yyyy");
    const std::string name = DefaultBackupFileName(kind::TheBat);
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(TheBatBackup \d\d-\d\d-\d{4}\.ebk)"))) << name;
}

}  // namespace
}  // namespace qb
