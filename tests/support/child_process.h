// Real child processes for the process list and running check tests: a long
// sleep started under a chosen name (through a symlink) or with a chosen argv[0]
// (as Wine sets the Windows path), and an Xvfb display when one is installed.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qb::test {

inline std::string sleepBinary() {
    for (const char* p : {"/usr/bin/sleep", "/bin/sleep"})
        if (::access(p, X_OK) == 0) return p;
    throw std::runtime_error("no sleep binary");
}

struct ChildOptions {
    bool ignoreTerm = false;  // the program ignores SIGTERM
    int nice = 0;
    int displayFd = -1;  // left open in the child (for Xvfb -displayfd)
    bool quiet = false;  // stderr to /dev/null
};

class ChildProcess {
  public:
    using Options = ChildOptions;

    // Starts `path` with `argv` and returns once the exec has happened (the
    // process then shows its new name in /proc).
    ChildProcess(const std::string& path, const std::vector<std::string>& argv)
        : ChildProcess(path, argv, Options{}) {}
    ChildProcess(const std::string& path, const std::vector<std::string>& argv, Options opt) {
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        int sync[2];
        if (::pipe2(sync, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            ::close(sync[0]);
            if (opt.ignoreTerm) ::signal(SIGTERM, SIG_IGN);
            if (opt.nice && ::nice(opt.nice) == -1) ::_exit(126);
            if (opt.displayFd >= 0) ::fcntl(opt.displayFd, F_SETFD, 0);
            const int devnull = ::open("/dev/null", O_RDWR);
            if (devnull >= 0) {
                ::dup2(devnull, STDIN_FILENO);
                ::dup2(devnull, STDOUT_FILENO);
                if (opt.quiet) ::dup2(devnull, STDERR_FILENO);
            }
            ::execv(path.c_str(), args.data());
            const int err = errno;
            (void)!::write(sync[1], &err, sizeof err);
            ::_exit(127);
        }
        ::close(sync[1]);
        int err = 0;
        const ssize_t n = ::read(sync[0], &err, sizeof err);
        ::close(sync[0]);
        if (n > 0) {
            reap();
            throw std::runtime_error("cannot start " + path + ": errno " + std::to_string(err));
        }
    }

    // A long sleep whose executable is `dir/name` (a symlink to sleep).
    static ChildProcess namedSleep(const std::filesystem::path& dir, const std::string& name,
                                   Options opt = {}) {
        const auto link = dir / name;
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(link)))
            std::filesystem::create_symlink(sleepBinary(), link);
        return ChildProcess(link.string(), {link.string(), "300"}, opt);
    }
    // A long sleep whose command line begins with a Windows path, as under Wine.
    static ChildProcess wineLike(const std::string& windowsPath) {
        return ChildProcess(sleepBinary(), {windowsPath, "300"});
    }

    ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_), status_(other.status_) {
        other.pid_ = -1;
    }
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            reap();
        }
    }

    pid_t pid() const { return pid_; }

    // Asks the program to end (SIGTERM) and collects it.
    int terminate() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        return reap();
    }
    // Waits until the process has ended, without collecting it.
    void waitEnded() const {
        while (!ended())
            ::usleep(1000);
    }

    // Collects the exit status; returns it (as waitpid reports it).
    int reap() {
        if (pid_ <= 0) return status_;
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status_;
    }
    // Whether the process has ended (it may wait as a zombie for reap()).
    bool ended() const {
        if (pid_ <= 0) return true;
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == pid_;
    }

  private:
    pid_t pid_ = -1;
    int status_ = 0;
};

// A process id that no process has any more (a child that ended and was reaped).
inline pid_t goneProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

// Sets or unsets an environment variable for a scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace qb::test
