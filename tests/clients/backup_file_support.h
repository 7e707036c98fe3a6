// Test support for the client adapters: reading and writing backup files with
// libarchive (independently of the archive library the program uses), the job
// environment of a test with a source and a target machine, moving files between
// them, and backups and restores through the quillbox program.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
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

namespace qb::test::ebk {

namespace fs = std::filesystem;

struct Utf8Names {
    locale_t previous = uselocale(newlocale(LC_ALL_MASK, "C.UTF-8", locale_t(nullptr)));
    ~Utf8Names() { freelocale(uselocale(previous)); }
};

// A backup file as libarchive reads it: stored names with "\" between levels
// (folder entries end with "\"), each with its data.
struct Contents {
    bool ok = false;
    std::string error;
    std::map<std::string, std::string> entries;
    // Names stored more than once (a restore would write the file twice).
    std::vector<std::string> storedTwice;

    // The names of the stored files (folder entries left out).
    std::set<std::string> files() const {
        std::set<std::string> out;
        for (const auto& [name, data] : entries)
            if (!name.ends_with("\\")) out.insert(name);
        return out;
    }
    bool has(const std::string& name) const { return entries.count(name) != 0; }
    const std::string& data(const std::string& name) const {
        static const std::string none;
        auto it = entries.find(name);
        return it == entries.end() ? none : it->second;
    }
};

inline Contents readBackup(const fs::path& file) {
    Utf8Names utf8;
    Contents c;
    struct archive* a = archive_read_new();
    archive_read_support_format_zip(a);
    int r = archive_read_open_filename(a, file.c_str(), 64 * 1024);
    struct archive_entry* e;
    while (r == ARCHIVE_OK && (r = archive_read_next_header(a, &e)) == ARCHIVE_OK) {
        std::string name = archive_entry_pathname(e);
        for (char& ch : name)
            if (ch == '/') ch = '\\';
        std::string content;
        char buf[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
            content.append(buf, static_cast<size_t>(n));
        if (n < 0) r = static_cast<int>(n);
        if (c.entries.count(name)) c.storedTwice.push_back(name);
        c.entries[name] = std::move(content);
    }
    c.ok = r == ARCHIVE_EOF;
    if (!c.ok) c.error = archive_error_string(a) ? archive_error_string(a) : "error";
    archive_read_free(a);
    return c;
}

// Writes a backup file by hand (names with "\" are stored with "/"), as a
// damaged or hostile backup would come.
inline void writeBackup(const fs::path& file,
                        const std::vector<std::pair<std::string, std::string>>& entries) {
    Utf8Names utf8;
    fs::create_directories(file.parent_path());
    struct archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_open_filename(a, file.c_str());
    for (const auto& [stored, content] : entries) {
        std::string name = stored;
        for (char& ch : name)
            if (ch == '\\') ch = '/';
        struct archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, name.c_str());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, static_cast<la_int64_t>(content.size()));
        archive_write_header(a, e);
        archive_write_data(a, content.data(), content.size());
        archive_entry_free(e);
    }
    archive_write_free(a);
}

