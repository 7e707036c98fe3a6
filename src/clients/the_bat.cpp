#include "clients/the_bat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "catalog/reads.h"
#include "clients/adapter_support.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace qb::clients {

using platform::RootKey;

namespace {

constexpr const char* kBatKey = "\\Software\\RIT\\The Bat!";
constexpr const char* kDepotKey = "\\Software\\RIT\\The Bat!\\Users Depot";
constexpr const char* kWorkingValue = "Working Directory";
constexpr const char* kDefaultDir = "default";
constexpr const char* kAddressBook = "Address Book";
constexpr const char* kDirectoryIni = "directory.ini";

// Item positions.
constexpr int kAccounts = 0;
constexpr int kMail = 1;
constexpr int kFilters = 2;
constexpr int kAddresses = 3;

constexpr std::array<const char*, 2> kAccountFiles = {"account.cfg", "account.vcf"};
constexpr std::array<const char*, 6> kMailAccountFiles = {
    "account.flx", "account.m_d", "account.m_r", "account.pfx", "account.qtn", "account.sce"};
constexpr const char* kFilterFile = "account.srx";

// The working folder without its trailing backslash. Only a backslash is taken off:
// a value stored without one still names the whole folder.
std::string workingFolder() {
    return platform::excludeTrailingBackslash(
        catalog::readText(RootKey::CurrentUser, kBatKey, kWorkingValue));
}

std::string missingWorkingFolderText(std::string_view what) {
    return "The Bat!'s working folder is not set (value \"" + std::string(kWorkingValue) +
           "\" of HKEY_CURRENT_USER" + kBatKey + " is missing or not a full path); " +
           std::string(what);
}

// One user to back up.
struct UserPlan {
    std::string name;
    std::string dir;     // "Dir #n" as stored; "" for the default place
    std::string folder;  // F, without trailing backslash
};

// The mail folders below F that hold message bases, each once, in search order
// (a folder before its subfolders), ending with "\".
std::vector<std::string> mailFolders(const std::string& folder) {
    return FoldersHolding(folder + "\\*.tbi");
}

// Writes the user's directory.ini into a staging folder of its own, so that every
// user's list survives until the job is packed; returns that folder ("" on failure).
std::string writeDirectoryIni(const std::string& user, const std::string& folder,
                              const std::vector<std::string>& mail) {
    const std::string staging = jobs::archiveJob().stagingFolder + "\\TheBat\\" + user + "\\";
    const std::string path = staging + kDirectoryIni;
    if (platform::fileExists(path)) platform::deleteFile(path);
    if (mail.empty()) return staging;
    if (!platform::forceDirectories(staging)) {
        RecordError("Cannot create the staging folder " + staging + ": " +
                    platform::lastFileError());
        return {};
    }
    platform::IniFile ini(path);
    int k = 0;
    for (const std::string& d : mail) {
        if (!ini.writeString("Directory", "Dir" + std::to_string(++k),
                             d.substr(folder.size() + 1))) {
            RecordError("Cannot write the mail folder list " + path + ": " +
                        platform::lastFileError());
            return {};
        }
    }
    return staging;
}

void backupUser(jobs::BackupContext& ctx, const UserPlan& u) {
    const std::string base = u.folder + "\\";
    if (ctx.items.isChecked(kMail)) {
        const std::vector<std::string> mail = mailFolders(u.folder);
        for (const std::string& d : mail) {
            jobs::AddFileToJob(d + "Messages.tbi", u.name, base);
            jobs::AddFileToJob(d + "Messages.tbb", u.name, base);
        }
        for (const char* f : kMailAccountFiles)
            jobs::AddFileToJob(base + f, u.name, base);
        const std::string staging = writeDirectoryIni(u.name, u.folder, mail);
        if (!staging.empty()) jobs::AddFileToJob(staging + kDirectoryIni, u.name, staging);
        jobs::CloseProgressGroup(ctx, ItemName(ctx.items, kMail, ctx.kind));
    }
    if (ctx.items.isChecked(kAccounts)) {
        for (const char* f : kAccountFiles)
            jobs::AddFileToJob(base + f, u.name, base);
        jobs::CloseProgressGroup(ctx, ItemName(ctx.items, kAccounts, ctx.kind));
    }
    if (ctx.items.isChecked(kFilters)) {
        AddItemFile(ItemName(ctx.items, kFilters, ctx.kind), base + kFilterFile, u.name, base);
        jobs::CloseProgressGroup(ctx, ItemName(ctx.items, kFilters, ctx.kind));
    }
}

// Reads "Count" of the users depot: a DWORD, or a text holding a number; 0 when
// missing, damaged or negative.
int32_t depotCount(const platform::Registry& reg) {
    const auto type = reg.dataType("Count");
    if (type == platform::ValueType::Dword) return std::max(reg.readInteger("Count"), 0);
    if (type == platform::ValueType::String) {
        const std::string text = reg.readString("Count");
        int32_t value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec == std::errc() && end == text.data() + text.size()) return std::max(value, 0);
    }
    return 0;
}

