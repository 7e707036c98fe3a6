// Files and folders of the emulated machine: Windows paths mapped onto the
// prefix's drives, Windows search semantics on top of readdir.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <system_error>
#include <unordered_map>

#include "platform/files_internal.h"
#include "platform/machine.h"
#include "platform/paths.h"

namespace qb::platform {

namespace fs = std::filesystem;

namespace {

thread_local std::string tlsError;

std::string errnoText(int err) {
    return std::generic_category().message(err);
}

bool isSep(char c) {
    return c == '\\' || c == '/';
}

char lowerLetter(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Characters Windows refuses in names; ":" would name an alternate data stream.
bool validComponent(std::string_view c) {
    for (char ch : c) {
        const auto u = static_cast<unsigned char>(ch);
        if (u < 0x20 || ch == '<' || ch == '>' || ch == ':' || ch == '"' || ch == '|' ||
            ch == '?' || ch == '*')
            return false;
    }
    return true;
}

// A Windows path taken apart: its drive and its components after "." and ".."
// were applied lexically (as Windows does before a path reaches the file system).
struct WinPath {
    char drive = 0;  // lower-case letter
    std::vector<std::string_view> parts;
};

std::optional<WinPath> parseWinPath(std::string_view p) {
    WinPath w;
    // "\\?\C:\..." is the long-path spelling of "C:\...".
    if (p.size() >= 4 && isSep(p[0]) && isSep(p[1]) && p[2] == '?' && isSep(p[3]))
        p.remove_prefix(4);
    if (p.size() >= 2 && p[1] == ':' && isLetter(p[0])) {
        if (p.size() > 2 && !isSep(p[2])) return std::nullopt;  // relative to the drive's cwd
        w.drive = lowerLetter(p[0]);
        p.remove_prefix(2);
    } else if (!p.empty() && isSep(p[0])) {
        if (p.size() >= 2 && isSep(p[1])) return std::nullopt;  // UNC
        w.drive = 'c';
    } else {
        return std::nullopt;
    }
    size_t i = 0;
    while (i < p.size()) {
        while (i < p.size() && isSep(p[i]))
            ++i;
        size_t j = i;
        while (j < p.size() && !isSep(p[j]))
            ++j;
        const std::string_view c = p.substr(i, j - i);
        i = j;
        if (c.empty() || c == ".") continue;
        if (c == "..") {
            if (!w.parts.empty()) w.parts.pop_back();
            continue;
        }
        w.parts.push_back(c);
    }
    // Windows trims trailing dots and spaces from the last component of a path
    // that does not end in a separator ("C:\Mail\Inbox." opens "Inbox").
    if (!p.empty() && !isSep(p.back()) && !w.parts.empty()) {
        std::string_view& last = w.parts.back();
        while (!last.empty() && (last.back() == '.' || last.back() == ' '))
            last.remove_suffix(1);
        if (last.empty()) w.parts.pop_back();
    }
    for (std::string_view c : w.parts)
        if (!validComponent(c)) return std::nullopt;
    return w;
}

std::string dosdevices() {
    return Machine::current().prefix().string() + "/dosdevices/";
}

// Host folder a drive letter maps to, from the prefix's dosdevices link (read each
// time: the user may remap drives while we run). No trailing slash except for "/".
std::optional<std::string> readDriveRoot(char letter);

// The listings and drive mappings kept while a FolderListingCache lives.
struct ListingCache {
    // Host folder -> (name key -> the byte-wise first name with that key).
    std::unordered_map<std::string, std::unordered_map<std::string, std::string>> folders;
    std::array<std::optional<std::optional<std::string>>, 26> drives;
};
thread_local ListingCache* tCache = nullptr;
thread_local int tCacheDepth = 0;

std::optional<std::string> driveRoot(char letter) {
    letter = lowerLetter(letter);
    if (letter < 'a' || letter > 'z') return std::nullopt;
    if (!tCache) return readDriveRoot(letter);
    auto& slot = tCache->drives[static_cast<size_t>(letter - 'a')];
    if (!slot) slot = readDriveRoot(letter);
    return *slot;
}

std::optional<std::string> readDriveRoot(char letter) {
    const std::string dd = dosdevices();
    const std::string link = dd + letter + ':';
    std::array<char, PATH_MAX> buf;
    const ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size());
    if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return std::nullopt;
    const std::string target(buf.data(), static_cast<size_t>(n));
    fs::path t = target.front() == '/' ? fs::path(target) : fs::path(dd) / target;
    std::string s = t.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

void appendComponent(std::string& host, std::string_view c) {
    if (host.empty() || host.back() != '/') host += '/';
    host += c;
}

// The entry of `dir` whose name equals `name` without regard to case. When
// several do (Linux allows "Mail" and "mail" side by side) the byte-wise first wins.
std::optional<std::string> scanNoCase(const std::string& dir, std::string_view name) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return std::nullopt;
    std::optional<std::string> best;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view n(e->d_name);
        if (n == "." || n == "..") continue;
        if (sameName(n, name) && (!best || n < *best)) best = std::string(n);
    }
    ::closedir(d);
    return best;
}

void keepName(std::unordered_map<std::string, std::string>& listing, std::string_view name) {
    auto [it, added] = listing.try_emplace(detail::nameKey(name), name);
    if (!added && name < it->second) it->second = std::string(name);
}

// The kept listing of `dir`, read now when it is not kept yet; null when the
// folder cannot be read.
std::unordered_map<std::string, std::string>* keptListing(const std::string& dir, bool reread) {
    auto it = tCache->folders.find(dir);
    if (it != tCache->folders.end() && !reread) return &it->second;
    DIR* d = ::opendir(dir.c_str());
    if (!d) {
        if (it != tCache->folders.end()) tCache->folders.erase(it);
        return nullptr;
    }
    std::unordered_map<std::string, std::string> listing;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view n(e->d_name);
        if (n != "." && n != "..") keepName(listing, n);
    }
    ::closedir(d);
    auto& slot = tCache->folders[dir];
    slot = std::move(listing);
    return &slot;
}

