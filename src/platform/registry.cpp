#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/files.h"
#include "platform/hive.h"
#include "platform/machine.h"
#include "platform/registry_internal.h"

namespace qb::platform {

namespace fs = std::filesystem;
using hive::Hive;
using hive::Key;
using hive::Value;

namespace {

enum HiveId : int { kMachine = 0, kUser = 1, kUserDefault = 2, kHiveCount = 3 };

constexpr const char* kHiveFiles[kHiveCount] = {"system.reg", "user.reg", "userdef.reg"};
constexpr const char* kDefaultUserSid = "S-1-5-21-0-0-0-1000";

std::string errnoText() {
    return std::strerror(errno);
}

// One hive file of the prefix and what is known of it.
struct HiveSlot {
    std::unique_ptr<Hive> hive;
    std::string error;  // why it failed to load
    bool tried = false;
    // The file as it was when loaded or last saved, to notice other writers.
    bool existed = false;
    struct stat st {};
};

struct Store {
    std::recursive_mutex mutex;
    fs::path prefix;
    HiveSlot slots[kHiveCount];
    // The prefix folder, opened while this process holds the machine's registry
    // lock; -1 when it does not.
    int lockFd = -1;
};

Store& store() {
    static Store s;
    return s;
}

std::unique_lock<std::recursive_mutex> guard() {
    return std::unique_lock<std::recursive_mutex>(store().mutex);
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

fs::path hivePath(int id) {
    return store().prefix / kHiveFiles[id];
}

void unlockRegistry() {
    Store& s = store();
    if (s.lockFd < 0) return;
    ::close(s.lockFd);  // ends the lock
    s.lockFd = -1;
}

// Keeps the store on the current machine's prefix.
void followMachine() {
    Store& s = store();
    const fs::path& prefix = Machine::current().prefix();
    if (s.prefix != prefix) {
        unlockRegistry();
        for (HiveSlot& slot : s.slots)
            slot = HiveSlot{};
        s.prefix = prefix;
    }
}

std::string archLine() {
    // A hive made anew takes the architecture of the machine hive.
    HiveSlot& m = store().slots[kMachine];
    if (m.hive) {
        std::string_view h = m.hive->header();
        size_t at = h.find("#arch=");
        if (at != std::string_view::npos) {
            std::string_view line = h.substr(at, h.find('\n', at) - at);
            return std::string(line);
        }
    }
    return "#arch=win64";
}

std::string newHeader(int id) {
    std::string relative = id == kMachine ? "REGISTRY\\\\Machine"
                           : id == kUser  ? std::string("REGISTRY\\\\User\\\\") + kDefaultUserSid
                                          : "REGISTRY\\\\User\\\\.Default";
    return "WINE REGISTRY Version 2\n;; All keys relative to " + relative + "\n\n" + archLine() +
           "\n";
}

void load(int id) {
    followMachine();
    HiveSlot& slot = store().slots[id];
    if (slot.tried) return;
    slot.tried = true;
    const fs::path file = hivePath(id);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            if (id != kMachine) load(kMachine);
            slot.hive = std::make_unique<Hive>(newHeader(id));
            return;
        }
        slot.error = "cannot read the registry file " + file.string() + ": " + errnoText();
        return;
    }
    std::string text;
    bool ok = ::fstat(fd, &slot.st) == 0;
    if (ok) {
        text.resize(static_cast<size_t>(slot.st.st_size));
        size_t done = 0;
        while (ok && done < text.size()) {
            ssize_t r = ::read(fd, text.data() + done, text.size() - done);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) {
                ok = r == 0;
                text.resize(done);
                break;
            }
            done += static_cast<size_t>(r);
        }
    }
    if (!ok) slot.error = "cannot read the registry file " + file.string() + ": " + errnoText();
    ::close(fd);
    if (!ok) return;
    slot.existed = true;
    try {
        slot.hive = Hive::parse(std::move(text), file.string());
    } catch (const RegistryError& e) {
        slot.error = e.what();
        return;
    }
    if (const Hive& h = *slot.hive; !h.skippedLine().empty())
        std::cerr << "quillbox: " << h.skippedLine() << " was skipped"
                  << (h.skippedCount() > 1
                          ? " (and " + std::to_string(h.skippedCount() - 1) + " more such lines)"
                          : std::string())
                  << "; the registry file is read, but not rewritten\n";
}

