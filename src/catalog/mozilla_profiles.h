// The profile folders of Netscape 6/7 and Mozilla. Listing the identities of
// kind::Mozilla finds them in the profile registry and keeps them here for the
// program's lifetime; the backup of that client looks up the folder of its k-th
// identity here, so the listing must have run before it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace qb {

class ProfilePathTable {
  public:
    // Entry k, counted from 1; "" when there is no such entry.
    std::string path(int k) const;
    int count() const;
    std::vector<std::string> paths() const;
    // Replaces the whole table (the previous listing's entries go).
    void assign(std::vector<std::string> paths);
    void clear() { assign({}); }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> paths_;
};

// The one table of the process. It holds every path of the last listing, as
// many as the profile registry names, so that entry k always belongs to identity k.
ProfilePathTable& MozillaProfilePaths();

// Finds the profile paths in the bytes of a profile registry ("registry.dat").
// The registry stores each profile's folder as an entry named "directory"
// followed by its NUL byte and the path, NUL-terminated; the scan looks for the
// nine bytes "directory" (exact case), skips the one byte after them and takes
// the bytes up to the next NUL (or the end) as a path. A partial match broken by
// a byte starts over, and that byte does not begin a new match. A match with no
// path text after it gives no path. `afterEach` runs after every path found.
std::vector<std::string> ScanMozillaRegistry(std::span<const uint8_t> bytes,
                                             const std::function<void()>& afterEach = {});

// The identity of a profile path: the name of the folder that holds the
// profile's own folder (the text between the last two backslashes); "" for a
// path with fewer than two backslashes.
std::string MozillaProfileName(std::string_view path);

}  // namespace qb
