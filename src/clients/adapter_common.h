// Small pieces the Outlook and Eudora adapters share (beside the helpers of
// adapter_support.h): full paths, whole text files, staging files, item names.
#pragma once

#include <string>
#include <string_view>

#include "catalog/client_kind.h"

namespace qb::clients {

// A full path of a folder or file: "X:\something" whose levels are all safe names
// (jobs::IsSafeRelativeName). A drive's root, a relative path and "" are not.
bool IsFullPath(std::string_view path);

// Writes `text` as the whole content of the file (replacing it).
bool WriteTextFile(std::string_view winPath, std::string_view text);
// Removes a file of the staging folder, so that a file written there anew never
// keeps an older one's content.
void DeleteStagingFile(std::string_view name);

// The display name of item `index` of the kind: the selection's when it has that
// entry, else the catalog's.
std::string ItemName(const Selection& items, int index, ClientKind kind);

}  // namespace qb::clients
