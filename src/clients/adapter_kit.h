// Pieces the The Bat! and PocoMail adapters share: recording failures in the job,
// telling usable folders and safe names from damaged or hostile ones, staging
// files, and the extraction cycles their restores are made of.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalog/client_kind.h"

namespace qb::clients::kit {

// Sets the job's error flag and adds `text` to its error text as a line of its own,
// so that every failure of one job is reported, not only the last.
void AddJobError(std::string_view text);

// A folder on a drive: "X:\..." (or the drive itself, "X:" or "X:\") with no
// empty, "." or ".." level. "", relative paths, "\x" and UNC paths are not.
bool IsAbsoluteFolder(std::string_view folder);
// One folder or file name: not empty, not made of dots and blanks only ("." and
// ".." among them), none of \ / : * ? " < > | and no control characters.
bool IsSafeName(std::string_view name);
// A relative path that stays below the folder it is put in: one or more safe names
// separated by single backslashes, optionally ending with one backslash.
bool IsSafeRelativePath(std::string_view path);

// Staging folder + "\" + name; an existing file there is deleted first, so that an
// extraction or a write that does not produce it cannot leave an older one behind.
std::string FreshStagingPath(std::string_view name);

// The item's display name: the selection's entry when it has one, else the
// catalog's name for position `index`.
std::string ItemName(const Selection& items, int index, ClientKind kind);

// The restore's first steps: the manifest into the staging folder (an older copy
// removed first), the backup's listing, the restore bar reset to the listing.
// False, with an error naming the backup file, when no manifest came out.
bool BeginRestore(std::string_view backupPath);
// The stored name of the listing that equals `name` without regard to case; ""
// when the backup file does not hold it. Knows the listing of the last BeginRestore.
std::string ListedName(std::string_view name);
// The listed names below `prefix` (prefix + "\" begins them, without regard to
// case), in listing order.
std::vector<std::string> ListedNamesUnder(std::string_view prefix);

// One flat extraction cycle of single names, each into its own folder. Names the
// backup does not hold are left out; nothing runs when none is left.
struct Extraction {
    // Adds `name` when the backup holds it; returns whether it did.
    bool add(std::string_view name, std::string_view destinationFolder);
    void run(std::string_view backupPath);

    std::vector<std::pair<std::string, std::string>> entries;
};
// One flat cycle of one name; whether the backup held it.
bool ExtractFile(std::string_view backupPath, std::string_view name,
                 std::string_view destinationFolder);
// A stored tree: one flat cycle of every listed file below `prefix`, each into
// `destinationRoot` + its folder below the prefix ("AB\x\f.abd" goes to
// destinationRoot + "x\"); the tree's folders are created, empty ones included.
// A name whose rest would leave the destination is skipped with an error naming it.
void ExtractFilesBelow(std::string_view backupPath, std::string_view prefix,
                       std::string_view destinationRoot);

}  // namespace qb::clients::kit
