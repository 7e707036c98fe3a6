// Registration of every client adapter with the backup and restore job frames.
#pragma once

namespace qb::clients {

// Once at program start, before the first backup or restore.
void RegisterAllClients();

}  // namespace qb::clients
