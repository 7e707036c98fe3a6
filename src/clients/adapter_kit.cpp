#include "clients/adapter_kit.h"

#include <unordered_map>

#include "catalog/identities.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "jobs/restore_job.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qb::clients::kit {

namespace {

bool isDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Safe names separated by single backslashes ("" has no level and is not safe).
bool safeLevels(std::string_view path) {
    if (path.empty()) return false;
    size_t start = 0;
    for (;;) {
        const size_t cut = path.find('\\', start);
        if (!IsSafeName(path.substr(start, cut == std::string_view::npos ? cut : cut - start)))
            return false;
        if (cut == std::string_view::npos) return true;
        start = cut + 1;
    }
}

// The backup's names by their lower-case form, for finding single names fast in
// listings of many thousand names; rebuilt with every listing.
std::unordered_map<std::string, std::string>& listingIndex() {
    static std::unordered_map<std::string, std::string> index;
    return index;
}

}  // namespace

void AddJobError(std::string_view text) {
    jobs::ArchiveJob& job = jobs::archiveJob();
    job.errorFlag = true;
    if (!job.errorText.empty()) job.errorText += "\n";
    job.errorText += text;
}

bool IsAbsoluteFolder(std::string_view folder) {
    if (folder.size() < 2 || !isDriveLetter(folder[0]) || folder[1] != ':') return false;
    std::string_view rest = folder.substr(2);
    if (rest.empty() || rest == "\\") return true;
    if (rest.front() != '\\') return false;  // "C:x" is relative to the drive's current folder
    rest.remove_prefix(1);
    if (rest.back() == '\\') rest.remove_suffix(1);
    return safeLevels(rest);
}

bool IsSafeName(std::string_view name) {
    // Windows drops trailing dots and blanks, so a name of nothing else would
    // name the folder itself or its parent.
    if (name.find_first_not_of(". ") == std::string_view::npos) return false;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20) return false;
        if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) return false;
    }
    return true;
}

bool IsSafeRelativePath(std::string_view path) {
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    return safeLevels(path);
}

std::string FreshStagingPath(std::string_view name) {
    const std::string path = jobs::StagingPath(name);
    if (platform::fileExists(path)) platform::deleteFile(path);
    return path;
}

std::string ItemName(const Selection& items, int index, ClientKind kind) {
    if (index < items.count && !items[index].name.empty()) return items[index].name;
    const std::vector<std::string> fixed = BackupItems(kind);
    return index < static_cast<int>(fixed.size()) ? fixed[static_cast<size_t>(index)]
                                                  : std::string();
}

bool BeginRestore(std::string_view backupPath) {
    jobs::ArchiveJob& job = jobs::archiveJob();
    const std::string manifest = FreshStagingPath(jobs::kManifestName);
    jobs::BeginExtraction(false);
    jobs::AddExtractEntry(jobs::kManifestName, job.stagingFolder + "\\");
    jobs::ExtractJob(backupPath);
    jobs::ListArchive(backupPath);
    jobs::EndExtraction();
    listingIndex().clear();
    for (const std::string& name : jobs::ArchiveListing())
        listingIndex().emplace(platform::lowerAscii(name), name);
    job.filesStarted = 0;
    jobs::SetRestoreScale(jobs::ArchiveListing().size());
    if (platform::fileExists(manifest)) return true;
    AddJobError("The backup file " + std::string(backupPath) +
                " holds no contents list (infobak.ini); nothing was restored.");
    return false;
}

std::string ListedName(std::string_view name) {
    auto it = listingIndex().find(platform::lowerAscii(name));
    return it == listingIndex().end() ? std::string() : it->second;
}

std::vector<std::string> ListedNamesUnder(std::string_view prefix) {
    const std::string start = std::string(prefix) + "\\";
    std::vector<std::string> names;
    for (const std::string& listed : jobs::ArchiveListing())
        if (platform::startsWithNoCase(listed, start)) names.push_back(listed);
    return names;
}

bool Extraction::add(std::string_view name, std::string_view destinationFolder) {
    std::string listed = ListedName(name);
    if (listed.empty()) return false;
    entries.emplace_back(std::move(listed), std::string(destinationFolder));
    return true;
}

void Extraction::run(std::string_view backupPath) {
    if (entries.empty()) return;
    jobs::BeginExtraction(false);
    for (const auto& [name, folder] : entries)
        jobs::AddExtractEntry(name, folder);
    jobs::ExtractJob(backupPath);
    jobs::EndExtraction();
    entries.clear();
}

bool ExtractFile(std::string_view backupPath, std::string_view name,
                 std::string_view destinationFolder) {
    Extraction cycle;
    if (!cycle.add(name, destinationFolder)) return false;
    cycle.run(backupPath);
    return true;
}

void ExtractFilesBelow(std::string_view backupPath, std::string_view prefix,
                       std::string_view destinationRoot) {
    const std::string root = platform::includeTrailingBackslash(destinationRoot);
    Extraction cycle;
    for (std::string& name : ListedNamesUnder(prefix)) {
        const std::string rest = name.substr(prefix.size() + 1);
        if (rest.empty()) continue;  // the tree's own folder entry
        if (!IsSafeRelativePath(rest)) {
            AddJobError("The backup file holds the name \"" + name +
                        "\", which would be written outside " + root + "; it was not restored.");
            continue;
        }
        if (rest.back() == '\\') {
            // A folder entry: created here, so that empty folders come back too.
            if (!platform::forceDirectories(root + rest))
                AddJobError("Cannot create the folder " + root + rest + ": " +
                            platform::lastFileError());
            continue;
        }
        cycle.entries.emplace_back(std::move(name), root + platform::extractFilePath(rest));
    }
    cycle.run(backupPath);
}

}  // namespace qb::clients::kit
