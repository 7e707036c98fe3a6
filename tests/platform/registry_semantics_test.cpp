// The accessor: Windows semantics of keys and values, and the predefined roots.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/registry.h"
#include "registry_test_support.h"

namespace qb::platform {
namespace {

using test::FakeMachine;
using test::FixturePrefix;

TEST(RegistryKeys, NamesAreCaseInsensitiveAndKeepTheirCase) {
    FakeMachine machine;
    {
        Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKey("\\Software\\QuillTest\\MixedCase", true));
        reg.writeString("Value", "x");
    }
    Registry reg(RootKey::CurrentUser);
    EXPECT_TRUE(reg.keyExists("\\SOFTWARE\\quilltest\\mixedcase"));
    ASSERT_TRUE(reg.openKey("\\software\\QUILLTEST\\MIXEDCASE", false));
    EXPECT_EQ(reg.currentPath(), "Software\\QuillTest\\MixedCase");
    EXPECT_EQ(reg.readString("VALUE"), "x");
    EXPECT_EQ(reg.valueNames(), std::vector<std::string>{"Value"});
    // Writing through another spelling replaces the value and keeps its name.
    reg.writeString("vALUE", "y");
    EXPECT_EQ(reg.valueNames(), std::vector<std::string>{"Value"});
    EXPECT_EQ(reg.readString("value"), "y");
    // Non-ASCII names fold too.
    ASSERT_TRUE(reg.openKey("\\Software\\QuillTest\\Ärger", true));
    EXPECT_TRUE(reg.keyExists("\\Software\\QuillTest\\ärger"));
    EXPECT_EQ(reg.currentPath(), "Software\\QuillTest\\Ärger");
}

TEST(RegistryKeys, SubkeysEnumerateInCaseInsensitiveOrderAndValuesInTheirOwn) {
    FakeMachine machine;
    Registry reg(RootKey::CurrentUser);
    ASSERT_TRUE(reg.openKey("\\Software\\Order", true));
    for (const char* name : {"beta", "Alpha", "gamma", "_under", "Zed", "alpha2"})
        ASSERT_TRUE(reg.openKey(std::string("\\Software\\Order\\") + name, true));
    ASSERT_TRUE(reg.openKey("\\Software\\Order", false));
    EXPECT_EQ(reg.keyNames(),
              (std::vector<std::string>{"_under", "Alpha", "alpha2", "beta", "gamma", "Zed"}));
    EXPECT_TRUE(reg.hasSubKeys());

    reg.writeString("zulu", "1");
    reg.writeString("alpha", "2");
    reg.writeInteger("mike", 3);
    reg.writeString("ZULU", "4");  // replaced in place
    EXPECT_EQ(reg.valueNames(), (std::vector<std::string>{"zulu", "alpha", "mike"}));
    reg.closeKey();
    // The order survives a fresh load.
    unloadRegistry();
    Registry again(RootKey::CurrentUser);
    ASSERT_TRUE(again.openKeyReadOnly("\\Software\\Order"));
    EXPECT_EQ(again.valueNames(), (std::vector<std::string>{"zulu", "alpha", "mike"}));
    EXPECT_EQ(again.readString("zulu"), "4");
}

TEST(RegistryKeys, RelativeAndAbsolutePaths) {
    FakeMachine machine;
    Registry reg(RootKey::CurrentUser);
    ASSERT_TRUE(reg.openKey("Software\\Rel", true));  // relative to the root: none is open
    EXPECT_EQ(reg.currentPath(), "Software\\Rel");
    ASSERT_TRUE(reg.openKey("Child", true));  // relative to the open key
    EXPECT_EQ(reg.currentPath(), "Software\\Rel\\Child");
    EXPECT_TRUE(reg.keyExists("\\Software\\Rel\\Child"));
    EXPECT_FALSE(reg.keyExists("Child"));           // relative: ...\Child\Child
    ASSERT_TRUE(reg.openKey("\\Software", false));  // absolute
    EXPECT_EQ(reg.currentPath(), "Software");
    EXPECT_TRUE(reg.keyExists("Rel\\Child"));
    EXPECT_FALSE(reg.openKey("Missing", false));
    EXPECT_EQ(reg.currentPath(), "Software");  // a failed open keeps the open key
    reg.closeKey();
    EXPECT_FALSE(reg.hasOpenKey());
    EXPECT_EQ(reg.currentPath(), "");
}

TEST(RegistryKeys, DeleteKeyRemovesTheWholeSubtree) {
    FakeMachine machine;
    Registry reg(RootKey::CurrentUser);
    ASSERT_TRUE(reg.openKey("\\Software\\Del\\A\\B\\C", true));
    reg.writeString("v", "1");
    ASSERT_TRUE(reg.openKey("\\Software\\Del\\Keep", true));
    reg.closeKey();
    EXPECT_TRUE(reg.deleteKey("\\software\\del\\a"));
    EXPECT_FALSE(reg.keyExists("\\Software\\Del\\A"));
    EXPECT_FALSE(reg.keyExists("\\Software\\Del\\A\\B\\C"));
    EXPECT_TRUE(reg.keyExists("\\Software\\Del\\Keep"));
    EXPECT_FALSE(reg.deleteKey("\\Software\\Del\\A"));
    EXPECT_FALSE(reg.deleteKey(""));  // the root is not deleted
    // Relative to the open key.
    ASSERT_TRUE(reg.openKey("\\Software\\Del", false));
    EXPECT_TRUE(reg.deleteKey("Keep"));
    EXPECT_FALSE(reg.hasSubKeys());
    reg.closeKey();
    unloadRegistry();
    Registry fresh(RootKey::CurrentUser);
    EXPECT_TRUE(fresh.keyExists("\\Software\\Del"));  // emptied keys stay, as on Windows
    EXPECT_FALSE(fresh.keyExists("\\Software\\Del\\A"));
}

TEST(RegistryValues, EveryTypeRoundTripsThroughTheHiveFile) {
    FakeMachine machine;
    const std::vector<uint8_t> odd = {0xde, 0xad, 0xbe, 0xef, 0x00};
    {
        Registry reg(RootKey::CurrentUser);
        ASSERT_TRUE(reg.openKey("\\Software\\Types", true));
        reg.writeString("sz", "Grüße \"quoted\" \\ tab\t€ \U0001F30E");
        reg.writeExpandString("expand", "%USERPROFILE%\\x");
        reg.writeMultiString("multi", {"one", "two", "three é"});
        reg.writeMultiString("multiEmpty", {});
        reg.writeInteger("dword", -2);
        reg.writeBool("bool", true);
        reg.writeBinary("binary", std::vector<uint8_t>(100, 0x5a));
        reg.writeDateTime("date", 45678.75);
        reg.writeValue("qword", {ValueType::Qword, {1, 2, 3, 4, 5, 6, 7, 0x80}});
        reg.writeValue("custom", {static_cast<ValueType>(0xffff0012), odd});
        reg.writeValue("", {ValueType::String, utf8ToUtf16Bytes("default")});
        reg.writeValue("unterminated", {ValueType::String, {'a', 0, 'b', 0}});
    }
    unloadRegistry();
    Registry reg(RootKey::CurrentUser);
    ASSERT_TRUE(reg.openKeyReadOnly("\\Software\\Types"));
    EXPECT_EQ(reg.readString("sz"), "Grüße \"quoted\" \\ tab\t€ \U0001F30E");
    EXPECT_EQ(reg.dataType("expand"), ValueType::ExpandString);
    EXPECT_EQ(reg.readString("expand"), "%USERPROFILE%\\x");  // not expanded on reading
    EXPECT_EQ(reg.readMultiString("multi"), (std::vector<std::string>{"one", "two", "three é"}));
    EXPECT_TRUE(reg.readMultiString("multiEmpty").empty());
    EXPECT_EQ(reg.readInteger("dword"), -2);
    EXPECT_TRUE(reg.readBool("bool"));
    EXPECT_EQ(reg.readBinary("binary"), std::vector<uint8_t>(100, 0x5a));
    EXPECT_EQ(reg.readDateTime("date"), 45678.75);
    auto q = reg.readValue("qword");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->type, ValueType::Qword);
    EXPECT_EQ(q->data, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 0x80}));
    auto c = reg.readValue("custom");
    ASSERT_TRUE(c);
    EXPECT_EQ(static_cast<uint32_t>(c->type), 0xffff0012u);
    EXPECT_EQ(c->data, odd);
    EXPECT_EQ(reg.readString(""), "default");
    EXPECT_EQ(reg.readBinary("unterminated"), (std::vector<uint8_t>{'a', 0, 'b', 0}));
    EXPECT_EQ(reg.readString("unterminated"), "ab");
    // Windows stores strings as UTF-16LE with their terminator.
    EXPECT_EQ(reg.readBinary(""), utf8ToUtf16Bytes("default"));
    EXPECT_EQ(reg.readBinary("").size(), 16u);
}

