// Command-line runs: "/b" backs up named clients into a folder, "/r" restores a
// backup file, "/auto" runs the scheduled backups, "/uninstall" cleans up, "/o"
// opens a backup file in the main window.
#pragma once

#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/client_kind.h"

namespace qb::app {

// What the program does after a command-line run.
struct CommandLineResult {
    bool terminate = true;  // false: the main window stays ("/o")
    // Something requested did not happen: a backup or restore failed, was skipped
    // because its client runs, or the command was invalid. The exit status is 1.
    bool failed = false;
    std::string openBackupFile;  // "/o": the backup file the main window opens
};

// Options of a command-line run that are not switches.
struct CommandLineOptions {
    // A direct restore first backs up the client's current data (--no-undo: not).
    bool undo = true;
    // Progress lines also when standard error is no terminal (--verbose).
    bool verbose = false;
};

// Takes "--no-undo" and "--verbose" out of the parameters into `options`.
std::vector<std::string> TakeOptions(const std::vector<std::string>& params,
                                     CommandLineOptions& options);

// Carries out the switches of the command line. `params` are the parameters after
// the program name; "--no-undo" and "--verbose" among them count as `options`. One line per client
// goes to `out` (what was backed up or restored where, or why not); message boxes, notes and error
// texts go to stderr, and so does progress: on a terminal one line per client updated in place,
// elsewhere nothing unless `options.verbose`.
CommandLineResult RunCommandLine(const std::vector<std::string>& params,
                                 std::ostream& out = std::cout,
                                 const CommandLineOptions& options = {});

// The client keywords of "/c:", in the order they are tested.
struct ClientKeyword {
    std::string_view keyword;
    ClientKind kind;
};
std::span<const ClientKeyword> ClientKeywords();
// The codes named by a client value (lower case): each keyword that occurs in it,
// in table order, so "thebat,eudora" gives Eudora before The Bat. Family codes 7,
// 8 and 9 stand as they are.
std::vector<ClientKind> KindsNamedBy(std::string_view clientValue);

// A folder or file as the command line gives it, as a Windows path: a path of this
// computer ("/...", "./...", "../...") becomes that path on the machine's drives
// (Z: unless a drive of the prefix holds it); anything else is taken as written.
std::string CommandLinePath(std::string_view text);
// Whether CommandLinePath takes the text as a path of this computer.
bool IsHostPath(std::string_view text);

// The version codes a family keyword backs up: every installed version of the
// family; the code itself for any other client.
std::vector<ClientKind> BackupKindsFor(ClientKind kind);
// BackupFileName: DefaultBackupFileName with the version label after the prefix
// when `withVersion`. Backups themselves are named by BackupFileNameFor, which
// decides by the versions installed.
std::string CommandLineBackupName(ClientKind kind, bool withVersion);

}  // namespace qb::app
