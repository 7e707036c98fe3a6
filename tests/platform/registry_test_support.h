// Helpers of the registry tests: prefixes with the Wine fixture hives, the text
// sections of a hive file, and a Wine server lock held by a real child process.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>

#include "platform/machine.h"
#include "platform/registry.h"
#include "testkit/testkit.h"

namespace qb::test {

// A prefix holding copies of the Wine 8.0 fixture hives (and drive C: with the
// fixture's user "root"), made the current machine while the object lives.
class FixturePrefix {
  public:
    FixturePrefix() {
        prefix_ = dir_.path() / "prefix";
        fs::create_directories(prefix_ / "dosdevices");
        fs::create_directories(prefix_ / "drive_c" / "users" / "root");
        fs::create_directory_symlink("../drive_c", prefix_ / "dosdevices" / "c:");
        for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
            fs::copy_file(original(name), hive(name));
            fs::permissions(hive(name), fs::perms::owner_write, fs::perm_options::add);
        }
        platform::Machine::use(prefix_);
    }
    ~FixturePrefix() { platform::unloadRegistry(); }
    FixturePrefix(const FixturePrefix&) = delete;
    FixturePrefix& operator=(const FixturePrefix&) = delete;

    const fs::path& prefix() const { return prefix_; }
    fs::path hive(const std::string& name) const { return prefix_ / name; }
    static fs::path original(const std::string& name) { return fixture("wine-8.0-prefix/" + name); }
    std::string text(const std::string& name) const { return readHostFile(hive(name)); }

  private:
    TempDir dir_;
    fs::path prefix_;
};

// The sections of a hive text by key line path ("[Software\\\\X]" -> its lines).
inline std::map<std::string, std::string> sections(const std::string& text) {
    std::map<std::string, std::string> out;
    std::istringstream in(text);
    std::string line, current;
    while (std::getline(in, line)) {
        if (line.starts_with("[")) current = line.substr(0, line.find("] ") + 1);
        if (!current.empty()) out[current] += line + "\n";
    }
    return out;
}

// The key line paths of a hive text, in file order.
inline std::vector<std::string> keyOrder(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.starts_with("[")) out.push_back(line.substr(0, line.find("] ") + 1));
    return out;
}

// A Wine server as other programs see it: the lock file of the prefix's server
// folder, write-locked by a child process until the object goes. The folder is
// where upstream Wine puts it (/tmp/.wine-<uid>/), or where Debian's build does
// (a private folder in /tmp named in the prefix's file "wineserver").
class WineServerLock {
  public:
    enum Layout { Upstream, Debian };
    explicit WineServerLock(const fs::path& prefix, Layout layout = Upstream) {
        struct stat st {};
        if (::stat(prefix.c_str(), &st) != 0) throw std::runtime_error("cannot stat the prefix");
        std::ostringstream server;
        server << "server-" << std::hex << static_cast<unsigned long long>(st.st_dev) << "-"
               << static_cast<unsigned long long>(st.st_ino);
        if (layout == Upstream) {
            root_ = fs::path("/tmp") / (".wine-" + std::to_string(::getuid()));
        } else {
            std::string name = "wine-qbXXXXXX";
            std::string path = "/tmp/" + name;
            if (!::mkdtemp(path.data())) throw std::runtime_error("mkdtemp failed");
            root_ = path;
            writeHostFile(prefix / "wineserver", root_.filename().string());
            ownRoot_ = true;
        }
        dir_ = root_ / server.str();
        fs::create_directories(dir_);
        const std::string lock = (dir_ / "lock").string();
        int ready[2];
        if (::pipe(ready) != 0) throw std::runtime_error("pipe failed");
        child_ = ::fork();
        if (child_ == 0) {
            ::close(ready[0]);
            const int fd = ::open(lock.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            fl.l_start = 0;
            fl.l_len = 1;  // as wineserver locks it
            const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) ? '1' : '0';
            if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char ok = '0';
        const bool got = ::read(ready[0], &ok, 1) == 1;
        ::close(ready[0]);
        if (!got || ok != '1') {
            release();
            throw std::runtime_error("the child could not lock " + lock);
        }
    }
    ~WineServerLock() {
        release();
        std::error_code ec;
        fs::remove_all(ownRoot_ ? root_ : dir_, ec);
    }
    WineServerLock(const WineServerLock&) = delete;
    WineServerLock& operator=(const WineServerLock&) = delete;

    // Ends the child: the lock file stays, without a lock, as after a server exits.
    void release() {
        if (child_ > 0) {
            ::kill(child_, SIGKILL);
            int status;
            ::waitpid(child_, &status, 0);
            child_ = -1;
        }
    }
    const fs::path& folder() const { return dir_; }

  private:
    fs::path root_;
    fs::path dir_;
    bool ownRoot_ = false;
    pid_t child_ = -1;
};

}  // namespace qb::test
