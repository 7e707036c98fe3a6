// What the demo checker compares for each client: the folders whose files must
// come back (machine A's folder and the folder the restore fills on machine B),
// the registry keys, and the paths the restore rewrites in values and files.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace qb::demo {

struct Tree {
    Tree(std::string onA, std::string onB, std::vector<std::string> onlyNames = {},
         std::vector<std::string> skipNames = {}, bool withSubFolders = true)
        : a(std::move(onA)),
          b(std::move(onB)),
          only(std::move(onlyNames)),
          skip(std::move(skipNames)),
          recursive(withSubFolders) {}
    std::string a, b;               // Windows folders on machine A and on machine B
    std::vector<std::string> only;  // relative names taken (wildcards; empty: all)
    std::vector<std::string> skip;  // relative names left out (wildcards)
    bool recursive = true;
};

struct Key {
    platform::RootKey root;
    std::string a, b;  // key paths on machine A and on machine B
    bool subkeys = true;
};

// A path of machine A that the restore replaces by one of machine B.
struct PathMap {
    std::string from, to;
};

struct ClientCheck {
    std::string name;
    std::string backupPrefix;  // the backup file's name up to its date
    std::vector<Tree> trees;
    std::vector<Key> keys;
    std::vector<PathMap> rewrites;
};

// The checks of the demo machines: A of user `userA` with the data, B of user
// `userB` restored from A's backups.
std::vector<ClientCheck> demoChecks(const std::string& userA, const std::string& userB);

}  // namespace qb::demo
