// The kit of the client adapter tests: an independent reader and writer of backup
// files (libarchive's ZIP support, not the archive library the program uses),
// readers of INI text, registry values and folder trees, selections, the quillbox
// program run as a child process, and a test base with two machines.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
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
#include "testkit/program_run.h"
#include "testkit/testkit.h"

namespace qb::test {

namespace fs = std::filesystem;
using platform::RootKey;

// Stored names and relative file paths, in order.
using Names = std::set<std::string>;
using Strings = std::vector<std::string>;

// The user's shell folders (AppData, Favorites, ...) in the registry.
inline constexpr const char* kShellFolders =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Turns "\" into "/": Windows paths into the form stored names take.
std::string slashes(std::string path);

// A backup file as libarchive reads it: the files by stored name ("/" between
// levels, as the ZIP format keeps them) with their content, how often each name
// was stored, and the folder entries. Lookups take "\" or "/" between levels.
struct StoredFiles {
    bool ok = false;    // read to the end without an error
    std::string error;  // what failed otherwise, with the file's name
    std::map<std::string, std::string> files;
    std::map<std::string, int> times;
    Names folders;  // each ending with "/"

    // The stored file names, with `separator` between levels ('\\' gives the
    // relative Windows paths a restore writes them to).
    Names names(char separator = '/') const;
    // Every stored name, folders included.
    Names everyName() const;
    // Whether it holds the file or folder (a folder's name ends with a separator).
    bool has(const std::string& name) const {
        return files.count(slashes(name)) != 0 || folders.count(slashes(name)) != 0;
    }
    // A file's content; throws, naming it, when the backup does not hold it.
    const std::string& at(const std::string& name) const;
    // Names stored more than once (a restore would write them twice).
    Names duplicates() const;
};

StoredFiles readBackup(const fs::path& file);
// The same, checked: it reads to the end and stores no name twice.
StoredFiles storedIn(const fs::path& file);

// A hand-made backup file of (stored name, content) entries, names stored exactly
// as given, as a damaged or hostile backup would come.
void writeBackup(const fs::path& file,
                 const std::vector<std::pair<std::string, std::string>>& entries);

// INI text (a stored manifest, say) read with the profile rules: a value
// ("<missing>" when absent), the keys of a section, its "key=value" lines, and
// the section as a map.
std::string iniValue(const std::string& text, std::string_view section, std::string_view key);
std::vector<std::string> iniKeys(const std::string& text, std::string_view section);
std::vector<std::string> iniLines(const std::string& text, std::string_view section);
std::map<std::string, std::string> iniSection(const std::string& text, std::string_view section);

Selection selection(const std::vector<std::pair<std::string, bool>>& entries);
// Every item of the client, chosen / only those named.
Selection allItems(ClientKind kind);
Selection onlyItems(ClientKind kind, const Names& chosen);

// The identities and items of one job.
struct Choice {
    Selection identities;
    Selection items;
};
// Every identity the catalog lists on the current machine and every item, chosen.
Choice everything(ClientKind kind);
// What a restore offers for a backup file on the current machine (through the
// job's listing): every identity chosen, every item the backup holds chosen.
Choice contents(const std::string& backup, ClientKind kind);

// A registry value of the current machine as text ("<no key K>", "<no value V>"
// when missing) / as a number (-1 when missing); whether a key exists.
std::string registryText(RootKey root, std::string_view key, std::string_view name);
int32_t registryNumber(RootKey root, std::string_view key, std::string_view name);
bool keyExists(RootKey root, std::string_view key);

// Every file (and folder, ending with "/") below a host folder, as relative paths
// with "/"; none when it does not exist.
Names treeOf(const fs::path& root, bool withFolders = true);

// Whether any file or folder below a host folder has `part` in its name.
bool anyNameContains(const fs::path& root, const std::string& part);

// A value of every kind a registry file must carry: every type (REG_NONE, an
// unnamed type number and REG_SZ without its terminator included), quotes,
// backslashes (one ending a path), line breaks, non-ASCII text and names, the
// default value, empty strings and empty binary data, and 100 KB of binary data.
// `withUnterminated` false leaves out the string without terminator.
struct NamedValue {
    std::string name;
    platform::RegValue value;
};
std::vector<NamedValue> everyKindOfValue(bool withUnterminated = true);
// Writes them into `key` (below HKEY_CURRENT_USER) of the current machine, and
// compares that key's values with them: "" when equal, else what differs.
void writeValues(const std::string& key, const std::vector<NamedValue>& values);
std::string compareValues(const std::string& key, const std::vector<NamedValue>& values);

// Runs quillbox with `args` on the machine (which becomes the current one).
inline ProgramRun runQuillbox(const FakeMachine& m, const std::vector<std::string>& args) {
    m.activate();
    return runProgram(m, kQuillbox, args);
}

class QuietProgress : public jobs::JobProgress {
  public:
    void progress(int, int, std::string_view) override {}
};

// A test with two machines, Ann's (`source`, where backups are made; current at
// the start) and Bob's (`target`, where they are restored), every adapter
// registered, message boxes answered by script. use() makes a machine current
// with the job module ready there.
class AdapterTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override { jobs::JobTexts().CloseFile(); }

