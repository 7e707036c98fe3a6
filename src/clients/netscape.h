// Netscape and Mozilla mail. Netscape 4 keeps a registry key, a user folder
// (preferences, address books, the mail folder tree) and "nsreg.dat" per user;
// Netscape 6/7 and Mozilla keep profiles, listed in the profile registry
// "registry.dat", each with its preference and address book files and a "Mail"
// folder holding one folder per mail server. Items are not chosen one by one:
// everything of each chosen user or profile is saved and restored.
#pragma once

#include <string>
#include <string_view>

#include "jobs/backup_job.h"
#include "jobs/restore_job.h"

namespace qb::clients {

// Registers the backups and restores of kind::Netscape4 and kind::Mozilla.
void RegisterNetscape();

void BackupNetscape4(jobs::BackupContext& ctx);
bool RestoreNetscape4(jobs::RestoreContext& ctx);
void BackupMozilla(jobs::BackupContext& ctx);
bool RestoreMozilla(jobs::RestoreContext& ctx);

// A path cut after its second backslash from the end: the user folder of a
// Netscape 4 "popstatePath" (C:\Netscape\Users\ann\mail\popstate.dat gives
// C:\Netscape\Users\ann\), and the users folder of that (C:\Netscape\Users\).
// With fewer than two backslashes, the first c characters, c being the number of
// backslashes found.
std::string CutTwoLevels(std::string_view path);
// A Mozilla profile's folder below its profiles folder ("default\k3j4.slt" of
// ...\Mozilla\Profiles\default\k3j4.slt); for a profile kept elsewhere its last
// two levels, the name of the profile and of its own folder. "" when there are
// fewer than two levels.
std::string MozillaProfileBelowProfiles(std::string_view profileFolder);

}  // namespace qb::clients
