// The table of client kinds: what each code is called, which family it belongs
// to, the key a backup's manifest names it by, and the prefix of the proposed
// backup file name.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "catalog/client_kind.h"

namespace qb {

struct KindInfo {
    ClientKind code = kind::None;
    // The family entry of the client list (1 to 10) a code belongs to; a family
    // code is its own family.
    ClientKind family = kind::None;
    std::string_view name;            // the client as a person calls it: "PocoMail 2 PE"
    std::string_view treeLabel;       // the client tree's label; "" for version codes
    std::string_view wizardLabel;     // the wizard's client page label; "" for version codes
    std::string_view manifestKey;     // "EmailClient" of a backup's manifest; "" for 7, 8, 9
    std::string_view fileNamePrefix;  // ends in one blank; "" for 7, 8, 9
    std::string_view versionLabel;    // label of a version found on the machine
};

// Every code, families first (in the order of the client list), then versions.
std::span<const KindInfo> allKinds();
// The entry of a code; nullptr for a code that is not in the table.
const KindInfo* findKind(ClientKind code);

bool isFamilyCode(ClientKind code);   // 1 to 10
bool isVersionCode(ClientKind code);  // 72, 73, 720, 86, 87, 94, 967
// The family of a code (72 -> 7, 3 -> 3); 0 for a code not in the table.
ClientKind familyOf(ClientKind code);
// The version codes of family 7, 8 or 9 in table order; empty for any other code.
std::vector<ClientKind> versionsOf(ClientKind family);
// Whether backups and restores exist for the code: 1 to 6, 10 and the version codes.
bool hasBackups(ClientKind code);

std::string_view manifestKey(ClientKind code);     // "" for a code without one
std::string_view fileNamePrefix(ClientKind code);  // "" for a code without one
// The code a backup's manifest key names: exact, case-sensitive equality; 0 when
// no code has that key (the empty key included).
ClientKind kindFromManifestKey(std::string_view key);

}  // namespace qb
