#include "clients/favorites.h"

#include <set>
#include <string>
#include <vector>

#include "catalog/reads.h"
#include "clients/adapter_helpers.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/file_search.h"

namespace qb::clients {

using namespace helpers;

namespace {

constexpr const char* kShellFolders =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kDirectoryIni = "directory.ini";

// The Favorites folder without a trailing backslash, or "" with a note saying why
// it cannot be used. An unset value must not turn into a search of a drive's root.
std::string favoritesFolder(JobNotes& notes) {
    const std::string value =
        catalog::readText(platform::RootKey::CurrentUser, kShellFolders, "Favorites");
    if (value.empty()) {
        notes.add(std::string("The Favorites folder is not known: the value \"Favorites\" of "
                              "HKEY_CURRENT_USER") +
                  kShellFolders + " is missing or empty.");
        return {};
    }
    if (!IsUsableFolder(value)) {
        notes.add("The Favorites folder \"" + value +
                  "\" is not a folder on a drive (value \"Favorites\" of HKEY_CURRENT_USER" +
                  kShellFolders + ").");
        return {};
    }
    return platform::excludeTrailingBackslash(value);
}

}  // namespace

void BackupFavorites(jobs::BackupContext& ctx) {
    JobNotes notes;
    const std::string fav = favoritesFolder(notes);
    if (fav.empty()) {
        notes.add("Nothing was backed up.");
        notes.report();
        return;
    }
    if (!platform::directoryExists(fav)) {
        notes.add("The Favorites folder " + fav + " does not exist. Nothing was backed up.");
        notes.report();
        return;
    }
    jobs::StartBackupFrame(ctx);

    // Every folder of the tree that holds a shortcut, once, in the order the
    // search first met it.
    ClearFoundFolders();
    TFileSearch& search = FileSearch1();
    search.SearchFile = fav + "\\*.url";
    search.Execute();
    std::vector<std::string> folders;
    std::set<std::string> seen;
    for (const std::string& found : FoundFolders())
        if (seen.insert(found).second) folders.push_back(found);

    const std::string item = ItemName(ctx.kind, 0);
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

    WriteStagingIni(kDirectoryIni, {{"Directory", keys}}, notes);
    jobs::AddStagingFileToJob(kDirectoryIni);
    jobs::WriteManifest(ctx);
    jobs::AddStagingFileToJob(jobs::kManifestName);
    jobs::FinishBackupFrame(ctx);
    notes.report();
}

bool RestoreFavorites(jobs::RestoreContext& ctx) {
    JobNotes notes;
    std::string target = ctx.targetFolder;
    if (!ctx.toFolder()) {
        const std::string fav = favoritesFolder(notes);
        if (fav.empty()) {
            notes.add("Nothing was restored.");
            return notes.report();
        }
        target = fav + "\\";
    }
    if (ctx.toFolder())
        BeginRestore(ctx.backupPath, {kDirectoryIni});
    else
        BeginRestore(ctx.backupPath, {jobs::kManifestName, kDirectoryIni});

    const std::string directory = jobs::StagingPath(kDirectoryIni);
    if (!platform::fileExists(directory)) {
        notes.add("The backup " + ctx.backupPath + " holds no " + kDirectoryIni +
                  ": it names no Favorites folders to restore.");
        return notes.report();
    }
    ExtractionPlan plan;
    const std::vector<std::string> dirs = ReadNumberedKeys(directory, "Directory", "Dir");
    for (size_t k = 1; k <= dirs.size(); ++k) {
        const std::string& relative = dirs[k - 1];
        if (!relative.empty() && !IsSafeRelativeName(relative)) {
            notes.add("Not restored: folder \"" + relative + "\" (Dir" + std::to_string(k) +
                      " of " + kDirectoryIni + ") would leave " + target);
            continue;
        }
        const std::string folder = relative.empty() ? target : target + relative + "\\";
        plan.addTree("Dir" + std::to_string(k), folder, notes);
    }
    plan.run(ctx.backupPath);
    return notes.report();
}

void RegisterFavorites() {
    jobs::RegisterBackupAdapter(kind::Favorites, BackupFavorites);
    jobs::RegisterRestoreAdapter(kind::Favorites, RestoreFavorites, RestoreFavorites);
}

}  // namespace qb::clients