Hive& readHive(int id) {
    load(id);
    HiveSlot& slot = store().slots[id];
    if (!slot.hive) throw RegistryError(slot.error);
    return *slot.hive;
}

// How long a change waits for another of our processes to finish its own:
// QUILLBOX_REGISTRY_WAIT seconds, 20 when unset.
std::chrono::milliseconds lockWait() {
    if (const char* v = std::getenv("QUILLBOX_REGISTRY_WAIT"); v && *v) {
        char* end = nullptr;
        const double seconds = std::strtod(v, &end);
        if (end != v && seconds >= 0 && seconds < 86400)
            return std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    }
    return std::chrono::seconds(20);
}

// The process holding the lock on the folder `dir`, as the kernel lists it.
std::optional<long> flockOwner(const struct stat& dir) {
    std::ifstream locks("/proc/locks");
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(dir.st_dev), minor(dir.st_dev),
                  static_cast<unsigned long long>(dir.st_ino));
    std::string line;
    while (std::getline(locks, line)) {
        if (line.find("FLOCK") == std::string::npos) continue;
        std::istringstream in(line);
        std::string id, kind, advisory, mode, pid, where;
        in >> id >> kind;
        if (kind == "->") in >> kind;  // a waiter, listed below the holder
        in >> advisory >> mode >> pid >> where;
        if (where == wanted && id.find("->") == std::string::npos) return std::atol(pid.c_str());
    }
    return std::nullopt;
}

// Drops hives without pending changes whose files changed since they were read,
// so that the next access reads what another process saved.
void refreshChanged() {
    for (int id = 0; id < kHiveCount; ++id) {
        HiveSlot& slot = store().slots[id];
        if (!slot.tried || (slot.hive && slot.hive->dirty())) continue;
        struct stat now {};
        const bool exists = ::stat(hivePath(id).c_str(), &now) == 0;
        if (exists != slot.existed || (exists && !sameFile(now, slot.st))) slot = HiveSlot{};
    }
}

