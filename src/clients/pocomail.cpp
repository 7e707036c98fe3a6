#include "clients/pocomail.h"

#include <array>
#include <string>
#include <unordered_set>
#include <vector>

#include "catalog/client_paths.h"
#include "clients/adapter_support.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"

namespace qb::clients {

namespace {

constexpr const char* kMainUser = "Default User";
constexpr const char* kPocoIni = "poco.ini";
constexpr const char* kAccountsIni = "accounts.ini";
constexpr const char* kFiltersIni = "Filters.ini";
constexpr const char* kDirectoryIni = "directory.ini";
constexpr std::array<const char*, 3> kMailMasks = {"mbx", "itx", "dat"};

// Item positions.
constexpr int kAccounts = 0;
constexpr int kMail = 1;
constexpr int kFilters = 2;
constexpr int kSignatures = 3;
constexpr int kAddresses = 4;
constexpr int kScripts = 5;

// The folder values of one user's "poco.ini", each without its trailing backslash.
// All but `users` are relative to the folder that holds the file.
struct PocoFolders {
    std::string address;
    std::string attach;
    std::string mail;
    std::string script;
    std::string sig;
    std::string templ;
    std::string users;
};

struct FolderKey {
    const char* section;
    const char* key;
    std::string PocoFolders::*field;
};
constexpr std::array<FolderKey, 7> kFolderKeys = {{
    {"Program", "AddressPath", &PocoFolders::address},
    {"Mail", "AttachPath", &PocoFolders::attach},
    {"Program", "MailPath", &PocoFolders::mail},
    {"Program", "ScriptPath", &PocoFolders::script},
    {"Program", "SigPath", &PocoFolders::sig},
    {"Program", "TemplatePath", &PocoFolders::templ},
    {"Program", "UsersPath", &PocoFolders::users},
}};

const char* keyOf(std::string PocoFolders::*field) {
    for (const FolderKey& k : kFolderKeys)
        if (k.field == field) return k.key;
    return "";
}

// The settings end every folder with a backslash; only that backslash is taken
// off, so a value written without one still names the whole folder.
PocoFolders readPocoIni(const std::string& path) {
    const platform::IniFile ini(path);
    PocoFolders f;
    for (const FolderKey& k : kFolderKeys)
        f.*k.field = platform::excludeTrailingBackslash(ini.readString(k.section, k.key, ""));
    return f;
}

// Where the PocoMail folder of a version is registered, for error texts.
std::string folderValueText(ClientKind version) {
    switch (version) {
        case kind::PocoMail2:
            return "value \"Path\" of HKEY_CURRENT_USER\\Software\\Poco\\Mail";
        case kind::PocoMail3:
            return "value \"Path\" of HKEY_CURRENT_USER\\Software\\Poco Systems Inc\\PocoMail 3";
        default:
            return "value \"Inno Setup: App Path\" of HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\"
                   "Windows\\CurrentVersion\\Uninstall\\pocomail2moe_is1";
    }
}

// A folder value that can be used below the user's folder. An empty one names no
// folder (an older version without it): nothing to do. One that would lead out of
// the user's folder is reported and left alone.
bool usableFolder(const PocoFolders& f, std::string PocoFolders::*field,
                  const std::string& iniName) {
    const std::string& value = f.*field;
    if (value.empty()) return false;
    if (IsSafeRelativePath(value)) return true;
    RecordError(iniName + " names the folder \"" + value + "\" for \"" + keyOf(field) +
                "\", which lies outside the user's folder; it was left out.");
    return false;
}

// The chosen identities: whether the first is the main user, and the others.
bool hasMainUser(const Selection& ids) {
    return ids.count > 0 && ids[0].name == kMainUser;
}

// ---- backup ----

// The mail sub-folders below the main user's mail folder M (ending "\") that hold
// mailboxes, each once, in search order; M itself is not among them.
std::vector<std::string> mailSubFolders(const std::string& mailFolder) {
    std::vector<std::string> found;
    for (const std::string& f : FoldersHolding(mailFolder + "*.mbx"))
        if (!platform::equalsNoCase(f, mailFolder)) found.push_back(f);
    return found;
}

class PocoBackup {
  public:
    explicit PocoBackup(jobs::BackupContext& ctx) : ctx_(ctx) {}

