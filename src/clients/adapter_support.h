// Pieces every client adapter shares: recording failures in the job, judging
// names and paths that come from a client's registry or from a backup file
// before they become places on disk, staging files, importing a registry file
// of a backup under a fence of allowed keys, and the extraction cycles restores
// are made of.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "catalog/client_kind.h"
#include "platform/registry.h"

namespace qb::clients {

// ---- failures ----

// Sets the job's error flag and adds `text` as a line of its own to the job's
// error text, so that every failure of one run is reported, not only the last.
void RecordError(std::string_view text);

// Notes that a backup item adds nothing because its source is missing or empty
// (the job's notes); the backup of everything else goes on and succeeds.
void RecordNote(std::string_view text);

// Adds a file or folder of the item named `item` (its display name) to the
// backup when the machine has it. A path that names nothing (unset, or not a
// full path) or a file or folder that does not exist adds nothing, with a note
// naming the item and the path; the rest of the backup goes on. One that exists
// is added as it is, so a source that cannot be read still fails the packing.
// Mail is never added through these: missing mail is a refusal, not a note.
void AddItemFile(std::string_view item, std::string_view source, std::string_view archiveFolder,
                 std::string_view baseFolder);
void AddItemFolder(std::string_view item, std::string_view folder, std::string_view archiveFolder,
                   std::string_view baseFolder, std::string_view mask);

// One run of an adapter's backup or restore. Each failed archive operation
// replaces the job's error text with its own account; the failures recorded
// during the run are put back after it when the run ends, so none is lost.
class AdapterRun {
  public:
    AdapterRun();
    ~AdapterRun();
    AdapterRun(const AdapterRun&) = delete;
    AdapterRun& operator=(const AdapterRun&) = delete;
};

// ---- names and paths ----

// Why `name` cannot be one folder or file name below a folder the adapter chose;
// "" when it can. Refused: the empty name, names of nothing but dots and blanks
// (Windows drops trailing ones, so ". ." names the folder itself and ".. " its
// parent), a backslash or slash anywhere, control characters and the characters
// Windows refuses in names (":" among them, so no drive either).
std::string FolderNameProblem(std::string_view name);
inline bool IsSafeFolderName(std::string_view name) {
    return FolderNameProblem(name).empty();
}

// Why `path` cannot be a relative path below a folder the adapter chose; "" when
// it can. Levels are separated by single backslashes (one trailing backslash is
// allowed: a folder entry); each level must pass FolderNameProblem.
std::string RelativePathProblem(std::string_view path);
inline bool IsSafeRelativePath(std::string_view path) {
    return RelativePathProblem(path).empty();
}

// Why a relative path from a backup (a stored name, a manifest value) is not
// restored below `folder`, for a message: "it would lead outside FOLDER" when a
// level climbs or names a drive or a root, else "its name holds WHAT, which no
// Windows name may hold". Untrusted text in it is left to RecordError to escape.
std::string RefusedPathReason(std::string_view path, std::string_view folder);

// A folder or file on a drive: a letter, ":\" and at least one level, which
// together pass RelativePathProblem. A drive's root is refused: a value that
// names one is unset or damaged, and a search or a restore there would reach
// the whole drive. "", relative, network and "C:x" paths are refused too.
bool IsFullPath(std::string_view path);

// ---- staging files and text files ----

// Staging folder + "\" + `name` (which may name a subfolder). An existing file
// there is deleted first, so that a write or an extraction that does not produce
// it cannot leave an older job's copy to be read. "" with an error when the old
// file cannot be deleted.
std::string FreshStagingPath(std::string_view name);

// Writes `text` as the whole content of the file (replacing it); false when it
// could not be written completely.
bool WriteTextFile(std::string_view winPath, std::string_view text);

// The sections of a generated INI file, each with its keys, in file order.
using IniKeys = std::vector<std::pair<std::string, std::string>>;
using IniSections = std::vector<std::pair<std::string, IniKeys>>;

// Writes an INI file of the staging folder anew, in one go (a section of a
// thousand keys must not cost a thousand rewrites); `relativeName` may name a
// subfolder, which is created. False, with an error naming the file, when it
// cannot be written.
bool WriteStagingIni(std::string_view relativeName, const IniSections& sections);

// The values of a section's keys `prefix` + 1 .. `prefix` + n of an INI file, n
// being the number of lines of the section (as the backups write them); a key
// that is missing gives "".
std::vector<std::string> ReadNumberedKeys(std::string_view iniPath, std::string_view section,
                                          std::string_view prefix);

// Every folder in which the program's file search finds a file matching
// `pattern` (a folder and a mask; sub-folders are searched too), each once
// (folders differing only in letter case are one on Windows), in the order the
// search first met it, each ending with "\".
std::vector<std::string> FoldersHolding(std::string_view pattern);

// The display name of item `index` of the kind: the selection's when it has that
// entry, else the catalog's.
std::string ItemName(const Selection& items, int index, ClientKind kind);

// ---- registry files of a backup ----

// A key (path below its root, without a leading backslash) and its subtree.
struct AllowedKey {
    platform::RootKey root;
    std::string path;
};

// What happens to a registry file that names keys outside the allowed ones.
enum class OutsideKeys {
    LeaveOut,    // those keys (with their values) are left out, the rest is imported
    RefuseFile,  // nothing of the file is imported
};

// Imports a registry file extracted from a backup (`file`, a Windows path;
// `nameInBackup` names it in messages). Only keys inside `allowed` are written;
// every key outside is named in the job's error text. With
// `localMachineToCurrentUser`, key lines that name HKEY_LOCAL_MACHINE are read
// as HKEY_CURRENT_USER first (the file is saved so changed before the import).
// Values are never touched, also when their text names a root key. Returns
// false when anything was left out or the import failed.
bool ImportBackupRegistryFile(std::string_view file, std::string_view nameInBackup,
                              const std::vector<AllowedKey>& allowed,
                              bool localMachineToCurrentUser,
                              OutsideKeys outside = OutsideKeys::LeaveOut);

// A registry file that a restore into a folder has put there (`file`, a Windows
// path) rewritten in the form the Windows registry editor imports by hand
// (Version 5.00, UTF-16LE). A file that is not there is no error (the backup did
// not hold it); one that cannot be converted is named in the job's error text.
void ConvertRegistryFileForHand(std::string_view file);

// ---- restores ----

// The start of every restore: the backup is listed (ListedName knows that
// listing from then on), its manifest extracted into the staging folder (an
// older copy deleted first, so it is never taken for this backup's) and the
// restore bar scaled to the listing. False, with an error naming the backup
// file, when no manifest came out: the file is no backup to restore from.
bool BeginRestore(std::string_view backupPath);

// The stored spelling of `name` in the listing of the last BeginRestore
// (compared without regard to case); "" when the backup does not hold it.
std::string ListedName(std::string_view name);
// The listed names below `prefix` + "\" (any letter case), files and folder
// entries (ending "\"), in listing order; the prefix's own entry is not one.
std::vector<std::string> ListedNamesUnder(std::string_view prefix);

// Extracts one stored file into the staging folder, or the given subfolder of
// it, under its bare name (an older copy deleted first). Returns that path, or
// "" when the extraction did not produce the file.
std::string ExtractToStaging(std::string_view backupPath, std::string_view name,
                             std::string_view subfolder = {});
// One extraction cycle of one stored file into `destinationFolder` under its
// bare name; whether the backup held it.
bool ExtractFile(std::string_view backupPath, std::string_view name,
                 std::string_view destinationFolder);

// The stored files of one extraction cycle, each written under its bare name into
// its own folder. The backup is read once for all of them, in listing order.
class Extraction {
  public:
    // Adds the file when the backup holds it; returns whether it does. A file
    // whose destination (folder and bare name) is already planned is not added
    // again: the first one wins (backups hold some files under two names).
    bool addFile(std::string_view name, std::string_view destinationFolder);
    // Adds every listed name below `prefix`, each into `folder` followed by its
    // path below the prefix, so that the stored tree is rebuilt below `folder`
    // ("Mail\a\b.txt" under the prefix "Mail" goes to folder + "a\b.txt"); folder
    // entries are created, so empty folders come back too. A name whose path below
    // the prefix would leave `folder` is left out with an error naming it.
    // `directOnly` takes only the files directly below the prefix.
    void addTree(std::string_view prefix, std::string_view folder, bool directOnly = false);
    bool empty() const { return entries_.empty() && folders_.empty(); }
    // Creates the planned folders and extracts the planned files in one cycle
    // (none when no file is planned); the plan is emptied.
    void run(std::string_view backupPath);

  private:
    void addListed(const std::string& stored, std::string_view folder);
    std::vector<std::pair<std::string, std::string>> entries_;  // stored name, folder
    std::vector<std::string> folders_;
    std::unordered_set<std::string> destinations_;  // lower-cased paths already planned
};

// Restores the stored tree below `prefix` into `folder` in one cycle (see
// Extraction::addTree).
void RestoreTree(std::string_view backupPath, std::string_view prefix, std::string_view folder);

}  // namespace qb::clients