// Every change of the registry is one transaction under an exclusive lock of the
// machine's registry (the prefix folder), held from the first change until the
// changes are saved: two of our processes never save over each other's changes.
void lockRegistry() {
    followMachine();
    Store& s = store();
    if (s.lockFd >= 0) return;
    const std::string shown = s.prefix.string();
    const int fd = ::open(s.prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw RegistryError("cannot lock the registry of the machine " + shown + ": " +
                            errnoText());
    const auto wait = lockWait();
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) {
            const std::string reason = errnoText();
            ::close(fd);
            throw RegistryError("cannot lock the registry of the machine " + shown + ": " + reason);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            struct stat st {};
            std::optional<long> owner;
            if (::fstat(fd, &st) == 0) owner = flockOwner(st);
            ::close(fd);
            throw RegistryError(
                "the registry of the machine " + shown + " is being changed by another program" +
                (owner ? " (process " + std::to_string(*owner) + ")" : std::string()) +
                "; it did not finish within " + std::to_string((wait.count() + 999) / 1000) +
                " seconds, so this change was not made");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    s.lockFd = fd;
    refreshChanged();
}

bool anyDirty() {
    for (const HiveSlot& slot : store().slots)
        if (slot.hive && slot.hive->dirty()) return true;
    return false;
}

// Ends the lock of a change that failed before it changed anything.
struct ReleaseWhenClean {
    ReleaseWhenClean() = default;
    ReleaseWhenClean(const ReleaseWhenClean&) = delete;
    ReleaseWhenClean& operator=(const ReleaseWhenClean&) = delete;
    ~ReleaseWhenClean() {
        if (!anyDirty()) unlockRegistry();
    }
};

void refuseWhileServerRuns() {
    const fs::path& prefix = store().prefix;
    if (auto pid = wineServerProcess(prefix))
        throw RegistryError("a Wine server (process " + std::to_string(*pid) +
                            ") is running for the prefix " + prefix.string() +
                            " and would overwrite the registry; close the Windows programs "
                            "(wineserver -k) and try again");
}

Hive& writeHive(int id) {
    lockRegistry();
    Hive& h = readHive(id);
    if (!h.skippedLine().empty())
        throw RegistryError(h.skippedLine() +
                            ": the registry file holds lines this program does "
                            "not understand, so it is not rewritten (a rewrite would lose them)");
    refuseWhileServerRuns();
    return h;
}

// Writes `text` to `file` through a temporary file in the same folder, so that the
// file holds either the old or the new text whatever happens. Temporary files of
// saves that died with their process go first.
void writeAtomically(const fs::path& file, const std::string& text, mode_t mode) {
    const std::string start = "." + file.filename().string() + ".qbtmp-";
    removeStaleTemporaries(file.parent_path(), start);
    std::string tmp =
        (file.parent_path() / (start + std::to_string(::getpid()) + "-XXXXXX")).string();
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        throw RegistryError("cannot save " + file.string() +
                            ": cannot create a temporary file: " + errnoText());
    auto fail = [&](const char* what) {
        const std::string reason = errnoText();
        ::close(fd);
        ::unlink(tmp.c_str());
        throw RegistryError("cannot save " + file.string() + ": " + what + ": " + reason);
    };
    if (::fchmod(fd, mode & 07777) != 0) fail("cannot set the file mode");
    size_t done = 0;
    while (done < text.size()) {
        ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) fail("cannot write");
        done += static_cast<size_t>(w);
    }
    if (::fsync(fd) != 0) fail("cannot flush to disk");
    if (::close(fd) != 0) {
        const std::string reason = errnoText();
        ::unlink(tmp.c_str());
        throw RegistryError("cannot save " + file.string() + ": " + reason);
    }
    if (::rename(tmp.c_str(), file.c_str()) != 0) {
        const std::string reason = errnoText();
        ::unlink(tmp.c_str());
        throw RegistryError("cannot save " + file.string() + ": cannot replace it: " + reason);
    }
    const int dfd = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

void save(int id) {
    HiveSlot& slot = store().slots[id];
    if (!slot.hive || !slot.hive->dirty()) return;
    refuseWhileServerRuns();
    const fs::path file = hivePath(id);
    struct stat now {};
    const bool exists = ::stat(file.c_str(), &now) == 0;
    if (exists != slot.existed || (exists && !sameFile(now, slot.st)))
        throw RegistryError("the registry file " + file.string() +
                            " was changed by another program after it was loaded; the changes "
                            "made here are not saved");
    writeAtomically(file, slot.hive->serialize(), exists ? now.st_mode : 0644);
    if (::stat(file.c_str(), &slot.st) != 0)
        throw RegistryError("cannot check the saved registry file " + file.string() + ": " +
                            errnoText());
    slot.existed = true;
    slot.hive->setDirty(false);
}

// Saves every changed hive; throws the first failure after trying them all. The
// transaction ends here either way: changes that could not be saved stay pending,
// and a later save refuses them when another program has saved the file since.
void saveAll() {
    std::string firstError;
    if (anyDirty()) lockRegistry();
    for (int id = 0; id < kHiveCount; ++id) {
        try {
            save(id);
        } catch (const std::exception& e) {
            if (firstError.empty()) firstError = e.what();
        }
    }
    unlockRegistry();
    if (!firstError.empty()) throw RegistryError(firstError);
}

std::string userSid() {
    std::string rel = readHive(kUser).relativeTo();
    const size_t at = rel.find_last_of('\\');
    std::string sid = at == std::string::npos ? rel : rel.substr(at + 1);
    return sid.rfind("S-", 0) == 0 ? sid : std::string(kDefaultUserSid);
}

const char* rootName(RootKey root) {
    switch (root) {
        case RootKey::ClassesRoot:
            return "HKEY_CLASSES_ROOT";
        case RootKey::CurrentUser:
            return "HKEY_CURRENT_USER";
        case RootKey::LocalMachine:
            return "HKEY_LOCAL_MACHINE";
        case RootKey::Users:
            return "HKEY_USERS";
        case RootKey::CurrentConfig:
            return "HKEY_CURRENT_CONFIG";
        case RootKey::DynData:
            return "HKEY_DYN_DATA";
    }
    return "HKEY_CURRENT_USER";
}

// Names as they are stored: well-formed UTF-8, where bytes that are not UTF-8 stand
// for Latin-1 characters (so that equal names always have the same length).
std::string normalName(std::string_view name) {
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 0x80) return utf16ToUtf8(utf8ToUtf16(name));
    return std::string(name);
}

std::vector<std::string> splitPath(std::string_view path) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            if (i > start) {
                std::string_view name = path.substr(start, i - start);
                if (name.size() > 255)
                    throw RegistryError("the key name \"" + std::string(name.substr(0, 40)) +
                                        "...\" is longer than 255 characters");
                out.push_back(normalName(name));
            }
            start = i + 1;
        }
    }
    return out;
}