// The numbers n (1..count) of the depot's "User #n" text values, in value order.
// Walks the values that exist, so a damaged huge "Count" costs nothing.
std::vector<int32_t> depotUserNumbers(const platform::Registry& reg, int32_t count) {
    std::vector<int32_t> numbers;
    constexpr std::string_view prefix = "User #";
    for (const std::string& value : reg.valueNames()) {
        if (value.size() <= prefix.size() || !platform::startsWithNoCase(value, prefix)) continue;
        const char* first = value.data() + prefix.size();
        const char* last = value.data() + value.size();
        int32_t n = 0;
        const auto [end, ec] = std::from_chars(first, last, n);
        if (ec != std::errc() || end != last || n < 1 || n > count) continue;
        const auto type = reg.dataType(value);
        if (type == platform::ValueType::String || type == platform::ValueType::ExpandString)
            numbers.push_back(n);
    }
    return numbers;
}

// Points every depot user of this name at `dir` ("" for the default place); a name
// the depot does not know is appended as a new user.
void registerUser(const std::string& name, const std::string& dir) {
    platform::Registry reg(RootKey::CurrentUser);
    try {
        if (!reg.openKey(kDepotKey, true)) {
            RecordError(std::string("Cannot open or create HKEY_CURRENT_USER") + kDepotKey +
                        "; The Bat! user \"" + name + "\" was not registered.");
            return;
        }
        const int32_t count = depotCount(reg);
        bool matched = false;
        for (const int32_t n : depotUserNumbers(reg, count)) {
            if (reg.readString("User #" + std::to_string(n)) != name) continue;
            reg.writeString("Dir #" + std::to_string(n), dir);
            matched = true;
        }
        if (matched) return;
        if (count == INT32_MAX) {
            RecordError("The Bat!'s users list is full; user \"" + name + "\" was not registered.");
            return;
        }
        const std::string n = std::to_string(count + 1);
        reg.writeString("Dir #" + n, dir);
        reg.writeString("User #" + n, name);
        reg.writeInteger("Count", count + 1);
    } catch (const platform::RegistryError& e) {
        RecordError(std::string("Cannot register The Bat! user \"") + name + "\": " + e.what());
    }
}

// Extracts one user's files into `folder` (the user's own folder, no trailing
// backslash): the mail folders by the user's directory.ini, the account files.
void restoreUserFiles(const jobs::RestoreContext& ctx, const std::string& name,
                      const std::string& folder) {
    const std::string base = folder + "\\";
    const std::string prefix = name + "\\";
    if (ctx.items.isChecked(kMail)) {
        Extraction cycle;
        const std::string list = ExtractToStaging(ctx.backupPath, prefix + kDirectoryIni);
        if (!list.empty()) {
            const platform::IniFile ini(list);
            const size_t lines = ini.readSection("Directory").size();
            for (size_t k = 1; k <= lines; ++k) {
                const std::string key = "Dir" + std::to_string(k);
                if (!ini.valueExists("Directory", key)) continue;
                std::string d = ini.readString("Directory", key, "");
                if (!d.empty()) {
                    if (!IsSafeRelativePath(d)) {
                        RecordError("The mail folder \"" + d + "\" of The Bat! user \"" + name +
                                    "\" in the backup was not restored: " +
                                    RefusedPathReason(d, base) + ".");
                        continue;
                    }
                    d = platform::includeTrailingBackslash(d);
                }
                cycle.addFile(prefix + d + "Messages.tbi", base + d);
                cycle.addFile(prefix + d + "Messages.tbb", base + d);
            }
        }
        for (const char* f : kMailAccountFiles)
            cycle.addFile(prefix + f, base);
        cycle.run(ctx.backupPath);
    }
    if (ctx.items.isChecked(kAccounts)) {
        Extraction cycle;
        for (const char* f : kAccountFiles)
            cycle.addFile(prefix + f, base);
        cycle.run(ctx.backupPath);
    }
    if (ctx.items.isChecked(kFilters)) ExtractFile(ctx.backupPath, prefix + kFilterFile, base);
}

// The names of the chosen users that can be folder names; the others are reported.
bool usableUserName(const std::string& name) {
    if (IsSafeFolderName(name)) return true;
    RecordError("The Bat! user \"" + name +
                "\" cannot be used as a folder name; this user was not restored.");
    return false;
}

}  // namespace

