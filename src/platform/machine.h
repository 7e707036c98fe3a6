// The emulated Windows machine: a Wine-style prefix folder.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace qb::platform {

class MachineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Machine {
  public:
    // The machine of this process. Chosen on first use: $QUILLBOX_PREFIX, else
    // $WINEPREFIX, else ~/.wine when it exists, else the private prefix under
    // $XDG_DATA_HOME/quillbox/prefix, created when missing. A prefix named by an
    // environment variable must exist (MachineError otherwise).
    static Machine& current();
    // Switches the process to another prefix (tools and tests); drops loaded hives.
    static Machine& use(const std::filesystem::path& prefix);
    // Resolves the prefix by the rules above without creating anything.
    static std::filesystem::path selectPrefix();
    // Lays out a fresh prefix as Wine does on first start: drive_c, dosdevices c: and z:,
    // the hives with the user's shell folders, and those folders below C:\users\<user>.
    static void createPrefix(const std::filesystem::path& prefix, const std::string& user);

    const std::filesystem::path& prefix() const { return prefix_; }
    // The Windows login name of the prefix's user (its folder under C:\users).
    const std::string& userName() const { return user_; }

  private:
    explicit Machine(std::filesystem::path prefix);
    std::filesystem::path prefix_;
    std::string user_;
};

// Login name of the Linux user, as Wine names the profile folder.
std::string hostUserName();

}  // namespace qb::platform