// Where the keys of a root live: one hive path per layer, read in order.
struct Layer {
    int hive;
    std::vector<std::string> path;  // from the hive's root
    size_t base;                    // path[base + j] is component `from + j` of the key path
    size_t from;
};

struct Location {
    std::vector<Layer> layers;
    int writeLayer = -1;     // the layer writes go to; -1 when none can
    bool isRoot = false;     // the root key itself, which always exists
    bool usersRoot = false;  // HKEY_USERS itself: the loaded hives
    bool deleteAll = false;  // deletions remove the key or value from every layer
};

Location locate(RootKey root, const std::vector<std::string>& comps) {
    Location loc;
    loc.isRoot = comps.empty();
    auto add = [&](int id, std::vector<std::string> base, size_t from) {
        Layer l{id, std::move(base), 0, from};
        l.base = l.path.size();
        l.path.insert(l.path.end(), comps.begin() + static_cast<ptrdiff_t>(from), comps.end());
        loc.layers.push_back(std::move(l));
    };
    switch (root) {
        case RootKey::CurrentUser:
            add(kUser, {}, 0);
            loc.writeLayer = 0;
            break;
        case RootKey::LocalMachine:
            add(kMachine, {}, 0);
            loc.writeLayer = 0;
            break;
        case RootKey::ClassesRoot:
            // The user's classes over the machine's, as Windows merges them.
            add(kUser, {"Software", "Classes"}, 0);
            add(kMachine, {"Software", "Classes"}, 0);
            loc.writeLayer = 1;
            loc.deleteAll = true;
            break;
        case RootKey::CurrentConfig:
            add(kMachine, {"System", "CurrentControlSet", "Hardware Profiles", "Current"}, 0);
            loc.writeLayer = 0;
            break;
        case RootKey::Users:
            if (comps.empty()) {
                loc.usersRoot = true;
            } else if (hive::sameName(comps[0], ".Default")) {
                add(kUserDefault, {}, 1);
                loc.writeLayer = 0;
                loc.isRoot = comps.size() == 1;
            } else if (hive::sameName(comps[0], userSid())) {
                add(kUser, {}, 1);
                loc.writeLayer = 0;
                loc.isRoot = comps.size() == 1;
            } else {
                loc.isRoot = false;
            }
            break;
        case RootKey::DynData:
            break;
    }
    return loc;
}

// Wine keeps symbolic links (the Wow6432Node views, for one) as keys marked
// "#link" whose value SymbolicLinkValue names the target. Reads see such a key as
// it is stored; writes through it would land in the link instead of its target,
// so they are refused.
void refuseLinks(Hive& h, const Layer& l) {
    const Key* k = &h.root();
    std::string path;
    for (const std::string& name : l.path) {
        k = k->findSubkey(name);
        if (!k) return;
        path += (path.empty() ? "" : "\\") + k->name;
        if (!k->symlink) continue;
        std::string target;
        if (const Value* v = k->findValue("SymbolicLinkValue")) target = utf16BytesToUtf8(v->data);
        throw RegistryError("the key " + path + " is a symbolic link" +
                            (target.empty() ? std::string() : " to " + target) +
                            "; it is not followed, so nothing is written through it");
    }
}

Key* findKey(const Layer& l) {
    return Hive::find(readHive(l.hive).root(), l.path);
}

bool exists(const Location& loc) {
    if (loc.isRoot || loc.usersRoot) {
        for (const Layer& l : loc.layers)
            readHive(l.hive);  // a broken hive reports itself
        return true;
    }
    for (const Layer& l : loc.layers)
        if (findKey(l)) return true;
    return false;
}

const Value* findValue(const Location& loc, std::string_view name) {
    for (const Layer& l : loc.layers)
        if (const Key* k = findKey(l))
            if (const Value* v = k->findValue(name)) return v;
    return nullptr;
}

