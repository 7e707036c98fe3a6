// The client-independent frame of every restore: what a backup file holds, the
// extraction of chosen names into chosen folders, and the dispatch to the client
// adapters. Shares the one ArchiveJob state (archive_job.h) with the backup side.
//
// An adapter extracts in cycles: BeginExtraction; AddExtractEntry /
// AddExtractEntriesUnder; ExtractJob; EndExtraction. Each extracted file goes to
// the destination folder of its entry. A stored name that would leave its
// destination (a ".." level, a drive, a leading "\") is never written: the entry is
// skipped, the job's error flag is set and its error text names the entry; the
// other entries of the cycle are extracted.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
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
// The same for a look at a backup outside a restore: the job's error and aborted
// flags and its error text stay as they were. Nothing when the manifest cannot be
// read (not a backup, damaged, protected by another password).
std::optional<ClientKind> PeekBackupClient(std::string_view backupPath);

// Lists what a backup holds for the list kind (1..10; a version code counts as its
// family, see ListKindOf): appends the identities and the client's fixed items to the
// two lists, sets present[k] (k from 0, in the order of the fixed items; `present`
// is resized to their number) for each item the backup holds, the item count and
// the mismatch flag. A family accepts the manifest keys of all its versions (7:
// "PocoMail2", "PocoMail20", "PocoMail3"; 8: "Opera", "Opera7"; 9: "Netscape4",
// "Netscape"). On a mismatch the identities stay empty and the count 0. Returns
// whether items can be chosen one by one (false for an unknown list kind).
bool ListBackupContents(int listKind, std::string_view backupPath, std::vector<bool>& present,
                        uint8_t& itemCount, std::vector<std::string>& identities,
                        std::vector<std::string>& items, bool& mismatch);
// The list kind of a client code: the family code, for version codes their family's.
int ListKindOf(ClientKind kind);

// Protected backups. Every entry's data is encrypted, the manifest's too; the
// names are not, so a backup can be listed without the password.
//
// Whether entries of the backup are encrypted. False for a file that cannot be
// listed (the next read of it reports why).
bool IsProtectedBackup(std::string_view backupPath);
// Asked for the password of a protected backup; `wrongBefore` is set when the
// previous answer did not open it. Nothing means nobody answers (Cancel, no
// terminal): the backup stays closed.
using PasswordPrompt = std::function<std::optional<std::string>(bool wrongBefore)>;
enum class UnlockResult {
    Open,       // not protected, or the job's password now opens it
    Cancelled,  // the prompt gave up; the job's password is empty
    Failed,     // the manifest cannot be read for another reason (error text)
};
// Clears the job's password, as every newly chosen backup file does; for a
// protected backup asks `prompt` until an answer opens the manifest, and keeps
// that answer as the job's password for the reads and the restore that follow.
// A window passes a prompt that shows its password window (and says a wrong
// password was given when `wrongBefore`); the command line one that reads a
// password file, the environment or the terminal.
UnlockResult UnlockBackup(std::string_view backupPath, const PasswordPrompt& prompt);

// Both return the adapter's result: true when an error was recorded; false for a
// kind without an adapter (nothing runs; the family codes 7, 8 and 9 never have
// one). They clear the error and aborted flags first; the abort request is the
// caller's. The target folder gets a trailing "\" when it lacks one.
bool RunRestore(std::string_view backupPath, ClientKind kind, const Selection& identities,
                const Selection& items);
bool RunRestoreToFolder(std::string_view backupPath, std::string_view targetFolder, ClientKind kind,
                        const Selection& identities, const Selection& items);

// ---- extraction, for the adapters ----

// subFolders false: each file is written under its bare name into its destination
// folder; true: under its whole stored path below the destination folder.
void BeginExtraction(bool subFolders);
// One name inside the backup file (backslashes) and the folder it goes to (ending "\").
// An empty destination means the staging folder. A name that is not a safe relative
// name (IsSafeRelativeName; a folder entry may end in "\") is not added: the next
// ExtractJob reports it.
void AddExtractEntry(std::string_view name, std::string_view destinationFolder);
// Every listed name that begins with prefix + "\" (ignoring case), in listing order.
// Folder entries (ending in "\") are taken only with sub-folders: a flat extraction
// would make stray empty folders of them.
void AddExtractEntriesUnder(std::string_view prefix, std::string_view destinationFolder);
// Extracts the entries; the library's result becomes the job's flags and error text.
void ExtractJob(std::string_view backupPath);
void EndExtraction();
// Reads every name of the backup file, in archive order, into the job's listing
// (folder entries end in "\"). A backup that cannot be listed leaves the listing
// empty and sets the job's flags and error text as an extraction would.
void ListArchive(std::string_view backupPath);
const std::vector<std::string>& ArchiveListing();
// Progress of the restore bar: 100 / n per file (100 for n = 0). The adapter calls it
// after its listing, with files started set to 0; from then on the restore reports
// files started x scale + the current file's share, within 0..100.
void SetRestoreScale(size_t n);
// The folder, created as one new level; else the same path on the first fixed drive
// (A to X); the path unchanged when neither works (the extraction then names it).
std::string MakeFolderOrUseFixedDrive(std::string_view folder);

// Adapters tell every registry file of the backup (by its name there) whose import
// into the machine they tried, and whether it was imported, so that a direct
// restore that fails midway names what it changed in the registry and what not.
void NoteRegistryImport(std::string_view nameInBackup, bool imported);

// Whether a name from a backup file (a stored name, a manifest value, an identity)
// may be put below a destination folder: not empty, relative (no leading "\" or
// "/"), no ":" (so no drive), and no component that is empty or made only of dots
// and blanks (".", "..", and what Windows would trim to them).
// Names with control characters are refused too: no Windows name holds them.
bool IsSafeRelativeName(std::string_view name);
// Why IsSafeRelativeName refuses a name, for a message: "would be written outside
// its folder" or "holds a control character, which no Windows name may hold"; ""
// when it is safe.
std::string EntryNameProblem(std::string_view name);

}  // namespace qb::jobs
