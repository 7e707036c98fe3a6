// Opera's mail: Opera 6 keeps one folder per account below the program's "Mail"
// folder; Opera 7 keeps all its mail below the user's application data folder.
// Each has a backup, a restore into the client and a restore into a folder.
#pragma once

#include "jobs/backup_job.h"
#include "jobs/restore_job.h"

namespace qb::clients {

// Registers the backups and restores of kind::Opera6 and kind::Opera7.
void RegisterOpera();

void BackupOpera6(jobs::BackupContext& ctx);
bool RestoreOpera6(jobs::RestoreContext& ctx);
void BackupOpera7(jobs::BackupContext& ctx);
bool RestoreOpera7(jobs::RestoreContext& ctx);

}  // namespace qb::clients
