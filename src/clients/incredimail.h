// IncrediMail (client code 4): per-identity settings and folders, and the shared
// stationery content, backed up and restored into the client or into a folder.
#pragma once

namespace qb::clients {

// Registers the backup and both restores of IncrediMail with the job frames.
void RegisterIncrediMail();

}  // namespace qb::clients
