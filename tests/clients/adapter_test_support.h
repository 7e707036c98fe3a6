// The kit of the The Bat!, PocoMail, Opera, Netscape/Mozilla and Favorites tests:
// machines with the job module ready, an independent reader and writer of backup
// files (libarchive's ZIP support), readers of INI text, registry values and
// folder trees, and the quillbox program run as a child process.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "catalog/client_kind.h"
#include "catalog/identities.h"
#include "clients/all_clients.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "jobs/job_progress.h"
#include "jobs/restore_job.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/interaction.h"
#include "support/msg_texts.h"
#include "testkit/clients_fixture.h"
#include "testkit/testkit.h"

namespace qb::test {

using platform::RootKey;

// Stored names and relative file paths, "/" between levels, in order.
using Names = std::set<std::string>;

// Turns "\" into "/": Windows paths into the form stored names take.
inline std::string slashes(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

// A backup file as libarchive reads it: the files by stored name ("/" between
// levels, as the ZIP format keeps them) with their content, how often each name
// was stored, and the folder entries.
struct StoredFiles {
    std::map<std::string, std::string> files;
    std::map<std::string, int> times;
    std::set<std::string> folders;

    Names names() const {
        Names out;
        for (const auto& [name, content] : files)
            out.insert(name);
        return out;
    }
    bool has(const std::string& name) const { return files.count(name) != 0; }
    const std::string& at(const std::string& name) const {
        auto it = files.find(name);
        if (it == files.end()) throw std::runtime_error("the backup holds no " + name);
        return it->second;
    }
    // Names stored more than once (a restore would write them twice).
    Names duplicates() const {
        Names out;
        for (const auto& [name, n] : times)
            if (n > 1) out.insert(name);
        return out;
    }
};

inline StoredFiles readBackup(const fs::path& file) {
    std::setlocale(LC_CTYPE, "C.UTF-8");  // names come back as UTF-8
    struct archive* a = archive_read_new();
    archive_read_support_format_zip(a);
    if (archive_read_open_filename(a, file.c_str(), 65536) != ARCHIVE_OK) {
        const std::string why = archive_error_string(a) ? archive_error_string(a) : "?";
        archive_read_free(a);
        throw std::runtime_error("cannot open " + file.string() + ": " + why);
    }
    StoredFiles out;
    struct archive_entry* e;
    while (archive_read_next_header(a, &e) == ARCHIVE_OK) {
        const char* raw = archive_entry_pathname_utf8(e);
        const std::string name = raw ? raw : "?";
        if (archive_entry_filetype(e) == AE_IFDIR) {
            out.folders.insert(name);
            continue;
        }
        std::string content;
        char buf[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
            content.append(buf, static_cast<size_t>(n));
        ++out.times[name];
        out.files[name] = std::move(content);
    }
    archive_read_free(a);
    return out;
}

// A hand-made backup file of (stored name, content) entries, as a damaged or
// hostile backup would come.
inline void writeBackup(const fs::path& file,
                        const std::vector<std::pair<std::string, std::string>>& entries) {
    fs::create_directories(file.parent_path());
    struct archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    if (archive_write_open_filename(a, file.c_str()) != ARCHIVE_OK)
        throw std::runtime_error("cannot write " + file.string());
    for (const auto& [name, data] : entries) {
        struct archive_entry* e = archive_entry_new();
        archive_entry_set_pathname_utf8(e, name.c_str());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, static_cast<la_int64_t>(data.size()));
        archive_write_header(a, e);
        archive_write_data(a, data.data(), data.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
}

// INI text (a stored manifest, say) read with the profile rules, through a file on
// the current machine: a value ("<missing>" when absent), the keys of a section,
// its "key=value" lines.
inline std::string iniValue(const std::string& text, std::string_view section,
                            std::string_view key) {
    const std::string path = "C:\\ini-value.tmp";
    writeHostFile(*platform::hostPath(path), text);
    return platform::IniFile(path).readString(section, key, "<missing>");
}
inline std::vector<std::string> iniKeys(const std::string& text, std::string_view section) {
    const std::string path = "C:\\ini-value.tmp";
    writeHostFile(*platform::hostPath(path), text);
    return platform::IniFile(path).readSection(section);
}
inline std::vector<std::string> iniLines(const std::string& text, std::string_view section) {
    const std::string path = "C:\\ini-value.tmp";
    writeHostFile(*platform::hostPath(path), text);
    return platform::IniFile(path).readSectionValues(section);
}

inline Selection selection(std::initializer_list<std::pair<std::string, bool>> entries) {
    Selection s;
    for (const auto& [name, checked] : entries)
        s.add(name, checked);
    return s;
}
// Every item of the client, chosen.
inline Selection allItems(ClientKind kind) {
    Selection s;
    for (const std::string& it : BackupItems(kind))
        s.add(it, true);
    return s;
}

// The identities and items of one job.
struct Choice {
    Selection identities;
    Selection items;
};
// Every identity the catalog lists on the current machine and every item, chosen.
inline Choice everything(ClientKind kind) {
    Choice c;
    for (const std::string& id : ListIdentities(kind))
        c.identities.add(id, true);
    c.items = allItems(kind);
    return c;
}
// What a restore offers for a backup file on the current machine (through the
// job's listing): every identity chosen, every item the backup holds chosen.
inline Choice contents(const std::string& backup, ClientKind kind) {
    EXPECT_EQ(jobs::ReadBackupClient(backup), kind);
    std::vector<bool> present;
    uint8_t count = 0;
    std::vector<std::string> ids, items;
    bool mismatch = true;
    jobs::ListBackupContents(jobs::ListKindOf(kind), backup, present, count, ids, items, mismatch);
    EXPECT_FALSE(mismatch);
    Choice c;
    for (const std::string& id : ids)
        c.identities.add(id, true);
    for (size_t i = 0; i < items.size(); ++i)
        c.items.add(items[i], present[i]);
    return c;
}

inline std::string registryText(RootKey root, std::string_view key, std::string_view name) {
    platform::Registry reg(root);
    if (!reg.openKeyReadOnly(key)) return "<no key>";
    if (!reg.valueExists(name)) return "<no value>";
    return reg.readString(name);
}
inline int32_t registryNumber(RootKey root, std::string_view key, std::string_view name) {
    platform::Registry reg(root);
    if (!reg.openKeyReadOnly(key) || !reg.valueExists(name)) return -1;
    return reg.readInteger(name);
}
inline bool keyExists(RootKey root, std::string_view key) {
    platform::Registry reg(root);
    return reg.keyExists(key);
}

// Whether any file or folder below a host folder has `part` in its name.
inline bool anyNameContains(const fs::path& root, const std::string& part) {
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.path().filename().string().find(part) != std::string::npos) return true;
    return false;
}

// What a run of the quillbox program gave: its exit status (-1 when it did not
// exit normally) and what it wrote.
struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs quillbox with `args` on the machine (which becomes the current one), stdin
// empty; the test's registry changes are written first and the child's are read
// afterwards.
inline ProgramRun runQuillbox(const FakeMachine& m, const std::vector<std::string>& args) {
    const std::string program = QB_BIN_DIR "/quillbox";
    m.activate();
    platform::flushRegistry();
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return {};
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& a : argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    const std::string prefix = m.prefix().string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, STDIN_FILENO);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::setenv("QUILLBOX_PREFIX", prefix.c_str(), 1);
        ::execv(program.c_str(), raw.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ProgramRun r;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    platform::unloadRegistry();
    return r;
}

class QuietProgress : public jobs::JobProgress {
  public:
    void progress(int, int, std::string_view) override {}
};

// A test with a source machine whose job module is ready, every adapter
// registered; message boxes are recorded, not shown. Further machines are made
// current with prepare() (or moveBackup()).
class AdapterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("QUILLBOX_SQX", QB_BIN_DIR "/libsqx.so", 0);
        prepare(machine);
        clients::RegisterAllClients();
    }
    void TearDown() override { jobs::JobTexts().CloseFile(); }

    // Makes `m` the current machine, with the job module and its staging folder there.
    void prepare(const FakeMachine& m) {
        m.activate();
        current_ = &m;
        const char* lang = "C:\\Program Files\\Quillbox\\English.lng";
        m.writeFile(lang, "");
        m.writeFile("C:\\Backups\\readme.txt", "backups go here");
        ASSERT_TRUE(WriteBuiltInLanguageFile(lang));
        ASSERT_TRUE(jobs::InitJobModule(lang));
        jobs::ArchiveJob& job = jobs::archiveJob();
        job.password.clear();
        job.multipleVolumes = false;
        clearJobOutcome();
    }
    // The flags the progress windows clear when they open.
    static void clearJobOutcome() {
        jobs::ArchiveJob& job = jobs::archiveJob();
        job.errorFlag = false;
        job.errorText.clear();
        job.aborted = false;
        job.abortRequest = false;
    }
    static std::string errorText() { return jobs::archiveJob().errorText; }

    // A file of any machine (Windows paths resolve on the current machine only).
    std::string readOn(const FakeMachine& m, const std::string& path) {
        m.activate();
        std::string data = m.readFile(path);
        current_->activate();
        return data;
    }
    bool existsOn(const FakeMachine& m, const std::string& path) {
        m.activate();
        const bool found = fs::exists(m.host(path));
        current_->activate();
        return found;
    }
    bool exists(const std::string& path) { return existsOn(*current_, path); }

    // Every file below a folder of a machine, as relative paths with "/".
    Names filesBelow(const FakeMachine& m, const std::string& folder) {
        m.activate();
        const fs::path root = m.host(folder);
        current_->activate();
        Names out;
        if (!fs::exists(root)) return out;
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file()) out.insert(fs::relative(e.path(), root).generic_string());
        return out;
    }
    Names filesBelow(const std::string& folder) { return filesBelow(*current_, folder); }

