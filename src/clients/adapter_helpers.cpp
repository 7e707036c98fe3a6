#include "clients/adapter_helpers.h"

#include <algorithm>
#include <fstream>

#include "catalog/identities.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "jobs/restore_job.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"

namespace qb::clients::helpers {

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// Splits at "\" and "/", keeping empty levels.
std::vector<std::string_view> levels(std::string_view path) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || isSeparator(path[i])) {
            out.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

// "..", ".", "...", ". ." and the like: Windows drops trailing dots and blanks,
// so such a level names the folder itself or its parent.
bool onlyDotsAndBlanks(std::string_view level) {
    return std::all_of(level.begin(), level.end(), [](char c) { return c == '.' || c == ' '; });
}

bool safeLevels(std::string_view path) {
    for (std::string_view level : levels(path))
        if (level.empty() || onlyDotsAndBlanks(level)) return false;
    return true;
}

}  // namespace

bool IsUsableFolder(std::string_view folder) {
    if (folder.size() < 4) return false;
    const char d = folder[0];
    if (!((d >= 'A' && d <= 'Z') || (d >= 'a' && d <= 'z')) || folder[1] != ':' ||
        folder[2] != '\\')
        return false;
    std::string_view rest = folder.substr(3);
    if (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
    return !rest.empty() && rest.find(':') == std::string_view::npos && safeLevels(rest);
}

bool IsSafeFolderName(std::string_view name) {
    return IsSafeRelativeName(name) && name.find_first_of("\\/") == std::string_view::npos;
}

std::string ItemName(ClientKind kind, int index) {
    const std::vector<std::string> items = BackupItems(kind);
    if (index < 0 || static_cast<size_t>(index) >= items.size()) return {};
    return items[static_cast<size_t>(index)];
}

bool JobNotes::report() {
    jobs::ArchiveJob& job = jobs::archiveJob();
    for (std::string& line : lines_) {
        if (!job.errorText.empty()) job.errorText += "\n";
        job.errorText += line;
        job.errorFlag = true;
    }
    lines_.clear();
    return job.errorFlag;
}

bool WriteStagingIni(std::string_view relativeName, const IniSections& sections, JobNotes& notes) {
    const std::string path = jobs::StagingPath(relativeName);
    if (platform::fileExists(path)) platform::deleteFile(path);
    platform::forceDirectories(platform::extractFilePath(path));
    // Written in one go: a section of a thousand keys must not cost a thousand
    // rewrites of the file.
    std::string text;
    for (const auto& [section, keys] : sections) {
        text += "[" + section + "]\r\n";
        for (const auto& [key, value] : keys)
            text += key + "=" + value + "\r\n";
    }
    const auto host = platform::hostPath(path);
    std::ofstream out;
    if (host) out.open(*host, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (host && out.good()) return true;
    notes.add("Cannot write " + path + ".");
    return false;
}

std::vector<std::string> ReadNumberedKeys(std::string_view iniPath, std::string_view section,
                                          std::string_view prefix) {
    const platform::IniFile ini{std::string(iniPath)};
    const size_t n = ini.readSectionValues(section).size();
    std::vector<std::string> values;
    values.reserve(n);
    for (size_t k = 1; k <= n; ++k)
        values.push_back(ini.readString(section, std::string(prefix) + std::to_string(k), ""));
    return values;
}

void BeginRestore(std::string_view backupPath, std::initializer_list<std::string_view> names) {
    const std::string staging = jobs::archiveJob().stagingFolder + "\\";
    for (std::string_view name : names) {
        const std::string path = staging + std::string(name);
        if (platform::fileExists(path)) platform::deleteFile(path);
    }
    // Listed first, so that only names the backup holds are asked for.
    jobs::ListArchive(backupPath);
    ExtractionPlan plan;
    for (std::string_view name : names)
        plan.addFile(name, staging);
    plan.run(backupPath);
    jobs::archiveJob().filesStarted = 0;
    jobs::SetRestoreScale(jobs::ArchiveListing().size());
}

std::string ExtractToStaging(std::string_view backupPath, std::string_view name,
                             std::string_view subfolder) {
    std::string folder = jobs::archiveJob().stagingFolder + "\\";
    if (!subfolder.empty()) folder += std::string(subfolder) + "\\";
    const std::string path = folder + platform::extractFileName(name);
    if (platform::fileExists(path)) platform::deleteFile(path);
    const std::string stored = ListedName(name);
    if (stored.empty()) return {};
    platform::forceDirectories(folder);
    jobs::BeginExtraction(false);
    jobs::AddExtractEntry(stored, folder);
    jobs::ExtractJob(backupPath);
    jobs::EndExtraction();
    return platform::fileExists(path) ? path : std::string();
}

std::string ListedName(std::string_view name) {
    for (const std::string& listed : jobs::ArchiveListing())
        if (platform::equalsNoCase(listed, name)) return listed;
    return {};
}

std::vector<std::string> ListedFilesUnder(std::string_view prefix) {
    const std::string start = std::string(prefix) + "\\";
    std::vector<std::string> files;
    for (const std::string& listed : jobs::ArchiveListing()) {
        if (listed.size() <= start.size() || isSeparator(listed.back())) continue;
        if (platform::startsWithNoCase(listed, start)) files.push_back(listed);
    }
    return files;
}

void ExtractionPlan::addFile(std::string_view name, std::string_view folder) {
    const std::string stored = ListedName(name);
    if (!stored.empty()) addListed(stored, folder);
}

void ExtractionPlan::addListed(const std::string& stored, std::string_view folder) {
    std::string destination = platform::includeTrailingBackslash(folder);
    // A file that an earlier entry already writes to the same place is not
    // written again (backups hold some files under two names).
    if (!destinations_.insert(platform::lowerAscii(destination + platform::extractFileName(stored)))
             .second)
        return;
    entries_.emplace_back(stored, std::move(destination));
}

void ExtractionPlan::addTree(std::string_view prefix, std::string_view folder, JobNotes& notes,
                             bool directOnly) {
    const std::string base = platform::includeTrailingBackslash(folder);
    for (const std::string& stored : ListedFilesUnder(prefix)) {
        const std::string below = stored.substr(prefix.size() + 1);
        if (!IsSafeRelativeName(below)) {
            notes.add("Not restored: the stored name \"" + stored +
                      "\" would leave its destination folder " + base);
            continue;
        }
        const std::string sub = platform::extractFilePath(below);
        if (directOnly && !sub.empty()) continue;
        addListed(stored, base + sub);
    }
}

void ExtractionPlan::run(std::string_view backupPath) {
    if (entries_.empty()) return;
    jobs::BeginExtraction(false);
    for (const auto& [name, folder] : entries_)
        jobs::AddExtractEntry(name, folder);
    jobs::ExtractJob(backupPath);
    jobs::EndExtraction();
    entries_.clear();
    destinations_.clear();
}

}  // namespace qb::clients::helpers