std::string typeName(uint32_t type) {
    static const char* names[] = {"REG_NONE",
                                  "REG_SZ",
                                  "REG_EXPAND_SZ",
                                  "REG_BINARY",
                                  "REG_DWORD",
                                  "REG_DWORD_BIG_ENDIAN",
                                  "REG_LINK",
                                  "REG_MULTI_SZ",
                                  "REG_RESOURCE_LIST",
                                  "REG_FULL_RESOURCE_DESCRIPTOR",
                                  "REG_RESOURCE_REQUIREMENTS_LIST",
                                  "REG_QWORD"};
    if (type < std::size(names)) return names[type];
    char buf[32];
    std::snprintf(buf, sizeof buf, "type 0x%x", type);
    return buf;
}

}  // namespace

namespace {

// The process holding a write lock on `lockFile`, if one does.
std::optional<long> lockOwner(const std::string& lockFile) {
    const int fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    const int r = ::fcntl(fd, F_GETLK, &fl);
    ::close(fd);
    if (r != 0 || fl.l_type == F_UNLCK) return std::nullopt;
    return static_cast<long>(fl.l_pid);
}

}  // namespace

std::optional<long> wineServerProcess(const std::filesystem::path& prefix) {
    // wineserver makes a folder "server-<dev>-<inode>" for the prefix folder (device
    // and inode in hex) and holds a write lock on the file "lock" in it while it
    // runs; a lock file without a lock is left over from a server that ended. The
    // folder lies in /tmp/.wine-<uid>/, or, in Debian's build, in a private
    // temporary folder whose name the server writes to the file "wineserver" of
    // the prefix (relative to $TMPDIR or /tmp).
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0) return std::nullopt;
    char serverDir[64];
    std::snprintf(serverDir, sizeof serverDir, "server-%llx-%llx",
                  static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::vector<fs::path> roots = {fs::path("/tmp") / (".wine-" + std::to_string(::getuid()))};
    std::ifstream named(prefix / "wineserver");
    std::string name;
    if (named && std::getline(named, name) && !name.empty()) {
        if (name.front() == '/') {
            roots.emplace_back(name);
        } else if (name.find('/') == std::string::npos) {
            if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp)
                roots.push_back(fs::path(tmp) / name);
            roots.push_back(fs::path("/tmp") / name);
        }
    }
    for (const fs::path& root : roots)
        if (auto pid = lockOwner((root / serverDir / "lock").string())) return pid;
    return std::nullopt;
}

struct Registry::Impl {
    static std::vector<std::string> resolve(const Registry& r, std::string_view path) {
        std::vector<std::string> comps;
        if (!path.starts_with('\\') && r.open_) comps = r.path_;
        for (std::string& c : splitPath(path))
            comps.push_back(std::move(c));
        return comps;
    }

    static Location here(const Registry& r) {
        return locate(r.root_, r.open_ ? r.path_ : std::vector<std::string>{});
    }

    static std::string fullName(const Registry& r, const std::vector<std::string>& comps) {
        std::string name = rootName(r.root_);
        for (const std::string& c : comps)
            name += "\\" + c;
        return name;
    }

    static std::string keyName(const Registry& r) {
        return fullName(r, r.open_ ? r.path_ : std::vector<std::string>{});
    }

    static void refuseReadOnly(const Registry& r) {
        if (r.readOnly_)
            throw RegistryError("the key " + keyName(r) + " is open read-only; it cannot change");
    }

    // The key that writes of the open key go to, created when the key exists in
    // another layer only (a class known to the user only gets the machine's key).
    static std::pair<Hive*, Key*> writable(Registry& r) {
        refuseReadOnly(r);
        const Location loc = here(r);
        if (loc.writeLayer < 0) throw RegistryError("values cannot be written to " + keyName(r));
        const Layer& l = loc.layers[static_cast<size_t>(loc.writeLayer)];
        Hive& h = writeHive(l.hive);
        refuseLinks(h, l);
        Key* k = Hive::find(h.root(), l.path);
        if (!k) {
            if (!exists(loc)) throw RegistryError("the key " + keyName(r) + " no longer exists");
            k = &h.create(h.root(), l.path);
        }
        r.dirty_ = true;
        return {&h, k};
    }

    static void set(Registry& r, std::string_view name, uint32_t type, std::vector<uint8_t> data) {
        ReleaseWhenClean release;
        auto [h, k] = writable(r);
        h->setValue(*k, normalName(name), type, std::move(data));
    }

    static const Value* value(const Registry& r, std::string_view name) {
        return findValue(here(r), normalName(name));
    }

    [[noreturn]] static void mismatch(const Registry& r, std::string_view name, const Value& v,
                                      const char* wanted) {
        throw RegistryError("the value \"" + std::string(name) + "\" of " + keyName(r) + " is " +
                            typeName(v.type) + ", not " + wanted);
    }
};

