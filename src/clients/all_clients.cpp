#include "clients/all_clients.h"

#include "clients/eudora.h"
#include "clients/outlook.h"
#include "clients/outlook_express.h"

namespace qb::clients {

void RegisterAllClients() {
    RegisterOutlookExpress();
    RegisterOutlook();
    RegisterEudora();
}

}  // namespace qb::clients