    // One user: `folder` holds its poco.ini (no trailing backslash), `archive` is
    // the folder its files are stored under ("" for the main user).
    void user(const std::string& folder, const std::string& archive, bool main) {
        const std::string base = folder + "\\";
        const std::string iniName = base + kPocoIni;
        const PocoFolders f = readPocoIni(iniName);
        jobs::AddFileToJob(iniName, archive, base);
        auto addFolder = [&](std::string PocoFolders::*field) {
            if (usableFolder(f, field, iniName))
                jobs::AddFolderToJob(base + f.*field, archive, base, "*");
        };
        // Items other than mail: a folder the machine does not have is a note.
        auto addItemFolder = [&](int index, std::string PocoFolders::*field) {
            if (usableFolder(f, field, iniName))
                AddItemFolder(ItemName(ctx_.items, index, ctx_.kind), base + f.*field, archive,
                              base, "*");
        };
        if (item(kAccounts)) {
            jobs::AddFileToJob(base + kAccountsIni, archive, base);
            close(kAccounts);
        }
        if (item(kMail)) {
            addFolder(&PocoFolders::attach);
            addFolder(&PocoFolders::mail);
            addFolder(&PocoFolders::templ);
            if (main && usableFolder(f, &PocoFolders::mail, iniName))
                mailSubFolderCopies(base + f.mail + "\\");
            close(kMail);
        }
        if (item(kFilters)) {
            AddItemFile(ItemName(ctx_.items, kFilters, ctx_.kind), base + kFiltersIni, archive,
                        base);
            close(kFilters);
        }
        if (item(kSignatures)) {
            addItemFolder(kSignatures, &PocoFolders::sig);
            close(kSignatures);
        }
        if (item(kAddresses)) {
            addItemFolder(kAddresses, &PocoFolders::address);
            close(kAddresses);
        }
        if (item(kScripts)) {
            addItemFolder(kScripts, &PocoFolders::script);
            close(kScripts);
        }
    }

  private:
    bool item(int index) const { return ctx_.items.isChecked(index); }
    void close(int index) {
        jobs::CloseProgressGroup(ctx_, ItemName(ctx_.items, index, ctx_.kind));
    }

    // The mailbox files of every mail sub-folder, stored under the sub-folder's
    // path below the mail folder, and directory.ini listing those sub-folders.
    void mailSubFolderCopies(const std::string& mailFolder) {
        const std::string list = FreshStagingPath(kDirectoryIni);
        platform::IniFile ini(list);
        int k = 0;
        for (const std::string& sub : mailSubFolders(mailFolder)) {
            const std::string folder = platform::excludeTrailingBackslash(sub);
            for (const char* mask : kMailMasks)
                jobs::AddFolderToJob(folder, "", mailFolder, mask);
            if (!ini.writeString("Directory", "Dir" + std::to_string(++k),
                                 folder.substr(mailFolder.size()))) {
                RecordError("Cannot write the mail folder list " + list + ": " +
                            platform::lastFileError());
                return;
            }
        }
        if (k > 0) jobs::AddStagingFileToJob(kDirectoryIni);
    }

    jobs::BackupContext& ctx_;
};

// ---- restore ----

// Where one restore puts the users.
struct Destination {
    std::string main;   // the main user's folder, ending "\"
    std::string users;  // the folder of further users, ending "\"
    bool direct = false;
};

class PocoRestore {
  public:
    PocoRestore(jobs::RestoreContext& ctx, Destination dest) : ctx_(ctx), dest_(std::move(dest)) {}

