// Each client's identities (users, profiles, accounts) as installed on the
// machine, and its fixed list of backup items. The jobs address items by their
// position in these lists, so the order is part of the contract.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalog/client_kind.h"

namespace qb {

// The display names of the backup items.
namespace item {
inline constexpr std::string_view AccountsSettings = "Accounts Settings";
inline constexpr std::string_view MailFolders = "Mail Folders";
inline constexpr std::string_view PersonalStore = "Personal Store";
inline constexpr std::string_view MessageRules = "Message Rules";
inline constexpr std::string_view Filters = "Filters";
inline constexpr std::string_view Signatures = "Signatures";
inline constexpr std::string_view AddressBook = "Address Book";
inline constexpr std::string_view Stationery = "Stationery";
inline constexpr std::string_view Scripts = "Scripts";
inline constexpr std::string_view Favorites = "Favorites";
}  // namespace item

// The client's items in list order; empty for a code without items (0, the
// family codes 7, 8, 9 and codes not in the table).
std::vector<std::string> BackupItems(ClientKind kind);
// Whether the person may choose items one by one; when not, every item is
// always backed up.
bool ItemsSelectable(ClientKind kind);

// The client's identities on this machine, in list order. Listing kind::Mozilla
// also fills MozillaProfilePaths().
std::vector<std::string> ListIdentities(ClientKind kind);

// Appends the client's identities and items to the two lists and returns
// whether items are selectable. Codes without items leave both lists alone and
// return false.
bool ListIdentitiesAndItems(ClientKind kind, std::vector<std::string>& identities,
                            std::vector<std::string>& items);

// The user name of a line of Pegasus Mail's "pmail.usr" (a flag letter, a blank,
// the user name, ";" and the personal name): the text from the third character
// up to the last ";"; a line without ";" is taken whole.
std::string PegasusUserFromLine(std::string_view line);
// The account of a line of Opera 6's accounts list: for a line with "?", the text
// after the last "?" that stands before the line's last character, without the
// line's last two characters (the whole line less its last two characters when
// there is no such "?"); a line without "?" is taken whole.
std::string OperaAccountFromLine(std::string_view line);

}  // namespace qb