Registry::Registry(RootKey root) : root_(root) {}

Registry::~Registry() {
    if (!dirty_) return;
    try {
        auto lock = guard();
        saveAll();
    } catch (const std::exception& e) {
        std::cerr << "quillbox: registry changes not saved: " << e.what() << '\n';
    }
}

void Registry::setRootKey(RootKey root) {
    closeKey();
    root_ = root;
}

bool Registry::openKey(std::string_view path, bool canCreate) {
    auto lock = guard();
    std::vector<std::string> comps = Impl::resolve(*this, path);
    const Location loc = locate(root_, comps);
    if (!exists(loc)) {
        if (!canCreate || loc.writeLayer < 0) return false;
        ReleaseWhenClean release;
        const Layer& l = loc.layers[static_cast<size_t>(loc.writeLayer)];
        Hive& h = writeHive(l.hive);
        refuseLinks(h, l);
        h.create(h.root(), l.path);
        dirty_ = true;
    }
    open_ = true;
    readOnly_ = false;
    path_ = std::move(comps);
    return true;
}

bool Registry::openKeyReadOnly(std::string_view path) {
    auto lock = guard();
    std::vector<std::string> comps = Impl::resolve(*this, path);
    if (!exists(locate(root_, comps))) return false;
    open_ = true;
    readOnly_ = true;
    path_ = std::move(comps);
    return true;
}

void Registry::closeKey() {
    auto lock = guard();
    const bool wasDirty = dirty_;
    open_ = false;
    readOnly_ = false;
    dirty_ = false;
    path_.clear();
    if (wasDirty) saveAll();
}

std::string Registry::currentPath() const {
    if (!open_) return {};
    auto lock = guard();
    std::vector<std::string> names = path_;
    const Location loc = Impl::here(*this);
    if (root_ == RootKey::Users && !names.empty()) {
        names[0] = hive::sameName(names[0], ".Default") ? ".Default" : userSid();
    }
    // The stored spelling; the first layer that has a key wins.
    for (auto it = loc.layers.rbegin(); it != loc.layers.rend(); ++it) {
        const Layer& l = *it;
        Key* base =
            Hive::find(readHive(l.hive).root(),
                       std::vector<std::string>(l.path.begin(),
                                                l.path.begin() + static_cast<ptrdiff_t>(l.base)));
        for (size_t j = l.base; base && j < l.path.size(); ++j) {
            base = base->findSubkey(l.path[j]);
            if (base) names[l.from + (j - l.base)] = base->name;
        }
    }
    std::string out;
    for (const std::string& n : names) {
        if (!out.empty()) out += '\\';
        out += n;
    }
    return out;
}

bool Registry::keyExists(std::string_view path) const {
    auto lock = guard();
    return exists(locate(root_, Impl::resolve(*this, path)));
}

bool Registry::valueExists(std::string_view name) const {
    auto lock = guard();
    return Impl::value(*this, name) != nullptr;
}

bool Registry::hasSubKeys() const {
    auto lock = guard();
    const Location loc = Impl::here(*this);
    if (loc.usersRoot) return true;
    for (const Layer& l : loc.layers)
        if (const Key* k = findKey(l); k && !k->subkeys.empty()) return true;
    return false;
}

std::vector<std::string> Registry::keyNames() const {
    auto lock = guard();
    const Location loc = Impl::here(*this);
    if (loc.usersRoot) return {".Default", userSid()};
    std::vector<std::string> names;
    size_t layersWithKeys = 0;
    for (const Layer& l : loc.layers) {
        if (const Key* k = findKey(l)) {
            if (!k->subkeys.empty()) ++layersWithKeys;
            for (const auto& sub : k->subkeys)
                names.push_back(sub->name);
        }
    }
    if (layersWithKeys > 1) {
        std::stable_sort(names.begin(), names.end(),
                         [](const std::string& a, const std::string& b) {
                             return hive::compareNames(a, b) < 0;
                         });
        names.erase(std::unique(names.begin(), names.end(), hive::sameName), names.end());
    }
    return names;
}

