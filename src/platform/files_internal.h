// Helpers shared by the file and INI code of the platform layer; not for other layers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb::platform::detail {

// A findFiles mask, translated once into the DOS wildcard form Windows matches
// names with: "*" before a "." matches up to the name's last dot only, "?" also
// matches nothing before a dot or at the end, and a "." before a wildcard or at
// the end also matches the end of a name. That gives "*.*" every name, "*." the
// names without a dot and "a?.txt" also "a.txt".
class NameMask {
  public:
    explicit NameMask(std::string_view mask);
    bool matches(std::string_view name) const;
    bool hasWildcards() const { return kind_ != Kind::Literal; }

  private:
    enum class Kind { All, Literal, Suffix, General };
    Kind kind_ = Kind::General;
    std::string text_;            // Literal: the name; Suffix: the ASCII tail after "*"
    std::vector<char32_t> expr_;  // General: folded characters and wildcard codes
};

// A key that two names share exactly when sameName holds for them.
std::string nameKey(std::string_view name);

// Records the reason returned by lastFileError(); returns false for `return fail(...)`.
bool fail(std::string message);
// "<what> <winPath>: <strerror(err)>".
bool failErrno(std::string_view what, std::string_view winPath, int err);

// Host path of a Windows path, or a recorded error naming it.
std::optional<std::string> hostOrFail(std::string_view winPath);

// Replaces the file at `host` with `bytes` through a temporary file in the same
// folder and a rename, so readers see the old or the new content, never a mix.
// Keeps the permission bits of a file it replaces; writes through symbolic links.
bool replaceFileAtomically(const std::string& host, std::string_view bytes,
                           std::string_view winPath);

}  // namespace qb::platform::detail
