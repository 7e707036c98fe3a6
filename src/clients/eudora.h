// Eudora (client code 3): everything lies in its data folder, which Eudora's
// command line in the registry names; no registry data is saved.
//
// Names inside the backup file (E = the data folder):
//   infobak.ini                  manifest
//   Spool\..., eudora.ini        Accounts Settings
//   <sub-folder>\*.mbx|toc|pce   Mail Folders: every folder of E's tree holding a
//                                ".pce" file, by its path below E
//   Mail\*.mbx|toc|pce           Mail Folders: the mailboxes of E itself (not its
//                                filters.pce and nndbase.toc)
//   directory.ini                Directory Dir<n> = each ".fol" mail folder below E
//   Stationery\...               Mail Folders
//   Filters\..., filters.pce     Filters
//   Sigs\...                     Signatures
//   nndbase.toc, nndbase.txt     Address Book
#pragma once

#include <string>
#include <string_view>

#include "jobs/backup_job.h"
#include "jobs/restore_job.h"

namespace qb::clients {

// Registers the backup and both restores for kind::Eudora.
void RegisterEudora();

void BackupEudora(jobs::BackupContext& ctx);
// Both return the job's error flag.
bool RestoreEudora(jobs::RestoreContext& ctx);
bool RestoreEudoraToFolder(jobs::RestoreContext& ctx);

// The data folder, without trailing backslash, that Eudora's command line names:
// the part after the program ("program folder settings-file"). Program and folder
// may be quoted; an unquoted folder with blanks is found by the settings file
// that lies in it. A text of one word is taken whole. "" when none is named.
std::string EudoraFolderFromCommandLine(std::string_view commandLine);

}  // namespace qb::clients
