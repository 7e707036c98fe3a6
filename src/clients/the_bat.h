// The Bat! (client code 6): one folder per user with the account files and one
// message base pair (Messages.tbi, Messages.tbb) per mail folder, and a shared
// address book in the program's working folder.
//
// Inside a backup file, for user U: U\account.cfg, U\account.vcf (accounts);
// U\<mail folder>\Messages.tbi and .tbb, the six account files .flx .m_d .m_r
// .pfx .qtn .sce and U\directory.ini listing the mail folders (mail); U\account.srx
// (filters); "Address Book\" with the working folder's *.abd, Groups.cfg and
// Addrbook.ini. The manifest's section Directory has one ItemN per user: the user's
// own folder ("Dir #n"), or "default" for the working folder + the user name.
#pragma once

#include "jobs/backup_job.h"
#include "jobs/restore_job.h"

namespace qb::clients {

// Registers the backup and both restores of code 6 with the job frames.
void RegisterTheBat();

void BackupTheBat(jobs::BackupContext& ctx);
// Both return the job's error flag.
bool RestoreTheBat(jobs::RestoreContext& ctx);
bool RestoreTheBatToFolder(jobs::RestoreContext& ctx);

}  // namespace qb::clients