std::vector<std::string> Registry::valueNames() const {
    auto lock = guard();
    const Location loc = Impl::here(*this);
    std::vector<std::string> names;
    bool merged = false;
    for (const Layer& l : loc.layers) {
        const Key* k = findKey(l);
        if (!k) continue;
        for (const Value& v : k->values) {
            if (merged && std::any_of(names.begin(), names.end(), [&](const std::string& n) {
                    return hive::sameName(n, v.name);
                }))
                continue;
            names.push_back(v.name);
        }
        merged = true;
    }
    return names;
}

std::optional<ValueType> Registry::dataType(std::string_view name) const {
    auto lock = guard();
    if (const Value* v = Impl::value(*this, name)) return static_cast<ValueType>(v->type);
    return std::nullopt;
}

std::string readStringValue(RootKey root, std::string_view key, std::string_view name) {
    Registry reg(root);
    if (!reg.openKeyReadOnly(key)) return {};
    const std::optional<ValueType> type = reg.dataType(name);
    if (type != ValueType::String && type != ValueType::ExpandString) return {};
    return reg.readString(name);
}

std::vector<uint8_t> multiStringBytes(const std::vector<std::string>& items) {
    std::u16string units;
    for (const std::string& s : items) {
        units += utf8ToUtf16(s);
        units += u'\0';
    }
    return utf16LeBytes(units, true);
}

std::vector<std::string> multiStringItems(std::span<const uint8_t> data) {
    const std::u16string units = unitsFromUtf16Le(data);
    std::vector<std::string> out;
    size_t start = 0;
    while (start < units.size()) {
        size_t end = units.find(u'\0', start);
        if (end == std::u16string::npos) end = units.size();
        if (end == start) break;  // the empty string that ends the list
        out.push_back(utf16ToUtf8(std::u16string_view(units).substr(start, end - start)));
        start = end + 1;
    }
    return out;
}

std::string Registry::readString(std::string_view name) const {
    auto lock = guard();
    const Value* v = Impl::value(*this, name);
    if (!v) return {};
    if (v->type != 1 && v->type != 2) Impl::mismatch(*this, name, *v, "a string");
    return utf16BytesToUtf8(v->data);
}

std::vector<std::string> Registry::readMultiString(std::string_view name) const {
    auto lock = guard();
    const Value* v = Impl::value(*this, name);
    if (!v) return {};
    if (v->type != 7) Impl::mismatch(*this, name, *v, "REG_MULTI_SZ");
    return multiStringItems(v->data);
}

int32_t Registry::readInteger(std::string_view name) const {
    auto lock = guard();
    const Value* v = Impl::value(*this, name);
    if (!v) return 0;
    if (v->type != 4 || v->data.size() != 4) Impl::mismatch(*this, name, *v, "a REG_DWORD");
    uint32_t dw = 0;
    for (int i = 3; i >= 0; --i)
        dw = (dw << 8) | v->data[static_cast<size_t>(i)];
    return static_cast<int32_t>(dw);
}

bool Registry::readBool(std::string_view name) const {
    return readInteger(name) != 0;
}

std::vector<uint8_t> Registry::readBinary(std::string_view name) const {
    auto lock = guard();
    const Value* v = Impl::value(*this, name);
    return v ? v->data : std::vector<uint8_t>{};
}

double Registry::readDateTime(std::string_view name) const {
    auto lock = guard();
    const Value* v = Impl::value(*this, name);
    if (!v) return 0;
    if (v->type != 3 || v->data.size() != 8)
        Impl::mismatch(*this, name, *v, "an 8-byte REG_BINARY date");
    double d;
    std::memcpy(&d, v->data.data(), sizeof d);
    return d;
}

std::optional<RegValue> Registry::readValue(std::string_view name) const {
    auto lock = guard();
    const Value* v = Impl::value(*this, name);
    if (!v) return std::nullopt;
    return RegValue{static_cast<ValueType>(v->type), v->data};
}

void Registry::writeString(std::string_view name, std::string_view value) {
    auto lock = guard();
    Impl::set(*this, name, 1, utf8ToUtf16Bytes(value, true));
}

void Registry::writeExpandString(std::string_view name, std::string_view value) {
    auto lock = guard();
    Impl::set(*this, name, 2, utf8ToUtf16Bytes(value, true));
}

void Registry::writeMultiString(std::string_view name, const std::vector<std::string>& value) {
    auto lock = guard();
    for (const std::string& s : value)
        if (s.empty())
            throw RegistryError("the REG_MULTI_SZ value \"" + std::string(name) +
                                "\" cannot hold an empty string");
    Impl::set(*this, name, 7, multiStringBytes(value));
}

