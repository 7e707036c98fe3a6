#include "jobs/backup_job.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <vector>

#include "archive/archive_library.h"
#include "catalog/kinds.h"
#include "jobs/archive_job.h"
#include "jobs/job_progress.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "support/interaction.h"

namespace qb::jobs {

namespace {

std::map<ClientKind, BackupAdapter>& adapters() {
    static std::map<ClientKind, BackupAdapter> table;
    return table;
}

void fail(std::string text) {
    ArchiveJob& job = archiveJob();
    job.errorFlag = true;
    job.errorText = std::move(text);
}

// Volume n (from 1) of a split backup, beside its first file, named as the
// archive library names them: the extension becomes .e01, .e02, ...
std::string volumeName(std::string_view first, unsigned n) {
    char ext[16];
    std::snprintf(ext, sizeof ext, ".e%02u", n);
    return platform::changeFileExt(first, ext);
}

// The name the new backup is written under until it has been read back: beside
// the backup file, so that the rename stays on its drive, with an extension of
// its own, so that its volumes never meet those of the backup file.
std::string pendingName(std::string_view backupPath) {
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device random;
    std::string tag;
    for (int i = 0; i < 10; ++i)
        tag += digits[random() % (sizeof digits - 1)];
    std::string ext = platform::extractFileExt(backupPath);
    if (ext.empty()) ext = ".tmp";
    return platform::changeFileExt(backupPath, "") + ".qbnew-" + tag + ext;
}

// The pending backup and its volumes, from the first on.
std::vector<std::string> pendingFiles(const std::string& pending) {
    std::vector<std::string> files;
    if (!platform::fileExists(pending)) return files;
    files.push_back(pending);
    for (unsigned n = 1; n < 1000 && platform::fileExists(volumeName(pending, n)); ++n)
        files.push_back(volumeName(pending, n));
    return files;
}

void discardPending(const std::string& pending) {
    for (const std::string& f : pendingFiles(pending))
        platform::deleteFile(f);
}

// Puts the checked backup in place of the older one: the volumes first, the
// first file last, then the volumes of an older, longer set of that name go.
bool commitPending(const std::string& pending, std::string_view backupPath) {
    const std::vector<std::string> files = pendingFiles(pending);
    if (files.empty()) {
        fail("The new backup file " + pending + " has gone before it could replace " +
             std::string(backupPath) + ".");
        return false;
    }
    for (size_t n = files.size(); n-- > 0;) {
        const std::string target =
            n == 0 ? std::string(backupPath) : volumeName(backupPath, static_cast<unsigned>(n));
        if (!platform::moveFileReplacing(files[n], target)) {
            fail("Cannot put the new backup in place: " + platform::lastFileError());
            return false;
        }
    }
    if (files.size() > 1) {
        for (unsigned n = static_cast<unsigned>(files.size());
             n < 1000 && platform::fileExists(volumeName(backupPath, n)); ++n)
            platform::deleteFile(volumeName(backupPath, n));
    }
    return true;
}

// Reads `path` back; failures name `shown`, the file the person knows.
bool verifyBackup(std::string_view path, std::string_view shown) {
    ArchiveJob& job = archiveJob();
    archive::FileList all;
    archive::SqxInitFileList(all);
    const JobMode mode = job.mode;
    job.mode = JobMode::Verify;
    job.callbackError.clear();
    const int32_t result = archive::SqxTestFiles(path, all, ArchiveCallback, 0);
    job.mode = mode;
    const std::string detail = archive::SqxLastError();
    archive::SqxDoneFileList(all);
    if (result == archive::kResultOk && job.callbackError.empty()) return true;
    if (result == archive::kResultAborted && job.callbackError.empty()) {
        job.aborted = true;
        return false;
    }
    job.errorFlag = true;
    std::string why = !job.callbackError.empty() ? job.callbackError
                      : !detail.empty()
                          ? detail
                          : "the archive library failed with code " + std::to_string(result);
    job.errorText = "The backup file " + std::string(shown) + " failed its check";
    if (shown != path) job.errorText += " and was not kept";
    job.errorText += ": " + why;
    return false;
}

bool isDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

// A folder reached through a symbolic link below a listed folder: the library does
// not descend into it (links may form cycles), so it adds nothing.
bool isLinkedFolder(const std::string& folder) {
    auto host = platform::hostPath(folder);
    std::error_code ec;
    return host && std::filesystem::is_symlink(*host, ec);
}

// Bytes of every file below a folder. The library reports a folder entry's
// progress as the share of these bytes written, so the bars move through it.
uint64_t folderBytes(const std::string& folder) {
    uint64_t total = 0;
    for (const platform::SearchRec& r : platform::findFiles(folder + "\\*", platform::faAnyFile)) {
        if (isDotEntry(r.name)) continue;
        if (r.attr & platform::faDirectory) {
            const std::string sub = folder + "\\" + r.name;
            if (!isLinkedFolder(sub)) total += folderBytes(sub);
        } else {
            total += r.size;
        }
    }
    return total;
}

// Puts the progress of a pack back to before its first entry.
void rewindProgress(ArchiveJob& job) {
    job.position = 0;
    job.groupPosition = 0;
    job.finishedBytes = 0;
    job.groupFinishedBytes = 0;
    job.groupScale = 100.0;
    job.lastOverall = 0;
    job.lastItem = 0;
}

}  // namespace

void RegisterBackupAdapter(ClientKind kind, BackupAdapter adapter) {
    if (adapter)
        adapters()[kind] = std::move(adapter);
    else
        adapters().erase(kind);
}

bool InitJobModule(std::string_view languageFile) {
    IORegistry();
    if (!languageFile.empty()) JobTexts().SetFileName(languageFile);
    archiveJob().stagingFolder = platform::excludeTrailingBackslash(platform::tempFolder());
    if (archive::LoadArchiveLibrary()) return true;
    std::cerr << "quillbox: " << archive::ArchiveLibraryLoadError() << "\n";
    interaction().messageBox("SQX.DLL not found! Reinstall Quillbox!", MsgIcon::Error,
                             MsgButtons::Ok);
    return false;
}

bool RunBackup(std::string_view backupPath, ClientKind kind, const Selection& identities,
               const Selection& items) {
    auto it = adapters().find(kind);
    if (it == adapters().end()) return false;
    ArchiveJob& job = archiveJob();
    // Each backup reports its own outcome, also when several run one after another.
    job.errorFlag = false;
    job.errorText.clear();
    job.aborted = false;
    job.notes.clear();
    BackupContext ctx;
    ctx.backupPath = std::string(backupPath);
    ctx.kind = kind;
    ctx.identities = identities;
    ctx.items = items;
    platform::FolderListingCache listings;
    try {
        it->second(ctx);
    } catch (const OperationAbandoned&) {
        job.aborted = true;
    } catch (const std::exception& e) {
        fail(e.what());
    }
    job.mode = JobMode::Idle;
    EndBackupArchive();
    return job.errorFlag;
}

void StartBackupFrame(BackupContext& ctx) {
    ctx.group = 0;
    ctx.groupStart = 0;
    BeginBackupArchive();
}

void BeginBackupArchive() {
    ArchiveJob& job = archiveJob();
    EndBackupArchive();
    job.files.clear();
    job.groups.assign(1, ProgressGroup{});
    rewindProgress(job);
    job.overallScale = 100.0;
    job.groupLabel.clear();
    job.callbackError.clear();
    std::string why;
    job.archiveOptionsValid =
        archive::MakeArchiveOptions(job.archiveOptions, job.password, job.stagingFolder,
                                    job.multipleVolumes, VolumeSizeCode(job.volumeSizeIndex), &why);
    if (!job.archiveOptionsValid) fail(why);
    job.fileList = archive::FileList{};
    archive::SqxInitFileList(job.fileList);
    job.fileListOpen = true;
}

void AddFileToJob(std::string_view source, std::string_view archiveFolder,
                  std::string_view baseFolder) {
    JobFileEntry e;
    e.source = std::string(source);
    e.archiveFolder = std::string(archiveFolder);
    e.baseFolder = std::string(baseFolder);
    for (const platform::SearchRec& r : platform::findFiles(source, platform::faAnyFile)) {
        if (isDotEntry(r.name)) continue;
        e.size = (r.attr & platform::faDirectory) ? folderBytes(e.source) : r.size;
        break;
    }
    archiveJob().files.push_back(std::move(e));
}

void AddFolderToJob(std::string_view folder, std::string_view archiveFolder,
                    std::string_view baseFolder, std::string_view mask) {
    const std::string base(folder);
    for (const platform::SearchRec& r :
         platform::findFiles(base + "\\*." + std::string(mask), platform::faAnyFile)) {
        if (isDotEntry(r.name)) continue;
        AddFileToJob(base + "\\" + r.name, archiveFolder, baseFolder);
    }
}

void CloseProgressGroup(BackupContext& ctx, std::string_view itemName) {
    ArchiveJob& job = archiveJob();
    ++ctx.group;
    ProgressGroup g;
    for (size_t i = ctx.groupStart; i < job.files.size(); ++i)
        g.total += job.files[i].size;
    g.lastEntry = job.files.size();
    g.name = std::string(itemName);
    const auto index = static_cast<size_t>(ctx.group);
    if (job.groups.size() <= index) job.groups.resize(index + 1);
    job.groups[index] = std::move(g);
    ctx.groupStart = job.files.size();
}

void PackJob(std::string_view backupPath) {
    ArchiveJob& job = archiveJob();
    job.aborted = false;
    job.callbackError.clear();
    if (!job.archiveOptionsValid) return;  // the reason is in the error text

    uint64_t total = 0;
    for (const JobFileEntry& e : job.files)
        total += e.size;
    job.overallScale = total == 0 ? 100.0 : 100.0 / static_cast<double>(total);

    // Entries added after the last item (the manifest and its companions) make a
    // group of their own, so that the item bar stays within 0..100 for them.
    const size_t lastGrouped = job.groups.back().lastEntry;
    if (job.files.size() > lastGrouped) {
        ProgressGroup rest;
        for (size_t i = lastGrouped; i < job.files.size(); ++i)
            rest.total += job.files[i].size;
        rest.lastEntry = job.files.size();
        job.groups.push_back(std::move(rest));
    }
    rewindProgress(job);

    for (const JobFileEntry& e : job.files)
        archive::SqxAddFileList(e.source, job.fileList);
    job.mode = JobMode::Backup;
    jobProgress().start();
    // Written under a name of its own and read back before it replaces the older
    // backup: a backup that fails its check leaves the older one as it was.
    const std::string pending = pendingName(backupPath);
    const int32_t result =
        archive::SqxAddFiles(pending, job.fileList, job.archiveOptions, ArchiveCallback, 0);
    job.mode = JobMode::Idle;
    MapArchiveResult(result);
    if (result != archive::kResultOk || !job.callbackError.empty()) {
        // The person knows the backup by its own name.
        for (size_t at = job.errorText.find(pending); at != std::string::npos;
             at = job.errorText.find(pending, at + backupPath.size()))
            job.errorText.replace(at, pending.size(), backupPath);
        discardPending(pending);
        return;
    }
    if (!verifyBackup(pending, backupPath) || !commitPending(pending, backupPath))
        discardPending(pending);
}

bool VerifyBackupFile(std::string_view path) {
    return verifyBackup(path, path);
}

void EndBackupArchive() {
    ArchiveJob& job = archiveJob();
    if (!job.fileListOpen) return;
    archive::SqxDoneFileList(job.fileList);
    job.fileListOpen = false;
}

bool FinishBackupFrame(BackupContext& ctx) {
    PackJob(ctx.backupPath);
    EndBackupArchive();
    return archiveJob().errorFlag;
}

std::string StagingPath(std::string_view name) {
    return archiveJob().stagingFolder + "\\" + std::string(name);
}

bool WriteManifest(const BackupContext& ctx, bool listEveryEntry) {
    const std::string path = StagingPath(kManifestName);
    if (platform::fileExists(path)) platform::deleteFile(path);
    platform::IniFile ini(path);
    bool ok = ini.writeString("Backup", "EmailClient", manifestKey(ctx.kind));
    auto writeList = [&](std::string_view section, const Selection& list) {
        int n = 0;
        for (int i = 0; i < list.count; ++i) {
            if (!listEveryEntry && !list[i].checked) continue;
            ok = ini.writeString(section, "Item" + std::to_string(++n), list[i].name) && ok;
        }
    };
    writeList("Identities", ctx.identities);
    writeList("Items", ctx.items);
    if (!ok) fail("Cannot write the backup's contents list " + path);
    return ok;
}

bool WriteManifestDirectory(std::string_view key, std::string_view value) {
    const std::string path = StagingPath(kManifestName);
    if (platform::IniFile(path).writeString("Directory", key, value)) return true;
    fail("Cannot write the backup's contents list " + path);
    return false;
}

void AddStagingFileToJob(std::string_view name) {
    const std::string& staging = archiveJob().stagingFolder;
    AddFileToJob(staging + "\\" + std::string(name), "", staging + "\\");
}

}  // namespace qb::jobs
