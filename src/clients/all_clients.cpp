#include "clients/all_clients.h"

#include "clients/pocomail.h"
#include "clients/the_bat.h"

namespace qb::clients {

void RegisterAllClients() {
    RegisterTheBat();
    RegisterPocoMail();
}

}  // namespace qb::clients
