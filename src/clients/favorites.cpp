#include "clients/favorites.h"

#include <string>
#include <vector>

#include "catalog/reads.h"
#include "clients/adapter_support.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qb::clients {

namespace {

constexpr const char* kShellFolders =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kDirectoryIni = "directory.ini";

// The Favorites folder without a trailing backslash, or "" with a note saying why
// it cannot be used. An unset value must not turn into a search of a drive's root.
std::string favoritesFolder() {
    const std::string value =
        catalog::readText(platform::RootKey::CurrentUser, kShellFolders, "Favorites");
    if (value.empty()) {
        RecordError(std::string("The Favorites folder is not known: the value \"Favorites\" of "
                                "HKEY_CURRENT_USER") +
                    kShellFolders + " is missing or empty.");
        return {};
    }
    if (!IsFullPath(value)) {
        RecordError("The Favorites folder \"" + value +
                    "\" is not a folder on a drive (value \"Favorites\" of HKEY_CURRENT_USER" +
                    kShellFolders + ").");
        return {};
    }
    return platform::excludeTrailingBackslash(value);
}

}  // namespace

void BackupFavorites(jobs::BackupContext& ctx) {
    AdapterRun run;
    const std::string fav = favoritesFolder();
    if (fav.empty()) {
        RecordError("Nothing was backed up.");
        return;
    }
    if (!platform::directoryExists(fav)) {
        RecordError("The Favorites folder " + fav + " does not exist. Nothing was backed up.");
        return;
    }
    jobs::StartBackupFrame(ctx);

    // Every folder of the tree that holds a shortcut, once, in the order the
    // search first met it.
    const std::vector<std::string> folders = FoldersHolding(fav + "\\*.url");

    const std::string item = ItemName(ctx.items, 0, ctx.kind);
    IniKeys keys;
    for (size_t k = 1; k <= folders.size(); ++k) {
        const std::string folder = platform::excludeTrailingBackslash(folders[k - 1]);
        const std::string dir = "Dir" + std::to_string(k);
        jobs::AddFolderToJob(folder, dir, folder + "\\", "url");
        // Part of the format: named after each folder, never read back.
        jobs::AddFileToJob(fav + "\\accounts.ini", "", fav + "\\");
        jobs::CloseProgressGroup(ctx, item);
        const std::string relative =
            folder.size() > fav.size() ? folder.substr(fav.size() + 1) : std::string();
        keys.emplace_back(dir, relative);
    }

    WriteStagingIni(kDirectoryIni, {{"Directory", keys}});
    jobs::AddStagingFileToJob(kDirectoryIni);
    jobs::WriteManifest(ctx);
    jobs::AddStagingFileToJob(jobs::kManifestName);
    jobs::FinishBackupFrame(ctx);
}

bool RestoreFavorites(jobs::RestoreContext& ctx) {
    AdapterRun run;
    std::string target = ctx.targetFolder;
    if (!ctx.toFolder()) {
        const std::string fav = favoritesFolder();
        if (fav.empty()) {
            RecordError("Nothing was restored.");
            return jobs::archiveJob().errorFlag;
        }
        target = fav + "\\";
    }
    if (!BeginRestore(ctx.backupPath)) return jobs::archiveJob().errorFlag;
    const std::string directory = ExtractToStaging(ctx.backupPath, kDirectoryIni);
    if (directory.empty()) {
        RecordError("The backup " + ctx.backupPath + " holds no " + kDirectoryIni +
                    ": it names no Favorites folders to restore.");
        return jobs::archiveJob().errorFlag;
    }
    Extraction plan;
    const std::vector<std::string> dirs = ReadNumberedKeys(directory, "Directory", "Dir");
    for (size_t k = 1; k <= dirs.size(); ++k) {
        const std::string& relative = dirs[k - 1];
        if (!relative.empty() && !IsSafeRelativePath(relative)) {
            RecordError("Not restored: folder \"" + relative + "\" (Dir" + std::to_string(k) +
                        " of " + kDirectoryIni + "): " + RefusedPathReason(relative, target));
            continue;
        }
        const std::string folder = relative.empty() ? target : target + relative + "\\";
        plan.addTree("Dir" + std::to_string(k), folder);
    }
    plan.run(ctx.backupPath);
    return jobs::archiveJob().errorFlag;
}

void RegisterFavorites() {
    jobs::RegisterBackupAdapter(kind::Favorites, BackupFavorites);
    jobs::RegisterRestoreAdapter(kind::Favorites, RestoreFavorites, RestoreFavorites);
}

}  // namespace qb::clients
