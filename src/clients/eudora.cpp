#include "clients/eudora.h"

#include <array>
#include <vector>

#include "catalog/reads.h"
#include "clients/adapter_support.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"

namespace qb::clients {

namespace {

using platform::RootKey;

// The backup reads the command line the installation registered, the direct
// restore the one of the current user.
constexpr std::string_view kInstalledCommandLine =
    "\\SOFTWARE\\Qualcomm\\Eudora\\CommandLine\\Current";
constexpr std::string_view kUserCommandLine = "\\SOFTWARE\\Qualcomm\\Eudora\\CommandLine";

constexpr std::string_view kDirectoryFile = "directory.ini";
// Received attachments are files of their own: in the folder the settings name,
// else in "Attach" in the data folder. Backups keep them under this name.
constexpr std::string_view kAttachments = "Attach";
// Pictures of received HTML messages, kept apart from the mailboxes.
constexpr std::string_view kEmbedded = "Embedded";
// Address books beyond the main one, one file each.
constexpr std::string_view kNicknames = "Nickname";
constexpr std::array<std::string_view, 3> kMailboxMasks = {"mbx", "toc", "pce"};

// Positions in the item list.
enum Item { kAccounts = 0, kMail = 1, kFilters = 2, kSignatures = 3, kAddressBook = 4 };

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

std::string_view unquoted(std::string_view s) {
    if (!s.empty() && s.front() == '"') s.remove_prefix(1);
    const size_t quote = s.find('"');
    return quote == std::string_view::npos ? s : s.substr(0, quote);
}

// The attachment folder of the data folder `folder` (no trailing backslash), as its
// settings file names it; "" when that is the data folder itself.
std::string attachmentFolder(const std::string& folder) {
    const std::string set = platform::excludeTrailingBackslash(
        platform::IniFile(folder + "\\eudora.ini").readString("Settings", "AttachDir", ""));
    const std::string attach = IsFullPath(set) ? set : folder + "\\" + std::string(kAttachments);
    return platform::equalsNoCase(attach, folder) ? std::string() : attach;
}

// Adds the mailboxes of every mail folder below the data folder (each folder once,
// in the order the search found them), those of the data folder itself under
// "Mail", the list of ".fol" folders and the stationery.
void backupMailFolders(const std::string& folder) {
    const std::string base = folder + "\\";
    std::vector<std::string> found;
    for (const std::string& f : FoldersHolding(folder + "\\*.pce"))
        if (!platform::equalsNoCase(f, base) && platform::startsWithNoCase(f, base))
            found.push_back(platform::excludeTrailingBackslash(f));
    for (const std::string& sub : found)
        for (std::string_view mask : kMailboxMasks)
            jobs::AddFolderToJob(sub, "", base, mask);
    // The data folder's own mailboxes. Its filters and its address book index share
    // the extensions but belong to their own items: a restore of the mail folders
    // alone must not replace them.
    for (std::string_view mask : kMailboxMasks) {
        for (const platform::SearchRec& r :
             platform::findFiles(base + "*." + std::string(mask), platform::faAnyFile)) {
            if (r.name == "." || r.name == ".." || platform::equalsNoCase(r.name, "filters.pce") ||
                platform::equalsNoCase(r.name, "nndbase.toc"))
                continue;
            jobs::AddFileToJob(base + r.name, "Mail", base);
        }
    }

    const std::string list = FreshStagingPath(kDirectoryFile);
    bool written = WriteTextFile(list, "[Directory]\r\n");
    platform::IniFile ini(list);
    int n = 0;
    for (const std::string& sub : found) {
        if (sub.size() < 4 || !platform::equalsNoCase(sub.substr(sub.size() - 4), ".fol")) continue;
        written = written && ini.writeString("Directory", "Dir" + std::to_string(++n),
                                             sub.substr(base.size()));
    }
    if (!written)
        RecordError("Cannot write the list of mail folders " + list + ": " +
                    platform::lastFileError());
    jobs::AddStagingFileToJob(kDirectoryFile);
    jobs::AddFolderToJob(folder + "\\Stationery", "", base, "*");
    const std::string attach = attachmentFolder(folder);
    if (!attach.empty()) jobs::AddFolderToJob(attach, kAttachments, attach + "\\", "*");
    jobs::AddFolderToJob(folder + "\\" + std::string(kEmbedded), "", base, "*");
}

// Where each piece of a backup goes.
struct Places {
    std::string spool;        // Spool entries
    std::string settings;     // eudora.ini
    std::string stationery;   // Stationery entries
    std::string mailboxes;    // the data folder's own mailboxes ("Mail\...")
    std::string mailTree;     // the mail folders, below it by their paths
    std::string filters;      // Filters entries
    std::string filterFile;   // filters.pce
    std::string addressBook;  // nndbase.toc and nndbase.txt
    std::string signatures;   // Sigs entries
    std::string attachments;  // Attach entries; "" for the folder the settings name
    std::string embedded;     // Embedded entries
    std::string nicknames;    // Nickname entries
};

bool restore(const jobs::RestoreContext& ctx, const Places& to) {
    const std::string& backup = ctx.backupPath;
    if (!BeginRestore(backup)) return true;
    // The attachment folder this machine's settings name before the restore: the
    // backup's settings may name any place of another machine.
    std::string attach = to.attachments;
    if (attach.empty()) {
        attach = attachmentFolder(platform::excludeTrailingBackslash(to.settings));
        attach = attach.empty() ? to.settings : attach + "\\";
    }
    if (ctx.items.isChecked(kAccounts)) {
        RestoreTree(backup, "Spool", to.spool);
        ExtractFile(backup, "eudora.ini", to.settings);
    }
    if (ctx.items.isChecked(kMail)) {
        RestoreTree(backup, "Stationery", to.stationery);
        RestoreTree(backup, "Mail", to.mailboxes);
        // Backups made before attachments were kept hold none: nothing to do then.
        if (!ListedNamesUnder(kAttachments).empty()) RestoreTree(backup, kAttachments, attach);
        RestoreTree(backup, kEmbedded, to.embedded);
        const std::string listPath = ExtractToStaging(backup, kDirectoryFile);
        const platform::IniFile list(listPath);
        // The deepest-numbered first: a nested folder before the folder holding it.
        const size_t n = listPath.empty() ? 0 : list.readSection("Directory").size();
        for (size_t k = n; k >= 1; --k) {
            const std::string key = "Dir" + std::to_string(k);
            const std::string sub =
                platform::excludeTrailingBackslash(list.readString("Directory", key, ""));
            if (const std::string why = RelativePathProblem(sub); !why.empty()) {
                RecordError("The backup's list of mail folders names \"" + sub + "\" (" + key +
                            "), which is no folder below the data folder: its name holds " + why +
                            "; it is skipped.");
                continue;
            }
            RestoreTree(backup, sub, to.mailTree + sub + "\\");
        }
    }
    if (ctx.items.isChecked(kFilters)) {
        RestoreTree(backup, "Filters", to.filters);
        ExtractFile(backup, "filters.pce", to.filterFile);
    }
    if (ctx.items.isChecked(kAddressBook)) {
        ExtractFile(backup, "nndbase.toc", to.addressBook);
        ExtractFile(backup, "nndbase.txt", to.addressBook);
        RestoreTree(backup, kNicknames, to.nicknames);
    }
    if (ctx.items.isChecked(kSignatures)) RestoreTree(backup, "Sigs", to.signatures);
    return jobs::archiveJob().errorFlag;
}

std::string describe(std::string_view value) {
    return value.empty() ? std::string("is missing or empty") : "is \"" + std::string(value) + "\"";
}

}  // namespace

std::string EudoraFolderFromCommandLine(std::string_view commandLine) {
    const std::string_view text = trimBlanks(commandLine);
    if (text.empty()) return {};
    std::string_view rest;
    if (text.front() == '"') {
        const size_t close = text.find('"', 1);
        if (close == std::string_view::npos) return {};
        rest = text.substr(close + 1);
    } else {
        // An unquoted program path may hold blanks: it ends with ".exe".
        const size_t exe = platform::lowerAscii(text).find(".exe ");
        const size_t cut = exe != std::string::npos ? exe + 4 : text.find(' ');
        if (cut == std::string_view::npos)
            return platform::excludeTrailingBackslash(std::string(text));
        rest = text.substr(cut);
    }
    rest = trimBlanks(rest);
    std::string_view folder = rest.substr(0, rest.find(' '));
    if (!rest.empty() && rest.front() == '"') {
        folder = unquoted(rest);
    } else {
        // "C:\My Mail C:\My Mail\eudora.ini": the folder is the part that the
        // settings file's path begins with.
        for (size_t blank = rest.find(' '); blank != std::string_view::npos;
             blank = rest.find(' ', blank + 1)) {
            const std::string_view candidate = trimBlanks(rest.substr(0, blank));
            const std::string_view after = unquoted(trimBlanks(rest.substr(blank + 1)));
            if (!candidate.empty() &&
                platform::startsWithNoCase(after, platform::includeTrailingBackslash(candidate))) {
                folder = candidate;
                break;
            }
        }
    }
    return platform::excludeTrailingBackslash(trimBlanks(folder));
}

void BackupEudora(jobs::BackupContext& ctx) {
    AdapterRun run;
    const std::string commandLine =
        catalog::readText(RootKey::ClassesRoot, kInstalledCommandLine, "");
    ctx.work = commandLine;
    const std::string folder = EudoraFolderFromCommandLine(commandLine);
    if (!IsFullPath(folder)) {
        RecordError(
            "Eudora is not backed up: its command line (default value of "
            "HKEY_CLASSES_ROOT" +
            std::string(kInstalledCommandLine) + ") " + describe(commandLine) +
            " and names no data folder.");
        return;
    }
    const std::string base = folder + "\\";
    const auto item = [&](int i) { return ItemName(ctx.items, i, kind::Eudora); };

    jobs::StartBackupFrame(ctx);
    if (ctx.items.isChecked(kAccounts)) {
        jobs::AddFolderToJob(folder + "\\Spool", "", base, "*");
        jobs::AddFileToJob(base + "eudora.ini", "", base);
        jobs::CloseProgressGroup(ctx, item(kAccounts));
    }
    if (ctx.items.isChecked(kMail)) {
        backupMailFolders(folder);
        jobs::CloseProgressGroup(ctx, item(kMail));
    }
    if (ctx.items.isChecked(kFilters)) {
        jobs::AddFolderToJob(folder + "\\Filters", "", base, "*");
        AddItemFile(item(kFilters), base + "filters.pce", "", base);
        jobs::CloseProgressGroup(ctx, item(kFilters));
    }
    if (ctx.items.isChecked(kSignatures)) {
        AddItemFolder(item(kSignatures), folder + "\\Sigs", "", base, "*");
        jobs::CloseProgressGroup(ctx, item(kSignatures));
    }
    if (ctx.items.isChecked(kAddressBook)) {
        AddItemFile(item(kAddressBook), base + "nndbase.toc", "", base);
        AddItemFile(item(kAddressBook), base + "nndbase.txt", "", base);
        jobs::AddFolderToJob(folder + "\\" + std::string(kNicknames), "", base, "*");
        jobs::CloseProgressGroup(ctx, item(kAddressBook));
    }
    jobs::WriteManifest(ctx);
    jobs::AddStagingFileToJob(jobs::kManifestName);
    jobs::FinishBackupFrame(ctx);
}

bool RestoreEudora(jobs::RestoreContext& ctx) {
    AdapterRun run;
    const std::string commandLine =
        catalog::readText(RootKey::CurrentUser, kUserCommandLine, "Current");
    const std::string folder = EudoraFolderFromCommandLine(commandLine);
    if (!IsFullPath(folder)) {
        RecordError(
            "Eudora is not restored: its command line (value \"Current\" of "
            "HKEY_CURRENT_USER" +
            std::string(kUserCommandLine) + ") " + describe(commandLine) +
            " and names no data folder.");
        return true;
    }
    const std::string e = folder + "\\";
    return restore(
        ctx, {e + "Spool\\", e, e + "Stationery\\", e, e, e + "Filters\\", e, e, e + "Sigs\\", "",
              e + std::string(kEmbedded) + "\\", e + std::string(kNicknames) + "\\"});
}

bool RestoreEudoraToFolder(jobs::RestoreContext& ctx) {
    AdapterRun run;
    const std::string t = platform::includeTrailingBackslash(ctx.targetFolder);
    return restore(ctx, {t + "Spool\\", t, t + "Stationery\\", t + "Mail\\", t, t + "Filters\\", t,
                         t, t + "Sigs\\", t + std::string(kAttachments) + "\\",
                         t + std::string(kEmbedded) + "\\", t + std::string(kNicknames) + "\\"});
}

void RegisterEudora() {
    jobs::RegisterBackupAdapter(kind::Eudora, BackupEudora);
    jobs::RegisterRestoreAdapter(kind::Eudora, RestoreEudora, RestoreEudoraToFolder);
}

}  // namespace qb::clients
