// Helpers of the adapter tests: a machine with the job module ready, an
// independent ZIP reader and writer (libarchive), and small readers of INI text.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <clocale>
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
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/interaction.h"
#include "support/msg_texts.h"
#include "testkit/testkit.h"

namespace qb::test {

struct StoredEntry {
    std::string name;  // as stored, "/" separators
    std::string data;
    bool folder = false;
};

// Every entry of a ZIP file in stored order, duplicates included.
inline std::vector<StoredEntry> readZipEntries(const fs::path& file) {
    std::setlocale(LC_CTYPE, "C.UTF-8");  // names come back as UTF-8
    struct archive* a = archive_read_new();
    archive_read_support_format_zip(a);
    if (archive_read_open_filename(a, file.c_str(), 65536) != ARCHIVE_OK) {
        const std::string why = archive_error_string(a) ? archive_error_string(a) : "?";
        archive_read_free(a);
        throw std::runtime_error("cannot open " + file.string() + ": " + why);
    }
    std::vector<StoredEntry> out;
    struct archive_entry* e;
    while (archive_read_next_header(a, &e) == ARCHIVE_OK) {
        StoredEntry s;
        const char* name = archive_entry_pathname_utf8(e);
        s.name = name ? name : "?";
        s.folder = archive_entry_filetype(e) == AE_IFDIR;
        char buf[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
            s.data.append(buf, static_cast<size_t>(n));
        out.push_back(std::move(s));
    }
    archive_read_free(a);
    return out;
}

// The stored files (not folders) by name.
inline std::map<std::string, std::string> storedFiles(const fs::path& file) {
    std::map<std::string, std::string> files;
    for (StoredEntry& e : readZipEntries(file))
        if (!e.folder) files[e.name] = std::move(e.data);
    return files;
}

inline std::vector<std::string> namesOf(const std::map<std::string, std::string>& files) {
    std::vector<std::string> names;
    for (const auto& [name, data] : files)
        names.push_back(name);
    return names;
}

// Writes a ZIP file of the given (stored name, content) entries, as a hand-made
// backup file.
inline void writeZip(const fs::path& file,
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

// A value of INI text (the stored manifest, say), read with the profile rules.
inline std::string iniValue(const FakeMachine& m, const std::string& text, std::string_view section,
                            std::string_view key) {
    const std::string path = "C:\\iniValue.tmp";
    m.writeFile(path, text);
    return platform::IniFile(path).readString(section, key, "<missing>");
}

inline Selection selection(std::initializer_list<std::pair<const char*, bool>> entries) {
    Selection s;
    for (const auto& [name, checked] : entries)
        s.add(name, checked);
    return s;
}

inline std::string readValueText(platform::RootKey root, std::string_view key,
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

// A machine whose job module is ready: language file, staging folder, archive
// library, every adapter registered. Message boxes are recorded, not shown.
class ClientTest : public ::testing::Test {
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

    // Copies a file of one machine to the same place on another, which is the
    // current machine afterwards.
    static void copyFile(const FakeMachine& from, const FakeMachine& to, const std::string& path) {
        from.activate();
        const std::string data = from.readFile(path);
        to.activate();
        to.writeFile(path, data);
    }

    // Whether the path exists on the current machine.
    static bool exists(const std::string& path) {
        return platform::fileExists(path) || platform::directoryExists(path);
    }

    FakeMachine machine{"ann"};
    ScriptedInteraction boxes;
    ScopedInteraction interactionScope{boxes};
    QuietProgress quiet;
    jobs::ScopedJobProgress progressScope{quiet};
};

}  // namespace qb::test