TEST(RegistryValues, MissingValuesReadEmptyAndWrongTypesAreRefused) {
    FakeMachine machine;
    Registry reg(RootKey::CurrentUser);
    ASSERT_TRUE(reg.openKey("\\Software\\Missing", true));
    EXPECT_EQ(reg.readString("none"), "");
    EXPECT_EQ(reg.readInteger("none"), 0);
    EXPECT_FALSE(reg.readBool("none"));
    EXPECT_TRUE(reg.readBinary("none").empty());
    EXPECT_TRUE(reg.readMultiString("none").empty());
    EXPECT_EQ(reg.readDateTime("none"), 0.0);
    EXPECT_FALSE(reg.readValue("none"));
    EXPECT_FALSE(reg.dataType("none"));
    EXPECT_FALSE(reg.valueExists("none"));
    reg.writeInteger("n", 5);
    reg.writeString("s", "5");
    EXPECT_THROW(reg.readString("n"), RegistryError);
    EXPECT_THROW(reg.readInteger("s"), RegistryError);
    EXPECT_THROW(reg.readDateTime("n"), RegistryError);
    EXPECT_THROW(reg.readMultiString("s"), RegistryError);
    EXPECT_THROW(reg.writeMultiString("m", {"a", "", "b"}), RegistryError);
    EXPECT_TRUE(reg.deleteValue("N"));
    EXPECT_FALSE(reg.deleteValue("n"));
    EXPECT_FALSE(reg.valueExists("n"));
    // A key that does not exist reads as empty too.
    Registry none(RootKey::CurrentUser);
    EXPECT_FALSE(none.openKeyReadOnly("\\No\\Such\\Key"));
    EXPECT_FALSE(none.keyExists("\\No\\Such\\Key"));
}

