#include "clients/all_clients.h"

#include "clients/incredimail.h"
#include "clients/pegasus.h"

namespace qb::clients {

void RegisterAllClients() {
    RegisterIncrediMail();
    RegisterPegasus();
}

}  // namespace qb::clients
