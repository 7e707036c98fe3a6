#include "clients/all_clients.h"

#include "clients/outlook_express.h"

namespace qb::clients {

void RegisterAllClients() {
    RegisterOutlookExpress();
}

}  // namespace qb::clients
