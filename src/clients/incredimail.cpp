#include "clients/incredimail.h"

#include <array>
#include <map>
#include <string>
#include <vector>

#include "catalog/identities.h"
#include "catalog/reads.h"
#include "clients/adapter_support.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "jobs/restore_job.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "regfile/io_registry.h"

namespace qb::clients {

namespace {

using catalog::readText;
using platform::RootKey;

constexpr const char* kClientKey = "\\SOFTWARE\\incredimail";
constexpr const char* kIdentitiesKey = "\\SOFTWARE\\incredimail\\identities";
// Below the root, as the registry files name them.
constexpr const char* kIdentityPath = "Software\\IncrediMail\\Identities\\";
constexpr const char* kIdentitySubtree = "SOFTWARE\\incredimail\\identities\\";
constexpr const char* kContentPath = "SOFTWARE\\incredimail\\content";

// The shared stationery content, each in its own folder below the content folder.
constexpr std::array<const char*, 8> kContentFolders = {"Animation", "ECard", "Emoticon", "Letter",
                                                        "Notifier",  "Skin",  "Sound",    "Image"};

// Positions in the item list.
constexpr int kAccounts = 0;
constexpr int kMailFolders = 1;
constexpr int kMessageRules = 2;
constexpr int kAddressBook = 3;
constexpr int kStationery = 4;

// An installation keeps its identities under the current user, or (older ones)
// only under the machine; the catalog lists them by the same test.
struct Installation {
    bool perUser = false;
    RootKey root = RootKey::LocalMachine;
    std::string rootName;
    std::string applicationFolder;  // A
    std::string contentFolder;      // CF
    std::string identitiesFolder() const { return applicationFolder + "\\Identities"; }
};

std::string folderValue(RootKey root, const char* name) {
    return platform::excludeTrailingBackslash(readText(root, kClientKey, name));
}

Installation installationToBackUp() {
    Installation in;
    in.perUser = catalog::keyExists(RootKey::CurrentUser, kClientKey);
    in.root = in.perUser ? RootKey::CurrentUser : RootKey::LocalMachine;
    in.rootName = TIORegistry::RootKeyName(in.root);
    in.applicationFolder = folderValue(in.root, "ApplicationPath");
    in.contentFolder =
        folderValue(RootKey::LocalMachine, in.perUser ? "CommonDataPath" : "ApplicationPath");
    return in;
}

// A restore writes the settings under the current user and puts the files where
// a current installation keeps them; a machine with an installation of the older
// kind only has the machine's application folder, which then holds both.
Installation installationToRestoreInto() {
    Installation in;
    in.perUser = true;
    in.root = RootKey::CurrentUser;
    in.rootName = TIORegistry::RootKeyName(in.root);
    const std::string machineFolder = folderValue(RootKey::LocalMachine, "ApplicationPath");
    in.applicationFolder = folderValue(RootKey::CurrentUser, "ApplicationPath");
    if (in.applicationFolder.empty()) in.applicationFolder = machineFolder;
    in.contentFolder = folderValue(RootKey::LocalMachine, "CommonDataPath");
    if (in.contentFolder.empty()) in.contentFolder = machineFolder;
    return in;
}

// One identity as the catalog lists it: its subkey, the text the person saw, and
// its number among the valid identities.
struct ListedIdentity {
    std::string key;
    std::string listed;
    int number = 0;
};

// The valid identities in listing order, by the catalog's rule: "IsValid" 0 is
// skipped, an empty name under the current user shows as "[Identity<n>]".
std::vector<ListedIdentity> listIdentities(const Installation& in) {
    std::vector<ListedIdentity> out;
    int valid = 0;
    for (const std::string& sub : catalog::subKeyNames(in.root, kIdentitiesKey)) {
        const std::string key = std::string(kIdentitiesKey) + "\\" + sub;
        const auto isValid = catalog::readNumber(in.root, key, "IsValid");
        if (isValid && *isValid == 0) continue;
        ++valid;
        std::string name = readText(in.root, key, "Identity");
        if (name.empty() && in.perUser) name = "[Identity" + std::to_string(valid) + "]";
        out.push_back({sub, std::move(name), valid});
    }
    return out;
}

// Exports the key into the staging file `name`.
bool exportKey(const std::string& rootName, const std::string& key, bool subKeys,
               const std::string& name) {
    const std::string file = FreshStagingPath(name);
    if (file.empty()) return false;
    TIORegistry& io = jobs::IORegistry();
    if (io.ExportKey(rootName, key, subKeys, file)) return true;
    RecordError("Cannot save the registry key " + rootName + "\\" + key + ": " + io.LastError());
    return false;
}

// Exports one registry file into the staging sub-folder `folder` and adds it as
// folder + "\" + file.
void addRegistryFile(const Installation& in, const std::string& folder, const std::string& key,
                     bool subKeys, const char* file) {
    exportKey(in.rootName, key, subKeys, folder + "\\" + file);
    jobs::AddFileToJob(jobs::StagingPath(folder + "\\" + file), "",
                       jobs::archiveJob().stagingFolder + "\\");
}

// Everything of one identity: its key K, stored under the name `folder`.
void backupIdentity(jobs::BackupContext& ctx, const Installation& in, const std::string& folder,
                    const std::string& k) {
    const std::string staging = jobs::StagingPath(folder);
    if (!platform::directoryExists(staging) && !platform::forceDirectories(staging))
        RecordError("Cannot create the folder " + staging + ": " + platform::lastFileError());
    const std::string ids = in.identitiesFolder();
    const std::string own = ids + "\\" + k;
    const std::string subtree = kIdentitySubtree + k;

    addRegistryFile(in, folder, std::string("\\") + kIdentityPath + k, false, "identity.reg");
    if (ctx.items.isChecked(kAccounts)) {
        addRegistryFile(in, folder, subtree + "\\accounts", true, "account.reg");
        jobs::CloseProgressGroup(ctx, ctx.items[kAccounts].name);
    }
    if (ctx.items.isChecked(kMailFolders)) {
        jobs::AddFolderToJob(own + "\\Message Store", "", ids + "\\", "*");
        jobs::AddFolderToJob(own + "\\Message Store\\Attachments", k, own + "\\Message Store\\",
                             "*");
        jobs::CloseProgressGroup(ctx, ctx.items[kMailFolders].name);
    }
    if (ctx.items.isChecked(kMessageRules)) {
        addRegistryFile(in, folder, subtree + "\\rules", true, "rules.reg");
        if (platform::fileExists(own + "\\RuleOrder.dat"))
            jobs::AddFileToJob(own + "\\RuleOrder.dat", folder, own + "\\");
        jobs::CloseProgressGroup(ctx, ctx.items[kMessageRules].name);
    }
    if (ctx.items.isChecked(kAddressBook)) {
        AddItemFolder(ctx.items[kAddressBook].name, own + "\\AddressBook", "", ids + "\\", "*");
        jobs::CloseProgressGroup(ctx, ctx.items[kAddressBook].name);
    }
}

bool anyChecked(const Selection& s) {
    for (int i = 0; i < s.count; ++i)
        if (s[i].checked) return true;
    return false;
}

// `name`, or the first of "name (2)", "name (3)", ... that no earlier identity of
// this backup uses (in any letter case: the names become folders).
std::string unusedName(const std::string& name, const std::vector<std::string>& used) {
    auto taken = [&](const std::string& n) {
        for (const std::string& u : used)
            if (platform::sameName(u, n)) return true;
        return false;
    };
    std::string candidate = name;
    for (int n = 2; taken(candidate); ++n)
        candidate = name + " (" + std::to_string(n) + ")";
    return candidate;
}

void backup(jobs::BackupContext& ctx) {
    AdapterRun run;
    const Installation in = installationToBackUp();
    const bool identityFolders =
        anyChecked(ctx.identities) &&
        (ctx.items.isChecked(kMailFolders) || ctx.items.isChecked(kMessageRules) ||
         ctx.items.isChecked(kAddressBook));
    if (identityFolders && !IsFullPath(in.applicationFolder)) {
        RecordError("IncrediMail's application folder is not set (value \"ApplicationPath\" of " +
                    in.rootName + kClientKey + "): nothing was backed up.");
        return;
    }
    if (ctx.items.isChecked(kStationery) && !IsFullPath(in.contentFolder)) {
        RecordError("IncrediMail's content folder is not set (value \"" +
                    std::string(in.perUser ? "CommonDataPath" : "ApplicationPath") +
                    "\" of HKEY_LOCAL_MACHINE" + kClientKey + "): nothing was backed up.");
        return;
    }
    ctx.work = in.identitiesFolder();
    jobs::StartBackupFrame(ctx);

    // Each entry of the selection is one listed identity. Entries of the same name
    // stand for the listed identities of that name in their order, so two
    // identities that share a name are two identities, each kept whole.
    const std::vector<ListedIdentity> listed = listIdentities(in);
    jobs::BackupContext manifest = ctx;
    std::vector<std::string> directory;
    std::vector<std::string> usedNames;
    std::map<std::string, int> seen;
    for (int i = 0; i < ctx.identities.count; ++i) {
        const std::string& name = ctx.identities[i].name;
        const int occurrence = ++seen[name];
        if (!ctx.identities[i].checked) continue;
        const ListedIdentity* match = nullptr;
        int n = 0;
        for (const ListedIdentity& l : listed) {
            if (l.listed == name && ++n == occurrence) {
                match = &l;
                break;
            }
        }
        directory.emplace_back();
        if (!match) {
            RecordError("The IncrediMail identity \"" + name +
                        "\" was not found: nothing of it was backed up.");
            continue;
        }
        // Under the machine an identity may have no name at all; it is stored
        // under the name the current user's listing would give it.
        std::string folder =
            match->listed.empty() ? "[Identity" + std::to_string(match->number) + "]" : name;
        if (std::string why = FolderNameProblem(folder); !why.empty()) {
            RecordError("The IncrediMail identity \"" + name +
                        "\" was not backed up: its name holds " + why + ".");
            continue;
        }
        if (std::string why = FolderNameProblem(match->key); !why.empty()) {
            RecordError("The IncrediMail identity \"" + name + "\" was not backed up: its key \"" +
                        match->key + "\" holds " + why + ".");
            continue;
        }
        folder = unusedName(folder, usedNames);
        usedNames.push_back(folder);
        manifest.identities[i].name = folder;
        directory.back() = match->key;
        backupIdentity(ctx, in, folder, match->key);
    }

    if (ctx.items.isChecked(kStationery)) {
        for (const char* content : kContentFolders) {
            const std::string folder = in.contentFolder + "\\" + content;
            jobs::AddFolderToJob(folder, std::string("Stationery\\") + content, folder + "\\", "*");
        }
        exportKey(in.rootName, kContentPath, true, "stationery.reg");
        jobs::AddStagingFileToJob("stationery.reg");
        jobs::CloseProgressGroup(ctx, ctx.items[kStationery].name);
    }

    if (jobs::WriteManifest(manifest)) {
        for (size_t n = 0; n < directory.size(); ++n)
            jobs::WriteManifestDirectory("Item" + std::to_string(n + 1), directory[n]);
    }
    jobs::AddStagingFileToJob(jobs::kManifestName);
    jobs::FinishBackupFrame(ctx);
}

// ---- restore ------------------------------------------------------------------

// Imports one registry file of an identity or of the stationery: only keys below
// `allowedKey` of the current user; machine keys of older installations are
// written under the current user.
void importFromBackup(const std::string& backupPath, const std::string& name,
                      const std::string& allowedKey) {
    const std::string file = ExtractToStaging(backupPath, name);
    if (file.empty()) return;
    ImportBackupRegistryFile(file, name, {{RootKey::CurrentUser, allowedKey}}, true);
}

// The imported content keys name the content folders of the backed-up machine,
// while the files went into this machine's content folder: each key's "Path"
// follows its files.
void pointContentAt(const std::string& contentFolder) {
    for (const char* content : kContentFolders) {
        const std::string key = std::string(kContentPath) + "\\" + content;
        try {
            platform::Registry reg(RootKey::CurrentUser);
            if (!reg.openKey("\\" + key, false) || !reg.valueExists("Path")) continue;
            reg.writeString("Path", contentFolder + "\\" + content);
        } catch (const platform::RegistryError& e) {
            RecordError("Cannot point HKEY_CURRENT_USER\\" + key +
                        " at the restored files: " + e.what());
        }
    }
}

bool restore(jobs::RestoreContext& rc) {
    AdapterRun run;
    if (!BeginRestore(rc.backupPath)) return true;
    const bool toFolder = rc.toFolder();
    const std::string t = rc.targetFolder;
    const Installation in = toFolder ? Installation{} : installationToRestoreInto();
    const bool haveIdentities = toFolder || IsFullPath(in.applicationFolder);
    bool toldNoIdentities = false;
    auto identitiesFolderMissing = [&] {
        if (toldNoIdentities) return;
        toldNoIdentities = true;
        RecordError(
            "IncrediMail's application folder is not set on this machine (value "
            "\"ApplicationPath\" of HKEY_CURRENT_USER\\SOFTWARE\\incredimail): mail folders, "
            "address books and rule orders were not restored.");
    };
    const std::string ids = in.identitiesFolder() + "\\";

    platform::IniFile manifest(jobs::StagingPath(jobs::kManifestName));
    for (int i = 0; i < rc.identities.count; ++i) {
        if (!rc.identities[i].checked) continue;
        const std::string& n = rc.identities[i].name;
        const std::string k = manifest.readString("Directory", "Item" + std::to_string(i + 1), "");
        if (std::string why = FolderNameProblem(n); !why.empty()) {
            RecordError("The IncrediMail identity \"" + n + "\" was not restored: its name holds " +
                        why + ".");
            continue;
        }
        if (k.empty()) {
            RecordError("The backup holds no data of the IncrediMail identity \"" + n + "\".");
            continue;
        }
        if (std::string why = FolderNameProblem(k); !why.empty()) {
            RecordError("The IncrediMail identity \"" + n + "\" was not restored: its key \"" + k +
                        "\" holds " + why + ".");
            continue;
        }
        const std::string identityKey = kIdentityPath + k;
        const std::string subtree = kIdentitySubtree + k;
        const std::string identityFolder = toFolder ? t + n + "\\" : std::string();
        const std::string own = toFolder ? t + k + "\\" : ids + k + "\\";

        auto registryFile = [&](const char* file, const std::string& allowedKey) {
            const std::string name = n + "\\" + file;
            if (toFolder) {
                ExtractFile(rc.backupPath, name, identityFolder);
                ConvertRegistryFileForHand(identityFolder + file);
            } else
                importFromBackup(rc.backupPath, name, allowedKey);
        };

        registryFile("identity.reg", identityKey);
        if (rc.items.isChecked(kAccounts)) registryFile("account.reg", subtree + "\\accounts");
        if (rc.items.isChecked(kMailFolders)) {
            if (!haveIdentities) {
                identitiesFolderMissing();
            } else {
                RestoreTree(rc.backupPath, k + "\\Message Store", own + "Message Store\\");
                // The attachments are stored twice: in the tree above, and apart
                // from it. The separate copy only matters when the tree lacks them.
                if (ListedNamesUnder(k + "\\Message Store\\Attachments").empty())
                    RestoreTree(rc.backupPath, k + "\\Attachments",
                                own + "Message Store\\Attachments\\");
            }
        }
        if (rc.items.isChecked(kMessageRules)) {
            registryFile("rules.reg", subtree + "\\rules");
            if (toFolder)
                ExtractFile(rc.backupPath, n + "\\RuleOrder.dat", identityFolder);
            else if (haveIdentities)
                ExtractFile(rc.backupPath, n + "\\RuleOrder.dat", own);
            else
                identitiesFolderMissing();
        }
        if (rc.items.isChecked(kAddressBook)) {
            if (haveIdentities)
                RestoreTree(rc.backupPath, k + "\\AddressBook", own + "AddressBook\\");
            else
                identitiesFolderMissing();
        }
    }

    if (rc.items.isChecked(kStationery)) {
        if (toFolder) {
            for (const char* content : kContentFolders) {
                const std::string prefix = std::string("Stationery\\") + content;
                RestoreTree(rc.backupPath, prefix, t + prefix + "\\");
            }
            ExtractFile(rc.backupPath, "stationery.reg", t);
            ConvertRegistryFileForHand(t + "stationery.reg");
        } else {
            if (IsFullPath(in.contentFolder)) {
                for (const char* content : kContentFolders)
                    RestoreTree(rc.backupPath, std::string("Stationery\\") + content,
                                in.contentFolder + "\\" + content + "\\");
            } else {
                RecordError(
                    "IncrediMail's content folder is not set on this machine (value "
                    "\"CommonDataPath\" of HKEY_LOCAL_MACHINE\\SOFTWARE\\incredimail): the "
                    "stationery files were not restored.");
            }
            importFromBackup(rc.backupPath, "stationery.reg", kContentPath);
            if (IsFullPath(in.contentFolder)) pointContentAt(in.contentFolder);
        }
    }
    return jobs::archiveJob().errorFlag;
}

}  // namespace

void RegisterIncrediMail() {
    jobs::RegisterBackupAdapter(kind::IncrediMail, backup);
    jobs::RegisterRestoreAdapter(kind::IncrediMail, restore, restore);
}

}  // namespace qb::clients
