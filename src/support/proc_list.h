// The running processes, from the Linux process table (/proc).
//
// Programs running under Wine are listed by their Windows executable: Wine drops
// its loader from the command line, so the first word of /proc/<pid>/cmdline is
// the first word of the Windows command line ("C:\Program Files\Outlook
// Express\msimn.exe"), and the kernel's short name (comm) is that path's last
// component cut to 15 bytes. Native programs are listed by the name they were
// started under (a program started through a symlink goes by the symlink's name).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qb {

// Windows base priorities; Linux nice values and real-time scheduling map onto them.
enum : uint32_t {
    kPriorityIdle = 4,
    kPriorityBelowNormal = 6,
    kPriorityNormal = 8,
    kPriorityAboveNormal = 10,
    kPriorityHigh = 13,
    kPriorityRealTime = 24,
};

// One process.
struct TProcessInfo {
    uint32_t ProcessID = 0;
    uint32_t ParentProcessID = 0;
    uint32_t Threads = 0;
    uint32_t PriClassBase = kPriorityNormal;
    // The executable's file name, the name the process is listed by ("msimn.exe").
    std::string ExeName;
    // The full executable: the Windows path for a Wine program, the host path of
    // the binary for a native one; empty when the system does not tell.
    std::string ExeFile;
    // Whether the process runs a Windows program under Wine.
    bool Wine = false;
};

// "[Idle    ]", "[Normal  ]", "[High    ]", "[RealTime]", else "[Unknown]".
std::string PriorityClassName(uint32_t priClassBase);

// Every running process, in process-id order. Kernel threads and processes that
// have ended but not yet been reaped are left out.
std::vector<TProcessInfo> processSnapshot();
// One process by id; no value when it does not run (or has ended).
std::optional<TProcessInfo> processInfo(pid_t pid);

// The process list component: one line per executable name, sorted without
// regard to letter case, each for the first process of that name (lowest id).
class TProcList {
  public:
    struct Line {
        std::string name;
        TProcessInfo info;
    };

    // Rebuilds ProcessList from a snapshot of the running processes.
    void Refresh();

    const std::vector<Line>& ProcessList() const { return processList_; }
    // Created empty and not filled here.
    const std::vector<std::string>& ModuleList() const { return moduleList_; }

    // Process identifier of the line at `index`; 0 for an index outside the list.
    uint32_t ProcessId(int index) const;
    // Position of a name (letter case ignored), or -1.
    int IndexOf(const std::string& name) const;

  private:
    std::vector<Line> processList_;
    std::vector<std::string> moduleList_;
};

// The program's shared process list.
TProcList& ProcList1();

}  // namespace qb
