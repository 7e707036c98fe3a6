// Helpers of the The Bat! and PocoMail adapter tests: machines with the job module
// ready, an independent reader and writer of backup files (libarchive), and small
// readers of INI text, registry values and folder trees.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

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
#include "platform/registry.h"
#include "support/interaction.h"
#include "support/msg_texts.h"
#include "testkit/clients_fixture.h"
#include "testkit/testkit.h"

namespace qb::test::mailkit {

inline constexpr const char* kBackupFile = "C:\\Backups\\mail backup.ebk";

// What a backup file holds, read with libarchive: files by stored name ("/"
// separators, as the ZIP format keeps them) and the folder entries.
struct Stored {
    std::map<std::string, std::string> files;
    std::set<std::string> folders;

    std::set<std::string> fileNames() const {
        std::set<std::string> names;
        for (const auto& [name, data] : files)
            names.insert(name);
        return names;
    }
    const std::string& at(const std::string& name) const {
        auto it = files.find(name);
        if (it == files.end()) throw std::runtime_error("the backup holds no " + name);
        return it->second;
    }
};

inline Stored readBackup(const fs::path& file) {
    std::setlocale(LC_CTYPE, "C.UTF-8");  // names come back as UTF-8
    struct archive* a = archive_read_new();
    archive_read_support_format_zip(a);
    if (archive_read_open_filename(a, file.c_str(), 65536) != ARCHIVE_OK) {
        const std::string why = archive_error_string(a) ? archive_error_string(a) : "?";
        archive_read_free(a);
        throw std::runtime_error("cannot open " + file.string() + ": " + why);
    }
    Stored out;
    struct archive_entry* e;
    while (archive_read_next_header(a, &e) == ARCHIVE_OK) {
        const char* raw = archive_entry_pathname_utf8(e);
        const std::string name = raw ? raw : "?";
        if (archive_entry_filetype(e) == AE_IFDIR) {
            out.folders.insert(name);
            continue;
        }
        if (out.files.count(name)) throw std::runtime_error("stored twice: " + name);
        std::string data;
        char buf[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
            data.append(buf, static_cast<size_t>(n));
        out.files[name] = std::move(data);
    }
    archive_read_free(a);
    return out;
}

// A hand-made backup file of the given (stored name, content) entries.
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

// A value of INI text (a stored manifest, say), read with the profile rules.
inline std::string iniValue(const std::string& text, std::string_view section,
                            std::string_view key) {
    const std::string path = "C:\\ini-value.tmp";
    platform::IniFile ini(path);
    writeHostFile(*platform::hostPath(path), text);
    return ini.readString(section, key, "<missing>");
}
// The keys of a section of INI text, in order.
inline std::vector<std::string> iniKeys(const std::string& text, std::string_view section) {
    const std::string path = "C:\\ini-value.tmp";
    writeHostFile(*platform::hostPath(path), text);
    return platform::IniFile(path).readSection(section);
}

// Every identity and item of the client on the current machine, all chosen.
struct Choice {
    Selection identities;
    Selection items;
};
inline Choice everything(ClientKind kind) {
    Choice c;
    for (const std::string& id : ListIdentities(kind))
        c.identities.add(id, true);
    for (const std::string& it : BackupItems(kind))
        c.items.add(it, true);
    return c;
}
// What a restore offers for the backup file (through the job's listing), every
// identity and every item the backup holds chosen.
inline Choice contents(ClientKind kind) {
    std::vector<bool> present;
    uint8_t count = 0;
    std::vector<std::string> ids, items;
    bool mismatch = true;
    jobs::ListBackupContents(jobs::ListKindOf(kind), kBackupFile, present, count, ids, items,
                             mismatch);
    EXPECT_FALSE(mismatch);
    Choice c;
    for (const std::string& id : ids)
        c.identities.add(id, true);
    for (size_t i = 0; i < items.size(); ++i)
        c.items.add(items[i], present[i]);
    return c;
}
inline Selection selection(std::initializer_list<std::pair<const char*, bool>> entries) {
    Selection s;
    for (const auto& [name, checked] : entries)
        s.add(name, checked);
    return s;
}
inline Selection allItems(ClientKind kind) {
    Selection s;
    for (const std::string& it : BackupItems(kind))
        s.add(it, true);
    return s;
}

inline std::string registryText(platform::RootKey root, std::string_view key,
                                std::string_view name) {
    platform::Registry reg(root);
    if (!reg.openKeyReadOnly(key)) return "<no key>";
    if (!reg.valueExists(name)) return "<no value>";
    return reg.readString(name);
}
inline int32_t registryNumber(platform::RootKey root, std::string_view key, std::string_view name) {
    platform::Registry reg(root);
    if (!reg.openKeyReadOnly(key) || !reg.valueExists(name)) return -1;
    return reg.readInteger(name);
}

// Host paths below `root` (relative, "/" separators) of every file, in order.
inline std::set<std::string> filesBelow(const fs::path& root) {
    std::set<std::string> out;
    if (!fs::exists(root)) return out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out.insert(fs::relative(e.path(), root).generic_string());
    return out;
}
// Whether any file or folder below `root` has `part` in its name.
inline bool anyNameContains(const fs::path& root, const std::string& part) {
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.path().filename().string().find(part) != std::string::npos) return true;
    return false;
}

class QuietProgress : public jobs::JobProgress {
  public:
    void progress(int, int, std::string_view) override {}
};

// A test with a source machine whose job module is ready, every adapter
// registered; message boxes are recorded, not shown.
class AdapterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("QUILLBOX_SQX", QB_BIN_DIR "/libsqx.so", 0);
        prepare(source);
        clients::RegisterAllClients();
    }
    void TearDown() override { jobs::JobTexts().CloseFile(); }

    // Makes `m` the current machine, with the job module's staging folder there.
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
    // Before a restore: the flags the restore window clears when it opens.
    static void clearJobOutcome() {
        jobs::ArchiveJob& job = jobs::archiveJob();
        job.errorFlag = false;
        job.errorText.clear();
        job.aborted = false;
        job.abortRequest = false;
    }

    // A file of another machine than the current one (Windows paths resolve on the
    // current machine only).
    std::string readOn(const FakeMachine& m, const std::string& path) {
        m.activate();
        std::string data = m.readFile(path);
        current_->activate();
        return data;
    }

    // Makes `to` current with the source machine's backup file at the same place.
    void moveTo(const FakeMachine& to) {
        const std::string data = readOn(source, kBackupFile);
        prepare(to);
        to.writeFile(kBackupFile, data);
    }

    Stored stored() {
        source.activate();
        Stored s = readBackup(source.host(kBackupFile));
        current_->activate();
        return s;
    }
    static std::string errorText() { return jobs::archiveJob().errorText; }

    FakeMachine source{"ann"};
    const FakeMachine* current_ = &source;
    ScriptedInteraction boxes;
    ScopedInteraction interactionScope{boxes};
    QuietProgress quiet;
    jobs::ScopedJobProgress progressScope{quiet};
};

}  // namespace qb::test::mailkit
