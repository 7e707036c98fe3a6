#include "app/schedule_setup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/backup_run.h"
#include "app/date_time.h"
#include "app/schedule.h"
#include "app/scheduler.h"
#include "catalog/identities.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/interaction.h"
#include "support/running_check.h"

extern char** environ;

namespace qb::app {

namespace fs = std::filesystem;
using platform::Registry;
using platform::RootKey;

namespace {

std::string entryKey(ClientKind kind) {
    return std::string(kScheduleKey) + "\\" + std::to_string(kind);
}

// The scheduler and the scheduled runs write the same registry files while the
// window is open: every change here starts from what the files hold now.
void rereadRegistry() {
    platform::unloadRegistry();
}

// The marks stored under `key` for `names`: for each name, every stored value
// whose name matches sets the mark.
void readMarks(const std::string& key, std::vector<std::pair<std::string, bool>>& names,
               bool ignoreCase) {
    Registry reg(RootKey::CurrentUser);
    if (!reg.openKeyReadOnly(key)) return;
    for (const std::string& stored : reg.valueNames()) {
        bool mark = false;
        try {
            mark = reg.readBool(stored);
        } catch (const platform::RegistryError&) {
            continue;  // a value of another type chooses nothing
        }
        for (auto& [name, checked] : names)
            if (ignoreCase ? platform::equalsNoCase(name, stored) : name == stored) checked = mark;
    }
}

void writeMarks(const std::string& key, const std::vector<std::pair<std::string, bool>>& names) {
    Registry reg(RootKey::CurrentUser);
    reg.deleteKey(key);
    if (!reg.openKey(key, true)) return;
    for (const auto& [name, checked] : names)
        reg.writeBool(name, checked);
}

// One argument of a desktop entry's Exec line: quoted when it holds a reserved
// character, then escaped as the entry's string values are.
std::string execArgument(const std::string& arg) {
    static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string quoted;
    if (arg.find_first_of(kReserved) == std::string::npos && !arg.empty()) {
        quoted = arg;
    } else {
        quoted = "\"";
        for (char c : arg) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            quoted += c;
        }
        quoted += '"';
    }
    std::string out;
    for (char c : quoted) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '%')
            out += "%%";
        else
            out += c;
    }
    return out;
}

// The key that marks the machine an autostart entry belongs to.
constexpr std::string_view kPrefixKey = "X-Quillbox-Prefix=";

std::string prefixLine(const fs::path& prefix) {
    return std::string(kPrefixKey) + prefix.string();
}

bool writeAutostartEntry(const fs::path& program, const fs::path& prefix) {
    const fs::path file = AutostartEntryPath();
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const fs::path tmp = file.string() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << AutostartEntryText(program, prefix);
        if (!out.flush()) {
            std::cerr << "quillbox: cannot write the autostart entry " << file.string() << "\n";
            return false;
        }
    }
    fs::rename(tmp, file, ec);
    if (ec) {
        std::cerr << "quillbox: cannot write the autostart entry " << file.string() << ": "
                  << ec.message() << "\n";
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

// Removes the autostart entry when it starts the scheduler of `prefix`; an entry
// of another machine stays.
void removeAutostartEntry(const fs::path& prefix) {
    const fs::path file = AutostartEntryPath();
    std::ifstream in(file, std::ios::binary);
    if (!in) return;
    std::string line;
    bool ours = false;
    while (std::getline(in, line))
        if (line == prefixLine(prefix)) ours = true;
    in.close();
    std::error_code ec;
    if (ours && !fs::remove(file, ec) && ec)
        std::cerr << "quillbox: cannot remove the autostart entry " << file.string() << ": "
                  << ec.message() << "\n";
}

// `program` found on PATH (as the shell would), or itself when it names a folder.
std::string searchPath(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

void reportProblem(const std::string& what, const std::exception& e) {
    std::cerr << "quillbox: " << what << ": " << e.what() << "\n";
}

}  // namespace

double LastBackupDateFor(double date, double time, int32_t interval, int32_t period) {
    Schedule s;
    s.start = ScheduleStart(date, time);
    s.period = period;
    s.interval = interval;
    return ToDateTime(PreviousDueTime(s).value_or(s.start));
}

std::vector<bool> PrepareScheduleEntries(const std::vector<ClientKind>& codes) {
    rereadRegistry();
    std::vector<bool> selected;
    selected.reserve(codes.size());
    for (ClientKind code : codes) {
        Registry reg(RootKey::CurrentUser);
        bool on = false;
        if (reg.openKey(entryKey(code), true)) {
            if (!reg.valueExists("Selected")) reg.writeBool("Selected", false);
            try {
                on = reg.readBool("Selected");
            } catch (const platform::RegistryError&) {
                on = false;  // a value of another type does not schedule the client
            }
        }
        selected.push_back(on);
    }
    return selected;
}

void WriteScheduleSelected(const std::vector<std::pair<ClientKind, bool>>& entries) {
    rereadRegistry();
    for (const auto& [code, on] : entries) {
        Registry reg(RootKey::CurrentUser);
        if (reg.openKey(entryKey(code), true)) reg.writeBool("Selected", on);
    }
}

ScheduleChoices LoadScheduleChoices(ClientKind kind) {
    rereadRegistry();
    ScheduleChoices c;
    std::vector<std::string> identities, items;
    c.itemsSelectable = ListIdentitiesAndItems(kind, identities, items);
    for (std::string& name : identities)
        c.identities.emplace_back(std::move(name), false);
    for (std::string& name : items)
        c.items.emplace_back(std::move(name), false);
    readMarks(entryKey(kind) + "\\Identity", c.identities, true);
    readMarks(entryKey(kind) + "\\Items", c.items, false);
    if (!c.itemsSelectable)
        for (auto& item : c.items)
            item.second = true;
    return c;
}

void SaveScheduleChoices(ClientKind kind, const ScheduleChoices& choices) {
    rereadRegistry();
    writeMarks(entryKey(kind) + "\\Identity", choices.identities);
    writeMarks(entryKey(kind) + "\\Items", choices.items);
}

void SaveScheduleTiming(const Settings& s, double lastBackupDate) {
    rereadRegistry();
    Registry reg(RootKey::CurrentUser);
    if (!reg.openKey(kSettingsKey, true)) return;
    reg.writeBool("AutoBackup", s.autoBackupEnabled);
    reg.writeString("AutoBackupDir", s.autoBackupFolder);
    reg.writeDateTime("BackupTime", s.scheduleTime);
    reg.writeDateTime("BackupDate", s.scheduleDate);
    reg.writeInteger("BackupPeriod", s.schedulePeriod);
    reg.writeInteger("BackupInterval", s.scheduleInterval);
    reg.writeDateTime("LastBackupDate", lastBackupDate);
}

std::string SchedulerProgramPath() {
    return settings().programFolder + std::string(kSchedulerProgram);
}

fs::path AutostartEntryPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    fs::path base;
    if (config && *config == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home && *home ? home : "/") / ".config";
    }
    return base / "autostart" / "quillsched.desktop";
}