std::optional<std::string> findNoCase(const std::string& dir, std::string_view name) {
    if (!tCache) return scanNoCase(dir, name);
    const std::string key = detail::nameKey(name);
    for (bool reread : {false, true}) {
        auto* listing = keptListing(dir, reread);
        if (!listing) return std::nullopt;
        auto it = listing->find(key);
        if (it == listing->end()) return std::nullopt;
        // A kept name may have gone since: one look settles it, and a stale
        // listing is read again once.
        struct stat st;
        const std::string path = dir == "/" ? "/" + it->second : dir + "/" + it->second;
        if (::lstat(path.c_str(), &st) == 0) return it->second;
    }
    return std::nullopt;
}

std::string parentOfHost(const std::string& host) {
    const size_t slash = host.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : host.substr(0, slash);
}

// Records that `host` exists now; with `emptyFolder`, that it is a folder just
// created, so its listing is known without reading it.
void noteCreated(const std::string& host, bool emptyFolder) {
    if (!tCache || host.empty() || host.front() != '/') return;
    if (emptyFolder) tCache->folders[host];
    std::string path = host;
    while (path.size() > 1) {
        const std::string parent = parentOfHost(path);
        auto it = tCache->folders.find(parent);
        if (it != tCache->folders.end()) keepName(it->second, path.substr(path.rfind('/') + 1));
        path = parent;
    }
}

void noteRemoved(const std::string& host) {
    if (!tCache) return;
    tCache->folders.erase(host);
    const size_t slash = host.rfind('/');
    if (slash == std::string::npos) return;
    auto it = tCache->folders.find(parentOfHost(host));
    if (it == tCache->folders.end()) return;
    const std::string name = host.substr(slash + 1);
    auto entry = it->second.find(detail::nameKey(name));
    if (entry != it->second.end() && entry->second == name) it->second.erase(entry);
}

struct Resolved {
    std::string host;     // host path, components joined with "/"
    size_t existing = 0;  // how many leading components exist on disk
    size_t count = 0;     // components in all
    bool complete() const { return existing == count; }
};