    // `stored` is the folder of the user's names in the backup ("" or "users\N\"),
    // `folder` where they go (ending "\").
    void user(const std::string& stored, const std::string& folder, bool main,
              const std::string& who) {
        const std::string staged = ExtractToStaging(ctx_.backupPath, stored + kPocoIni);
        if (staged.empty()) {
            RecordError("The backup holds no readable settings file (" + stored + kPocoIni +
                        ") for PocoMail user \"" + who + "\"; its folders were not restored.");
        }
        const PocoFolders f = readPocoIni(staged);
        const std::string iniName = "The settings file " + stored + kPocoIni + " in the backup";
        if (ExtractFile(ctx_.backupPath, stored + kPocoIni, folder) && dest_.direct)
            adaptUsersFolder(folder + kPocoIni);
        auto tree = [&](std::string PocoFolders::*field) {
            if (usableFolder(f, field, iniName))
                RestoreTree(ctx_.backupPath, stored + f.*field, folder + f.*field + "\\");
        };
        if (item(kAddresses)) tree(&PocoFolders::address);
        if (item(kAccounts)) ExtractFile(ctx_.backupPath, stored + kAccountsIni, folder);
        if (item(kMail)) {
            tree(&PocoFolders::attach);
            tree(&PocoFolders::mail);
            tree(&PocoFolders::templ);
            if (main && usableFolder(f, &PocoFolders::mail, iniName))
                mailSubFolders(folder + f.mail + "\\");
        }
        if (item(kScripts)) tree(&PocoFolders::script);
        if (item(kSignatures)) tree(&PocoFolders::sig);
        if (item(kFilters)) ExtractFile(ctx_.backupPath, stored + kFiltersIni, folder);
    }

    // The users folder that this machine's main settings name, when it is a full
    // path; else the design's place, the PocoMail folder's "users".
    void takeUsersFolderFromMachine() {
        const std::string named = readPocoIni(dest_.main + kPocoIni).users;
        if (IsFullPath(named)) dest_.users = named + "\\";
    }

    const Destination& destination() const { return dest_; }

  private:
    bool item(int index) const { return ctx_.items.isChecked(index); }

    // A restored settings file names the users folder of the machine it came
    // from; when that folder is not here, it is pointed at this machine's.
    void adaptUsersFolder(const std::string& pocoIni) {
        platform::IniFile ini(pocoIni);
        if (!ini.valueExists("Program", "UsersPath")) return;
        const std::string named =
            platform::excludeTrailingBackslash(ini.readString("Program", "UsersPath", ""));
        if (IsFullPath(named) && platform::directoryExists(named)) return;
        if (!ini.writeString("Program", "UsersPath", dest_.users))
            RecordError("Cannot write the users folder into " + pocoIni + ": " +
                        platform::lastFileError());
    }

    // The mailbox files of the sub-folders that directory.ini lists, each into its
    // sub-folder below the mail folder `mailFolder` (ending "\").
    void mailSubFolders(const std::string& mailFolder) {
        const std::string list = ExtractToStaging(ctx_.backupPath, kDirectoryIni);
        if (list.empty()) return;
        const platform::IniFile ini(list);
        const size_t lines = ini.readSection("Directory").size();
        std::unordered_set<std::string> seen;
        Extraction cycle;
        for (size_t i = lines; i >= 1; --i) {
            const std::string d = platform::excludeTrailingBackslash(
                ini.readString("Directory", "Dir" + std::to_string(i), ""));
            if (d.empty() || !seen.insert(platform::lowerAscii(d)).second) continue;
            if (!IsSafeRelativePath(d)) {
                RecordError("The mail folder \"" + d + "\" listed in the backup's " +
                            kDirectoryIni + " lies outside " + mailFolder +
                            "; it was not restored.");
                continue;
            }
            for (const std::string& name : ListedNamesUnder(d)) {
                const std::string file = name.substr(d.size() + 1);
                if (file.empty() || file.find('\\') != std::string::npos) continue;
                bool mailbox = false;
                for (const char* mask : kMailMasks)
                    mailbox = mailbox || platform::equalsNoCase(platform::extractFileExt(file),
                                                                std::string(".") + mask);
                if (mailbox) cycle.addFile(name, mailFolder + d + "\\");
            }
        }
        cycle.run(ctx_.backupPath);
    }

