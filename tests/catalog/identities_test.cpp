#include "catalog/identities.h"

#include <gtest/gtest.h>

#include "catalog/client_paths.h"
#include "catalog/mozilla_profiles.h"
#include "testkit/clients_fixture.h"

namespace qb {
namespace {

using platform::RootKey;
using test::FakeMachine;
using Strings = std::vector<std::string>;

struct Listing {
    Strings identities;
    Strings items;
    bool selectable = false;
};

Listing list(ClientKind kind) {
    Listing l;
    l.selectable = ListIdentitiesAndItems(kind, l.identities, l.items);
    return l;
}

TEST(BackupItems, FixedListsAndSelectability) {
    FakeMachine m;
    const Strings oe{"Accounts Settings", "Mail Folders", "Signatures",
                     "Message Rules",     "Address Book", "Stationery"};
    const Strings poco{"Accounts Settings", "Mail Folders", "Filters",
                       "Signatures",        "Address Book", "Scripts"};
    const Strings opera{"Accounts Settings", "Mail Folders", "Filters", "Signatures",
                        "Address Book"};
    const Strings netscape{"Accounts Settings", "Mail Folders", "Filters", "Address Book"};
    struct Case {
        ClientKind kind;
        Strings items;
        bool selectable;
    };
    const std::vector<Case> cases = {
        {kind::OutlookExpress, oe, true},
        {kind::Outlook,
         {"Accounts Settings", "Mail Folders", "Personal Store", "Message Rules", "Address Book",
          "Signatures"},
         false},
        {kind::Eudora,
         {"Accounts Settings", "Mail Folders", "Filters", "Signatures", "Address Book"},
         true},
        {kind::IncrediMail,
         {"Accounts Settings", "Mail Folders", "Message Rules", "Address Book", "Stationery"},
         true},
        {kind::PegasusMail,
         {"Accounts Settings", "Mail Folders", "Signatures", "Address Book"},
         false},
        {kind::TheBat, netscape, true},
        {kind::PocoMail2, poco, true},
        {kind::PocoMail3, poco, true},
        {kind::PocoMail2PE, poco, true},
        {kind::Opera6, opera, true},
        {kind::Opera7, opera, false},
        {kind::Netscape4, netscape, false},
        {kind::Mozilla, netscape, false},
        {kind::Favorites, {"Favorites"}, true},
    };
    for (const Case& c : cases) {
        const Listing l = list(c.kind);
        EXPECT_EQ(l.items, c.items) << c.kind;
        EXPECT_EQ(l.selectable, c.selectable) << c.kind;
    }
}

TEST(ListIdentitiesAndItems, CodesWithoutItemsLeaveTheListsAlone) {
    FakeMachine m;
    test::installPocoMail(m, kind::PocoMail3);
    test::installOpera6(m);
    test::installNetscape4(m);
    for (ClientKind k :
         {kind::None, kind::PocoMailFamily, kind::OperaFamily, kind::NetscapeFamily, 11, -1}) {
        Strings ids{"kept"}, items{"kept"};
        EXPECT_FALSE(ListIdentitiesAndItems(k, ids, items)) << k;
        EXPECT_EQ(ids, Strings{"kept"});
        EXPECT_EQ(items, Strings{"kept"});
    }
    // A known code appends to what the caller has.
    Strings ids{"first"}, items;
    ListIdentitiesAndItems(kind::Eudora, ids, items);
    EXPECT_EQ(ids, (Strings{"first", "Default"}));
}

TEST(ListIdentities, FixedIdentities) {
    FakeMachine m;  // nothing installed: the fixed ones are listed anyway
    EXPECT_EQ(list(kind::Outlook).identities, Strings{"Default user"});
    EXPECT_EQ(list(kind::Eudora).identities, Strings{"Default"});
    EXPECT_EQ(list(kind::Opera7).identities, Strings{"Default User"});
    EXPECT_EQ(list(kind::Favorites).identities, Strings{"Default"});
    for (ClientKind k : {kind::OutlookExpress, kind::IncrediMail, kind::PegasusMail, kind::TheBat,
                         kind::Opera6, kind::Netscape4, kind::Mozilla})
        EXPECT_TRUE(list(k).identities.empty()) << k;
}

TEST(ListIdentities, OutlookExpressUserNamesInRegistryOrder) {
    FakeMachine m;
    test::installOutlookExpress(m, {{"Main Identity", "{F0000000-0000-0000-0000-000000000001}"},
                                    {"Ann", "{A0000000-0000-0000-0000-000000000002}"}});
    test::createKey(RootKey::CurrentUser, "\\Identities\\{C0000000-0000-0000-0000-000000000003}");
    // Subkeys in registry order; a subkey without "Username" lists an empty name.
    EXPECT_EQ(list(kind::OutlookExpress).identities, (Strings{"Ann", "", "Main Identity"}));
}

TEST(ListIdentities, IncrediMailUnderTheCurrentUserNumbersNamelessIdentities) {
    FakeMachine m;
    test::installIncrediMail(
        m, true, {{"{ID-1}", "Old", 0}, {"{ID-2}", "", std::nullopt}, {"{ID-3}", "Bob", 1}});
    EXPECT_EQ(list(kind::IncrediMail).identities, (Strings{"[Identity1]", "Bob"}));
}

TEST(ListIdentities, IncrediMailUnderTheMachineKeepsEmptyNames) {
    FakeMachine m;
    test::installIncrediMail(
        m, false, {{"{ID-1}", "Old", 0}, {"{ID-2}", "", std::nullopt}, {"{ID-3}", "Bob", 1}});
    EXPECT_EQ(list(kind::IncrediMail).identities, (Strings{"", "Bob"}));
}

TEST(ListIdentities, IncrediMailPrefersTheCurrentUsersIdentities) {
    FakeMachine m;
    test::installIncrediMail(m, false, {{"{ID-M}", "Machine", std::nullopt}});
    test::installIncrediMail(m, true, {{"{ID-U}", "User", std::nullopt}});
    EXPECT_EQ(list(kind::IncrediMail).identities, Strings{"User"});
}

TEST(ListIdentities, PegasusSingleUserModeIgnoresPmailUsr) {
    FakeMachine m;
    const auto install = test::installPegasus(m);
    EXPECT_EQ(list(kind::PegasusMail).identities, Strings{"Default User"});
    m.writeFile(install.baseFolder + "\\pmail.usr", "Y ANN;Ann Smith\r\n");
    EXPECT_EQ(list(kind::PegasusMail).identities, Strings{"Default User"});
}

TEST(ListIdentities, PegasusUsersFromPmailUsr) {
    FakeMachine m;
    const auto install = test::installPegasus(m, {"ADMIN", "ANN"});
    EXPECT_EQ(PegasusBaseFolder(), "C:\\PMAIL");
    EXPECT_EQ(list(kind::PegasusMail).identities, (Strings{"ADMIN", "ANN"}));
    // Blank lines name no user; a line without ";" is taken whole.
    m.writeFile(install.baseFolder + "\\PMAIL.USR",
                "Y ADMIN;Admin; the boss\r\n\r\n   \r\nGUEST\r\nN BOB;Bob\r\n");
    EXPECT_EQ(list(kind::PegasusMail).identities, (Strings{"ADMIN;Admin", "GUEST", "BOB"}));
}

TEST(ListIdentities, PegasusWithoutMailboxPathLooksNowhere) {
    FakeMachine m;
    test::setString(RootKey::LocalMachine, "\\SOFTWARE\\Classes\\software\\pegasus mail\\Username",
                    "", "multi-user mode");
    m.writeFile("C:\\pmail.usr", "Y ROOT;at the root of the drive\r\n");
    EXPECT_EQ(PegasusBaseFolder(), "");
    EXPECT_TRUE(list(kind::PegasusMail).identities.empty());
}

TEST(ListIdentities, PegasusBaseFolderOfAMailboxWithTrailingBackslash) {
    FakeMachine m;
    const std::string key = "\\SOFTWARE\\Classes\\software\\pegasus mail\\MailBox";
    test::setString(RootKey::LocalMachine, key, "", "C:\\PMAIL\\MAIL\\");
    EXPECT_EQ(PegasusBaseFolder(), "C:\\PMAIL");
    test::setString(RootKey::LocalMachine, key, "", "MAILBOX");
    EXPECT_EQ(PegasusBaseFolder(), "MAILBOX");
}

TEST(PegasusUserFromLine, TakesTheTextBeforeTheLastSemicolon) {
    EXPECT_EQ(PegasusUserFromLine("Y ANN;Ann Smith"), "ANN");
    EXPECT_EQ(PegasusUserFromLine("Y ANN"), "Y ANN");
    EXPECT_EQ(PegasusUserFromLine("Y;x"), "");
    EXPECT_EQ(PegasusUserFromLine(";"), "");
    EXPECT_EQ(PegasusUserFromLine("Y ;"), "");
}

TEST(ListIdentities, TheBatListsCountUsers) {
    FakeMachine m;
    test::installTheBat(m, {{"Ann", ""}, {"Bob", "C:\\BatMail\\Bob"}, {"Carol", ""}});
    const std::string depot = "\\Software\\RIT\\The Bat!\\Users Depot";
    test::setDword(RootKey::CurrentUser, depot, "Count", 2);
    EXPECT_EQ(list(kind::TheBat).identities, (Strings{"Ann", "Bob"}));
    // A count far beyond the values the key holds is damage, not a reason to list
    // billions of empty users.
    test::setDword(RootKey::CurrentUser, depot, "Count", 2000000000);
    EXPECT_LE(list(kind::TheBat).identities.size(), 7u);
    EXPECT_EQ(list(kind::TheBat).identities.front(), "Ann");
    platform::Registry reg(RootKey::CurrentUser);
    ASSERT_TRUE(reg.openKey(depot, false));
    reg.deleteValue("Count");
    reg.closeKey();
    EXPECT_TRUE(list(kind::TheBat).identities.empty());
}

TEST(ListIdentities, PocoMailUsersFolderOfEachVersion) {
    FakeMachine m;
    test::installPocoMail(m, kind::PocoMail2, {"Ann", "Bob"});
    test::installPocoMail(m, kind::PocoMail3, {});
    const auto pe = test::installPocoMail(m, kind::PocoMail2PE, {"Carol"});
    // Sub-folders and plain files are listed, in the search's order.
    EXPECT_EQ(list(kind::PocoMail2).identities,
              (Strings{"Default User", "Ann", "Bob", "users.lst"}));
    EXPECT_EQ(list(kind::PocoMail3).identities, Strings{"Default User"});
    EXPECT_EQ(list(kind::PocoMail2PE).identities, (Strings{"Default User", "Carol", "users.lst"}));
    // Hidden entries are not (a dot file is hidden on this machine).
    test::writeHostFile(m.host(pe.folder + "\\users") / ".trash", "x");
    EXPECT_EQ(list(kind::PocoMail2PE).identities, (Strings{"Default User", "Carol", "users.lst"}));
}

TEST(ListIdentities, PocoMailWithoutFolderListsTheDefaultUserOnly) {
    FakeMachine m;
    m.writeFile("C:\\users\\Stray\\poco.ini", "");  // "\users" at the root of the drive
    EXPECT_EQ(list(kind::PocoMail2).identities, Strings{"Default User"});
    test::setString(RootKey::CurrentUser, "\\Software\\Poco\\Mail", "Path",
                    "C:\\Program Files\\Missing");
    EXPECT_EQ(list(kind::PocoMail2).identities, Strings{"Default User"});
}

TEST(ListIdentities, Opera6AccountsSection) {
    FakeMachine m;
    const auto opera = test::installOpera6(m, {"account1", "account2"});
    EXPECT_EQ(OperaFolder(), "C:\\Program Files\\Opera\\");
    EXPECT_EQ(list(kind::Opera6).identities, (Strings{"account1", "account2"}));
    // Any letter case of the header; lines up to the next one holding "[".
    m.writeFile(opera.folder + "Mail\\accounts.ini",
                "[ACCOUNTS]\r\nCount=3\r\nplain line\r\nx?first?second,1\r\n\r\nshort?\r\n"
                "[Other]\r\nAccount9=POP?ignored,1\r\n[accounts]\r\nAccount4=POP?last,0");
    EXPECT_EQ(list(kind::Opera6).identities, (Strings{"plain line", "second", "shor", "last"}));
}

TEST(ListIdentities, Opera6FolderFromAQuotedCommandLine) {
    FakeMachine m;
    const auto opera = test::installOpera6(m, {"account1"});
    test::setString(RootKey::CurrentUser, "Software\\Opera Software", "Last CommandLine",
                    "\"C:\\Program Files\\Opera\\Opera.exe\" -newwindow");
    EXPECT_EQ(OperaFolder(), opera.folder);
    EXPECT_EQ(list(kind::Opera6).identities, Strings{"account1"});
}

TEST(ListIdentities, Opera6WithoutCommandLineLooksNowhere) {
    FakeMachine m;
    test::createKey(RootKey::CurrentUser, "Software\\Opera Software");
    m.writeFile("C:\\Mail\\accounts.ini", "[Accounts]\r\nAccount1=POP?stray,1\r\n");
    EXPECT_TRUE(list(kind::Opera6).identities.empty());
}

TEST(OperaAccountFromLine, TakesTheTextAfterTheLastQuestionMark) {
    EXPECT_EQ(OperaAccountFromLine("Account1=POP?account1,1"), "account1");
    EXPECT_EQ(OperaAccountFromLine("no question mark"), "no question mark");
    EXPECT_EQ(OperaAccountFromLine("a?bc?de,1"), "de");  // the last "?" but one character
    EXPECT_EQ(OperaAccountFromLine("abc?x"), "");        // "?" is the second-to-last character
    EXPECT_EQ(OperaAccountFromLine("abcde?"), "abcd");   // no "?" before the last character
    EXPECT_EQ(OperaAccountFromLine("?"), "");
}

TEST(ListIdentities, Netscape4Users) {
    FakeMachine m;
    test::installNetscape4(m, {"bob", "ann"});
    EXPECT_EQ(list(kind::Netscape4).identities, (Strings{"ann", "bob"}));
}

TEST(ListIdentities, MozillaProfilesFromTheProfileRegistry) {
    FakeMachine m;
    const auto profiles = test::installMozilla(m, {"default", "work"});
    EXPECT_EQ(list(kind::Mozilla).identities, (Strings{"default", "work"}));
    EXPECT_EQ(MozillaProfilePaths().count(), 2);
    EXPECT_EQ(MozillaProfilePaths().path(1), profiles[0].folder);
    EXPECT_EQ(MozillaProfilePaths().path(2), profiles[1].folder);
    EXPECT_EQ(MozillaProfilePaths().path(3), "");
    EXPECT_EQ(MozillaProfilePaths().path(0), "");
}

}  // namespace
}  // namespace qb