void BackupTheBat(jobs::BackupContext& ctx) {
    AdapterRun run;
    const std::string working = workingFolder();
    const bool workingUsable = IsFullPath(working);

    // Work out every user's folder first: a folder that cannot be found fails the
    // backup before anything is packed, so an older backup file stays as it was.
    Selection listed = ctx.identities;
    std::vector<UserPlan> plans;
    for (int i = 0; i < ctx.identities.count; ++i) {
        if (!ctx.identities.isChecked(i)) continue;
        const std::string n = std::to_string(i + 1);
        UserPlan u;
        u.name = catalog::readText(RootKey::CurrentUser, kDepotKey, "User #" + n);
        if (!IsSafeFolderName(u.name)) {
            RecordError("The Bat! user #" + n + " \"" + u.name +
                        "\" cannot be used as a folder name; this user was not backed up.");
            listed[i].checked = false;
            continue;
        }
        listed[i].name = u.name;
        u.dir = catalog::readText(RootKey::CurrentUser, kDepotKey, "Dir #" + n);
        if (u.dir.empty()) {
            if (!workingUsable) {
                RecordError(missingWorkingFolderText("the folder of user \"" + u.name +
                                                     "\" is unknown and nothing was backed up."));
                return;
            }
            u.folder = working + "\\" + u.name;
        } else {
            u.folder = platform::excludeTrailingBackslash(u.dir);
            if (!IsFullPath(u.folder)) {
                RecordError("The folder \"" + u.dir + "\" of The Bat! user \"" + u.name +
                            "\" (value \"Dir #" + n + "\" of HKEY_CURRENT_USER" + kDepotKey +
                            ") is not a full path; nothing was backed up.");
                return;
            }
        }
        plans.push_back(std::move(u));
    }
    const bool addresses = ctx.items.isChecked(kAddresses);
    if (addresses && !workingUsable) {
        RecordError(
            missingWorkingFolderText("the address book cannot be found and nothing "
                                     "was backed up."));
        return;
    }

    jobs::StartBackupFrame(ctx);
    for (const UserPlan& u : plans)
        backupUser(ctx, u);
    if (addresses) {
        const std::string base = working + "\\";
        jobs::AddFolderToJob(working, kAddressBook, base, "abd");
        jobs::AddFileToJob(base + "Groups.cfg", kAddressBook, base);
        jobs::AddFileToJob(base + "Addrbook.ini", kAddressBook, base);
        jobs::CloseProgressGroup(ctx, ItemName(ctx.items, kAddresses, ctx.kind));
    }

    jobs::BackupContext manifest = ctx;
    manifest.identities = listed;
    if (!jobs::WriteManifest(manifest)) return;
    int k = 0;
    for (const UserPlan& u : plans)
        if (!jobs::WriteManifestDirectory("Item" + std::to_string(++k),
                                          u.dir.empty() ? kDefaultDir : u.dir))
            return;
    jobs::AddStagingFileToJob(jobs::kManifestName);
    jobs::FinishBackupFrame(ctx);
}

bool RestoreTheBat(jobs::RestoreContext& ctx) {
    AdapterRun run;
    jobs::ArchiveJob& job = jobs::archiveJob();
    if (!BeginRestore(ctx.backupPath)) return job.errorFlag;
    const platform::IniFile manifest(jobs::StagingPath(jobs::kManifestName));
    const std::string working = workingFolder();
    const bool workingUsable = IsFullPath(working);

    for (int i = 0; i < ctx.identities.count; ++i) {
        if (!ctx.identities.isChecked(i)) continue;
        const std::string& name = ctx.identities[i].name;
        if (!usableUserName(name)) continue;
        // The user's folder as the backup recorded it: its own folder, or "default"
        // for the working folder + the user name (on this machine).
        const std::string v = manifest.readString("Directory", "Item" + std::to_string(i + 1), "");
        std::string folder;
        if (v.empty()) {
            RecordError("The backup records no folder for The Bat! user \"" + name +
                        "\"; this user was not restored.");
            continue;
        }
        if (v == kDefaultDir) {
            if (!workingUsable) {
                RecordError(missingWorkingFolderText("user \"" + name + "\" was not restored."));
                continue;
            }
            folder = working + "\\" + name;
        } else {
            folder = platform::excludeTrailingBackslash(v);
            if (!IsFullPath(folder)) {
                RecordError("The backup records the folder \"" + v + "\" for The Bat! user \"" +
                            name + "\", which is not a full path; this user was not restored.");
                continue;
            }
        }
        registerUser(name, v == kDefaultDir ? std::string() : v);
        restoreUserFiles(ctx, name, folder);
    }

    if (ctx.items.isChecked(kAddresses)) {
        if (workingUsable)
            RestoreTree(ctx.backupPath, kAddressBook, working + "\\");
        else
            RecordError(missingWorkingFolderText("the address book was not restored."));
    }
    return job.errorFlag;
}

bool RestoreTheBatToFolder(jobs::RestoreContext& ctx) {
    AdapterRun run;
    jobs::ArchiveJob& job = jobs::archiveJob();
    if (!BeginRestore(ctx.backupPath)) return job.errorFlag;
    const std::string target = platform::includeTrailingBackslash(ctx.targetFolder);
    for (int i = 0; i < ctx.identities.count; ++i) {
        if (!ctx.identities.isChecked(i)) continue;
        const std::string& name = ctx.identities[i].name;
        if (usableUserName(name)) restoreUserFiles(ctx, name, target + name);
    }
    if (ctx.items.isChecked(kAddresses))
        RestoreTree(ctx.backupPath, kAddressBook, target + kAddressBook + "\\");
    return job.errorFlag;
}

void RegisterTheBat() {
    jobs::RegisterBackupAdapter(kind::TheBat, BackupTheBat);
    jobs::RegisterRestoreAdapter(kind::TheBat, RestoreTheBat, RestoreTheBatToFolder);
}

}  // namespace qb::clients
