// The client-independent frame of every backup: the job's file list with its
// progress groups, the manifest, packing through the archive library, and the
// dispatch to the client adapters.
//
// An adapter runs, in this order: StartBackupFrame; for each chosen item
// AddFileToJob / AddFolderToJob and then CloseProgressGroup; WriteManifest (and its
// own auxiliary files) with AddStagingFileToJob for each; FinishBackupFrame.
// The backup file is only replaced when the new one is complete: an existing file
// at the backup path must not be deleted beforehand.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "catalog/client_kind.h"

namespace qb::jobs {

// What RunBackup hands to the adapter.
struct BackupContext {
    std::string backupPath;
    ClientKind kind = kind::None;
    Selection identities;
    Selection items;
    int group = 0;          // number of the last closed progress group
    size_t groupStart = 0;  // entry count when the current group began
    std::string work;       // free for the adapter
};

using BackupAdapter = std::function<void(BackupContext&)>;

// Installs the backup of one client code; an empty adapter removes it. The table
// starts empty: each adapter registers itself at program start.
void RegisterBackupAdapter(ClientKind kind, BackupAdapter adapter);

// Once at program start: the registry file exporter, the jobs' message texts (from
// `languageFile` when given), the staging folder and the archive library. When the library cannot
// be loaded the person is told "SQX.DLL not found! Reinstall Quillbox!" and the result is false:
// the program must end.
bool InitJobModule(std::string_view languageFile = {});

// Removes the files a job generated in the staging folder (registry exports,
// lists, extracted pieces); the manifest stays while archiveJob().keepManifest is
// set (the windows set it while they show what a backup holds). Backups and
// restores call it when they end.
void EndJobFiles();

// Runs the adapter of `kind`. True when the job recorded an error; false also for a
// kind without an adapter (nothing runs then). The outcome stays readable in
// archiveJob(): error flag and text, aborted flag.
bool RunBackup(std::string_view backupPath, ClientKind kind, const Selection& identities,
               const Selection& items);

// ---- operations of an adapter ----

// Resets the context's groups and begins the archive (the first step of a backup).
void StartBackupFrame(BackupContext& ctx);
// Resets the file list and progress, fills the archive options from the job's
// password and volume settings, and has the library begin its file list.
void BeginBackupArchive();
// Appends one file or folder (a folder is stored with everything below it). The
// name inside the backup file is archiveFolder + "\" + the source path without
// its first baseFolder.size() characters.
void AddFileToJob(std::string_view source, std::string_view archiveFolder,
                  std::string_view baseFolder);
// Appends every entry of `folder` matching "*." + mask (files and subfolders,
// hidden and system ones included), without descending.
void AddFolderToJob(std::string_view folder, std::string_view archiveFolder,
                    std::string_view baseFolder, std::string_view mask);
// Ends one backup item: its entries form the next progress group.
void CloseProgressGroup(BackupContext& ctx, std::string_view itemName);
// What a backup file's name carries while it is being written, before the
// process id: "NAME-qbnew-<pid>-<random>.ebk".
inline constexpr const char* kStagedBackupMark = "-qbnew-";

// Packs the file list into the backup file and records the outcome. Inside
// RunBackup the packed file takes the backup's name only when the whole job
// succeeded; called on its own, at once.
void PackJob(std::string_view backupPath);
// Reads the backup file at `path` (a split one with all its volumes) back and checks
// every entry: its CRC-32 and, for a protected backup, its authentication code.
// True when every entry is whole; else the job's error flag is set and the error
// text names the file and the first damaged entry. PackJob calls it on the new
// file before that replaces the older one; "/t" calls it on any backup file.
bool VerifyBackupFile(std::string_view path);
// Has the library release its file list.
void EndBackupArchive();
// PackJob and EndBackupArchive; returns the error flag.
bool FinishBackupFrame(BackupContext& ctx);

// ---- staging folder and manifest ----

inline constexpr std::string_view kManifestName = "infobak.ini";

// Staging folder + "\" + name.
std::string StagingPath(std::string_view name);
// Writes the manifest anew in the staging folder: section Backup (the client's
// manifest key from the catalog), then the chosen identities and items numbered
// from 1 (every entry with `listEveryEntry`). A file that cannot be written fails
// the job with its name in the error text.
bool WriteManifest(const BackupContext& ctx, bool listEveryEntry = false);
// Adds a line to the manifest's section "Directory".
bool WriteManifestDirectory(std::string_view key, std::string_view value);
// Adds a file of the staging folder at the root of the backup file.
void AddStagingFileToJob(std::string_view name);

}  // namespace qb::jobs
