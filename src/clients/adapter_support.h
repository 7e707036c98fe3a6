// Pieces the client adapters share: recording failures in the job, judging names
// that come from a client's registry or from a backup file before they become
// folder names, importing a registry file of a backup under a fence of allowed
// keys, and restoring stored folder trees.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace qb::clients {

// Sets the job's error flag and adds `text` as a line of the job's error text.
void RecordError(std::string_view text);

// One run of an adapter's backup or restore. The job replaces its error text with
// the account of each failed archive operation; the failures the adapter recorded
// during the run are put back after it when the run ends, so none is lost.
class AdapterRun {
  public:
    AdapterRun();
    ~AdapterRun();
    AdapterRun(const AdapterRun&) = delete;
    AdapterRun& operator=(const AdapterRun&) = delete;
};

// Why `name` cannot be one folder name below a folder the adapter chose; "" when it
// can. Refused: the empty name, names of nothing but dots and blanks ("..", ". ."),
// a drive ("C:"), a backslash or a slash anywhere, and the characters Windows
// refuses in file names.
std::string FolderNameProblem(std::string_view name);
// Why `path` cannot be a relative path below a folder the adapter chose; "" when
// it can. Levels are separated by "\" (a trailing one is allowed: a folder entry);
// each level must pass FolderNameProblem.
std::string RelativePathProblem(std::string_view path);
// A full path on a drive: a letter, ":" and, when more follows, "\".
bool IsDrivePath(std::string_view path);

// ---- registry files of a backup ----

// A key (path below its root, without a leading backslash) and its subtree.
struct AllowedKey {
    platform::RootKey root;
    std::string path;
};

// Imports a registry file extracted from a backup (`file`, a Windows path;
// `nameInBackup` names it in messages). Only keys inside `allowed` are written:
// every other key line, with its values, is left out and named in the job's error
// text. With `localMachineToCurrentUser`, key lines that name HKEY_LOCAL_MACHINE
// are read as HKEY_CURRENT_USER first (the file is saved so changed before the
// import). Values are never touched, also when their text names a root key.
// Returns false when anything was left out or the import failed.
bool ImportBackupRegistryFile(std::string_view file, std::string_view nameInBackup,
                              const std::vector<AllowedKey>& allowed,
                              bool localMachineToCurrentUser);

// ---- restores ----

// The common start of a restore: extracts the manifest into the staging folder
// (an older copy there is deleted first, so it can never be taken for this
// backup's), lists the backup and resets the restore bar.
void BeginAdapterRestore(std::string_view backupPath);
// Extracts one stored file into the staging folder under its bare name and
// returns that path, or "" when the extraction did not produce it. A file of the
// same name left there by an earlier job is deleted first.
std::string ExtractToStaging(std::string_view backupPath, std::string_view nameInBackup);
// Extracts one stored file into `destinationFolder` (ending with "\").
void ExtractFileTo(std::string_view backupPath, std::string_view nameInBackup,
                   std::string_view destinationFolder);
// Restores every stored name below `prefix` + "\" into `destinationFolder`
// (ending with "\"), keeping the levels below the prefix: "Mail\a\b.txt" under
// the prefix "Mail" goes to destinationFolder + "a\b.txt". Names whose levels
// below the prefix would leave the destination are skipped and named in the
// job's error text. Returns the number of names restored or tried.
size_t RestoreTree(std::string_view backupPath, std::string_view prefix,
                   std::string_view destinationFolder);
// The stored names below `prefix` + "\" (any letter case), in listing order.
std::vector<std::string> ListedNamesUnder(std::string_view prefix);

}  // namespace qb::clients
