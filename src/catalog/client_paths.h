// Where the clients keep their data, read from the registry of the current user
// and the machine. The catalog lists identities from these places and the
// adapters back them up from the same ones, so both read them here. A value
// that is missing gives "" (never a path at the root of a drive).
#pragma once

#include <string>

#include "catalog/client_kind.h"

namespace qb {

// The user's application data folder: "AppData" of the Shell Folders key.
std::string AppDataFolder();
// The profile registry of Netscape 6/7 and Mozilla: AppData + "\Mozilla\registry.dat";
// "" without an application data folder.
std::string MozillaRegistryFile();

// Pegasus Mail's mailbox path (default value of the "MailBox" key) and its base
// folder, the folder that holds the mailbox folder and "pmail.usr": the mailbox
// path cut at its last backslash. A trailing backslash of the mailbox path is
// not taken as that cut ("C:\PMAIL\MAIL\" has the base "C:\PMAIL"); a path
// without a backslash is its own base.
std::string PegasusMailboxPath();
std::string PegasusBaseFolder();
// Pegasus Mail's user mode: the default value of the "Username" key.
std::string PegasusUserMode();

// The PocoMail folder of version code 72, 73 or 720; "" for other codes.
std::string PocoFolder(ClientKind version);

// Opera 6's program folder: the folder part (up to and including the last
// backslash or colon) of "Last CommandLine". A command line that begins with a
// double quote gives the folder of the quoted program path.
std::string OperaFolder();
// Opera 7's folder: AppData + "\Opera\Opera7"; "" without an application data folder.
std::string Opera7Folder();

}  // namespace qb
