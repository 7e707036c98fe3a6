#include "testkit/testkit.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/files.h"
#include "platform/machine.h"
#include "platform/registry.h"

namespace qb::test {

TempDir::TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path p = fs::temp_directory_path() /
                     ("qbtest-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            path_ = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

FakeMachine::FakeMachine(const fs::path& prefix, std::string user)
    : prefix_(fs::absolute(prefix)), user_(std::move(user)) {
    platform::Machine::createPrefix(prefix_, user_);
    activate();
}

FakeMachine::FakeMachine(std::string user) : dir_(std::in_place), user_(std::move(user)) {
    prefix_ = dir_->path() / "prefix";
    platform::Machine::createPrefix(prefix_, user_);
    activate();
}

FakeMachine::~FakeMachine() {
    platform::unloadRegistry();
}

void FakeMachine::activate() const {
    platform::Machine::use(prefix_);
}

fs::path FakeMachine::host(std::string_view winPath) const {
    auto p = platform::hostPath(winPath);
    if (!p) throw std::runtime_error("no host path for " + std::string(winPath));
    return *p;
}

void FakeMachine::writeFile(std::string_view winPath, std::string_view content) const {
    writeHostFile(host(winPath), content);
}

std::string FakeMachine::readFile(std::string_view winPath) const {
    return readHostFile(host(winPath));
}

std::string readHostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeHostFile(const fs::path& path, std::string_view content) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path.string());
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

fs::path fixture(std::string_view relative) {
    return fs::path(QB_FIXTURES_DIR) / relative;
}

}  // namespace qb::test
