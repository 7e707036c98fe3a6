// One backup of a command-line or scheduled run, with the checks around it: the
// client must not be running, and success means a new backup file is there.
#pragma once

#include <string>
#include <string_view>

#include "catalog/client_kind.h"

namespace qb::app {

enum class BackupOutcome { Done, Failed, Aborted, ClientRunning };

struct BackupReport {
    BackupOutcome outcome = BackupOutcome::Failed;
    std::string error;  // why it failed (the job's error text)
};

// Runs the backup job (no running check) and tells what came of it. A backup that
// reports no error but leaves no new file at `path` (a client without a backup in
// this program) has failed.
BackupReport RunBackupJob(ClientKind kind, const std::string& path, const Selection& identities,
                          const Selection& items);

// Runs the running program check for the client (backup mode) and, unless the
// client still runs, the backup. A backup that reports no error but leaves no new
// file at `path` (a client without a backup in this program) has failed.
BackupReport RunCheckedBackup(ClientKind kind, const std::string& path, const Selection& identities,
                              const Selection& items);

// Whether the client still runs and the user would not close it.
bool ClientStillRuns(ClientKind kind, bool backup);

// The name of a client as people call it ("Outlook Express").
std::string_view ClientName(ClientKind kind);

// The text of a message key in the language file in use.
std::string MessageText(std::string_view key);

}  // namespace qb::app
