#include "clients/all_clients.h"

#include "clients/eudora.h"
#include "clients/favorites.h"
#include "clients/incredimail.h"
#include "clients/netscape.h"
#include "clients/opera.h"
#include "clients/outlook.h"
#include "clients/outlook_express.h"
#include "clients/pegasus.h"
#include "clients/pocomail.h"
#include "clients/the_bat.h"

namespace qb::clients {

void RegisterAllClients() {
    RegisterOutlookExpress();
    RegisterOutlook();
    RegisterEudora();
    RegisterIncrediMail();
    RegisterPegasus();
    RegisterTheBat();
    RegisterPocoMail();
    RegisterOpera();
    RegisterNetscape();
    RegisterFavorites();
}

}  // namespace qb::clients