void Registry::writeInteger(std::string_view name, int32_t value) {
    auto lock = guard();
    const auto dw = static_cast<uint32_t>(value);
    Impl::set(*this, name, 4,
              {static_cast<uint8_t>(dw), static_cast<uint8_t>(dw >> 8),
               static_cast<uint8_t>(dw >> 16), static_cast<uint8_t>(dw >> 24)});
}

void Registry::writeBool(std::string_view name, bool value) {
    writeInteger(name, value ? 1 : 0);
}

void Registry::writeBinary(std::string_view name, const std::vector<uint8_t>& value) {
    auto lock = guard();
    Impl::set(*this, name, 3, value);
}

void Registry::writeDateTime(std::string_view name, double value) {
    auto lock = guard();
    std::vector<uint8_t> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    Impl::set(*this, name, 3, std::move(bytes));
}

void Registry::writeValue(std::string_view name, const RegValue& value) {
    auto lock = guard();
    Impl::set(*this, name, static_cast<uint32_t>(value.type), value.data);
}

bool Registry::deleteKey(std::string_view path) {
    auto lock = guard();
    Impl::refuseReadOnly(*this);
    const std::vector<std::string> comps = Impl::resolve(*this, path);
    const Location loc = locate(root_, comps);
    if (loc.isRoot || loc.usersRoot) {
        if (root_ == RootKey::DynData || comps.empty()) return false;
        throw RegistryError("the hive " + Impl::fullName(*this, comps) + " cannot be deleted");
    }
    ReleaseWhenClean release;
    lockRegistry();  // before the keys are looked up: taking it may read the hives anew
    std::vector<std::pair<Hive*, Key*>> found;
    for (size_t i = 0; i < loc.layers.size(); ++i) {
        if (!loc.deleteAll && static_cast<int>(i) != loc.writeLayer) continue;
        const Layer& l = loc.layers[i];
        if (Key* k = findKey(l)) found.emplace_back(&readHive(l.hive), k);
    }
    if (found.empty()) return false;
    for (const Layer& l : loc.layers)  // refuses before anything changes
        refuseLinks(writeHive(l.hive), l);
    for (auto& [h, k] : found)
        h->remove(*k);
    dirty_ = true;
    return true;
}

bool Registry::deleteValue(std::string_view rawName) {
    auto lock = guard();
    const std::string name = normalName(rawName);
    Impl::refuseReadOnly(*this);
    const Location loc = Impl::here(*this);
    ReleaseWhenClean release;
    lockRegistry();
    std::vector<std::pair<Hive*, Key*>> found;
    for (size_t i = 0; i < loc.layers.size(); ++i) {
        if (!loc.deleteAll && static_cast<int>(i) != loc.writeLayer) continue;
        const Layer& l = loc.layers[i];
        if (Key* k = findKey(l); k && k->findValue(name)) found.emplace_back(&readHive(l.hive), k);
    }
    if (found.empty()) return false;
    for (const Layer& l : loc.layers)
        refuseLinks(writeHive(l.hive), l);
    for (auto& [h, k] : found)
        h->deleteValue(*k, name);
    dirty_ = true;
    return true;
}

std::string registryWriteProblem() {
    auto lock = guard();
    try {
        followMachine();
        for (int id = 0; id < kHiveCount; ++id) {
            const Hive& h = readHive(id);
            if (!h.skippedLine().empty())
                return h.skippedLine() +
                       ": the registry file holds lines this program does not "
                       "understand, so it is not rewritten";
        }
        refuseWhileServerRuns();
    } catch (const std::exception& e) {
        return e.what();
    }
    if (::access(store().prefix.c_str(), W_OK) != 0)
        return "the folder " + store().prefix.string() +
               " of the registry cannot be written: " + errnoText();
    return {};
}

void flushRegistry() {
    auto lock = guard();
    saveAll();
}

void unloadRegistry() {
    auto lock = guard();
    Store& s = store();
    for (int id = 0; id < kHiveCount; ++id) {
        try {
            save(id);
        } catch (const std::exception& e) {
            std::cerr << "quillbox: registry changes not saved: " << e.what() << '\n';
        }
        s.slots[id] = HiveSlot{};
    }
    unlockRegistry();
    s.prefix.clear();
}

}  // namespace qb::platform
