// Which clients are on the machine: the default mail client, whether a family
// is installed, and which versions of the PocoMail, Opera and Netscape families
// are there. Reads the registry and the file system only; writes nothing.
#pragma once

#include <string>
#include <vector>

#include "catalog/client_kind.h"

namespace qb {

// One version found on the machine: its label ("3.x") and its version code.
struct ClientVersion {
    std::string label;
    ClientKind kind = kind::None;
    friend bool operator==(const ClientVersion&, const ClientVersion&) = default;
};

// The family code (1 to 9) of the system's default mail client, 0 when it is
// none of them. Favorites (10) is never the answer.
ClientKind DefaultMailClient();

// Whether family 1 to 10 is on the machine; false for any other code.
bool IsClientInstalled(ClientKind family);

// The versions of family 7, 8 or 9 found on the machine, in a fixed order (at
// most three); empty for any other code.
std::vector<ClientVersion> InstalledVersions(ClientKind family);

}  // namespace qb
