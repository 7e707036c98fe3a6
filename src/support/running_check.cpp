#include "support/running_check.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <set>
#include <thread>

#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/text_codec.h"
#include "support/proc_list.h"
#include "support/win_list.h"

namespace qb {

namespace {

using std::chrono::milliseconds;

// How long a killed program may take to go away before we give up on it.
constexpr milliseconds kKillWait{10000};

CloseProgramsDialog*& currentDialog() {
    static CloseProgramsDialog* impl = nullptr;
    return impl;
}

ConsoleCloseProgramsDialog& consoleDialog() {
    static ConsoleCloseProgramsDialog console;
    return console;
}

int& dialogTag() {
    static int tag = 0;
    return tag;
}

milliseconds& gracePeriod() {
    static milliseconds grace{5000};
    return grace;
}

bool waitPidfd(int fd, milliseconds timeout) {
    pollfd p{fd, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::ceil<milliseconds>(deadline - std::chrono::steady_clock::now());
        const int r = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
        if (r == 0 && std::chrono::steady_clock::now() >= deadline) return false;
    }
}

// Without pidfds: watch the process table until the process is gone or a zombie.
bool waitPolling(pid_t pid, milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (!processInfo(pid)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
}

bool terminateWithoutPidfd(pid_t pid, milliseconds grace) {
    if (::kill(pid, SIGTERM) != 0) return false;
    if (waitPolling(pid, grace)) return true;
    if (::kill(pid, SIGKILL) != 0) return errno == ESRCH;
    return waitPolling(pid, kKillWait);
}

// Through syscall(): glibc's own wrappers are missing before 2.36 and are declared
// without C linkage in 2.36.
int pidfdOpen(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0u));
}

bool pidfdSignal(int fd, int sig) {
    return ::syscall(SYS_pidfd_send_signal, fd, sig, nullptr, 0u) == 0;
}

const char* choiceWord(CloseChoice c) {
    switch (c) {
        case CloseChoice::Ok:
            return "ok";
        case CloseChoice::CloseAll:
            return "close all";
        case CloseChoice::Wait:
            return "wait";
        case CloseChoice::Cancel:
            break;
    }
    return "cancel";
}

// Window titles and process names come from other programs: control characters
// (terminal escape sequences among them) are shown escaped.
std::string printable(std::string_view text) {
    return platform::escapeControls(text);
}

}  // namespace

CloseProgramsDialog& closeProgramsDialog() {
    CloseProgramsDialog* impl = currentDialog();
    return impl ? *impl : consoleDialog();
}

CloseProgramsDialog* setCloseProgramsDialog(CloseProgramsDialog* impl) {
    CloseProgramsDialog* previous = currentDialog();
    currentDialog() = impl;
    return previous;
}

CloseChoice ConsoleCloseProgramsDialog::show(const std::vector<std::string>& windows,
                                             bool showWait) {
    std::cerr << "quillbox: Active windows...: To backup you must close these programs:\n";
    for (const std::string& w : windows)
        std::cerr << "quillbox:   " << printable(w) << "\n";
    if (!::isatty(STDIN_FILENO)) {
        std::cerr << "quillbox: no terminal to ask; answering cancel\n";
        return CloseChoice::Cancel;
    }
    std::vector<CloseChoice> options = {CloseChoice::Ok, CloseChoice::CloseAll};
    if (showWait) options.push_back(CloseChoice::Wait);
    options.push_back(CloseChoice::Cancel);
    for (;;) {
        std::cerr << "[";
        for (size_t i = 0; i < options.size(); ++i)
            std::cerr << (i ? "/" : "") << choiceWord(options[i]);
        std::cerr << "]? " << std::flush;
        std::string line;
        if (!std::getline(std::cin, line)) return CloseChoice::Cancel;
        line = platform::lowerAscii(line);
        // A whole word, or "close" for "close all".
        for (CloseChoice c : options) {
            const std::string word = choiceWord(c);
            if (line == word || (c == CloseChoice::CloseAll && line == "close")) return c;
        }
    }
}

