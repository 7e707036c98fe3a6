#include "clients/outlook_express.h"

#include <cctype>
#include <fstream>
#include <optional>
#include <set>

#include "catalog/client_paths.h"
#include "catalog/reads.h"
#include "clients/adapter_support.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "regfile/io_registry.h"
#include "support/interaction.h"

namespace qb::clients {

using platform::Registry;
using platform::RegistryError;
using platform::RootKey;

namespace {

constexpr std::string_view kIdentities = "\\identities";
constexpr std::string_view kOutlookExpress = "\\Software\\Microsoft\\Outlook Express\\5.0";
constexpr std::string_view kAccounts = "\\Software\\Microsoft\\Internet Account Manager\\Accounts";
constexpr std::string_view kWab = "\\Software\\Microsoft\\WAB";
constexpr std::string_view kWabFileName = "\\Software\\Microsoft\\WAB\\WAB4\\Wab File Name";
constexpr std::string_view kStationeryKey = "\\SOFTWARE\\Microsoft\\Shared Tools\\Stationery";
constexpr std::string_view kStationeryValue = "Stationery Folder";
constexpr std::string_view kCurrentVersion = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr std::string_view kCurrentUser = "HKEY_CURRENT_USER";

constexpr std::string_view kOthersIni = "others.ini";
constexpr std::string_view kStationeryIni = "stationery.ini";
constexpr std::string_view kAddressReg = "address.reg";
constexpr std::string_view kAddressBook = "Address Book";
constexpr std::string_view kStationery = "Stationery";
constexpr std::string_view kDirectory = "Directory";

constexpr std::string_view kNoAppData = " Error code: 3120";
constexpr std::string_view kStationeryWriteFailed = "Eroare la scriere in registry";

// Positions of the items in the client's item list.
enum Item {
    Accounts = 0,
    MailFolders = 1,
    Signatures = 2,
    MessageRules = 3,
    AddressBook = 4,
    Stationery = 5
};

std::string identityKey(std::string_view g) {
    return std::string(kIdentities) + "\\" + std::string(g);
}
std::string settingsKey(std::string_view g) {
    return identityKey(g) + std::string(kOutlookExpress);
}

// The registry files of one identity: name, key, whether its subkeys go along,
// and the key below which an import of the file may write.
struct IdentityFile {
    std::string name;
    std::string key;
    bool withSubKeys;
    std::string scope;
};

IdentityFile identityFile(std::string_view name, std::string_view g) {
    const std::string oe = settingsKey(g);
    const std::string id = identityKey(g);
    if (name == "identity.reg") return {"identity.reg", id, false, id};
    if (name == "identity2.reg") return {"identity2.reg", oe, false, id};
    if (name == "settings.reg") return {"settings.reg", oe + "\\Mail", false, id};
    if (name == "settings2.reg") return {"settings2.reg", oe + "\\Columns", false, id};
    if (name == "accounts.reg") return {"accounts.reg", id + std::string(kAccounts), true, id};
    if (name == "accounts2.reg")
        return {"accounts2.reg", std::string(kAccounts), true, std::string(kAccounts)};
    if (name == "signatures.reg") return {"signatures.reg", oe + "\\Signatures", true, id};
    if (name == "rules.reg") return {"rules.reg", oe + "\\Rules", true, id};
    return {"blockedsender.reg", oe + "\\Block Senders", true, id};
}

const std::vector<std::string_view> kAlwaysFiles = {"identity.reg", "identity2.reg", "settings.reg",
                                                    "settings2.reg"};
const std::vector<std::string_view> kAccountFiles = {"accounts.reg", "accounts2.reg"};
const std::vector<std::string_view> kSignatureFiles = {"signatures.reg"};
const std::vector<std::string_view> kRuleFiles = {"rules.reg", "blockedsender.reg"};

bool isDriveLetter(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

std::vector<std::string> splitLevels(std::string_view path) {
    std::vector<std::string> levels;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            if (i > start) levels.emplace_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return levels;
}

// A folder that a value of a backup may name as a destination: "X:\" and at
// least one level below it, each level a safe name.
bool isSafeAbsoluteFolder(std::string_view path) {
    if (path.size() < 4 || !isDriveLetter(path[0]) || path[1] != ':' || path[2] != '\\')
        return false;
    const std::vector<std::string> levels = splitLevels(path.substr(3));
    if (levels.empty()) return false;
    for (const std::string& level : levels)
        if (!IsSafeFolderName(level)) return false;
    return true;
}

// A folder the backup may pack: below the root of a drive, or on a network share.
// An empty value or a drive's root would pack whatever the current drive holds.
bool isPackableFolder(std::string_view folder) {
    const std::string f = platform::excludeTrailingBackslash(folder);
    if (f.size() >= 4 && isDriveLetter(f[0]) && f[1] == ':' && f[2] == '\\') return true;
    return f.size() > 2 && f[0] == '\\' && f[1] == '\\' && f[2] != '\\';
}

std::string replaceVariable(const std::string& text, std::string_view variable,
                            const std::string& folder) {
    const size_t at = platform::lowerAscii(text).find(variable);
    if (at == std::string::npos) return text;
    return text.substr(0, at) + folder + text.substr(at + variable.size());
}

bool holdsVariable(std::string_view text) {
    const std::string lower = platform::lowerAscii(text);
    for (std::string_view v : {"%userprofile%", "%systemdrive%", "%programfiles%", "%systemroot%"})
        if (lower.find(v) != std::string::npos) return true;
    return false;
}

// Creates an empty file (replacing one of that name), so that an INI file exists
// even when nothing is written into it.
bool createEmptyFile(const std::string& winPath) {
    const auto host = platform::hostPath(winPath);
    if (!host) return false;
    std::ofstream out(*host, std::ios::binary | std::ios::trunc);
    platform::noteNewEntry(*host);
    return static_cast<bool>(out);
}

// ---- backup -------------------------------------------------------------------

class Backup {
  public:
    explicit Backup(jobs::BackupContext& ctx)
        : ctx_(ctx), base_(jobs::archiveJob().stagingFolder + "\\") {}

    void run();

  private:
    bool item(Item i) const { return ctx_.items.isChecked(static_cast<int>(i)); }
    std::string itemName(Item i) const { return ctx_.items[static_cast<int>(i)].name; }
    void refuse(const std::string& text) {
        RecordError(text);
        refused_ = true;
    }
    void exportFiles(const std::string& folder, const std::vector<std::string_view>& names,
                     std::string_view g);
    void backupIdentity(const std::string& n, const std::string& g);
    // Packs the tree of `folder` under `archiveFolder` as item `i`; notes that
    // `subject` adds nothing when the folder is unset or missing, and refuses with
    // `refusal` when the folder may not be packed.
    void packTree(std::string_view folder, std::string_view archiveFolder, Item i,
                  const std::string& subject, const std::string& refusal);
    void backupAddressBook();
    std::string backupStationery();
    void writeIniFiles(const std::vector<std::string>& keys,
                       const std::vector<std::string>& storeRoots, const std::string& stationery);

    jobs::BackupContext& ctx_;
    const std::string base_;
    oe::Folders folders_;
    TIORegistry io_;
    bool refused_ = false;  // a failure that must not leave a backup behind
    std::set<std::string> addedFiles_;
};

void Backup::exportFiles(const std::string& folder, const std::vector<std::string_view>& names,
                         std::string_view g) {
    for (std::string_view name : names) {
        const IdentityFile f = identityFile(name, g);
        const std::string path = folder + "\\" + f.name;
        // Identities of one display name share their files (the later one's
        // settings win); the backup holds each file once.
        const bool alreadyAdded = !addedFiles_.insert(path).second;
        // A file left by an earlier backup must not stand in for one not written now.
        if (platform::fileExists(path)) platform::deleteFile(path);
        if (!io_.ExportKey(kCurrentUser, f.key, f.withSubKeys, path))
            RecordError("Registry file " + path + " of the backup: " + io_.LastError());
        if (!alreadyAdded) jobs::AddFileToJob(path, "", base_);
    }
}

// "Store Root" of an identity as stored, less one trailing backslash.
std::string storeRootOf(std::string_view g) {
    std::string root = catalog::readText(RootKey::CurrentUser, settingsKey(g), "Store Root");
    if (!root.empty() && root.back() == '\\') root.pop_back();
    return root;
}

void Backup::backupIdentity(const std::string& n, const std::string& g) {
    const std::string raw = catalog::readText(RootKey::CurrentUser, settingsKey(g), "Store Root");
    const std::string storeRoot = storeRootOf(g);
    const std::string storeFolder = platform::excludeTrailingBackslash(
        holdsVariable(raw) ? oe::ExpandVariables(storeRoot, folders_) : raw);

    const std::string folder = base_ + n;
    if (!platform::directoryExists(folder) && !platform::forceDirectories(folder))
        RecordError("Cannot create the folder " + folder + ": " + platform::lastFileError());
    exportFiles(folder, kAlwaysFiles, g);
    if (item(Accounts)) {
        exportFiles(folder, kAccountFiles, g);
        jobs::CloseProgressGroup(ctx_, itemName(Accounts));
    }
    if (item(MailFolders)) {
        packTree(storeFolder, g, MailFolders,
                 "The mail folders of the Outlook Express identity \"" + n + "\"",
                 "The mail folders of the Outlook Express identity \"" + n +
                     "\" cannot be backed up: its \"Store Root\" (\"" + raw +
                     "\") names no folder.");
    }
    if (item(Signatures)) {
        exportFiles(folder, kSignatureFiles, g);
        jobs::CloseProgressGroup(ctx_, itemName(Signatures));
    }
    if (item(MessageRules)) {
        exportFiles(folder, kRuleFiles, g);
        jobs::CloseProgressGroup(ctx_, itemName(MessageRules));
    }
}

void Backup::packTree(std::string_view folder, std::string_view archiveFolder, Item i,
                      const std::string& subject, const std::string& refusal) {
    // Data the machine does not have adds nothing, with a note: the other items
    // are still worth a backup. A value that names a drive's root or no drive
    // stays a refusal, since packing there would take the whole drive.
    // An identity's mail is never left out on a note: without its "Store Root"
    // the client would use a folder this backup does not know.
    const std::string bare = platform::excludeTrailingBackslash(folder);
    const bool mayBeMissing = i != MailFolders;
    if (bare.empty() && mayBeMissing) {
        RecordNote(subject + " adds nothing: the machine names no folder for it");
    } else if (!isPackableFolder(folder)) {
        refuse(refusal);
    } else if (!platform::directoryExists(bare) && mayBeMissing) {
        RecordNote(subject + " adds nothing: its folder " + bare + " does not exist");
    } else {
        jobs::AddFolderToJob(bare, archiveFolder, bare + "\\", "*");
    }
    jobs::CloseProgressGroup(ctx_, itemName(i));
}

void Backup::backupAddressBook() {
    const std::string path = base_ + std::string(kAddressReg);
    if (platform::fileExists(path)) platform::deleteFile(path);
    if (!io_.ExportKey(kCurrentUser, kWab, true, path))
        RecordError("Registry file " + path + " of the backup: " + io_.LastError());
    jobs::AddFileToJob(path, "", base_);
    const std::string wabFile = catalog::readText(RootKey::CurrentUser, kWabFileName, "");
    const std::string folder = platform::extractFilePath(wabFile);
    packTree(folder, kAddressBook, AddressBook, "The address book",
             "The address book cannot be backed up: its file name (\"" + wabFile +
                 "\") names no folder.");
}

// Returns the stationery folder as "stationery.ini" records it.
std::string Backup::backupStationery() {
    const std::string raw =
        catalog::readText(RootKey::LocalMachine, kStationeryKey, kStationeryValue);
    if (!item(Stationery)) return raw;
    const std::string expanded = oe::ExpandVariables(raw, folders_);
    packTree(expanded, kStationery, Stationery, "The stationery",
             "The stationery cannot be backed up: \"Stationery Folder\" (\"" + raw +
                 "\") names no folder.");
    return expanded;
}

void Backup::writeIniFiles(const std::vector<std::string>& keys,
                           const std::vector<std::string>& storeRoots,
                           const std::string& stationery) {
    if (!jobs::WriteManifest(ctx_)) refused_ = true;
    int n = 0;
    for (int i = 0; i < ctx_.identities.count; ++i) {
        if (!ctx_.identities.isChecked(i)) continue;
        if (!jobs::WriteManifestDirectory("Item" + std::to_string(++n),
                                          keys[static_cast<size_t>(i)]))
            refused_ = true;
    }

    auto writeIni = [&](std::string_view name, auto&& fill) {
        const std::string path = jobs::StagingPath(name);
        if (platform::fileExists(path)) platform::deleteFile(path);
        platform::IniFile ini(path);
        if (!createEmptyFile(path) || !fill(ini))
            refuse("Cannot write " + path + ": " + platform::lastFileError());
    };
    writeIni(kOthersIni, [&](platform::IniFile& ini) {
        bool ok = true;
        int k = 0;
        for (int i = 0; i < ctx_.identities.count; ++i) {
            if (!ctx_.identities.isChecked(i)) continue;
            ok = ini.writeString(kDirectory, "Item" + std::to_string(++k),
                                 storeRoots[static_cast<size_t>(i)]) &&
                 ok;
        }
        return ok;
    });
    writeIni(kStationeryIni, [&](platform::IniFile& ini) {
        return ini.writeString(kDirectory, "Stationery", stationery);
    });
    jobs::AddStagingFileToJob(jobs::kManifestName);
    jobs::AddStagingFileToJob(kOthersIni);
    jobs::AddStagingFileToJob(kStationeryIni);
}

void Backup::run() {
    jobs::StartBackupFrame(ctx_);
    folders_ = oe::DeriveFolders();
    ctx_.work = folders_.appData;
    // Without it no variable of a stored path can be resolved: nothing is packed,
    // so an older backup of the same name stays as it is.
    if (folders_.appData.empty()) {
        jobs::ArchiveJob& job = jobs::archiveJob();
        job.errorText = std::string(kNoAppData);
        job.errorFlag = true;
        return;
    }

    const size_t count = ctx_.identities.count;
    std::vector<std::string> keys(count), storeRoots(count);
    const std::vector<std::string> subKeys =
        catalog::subKeyNames(RootKey::CurrentUser, kIdentities);
    std::set<std::string> done;  // a key listed twice (under one name) is packed once
    for (size_t i = 0; i < count; ++i) {
        if (!ctx_.identities.isChecked(static_cast<int>(i))) continue;
        const std::string& n = ctx_.identities[static_cast<int>(i)].name;
        for (const std::string& g : subKeys) {
            if (catalog::readText(RootKey::CurrentUser, identityKey(g), "Username") != n) continue;
            // The name and the key become folders of the backup file.
            if (!IsSafeFolderName(n) || !IsSafeFolderName(g)) {
                RecordError("The Outlook Express identity \"" + n + "\" (key " + g +
                            ") was not backed up: its name cannot be a folder name.");
                continue;
            }
            keys[i] = g;
            storeRoots[i] = storeRootOf(g);
            if (done.insert(g).second) backupIdentity(n, g);
        }
    }
    if (item(AddressBook)) backupAddressBook();
    const std::string stationery = backupStationery();
    writeIniFiles(keys, storeRoots, stationery);
    if (refused_) return;
    jobs::FinishBackupFrame(ctx_);
}

// ---- restore ------------------------------------------------------------------

// Names of the backup file as the archive listing gives them.
std::string backslashed(std::string name) {
    for (char& c : name)
        if (c == '/') c = '\\';
    return name;
}

// One extraction cycle: entries are collected first and extracted together; a
// cycle without entries does not reach the library.
class Cycle {
  public:
    explicit Cycle(const std::string& backupPath) : backup_(backupPath) {}

    // The name, when the backup holds it, into `destination` (ending with "\").
    void add(std::string_view name, const std::string& destination) {
        for (const std::string& listed : jobs::ArchiveListing()) {
            if (platform::sameName(backslashed(listed), name)) {
                entries_.push_back({listed, destination});
                return;
            }
        }
    }
    // The name into the staging folder; a copy left there by an earlier restore
    // goes first, so that only what this backup holds is read or imported.
    void addToStaging(std::string_view name) {
        const std::string bare = platform::extractFileName(name);
        const std::string old = jobs::StagingPath(bare);
        if (platform::fileExists(old)) platform::deleteFile(old);
        add(name, jobs::archiveJob().stagingFolder + "\\");
    }
    // Every file stored below `prefix`, each into the folder below `root` (ending
    // with "\") that its stored sub-folders name; stored empty folders are created.
    // A name that would leave `root` is skipped and named in the job's errors.
    void addTree(std::string_view prefix, const std::string& root) {
        for (const std::string& listed : jobs::ArchiveListing()) {
            const std::string name = backslashed(listed);
            if (name.size() <= prefix.size() + 1 || name[prefix.size()] != '\\' ||
                !platform::startsWithNoCase(name, prefix))
                continue;
            const std::string rest = name.substr(prefix.size() + 1);
            const bool folderEntry = rest.back() == '\\';
            const std::vector<std::string> levels = splitLevels(rest);
            bool safe = !levels.empty();
            for (const std::string& level : levels)
                safe = safe && IsSafeFolderName(level);
            if (!safe) {
                RecordError("The backup's entry \"" + listed +
                            "\" was skipped: " + RefusedPathReason(backslashed(rest), root) + ".");
                continue;
            }
            std::string folder = root;
            const size_t folders = folderEntry ? levels.size() : levels.size() - 1;
            for (size_t j = 0; j < folders; ++j)
                folder += levels[j] + "\\";
            if (folderEntry) {
                if (!platform::directoryExists(folder) && !platform::forceDirectories(folder))
                    RecordError("Cannot create the folder " + folder + ": " +
                                platform::lastFileError());
                continue;
            }
            entries_.push_back({listed, folder});
        }
    }
    void run() {
        if (entries_.empty()) return;
        jobs::BeginExtraction(false);
        for (const auto& [name, destination] : entries_)
            jobs::AddExtractEntry(name, destination);
        jobs::ExtractJob(backup_);
        jobs::EndExtraction();
        entries_.clear();
    }

  private:
    std::string backup_;
    std::vector<std::pair<std::string, std::string>> entries_;
};

bool holdsEntriesUnder(std::string_view prefix) {
    for (const std::string& listed : jobs::ArchiveListing()) {
        const std::string name = backslashed(listed);
        if (name.size() > prefix.size() + 1 && name[prefix.size()] == '\\' &&
            platform::startsWithNoCase(name, prefix))
            return true;
    }
    return false;
}

// Lists the backup and extracts the given files of its root into the staging folder.
void extractManifests(const std::string& backupPath, const std::vector<std::string_view>& names) {
    jobs::ListArchive(backupPath);
    Cycle cycle(backupPath);
    for (std::string_view name : names)
        cycle.addToStaging(name);
    cycle.run();
    jobs::archiveJob().filesStarted = 0;
    jobs::SetRestoreScale(jobs::ArchiveListing().size());
}

// The values of a section's lines, in file order: the text after each line's
// first "=". Lines are paired by position, not by key name.
std::vector<std::string> lineValues(std::string_view file, std::string_view section) {
    std::vector<std::string> values;
    for (const std::string& line :
         platform::IniFile(jobs::StagingPath(file)).readSectionValues(section)) {
        const size_t eq = line.find('=');
        values.push_back(eq == std::string::npos ? std::string() : line.substr(eq + 1));
    }
    return values;
}

std::string lineValue(const std::vector<std::string>& values, size_t k) {
    return k < values.size() ? values[k] : std::string();
}

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
        s.remove_prefix(1);
    return s;
}

std::string_view trim(std::string_view s) {
    s = trimLeft(s);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

// The first key of a registry file that the import would open outside `scope`
// (a key path below HKEY_CURRENT_USER); nothing when every key lies within it.
// The lines are read as the import reads them, strings that span lines included.
std::optional<std::string> keyOutsideScope(const TIORegistry& io, const std::string& file,
                                           std::string_view scope) {
    const auto text = catalog::readFileBytes(file);
    if (!text) return "the file cannot be read";
    const std::vector<std::string> lines = catalog::splitLines(*text);
    const std::vector<std::string> allowed = splitLevels(scope);
    for (size_t i = 0; i < lines.size(); ++i) {
        const TLineKind kind = io.ClassifyLine(lines[i]);
        if (kind == lkValue) {
            const std::string_view line = trimLeft(lines[i]);
            const size_t close = line.find("\"=", 1);
            if (close == std::string_view::npos) continue;
            const std::string_view rest = line.substr(close + 2);
            if (rest.empty() || rest.front() != '"' || rest.find_last_of('"') > 0) continue;
            for (size_t j = i + 1; j < lines.size(); ++j) {
                if (!lines[j].empty() && lines[j].back() == '"') {
                    i = j;
                    break;
                }
            }
            continue;
        }
        if (kind != lkKey) continue;
        std::string_view body = trim(lines[i]).substr(1);
        if (!body.empty() && body.back() == ']') body.remove_suffix(1);
        const size_t split = body.find('\\');
        const std::string_view rootName =
            split == std::string_view::npos ? std::string_view() : body.substr(0, split);
        const std::string_view keyPath =
            split == std::string_view::npos ? body : body.substr(split);
        const std::vector<std::string> levels = splitLevels(keyPath);
        bool inside = TIORegistry::RootKeyFromName(rootName) == RootKey::CurrentUser &&
                      levels.size() >= allowed.size();
        for (size_t j = 0; inside && j < allowed.size(); ++j)
            inside = platform::equalsNoCase(levels[j], allowed[j]);
        if (!inside) return std::string(body);
    }
    return std::nullopt;
}

// Imports a registry file of the staging folder when it is there and writes only
// below `scope`; `inBackup` is its name in the backup. Failures are recorded;
// returns whether it was imported.
bool importFile(TIORegistry& io, std::string_view name, std::string_view scope,
                std::string_view inBackup) {
    const std::string file = jobs::StagingPath(name);
    if (!platform::fileExists(file)) return false;
    if (const auto outside = keyOutsideScope(io, file, scope)) {
        jobs::NoteRegistryImport(inBackup, false);
        RecordError("Registry file \"" + std::string(name) +
                    "\" of the backup was not imported: it names the key \"" + *outside +
                    "\", outside HKEY_CURRENT_USER" + std::string(scope) + ".");
        return false;
    }
    try {
        const bool imported = io.ImportFile(file);
        jobs::NoteRegistryImport(inBackup, imported);
        return imported;
    } catch (const RegFileError& e) {
        jobs::NoteRegistryImport(inBackup, false);
        RecordError(e.what());
        return false;
    }
}

class Restore {
  public:
    explicit Restore(jobs::RestoreContext& ctx) : ctx_(ctx) {}
    bool run();
    bool runToFolder();

  private:
    bool item(Item i) const { return ctx_.items.isChecked(static_cast<int>(i)); }
    void restoreIdentity(const std::string& n, const std::string& g, const std::string& name,
                         const std::string& storeLine);
    void importIdentityFiles(const std::string& n, const std::vector<std::string_view>& names,
                             const std::string& g);
    void restoreAddressBook();
    void restoreStationery();
    std::string storeFolderFor(const std::string& n, const std::string& g,
                               const std::string& storeLine);

    jobs::RestoreContext& ctx_;
    oe::Folders folders_;
    std::vector<oe::IdentityEntry> table_;
    TIORegistry io_;
};

void Restore::importIdentityFiles(const std::string& n, const std::vector<std::string_view>& names,
                                  const std::string& g) {
    Cycle cycle(ctx_.backupPath);
    for (std::string_view name : names)
        cycle.addToStaging(n + "\\" + std::string(name));
    cycle.run();
    for (std::string_view name : names)
        importFile(io_, name, identityFile(name, g).scope, n + "\\" + std::string(name));
}

// The folder the identity's mail store goes to: the backed-up "Store Root" with
// this machine's folders, the default place when the backup has none or names no
// place a backup may write to.
std::string Restore::storeFolderFor(const std::string& n, const std::string& g,
                                    const std::string& storeLine) {
    const std::string fallback = folders_.profile + "\\OExpress\\" + g;
    std::string store = oe::ExpandVariables(storeLine, folders_);
    if (store.empty()) {
        store = fallback;
    } else if (!isSafeAbsoluteFolder(store)) {
        RecordError("The backup's store folder \"" + storeLine + "\" of the identity \"" + n +
                    "\" was refused; its mail folders go to " + fallback + ".");
        store = fallback;
    }
    return jobs::MakeFolderOrUseFixedDrive(platform::excludeTrailingBackslash(store));
}

void Restore::restoreIdentity(const std::string& n, const std::string& g, const std::string& name,
                              const std::string& storeLine) {
    const std::string store = storeFolderFor(n, g, storeLine);

    // The identity's key is replaced only by one the backup really holds.
    Cycle cycle(ctx_.backupPath);
    for (std::string_view file : kAlwaysFiles)
        cycle.addToStaging(n + "\\" + std::string(file));
    cycle.run();
    const std::string identityFileName = jobs::StagingPath("identity.reg");
    bool identityOk = platform::fileExists(identityFileName);
    if (identityOk) {
        if (const auto outside = keyOutsideScope(io_, identityFileName, identityKey(g))) {
            RecordError("Registry file \"identity.reg\" of the identity \"" + n +
                        "\" was not imported: it names the key \"" + *outside +
                        "\", outside HKEY_CURRENT_USER" + identityKey(g) + ".");
            identityOk = false;
        }
    } else {
        RecordError("The backup holds no settings of the identity \"" + n +
                    "\"; its registry settings were not restored.");
    }
    if (identityOk) {
        // A backup without the identity's display name replaces none.
        if (!name.empty()) oe::DeleteIdentitiesNamed(table_, name);
        for (std::string_view file : kAlwaysFiles)
            importFile(io_, file, identityFile(file, g).scope, n + "\\" + std::string(file));
    }
    // The identity points to its store on this machine (when its key is there).
    try {
        Registry reg(RootKey::CurrentUser);
        if (reg.openKey(settingsKey(g), false)) {
            // The path is this machine's, but the value keeps its type.
            if (reg.dataType("Store Root") == platform::ValueType::ExpandString)
                reg.writeExpandString("Store Root", store);
            else
                reg.writeString("Store Root", store);
            reg.closeKey();
        }
    } catch (const RegistryError& e) {
        RecordError("Cannot write \"Store Root\" of the identity \"" + n + "\": " + e.what());
    }
    if (identityOk && item(Accounts)) importIdentityFiles(n, kAccountFiles, g);
    if (item(MailFolders)) {
        Cycle mail(ctx_.backupPath);
        mail.addTree(g, platform::includeTrailingBackslash(store));
        mail.run();
    }
    if (identityOk && item(MessageRules)) importIdentityFiles(n, kRuleFiles, g);
    if (identityOk && item(Signatures)) importIdentityFiles(n, kSignatureFiles, g);
}

void Restore::restoreAddressBook() {
    Cycle cycle(ctx_.backupPath);
    cycle.addToStaging(kAddressReg);
    cycle.run();
    importFile(io_, kAddressReg, kWab, kAddressReg);
    if (!holdsEntriesUnder(kAddressBook)) return;
    const std::string wabFile = catalog::readText(RootKey::CurrentUser, kWabFileName, "");
    const std::string folder = platform::extractFilePath(wabFile);
    if (!isSafeAbsoluteFolder(folder)) {
        RecordError("The address book files were not restored: the address book's file name (\"" +
                    wabFile + "\") names no folder they may go to.");
        return;
    }
    Cycle files(ctx_.backupPath);
    files.addTree(kAddressBook, folder);
    files.run();
}

void Restore::restoreStationery() {
    const std::string fallback = folders_.profile + "\\OExpress\\Stationery";
    std::string folder;
    bool write = false;
    bool known = false;
    try {
        Registry reg(RootKey::LocalMachine);
        if (reg.openKeyReadOnly(kStationeryKey) && reg.valueExists(kStationeryValue)) {
            known = true;
            const auto type = reg.dataType(kStationeryValue);
            if (type == platform::ValueType::String || type == platform::ValueType::ExpandString)
                folder = oe::ExpandVariables(reg.readString(kStationeryValue), folders_);
        }
    } catch (const RegistryError&) {
        known = false;
    }
    if (known) {
        if (folder.empty()) {
            folder = fallback;
            write = true;
        }
    } else {
        const std::string stored = platform::IniFile(jobs::StagingPath(kStationeryIni))
                                       .readString(kDirectory, "Stationery", "");
        folder = stored;
        if (folder.empty()) {
            folder = fallback;
        } else if (!isSafeAbsoluteFolder(folder)) {
            RecordError("The backup's stationery folder \"" + stored +
                        "\" was refused; the stationery goes to " + fallback + ".");
            folder = fallback;
        }
        folder = jobs::MakeFolderOrUseFixedDrive(platform::excludeTrailingBackslash(folder));
        write = true;
    }
    if (write) {
        try {
            Registry reg(RootKey::LocalMachine);
            if (!reg.openKey(kStationeryKey, true))
                throw RegistryError("cannot open or create the key");
            reg.writeString(kStationeryValue, folder);
            reg.closeKey();
        } catch (const RegistryError& e) {
            RecordError(std::string(kStationeryWriteFailed) + ": " + e.what());
            interaction().messageBox(kStationeryWriteFailed, MsgIcon::Error, MsgButtons::Ok);
        }
    }
    if (!holdsEntriesUnder(kStationery)) return;
    if (!isSafeAbsoluteFolder(folder)) {
        RecordError("The stationery was not restored: its folder \"" + folder +
                    "\" is no folder it may go to.");
        return;
    }
    Cycle files(ctx_.backupPath);
    files.addTree(kStationery, platform::includeTrailingBackslash(folder));
    files.run();
}

bool Restore::run() {
    folders_ = oe::DeriveFolders();
    table_ = oe::ReadIdentityTable();
    extractManifests(ctx_.backupPath, {jobs::kManifestName, kOthersIni, kStationeryIni});
    const std::vector<std::string> keys = lineValues(jobs::kManifestName, kDirectory);
    const std::vector<std::string> names = lineValues(jobs::kManifestName, "Identities");
    const std::vector<std::string> stores = lineValues(kOthersIni, kDirectory);

    for (size_t k = 0; k < ctx_.identities.count; ++k) {
        if (!ctx_.identities.isChecked(static_cast<int>(k))) continue;
        const std::string& n = ctx_.identities[static_cast<int>(k)].name;
        const std::string g = lineValue(keys, k);
        // An identity that matched nothing when it was backed up has nothing to
        // restore; its namesakes on this machine stay as they are.
        if (g.empty()) continue;
        if (!IsSafeFolderName(n) || !IsSafeFolderName(g)) {
            RecordError("The identity \"" + n + "\" (key \"" + g +
                        "\") of the backup was not restored: its name or key cannot be a "
                        "folder name.");
            continue;
        }
        restoreIdentity(n, g, lineValue(names, k), lineValue(stores, k));
    }
    if (item(AddressBook)) restoreAddressBook();
    if (item(Stationery)) restoreStationery();
    return jobs::archiveJob().errorFlag;
}

bool Restore::runToFolder() {
    const std::string target = platform::includeTrailingBackslash(ctx_.targetFolder);
    extractManifests(ctx_.backupPath, {jobs::kManifestName, kOthersIni});
    if (!platform::directoryExists(target) && !platform::forceDirectories(target)) {
        RecordError("Cannot create the folder " + target + ": " + platform::lastFileError());
        return true;
    }
    const std::vector<std::string> keys = lineValues(jobs::kManifestName, kDirectory);

    for (size_t k = 0; k < ctx_.identities.count; ++k) {
        if (!ctx_.identities.isChecked(static_cast<int>(k))) continue;
        const std::string& n = ctx_.identities[static_cast<int>(k)].name;
        const std::string g = lineValue(keys, k);
        if (!IsSafeFolderName(n)) {
            RecordError("The identity \"" + n +
                        "\" of the backup was not restored: its name cannot be a folder name.");
            continue;
        }
        const std::string folder = target + n + "\\";
        auto files = [&](const std::vector<std::string_view>& names) {
            Cycle cycle(ctx_.backupPath);
            for (std::string_view name : names)
                cycle.add(n + "\\" + std::string(name), folder);
            cycle.run();
            for (std::string_view name : names)
                ConvertRegistryFileForHand(folder + std::string(name));
        };
        files(kAlwaysFiles);
        if (item(Accounts)) files(kAccountFiles);
        if (item(MailFolders) && !g.empty()) {
            if (IsSafeFolderName(g)) {
                Cycle mail(ctx_.backupPath);
                mail.addTree(g, target + g + "\\");
                mail.run();
            } else {
                RecordError("The mail folders of the identity \"" + n +
                            "\" were not restored: for their folder name \"" + g + "\", " +
                            RefusedPathReason(g, target) + ".");
            }
        }
        if (item(MessageRules)) files(kRuleFiles);
        if (item(Signatures)) files(kSignatureFiles);
    }
    if (item(AddressBook)) {
        Cycle reg(ctx_.backupPath);
        reg.add(kAddressReg, target);
        reg.run();
        ConvertRegistryFileForHand(target + std::string(kAddressReg));
        Cycle book(ctx_.backupPath);
        book.addTree(kAddressBook, target + std::string(kAddressBook) + "\\");
        book.run();
    }
    if (item(Stationery)) {
        Cycle files(ctx_.backupPath);
        files.addTree(kStationery, target + std::string(kStationery) + "\\");
        files.run();
    }
    return jobs::archiveJob().errorFlag;
}

}  // namespace

// ---- public -------------------------------------------------------------------

namespace oe {

Folders DeriveFolders() {
    Folders f;
    f.appData = AppDataFolder();
    size_t found = 0;
    size_t third = std::string::npos;
    for (size_t i = 0; i < f.appData.size(); ++i) {
        if (f.appData[i] == '\\' && ++found == 3) {
            third = i;
            break;
        }
    }
    // A shallower folder is taken whole: never a fragment of a drive name.
    f.profile = third == std::string::npos ? f.appData : f.appData.substr(0, third);
    f.systemDrive = f.appData.substr(0, f.appData.find('\\'));
    f.programFiles = platform::excludeTrailingBackslash(
        catalog::readText(RootKey::LocalMachine, kCurrentVersion, "ProgramFilesDir"));
    if (f.programFiles.empty()) f.programFiles = f.systemDrive + "\\Program Files";
    f.windows = platform::excludeTrailingBackslash(platform::windowsFolder());
    return f;
}

std::string ExpandVariables(std::string_view text, const Folders& folders) {
    std::string s(text);
    s = replaceVariable(s, "%userprofile%", folders.profile);
    s = replaceVariable(s, "%systemdrive%", folders.systemDrive);
    s = replaceVariable(s, "%programfiles%", folders.programFiles);
    s = replaceVariable(s, "%systemroot%", folders.windows);
    return s;
}

std::vector<IdentityEntry> ReadIdentityTable() {
    std::vector<IdentityEntry> table;
    for (const std::string& key : catalog::subKeyNames(RootKey::CurrentUser, kIdentities))
        table.push_back(
            {key, catalog::readText(RootKey::CurrentUser, identityKey(key), "Username")});
    return table;
}

void DeleteIdentitiesNamed(const std::vector<IdentityEntry>& table, std::string_view name) {
    for (const IdentityEntry& e : table) {
        if (e.username != name) continue;
        try {
            Registry reg(RootKey::CurrentUser);
            reg.deleteKey(identityKey(e.key));
        } catch (const RegistryError& err) {
            RecordError("Cannot delete the identity key " + e.key + ": " + err.what());
        }
    }
}

}  // namespace oe

void BackupOutlookExpress(jobs::BackupContext& ctx) {
    Backup(ctx).run();
}

bool RestoreOutlookExpress(jobs::RestoreContext& ctx) {
    return Restore(ctx).run();
}

bool RestoreOutlookExpressToFolder(jobs::RestoreContext& ctx) {
    return Restore(ctx).runToFolder();
}

void RegisterOutlookExpress() {
    jobs::RegisterBackupAdapter(kind::OutlookExpress, BackupOutlookExpress);
    jobs::RegisterRestoreAdapter(kind::OutlookExpress, RestoreOutlookExpress,
                                 RestoreOutlookExpressToFolder);
}

}  // namespace qb::clients
