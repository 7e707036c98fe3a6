#include "catalog/mozilla_profiles.h"

#include <gtest/gtest.h>

#include "catalog/identities.h"
#include "support/interaction.h"
#include "testkit/clients_fixture.h"

namespace qb {
namespace {

using Strings = std::vector<std::string>;

// The bytes of a literal, inner NULs included, without its terminating NUL.
template <size_t N>
std::vector<uint8_t> bytesOf(const char (&s)[N]) {
    return {s, s + N - 1};
}

// A profile registry as the browser leaves it after creating two profiles and
// switching between them.
test::MozillaRegistryWriter twoProfiles() {
    test::MozillaRegistryWriter reg;
    const int32_t tree = reg.addKey(reg.common(), "Profiles");
    reg.setString(tree, "Version", "5.0");
    reg.setString(tree, "HavePregInfo", "no");
    const std::string base =
        "C:\\Documents and Settings\\Ann\\Application Data\\Mozilla\\Profiles\\";
    const int32_t def = reg.addKey(tree, "default");
    reg.setString(def, "directory", base + "default\\x3kq9z1e.slt");
    reg.setString(def, "migrated", "yes");
    const int32_t work = reg.addKey(tree, "work");
    reg.setString(work, "directory", base + "work\\p7m2c4ad.slt");
    reg.setString(work, "migrated", "yes");
    reg.setString(tree, "CurrentProfile", "work");
    reg.setString(tree, "CurrentProfile", "default");
    return reg;
}

TEST(MozillaRegistry, WriterProducesTheBrowsersHeader) {
    const auto reg = twoProfiles();
    const auto& b = reg.bytes();
    ASSERT_GT(b.size(), 128u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "ADdv");  // magic 0x76644441, little-endian
    EXPECT_EQ(b[4], 1);                                        // major version
    EXPECT_EQ(b[6], 2);                                        // minor version
    const uint32_t avail = b[8] | b[9] << 8 | b[10] << 16 | static_cast<uint32_t>(b[11]) << 24;
    EXPECT_EQ(avail, b.size());
    // The root's name "/" opens the data right after the header area; its node follows.
    EXPECT_EQ(b[128], '/');
    EXPECT_EQ(b[129], 0);
    EXPECT_EQ(b[12], 130);
}

TEST(MozillaRegistry, ScanFindsEveryProfileDirectory) {
    const auto reg = twoProfiles();
    const Strings paths = ScanMozillaRegistry(reg.bytes());
    const std::string base =
        "C:\\Documents and Settings\\Ann\\Application Data\\Mozilla\\Profiles\\";
    EXPECT_EQ(paths, (Strings{base + "default\\x3kq9z1e.slt", base + "work\\p7m2c4ad.slt"}));
    EXPECT_EQ(MozillaProfileName(paths[0]), "default");
    EXPECT_EQ(MozillaProfileName(paths[1]), "work");
}

TEST(MozillaRegistry, ScanMatchesExactlyAsDescribed) {
    // Exact case only.
    EXPECT_TRUE(ScanMozillaRegistry(bytesOf("Directory\0C:\\a\\b\\c\0")).empty());
    // A broken partial match does not restart on the breaking byte.
    EXPECT_TRUE(ScanMozillaRegistry(bytesOf("ddirectory\0C:\\a\\b\\c\0")).empty());
    EXPECT_TRUE(ScanMozillaRegistry(bytesOf("dirdirectory\0C:\\a\\b\\c\0")).empty());
    // A byte that is no part of the word separates well.
    EXPECT_EQ(ScanMozillaRegistry(bytesOf("xdirectory\0C:\\p\\q\0")), Strings{"C:\\p\\q"});
    // The one byte after the word is skipped whatever it is.
    EXPECT_EQ(ScanMozillaRegistry(bytesOf("directory=C:\\p")), Strings{"C:\\p"});
    // The last path may run to the end of the file; a word with nothing after it
    // gives no path.
    EXPECT_EQ(ScanMozillaRegistry(bytesOf("directory\0C:\\p\\q")), Strings{"C:\\p\\q"});
    EXPECT_TRUE(ScanMozillaRegistry(bytesOf("directory")).empty());
    EXPECT_TRUE(ScanMozillaRegistry(bytesOf("directory\0\0directory\0")).empty());
    // The scan goes on after the path's NUL.
    EXPECT_EQ(ScanMozillaRegistry(bytesOf("directory\0A\\b\\c\0directory\0D\\e\\f\0")),
              (Strings{"A\\b\\c", "D\\e\\f"}));
}

TEST(MozillaRegistry, ProfileNameIsTheFolderAboveTheProfileFolder) {
    EXPECT_EQ(MozillaProfileName("C:\\Moz\\Profiles\\work\\ab12.slt"), "work");
    EXPECT_EQ(MozillaProfileName("C:\\ab12.slt"), "");
    EXPECT_EQ(MozillaProfileName("ab12.slt"), "");
    EXPECT_EQ(MozillaProfileName("\\a\\"), "a");
}

TEST(MozillaRegistry, KeepsEveryProfileOfALargeRegistry) {
    test::MozillaRegistryWriter reg;
    const int32_t tree = reg.addKey(reg.common(), "Profiles");
    for (int i = 0; i < 1205; ++i) {
        const std::string name = "p" + std::to_string(i);
        reg.setString(reg.addKey(tree, name), "directory", "C:\\P\\" + name + "\\x.slt");
    }
    test::FakeMachine m;
    m.writeFile(test::appDataFolder(m) + "\\Mozilla\\registry.dat",
                std::string(reg.bytes().begin(), reg.bytes().end()));
    const Strings ids = ListIdentities(kind::Mozilla);
    ASSERT_EQ(ids.size(), 1205u);
    EXPECT_EQ(ids[1204], "p1204");
    EXPECT_EQ(MozillaProfilePaths().count(), 1205);
    EXPECT_EQ(MozillaProfilePaths().path(1205), "C:\\P\\p1204\\x.slt");
}

TEST(MozillaRegistry, EachListingReplacesTheTable) {
    test::FakeMachine m;
    const auto profiles = test::installMozilla(m, {"default", "work", "spare"});
    ScriptedInteraction ui;
    ScopedInteraction scope(ui);
    EXPECT_EQ(ListIdentities(kind::Mozilla), (Strings{"default", "work", "spare"}));
    EXPECT_EQ(ui.pumps, 3);  // the window stays responsive: once per path
    EXPECT_EQ(MozillaProfilePaths().path(3), profiles[2].folder);

    test::installMozilla(m, {"solo"});  // rewrites registry.dat
    EXPECT_EQ(ListIdentities(kind::Mozilla), Strings{"solo"});
    EXPECT_EQ(MozillaProfilePaths().count(), 1);
    EXPECT_EQ(MozillaProfilePaths().path(2), "");  // no stale entry of the earlier listing

    m.writeFile(test::appDataFolder(m) + "\\Mozilla\\registry.dat", "");
    EXPECT_TRUE(ListIdentities(kind::Mozilla).empty());
    EXPECT_EQ(MozillaProfilePaths().count(), 0);
}

}  // namespace
}  // namespace qb
