// The client-independent frame of every restore: what a backup file holds, the
// extraction of chosen names into chosen folders, and the dispatch to the client
// adapters. Shares the one ArchiveJob state (archive_job.h) with the backup side.
//
// An adapter extracts in cycles: BeginExtraction; AddExtractEntry /
// AddExtractEntriesUnder; ExtractJob; EndExtraction. Each extracted file goes to
// the destination folder of its entry. A stored name that would leave its
// destination (a ".." level, a drive, a leading "\") is never written: the entry is
// skipped and the job's error text names it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/client_kind.h"

namespace qb::jobs {

// What RunRestore and RunRestoreToFolder hand to the adapter.
struct RestoreContext {
    std::string backupPath;
    ClientKind kind = kind::None;
    Selection identities;
    Selection items;
    // Empty for a restore into the client; else the target folder, ending with "\".
    std::string targetFolder;
    bool toFolder() const { return !targetFolder.empty(); }
};

// An adapter's restore: returns its error flag (true when an error was recorded).
using RestoreAdapter = std::function<bool(RestoreContext&)>;

// Installs the restore of one client code, into the client (`direct`) or into a
// folder; an empty adapter removes it.
void RegisterRestoreAdapter(ClientKind kind, RestoreAdapter direct, RestoreAdapter toFolder);

// The client code named by the backup's manifest; 0 when it names none we know.
ClientKind ReadBackupClient(std::string_view backupPath);

// Lists what a backup holds for the list kind (1..10; see ListKindOf): appends the
// identities and the client's fixed items to the two lists, sets present[k] for each
// item the backup holds, the item count and the mismatch flag. Returns whether items
// can be chosen one by one.
bool ListBackupContents(int listKind, std::string_view backupPath, std::vector<bool>& present,
                        uint8_t& itemCount, std::vector<std::string>& identities,
                        std::vector<std::string>& items, bool& mismatch);
// The list kind of a client code: the family code, for version codes their family's.
int ListKindOf(ClientKind kind);

// Both return the adapter's result: true when an error was recorded; false for a
// kind without an adapter (nothing runs).
bool RunRestore(std::string_view backupPath, ClientKind kind, const Selection& identities,
                const Selection& items);
bool RunRestoreToFolder(std::string_view backupPath, std::string_view targetFolder, ClientKind kind,
                        const Selection& identities, const Selection& items);

// ---- extraction, for the adapters ----

// subFolders false: each file is written under its bare name into its destination
// folder; true: under its whole stored path below the destination folder.
void BeginExtraction(bool subFolders);
// One name inside the backup file (backslashes) and the folder it goes to (ending "\").
void AddExtractEntry(std::string_view name, std::string_view destinationFolder);
// Every listed name that begins with prefix + "\" (ignoring case), in listing order.
void AddExtractEntriesUnder(std::string_view prefix, std::string_view destinationFolder);
// Extracts the entries; the library's result becomes the job's flags and error text.
void ExtractJob(std::string_view backupPath);
void EndExtraction();
// Reads every name of the backup file, in archive order, into the job's listing.
void ListArchive(std::string_view backupPath);
const std::vector<std::string>& ArchiveListing();
// Progress of the restore bar: 100 / n per file (100 for n = 0).
void SetRestoreScale(size_t n);
// The folder, created as one new level; else the same path on the first fixed drive.
std::string MakeFolderOrUseFixedDrive(std::string_view folder);

}  // namespace qb::jobs
