// Whether a client has anything on this machine that a backup could take. The
// command line and the windows refuse a backup of a client that has not.
#pragma once

#include "catalog/client_kind.h"

namespace qb {

// True when the client is on the machine and its listing names at least one
// identity. A version code counts when its family is installed and that version
// is among the installed ones. Favorites counts when the user's Favorites folder
// exists and holds at least one entry: it is on every machine, but an empty or
// missing folder holds nothing to keep.
bool ClientInstalledForBackup(ClientKind kind);

}  // namespace qb
