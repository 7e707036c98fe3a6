// Registry pieces shared inside the platform layer and its tools.
#pragma once

#include <filesystem>
#include <optional>

namespace qb::platform {

// The process id of the Wine server that runs for the prefix, if one does. While it
// runs it holds the registry in memory and writes it back over any change made here.
std::optional<long> wineServerProcess(const std::filesystem::path& prefix);

}  // namespace qb::platform
