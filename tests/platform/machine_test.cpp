#include "platform/machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <regex>

#include "platform/files.h"
#include "testkit/testkit.h"

using namespace qb::platform;
using qb::test::TempDir;
namespace fs = std::filesystem;

namespace {

// Names the folder a test shares with the copy of itself that runs in a child.
constexpr const char* kSharedHome = "QB_MACHINE_TEST_HOME";

// Sets environment variables for one test and puts the old values back after it.
class Environment {
  public:
    Environment() {
        for (const char* name :
             {"QUILLBOX_PREFIX", "WINEPREFIX", "HOME", "XDG_DATA_HOME", kSharedHome}) {
            const char* v = std::getenv(name);
            saved_[name] = v ? std::optional<std::string>(v) : std::nullopt;
        }
    }
    ~Environment() {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    void set(const char* name, const fs::path& value) { ::setenv(name, value.c_str(), 1); }
    void unset(const char* name) { ::unsetenv(name); }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// The "Shell Folders" values of a user hive, unescaped.
std::map<std::string, std::string> shellFolders(const std::string& hive) {
    const std::string key =
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders]";
    const size_t start = hive.find(key);
    const std::string body = hive.substr(start, hive.find("\n\n", start) - start);
    static const std::regex value(R"re(\n"([^"]+)"="(.*)")re");
    std::map<std::string, std::string> out;
    for (std::sregex_iterator it(body.begin(), body.end(), value), end; it != end; ++it)
        out[(*it)[1]] = std::regex_replace((*it)[2].str(), std::regex(R"(\\(.))"), "$1");
    return out;
}

// A home folder for a test whose body runs again in a child process: the parent
// creates it and the child, started with the parent's environment, finds it there.
fs::path sharedHome(std::optional<TempDir>& owner, Environment& env) {
    if (const char* v = std::getenv(kSharedHome); v && *v) return v;
    owner.emplace();
    env.set(kSharedHome, owner->path());
    return owner->path();
}

}  // namespace

TEST(Machine, CreatePrefixLaysOutAFreshWineStyleMachine) {
    const TempDir t;
    const fs::path prefix = t.path() / "pfx";
    Machine::createPrefix(prefix, "alice");

    EXPECT_TRUE(fs::is_directory(prefix / "drive_c" / "windows" / "system32"));
    EXPECT_TRUE(fs::is_directory(prefix / "drive_c" / "Program Files"));
    EXPECT_EQ(fs::read_symlink(prefix / "dosdevices" / "c:"), fs::path("../drive_c"));
    EXPECT_EQ(fs::read_symlink(prefix / "dosdevices" / "z:"), fs::path("/"));
    for (const char* hive : {"system.reg", "user.reg", "userdef.reg"})
        EXPECT_EQ(qb::test::readHostFile(prefix / hive).rfind("WINE REGISTRY Version 2\n", 0), 0u)
            << hive;

    // Every shell folder the user hive names exists on the machine's C: drive.
    Machine::use(prefix);
    EXPECT_EQ(Machine::current().prefix(), prefix);
    EXPECT_EQ(Machine::current().userName(), "alice");
    const auto folders = shellFolders(qb::test::readHostFile(prefix / "user.reg"));
    ASSERT_GE(folders.size(), 10u);
    EXPECT_EQ(folders.at("Personal"), "C:\\users\\alice\\Documents");
    EXPECT_EQ(folders.at("AppData"), "C:\\users\\alice\\AppData\\Roaming");
    for (const auto& [name, path] : folders)
        EXPECT_TRUE(directoryExists(path)) << name << " " << path;
    EXPECT_TRUE(directoryExists("C:\\users\\alice\\Temp"));
    EXPECT_TRUE(directoryExists("C:\\users\\Public"));

    // Laying out an existing prefix again keeps what is there.
    qb::test::writeHostFile(prefix / "user.reg", "WINE REGISTRY Version 2\n;; changed\n");
    Machine::createPrefix(prefix, "alice");
    EXPECT_EQ(qb::test::readHostFile(prefix / "user.reg"), "WINE REGISTRY Version 2\n;; changed\n");
    // The profile folder names the user when the login name has none.
    EXPECT_EQ(Machine::use(prefix).userName(), "alice");
    EXPECT_THROW(Machine::use(t.path() / "missing"), MachineError);
}

TEST(Machine, SelectPrefixFollowsTheEnvironmentInOrder) {
    Environment env;
    const TempDir home;
    env.set("QUILLBOX_PREFIX", "/q");
    env.set("WINEPREFIX", "/w");
    env.set("HOME", home.path());
    env.set("XDG_DATA_HOME", home.path() / "data");
    EXPECT_EQ(Machine::selectPrefix(), fs::path("/q"));
    env.unset("QUILLBOX_PREFIX");
    EXPECT_EQ(Machine::selectPrefix(), fs::path("/w"));
    env.set("WINEPREFIX", "");  // empty counts as unset
    EXPECT_EQ(Machine::selectPrefix(), home.path() / "data" / "quillbox" / "prefix");
    env.unset("XDG_DATA_HOME");
    EXPECT_EQ(Machine::selectPrefix(), home.path() / ".local" / "share" / "quillbox" / "prefix");
    env.set("XDG_DATA_HOME", "relative/data");  // not absolute: ignored
    EXPECT_EQ(Machine::selectPrefix(), home.path() / ".local" / "share" / "quillbox" / "prefix");
    fs::create_directories(home.path() / ".wine");
    EXPECT_EQ(Machine::selectPrefix(), home.path() / ".wine");
    env.set("WINEPREFIX", "/w");
    EXPECT_EQ(Machine::selectPrefix(), fs::path("/w"));
}

// Machine::current() chooses once per process, so these run in a child process
// of their own (gtest's "threadsafe" death tests re-execute the test binary).
// Children end with _Exit: their stack holds the test's objects.
TEST(MachineChoice, ANamedPrefixMustExist) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Environment env;
    std::optional<TempDir> owner;
    const fs::path home = sharedHome(owner, env);
    env.set("HOME", home);
    env.set("QUILLBOX_PREFIX", home / "absent");
    EXPECT_EXIT(
        {
            try {
                Machine::current();
            } catch (const MachineError& e) {
                std::_Exit(std::string(e.what()).find("absent") != std::string::npos ? 0 : 2);
            }
            std::_Exit(1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(fs::exists(home / "absent"));

    env.unset("QUILLBOX_PREFIX");
    env.set("WINEPREFIX", home / "absent");
    EXPECT_EXIT(
        {
            try {
                Machine::current();
            } catch (const MachineError&) {
                std::_Exit(0);
            }
            std::_Exit(1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(MachineChoice, ThePrivatePrefixIsCreatedOnFirstUse) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Environment env;
    std::optional<TempDir> owner;
    const fs::path home = sharedHome(owner, env);
    env.unset("QUILLBOX_PREFIX");
    env.unset("WINEPREFIX");
    env.set("HOME", home);
    env.set("XDG_DATA_HOME", home / "data");
    const fs::path expected = home / "data" / "quillbox" / "prefix";
    EXPECT_EXIT(std::_Exit(Machine::current().prefix() == expected &&
                                   directoryExists("C:\\users\\" + hostUserName() + "\\Documents")
                               ? 0
                               : 1),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(fs::read_symlink(expected / "dosdevices" / "c:"), fs::path("../drive_c"));
    EXPECT_TRUE(fs::is_regular_file(expected / "user.reg"));

    // An existing prefix named by WINEPREFIX is used as it is.
    const fs::path wine = home / "wine";
    fs::create_directories(wine / "drive_c");
    env.set("WINEPREFIX", wine);
    EXPECT_EXIT(std::_Exit(Machine::current().prefix() == wine ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(fs::exists(wine / "dosdevices"));
}
