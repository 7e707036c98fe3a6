#include "catalog/detection.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/registry.h"
#include "testkit/clients_fixture.h"

namespace qb {
namespace {

using platform::RootKey;
using test::createKey;
using test::FakeMachine;
using test::registerMailClient;
using test::setDefaultMailClient;
using test::setString;

TEST(DefaultMailClient, ComparesTheWholeNameIgnoringCase) {
    FakeMachine m;
    EXPECT_EQ(DefaultMailClient(), kind::None);  // no key at all
    setDefaultMailClient("The Bat!");
    EXPECT_EQ(DefaultMailClient(), kind::TheBat);
    setDefaultMailClient("The Bat");
    EXPECT_EQ(DefaultMailClient(), kind::None);
    setDefaultMailClient("OUTLOOK EXPRESS");
    EXPECT_EQ(DefaultMailClient(), kind::OutlookExpress);
    setDefaultMailClient("Microsoft Outlook");
    EXPECT_EQ(DefaultMailClient(), kind::Outlook);
    setDefaultMailClient("Eudora 5.2");
    EXPECT_EQ(DefaultMailClient(), kind::None);
    setDefaultMailClient("Netscape");
    EXPECT_EQ(DefaultMailClient(), kind::NetscapeFamily);
    setDefaultMailClient("Internet Explorer Favorites");
    EXPECT_EQ(DefaultMailClient(), kind::None);
}

TEST(IsClientInstalled, FindsANameFragmentAmongTheRegisteredClients) {
    FakeMachine m;
    EXPECT_TRUE(IsClientInstalled(kind::Favorites));  // on every machine
    for (ClientKind k = 1; k <= 9; ++k)
        EXPECT_FALSE(IsClientInstalled(k)) << k;
    registerMailClient("Microsoft Outlook");
    registerMailClient("Eudora 5.2");
    registerMailClient("The Bat");
    EXPECT_TRUE(IsClientInstalled(kind::Outlook));
    EXPECT_FALSE(IsClientInstalled(kind::OutlookExpress));  // not a part of "microsoft outlook"
    EXPECT_TRUE(IsClientInstalled(kind::Eudora));
    EXPECT_TRUE(IsClientInstalled(kind::TheBat));
    EXPECT_FALSE(IsClientInstalled(kind::None));
    EXPECT_FALSE(IsClientInstalled(kind::PocoMail2));
    EXPECT_FALSE(IsClientInstalled(11));
}

TEST(IsClientInstalled, TheBatWithExclamationMarkCounts) {
    FakeMachine m;
    registerMailClient("The Bat!");
    EXPECT_TRUE(IsClientInstalled(kind::TheBat));
}

TEST(IsClientInstalled, FallsBackToTheClientsOwnKeys) {
    FakeMachine m;
    createKey(RootKey::CurrentUser, "\\Software\\Poco Systems Inc\\PocoMail 3");
    EXPECT_TRUE(IsClientInstalled(kind::PocoMailFamily));
    createKey(RootKey::LocalMachine, "\\SOFTWARE\\Classes\\software\\pegasus mail");
    EXPECT_TRUE(IsClientInstalled(kind::PegasusMail));
    createKey(RootKey::CurrentUser, "\\Software\\Opera Software");
    EXPECT_TRUE(IsClientInstalled(kind::OperaFamily));
    // Netscape has no fallback: its keys alone do not count.
    createKey(RootKey::CurrentUser, "\\Software\\Netscape\\Netscape Navigator");
    EXPECT_FALSE(IsClientInstalled(kind::NetscapeFamily));
}

TEST(IsClientInstalled, PocoMailPEUnderEitherRoot) {
    const std::string key =
        "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\pocomail2moe_is1";
    {
        FakeMachine m;
        createKey(RootKey::CurrentUser, key);
        EXPECT_TRUE(IsClientInstalled(kind::PocoMailFamily));
    }
    {
        FakeMachine m;
        createKey(RootKey::LocalMachine, key);
        EXPECT_TRUE(IsClientInstalled(kind::PocoMailFamily));
        EXPECT_EQ(InstalledVersions(kind::PocoMailFamily),
                  (std::vector<ClientVersion>{{"2.x PE", kind::PocoMail2PE}}));
    }
}

TEST(InstalledVersions, PocoMailThreeThenTwoThenPE) {
    FakeMachine m;
    EXPECT_TRUE(InstalledVersions(kind::PocoMailFamily).empty());
    test::installPocoMail(m, kind::PocoMail2);
    EXPECT_EQ(InstalledVersions(kind::PocoMailFamily),
              (std::vector<ClientVersion>{{"2.x", kind::PocoMail2}}));
    test::installPocoMail(m, kind::PocoMail3);
    test::installPocoMail(m, kind::PocoMail2PE);
    EXPECT_EQ(
        InstalledVersions(kind::PocoMailFamily),
        (std::vector<ClientVersion>{
            {"3.x", kind::PocoMail3}, {"2.x", kind::PocoMail2}, {"2.x PE", kind::PocoMail2PE}}));
}

TEST(InstalledVersions, OperaSevenThenSix) {
    FakeMachine m;
    test::installOpera6(m);
    EXPECT_EQ(InstalledVersions(kind::OperaFamily),
              (std::vector<ClientVersion>{{"6.x", kind::Opera6}}));
    test::installOpera7(m);
    EXPECT_EQ(InstalledVersions(kind::OperaFamily),
              (std::vector<ClientVersion>{{"7.x", kind::Opera7}, {"6.x", kind::Opera6}}));
}

TEST(InstalledVersions, NetscapeSixSevenThenFour) {
    FakeMachine m;
    test::installNetscape4(m);
    EXPECT_EQ(InstalledVersions(kind::NetscapeFamily),
              (std::vector<ClientVersion>{{"4.x", kind::Netscape4}}));
    test::installMozilla(m);
    EXPECT_EQ(InstalledVersions(kind::NetscapeFamily),
              (std::vector<ClientVersion>{{"6.x/7.x", kind::Mozilla}, {"4.x", kind::Netscape4}}));
}

TEST(InstalledVersions, NoAppDataFolderMeansNoMozilla) {
    FakeMachine m;
    test::installMozilla(m);
    {
        platform::Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKey(
            "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false));
        reg.deleteValue("AppData");
    }
    // Nor is "\Mozilla\registry.dat" at the root of the drive taken for it.
    m.writeFile("C:\\Mozilla\\registry.dat", "directory");
    EXPECT_TRUE(InstalledVersions(kind::NetscapeFamily).empty());
}

TEST(InstalledVersions, OtherCodesHaveNone) {
    FakeMachine m;
    test::installPocoMail(m, kind::PocoMail3);
    for (ClientKind k : {kind::None, kind::Eudora, kind::PocoMail3, kind::Favorites, 11})
        EXPECT_TRUE(InstalledVersions(k).empty()) << k;
}

}  // namespace
}  // namespace qb

namespace qb {
namespace {

// Every client laid out on one machine, as a person with all of them has it.
TEST(Detection, EveryClientOnOneMachine) {
    test::FakeMachine m;
    test::installOutlookExpress(m);
    const auto outlook = test::installOutlook(m);
    const auto eudora = test::installEudora(m);
    test::installIncrediMail(m, true);
    test::installPegasus(m, {"ADMIN"});
    test::installTheBat(m);
    for (ClientKind v : {kind::PocoMail2, kind::PocoMail3, kind::PocoMail2PE})
        test::installPocoMail(m, v);
    test::installOpera6(m);
    test::installOpera7(m);
    test::installNetscape4(m);
    test::installMozilla(m);
    const auto favorites = test::installFavorites(m);
    test::setDefaultMailClient("Outlook Express");

    for (ClientKind family = 1; family <= 10; ++family)
        EXPECT_TRUE(IsClientInstalled(family)) << family;
    EXPECT_EQ(DefaultMailClient(), kind::OutlookExpress);
    EXPECT_EQ(InstalledVersions(kind::PocoMailFamily).size(), 3u);
    EXPECT_EQ(InstalledVersions(kind::OperaFamily).size(), 2u);
    EXPECT_EQ(InstalledVersions(kind::NetscapeFamily).size(), 2u);
    EXPECT_TRUE(platform::fileExists(outlook.pstFiles.back()));
    EXPECT_TRUE(platform::fileExists(eudora.folder + "\\Work.fol\\Old.fol\\descmap.pce"));
    EXPECT_TRUE(platform::fileExists(favorites.back()));
}

}  // namespace
}  // namespace qb
