// Helpers of the Opera, Netscape/Mozilla and Favorites tests: a machine with the
// job module ready, an independent reader and writer of backup files (libarchive's
// ZIP support), and the quillbox program as a child process.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "catalog/client_kind.h"
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

// The stored files of a backup, by stored name ("/" separators), with their
// content. Each stored name counts how often it appears.
struct StoredFiles {
    std::map<std::string, std::string> data;
    std::map<std::string, int> times;
    std::vector<std::string> folders;

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& [name, content] : data)
            out.push_back(name);
        return out;
    }
    bool has(const std::string& name) const { return data.count(name) != 0; }
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
        std::string name = raw ? raw : "?";
        if (archive_entry_filetype(e) == AE_IFDIR) {
            out.folders.push_back(name);
            continue;
        }
        std::string content;
        char buf[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
            content.append(buf, static_cast<size_t>(n));
        ++out.times[name];
        out.data[name] = std::move(content);
    }
    archive_read_free(a);
    return out;
}

// Writes a ZIP file of (stored name, content) entries: a hand-made backup.
inline void writeBackup(const fs::path& file,
                        const std::vector<std::pair<std::string, std::string>>& entries) {
    struct archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    if (archive_write_open_filename(a, file.c_str()) != ARCHIVE_OK)
        throw std::runtime_error("cannot write " + file.string());
    for (const auto& [name, data] : entries) {
        struct archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, name.c_str());
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

// A value of INI text (a stored manifest, say), read with the profile rules.
inline std::string iniValue(const FakeMachine& m, const std::string& text, std::string_view section,
                            std::string_view key) {
    const std::string path = "C:\\ini-value.tmp";
    m.writeFile(path, text);
    return platform::IniFile(path).readString(section, key, "<missing>");
}
inline std::vector<std::string> iniSection(const FakeMachine& m, const std::string& text,
                                           std::string_view section) {
    const std::string path = "C:\\ini-value.tmp";
    m.writeFile(path, text);
    return platform::IniFile(path).readSectionValues(section);
}

inline Selection selection(std::initializer_list<std::pair<std::string, bool>> entries) {
    Selection s;
    for (const auto& [name, checked] : entries)
        s.add(name, checked);
    return s;
}
inline Selection allOf(const std::vector<std::string>& names) {
    Selection s;
    for (const std::string& name : names)
        s.add(name, true);
    return s;
}

inline std::string registryText(platform::RootKey root, std::string_view key,
                                std::string_view name) {
    platform::Registry reg(root);
    if (!reg.openKeyReadOnly(key)) return "<no key>";
    if (!reg.valueExists(name)) return "<no value>";
    return reg.readString(name);
}

inline bool keyExists(platform::RootKey root, std::string_view key) {
    platform::Registry reg(root);
    return reg.keyExists(key);
}

class QuietProgress : public jobs::JobProgress {
  public:
    void progress(int, int, std::string_view) override {}
};

// What a run of the quillbox program gave: its exit status and everything it wrote.
struct ProgramRun {
    int status = -1;
    std::string output;
};

// Runs the quillbox program with the machine as its prefix.
inline ProgramRun runQuillbox(const FakeMachine& m, const std::vector<std::string>& args) {
    const std::string program = QB_BIN_DIR "/quillbox";
    const fs::path log = m.prefix().parent_path() / "quillbox-output.txt";
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::setenv("QUILLBOX_PREFIX", m.prefix().c_str(), 1);
        if (FILE* out = std::freopen(log.c_str(), "w", stdout)) ::dup2(::fileno(out), 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ProgramRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (fs::exists(log)) run.output = readHostFile(log);
    return run;
}
inline bool quillboxBuilt() {
    return ::access(QB_BIN_DIR "/quillbox", X_OK) == 0;
}

// The backup files in a folder of the machine, by the client key their manifest
// names ("Opera7", "Favorites", ...).
inline std::map<std::string, fs::path> backupsByClient(const FakeMachine& m,
                                                       const std::string& folder) {
    std::map<std::string, fs::path> out;
    for (const auto& e : fs::directory_iterator(m.host(folder))) {
        if (e.path().extension() != ".ebk") continue;
        const StoredFiles stored = readBackup(e.path());
        const auto manifest = stored.data.find("infobak.ini");
        if (manifest == stored.data.end()) continue;
        out[iniValue(m, manifest->second, "Backup", "EmailClient")] = e.path();
    }
    return out;
}

// A machine whose job module is ready: language file, staging folder, archive
// library, every adapter registered. Message boxes are recorded, not shown.
class AdapterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("QUILLBOX_SQX", QB_BIN_DIR "/libsqx.so", 0);
        prepare(machine);
        clients::RegisterAllClients();
    }
    void TearDown() override { jobs::JobTexts().CloseFile(); }

    // Makes `m` the current machine with the job module on it.
    static void prepare(const FakeMachine& m) {
        m.activate();
        const char* lang = "C:\\Program Files\\Quillbox\\English.lng";
        m.writeFile(lang, "");
        m.writeFile("C:\\Backups\\readme.txt", "backups go here");
        ASSERT_TRUE(WriteBuiltInLanguageFile(lang));
        ASSERT_TRUE(jobs::InitJobModule(lang));
        jobs::ArchiveJob& job = jobs::archiveJob();
        job.password.clear();
        job.multipleVolumes = false;
        job.abortRequest = false;
        job.errorFlag = false;
        job.errorText.clear();
        job.aborted = false;
    }

    static bool exists(const FakeMachine& m, const std::string& path) {
        return fs::exists(m.host(path));
    }
    // Every file below a Windows folder, as paths relative to it with "\".
    static std::vector<std::string> filesBelow(const FakeMachine& m, const std::string& folder) {
        std::vector<std::string> out;
        const fs::path root = m.host(folder);
        if (!fs::exists(root)) return out;
        for (const auto& e : fs::recursive_directory_iterator(root)) {
            if (!e.is_regular_file()) continue;
            std::string rel = fs::relative(e.path(), root).string();
            for (char& c : rel)
                if (c == '/') c = '\\';
            out.push_back(rel);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    static std::string errorText() { return jobs::archiveJob().errorText; }

    FakeMachine machine{"ann"};
    ScriptedInteraction boxes;
    ScopedInteraction interactionScope{boxes};
    QuietProgress quiet;
    jobs::ScopedJobProgress progressScope{quiet};
};

}  // namespace qb::test