CloseChoice ScriptedCloseProgramsDialog::show(const std::vector<std::string>& windows,
                                              bool showWait) {
    shown.push_back(windows);
    waitShown.push_back(showWait);
    if (onShow) onShow(static_cast<int>(shown.size()) - 1);
    if (next_ < answers_.size()) return answers_[next_++];
    return CloseChoice::Cancel;
}

std::vector<std::string> RunningCheckProgramNames(ClientKind kind, bool backup) {
    if (backup) {
        // A backup only reads the client's files; only these two hold them locked.
        switch (kind) {
            case kind::Outlook:
                return {"outlook.exe"};
            case kind::Netscape4:
                return {"netscape.exe"};
            default:
                return {};
        }
    }
    switch (kind) {
        case kind::OutlookExpress:
            return {"msimn.exe"};
        case kind::Outlook:
            return {"outlook.exe"};
        case kind::Eudora:
            return {"eudora.exe"};
        case kind::IncrediMail:
            return {"incredimail.exe", "incred~1.exe", "incmail.exe", "imapp.exe"};
        case kind::PegasusMail:
            return {"winpm-32.exe"};
        case kind::TheBat:
            return {"thebat.exe"};
        case kind::PocoMail2:
        case kind::PocoMail3:
        case kind::PocoMail2PE:
            return {"poco.exe"};
        case kind::Opera6:
        case kind::Opera7:
            return {"opera.exe"};
        case kind::Netscape4:
            // Netscape 4 runs as netscape.exe (the backup looks for that name); a
            // restore that looked for netscp.exe only would overwrite the settings
            // of a running Netscape 4.
            return {"netscp.exe", "netscape.exe"};
        case kind::Mozilla:
            return {"netscp.exe"};
        default:
            return {};
    }
}

bool CheckRunningClient(ClientKind kind, bool backup) {
    // For a client with several names, a name whose dialog ended otherwise than
    // by Cancel goes on to the next.
    for (const std::string& name : RunningCheckProgramNames(kind, backup))
        if (AskToCloseWindows(name)) return true;
    return false;
}

namespace {

namespace fs = std::filesystem;

bool sameFolder(const fs::path& a, const fs::path& b) {
    std::error_code ea, eb;
    const fs::path ca = fs::weakly_canonical(a, ea);
    const fs::path cb = fs::weakly_canonical(b, eb);
    return !ea && !eb && ca == cb;
}

}  // namespace

