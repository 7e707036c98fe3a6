// The proposed name of a new backup file: the kind's prefix, today's date in the
// user's short date format with every character but the digits replaced by "-",
// and ".ebk" ("OExpressBackup 12-6-2026.ebk").
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "catalog/client_kind.h"

namespace qb {

// Wine's short date format for en-US, used when the user has none.
inline constexpr std::string_view kDefaultShortDate = "M/d/yyyy";

// The user's short date format: "sShortDate" of HKCU\Control Panel\International.
std::string UserShortDateFormat();

// A date in a Windows date picture: d dd ddd dddd, M MM MMM MMMM, y yy yyyy,
// g gg (era), text in single quotes ('' is a quote), everything else as it stands.
// Names are the English ones.
std::string FormatDate(std::string_view picture, std::chrono::year_month_day date);

// The proposed file name for `kind` on `date`; "" for a kind without a prefix.
// A picture that gives no digit at all is replaced by the default one, so the
// name always carries the date.
std::string DefaultBackupFileName(ClientKind kind, std::chrono::year_month_day date);
// The same for today's date on this computer.
std::string DefaultBackupFileName(ClientKind kind);

// The version label as a file name takes it ("6.x/7.x" -> "6.x-7.x"); "" for a
// code without one.
std::string FileNameVersionLabel(ClientKind kind);
// DefaultBackupFileName for today, with the version label and a blank after the
// prefix when `withVersion` ("PocoMailBackup 3.x 12-8-2026.ebk").
std::string BackupFileName(ClientKind kind, bool withVersion);
std::string BackupFileName(ClientKind kind, bool withVersion, std::chrono::year_month_day date);
// The name every new backup of `kind` gets, from the command line and from the
// schedule alike: with the version label exactly when the machine has more than one
// version of the kind's family, so that their backups never share a name; a
// single version keeps the plain name.
std::string BackupFileNameFor(ClientKind kind);

}  // namespace qb
