#include "clients/all_clients.h"

#include "clients/favorites.h"

namespace qb::clients {

void RegisterAllClients() {
    RegisterFavorites();
}

}  // namespace qb::clients