// A manifest's section as key=value lines, read from the stored text.
inline std::map<std::string, std::string> manifestSection(const std::string& text,
                                                          const std::string& section) {
    std::map<std::string, std::string> out;
    bool in = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = end + 1;
        if (line.starts_with("[")) {
            in = line == "[" + section + "]";
            continue;
        }
        const size_t eq = line.find('=');
        if (in && eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

// One value of INI text; "<missing>" when the section or key is not there.
inline std::string iniValue(const std::string& text, const std::string& section,
                            const std::string& key) {
    const auto values = manifestSection(text, section);
    const auto it = values.find(key);
    return it == values.end() ? "<missing>" : it->second;
}

// The backup file could be read, stores no name twice, and holds exactly the
// `expected` files.
inline void expectStoredFiles(const Contents& c, const std::set<std::string>& expected) {
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_TRUE(c.storedTwice.empty()) << "stored twice: " << c.storedTwice.front();
    EXPECT_EQ(c.files(), expected);
}

inline Selection selection(const std::vector<std::pair<std::string, bool>>& entries) {
    Selection s;
    for (const auto& [name, checked] : entries)
        s.add(name, checked);
    return s;
}

// Every item of the client, chosen.
inline Selection allItems(ClientKind kind) {
    Selection s;
    for (const std::string& item : BackupItems(kind))
        s.add(item, true);
    return s;
}

inline std::string readText(platform::RootKey root, const std::string& key,
                            const std::string& name) {
    platform::Registry reg(root);
    if (!reg.openKeyReadOnly(key)) return "<no key " + key + ">";
    if (!reg.valueExists(name)) return "<no value " + name + ">";
    return reg.readString(name);
}

inline bool keyExists(platform::RootKey root, const std::string& key) {
    platform::Registry reg(root);
    return reg.keyExists(key);
}

// The quillbox program run as a child process on a machine's prefix.
struct ProgramRun {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

inline const std::string kQuillbox = QB_BIN_DIR "/quillbox";

// Runs quillbox with `args` on the machine, stdin empty; the test's registry
// changes are written first and the child's are read afterwards.
inline ProgramRun runQuillbox(const FakeMachine& m, const std::vector<std::string>& args) {
    m.activate();
    platform::flushRegistry();
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return {};
    std::vector<std::string> argv{kQuillbox};
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
        ::execv(kQuillbox.c_str(), raw.data());
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

// The backup files (".ebk") in a folder of the current machine.
inline std::vector<std::string> backupFilesIn(const std::string& folder) {
    std::vector<std::string> out;
    for (const platform::SearchRec& r :
         platform::findFiles(folder + "\\*.ebk", platform::faAnyFile))
        out.push_back(folder + "\\" + r.name);
    return out;
}

class NoProgress : public jobs::JobProgress {
  public:
    void progress(int, int, std::string_view) override {}
};

// The job environment of an adapter test: the archive library, the jobs' texts,
// every adapter registered, boxes answered by script, and two machines: Ann's,
// where backups are made, and Bob's, where they are restored. Machines are
// switched with use(), which also points the staging folder at that machine's
// temporary folder and makes its folder C:\Backups.
class AdapterTest : public ::testing::Test {
  protected:
    static constexpr const char* kLanguageFile = "C:\\Program Files\\Quillbox\\English.lng";

    void SetUp() override {
        ::setenv("QUILLBOX_SQX", QB_BIN_DIR "/libsqx.so", 0);
        writeLanguageFile();
        ASSERT_TRUE(jobs::InitJobModule(kLanguageFile));
        clients::RegisterAllClients();
        jobs::ArchiveJob& job = jobs::archiveJob();
        job.password.clear();
        job.multipleVolumes = false;
        job.abortRequest = false;
    }
    void TearDown() override { jobs::JobTexts().CloseFile(); }

    static void writeLanguageFile() {
        if (platform::fileExists(kLanguageFile)) return;
        platform::forceDirectories(platform::extractFilePath(kLanguageFile));
        ASSERT_TRUE(WriteBuiltInLanguageFile(kLanguageFile));
    }

    static void use(const FakeMachine& m) {
        m.activate();
        writeLanguageFile();
        platform::forceDirectories("C:\\Backups");
        jobs::archiveJob().stagingFolder =
            platform::excludeTrailingBackslash(platform::tempFolder());
    }

    // Copies a file from one machine to the same or another path of another.
    static void carry(const FakeMachine& from, const std::string& fromPath, const FakeMachine& to,
                      const std::string& toPath) {
        from.activate();
        const fs::path source = from.host(fromPath);
        to.activate();
        const fs::path target = to.host(toPath);
        fs::create_directories(target.parent_path());
        fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    }

    // A file's content / whether a file or folder exists, on the machine (which is
    // the current one afterwards).
    static std::string readOn(const FakeMachine& m, const std::string& path) {
        m.activate();
        return platform::fileExists(path) ? m.readFile(path) : "<no file " + path + ">";
    }
    static bool existsOn(const FakeMachine& m, const std::string& path) {
        m.activate();
        return platform::fileExists(path) || platform::directoryExists(path);
    }

    static std::string errorText() { return jobs::archiveJob().errorText; }

    // A backup made with RunBackup on the machine, and what it holds.
    static bool backupOn(const FakeMachine& m, const std::string& path, ClientKind kind,
                         const Selection& identities, const Selection& items) {
        use(m);
        return jobs::RunBackup(path, kind, identities, items);
    }
    static Contents storedOn(const FakeMachine& m, const std::string& path) {
        use(m);
        return readBackup(m.host(path));
    }

    // Every identity the catalog lists for `kind` on the current machine, chosen.
    static Selection allIdentities(ClientKind kind) {
        Selection s;
        for (const std::string& id : ListIdentities(kind))
            s.add(id, true);
        return s;
    }

    // The identities a restore offers for a backup of `kind` on the current
    // machine, every one chosen.
    static Selection offeredIdentities(const std::string& backup, ClientKind kind) {
        EXPECT_EQ(jobs::ReadBackupClient(backup), kind);
        std::vector<bool> present;
        uint8_t count = 0;
        std::vector<std::string> identities, items;
        bool mismatch = true;
        jobs::ListBackupContents(kind, backup, present, count, identities, items, mismatch);
        EXPECT_FALSE(mismatch);
        Selection s;
        for (const std::string& id : identities)
            s.add(id, true);
        return s;
    }

    // Backs up the client of `keyword` on the machine with "quillbox /b", every
    // identity and item chosen, into `folder`; returns the path of the one backup
    // file made there, whose name begins with `prefix` ("" after a failure).
    static std::string backupThroughCommandLine(const FakeMachine& m, const std::string& keyword,
                                                const std::string& prefix,
                                                const std::string& folder =
                                                    "C:\\Backups\\Command "
                                                    "Line") {
        const ProgramRun run = runQuillbox(m, {"/b", "/c:" + keyword, "/p:" + folder, "-"});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        use(m);
        const std::vector<std::string> files = backupFilesIn(folder);
        EXPECT_EQ(files.size(), 1u) << run.out << run.err;
        if (files.size() != 1) return {};
        EXPECT_TRUE(platform::extractFileName(files[0]).starts_with(prefix)) << files[0];
        return files[0];
    }

    // Restores the backup file with "quillbox /r" on the machine (directly into
    // the client, which does not run there); true when the program reports success.
    static bool restoreThroughCommandLine(const FakeMachine& m, const std::string& backup) {
        const ProgramRun run = runQuillbox(m, {"/r", "/f:" + backup, "/p:C:\\Restore"});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        use(m);
        return run.status == 0;
    }

    ScriptedInteraction boxes;
    ScopedInteraction interactionScope{boxes};
    NoProgress progress;
    jobs::ScopedJobProgress progressScope{progress};
    FakeMachine source{"ann"};
    FakeMachine target{"bob"};
};

}  // namespace qb::test::ebk