    jobs::RestoreContext& ctx_;
    Destination dest_;
};

bool usableUserName(const std::string& name, std::string_view what) {
    if (IsSafeFolderName(name)) return true;
    RecordError("PocoMail user \"" + name + "\" cannot be used as a folder name; this user was " +
                std::string(what) + ".");
    return false;
}

void restoreUsers(jobs::RestoreContext& ctx, PocoRestore& restore) {
    const bool main = hasMainUser(ctx.identities);
    if (main && ctx.identities.isChecked(0))
        restore.user("", restore.destination().main, true, kMainUser);
    if (restore.destination().direct) restore.takeUsersFolderFromMachine();
    for (int k = main ? 1 : 0; k < ctx.identities.count; ++k) {
        if (!ctx.identities.isChecked(k)) continue;
        const std::string& name = ctx.identities[k].name;
        if (!usableUserName(name, "not restored")) continue;
        restore.user("users\\" + name + "\\", restore.destination().users + name + "\\", false,
                     name);
    }
}

}  // namespace

void BackupPocoMail(jobs::BackupContext& ctx) {
    AdapterRun run;
    const std::string folder = PocoFolder(ctx.kind);
    if (!IsFullPath(folder)) {
        RecordError("The PocoMail folder is not set (" + folderValueText(ctx.kind) +
                    " is missing or not a full path); nothing was backed up.");
        return;
    }
    const std::string mainIni = folder + "\\" + kPocoIni;
    const bool main = hasMainUser(ctx.identities);
    const int first = main ? 1 : 0;

    // The users folder always comes from the main user's settings, also when the
    // main user is not backed up.
    Selection listed = ctx.identities;
    std::vector<std::pair<std::string, std::string>> further;  // name, folder
    std::string users;
    for (int k = first; k < ctx.identities.count; ++k) {
        if (!ctx.identities.isChecked(k)) continue;
        const std::string& name = ctx.identities[k].name;
        if (users.empty()) {
            users = readPocoIni(mainIni).users;
            if (!IsFullPath(users)) {
                RecordError("The PocoMail users folder is not set (value \"UsersPath\" of " +
                            mainIni + " is missing or not a full path); nothing was backed up.");
                return;
            }
        }
        listed[k].checked = false;
        if (!usableUserName(name, "not backed up")) continue;
        const std::string userFolder = users + "\\" + name;
        // The users folder holds plain files beside the users' folders: they are
        // no users and have nothing to back up.
        if (!platform::directoryExists(userFolder)) continue;
        if (!platform::fileExists(userFolder + "\\" + kPocoIni)) {
            RecordError("The folder " + userFolder + " of PocoMail user \"" + name +
                        "\" holds no " + kPocoIni + "; this user was not backed up.");
            continue;
        }
        listed[k].checked = true;
        further.emplace_back(name, userFolder);
    }
    const bool mainChosen = main && ctx.identities.isChecked(0);
    if (mainChosen && !platform::fileExists(mainIni)) {
        RecordError("The PocoMail folder " + folder + " holds no " + kPocoIni +
                    "; the main user was not backed up.");
        listed[0].checked = false;
    }

    jobs::StartBackupFrame(ctx);
    PocoBackup backup(ctx);
    if (listed.isChecked(0) && main) backup.user(folder, "", true);
    for (const auto& [name, userFolder] : further)
        backup.user(userFolder, "users\\" + name, false);

    jobs::BackupContext manifest = ctx;
    manifest.identities = listed;
    if (!jobs::WriteManifest(manifest)) return;
    jobs::AddStagingFileToJob(jobs::kManifestName);
    jobs::FinishBackupFrame(ctx);
}

bool RestorePocoMail(jobs::RestoreContext& ctx) {
    AdapterRun run;
    jobs::ArchiveJob& job = jobs::archiveJob();
    if (!BeginRestore(ctx.backupPath)) return job.errorFlag;
    const std::string folder = PocoFolder(ctx.kind);
    if (!IsFullPath(folder)) {
        RecordError("The PocoMail folder is not set (" + folderValueText(ctx.kind) +
                    " is missing or not a full path); nothing was restored.");
        return job.errorFlag;
    }
    PocoRestore restore(ctx, {folder + "\\", folder + "\\users\\", true});
    restoreUsers(ctx, restore);
    return job.errorFlag;
}

bool RestorePocoMailToFolder(jobs::RestoreContext& ctx) {
    AdapterRun run;
    jobs::ArchiveJob& job = jobs::archiveJob();
    if (!BeginRestore(ctx.backupPath)) return job.errorFlag;
    const std::string target = platform::includeTrailingBackslash(ctx.targetFolder);
    PocoRestore restore(ctx, {target, target + "users\\", false});
    restoreUsers(ctx, restore);
    return job.errorFlag;
}

void RegisterPocoMail() {
    for (const ClientKind version : {kind::PocoMail2, kind::PocoMail3, kind::PocoMail2PE}) {
        jobs::RegisterBackupAdapter(version, BackupPocoMail);
        jobs::RegisterRestoreAdapter(version, RestorePocoMail, RestorePocoMailToFolder);
    }
}

}  // namespace qb::clients
