#include "catalog/installed.h"

#include "catalog/detection.h"
#include "catalog/identities.h"
#include "catalog/kinds.h"
#include "catalog/reads.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace qb {

namespace {

bool favoritesHoldSomething() {
    const std::string folder = catalog::readText(
        platform::RootKey::CurrentUser,
        "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Favorites");
    if (folder.empty() || !platform::directoryExists(folder)) return false;
    for (const platform::SearchRec& r : platform::findFiles(
             platform::includeTrailingBackslash(folder) + "*.*", platform::faAnyFile))
        if (r.name != "." && r.name != "..") return true;
    return false;
}

}  // namespace

bool ClientInstalledForBackup(ClientKind kind) {
    const ClientKind family = familyOf(kind);
    if (family == kind::None || !hasBackups(kind)) return false;
    if (kind == kind::Favorites) return favoritesHoldSomething();
    if (!IsClientInstalled(family)) return false;
    if (isVersionCode(kind)) {
        bool found = false;
        for (const ClientVersion& v : InstalledVersions(family))
            if (v.kind == kind) found = true;
        if (!found) return false;
    }
    return !ListIdentities(kind).empty();
}

}  // namespace qb
