#include "catalog/mozilla_profiles.h"

#include <string_view>

namespace qb {

std::string ProfilePathTable::path(int k) const {
    std::lock_guard lock(mutex_);
    if (k < 1 || static_cast<size_t>(k) > paths_.size()) return {};
    return paths_[static_cast<size_t>(k) - 1];
}

int ProfilePathTable::count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(paths_.size());
}

std::vector<std::string> ProfilePathTable::paths() const {
    std::lock_guard lock(mutex_);
    return paths_;
}

void ProfilePathTable::assign(std::vector<std::string> paths) {
    std::lock_guard lock(mutex_);
    paths_ = std::move(paths);
}

ProfilePathTable& MozillaProfilePaths() {
    static ProfilePathTable table;
    return table;
}

std::vector<std::string> ScanMozillaRegistry(std::span<const uint8_t> bytes,
                                             const std::function<void()>& afterEach) {
    static constexpr std::string_view kEntryName = "directory";
    std::vector<std::string> paths;
    size_t matched = 0;
    size_t i = 0;
    while (i < bytes.size()) {
        const char c = static_cast<char>(bytes[i++]);
        if (c != kEntryName[matched]) {
            matched = 0;
            continue;
        }
        if (++matched < kEntryName.size()) continue;
        matched = 0;
        if (i < bytes.size()) ++i;  // the name's terminating NUL
        const size_t start = i;
        while (i < bytes.size() && bytes[i] != 0)
            ++i;
        if (i > start)
            paths.emplace_back(reinterpret_cast<const char*>(bytes.data()) + start, i - start);
        if (i < bytes.size()) ++i;  // the path's terminating NUL
        if (i > start && afterEach) afterEach();
    }
    return paths;
}

std::string MozillaProfileName(std::string_view path) {
    const size_t last = path.rfind('\\');
    if (last == std::string_view::npos || last == 0) return {};
    const size_t before = path.rfind('\\', last - 1);
    if (before == std::string_view::npos) return {};
    return std::string(path.substr(before + 1, last - before - 1));
}

}  // namespace qb
