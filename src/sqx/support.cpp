#include "sqx/support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <random>
#include <set>

namespace sqx {

namespace {

std::mutex g_errorMutex;
std::string g_lastError;

// The UTF-8 locale, made once per load of the library and freed when the
// library is unloaded (the program loads and unloads it around every job, so a
// locale kept past unloading would pile up). "C.UTF-8" ships with glibc; should
// it be missing, the library keeps the host's locale (names outside ASCII may
// then be stored with replacement characters).
class Utf8Locale {
  public:
    Utf8Locale() {
        loc_ = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (loc_ == static_cast<locale_t>(nullptr))
            loc_ = newlocale(LC_ALL_MASK, "C.utf8", static_cast<locale_t>(nullptr));
    }
    ~Utf8Locale() {
        if (loc_ != static_cast<locale_t>(nullptr)) freelocale(loc_);
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;
    locale_t get() const { return loc_; }

  private:
    locale_t loc_;
};

locale_t utf8Locale() {
    static const Utf8Locale loc;
    return loc.get();
}

// What the thread ran under before the outermost LocaleScope. Kept in the
// static TLS block ("initial-exec"): the library is loaded and unloaded around
// every job, and dynamically allocated TLS of an unloaded library is left
// behind where LeakSanitizer's exit scan trips over it.
__attribute__((tls_model("initial-exec"))) thread_local locale_t t_hostLocale =
    static_cast<locale_t>(nullptr);
__attribute__((tls_model("initial-exec"))) thread_local int t_depth = 0;

}  // namespace

void fail(int32_t code, std::string message) {
    throw Failure{code, std::move(message)};
}

int32_t codeForErrno(int err, int32_t fallback) {
    switch (err) {
        case ENOSPC:
        case EDQUOT:
            return SQX_ERR_DISK_FULL;
        case EROFS:
            return SQX_ERR_WRITE_PROTECTED;
        case EACCES:
        case EPERM:
            return SQX_ERR_ACCESS_DENIED;
        case ENAMETOOLONG:
            return SQX_ERR_NAME_TOO_LONG;
        case ENOMEM:
            return SQX_ERR_NO_MEMORY;
        default:
            return fallback;
    }
}

void failErrno(int err, int32_t fallback, std::string_view action, std::string_view path) {
    std::string text = "cannot ";
    text += action;
    text += ' ';
    text += path;
    text += ": ";
    text += std::strerror(err);
    fail(codeForErrno(err, fallback), std::move(text));
}

int createTemporary(const std::string& prefixPath, const std::string& suffix, mode_t mode,
                    std::string& path) {
    static std::mutex lock;
    static std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 32; ++attempt) {
        uint64_t r;
        {
            std::lock_guard<std::mutex> g(lock);
            r = random();
        }
        char tag[48];
        std::snprintf(tag, sizeof tag, "%ld-%012llx", static_cast<long>(::getpid()),
                      static_cast<unsigned long long>(r & 0xffffffffffffULL));
        path = prefixPath + tag + suffix;
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

void removeStaleTemporaries(const std::string& folder, const std::string& namePrefix,
                            const std::string& suffix) {
    static std::mutex lock;
    static std::set<std::string> done;
    {
        std::lock_guard<std::mutex> g(lock);
        if (!done.insert(folder + '\0' + namePrefix).second) return;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (!name.starts_with(namePrefix) || !name.ends_with(suffix)) continue;
        const std::string_view rest = name.substr(namePrefix.size());
        size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
            ++digits;
        // "<pid>-<random>", or "<pid>" alone as earlier versions named them.
        if (digits == 0 || (digits < rest.size() && rest[digits] != '-') ||
            (digits == rest.size() && !suffix.empty()))
            continue;
        const long pid = std::atol(std::string(rest.substr(0, digits)).c_str());
        if (pid <= 0 || pid == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        struct stat st;
        const std::string path = folder + "/" + std::string(name);
        if (::lstat(path.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
            ::unlink(path.c_str());
    }
    ::closedir(dir);
}

void setLastError(std::string text) {
    std::lock_guard<std::mutex> lock(g_errorMutex);
    g_lastError = std::move(text);
}

void clearLastError() {
    std::lock_guard<std::mutex> lock(g_errorMutex);
    g_lastError.clear();
}

std::string lastError() {
    std::lock_guard<std::mutex> lock(g_errorMutex);
    return g_lastError;
}

int32_t getI32(const void* record, size_t offset) {
    unsigned char b[4];
    std::memcpy(b, static_cast<const unsigned char*>(record) + offset, 4);
    uint32_t v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return static_cast<int32_t>(v);
}

void putI32(void* record, size_t offset, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                          static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    std::memcpy(static_cast<unsigned char*>(record) + offset, b, 4);
}

void putI64(void* record, size_t offset, int64_t value) {
    uint64_t v = static_cast<uint64_t>(value);
    putI32(record, offset, static_cast<int32_t>(static_cast<uint32_t>(v)));
    putI32(record, offset + 4, static_cast<int32_t>(static_cast<uint32_t>(v >> 32)));
}

void* getPtr(const void* record, size_t offset) {
    void* p;
    std::memcpy(&p, static_cast<const unsigned char*>(record) + offset, sizeof p);
    return p;
}

void putPtr(void* record, size_t offset, const void* value) {
    std::memcpy(static_cast<unsigned char*>(record) + offset, &value, sizeof value);
}

std::string getText(const void* record, size_t offset, size_t fieldLen) {
    const char* p = static_cast<const char*>(record) + offset;
    return std::string(p, strnlen(p, fieldLen));
}

bool putText(void* record, size_t offset, size_t fieldLen, std::string_view text) {
    char* p = static_cast<char*>(record) + offset;
    std::memset(p, 0, fieldLen);
    if (text.size() >= fieldLen) return false;
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    return true;
}

int32_t clampI32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < 0) return 0;
    return static_cast<int32_t>(value);
}

LocaleScope::LocaleScope() : previous_(static_cast<locale_t>(nullptr)) {
    locale_t ours = utf8Locale();
    if (ours == static_cast<locale_t>(nullptr)) return;
    previous_ = uselocale(ours);
    if (t_depth++ == 0) t_hostLocale = previous_;
}

LocaleScope::~LocaleScope() {
    if (previous_ == static_cast<locale_t>(nullptr)) return;
    uselocale(previous_);
    --t_depth;
}

LocaleScope::Suspend::Suspend() : ours_(static_cast<locale_t>(nullptr)) {
    if (t_depth == 0) return;
    ours_ = uselocale(t_hostLocale);
}

LocaleScope::Suspend::~Suspend() {
    if (ours_ != static_cast<locale_t>(nullptr)) uselocale(ours_);
}

}  // namespace sqx
