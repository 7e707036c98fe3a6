// One backup of a command-line or scheduled run, with the checks around it: the
// client must not be running, and success means a new backup file is there.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalog/client_kind.h"

namespace qb::app {

enum class BackupOutcome { Done, Failed, Aborted, ClientRunning, NotInstalled };

struct BackupReport {
    BackupOutcome outcome = BackupOutcome::Failed;
    std::string error;  // why it failed (the job's error text)
    // Items that added nothing because the machine does not have their data.
    std::vector<std::string> notes;
};

// Runs the backup job (no running check) and tells what came of it. A backup that
// reports no error but leaves no new file at `path` (a client without a backup in
// this program) has failed.
BackupReport RunBackupJob(ClientKind kind, const std::string& path, const Selection& identities,
                          const Selection& items);

// Refuses a client that is not installed (ClientInstalledForBackup); otherwise
// runs the running program check for the client (backup mode) and, unless the
// client still runs, the backup. A backup that reports no error but leaves no new
// file at `path` (a client without a backup in this program) has failed.
BackupReport RunCheckedBackup(ClientKind kind, const std::string& path, const Selection& identities,
                              const Selection& items);

// The backup a direct restore makes first of the data it is about to replace.
struct UndoBackupReport {
    bool ok = false;    // the restore may go on
    std::string file;   // the backup file written; "" when the client held no data
    std::string error;  // why it could not be made
};

// Backs up the client's current data of the identities and items chosen for a
// restore (by name; identities the client does not have now are left out) into
// the automatic backup folder, as "BeforeRestore " + the client's file-name
// prefix + the date and time + ".ebk". A client that is not installed or has none
// of the chosen identities holds nothing to keep: ok, no file.
UndoBackupReport BackupBeforeRestore(ClientKind kind, const Selection& identities,
                                     const Selection& items);

// A restore directly into the client, with the backup that undoes it first
// (unless `undo` is false). The restore runs only when that backup succeeded.
struct RestoreReport {
    bool done = false;  // restored without an error
    bool aborted = false;
    bool notStarted = false;  // the undo backup failed; nothing was restored
    std::string error;        // the job's error text, or why the undo backup failed
    std::string undoFile;     // the backup that undoes the restore; "" when none was made
};
RestoreReport RestoreIntoClient(std::string_view backupPath, ClientKind kind,
                                const Selection& identities, const Selection& items, bool undo);

// Whether the client still runs and the user would not close it.
bool ClientStillRuns(ClientKind kind, bool backup);

// The name of a client as people call it ("Outlook Express").
std::string_view ClientName(ClientKind kind);

// The text of a message key in the language file in use.
std::string MessageText(std::string_view key);

}  // namespace qb::app
