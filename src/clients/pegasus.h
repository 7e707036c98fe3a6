// Pegasus Mail (client code 5): each chosen user's mail folder, the user list and
// the installation's user mode, backed up and restored into the client or into a
// folder.
#pragma once

namespace qb::clients {

// Registers the backup and both restores of Pegasus Mail with the job frames.
void RegisterPegasus();

}  // namespace qb::clients
