// quillsched: the scheduler of a machine's automatic backups. It runs until it is
// stopped or the scheduled backups are switched off, and starts "quillbox /auto"
// from its own folder whenever a backup is due: the first due time after
// "LastBackupDate", stepping by the interval from the start day and time. After
// each run it started it writes the run's start as "LastBackupDate". One
// scheduler runs per machine, and never two runs at once.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/auto_backup.h"
#include "app/date_time.h"
#include "app/schedule.h"
#include "app/scheduler.h"
#include "app/settings.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"

extern char** environ;

namespace {

using namespace qb::app;
using qb::platform::Registry;
using qb::platform::RootKey;

constexpr const char* kHelp = R"(Usage: quillsched [--check-every SECONDS]
       quillsched --help | --version

Starts "quillbox /auto" (the program beside this one) whenever a scheduled backup
is due, as the settings under HKCU\Software\Quillbox say: "AutoBackup" (on or
off), "BackupDate" and "BackupTime" (the first backup), "BackupPeriod" (0 hours,
1 days, 2 weeks, 3 months) and "BackupInterval" (units between two backups).
After each run it writes the time the run started as "LastBackupDate". When a
scheduled backup was not made, a desktop notification (notify-send) names the
client and the log file.

It checks once a minute (or every SECONDS), runs until it is stopped, and ends by
itself when "AutoBackup" is switched off. One scheduler runs per machine; a
second one ends at once.
)";

struct ScheduleValues {
    bool autoBackup = false;
    Schedule schedule;
    std::optional<LocalTime> last;
    std::string autoBackupFolder;
};

template <typename T, typename Read>
T readOr(Registry& reg, std::string_view name, T fallback, Read read) {
    try {
        if (reg.valueExists(name)) return read(name);
    } catch (const qb::platform::RegistryError&) {
    }
    return fallback;
}

ScheduleValues readScheduleValues() {
    ScheduleValues v;
    Registry reg(RootKey::CurrentUser);
    if (!reg.openKeyReadOnly(kSettingsKey)) return v;
    v.autoBackup = readOr(reg, "AutoBackup", false, [&](auto n) { return reg.readBool(n); });
    v.autoBackupFolder =
        readOr(reg, "AutoBackupDir", std::string(), [&](auto n) { return reg.readString(n); });
    const double date = readOr(reg, "BackupDate", 0.0, [&](auto n) { return reg.readDateTime(n); });
    const double time = readOr(reg, "BackupTime", 0.0, [&](auto n) { return reg.readDateTime(n); });
    v.schedule.start = ScheduleStart(date, time);
    v.schedule.period =
        readOr(reg, "BackupPeriod", int32_t{3}, [&](auto n) { return reg.readInteger(n); });
    v.schedule.interval =
        readOr(reg, "BackupInterval", int32_t{2}, [&](auto n) { return reg.readInteger(n); });
    const double last = readOr(reg, "LastBackupDate", std::numeric_limits<double>::quiet_NaN(),
                               [&](auto n) { return reg.readDateTime(n); });
    if (std::isfinite(last)) v.last = FromDateTime(last);
    return v;
}

void writeLastBackupDate(LocalTime t) {
    try {
        // The run changed the registry files: read them afresh before writing.
        qb::platform::unloadRegistry();
        Registry reg(RootKey::CurrentUser);
        if (reg.openKey(kSettingsKey, true)) reg.writeDateTime("LastBackupDate", ToDateTime(t));
        reg.closeKey();
        qb::platform::flushRegistry();
    } catch (const std::exception& e) {
        std::cerr << "quillsched: cannot write LastBackupDate: " << e.what() << "\n";
    }
}

// Waits up to `ms` for a stop signal; true when one came.
bool stopRequested(const sigset_t& signals, long ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    for (;;) {
        const int sig = ::sigtimedwait(&signals, nullptr, &ts);
        if (sig > 0) return true;
        if (errno == EINTR) continue;
        return false;
    }
}

enum class RunEnd { Finished, Stopped, NotStarted };

// Runs "quillbox /auto" and waits for it, watching for a stop signal meanwhile.
RunEnd runAuto(const std::string& program, const sigset_t& signals, int& status) {
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    std::string arg0 = program, arg1 = "/auto";
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        std::cerr << "quillsched: cannot start " << program << ": " << std::strerror(rc) << "\n";
        return RunEnd::NotStarted;
    }
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return RunEnd::Finished;
        if (done < 0 && errno != EINTR) return RunEnd::Finished;
        if (stopRequested(signals, 200)) return RunEnd::Stopped;
    }
}