// Maps a parsed path onto the host. Existing components take their on-disk
// spelling; the first missing one and all after it keep the spelling written.
std::optional<Resolved> resolve(const WinPath& w) {
    std::optional<std::string> root = driveRoot(w.drive);
    if (!root) return std::nullopt;
    Resolved r;
    r.host = std::move(*root);
    r.count = w.parts.size();
    const size_t rootLen = r.host.size();
    // Most paths are spelt as on disk: one stat settles them.
    for (std::string_view c : w.parts)
        appendComponent(r.host, c);
    struct stat st;
    if (w.parts.empty() || ::stat(r.host.c_str(), &st) == 0) {
        r.existing = r.count;
        return r;
    }
    // Most of the rest are new names in a folder spelt as on disk: the parent
    // settles all but the last component.
    if (w.parts.size() > 1) {
        const size_t cut = r.host.rfind('/');
        const std::string parent = r.host.substr(0, cut);
        if (::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            const std::string_view last = w.parts.back();
            r.existing = r.count - 1;
            if (::lstat(r.host.c_str(), &st) == 0) {
                r.existing = r.count;
            } else if (std::optional<std::string> found = findNoCase(parent, last)) {
                r.host.resize(cut);
                appendComponent(r.host, *found);
                r.existing = r.count;
            }
            return r;
        }
    }
    r.host.resize(rootLen);
    bool missing = false;
    for (std::string_view c : w.parts) {
        const size_t base = r.host.size();
        appendComponent(r.host, c);
        if (missing) continue;
        if (::lstat(r.host.c_str(), &st) == 0) {
            ++r.existing;
            continue;
        }
        const std::string dir = r.host.substr(0, base);  // the drive root is never empty
        if (std::optional<std::string> found = findNoCase(dir, c)) {
            r.host.resize(base);
            appendComponent(r.host, *found);
            ++r.existing;
        } else {
            missing = true;
        }
    }
    return r;
}

