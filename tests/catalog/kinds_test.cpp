#include "catalog/kinds.h"

#include <gtest/gtest.h>

#include <set>

namespace qb {
namespace {

TEST(Kinds, ManifestKeysMapBackToTheirCodes) {
    std::set<std::string_view> keys;
    for (const KindInfo& k : allKinds()) {
        if (k.manifestKey.empty()) continue;
        EXPECT_TRUE(keys.insert(k.manifestKey).second) << "key used twice: " << k.manifestKey;
        EXPECT_EQ(kindFromManifestKey(k.manifestKey), k.code) << k.manifestKey;
    }
    EXPECT_EQ(keys.size(), 14u);
    EXPECT_EQ(kindFromManifestKey("PocoMail3"), kind::PocoMail3);
    EXPECT_EQ(kindFromManifestKey("PocoMail20"), kind::PocoMail2PE);
    EXPECT_EQ(kindFromManifestKey("Netscape"), kind::Mozilla);
    EXPECT_EQ(kindFromManifestKey("Opera"), kind::Opera6);
    // Exact and case-sensitive: anything else is no client.
    EXPECT_EQ(kindFromManifestKey("pocomail3"), kind::None);
    EXPECT_EQ(kindFromManifestKey("PocoMail"), kind::None);
    EXPECT_EQ(kindFromManifestKey("Outlook "), kind::None);
    EXPECT_EQ(kindFromManifestKey(""), kind::None);
}

TEST(Kinds, FamiliesAndVersions) {
    EXPECT_EQ(familyOf(kind::PocoMail2PE), kind::PocoMailFamily);
    EXPECT_EQ(familyOf(kind::Opera7), kind::OperaFamily);
    EXPECT_EQ(familyOf(kind::Mozilla), kind::NetscapeFamily);
    EXPECT_EQ(familyOf(kind::Eudora), kind::Eudora);
    EXPECT_EQ(familyOf(kind::None), kind::None);
    EXPECT_EQ(familyOf(11), kind::None);
    EXPECT_EQ(versionsOf(kind::PocoMailFamily),
              (std::vector<ClientKind>{kind::PocoMail2, kind::PocoMail3, kind::PocoMail2PE}));
    EXPECT_EQ(versionsOf(kind::NetscapeFamily),
              (std::vector<ClientKind>{kind::Netscape4, kind::Mozilla}));
    EXPECT_TRUE(versionsOf(kind::Eudora).empty());
    EXPECT_TRUE(isVersionCode(kind::Opera6));
    EXPECT_FALSE(isVersionCode(kind::OperaFamily));
    EXPECT_TRUE(isFamilyCode(kind::Favorites));
    EXPECT_FALSE(isFamilyCode(kind::PocoMail2));
}

TEST(Kinds, PlaceholderFamiliesHaveNoBackups) {
    for (ClientKind family : {kind::PocoMailFamily, kind::OperaFamily, kind::NetscapeFamily}) {
        EXPECT_FALSE(hasBackups(family));
        EXPECT_EQ(fileNamePrefix(family), "");
        EXPECT_FALSE(findKind(family)->treeLabel.empty());
    }
    for (const KindInfo& k : allKinds()) {
        if (!hasBackups(k.code)) continue;
        ASSERT_FALSE(k.fileNamePrefix.empty());
        EXPECT_EQ(k.fileNamePrefix.back(), ' ') << k.code;
        EXPECT_EQ(k.fileNamePrefix.find(' '), k.fileNamePrefix.size() - 1) << k.code;
    }
    EXPECT_EQ(fileNamePrefix(kind::PocoMail2PE), "PocoMailBackup ");
    EXPECT_EQ(fileNamePrefix(kind::Mozilla), "NetscapeBackup ");
    EXPECT_EQ(findKind(kind::PocoMail2PE)->versionLabel, "2.x PE");
    EXPECT_EQ(findKind(kind::IncrediMail)->wizardLabel, "Incredi Mail");
}

}  // namespace
}  // namespace qb
