#include "clients/all_clients.h"

#include "clients/favorites.h"
#include "clients/netscape.h"
#include "clients/opera.h"

namespace qb::clients {

void RegisterAllClients() {
    RegisterFavorites();
    RegisterOpera();
    RegisterNetscape();
}

}  // namespace qb::clients
