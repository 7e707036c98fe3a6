// Microsoft Outlook (client code 2): its application data folders, its first mail
// profile with the personal store files the profile names, the Office keys and
// the signatures, into a backup file and back.
//
// Names inside the backup file:
//   infobak.ini          manifest; Directory Dir1/Dir2 = the backed-up user's
//                        application data and local application data folders
//   app\...              AppData\Microsoft\Outlook (every entry)
//   local\...            Local AppData\Microsoft\Outlook (every entry)
//   setting.reg          the mail profile
//   setting2.reg, accounts1.reg, accounts2.reg   the Office and Outlook keys
//   Others\Dir<n>\...    personal store files kept outside the user's folders
//   Others.ini           Directory Dir<n> = the folder each Dir<n> came from
//   Signatures\...       the Office signatures folder
#pragma once

#include <string>

#include "jobs/backup_job.h"
#include "jobs/restore_job.h"
#include "platform/registry.h"

namespace qb::clients {

// Registers the backup and both restores for kind::Outlook.
void RegisterOutlook();

void BackupOutlook(jobs::BackupContext& ctx);
// Both return the job's error flag.
bool RestoreOutlook(jobs::RestoreContext& ctx);
bool RestoreOutlookToFolder(jobs::RestoreContext& ctx);

// The path a profile service's store value ("001e6700") holds: text, or binary
// data holding ANSI (Windows-1252) or UTF-16LE text up to its terminating NUL.
// "" for a missing value or another type.
std::string StorePathFromValue(const platform::RegValue& value);

}  // namespace qb::clients