// The log of the scheduled runs, as a path of this computer; empty when the
// folder is not set or not on the machine.
std::string autoLogFile(const std::string& folder) {
    if (folder.empty()) return {};
    const auto host = qb::platform::hostPath(qb::platform::includeTrailingBackslash(folder) +
                                             std::string(kAutoBackupLogName));
    return host ? host->string() : std::string();
}

uintmax_t fileSize(const std::string& file) {
    std::error_code ec;
    const uintmax_t size = file.empty() ? 0 : std::filesystem::file_size(file, ec);
    return ec ? 0 : size;
}

// What the run added to the log after `from` bytes.
std::string logAddedAfter(const std::string& file, uintmax_t from) {
    if (file.empty()) return {};
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    in.seekg(static_cast<std::streamoff>(from));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// After a run: a desktop notification when a scheduled backup was not made.
void tellMissedBackups(const std::string& logBefore, uintmax_t sizeBefore, int exitStatus) {
    qb::platform::unloadRegistry();
    const std::string log = autoLogFile(readScheduleValues().autoBackupFolder);
    const std::string added = logAddedAfter(log, log == logBefore ? sizeBefore : 0);
    NotifyMissedBackups(MissedBackups(added), exitStatus,
                        log.empty() ? std::string(kAutoBackupLogName) : log);
}

std::string quillboxBeside() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (self.parent_path() / "quillbox").string();
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    long checkMs = 60000;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::cout << kHelp;
            return 0;
        }
        if (args[i] == "--version") {
            std::cout << "quillsched " QB_VERSION "\n";
            return 0;
        }
        if (args[i] == "--check-every" && i + 1 < args.size()) {
            double seconds = 0;
            const std::string& v = args[++i];
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), seconds);
            if (ec == std::errc() && end == v.data() + v.size() && seconds > 0 && seconds < 86400) {
                checkMs = std::max(1L, std::lround(seconds * 1000));
                continue;
            }
        }
        std::cerr << "quillsched: invalid parameter \"" << args[i] << "\"; see quillsched --help\n";
        return 1;
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &signals, nullptr);

    try {
        SchedulerLock lock;
        std::string why;
        if (!lock.acquire(&why)) {
            if (const std::optional<pid_t> other = RunningScheduler()) {
                std::cerr << "quillsched: a scheduler already runs for this machine (process "
                          << *other << ")\n";
                return 0;
            }
            std::cerr << "quillsched: " << why << "\n";
            return 1;
        }
        const std::string program = quillboxBeside();
        std::optional<LocalTime> lastRun;
        // The due time last told (max: the period is unknown), so each is told once.
        LocalTime announced = LocalTime::min();
        for (;;) {
            qb::platform::unloadRegistry();
            const ScheduleValues v = readScheduleValues();
            if (!v.autoBackup) {
                std::cerr << "quillsched: scheduled backups are switched off; ending\n";
                return 0;
            }
            LocalTime last =
                v.last ? *v.last : PreviousDueTime(v.schedule).value_or(v.schedule.start);
            if (lastRun && *lastRun > last) last = *lastRun;
            const std::optional<LocalTime> due = NextDueTime(v.schedule, last);
            if (!due) {
                if (announced != LocalTime::max())
                    std::cerr << "quillsched: the backup period is unknown\n";
                announced = LocalTime::max();
            } else if (LocalNow() >= *due) {
                const LocalTime started = LocalNow();
                std::cerr << "quillsched: " << FormatLocalTime(started) << " starting " << program
                          << " /auto\n";
                const std::string log = autoLogFile(v.autoBackupFolder);
                const uintmax_t logSize = fileSize(log);
                int status = 0;
                const RunEnd end = runAuto(program, signals, status);
                if (end == RunEnd::Stopped) return 0;
                // A run that cannot start is not tried again before the next due time.
                lastRun = started;
                if (end == RunEnd::Finished) {
                    std::cerr << "quillsched: quillbox /auto ended with status "
                              << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << "\n";
                    writeLastBackupDate(started);
                    tellMissedBackups(log, logSize, WIFEXITED(status) ? WEXITSTATUS(status) : 128);
                }
                continue;
            } else if (announced != *due) {
                std::cerr << "quillsched: next backup at " << FormatLocalTime(*due) << "\n";
                announced = *due;
            }
            if (stopRequested(signals, checkMs)) return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << "quillsched: " << e.what() << "\n";
        return 1;
    }
}
