// The two demo machines: "data", the machine of a user whose ten clients hold
// mail, address books, rules, signatures and stationery, and "empty", another
// user's machine with the same clients installed in other folders and none of
// that data. The folders of both are fixed here, so that the maker lays them
// out and the checker finds them.
#pragma once

#include <string>
#include <vector>

#include "testkit/testkit.h"

namespace qb::demo {

// The folders of one demo machine that differ between the two roles; the
// user's own folders follow from its user name.
struct DemoFolders {
    std::string user;
    bool data = false;
    std::string eudora;                // Eudora's data folder
    std::string incrediContent;        // IncrediMail's common content folder
    std::string pegasus;               // Pegasus Mail's base folder
    std::string theBat;                // The Bat!'s working folder
    std::string poco2, poco3, pocoPE;  // PocoMail folders by version
    std::string opera6;                // Opera 6's program folder, no trailing backslash
    std::string stationery;            // Outlook Express' stationery folder
};
DemoFolders demoFolders(const std::string& user, bool data);

// Messages per mail file: the demo's few hundred messages, or a handful for tests.
constexpr int kDemoMessages = 4;
constexpr int kSmallDemoMessages = 1;

// Lays out every client with the user's data on the current machine `m`.
void makeDataMachine(const test::FakeMachine& m, int messagesPerFile);
// Installs every client on `m` in the empty machine's folders, without data.
void makeEmptyMachine(const test::FakeMachine& m);

}  // namespace qb::demo
