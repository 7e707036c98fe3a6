// Fixtures for demo machines: generated mail of any volume, and clients that are
// installed (registered, their folders named) but hold no data of the user yet.
// They complement the installers of clients_fixture.h, which lay out one realistic
// installation each.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "testkit/clients_fixture.h"
#include "testkit/testkit.h"

namespace qb::test {

// `count` generated messages in mbox form (a "From " line, headers, a body of a
// few lines), different for every folder and owner, the same on every run.
std::string generatedMailbox(std::string_view folder, std::string_view owner, int count);

// A client's binary mail store holding `count` generated messages: a small
// header naming the store, then the messages.
std::string generatedStore(std::string_view folder, std::string_view owner, int count);

// Replaces the content of each mail file by `count` generated messages: text
// mailboxes for the clients that keep mbox files, binary stores otherwise.
enum class MailForm { Text, Binary };
void fillMailFiles(const FakeMachine& m, const std::vector<std::string>& files,
                   std::string_view owner, int count, MailForm form);

// ---- installed, but without the user's data -----------------------------------
// Each registers the client and writes the registry values that tell where the
// client keeps its data (the folders given), and creates no identity, user,
// profile, mailbox, address book or signature.

// The stationery folder value (with its trailing backslash) and an empty
// identities key.
void installEmptyOutlookExpress(const FakeMachine& m, const std::string& stationeryFolder);
// The Office version's signatures folder name, no mail profile.
void installEmptyOutlook(const FakeMachine& m, const std::string& officeVersion = "10.0");
// Eudora's command line naming `folder` as its data folder.
void installEmptyEudora(const FakeMachine& m, const std::string& folder);
// Per-user IncrediMail: the application folder below Local AppData and the
// common content folder `contentFolder`, no identity.
void installEmptyIncrediMail(const FakeMachine& m, const std::string& contentFolder);
// Pegasus Mail with its base folder, in multi-user mode with an empty user list.
void installEmptyPegasus(const FakeMachine& m, const std::string& baseFolder);
// The Bat! with its working folder and no user in its users depot.
void installEmptyTheBat(const FakeMachine& m, const std::string& workingFolder);
// PocoMail of `version` (kind::PocoMail2, 3 or 2PE) in `folder`, no data.
void installEmptyPocoMail(const FakeMachine& m, int32_t version, const std::string& folder);
// Opera 6 in `programFolder` (no trailing backslash) and Opera 7 of the user.
void installEmptyOpera(const FakeMachine& m, const std::string& programFolder);
// Netscape 4 in its program folder, no user; Mozilla with a profile registry
// holding no profile.
void installEmptyNetscape(const FakeMachine& m);

}  // namespace qb::test