// Opens a folder to list it: straight through the drive's dosdevices link when
// the path is spelt as on disk (no readlink, no stat), else by resolving it.
int openFolder(const WinPath& w) {
    std::string direct = dosdevices();
    direct += w.drive;
    direct += ':';
    for (std::string_view c : w.parts)
        appendComponent(direct, c);
    const int fd = ::open(direct.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || (errno != ENOENT && errno != ENOTDIR)) return fd;
    std::optional<Resolved> r = resolve(w);
    if (!r || !r->complete()) return -1;
    return ::open(r->host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::optional<Resolved> resolvePath(std::string_view winPath) {
    std::optional<WinPath> w = parseWinPath(winPath);
    if (!w) return std::nullopt;
    return resolve(*w);
}

bool readOnlyMode(mode_t mode) {
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

SearchRec makeRecord(std::string_view name, const struct stat& st) {
    SearchRec rec;
    rec.name = name;
    const bool dir = S_ISDIR(st.st_mode);
    rec.attr = dir ? faDirectory : faArchive;
    if (name.size() > 1 && name.front() == '.' && name != "..") rec.attr |= faHidden;
    if (readOnlyMode(st.st_mode)) rec.attr |= faReadOnly;
    rec.size = dir ? 0 : static_cast<uint64_t>(st.st_size);
    rec.lastWrite = static_cast<int64_t>(st.st_mtim.tv_sec);
    return rec;
}

// The attributes an entry must not have to be listed for a request of `attr`:
// FindFirst hides directories, hidden and system entries unless asked for.
uint32_t excludedAttributes(uint32_t attr) {
    return ~attr & (faHidden | faSysFile | faDirectory);
}

bool listable(const struct stat& st) {
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

std::string randomSuffix() {
    thread_local std::mt19937_64 gen{std::random_device{}()};
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string s;
    for (int i = 0; i < 8; ++i)
        s += digits[gen() % (sizeof(digits) - 1)];
    return s;
}

std::string parentOf(const std::string& host) {
    const size_t slash = host.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : host.substr(0, slash);
}

std::string baseOf(const std::string& host) {
    const size_t slash = host.rfind('/');
    return slash == std::string::npos ? host : host.substr(slash + 1);
}

// Creates a hidden temporary file next to `host`; its name goes to `tmp`. Those
// that runs which died left for the same file go first.
int createTempBeside(const std::string& host, std::string& tmp) {
    const std::string dir = parentOf(host);
    const std::string start = "." + baseOf(host) + ".qbtmp-";
    removeStaleTemporaries(dir, start);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tmp = dir + "/" + start + std::to_string(::getpid()) + "-" + randomSuffix();
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Copies the rest of `in` to `out`: in the kernel where it can, else through a buffer.
bool copyData(int in, int out) {
    bool kernel = true;
    for (;;) {
        if (kernel) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
            if (n > 0) continue;
            if (n == 0) return true;
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
                errno != EBADF && errno != EPERM)
                return false;
            kernel = false;
        }
        static constexpr size_t kChunk = 1 << 20;
        std::vector<char> buf(kChunk);
        for (;;) {
            const ssize_t n = ::read(in, buf.data(), buf.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (n == 0) return true;
            if (!writeAll(out, std::string_view(buf.data(), static_cast<size_t>(n)))) return false;
        }
    }
}

// Moves `tmp` onto `dst`; with `noReplace` it fails when `dst` exists, atomically
// where the file system supports it.
bool moveInto(const std::string& tmp, const std::string& dst, bool noReplace) {
    if (!noReplace) return ::rename(tmp.c_str(), dst.c_str()) == 0;
    if (::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat st;
    if (::lstat(dst.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(tmp.c_str(), dst.c_str()) == 0;
}

}  // namespace

namespace detail {

bool fail(std::string message) {
    tlsError = std::move(message);
    return false;
}

bool failErrno(std::string_view what, std::string_view winPath, int err) {
    return fail(std::string(what) + " " + std::string(winPath) + ": " + errnoText(err));
}

std::optional<std::string> hostOrFail(std::string_view winPath) {
    std::optional<WinPath> w = parseWinPath(winPath);
    if (!w) {
        fail("not an absolute Windows path on a drive: " + std::string(winPath));
        return std::nullopt;
    }
    std::optional<Resolved> r = resolve(*w);
    if (!r) {
        fail("drive " + std::string(1, static_cast<char>(w->drive - 'a' + 'A')) +
             ": has no mapping in " + dosdevices() + " (" + std::string(winPath) + ")");
        return std::nullopt;
    }
    return std::move(r->host);
}

bool replaceFileAtomically(const std::string& host, std::string_view bytes,
                           std::string_view winPath) {
    std::string target = host;
    struct stat st;
    bool existed = false;
    if (::lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // Replace what the link points to, not the link.
        std::array<char, PATH_MAX> buf;
        if (!::realpath(host.c_str(), buf.data()))
            return failErrno("cannot follow the link", winPath, errno);
        target = buf.data();
    }
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return fail("not a file: " + std::string(winPath));
        existed = true;
    }
    std::string tmp;
    const int fd = createTempBeside(target, tmp);
    if (fd < 0) return failErrno("cannot write", winPath, errno);
    bool ok = writeAll(fd, bytes);
    if (ok && existed) ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(tmp.c_str(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        return failErrno("cannot write", winPath, err);
    }
    noteCreated(target, false);
    return true;
}

}  // namespace detail

FolderListingCache::FolderListingCache() {
    if (tCacheDepth++ == 0) tCache = new ListingCache;
}

FolderListingCache::~FolderListingCache() {
    if (--tCacheDepth == 0) {
        delete tCache;
        tCache = nullptr;
    }
}

void noteNewEntry(const fs::path& host) {
    std::string path = host.lexically_normal().string();
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    noteCreated(path, false);
}

std::string lastFileError() {
    return tlsError;
}

std::optional<fs::path> hostPath(std::string_view winPath) {
    std::optional<Resolved> r = resolvePath(winPath);
    if (!r) return std::nullopt;
    return fs::path(std::move(r->host));
}

std::string windowsPath(const fs::path& host) {
    std::error_code ec;
    fs::path abs = host.is_absolute() ? host : fs::absolute(host, ec);
    std::string h = abs.lexically_normal().string();
    while (h.size() > 1 && h.back() == '/')
        h.pop_back();

    auto within = [](const std::string& path, const std::string& root) {
        if (root == "/") return true;
        return path.compare(0, root.size(), root) == 0 &&
               (path.size() == root.size() || path[root.size()] == '/');
    };
    // The drive with the longest target holding the path; C: first among equals.
    auto pick = [&](const std::string& path, bool canonical) {
        char best = 0;
        size_t bestLen = 0;
        for (char l : std::string_view("cabdefghijklmnopqrstuvwxyz")) {
            std::optional<std::string> root = driveRoot(l);
            if (!root) continue;
            if (canonical) {
                std::error_code e2;
                fs::path c = fs::canonical(*root, e2);
                if (e2) continue;
                *root = c.string();
            }
            // The length of the host part the drive letter stands for ("/" stands for none).
            const size_t len = *root == "/" ? 0 : root->size();
            if (within(path, *root) && (best == 0 || len > bestLen)) {
                best = l;
                bestLen = len;
            }
        }
        return std::make_pair(best, bestLen);
    };
    auto [drive, len] = pick(h, false);
    if (drive == 0 || drive == 'z') {
        // The path may reach a drive's folder through a symbolic link.
        std::error_code e2;
        const std::string canon = fs::weakly_canonical(abs, e2).string();
        if (!e2) {
            auto [d2, l2] = pick(canon, true);
            if (d2 != 0 && d2 != 'z') {
                drive = d2;
                len = l2;
                h = canon;
            }
        }
    }
    if (drive == 0) {
        drive = 'z';
        len = 0;
    }
    std::string out(1, static_cast<char>(drive - 'a' + 'A'));
    out += ":\\";
    std::string rest = h.substr(std::min(len, h.size()));
    while (!rest.empty() && rest.front() == '/')
        rest.erase(0, 1);
    std::replace(rest.begin(), rest.end(), '/', '\\');
    return out + rest;
}

namespace {

std::vector<SearchRec> findEntries(std::string_view pattern, uint32_t attr, bool foldersOnly) {
    std::vector<SearchRec> out;
    const size_t cut = pattern.find_last_of("\\/");
    if (cut == std::string_view::npos) return out;
    const std::string_view maskText = pattern.substr(cut + 1);
    if (maskText.empty()) return out;
    std::optional<WinPath> folder = parseWinPath(pattern.substr(0, cut + 1));
    if (!folder) return out;
    const uint32_t excluded = excludedAttributes(attr);
    const detail::NameMask mask(maskText);

    if (!mask.hasWildcards()) {
        std::optional<Resolved> dir = resolve(*folder);
        if (!dir || !dir->complete()) return out;
        // A plain name: that one entry, spelt as on disk.
        std::optional<WinPath> full = parseWinPath(pattern);
        if (!full || full->parts.size() != folder->parts.size() + 1) return out;
        const std::string_view name = full->parts.back();
        std::string host = dir->host;
        appendComponent(host, name);
        struct stat st;
        std::string onDisk(name);
        if (::stat(host.c_str(), &st) != 0) {
            std::optional<std::string> found = findNoCase(dir->host, name);
            if (!found) return out;
            host = dir->host;
            appendComponent(host, *found);
            if (::stat(host.c_str(), &st) != 0) return out;
            onDisk = *found;
        }
        if (!listable(st) || (foldersOnly && !S_ISDIR(st.st_mode))) return out;
        SearchRec rec = makeRecord(onDisk, st);
        if ((rec.attr & excluded) == 0) out.push_back(std::move(rec));
        return out;
    }

    const int fd = openFolder(*folder);
    if (fd < 0) return out;
    const bool wantHidden = (attr & faHidden) != 0;
    const bool wantDirs = (attr & faDirectory) != 0;
    struct stat st;
    // One pass over the raw entries: name, mask and d_type filters first, so that
    // only entries that will be listed cost a stat.
    thread_local std::vector<char> buf(size_t{64} << 10);
    for (;;) {
        const ssize_t got = ::getdents64(fd, buf.data(), buf.size());
        if (got <= 0) break;
        for (size_t off = 0; off < static_cast<size_t>(got);) {
            const auto* e = reinterpret_cast<const struct dirent64*>(buf.data() + off);
            off += e->d_reclen;
            const char* n = e->d_name;
            if (n[0] == '.') {
                if (n[1] == 0 || (n[1] == '.' && n[2] == 0)) continue;
                if (!wantHidden) continue;
            }
            if (e->d_type == DT_DIR && !wantDirs) continue;
            // Only links and entries of unknown type can still turn out to be folders.
            if (foldersOnly && e->d_type != DT_DIR && e->d_type != DT_LNK &&
                e->d_type != DT_UNKNOWN)
                continue;
            const std::string_view name(n);
            if (!mask.matches(name)) continue;
            if (::fstatat(fd, n, &st, 0) != 0 || !listable(st)) continue;
            if (foldersOnly && !S_ISDIR(st.st_mode)) continue;
            SearchRec rec = makeRecord(name, st);
            if ((rec.attr & excluded) == 0) out.push_back(std::move(rec));
        }
    }
    std::sort(out.begin(), out.end(), [](const SearchRec& a, const SearchRec& b) {
        const int c = compareNames(a.name, b.name);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    // Every folder but a drive root lists itself and its parent first.
    if (!folder->parts.empty() && wantDirs) {
        std::vector<SearchRec> dots;
        if (mask.matches(".") && ::fstat(fd, &st) == 0) dots.push_back(makeRecord(".", st));
        if (mask.matches("..") && ::fstatat(fd, "..", &st, 0) == 0)
            dots.push_back(makeRecord("..", st));
        out.insert(out.begin(), dots.begin(), dots.end());
    }
    ::close(fd);
    return out;
}

}  // namespace

std::vector<SearchRec> findFiles(std::string_view pattern, uint32_t attr) {
    return findEntries(pattern, attr, false);
}

std::vector<SearchRec> findFolders(std::string_view pattern, uint32_t attr) {
    return findEntries(pattern, attr | faDirectory, true);
}

bool fileExists(std::string_view path) {
    std::optional<Resolved> r = resolvePath(path);
    struct stat st;
    return r && r->complete() && ::stat(r->host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool directoryExists(std::string_view path) {
    std::optional<Resolved> r = resolvePath(path);
    struct stat st;
    return r && r->complete() && ::stat(r->host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool deleteFile(std::string_view path) {
    std::optional<std::string> host = detail::hostOrFail(path);
    if (!host) return false;
    struct stat st;
    if (::lstat(host->c_str(), &st) != 0) return detail::failErrno("cannot delete", path, errno);
    if (S_ISDIR(st.st_mode))
        return detail::fail("cannot delete " + std::string(path) + ": a folder");
    // Windows refuses to delete a read-only file.
    if (S_ISREG(st.st_mode) && readOnlyMode(st.st_mode))
        return detail::fail("cannot delete " + std::string(path) + ": the file is read-only");
    if (::unlink(host->c_str()) != 0) return detail::failErrno("cannot delete", path, errno);
    noteRemoved(*host);
    return true;
}

bool removeDir(std::string_view path) {
    std::optional<WinPath> w = parseWinPath(path);
    if (w && w->parts.empty())
        return detail::fail("cannot remove the drive root " + std::string(path));
    std::optional<std::string> host = detail::hostOrFail(path);
    if (!host) return false;
    if (::rmdir(host->c_str()) != 0)
        return detail::failErrno("cannot remove the folder", path, errno);
    noteRemoved(*host);
    return true;
}

bool createDir(std::string_view path) {
    std::optional<std::string> host = detail::hostOrFail(path);
    if (!host) return false;
    if (::mkdir(host->c_str(), 0777) != 0)
        return detail::failErrno("cannot create the folder", path, errno);
    noteCreated(*host, true);
    return true;
}

bool processAlive(long pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}

long pidAfter(std::string_view name, std::string_view mark) {
    const size_t at = name.find(mark);
    if (at == std::string_view::npos) return 0;
    const size_t start = at + mark.size();
    size_t end = start;
    while (end < name.size() && name[end] >= '0' && name[end] <= '9')
        ++end;
    if (end == start || end - start > 9 || end >= name.size() || name[end] != '-') return 0;
    return std::atol(std::string(name.substr(start, end - start)).c_str());
}

void removeStaleTemporaries(const fs::path& folder, std::string_view start) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(start)) continue;
        const long pid = pidAfter(std::string_view(name).substr(start.size()), "");
        std::error_code ec2;
        if (pid != 0 && pid != ::getpid() && !processAlive(pid) &&
            !fs::is_directory(fs::symlink_status(it->path(), ec2)))
            fs::remove(it->path(), ec2);
    }
}

bool forceDirectories(std::string_view path) {
    std::optional<WinPath> w = parseWinPath(path);
    if (!w) return detail::fail("not an absolute Windows path on a drive: " + std::string(path));
    std::optional<Resolved> r = resolve(*w);
    if (!r) return detail::hostOrFail(path).has_value();
    // Walk down the resolved path: components that exist are reused as spelt on
    // disk, the rest are created as written. When a level cannot be made, the
    // levels made here go again (a path too long for the host left dozens of empty
    // folders behind); folders that were there before stay.
    std::string host = *driveRoot(w->drive);
    size_t pos = host.size();
    std::vector<std::string> made;
    auto undo = [&] {
        const int err = errno;
        for (auto it = made.rbegin(); it != made.rend(); ++it)
            if (::rmdir(it->c_str()) == 0) noteRemoved(*it);
        errno = err;
    };
    for (size_t i = 0; i < r->count; ++i) {
        const size_t next = r->host.find('/', pos + 1);
        const std::string sub = r->host.substr(0, next);
        pos = next;
        struct stat st;
        if (i >= r->existing) {
            if (::mkdir(sub.c_str(), 0777) == 0) {
                noteCreated(sub, true);
                made.push_back(sub);
                continue;
            }
            if (errno != EEXIST) {
                undo();
                return detail::failErrno("cannot create the folder", path, errno);
            }
        }
        if (::stat(sub.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            undo();
            return detail::fail("cannot create the folder " + std::string(path) + ": " +
                                windowsPath(sub) + " is not a folder");
        }
    }
    return true;
}

bool moveFileReplacing(std::string_view from, std::string_view to) {
    std::optional<std::string> src = detail::hostOrFail(from);
    if (!src) return false;
    std::optional<std::string> dst = detail::hostOrFail(to);
    if (!dst) return false;
    struct stat st;
    if (::lstat(dst->c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return detail::fail("cannot replace " + std::string(to) + ": a folder");
    if (::rename(src->c_str(), dst->c_str()) != 0)
        return detail::fail("cannot rename " + std::string(from) + " to " + std::string(to) + ": " +
                            errnoText(errno));
    noteRemoved(*src);
    noteCreated(*dst, false);
    return true;
}

std::optional<uint64_t> fileSize(std::string_view path) {
    std::optional<Resolved> r = resolvePath(path);
    struct stat st;
    if (!r || !r->complete() || ::stat(r->host.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

bool copyFile(std::string_view from, std::string_view to, bool failIfExists) {
    std::optional<std::string> src = detail::hostOrFail(from);
    if (!src) return false;
    std::optional<std::string> dst = detail::hostOrFail(to);
    if (!dst) return false;
    const int in = ::open(src->c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return detail::failErrno("cannot open", from, errno);
    struct stat sst;
    if (::fstat(in, &sst) != 0 || !S_ISREG(sst.st_mode)) {
        ::close(in);
        return detail::fail("cannot copy " + std::string(from) + ": not a file");
    }
    std::string target = *dst;
    struct stat dst_st;
    if (::stat(dst->c_str(), &dst_st) == 0) {
        std::string why;
        if (failIfExists)
            why = "it exists";
        else if (!S_ISREG(dst_st.st_mode))
            why = "it is not a file";
        else if (dst_st.st_dev == sst.st_dev && dst_st.st_ino == sst.st_ino)
            why = "it is the source";
        else if (readOnlyMode(dst_st.st_mode))
            why = "it is read-only";
        if (!why.empty()) {
            ::close(in);
            return detail::fail("cannot copy onto " + std::string(to) + ": " + why);
        }
        // Replace what a link points to, as writing through it would.
        std::array<char, PATH_MAX> buf;
        if (::realpath(dst->c_str(), buf.data())) target = buf.data();
    }
    std::string tmp;
    const int out = createTempBeside(target, tmp);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return detail::failErrno("cannot create", to, err);
    }
    bool ok = copyData(in, out);
    int err = errno;
    const struct timespec times[2] = {sst.st_atim, sst.st_mtim};
    if (ok && (::fchmod(out, sst.st_mode & 0777) != 0 || ::futimens(out, times) != 0)) {
        ok = false;
        err = errno;
    }
    if (::close(out) != 0 && ok) {
        ok = false;
        err = errno;
    }
    ::close(in);
    if (ok && !moveInto(tmp, target, failIfExists)) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        return detail::fail("cannot copy " + std::string(from) + " to " + std::string(to) + ": " +
                            errnoText(err));
    }
    noteCreated(target, false);
    return true;
}

std::optional<uint64_t> diskFree(char drive) {
    std::optional<std::string> root = driveRoot(drive);
    if (!root) return std::nullopt;
    struct statvfs vfs;
    if (::statvfs(root->c_str(), &vfs) != 0) return std::nullopt;
    return static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
}

std::string windowsFolder() {
    return "C:\\windows";
}

std::string programFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return includeTrailingBackslash(windowsPath(exe.parent_path()));
}

std::vector<fs::path> linkTargetRoots() {
    std::vector<fs::path> roots;
    auto add = [&](const fs::path& p) {
        std::error_code ec;
        fs::path c = fs::canonical(p, ec);
        if (!ec && c != c.root_path()) roots.push_back(c);  // never the whole host
    };
    if (std::optional<std::string> c = driveRoot('c')) add(*c);
    const char* home = std::getenv("HOME");
    if (home && *home == '/') add(home);
    return roots;
}

}  // namespace qb::platform
