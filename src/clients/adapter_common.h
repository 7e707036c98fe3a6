// Small pieces that several client adapters share: recording a failure in the
// job, telling safe folder and file names from hostile ones, staging files, and
// one-entry extraction cycles.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "catalog/client_kind.h"

namespace qb::clients {

// Sets the job's error flag and adds `text` to its error text (one after the other), so
// that several failures of one job are all reported.
void AddJobError(std::string_view text);

// A full path of a folder or file: "X:\something" whose levels are all safe names
// (jobs::IsSafeRelativeName). A drive's root, a relative path and "" are not.
bool IsFullPath(std::string_view path);

// Writes `text` as the whole content of the file (replacing it).
bool WriteTextFile(std::string_view winPath, std::string_view text);
// Removes a file of the staging folder, so that an extraction that does not
// produce it cannot leave an older one in its place.
void DeleteStagingFile(std::string_view name);

// One flat extraction cycle: the stored name `name` into `folder` (ending "\").
void ExtractEntry(std::string_view backupPath, std::string_view name, std::string_view folder);
// One extraction cycle of every listed name below `prefix` into `folder`.
void ExtractEntriesUnder(std::string_view backupPath, std::string_view prefix,
                         std::string_view folder, bool subFolders = false);
// The first steps of every restore: extracts the named manifest files into the
// staging folder (after removing older copies), lists the backup file and resets
// the restore bar to its listing.
void BeginRestore(std::string_view backupPath, std::initializer_list<std::string_view> files);

// The display name of item `index` of the kind: the selection's when it has that
// entry, else the catalog's.
std::string ItemName(const Selection& items, int index, ClientKind kind);

}  // namespace qb::clients
