#include "clients/all_clients.h"

#include "clients/eudora.h"
#include "clients/outlook.h"

namespace qb::clients {

void RegisterAllClients() {
    RegisterOutlook();
    RegisterEudora();
}

}  // namespace qb::clients
