#include "clients/adapter_common.h"

#include <cctype>
#include <fstream>

#include "catalog/identities.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "jobs/restore_job.h"
#include "platform/files.h"

namespace qb::clients {

void AddJobError(std::string_view text) {
    jobs::ArchiveJob& job = jobs::archiveJob();
    job.errorFlag = true;
    if (!job.errorText.empty()) job.errorText += " ";
    job.errorText += text;
}

bool IsFullPath(std::string_view path) {
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    return path.size() > 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
           path[2] == '\\' && jobs::IsSafeRelativeName(path.substr(3));
}

bool WriteTextFile(std::string_view winPath, std::string_view text) {
    const auto host = platform::hostPath(winPath);
    if (!host) return false;
    std::ofstream out(*host, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    return static_cast<bool>(out);
}

void DeleteStagingFile(std::string_view name) {
    const std::string path = jobs::StagingPath(name);
    if (platform::fileExists(path)) platform::deleteFile(path);
}

void ExtractEntry(std::string_view backupPath, std::string_view name, std::string_view folder) {
    jobs::BeginExtraction(false);
    jobs::AddExtractEntry(name, folder);
    jobs::ExtractJob(backupPath);
    jobs::EndExtraction();
}

void ExtractEntriesUnder(std::string_view backupPath, std::string_view prefix,
                         std::string_view folder, bool subFolders) {
    jobs::BeginExtraction(subFolders);
    jobs::AddExtractEntriesUnder(prefix, folder);
    jobs::ExtractJob(backupPath);
    jobs::EndExtraction();
}

void BeginRestore(std::string_view backupPath, std::initializer_list<std::string_view> files) {
    const std::string staging = jobs::archiveJob().stagingFolder + "\\";
    for (std::string_view f : files)
        DeleteStagingFile(f);
    jobs::BeginExtraction(false);
    for (std::string_view f : files)
        jobs::AddExtractEntry(f, staging);
    jobs::ExtractJob(backupPath);
    jobs::ListArchive(backupPath);
    jobs::EndExtraction();
    jobs::archiveJob().filesStarted = 0;
    jobs::SetRestoreScale(jobs::ArchiveListing().size());
}

std::string ItemName(const Selection& items, int index, ClientKind kind) {
    if (index < items.count && !items[index].name.empty()) return items[index].name;
    const std::vector<std::string> list = BackupItems(kind);
    return index >= 0 && static_cast<size_t>(index) < list.size() ? list[static_cast<size_t>(index)]
                                                                  : std::string();
}

}  // namespace qb::clients