bool RunsInThisMachine(uint32_t processId) {
    const auto info = processInfo(static_cast<pid_t>(processId));
    if (!info) return false;
    // The environment of another user's process cannot be read: not ours.
    std::ifstream f("/proc/" + std::to_string(processId) + "/environ", std::ios::binary);
    if (!f) return false;
    const std::string env((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    auto value = [&](std::string_view name) -> std::optional<std::string> {
        const std::string key = std::string(name) + "=";
        for (size_t at = 0; at < env.size();) {
            const size_t end = std::min(env.find('\0', at), env.size());
            if (env.compare(at, key.size(), key) == 0)
                return env.substr(at + key.size(), end - at - key.size());
            at = end + 1;
        }
        return std::nullopt;
    };
    const fs::path prefix = platform::Machine::current().prefix();
    const auto winePrefix = value("WINEPREFIX");
    for (const auto& named : {value("QUILLBOX_PREFIX"), winePrefix})
        if (named && !named->empty() && sameFolder(*named, prefix)) return true;
    // A Windows program started without a prefix runs in Wine's default one.
    if (info->Wine && (!winePrefix || winePrefix->empty()))
        if (const auto home = value("HOME"); home && !home->empty())
            return sameFolder(fs::path(*home) / ".wine", prefix);
    return false;
}

std::vector<RunningProgram> FindRunningProgram(std::string_view programName) {
    std::vector<RunningProgram> out;
    const std::string needle = platform::lowerAscii(programName);
    if (needle.empty()) return out;
    const auto self = static_cast<uint32_t>(::getpid());

    TWinList& windows = WinList1();
    windows.Refresh();
    std::set<uint32_t> withWindow;
    for (const TWinList::Line& line : windows.WindowList()) {
        const uint32_t pid = line.info.ProcessID;
        if (pid != 0) withWindow.insert(pid);
        if (pid == self) continue;
        if (platform::lowerAscii(line.info.ExeFile).find(needle) == std::string::npos) continue;
        if (platform::lowerAscii(line.title) == "mci command handling window") continue;
        if (!RunsInThisMachine(pid)) continue;
        out.push_back({line.title, pid});
    }
    // A client without a window we can see still holds its files: without a
    // display, or under Wine, whose hidden and tray-only windows the X server never
    // shows, its process is all there is to find.
    for (const TProcessInfo& p : processSnapshot()) {
        if (p.ProcessID == self || withWindow.count(p.ProcessID)) continue;
        if (platform::lowerAscii(p.ExeName).find(needle) == std::string::npos) continue;
        if (!RunsInThisMachine(p.ProcessID)) continue;
        out.push_back({p.ExeName + " (process " + std::to_string(p.ProcessID) + ")", p.ProcessID});
    }
    return out;
}

void CloseAllPrograms(std::vector<std::string>& lines, std::string_view programName) {
    std::set<uint32_t> ended;
    for (const RunningProgram& program : FindRunningProgram(programName)) {
        if (lines.empty()) break;
        if (program.line != lines.front()) continue;
        // A second window of a process already ended only loses its line.
        if (program.processId != 0 && !ended.count(program.processId)) {
            TerminateProcessAndWait(static_cast<pid_t>(program.processId), gracePeriod());
            ended.insert(program.processId);
        }
        lines.erase(lines.begin());
    }
}

bool TerminateProcessAndWait(pid_t pid, milliseconds grace) {
    if (pid <= 1 || pid == ::getpid()) return false;
    // A pidfd keeps naming this process even if its id is reused meanwhile, and
    // becomes readable when it ends (also for processes that are not our children).
    const int fd = pidfdOpen(pid);
    if (fd < 0) return errno == ENOSYS ? terminateWithoutPidfd(pid, grace) : false;
    bool ended = false;
    if (pidfdSignal(fd, SIGTERM)) {
        ended = waitPidfd(fd, grace);
        if (!ended && pidfdSignal(fd, SIGKILL)) ended = waitPidfd(fd, kKillWait);
    }
    ::close(fd);
    return ended;
}

bool AskToCloseWindows(std::string_view programName) {
    int& tag = dialogTag();
    tag = 0;
    for (;;) {
        std::vector<RunningProgram> running = FindRunningProgram(programName);
        if (running.empty()) return false;
        std::vector<std::string> lines;
        lines.reserve(running.size());
        for (RunningProgram& r : running)
            lines.push_back(std::move(r.line));

        const bool showWait = tag == static_cast<int>(CloseChoice::Wait);
        tag = 0;
        const CloseChoice choice = closeProgramsDialog().show(lines, showWait);
        if (choice == CloseChoice::CloseAll) {
            CloseAllPrograms(lines, programName);
            tag = static_cast<int>(CloseChoice::CloseAll);
            return false;
        }
        tag = static_cast<int>(choice);
        // OK and "Wait 5 minutes": look again at once; the dialog comes back as
        // long as anything is found.
        if (choice == CloseChoice::Ok || choice == CloseChoice::Wait) continue;
        return true;
    }
}

std::chrono::milliseconds CloseGracePeriod() {
    return gracePeriod();
}

void SetCloseGracePeriod(std::chrono::milliseconds grace) {
    gracePeriod() = grace;
}

int CloseDialogTag() {
    return dialogTag();
}

}  // namespace qb
