// Test helpers: temporary folders and small fake Windows machines.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qb::test {

namespace fs = std::filesystem;

// A fresh folder below the system's temporary folder, removed with its contents.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// A private prefix in a temporary folder, made the process's machine for the
// lifetime of the object (hives are dropped when it goes).
class FakeMachine {
  public:
    explicit FakeMachine(std::string user = "tester");
    // A machine at a lasting place: the prefix is created there (or reused) and is
    // not removed with the object. For the demo machines.
    FakeMachine(const fs::path& prefix, std::string user);
    ~FakeMachine();
    FakeMachine(const FakeMachine&) = delete;
    FakeMachine& operator=(const FakeMachine&) = delete;

    const fs::path& prefix() const { return prefix_; }
    const std::string& user() const { return user_; }
    // Host path of a Windows path on this machine (through the platform mapping).
    fs::path host(std::string_view winPath) const;
    // Writes a file (creating its folders) / reads it back, by Windows path.
    void writeFile(std::string_view winPath, std::string_view content) const;
    std::string readFile(std::string_view winPath) const;
    // Makes this machine the current one again (after another FakeMachine took over).
    void activate() const;

  private:
    std::optional<TempDir> dir_;
    fs::path prefix_;
    std::string user_;
};

std::string readHostFile(const fs::path& path);
void writeHostFile(const fs::path& path, std::string_view content);
// Path of a shared fixture file, e.g. fixture("wine-8.0-prefix/system.reg").
fs::path fixture(std::string_view relative);

}  // namespace qb::test