    // Makes `m` the current machine: the job module and its staging folder there,
    // C:\Backups made, the outcome of the last job cleared.
    void use(const FakeMachine& m);
    // The flags the progress windows clear when they open.
    static void clearJobOutcome();
    static std::string errorText() { return jobs::archiveJob().errorText; }

    // A file's content ("<no file P>" when missing) / whether a file or folder
    // exists, on any machine; the current machine stays current.
    std::string readOn(const FakeMachine& m, const std::string& path);
    bool existsOn(const FakeMachine& m, const std::string& path);
    bool exists(const std::string& path) { return existsOn(*current_, path); }
    // Every file below a folder of a machine, as relative paths with "/".
    Names filesBelow(const FakeMachine& m, const std::string& folder);
    Names filesBelow(const std::string& folder) { return filesBelow(*current_, folder); }

    // A backup's registry file in the form a restore into a folder gives it (the
    // registry editor's), and such a file's text as UTF-8.
    std::string registryEditorForm(const std::string& backupForm);
    static std::string registryEditorText(const std::string& file);

    // Copies a file from one machine to a path of another; the current machine
    // stays current.
    void carry(const FakeMachine& from, const std::string& fromPath, const FakeMachine& to,
               const std::string& toPath);
    // Makes `to` current with the source machine's backup file at the same place.
    void moveBackup(const std::string& path, const FakeMachine& to);

    // A backup file of a machine, read independently: it reads to the end and
    // stores no name twice.
    StoredFiles stored(const FakeMachine& m, const std::string& path);
    StoredFiles stored(const std::string& path) { return stored(source, path); }

    // A backup made with RunBackup on the machine, which is current afterwards;
    // false when it succeeded.
    bool backupOn(const FakeMachine& m, const std::string& path, ClientKind kind,
                  const Selection& identities, const Selection& items);

    // Backs up through the quillbox program ("/b /c:<keyword> /p:<folder>"), every
    // identity and item, on the machine; returns the backup files written, by the
    // client key their manifest names ("Opera7", "Favorites", ...).
    std::map<std::string, std::string> backupsThroughProgram(const std::string& keyword,
                                                             const std::string& folder,
                                                             const FakeMachine& m);
    std::map<std::string, std::string> backupsThroughProgram(const std::string& keyword,
                                                             const std::string& folder) {
        return backupsThroughProgram(keyword, folder, source);
    }
    // The one backup file the program writes for `keyword` on the machine into
    // C:\Backups\Command Line; its name begins with `prefix` ("" after a failure).
    std::string backupThroughProgram(const FakeMachine& m, const std::string& keyword,
                                     const std::string& prefix);
    // The same made on Ann's machine and carried to `to` on Bob's; the path on
    // Ann's machine ("" after a failure).
    std::string carriedBackup(const std::string& keyword, const std::string& prefix,
                              const std::string& to);
    // Restores the backup file with "quillbox /r" on the machine (directly into
    // the client, which does not run there); true when the program reports success.
    bool restoreThroughProgram(const FakeMachine& m, const std::string& backup);

    FakeMachine source{"ann"};
    FakeMachine target{"bob"};
    const FakeMachine* current_ = &source;
    ScriptedInteraction boxes;
    ScopedInteraction interactionScope{boxes};
    QuietProgress quiet;
    jobs::ScopedJobProgress progressScope{quiet};
};

}  // namespace qb::test
