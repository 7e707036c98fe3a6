#include "clients/opera.h"

#include <string>
#include <vector>

#include "catalog/client_paths.h"
#include "clients/adapter_support.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"

namespace qb::clients {

namespace {

using platform::equalsNoCase;
using platform::excludeTrailingBackslash;
using platform::extractFileExt;
using platform::extractFileName;
using platform::extractFilePath;

// Item positions, the same for both versions.
constexpr int kAccounts = 0, kMailFolders = 1, kFilters = 2, kSignatures = 3, kAddressBook = 4;

constexpr const char* kDirectoryIni = "directory.ini";
constexpr const char* kSignaturesIni = "signatures.ini";

// Opera 6's program folder (with its trailing backslash), or "" with a note: an
// unset command line must not turn into a relative "Mail" folder.
std::string opera6Folder() {
    const std::string folder = OperaFolder();
    if (IsFullPath(folder)) return folder;
    RecordError(
        "The Opera 6 folder is not known: the value \"Last CommandLine\" of "
        "HKEY_CURRENT_USER\\Software\\Opera Software names no program on a drive (\"" +
        folder + "\").");
    return {};
}

std::string opera7Folder() {
    const std::string folder = Opera7Folder();
    if (IsFullPath(folder)) return folder;
    RecordError(
        "The Opera 7 folder is not known: the value \"AppData\" of HKEY_CURRENT_USER\\"
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders names no "
        "folder on a drive.");
    return {};
}

// An account whose name cannot be a folder name is left out with a note.
bool usableAccount(const std::string& account) {
    if (IsSafeFolderName(account)) return true;
    RecordError("Account \"" + account + "\" was left out: its name is not a folder name.");
    return false;
}

// The mail folders below the account folder (each ending "\"), every one once,
// in the order the search met them; the account folder itself is left out.
std::vector<std::string> opera6MailFolders(const std::string& accountFolder) {
    std::vector<std::string> folders;
    for (const std::string& found : FoldersHolding(accountFolder + "\\*.mbs"))
        if (found != accountFolder + "\\") folders.push_back(found);
    return folders;
}

void backupOpera6MailFolders(const std::string& mail, const std::string& account) {
    const std::string accountFolder = mail + "\\" + account;
    IniKeys dirs;
    for (const std::string& found : opera6MailFolders(accountFolder)) {
        const std::string folder = excludeTrailingBackslash(found);
        jobs::AddFolderToJob(folder, "", mail + "\\", "idx");
        jobs::AddFolderToJob(folder, "", mail + "\\", "mbs");
        jobs::AddFileToJob(folder + "\\folder.ini", "", mail + "\\");
        dirs.emplace_back("Dir" + std::to_string(dirs.size() + 1), folder.substr(mail.size() + 1));
    }
    const std::string ini = account + "\\" + kDirectoryIni;
    WriteStagingIni(ini, {{"Directory", dirs}});
    jobs::AddStagingFileToJob(ini);
    jobs::AddFolderToJob(accountFolder, "", mail + "\\", "mbs");
    jobs::AddFolderToJob(accountFolder, "", mail + "\\", "idx");
    jobs::AddFileToJob(accountFolder + "\\Folder.ini", "", mail + "\\");
}

void backupOpera6Signature(const std::string& mail, const std::string& account) {
    const std::string file = platform::IniFile(mail + "\\" + account + "\\Account.ini")
                                 .readString("OUTGOING", "SignatureFile", "");
    const std::string ini = account + "\\" + kSignaturesIni;
    WriteStagingIni(ini, {{"Directory", {{"Dir", extractFilePath(file)}}},
                          {"Files", {{"File", extractFileName(file)}}}});
    jobs::AddStagingFileToJob(ini);
    if (file.empty()) return;
    if (!IsFullPath(extractFilePath(file))) {
        RecordError("The signature \"" + file + "\" of account \"" + account +
                    "\" is not a file on a drive; it was left out.");
        return;
    }
    AddItemFile("The signature of account \"" + account + "\"", file, account + "\\Signatures",
                extractFilePath(file));
}

// The account folder's own mail files, as the backup stored them.
bool isAccountMailFile(const std::string& name) {
    const std::string ext = extractFileExt(name);
    return equalsNoCase(ext, ".mbs") || equalsNoCase(ext, ".idx") ||
           equalsNoCase(name, "folder.ini");
}

// Plans the mail folders of one account: every folder that "directory.ini" names
// (deepest numbers first, as they were found), then the account folder's own files.
void planOpera6MailFolders(const jobs::RestoreContext& ctx, const std::string& account,
                           const std::string& mailTarget, Extraction& plan) {
    const std::string ini =
        ExtractToStaging(ctx.backupPath, account + "\\" + kDirectoryIni, account);
    if (!ini.empty()) {
        const std::vector<std::string> dirs = ReadNumberedKeys(ini, "Directory", "Dir");
        for (size_t k = dirs.size(); k >= 1; --k) {
            const std::string& dir = dirs[k - 1];
            if (!IsSafeRelativePath(dir)) {
                RecordError("Not restored: mail folder \"" + dir + "\" of account \"" + account +
                            "\": " + RefusedPathReason(dir, mailTarget));
                continue;
            }
            // Every file the backup holds directly in that folder.
            plan.addTree(dir, mailTarget + dir + "\\", true);
        }
    }
    for (const std::string& stored : ListedNamesUnder(account)) {
        const std::string name = stored.substr(account.size() + 1);
        if (name.find('\\') == std::string::npos && isAccountMailFile(name))
            plan.addFile(stored, mailTarget + account + "\\");
    }
}

// Where the signature goes: into a folder restore's account folder; into the
// client, back to its folder, or into the account's new folder when it lived in
// the account folder (so that it follows the account to another Opera folder).
// Returns the old full path and plans the file; "" when there is none.
std::string planOpera6Signature(const jobs::RestoreContext& ctx, const std::string& account,
                                const std::string& accountTarget, Extraction& plan) {
    const std::string ini =
        ExtractToStaging(ctx.backupPath, account + "\\" + kSignaturesIni, account);
    if (ini.empty()) return {};
    const platform::IniFile sig(ini);
    std::string dir = platform::includeTrailingBackslash(sig.readString("Directory", "Dir", ""));
    const std::string file = sig.readString("Files", "File", "");
    if (file.empty()) return {};
    if (!IsSafeFolderName(file) || (!ctx.toFolder() && !IsFullPath(dir))) {
        RecordError("Not restored: the signature \"" + dir + file + "\" of account \"" + account +
                    "\" is not a file name in a folder on a drive.");
        return {};
    }
    const bool inAccountFolder =
        platform::lowerAscii(dir).ends_with("\\" + platform::lowerAscii(account) + "\\");
    const std::string target = (ctx.toFolder() || inAccountFolder) ? accountTarget : dir;
    plan.addFile(account + "\\Signatures\\" + file, target);
    return dir + file;
}

}  // namespace

void BackupOpera6(jobs::BackupContext& ctx) {
    AdapterRun run;
    const std::string opera = opera6Folder();
    if (opera.empty()) {
        RecordError("Nothing was backed up.");
        return;
    }
    const std::string mail = opera + "Mail";
    jobs::StartBackupFrame(ctx);
    for (int i = 0; i < ctx.identities.count; ++i) {
        if (!ctx.identities.isChecked(i)) continue;
        const std::string& account = ctx.identities[i].name;
        if (!usableAccount(account)) continue;
        const std::string accountFolder = mail + "\\" + account;
        if (ctx.items.isChecked(kAccounts)) {
            jobs::AddFileToJob(accountFolder + "\\Account.ini", "", mail + "\\");
            jobs::CloseProgressGroup(ctx, ItemName(ctx.items, kAccounts, ctx.kind));
        }
        if (ctx.items.isChecked(kMailFolders)) {
            backupOpera6MailFolders(mail, account);
            jobs::CloseProgressGroup(ctx, ItemName(ctx.items, kMailFolders, ctx.kind));
        }
        if (ctx.items.isChecked(kFilters)) {
            AddItemFile(ItemName(ctx.items, kFilters, ctx.kind), accountFolder + "\\filters.dat",
                        "", mail + "\\");
            jobs::CloseProgressGroup(ctx, ItemName(ctx.items, kFilters, ctx.kind));
        }
        if (ctx.items.isChecked(kSignatures)) {
            backupOpera6Signature(mail, account);
            jobs::CloseProgressGroup(ctx, ItemName(ctx.items, kSignatures, ctx.kind));
        }
    }
    if (ctx.items.isChecked(kAccounts))
        jobs::AddFileToJob(mail + "\\Accounts.ini", "", mail + "\\");
    if (ctx.items.isChecked(kAddressBook)) {
        AddItemFile(ItemName(ctx.items, kAddressBook, ctx.kind), opera + "Contacts.adr", "", opera);
        jobs::CloseProgressGroup(ctx, ItemName(ctx.items, kAddressBook, ctx.kind));
    }
    jobs::WriteManifest(ctx);
    jobs::AddStagingFileToJob(jobs::kManifestName);
    jobs::FinishBackupFrame(ctx);
}

bool RestoreOpera6(jobs::RestoreContext& ctx) {
    AdapterRun run;
    // Account files go below `mailTarget`, the shared files into `mailTarget` and
    // `opera`; a folder restore puts all of them below the target folder.
    std::string opera = ctx.targetFolder;
    std::string mailTarget = ctx.targetFolder;
    if (!ctx.toFolder()) {
        opera = opera6Folder();
        if (opera.empty()) {
            RecordError("Nothing was restored.");
            return jobs::archiveJob().errorFlag;
        }
        mailTarget = opera + "Mail\\";
    }
    if (!BeginRestore(ctx.backupPath)) return jobs::archiveJob().errorFlag;

    Extraction plan;
    // Signatures whose account file must learn their new place: (Account.ini, old path).
    std::vector<std::pair<std::string, std::string>> movedSignatures;
    for (int i = 0; i < ctx.identities.count; ++i) {
        if (!ctx.identities.isChecked(i)) continue;
        const std::string& account = ctx.identities[i].name;
        if (!usableAccount(account)) continue;
        const std::string accountTarget = mailTarget + account + "\\";
        if (ctx.items.isChecked(kAccounts)) plan.addFile(account + "\\Account.ini", accountTarget);
        if (ctx.items.isChecked(kMailFolders))
            planOpera6MailFolders(ctx, account, mailTarget, plan);
        if (ctx.items.isChecked(kFilters)) plan.addFile(account + "\\filters.dat", accountTarget);
        if (ctx.items.isChecked(kSignatures)) {
            const std::string old = planOpera6Signature(ctx, account, accountTarget, plan);
            if (!old.empty() && !ctx.toFolder())
                movedSignatures.emplace_back(accountTarget + "Account.ini", old);
        }
    }
    if (ctx.items.isChecked(kAccounts)) plan.addFile("Accounts.ini", mailTarget);
    if (ctx.items.isChecked(kAddressBook)) plan.addFile("Contacts.adr", opera);
    plan.run(ctx.backupPath);

    // A signature that moved with its account: the account file names its new place.
    for (const auto& [accountIni, old] : movedSignatures) {
        platform::IniFile ini(accountIni);
        const std::string now = extractFilePath(accountIni) + extractFileName(old);
        if (equalsNoCase(ini.readString("OUTGOING", "SignatureFile", ""), old) &&
            !equalsNoCase(old, now) && platform::fileExists(now))
            ini.writeString("OUTGOING", "SignatureFile", now);
    }
    return jobs::archiveJob().errorFlag;
}

void BackupOpera7(jobs::BackupContext& ctx) {
    AdapterRun run;
    const std::string q = opera7Folder();
    if (q.empty()) {
        RecordError("Nothing was backed up.");
        return;
    }
    jobs::StartBackupFrame(ctx);
    if (ctx.identities.isChecked(0)) {
        const std::string mailItem = ItemName(ctx.items, kMailFolders, ctx.kind);
        jobs::AddFolderToJob(q + "\\Mail", "", q + "\\", "*");
        jobs::CloseProgressGroup(ctx, mailItem);
        // Part of the format: these three are stored a second time at the root.
        for (const char* sub : {"Cache", "index", "storage"}) {
            jobs::AddFolderToJob(q + "\\Mail\\" + sub, "", q + "\\Mail\\", "*");
            jobs::CloseProgressGroup(ctx, mailItem);
        }
        AddItemFile(ItemName(ctx.items, kAddressBook, ctx.kind), q + "\\profile\\contacts.adr", "",
                    q + "\\profile\\");
        jobs::CloseProgressGroup(ctx, ItemName(ctx.items, kAddressBook, ctx.kind));
    }
    jobs::WriteManifest(ctx);
    jobs::AddStagingFileToJob(jobs::kManifestName);
    jobs::FinishBackupFrame(ctx);
}

bool RestoreOpera7(jobs::RestoreContext& ctx) {
    AdapterRun run;
    // Mail below `base` + "Mail\", the address book into `profile`.
    std::string base = ctx.targetFolder;
    std::string profile = ctx.targetFolder;
    if (!ctx.toFolder()) {
        const std::string q = opera7Folder();
        if (q.empty()) {
            RecordError("Nothing was restored.");
            return jobs::archiveJob().errorFlag;
        }
        base = q + "\\";
        profile = q + "\\profile\\";
    }
    if (!BeginRestore(ctx.backupPath)) return jobs::archiveJob().errorFlag;
    if (ctx.identities.isChecked(0)) {
        Extraction plan;
        // The whole mail tree keeps its folders; the second copies of Cache, index
        // and storage only add what the tree lacks.
        plan.addTree("Mail", base + "Mail\\");
        for (const char* sub : {"Cache", "index", "storage"})
            plan.addTree(sub, base + "Mail\\" + sub + "\\");
        plan.addFile("contacts.adr", profile);
        plan.run(ctx.backupPath);
    }
    return jobs::archiveJob().errorFlag;
}

void RegisterOpera() {
    jobs::RegisterBackupAdapter(kind::Opera6, BackupOpera6);
    jobs::RegisterRestoreAdapter(kind::Opera6, RestoreOpera6, RestoreOpera6);
    jobs::RegisterBackupAdapter(kind::Opera7, BackupOpera7);
    jobs::RegisterRestoreAdapter(kind::Opera7, RestoreOpera7, RestoreOpera7);
}

}  // namespace qb::clients