TEST(RegistryValues, ReadOnlyAccessorsRefuseEveryWrite) {
    FakeMachine machine;
    {
        Registry w(RootKey::CurrentUser);
        ASSERT_TRUE(w.openKey("\\Software\\RO\\Sub", true));
        w.writeString("v", "1");
    }
    Registry reg(RootKey::CurrentUser);
    ASSERT_TRUE(reg.openKeyReadOnly("\\Software\\RO"));
    EXPECT_THROW(reg.writeString("v", "2"), RegistryError);
    EXPECT_THROW(reg.writeInteger("v", 2), RegistryError);
    EXPECT_THROW(reg.deleteValue("v"), RegistryError);
    EXPECT_THROW(reg.deleteKey("Sub"), RegistryError);
    EXPECT_TRUE(reg.keyExists("Sub"));
    try {
        reg.writeBinary("b", {1});
    } catch (const RegistryError& e) {
        EXPECT_NE(std::string(e.what()).find("HKEY_CURRENT_USER\\Software\\RO"), std::string::npos);
    }
    // Opening for writing again lifts it.
    ASSERT_TRUE(reg.openKey("\\Software\\RO", false));
    reg.writeString("v", "3");
    EXPECT_EQ(reg.readString("v"), "3");
}

TEST(RegistryRoots, ClassesRootMergesTheUsersClassesOverTheMachines) {
    FakeMachine machine;
    {
        Registry lm(RootKey::LocalMachine);
        ASSERT_TRUE(lm.openKey("\\Software\\Classes\\.qbx", true));
        lm.writeString("", "machine.qbx");
        lm.writeString("Content Type", "application/x-machine");
        ASSERT_TRUE(lm.openKey("\\Software\\Classes\\.qbx\\MachineOnly", true));
        Registry cu(RootKey::CurrentUser);
        ASSERT_TRUE(cu.openKey("\\Software\\Classes\\.qbx", true));
        cu.writeString("", "user.qbx");
        ASSERT_TRUE(cu.openKey("\\Software\\Classes\\.qbx\\userOnly", true));
        ASSERT_TRUE(cu.openKey("\\Software\\Classes\\.userext", true));
    }
    Registry cr(RootKey::ClassesRoot);
    ASSERT_TRUE(cr.openKey("\\.QBX", false));
    EXPECT_EQ(cr.readString(""), "user.qbx");  // the user's value wins
    EXPECT_EQ(cr.readString("Content Type"), "application/x-machine");
    EXPECT_EQ(cr.valueNames(), (std::vector<std::string>{"", "Content Type"}));
    EXPECT_EQ(cr.keyNames(), (std::vector<std::string>{"MachineOnly", "userOnly"}));
    EXPECT_TRUE(cr.keyExists("\\.userext"));
    // Writes go to the machine's classes.
    cr.writeString("Added", "x");
    cr.closeKey();
    Registry lm(RootKey::LocalMachine);
    ASSERT_TRUE(lm.openKeyReadOnly("\\Software\\Classes\\.qbx"));
    EXPECT_EQ(lm.readString("Added"), "x");
    Registry cu(RootKey::CurrentUser);
    ASSERT_TRUE(cu.openKeyReadOnly("\\Software\\Classes\\.qbx"));
    EXPECT_FALSE(cu.valueExists("Added"));
    // A class only the user has gets its machine key on the first write.
    ASSERT_TRUE(cr.openKey("\\.userext", false));
    cr.writeString("", "y");
    EXPECT_TRUE(lm.keyExists("\\Software\\Classes\\.userext"));
    // Deleting through the merged view removes the key from both.
    EXPECT_TRUE(cr.deleteKey("\\.qbx"));
    EXPECT_FALSE(cr.keyExists("\\.qbx"));
    EXPECT_FALSE(lm.keyExists("\\Software\\Classes\\.qbx"));
    EXPECT_FALSE(cu.keyExists("\\Software\\Classes\\.qbx"));
}

