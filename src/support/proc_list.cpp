#include "support/proc_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "platform/paths.h"

namespace qb {

namespace {

constexpr unsigned long kKernelThreadFlag = 0x00200000;  // PF_KTHREAD
constexpr size_t kCommLength = 15;                       // TASK_COMM_LEN less its NUL

// Reads a small file of /proc whole; empty when it cannot be read.
std::string readProcFile(const std::string& path) {
    std::string out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
        // The first word of a command line is all we need; stop reading long ones.
        if (out.size() >= 64 * 1024) break;
    }
    ::close(fd);
    return out;
}

std::string readLink(const std::string& path) {
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string target(buf, static_cast<size_t>(n));
    constexpr std::string_view deleted = " (deleted)";
    if (target.size() > deleted.size() && target.ends_with(deleted))
        target.resize(target.size() - deleted.size());
    return target;
}

// Last component of a path with either separator.
std::string baseName(std::string_view path) {
    const size_t p = path.find_last_of("\\/");
    return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

// "C:\...", "c:/...", "\\server\share\...", "\??\C:\...".
bool isWindowsPath(std::string_view s) {
    if (s.size() >= 3 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':' &&
        (s[2] == '\\' || s[2] == '/'))
        return true;
    return s.size() >= 3 && s[0] == '\\' && (s[1] == '\\' || s[1] == '?');
}

// The binaries Wine runs Windows programs in: wine, wine64, wine-preloader,
// wine64-preloader (and the like of other builds).
bool isWineLoader(std::string_view name) {
    return name == "wine" || name == "wine64" ||
           (name.starts_with("wine") && name.ends_with("-preloader"));
}

uint32_t windowsPriority(long nice, long policy) {
    switch (policy) {
        case 1:  // SCHED_FIFO
        case 2:  // SCHED_RR
        case 6:  // SCHED_DEADLINE
            return kPriorityRealTime;
        case 5:  // SCHED_IDLE
            return kPriorityIdle;
        default:
            break;
    }
    if (nice <= -10) return kPriorityHigh;
    if (nice < 0) return kPriorityAboveNormal;
    if (nice == 0) return kPriorityNormal;
    if (nice < 15) return kPriorityBelowNormal;
    return kPriorityIdle;
}

uint32_t toU32(long v) {
    return v < 0 ? 0u : static_cast<uint32_t>(v);
}

// Reads one process; no value for kernel threads, zombies and vanished processes.
std::optional<TProcessInfo> readProcess(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/";
    const std::string stat = readProcFile(dir + "stat");
    // "pid (comm) state ppid ..."; comm may itself hold blanks and parentheses.
    const size_t open = stat.find('(');
    const size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return {};
    const std::string comm = stat.substr(open + 1, close - open - 1);

    std::vector<std::string_view> fields;  // from the state (field 3) on
    std::string_view rest(stat);
    rest.remove_prefix(close + 1);
    while (!rest.empty()) {
        while (!rest.empty() && rest.front() == ' ')
            rest.remove_prefix(1);
        const size_t end = std::min(rest.find_first_of(" \n"), rest.size());
        if (end > 0) fields.push_back(rest.substr(0, end));
        rest.remove_prefix(end);
        if (!rest.empty() && rest.front() == '\n') break;
    }
    if (fields.size() < 18) return {};
    auto number = [&](size_t i) -> long {
        if (i >= fields.size()) return 0;
        return std::strtol(std::string(fields[i]).c_str(), nullptr, 10);
    };
    const char state = fields[0].empty() ? '?' : fields[0][0];
    if (state == 'Z' || state == 'X' || state == 'x') return {};
    const unsigned long flags = std::strtoul(std::string(fields[6]).c_str(), nullptr, 10);
    if (flags & kKernelThreadFlag) return {};

    TProcessInfo info;
    info.ProcessID = static_cast<uint32_t>(pid);
    info.ParentProcessID = toU32(number(1));
    info.Threads = toU32(number(17));
    info.PriClassBase = windowsPriority(number(16), number(38));

    const std::string cmdline = readProcFile(dir + "cmdline");
    const std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
    const std::string exe = readLink(dir + "exe");
    const std::string argv0Name = baseName(argv0);

    if (isWindowsPath(argv0) ||
        (isWineLoader(baseName(exe)) && !argv0.empty() && !isWineLoader(argv0Name))) {
        info.Wine = true;
        info.ExeFile = argv0;
        info.ExeName = argv0Name;
    } else {
        info.ExeFile = !exe.empty() ? exe : (argv0.starts_with('/') ? argv0 : std::string());
        // comm is cut to 15 bytes; the started name (argv[0]) or the binary's name
        // completes it when it begins with it.
        info.ExeName = comm;
        if (comm.size() >= kCommLength || comm.empty()) {
            for (const std::string& whole : {argv0Name, baseName(exe)}) {
                if (whole.size() > comm.size() && whole.starts_with(comm)) {
                    info.ExeName = whole;
                    break;
                }
            }
        }
    }
    if (info.ExeName.empty()) return {};
    return info;
}

}  // namespace

std::string PriorityClassName(uint32_t priClassBase) {
    switch (priClassBase) {
        case kPriorityIdle:
            return "[Idle    ]";
        case kPriorityNormal:
            return "[Normal  ]";
        case kPriorityHigh:
            return "[High    ]";
        case kPriorityRealTime:
            return "[RealTime]";
        default:
            return "[Unknown]";
    }
}

std::vector<TProcessInfo> processSnapshot() {
    std::vector<pid_t> pids;
    if (DIR* d = ::opendir("/proc")) {
        while (const dirent* e = ::readdir(d)) {
            const char* name = e->d_name;
            if (*name < '1' || *name > '9') continue;
            char* end = nullptr;
            const long pid = std::strtol(name, &end, 10);
            if (end && *end == '\0' && pid > 0) pids.push_back(static_cast<pid_t>(pid));
        }
        ::closedir(d);
    }
    std::sort(pids.begin(), pids.end());
    std::vector<TProcessInfo> out;
    out.reserve(pids.size());
    for (pid_t pid : pids) {
        if (auto info = readProcess(pid)) out.push_back(std::move(*info));
    }
    return out;
}

std::optional<TProcessInfo> processInfo(pid_t pid) {
    if (pid <= 0) return {};
    return readProcess(pid);
}

void TProcList::Refresh() {
    processList_.clear();
    for (TProcessInfo& info : processSnapshot()) {
        auto pos = std::lower_bound(processList_.begin(), processList_.end(), info.ExeName,
                                    [](const Line& line, const std::string& name) {
                                        return platform::compareNoCase(line.name, name) < 0;
                                    });
        // One line per name: a later process of a listed name is not added.
        if (pos != processList_.end() && platform::equalsNoCase(pos->name, info.ExeName)) continue;
        std::string name = info.ExeName;
        processList_.insert(pos, Line{std::move(name), std::move(info)});
    }
}

uint32_t TProcList::ProcessId(int index) const {
    if (index < 0 || index >= static_cast<int>(processList_.size())) return 0;
    return processList_[static_cast<size_t>(index)].info.ProcessID;
}

int TProcList::IndexOf(const std::string& name) const {
    for (size_t i = 0; i < processList_.size(); ++i)
        if (platform::equalsNoCase(processList_[i].name, name)) return static_cast<int>(i);
    return -1;
}

TProcList& ProcList1() {
    static TProcList list;
    return list;
}

}  // namespace qb
