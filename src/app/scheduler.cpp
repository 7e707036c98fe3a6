#include "app/scheduler.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <thread>

#include "app/backup_run.h"
#include "app/schedule_setup.h"
#include "app/settings.h"
#include "platform/files.h"
#include "support/interaction.h"
#include "support/proc_list.h"
#include "support/running_check.h"

extern char** environ;

namespace qb::app {

namespace {

std::optional<std::string> lockHostPath() {
    auto host = platform::hostPath(SchedulerLockFile());
    if (!host) return std::nullopt;
    return host->string();
}

// The process id written in the lock file; 0 when there is none (yet).
pid_t readPid(int fd) {
    char buf[32] = {};
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0) return 0;
    pid_t pid = 0;
    std::from_chars(buf, buf + n, pid);
    return pid;
}

// Opens the feedback page in the desktop's browser, without waiting for it.
void openFeedbackPage() {
    const std::string url = std::string(kProductAddress) + "?v=feedback";
    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(url.c_str()), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0)
        std::cerr << "quillbox: cannot open a browser; the feedback page is " << url << "\n";
}

}  // namespace

std::string SchedulerLockFile() {
    return platform::tempFolder() + "quillsched.lock";
}

SchedulerLock::~SchedulerLock() {
    if (fd_ >= 0) ::close(fd_);
}

bool SchedulerLock::acquire(std::string* why) {
    const std::optional<std::string> path = lockHostPath();
    if (!path) {
        if (why) *why = "the machine has no folder for " + SchedulerLockFile();
        return false;
    }
    const int fd = ::open(path->c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (why) *why = "cannot open " + SchedulerLockFile() + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (why) *why = "another scheduler runs for this machine";
        ::close(fd);
        return false;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        if (why) *why = "cannot write " + SchedulerLockFile() + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

std::optional<pid_t> RunningScheduler() {
    const std::optional<std::string> path = lockHostPath();
    if (!path) return std::nullopt;
    const int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<pid_t> found;
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        ::flock(fd, LOCK_UN);
    } else {
        // The holder writes its id right after taking the lock.
        for (int attempt = 0; attempt < 50 && !found; ++attempt) {
            const pid_t pid = readPid(fd);
            if (pid > 0 && processInfo(pid)) found = pid;
            if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ::close(fd);
    return found;
}

std::vector<MissedBackup> MissedBackups(std::string_view log) {
    std::vector<MissedBackup> missed;
    std::istringstream in{std::string(log)};
    std::string line;
    while (std::getline(in, line)) {
        // time, client, file, outcome, error: one tab between each
        std::vector<std::string> fields;
        size_t from = 0;
        for (;;) {
            const size_t tab = line.find('\t', from);
            fields.push_back(line.substr(from, tab - from));
            if (tab == std::string::npos) break;
            from = tab + 1;
        }
        if (fields.size() < 4 || fields[3] == "backed up") continue;
        missed.push_back({fields[1], fields[2], fields[3], fields.size() > 4 ? fields[4] : ""});
    }
    return missed;
}

bool NotifyDesktop(const std::string& title, const std::string& body) {
    const auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY")) return false;
    return StartDetached("notify-send",
                         {"--app-name=Quillbox", "--icon=dialog-error", "--", title, body});
}

bool NotifyMissedBackups(const std::vector<MissedBackup>& missed, int exitStatus,
                         const std::string& logFile) {
    if (missed.empty() && exitStatus == 0) return false;
    std::string body;
    for (const MissedBackup& m : missed) {
        body += m.client + ": " + m.outcome;
        if (!m.error.empty()) body += " (" + m.error + ")";
        body += "\n";
    }
    if (missed.empty())
        body = "The scheduled backup ended with status " + std::to_string(exitStatus) + ".\n";
    body += "The log is " + logFile;
    return NotifyDesktop(
        missed.size() == 1 ? "Scheduled backup not made" : "Scheduled backups not made", body);
}

bool UninstallCleanup() {
    bool ok = true;
    if (const std::optional<pid_t> pid = RunningScheduler()) {
        if (!TerminateProcessAndWait(*pid, CloseGracePeriod())) {
            interaction().messageBox(MessageText("Message2"), MsgIcon::Error, MsgButtons::Ok);
            ok = false;
        }
    }
    const std::string program = settings().programFolder + std::string(kSchedulerProgram);
    if (platform::fileExists(program) && !platform::deleteFile(program)) {
        std::cerr << "quillbox: cannot delete " << program << ": " << platform::lastFileError()
                  << "\n";
        ok = false;
    }
    const std::string question = MessageText("Message50") + "\n\r" + MessageText("Message51");
    if (interaction().messageBox(question, MsgIcon::Confirmation, MsgButtons::YesNo) ==
        MsgAnswer::Yes)
        openFeedbackPage();
    return ok;
}

}  // namespace qb::app
