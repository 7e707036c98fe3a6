// PocoMail 2, 3 and 2 PE (client codes 72, 73, 720): each user's data lives in a
// folder holding "poco.ini", which names the user's data folders below it. The
// main user ("Default User") is the PocoMail folder itself; further users live in
// the users folder that the main user's "poco.ini" names.
//
// Inside a backup file: the main user's poco.ini, accounts.ini and Filters.ini at
// the root, each of its folders (attachments, mail, templates, signatures, address
// book, scripts) under its own name, the files (*.mbx, *.itx, *.dat) of every mail
// sub-folder under the sub-folder's path below the mail folder, and directory.ini
// listing those sub-folders; a further user N the same below users\N\, without
// the sub-folder copies.
#pragma once

#include "jobs/backup_job.h"
#include "jobs/restore_job.h"

namespace qb::clients {

// Registers the backup and both restores of codes 72, 73 and 720.
void RegisterPocoMail();

void BackupPocoMail(jobs::BackupContext& ctx);
// Both return the job's error flag.
bool RestorePocoMail(jobs::RestoreContext& ctx);
bool RestorePocoMailToFolder(jobs::RestoreContext& ctx);

}  // namespace qb::clients
