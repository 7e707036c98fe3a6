// The scheduler program of a machine: one at a time per machine, found through the
// lock it holds in the machine's temporary folder, and the uninstall run that
// stops and removes it.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb::app {

// The scheduler program's file name, in the program's folder.
inline constexpr std::string_view kSchedulerProgram = "quillsched";
// The product's web address; the feedback page is this followed by "?v=feedback".
inline constexpr std::string_view kProductAddress = "https://quillbox.example/";

// The lock file (a Windows path) the running scheduler of this machine holds.
std::string SchedulerLockFile();

// Held by the scheduler while it runs; names its process.
class SchedulerLock {
  public:
    SchedulerLock() = default;
    ~SchedulerLock();
    SchedulerLock(const SchedulerLock&) = delete;
    SchedulerLock& operator=(const SchedulerLock&) = delete;
    // False when another scheduler holds the lock, or the file cannot be opened
    // (the reason in `why`).
    bool acquire(std::string* why = nullptr);

  private:
    int fd_ = -1;
};

// The process of the scheduler that runs for this machine, if one does.
std::optional<pid_t> RunningScheduler();

// A scheduled backup that was not made, from a line of the scheduled run's log.
struct MissedBackup {
    std::string client;
    std::string file;
    std::string outcome;  // "failed", "skipped", "aborted"
    std::string error;
};
// The lines of the log text `log` whose outcome is not "backed up".
std::vector<MissedBackup> MissedBackups(std::string_view log);

// Shows a notification on the desktop (notify-send), without waiting for it.
// False, and nothing shown, without a desktop or without the program.
bool NotifyDesktop(const std::string& title, const std::string& body);

// The notification after a scheduled run: which clients were not backed up and
// where the log is; for a run that failed without a line, its exit status.
// Nothing when every backup was made.
bool NotifyMissedBackups(const std::vector<MissedBackup>& missed, int exitStatus,
                         const std::string& logFile);

// "/uninstall": ends the scheduler of this machine (telling "Message2" when it
// cannot), deletes the scheduler program from the program's folder, and asks
// whether the person would give feedback (without a terminal: No). False when
// the scheduler could not be ended or its file not deleted.
bool UninstallCleanup();

}  // namespace qb::app
