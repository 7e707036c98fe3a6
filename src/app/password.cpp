#include "app/password.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/backup_run.h"
#include "app/command_line.h"
#include "app/settings.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace qb::app {

namespace {

constexpr std::string_view kFileSwitch = "--password-file";
constexpr std::string_view kAskSwitch = "--ask-password";
// A password file is read up to this size: its first line is all that counts.
constexpr size_t kMaxPasswordFile = 64 << 10;

// The echo of the terminal is off while the object lives.
class EchoOff {
  public:
    EchoOff() {
        if (::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        active_ = ::tcsetattr(STDIN_FILENO, TCSADRAIN, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_) ::tcsetattr(STDIN_FILENO, TCSADRAIN, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    termios saved_{};
    bool active_ = false;
};

void wipe(std::string& s) {
    volatile char* p = s.data();
    for (size_t i = 0; i < s.size(); ++i)
        p[i] = 0;
    s.clear();
}

}  // namespace

bool TakePasswordOptions(std::vector<std::string>& params, PasswordOptions& options,
                         std::string& error) {
    std::vector<std::string> rest;
    for (size_t i = 0; i < params.size(); ++i) {
        const std::string& p = params[i];
        if (p == kAskSwitch) {
            options.ask = true;
        } else if (p == kFileSwitch) {
            if (i + 1 >= params.size() || params[i + 1].empty()) {
                error = "--password-file needs a file: --password-file FILE";
                return false;
            }
            options.file = params[++i];
        } else if (p.starts_with(std::string(kFileSwitch) + "=")) {
            options.file = p.substr(kFileSwitch.size() + 1);
            if (options.file.empty()) {
                error = "--password-file needs a file: --password-file FILE";
                return false;
            }
        } else {
            rest.push_back(p);
        }
    }
    params = std::move(rest);
    return true;
}

std::optional<std::string> ReadPasswordFile(std::string_view file, std::string& error) {
    const std::string shownName(file);
    const auto host = platform::hostPath(CommandLinePath(file));
    if (!host) {
        error = "the password file " + shownName + " is no path of this computer or the machine";
        return std::nullopt;
    }
    const int fd = ::open(host->c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = "cannot read the password file " + shownName + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    std::string text;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && (st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        ::close(fd);
        error = "the password file " + shownName +
                " can be read by others; make it readable only by you (chmod 600)";
        return std::nullopt;
    }
    char buf[4096];
    while (ok && text.size() < kMaxPasswordFile && text.find('\n') == std::string::npos) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    std::memset(buf, 0, sizeof buf);
    ::close(fd);
    if (!ok) {
        wipe(text);
        error = "cannot read the password file " + shownName;
        return std::nullopt;
    }
    std::string line = text.substr(0, text.find('\n'));
    wipe(text);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
        error = "the password file " + shownName + " holds no password on its first line";
        return std::nullopt;
    }
    return line;
}

std::optional<std::string> PasswordFromEnvironment() {
    const char* v = std::getenv(std::string(kPasswordVariable).c_str());
    if (!v || !*v) return std::nullopt;
    return std::string(v);
}

bool CanAskOnTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

std::optional<std::string> AskOnTerminal(std::string_view prompt) {
    if (!CanAskOnTerminal()) return std::nullopt;
    // The echo goes off before the prompt shows, so that nothing typed after it
    // is shown; what was typed ahead is kept.
    EchoOff quiet;
    std::cerr << prompt << std::flush;
    std::string line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            wipe(line);
            return std::nullopt;
        }
        if (c == '\n') break;
        line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

JobPasswordScope::JobPasswordScope(std::string password) {
    jobs::archiveJob().password = std::move(password);
}

JobPasswordScope::~JobPasswordScope() {
    wipe(jobs::archiveJob().password);
}

std::optional<std::string> PasswordTooShort(std::string_view password) {
    if (password.size() >= kMinPasswordLength) return std::nullopt;
    return MessageText("Message23");
}

namespace {

// The environment's password when no other source gave one; then the length rule,
// naming where the password came from.
std::optional<RunPassword> FromEnvironmentAndChecked(RunPassword r, std::string& error) {
    if (r.source.empty()) {
        if (std::optional<std::string> p = PasswordFromEnvironment()) {
            r.password = std::move(*p);
            r.source = "QUILLBOX_PASSWORD";
        }
    }
    if (!r.password.empty()) {
        if (std::optional<std::string> why = PasswordTooShort(r.password)) {
            error = *why + " (" + r.source + ")";
            return std::nullopt;
        }
    }
    return r;
}

}  // namespace

std::optional<RunPassword> BackupPassword(const PasswordOptions& options, std::string& error) {
    RunPassword r;
    if (!options.file.empty()) {
        std::optional<std::string> p = ReadPasswordFile(options.file, error);
        if (!p) return std::nullopt;
        r.password = std::move(*p);
        r.source = "the password file " + options.file;
    } else if (options.ask) {
        if (!CanAskOnTerminal()) {
            error = "--ask-password needs a terminal to ask on";
            return std::nullopt;
        }
        std::optional<std::string> first = AskOnTerminal("Password for the backup: ");
        std::optional<std::string> second =
            first ? AskOnTerminal("The same password again: ") : std::nullopt;
        if (!first || !second) {
            error = "no password was typed";
            return std::nullopt;
        }
        const bool same = *first == *second;
        wipe(*second);
        if (!same) {
            wipe(*first);
            error = "the two passwords typed differ";
            return std::nullopt;
        }
        r.password = std::move(*first);
        r.source = "the password typed";
    }
    return FromEnvironmentAndChecked(std::move(r), error);
}

std::optional<RunPassword> ScheduledBackupPassword(std::string& error) {
    RunPassword r;
    const std::string file =
        platform::readStringValue(platform::RootKey::CurrentUser, kSettingsKey, kPasswordFileValue);
    if (!file.empty()) {
        std::optional<std::string> p = ReadPasswordFile(file, error);
        if (!p) return std::nullopt;
        r.password = std::move(*p);
        r.source = "the password file " + file;
    }
    return FromEnvironmentAndChecked(std::move(r), error);
}

}  // namespace qb::app
