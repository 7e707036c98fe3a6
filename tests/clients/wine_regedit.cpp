// The registry files a restore into a folder leaves for import by hand, imported
// by the real Windows registry editor of Wine into a fresh Wine prefix: every value
// lands there as it was on the machine the backup came from. And the other way:
// what that editor exports, qbreg imports exactly.
//
// Wine is part of the build's tools (scripts/bootstrap installs it), so a missing
// Wine fails this test instead of skipping it.
#include <sys/wait.h>

#include <cstdlib>
#include <map>

#include "adapter_test_support.h"
#include "catalog/reads.h"
#include "demo/demo_machine.h"
#include "platform/machine.h"
#include "platform/text_codec.h"
#include "regfile/io_registry.h"

namespace qb::test {
namespace {

using platform::RegValue;

std::string shellQuoted(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// A host path as Wine's drive Z: shows it.
std::string onDriveZ(const fs::path& host) {
    std::string path = fs::absolute(host).lexically_normal().string();
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

// Every value of the keys, by "KEY\name" (lower-cased), on the current machine.
std::map<std::string, RegValue> valuesOf(const std::vector<std::string>& keys) {
    std::map<std::string, RegValue> values;
    for (const std::string& key : keys) {
        const size_t split = key.find('\\');
        platform::Registry reg(TIORegistry::RootKeyFromName(key.substr(0, split)));
        const std::string path = split == std::string::npos ? "" : key.substr(split);
        // A key the source machine lacks is exported as an empty section, which
        // the editor imports as an empty key: neither holds a value to compare.
        if (!reg.openKeyReadOnly(path.empty() ? "\\" : path)) continue;
        for (const std::string& name : reg.valueNames())
            values[platform::lowerAscii(key + "\\" + name)] =
                reg.readValue(name).value_or(RegValue{});
    }
    return values;
}

std::string differences(const std::map<std::string, RegValue>& want,
                        const std::map<std::string, RegValue>& got) {
    std::string diff;
    for (const auto& [name, value] : want) {
        const auto it = got.find(name);
        if (it == got.end())
            diff += "\n  missing: " + name;
        else if (it->second.type != value.type || it->second.data != value.data)
            diff += "\n  differs: " + name + " (type " +
                    std::to_string(static_cast<uint32_t>(it->second.type)) + ", " +
                    std::to_string(it->second.data.size()) + " bytes instead of type " +
                    std::to_string(static_cast<uint32_t>(value.type)) + ", " +
                    std::to_string(value.data.size()) + " bytes)";
    }
    for (const auto& [name, value] : got)
        if (!want.count(name)) diff += "\n  extra: " + name;
    return diff;
}

class WineRegedit : public AdapterTest {
  protected:
    void SetUp() override {
        AdapterTest::SetUp();
        wine_ = wineDir_.path() / "prefix";
    }
    void TearDown() override {
        wine("wineserver -k");
        AdapterTest::TearDown();
    }
    // Runs a Wine command on the test's own prefix; its exit status.
    int wine(const std::string& command) {
        const std::string line = "WINEPREFIX=" + shellQuoted(wine_.string()) +
                                 " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' " + command +
                                 " >/dev/null 2>&1";
        const int status = std::system(line.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir wineDir_;
    fs::path wine_;
};

TEST_F(WineRegedit, FolderRestoresImportExactlyAndItsExportsReadBack) {
    // The demo machine's data, backed up by the program.
    use(source);
    demo::makeDataMachine(source, demo::kSmallDemoMessages);
    const std::string everyKind = "\\Software\\Qb Every Kind";
    writeValues(everyKind, everyKindOfValue(false));
    const auto backups =
        backupsThroughProgram("oexpress,msoutlook,incredimail,netscape", "C:\\Backups\\Wine");
    const std::map<std::string, ClientKind> kinds = {{"OutlookExpress", kind::OutlookExpress},
                                                     {"Outlook", kind::Outlook},
                                                     {"IncrediMail", kind::IncrediMail},
                                                     {"Netscape4", kind::Netscape4}};
    std::vector<fs::path> files;
    for (const auto& [client, k] : kinds) {
        ASSERT_TRUE(backups.count(client)) << client;
        const std::string folder = "C:\\For Hand\\" + client + "\\";
        const Choice c = contents(backups.at(client), k);
        ASSERT_FALSE(jobs::RunRestoreToFolder(backups.at(client), folder, k, c.identities, c.items))
            << client << ": " << errorText();
        size_t here = 0;
        for (const std::string& name : filesBelow(folder)) {
            if (!name.ends_with(".reg")) continue;
            files.push_back(source.host(folder) / name);
            ++here;
        }
        EXPECT_GT(here, 0u) << client;
    }

    // The keys the files name, and their values on the demo machine.
    std::vector<std::string> keys;
    for (const fs::path& file : files) {
        const std::string text = registryEditorText(readHostFile(file));
        ASSERT_TRUE(text.starts_with("Windows Registry Editor Version 5.00\r\n")) << file;
        for (const std::string& line : catalog::splitLines(text))
            if (line.starts_with("[") && line.ends_with("]"))
                keys.push_back(line.substr(1, line.size() - 2));
    }
    const std::map<std::string, RegValue> want = valuesOf(keys);
    EXPECT_GT(want.size(), 50u);

    // What qbreg exports of the key with every kind of value.
    const fs::path exported = wineDir_.path() / "every kind.reg";
    ProgramRun r = runProgram(source, kQbreg, {"export", "HKCU" + everyKind, exported.string()});
    ASSERT_EQ(r.status, 0) << r.err;

    // A fresh Wine prefix; the registry editor imports every file.
    ASSERT_EQ(wine("wineboot -i"), 0) << "Wine is missing or cannot make a prefix";
    std::string command = "wine regedit /S";
    for (const fs::path& file : files)
        command += " " + shellQuoted(onDriveZ(file));
    command += " " + shellQuoted(onDriveZ(exported));
    ASSERT_EQ(wine(command), 0);
    // The editor's own export of the key, for qbreg below.
    const fs::path editorExport = wineDir_.path() / "editor.reg";
    ASSERT_EQ(wine("wine regedit /E " + shellQuoted(onDriveZ(editorExport)) +
                   " 'HKEY_CURRENT_USER\\Software\\Qb Every Kind'"),
              0);
    ASSERT_EQ(wine("wineserver -w"), 0);  // the hives are written when the server ends

    {
        FakeMachine wineMachine(wine_, platform::hostUserName());
        EXPECT_EQ(differences(want, valuesOf(keys)), "");
        EXPECT_EQ(compareValues(everyKind, everyKindOfValue(false)), "");
    }

    // The editor's file, read by qbreg on another machine.
    use(target);
    r = runProgram(target, kQbreg, {"import", editorExport.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    use(target);
    EXPECT_EQ(compareValues(everyKind, everyKindOfValue(false)), "");
}

}  // namespace
}  // namespace qb::test
