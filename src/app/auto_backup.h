// The scheduled run ("/auto"): every client marked in the schedule is backed up
// into the automatic backup folder, older automatic backups are pruned, and each
// client's outcome is appended to a log file in that folder.
#pragma once

#include <iostream>
#include <string>
#include <string_view>

#include "catalog/client_kind.h"

namespace qb::app {

inline constexpr std::string_view kAutoBackupLogName = "quillbox-auto.log";

// Backs up every client whose schedule entry under HKCU\Software\Quillbox\AutoBackup
// has "Selected" set, in the order the registry lists the entries. One line per
// client goes to `out` and to the log file. True when every backup succeeded.
bool RunScheduledBackups(std::ostream& out = std::cout);

// The identities and items a scheduled backup of `kind` takes: the client's
// current lists, each entry checked by the stored value of the same name under
// the entry `entryName` (identities ignoring case, items exactly); every item
// when the client's items cannot be chosen one by one.
struct ScheduledSelection {
    Selection identities;
    Selection items;
};
ScheduledSelection LoadScheduledSelection(ClientKind kind, std::string_view entryName);

// The logon user's name and a blank, or "" when Windows names no logon user.
std::string LogonUserPrefix();

// Deletes older automatic backups of the same client and user prefix beside
// `newFile` as the backup mode says: 1 the newest other one, 2 none, 3 (and any
// other mode) all but the newest BackupKeep others. `newFile` is never deleted.
// The versions of one family share a prefix; only backups of `kind` itself count
// (BackupOfVersion).
void PruneAutomaticBackups(ClientKind kind, std::string_view newFile);
// The same with the mode and count given.
void PruneAutomaticBackups(ClientKind kind, std::string_view newFile, int32_t backupMode,
                           int32_t backupKeep);

// Whether the backup file `path`, whose name goes on with `rest` after the client
// prefix, belongs to `kind`. True for every code whose family has one kind; for a
// version code, a name carrying a version label belongs to that version, and a
// name without one to the version its manifest names. A file whose manifest
// cannot be read belongs to none.
bool BackupOfVersion(ClientKind kind, const std::string& path, std::string_view rest);

}  // namespace qb::app
