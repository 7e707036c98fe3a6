// Outlook Express (client code 1): backup, restore into the client and restore
// into a folder.
//
// Inside a backup, per identity with display name N and identity key G:
//   N\identity.reg, N\identity2.reg, N\settings.reg, N\settings2.reg   always
//   N\accounts.reg, N\accounts2.reg                                     "Accounts Settings"
//   G\<every entry of the identity's store folder>                      "Mail Folders"
//   N\signatures.reg                                                    "Signatures"
//   N\rules.reg, N\blockedsender.reg                                    "Message Rules"
// once for the user:
//   address.reg, Address Book\<entries of the address book's folder>    "Address Book"
//   Stationery\<entries of the stationery folder>                       "Stationery"
// and at the root infobak.ini (with a Directory section: Item<k> = G of the
// k-th listed identity), others.ini (Directory: Item<k> = its "Store Root" as
// stored, variables unexpanded) and stationery.ini (Directory: Stationery).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "jobs/backup_job.h"
#include "jobs/restore_job.h"

namespace qb::clients {

// Registers the backup and both restores for code 1.
void RegisterOutlookExpress();

// The three operations (what the registration installs).
void BackupOutlookExpress(jobs::BackupContext& ctx);
bool RestoreOutlookExpress(jobs::RestoreContext& ctx);
bool RestoreOutlookExpressToFolder(jobs::RestoreContext& ctx);

namespace oe {

// The folders the variables of stored paths stand for, derived from the current
// machine. All without a trailing backslash.
struct Folders {
    std::string appData;       // "AppData" of the user's Shell Folders; "" when missing
    std::string profile;       // appData up to its third backslash
    std::string systemDrive;   // appData up to its first backslash ("C:")
    std::string programFiles;  // the machine's program files folder
    std::string windows;       // the Windows folder
};
Folders DeriveFolders();

// Replaces %UserProfile%, %SystemDrive%, %ProgramFiles% and %SystemRoot% (in
// this order, any letter case, first occurrence each) by their folders.
std::string ExpandVariables(std::string_view text, const Folders& folders);

// The identities of the current user: key name below HKCU\identities and its
// "Username", in registry order.
struct IdentityEntry {
    std::string key;
    std::string username;
};
std::vector<IdentityEntry> ReadIdentityTable();

// Deletes HKCU\identities\<key>, with everything below it, of every entry of
// `table` whose username equals `name` exactly.
void DeleteIdentitiesNamed(const std::vector<IdentityEntry>& table, std::string_view name);

}  // namespace oe

}  // namespace qb::clients