std::string AutostartEntryText(const fs::path& program, const fs::path& prefix) {
    std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Quillbox scheduler\n"
        "Comment=Starts the scheduled backups of e-mail clients\n";
    text += "Exec=env " + execArgument("QUILLBOX_PREFIX=" + prefix.string()) + " " +
            execArgument(program.string()) + "\n";
    text +=
        "Terminal=false\n"
        "NoDisplay=true\n";
    text += prefixLine(prefix) + "\n";
    return text;
}

bool SetSchedulerEnabled(bool enabled) {
    settings().autoBackupEnabled = enabled;
    const std::string program = SchedulerProgramPath();
    const fs::path prefix = platform::Machine::current().prefix();
    try {
        rereadRegistry();
        Registry reg(RootKey::CurrentUser);
        if (reg.openKey(kSettingsKey, true)) reg.writeBool("AutoBackup", enabled);
    } catch (const std::exception& e) {
        reportProblem("cannot switch \"AutoBackup\"", e);
    }
    if (enabled) {
        try {
            Registry reg(RootKey::LocalMachine);
            if (reg.openKey(kRunKey, true)) reg.writeString(kRunValue, program);
        } catch (const std::exception& e) {
            reportProblem("cannot register the scheduler to run at logon", e);
        }
        const std::optional<fs::path> host = platform::hostPath(program);
        if (host) writeAutostartEntry(*host, prefix);
        if (RunningScheduler()) return true;
        if (!host || !StartDetached(host->string(), {}, {"QUILLBOX_PREFIX=" + prefix.string()})) {
            interaction().messageBox(MessageText("Message49"), MsgIcon::Error, MsgButtons::Ok);
            return false;
        }
        return true;
    }
    try {
        Registry reg(RootKey::LocalMachine);
        if (reg.openKey(kRunKey, false)) reg.deleteValue(kRunValue);
    } catch (const std::exception& e) {
        reportProblem("cannot remove the scheduler's logon registration", e);
    }
    removeAutostartEntry(prefix);
    if (const std::optional<pid_t> pid = RunningScheduler()) {
        if (!TerminateProcessAndWait(*pid, CloseGracePeriod())) {
            interaction().messageBox(MessageText("Message2"), MsgIcon::Error, MsgButtons::Ok);
            return false;
        }
    }
    return true;
}

bool StartDetached(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& env) {
    const std::string path = searchPath(program);
    if (path.empty()) return false;
    // Everything the new process needs is made before forking: a window program
    // has threads, and the child may only make async-signal-safe calls.
    std::vector<std::string> envText;
    for (char** e = environ; e && *e; ++e) {
        const std::string_view entry(*e);
        const std::string_view name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& add : env)
            if (std::string_view(add).substr(0, add.find('=')) == name) replaced = true;
        if (!replaced) envText.emplace_back(entry);
    }
    envText.insert(envText.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argText{program};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argText)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;
    const int devnull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    sigset_t none;
    sigemptyset(&none);
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        if (devnull >= 0) ::close(devnull);
        return false;
    }
    if (child == 0) {
        // The middle process ends at once, so the program is nobody's child to wait for.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            if (devnull >= 0) ::dup2(devnull, STDIN_FILENO);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::execve(path.c_str(), argv.data(), envp.data());
            const int err = errno;
            (void)!::write(report[1], &err, sizeof err);
            ::_exit(127);
        }
        if (grandchild < 0) {
            const int err = errno;
            (void)!::write(report[1], &err, sizeof err);
            ::_exit(1);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    if (devnull >= 0) ::close(devnull);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n = 0;
    do {
        n = ::read(report[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    return n == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace qb::app