    // A backup file of a machine, read independently; no name may be stored twice.
    StoredFiles stored(const FakeMachine& m, const std::string& path) {
        m.activate();
        const fs::path file = m.host(path);
        current_->activate();
        StoredFiles s = readBackup(file);
        EXPECT_EQ(s.duplicates(), Names{}) << path;
        return s;
    }
    StoredFiles stored(const std::string& path) { return stored(machine, path); }

    // Makes `to` current with the source machine's backup file at the same place.
    void moveBackup(const std::string& path, const FakeMachine& to) {
        const std::string data = readOn(machine, path);
        prepare(to);
        to.writeFile(path, data);
    }

    // Backs up through the quillbox program ("/b /c:<keyword> /p:<folder>"), on the
    // source machine; returns the backup files written, by the client key their
    // manifest names ("Opera7", "Favorites", ...).
    std::map<std::string, std::string> backupThroughProgram(const std::string& keyword,
                                                            const std::string& folder) {
        const ProgramRun run = runQuillbox(machine, {"/b", "/c:" + keyword, "/p:" + folder, "-"});
        prepare(machine);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        std::map<std::string, std::string> out;
        for (const platform::SearchRec& r :
             platform::findFiles(folder + "\\*.ebk", platform::faAnyFile)) {
            const std::string path = folder + "\\" + r.name;
            const StoredFiles s = stored(path);
            if (s.has("infobak.ini"))
                out[iniValue(s.at("infobak.ini"), "Backup", "EmailClient")] = path;
        }
        return out;
    }

    FakeMachine machine{"ann"};
    const FakeMachine* current_ = &machine;
    ScriptedInteraction boxes;
    ScopedInteraction interactionScope{boxes};
    QuietProgress quiet;
    jobs::ScopedJobProgress progressScope{quiet};
};

}  // namespace qb::test