TEST(RegistryRoots, UsersCurrentConfigDynDataAndLinks) {
    FixturePrefix p;
    Registry users(RootKey::Users);
    EXPECT_EQ(users.keyNames(), (std::vector<std::string>{".Default", "S-1-5-21-0-0-0-1000"}));
    // The user's SID key is user.reg, .Default is userdef.reg.
    ASSERT_TRUE(users.openKeyReadOnly("\\S-1-5-21-0-0-0-1000\\Control Panel\\Colors"));
    Registry cu(RootKey::CurrentUser);
    ASSERT_TRUE(cu.openKeyReadOnly("\\Control Panel\\Colors"));
    EXPECT_EQ(users.readString("Menu"), cu.readString("Menu"));
    EXPECT_FALSE(users.readString("Menu").empty());
    ASSERT_TRUE(users.openKeyReadOnly(
        "\\.default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"));
    EXPECT_EQ(users.readString("Desktop"), "C:\\users\\root\\Desktop");
    EXPECT_EQ(users.currentPath(),
              ".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
    EXPECT_FALSE(users.keyExists("\\S-1-5-18"));
    users.closeKey();
    EXPECT_THROW(users.writeString("x", "y"), RegistryError);
    EXPECT_THROW(users.deleteKey("\\.Default"), RegistryError);
    EXPECT_FALSE(users.openKey("\\S-1-5-18\\New", true));

    // HKEY_CURRENT_CONFIG is the current hardware profile of the machine.
    Registry cc(RootKey::CurrentConfig);
    ASSERT_TRUE(cc.openKeyReadOnly("\\Software\\Fonts"));
    EXPECT_EQ(cc.readInteger("LogPixels"), 96);
    Registry lm(RootKey::LocalMachine);
    EXPECT_TRUE(
        lm.keyExists("\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts"));

    Registry dyn(RootKey::DynData);
    EXPECT_TRUE(dyn.keyNames().empty());
    EXPECT_FALSE(dyn.openKey("\\Anything", true));
    EXPECT_THROW(dyn.writeString("x", "y"), RegistryError);

    // Wine's symbolic links read as the keys they are stored as; nothing is
    // written through them, since the change would land in the link itself.
    const std::string before = p.text("system.reg");
    ASSERT_TRUE(lm.openKey("\\Software\\Classes\\Wow6432Node\\TypeLib", false));
    EXPECT_EQ(lm.dataType("SymbolicLinkValue"), ValueType::Link);
    EXPECT_NE(utf16BytesToUtf8(lm.readBinary("SymbolicLinkValue"))
                  .find("\\Registry\\Machine\\Software\\Classes"),
              std::string::npos);
    try {
        lm.writeString("x", "y");
        ADD_FAILURE() << "wrote into a link";
    } catch (const RegistryError& e) {
        EXPECT_NE(std::string(e.what()).find("symbolic link"), std::string::npos) << e.what();
    }
    EXPECT_THROW(lm.openKey("Inner", true), RegistryError);
    EXPECT_THROW(lm.deleteValue("SymbolicLinkValue"), RegistryError);
    lm.closeKey();
    EXPECT_THROW(lm.deleteKey("\\Software\\Classes\\Wow6432Node\\TypeLib"), RegistryError);
    flushRegistry();
    EXPECT_EQ(p.text("system.reg"), before);
}

}  // namespace
}  // namespace qb::platform
