// The scheduler program of a machine: one at a time per machine, found through the
// lock it holds in the machine's temporary folder, and the uninstall run that
// stops and removes it.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

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

// "/uninstall": ends the scheduler of this machine (telling "Message2" when it
// cannot), deletes the scheduler program from the program's folder, and asks
// whether the person would give feedback (without a terminal: No). False when
// the scheduler could not be ended or its file not deleted.
bool UninstallCleanup();

}  // namespace qb::app
