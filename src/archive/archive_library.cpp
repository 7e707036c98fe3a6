#include "archive/archive_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/files.h"
#include "sqx/sqx.h"

namespace qb::archive {

namespace fs = std::filesystem;

// The records as the library defines them.
static_assert(sizeof(FileList{}.bytes) == SQX_FILELIST_SIZE);
static_assert(sizeof(NameList{}.bytes) == SQX_NAMELIST_SIZE);
static_assert(sizeof(ArchiveInfo{}.bytes) == SQX_INFO_SIZE);
static_assert(ArchiveOptions::kSize == SQX_AO_SIZE);
static_assert(ArchiveOptions::kPasswordOffset == SQX_AO_OFS_PASSWORD);
static_assert(ArchiveOptions::kPasswordSize == SQX_AO_PASSWORD_LEN);
static_assert(ArchiveOptions::kBaseFolderOffset == SQX_AO_OFS_BASEDIR);
static_assert(ArchiveOptions::kBaseFolderSize == SQX_AO_BASEDIR_LEN);
static_assert(ArchiveOptions::kSplitOffset == SQX_AO_OFS_SPLIT);
static_assert(ArchiveOptions::kVolumeSizeOffset == SQX_AO_OFS_VOLUME_SIZE);
static_assert(ExtractOptions::kSize == SQX_EO_SIZE);
static_assert(ExtractOptions::kSubFoldersOffset == SQX_EO_OFS_SUBFOLDERS);
static_assert(ExtractOptions::kOutputFolderOffset == SQX_EO_OFS_OUTDIR);
static_assert(ExtractOptions::kOutputFolderSize == SQX_EO_OUTDIR_LEN);
static_assert(CallbackRecord::kFileNameOffset == SQX_CB_OFS_NAME);
static_assert(CallbackRecord::kFileNameSize == SQX_CB_NAME_LEN);
static_assert(CallbackRecord::kPathTextOffset == SQX_CB_OFS_TEXT);
static_assert(CallbackRecord::kPathTextSize == SQX_CB_TEXT_LEN);
static_assert(CallbackRecord::kVolumeKindOffset == SQX_CB_OFS_VOLUME_KIND);
static_assert(CallbackRecord::kReasonOffset == SQX_CB_OFS_REASON);
static_assert(CallbackRecord::kPercentOffset == SQX_CB_OFS_VALUE);
static_assert(CallbackRecord::kDiskNumberOffset == SQX_CB_OFS_DISK);
static_assert(offsetof(SqxArcFileNode, name) == sizeof(void*));
static_assert(kReasonNextEntry == SQX_REASON_ADD && kReasonExtractEntry == SQX_REASON_EXTRACT &&
              kReasonMissingEntry == SQX_REASON_ABSENT && kVolumeKindRead == SQX_VOLUME_READ);
static_assert(kResultAborted == SQX_ERR_ABORTED && kResultDamaged == SQX_ERR_BAD_ARCHIVE &&
              kResultNameTooLong == SQX_ERR_NAME_TOO_LONG);

namespace {

using InitListFn = int32_t (*)(void*);
using AddListFn = int32_t (*)(const char*, void*);
using AddFilesFn = int32_t (*)(const char*, void*, void*, SqxCallback, intptr_t);
using ListFilesFn = int32_t (*)(const char*, void*, void*, void*, void*, SqxCallback, intptr_t);
using LastErrorFn = int32_t (*)(char*, int32_t);

struct EntryPoints {
    InitListFn initFileList = nullptr;
    AddListFn addFileList = nullptr;
    InitListFn doneFileList = nullptr;
    AddFilesFn addFiles = nullptr;
    AddFilesFn extractFiles = nullptr;
    InitListFn initArcFileList = nullptr;
    ListFilesFn listFiles = nullptr;
    InitListFn doneArcFileList = nullptr;
    // Resolved so that a library without them counts as damaged; never called.
    void* addArchiveComment = nullptr;
    void* addFileComments = nullptr;
    void* testFiles = nullptr;
    void* deleteFiles = nullptr;
    void* repairFiles = nullptr;
    // Not one of the 13: used when present.
    LastErrorFn getLastError = nullptr;
};

struct LibraryState {
    void* handle = nullptr;
    EntryPoints entries;
    std::string loadError;
    std::string callError;  // a failure of this interface during the last call
};

LibraryState& state() {
    static LibraryState s;
    return s;
}

// Resolves one name; false when it is missing.
template <typename Fn>
bool resolve(void* handle, const char* name, Fn& slot, std::string& missing) {
    void* p = ::dlsym(handle, name);
    if (!p) {
        if (!missing.empty()) missing += ", ";
        missing += name;
        return false;
    }
    slot = reinterpret_cast<Fn>(p);
    return true;
}

bool isWindowsPath(std::string_view text) {
    if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\') return true;
    return text.size() >= 2 && text[1] == ':' &&
           ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
}

std::optional<std::string> hostText(std::string_view winPath) {
    auto host = platform::hostPath(winPath);
    if (!host) return std::nullopt;
    return host->string();
}

void writeBytes(unsigned char* base, size_t offset, int32_t value) {
    std::memcpy(base + offset, &value, sizeof value);
}

bool writeField(unsigned char* base, size_t offset, size_t size, std::string_view text) {
    if (text.size() >= size) return false;
    std::memcpy(base + offset, text.data(), text.size());
    base[offset + text.size()] = 0;
    return true;
}

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

// What the trampoline needs to call the job's callback.
struct CallContext {
    SqxCallback callback;
    intptr_t user;
};

// Translates host paths in the record to Windows paths for the job's callback, and
// what the callback leaves back to host paths for the library.
int32_t trampoline(intptr_t user, void* raw) {
    const auto* ctx = reinterpret_cast<const CallContext*>(user);
    CallbackRecord record(raw);
    const int32_t reason = record.reason();

    if (reason == kReasonNextEntry) {
        const std::string source = record.fileName();
        if (!source.empty() && source.front() == '/') {
            std::string win = platform::windowsPath(fs::path(source));
            if (!record.setFileName(win)) record.setFileName("");
        }
        return ctx->callback(ctx->user, raw);
    }

    if (reason == kReasonExtractEntry) {
        const std::string hostOut = record.fileName();
        std::string given = hostOut;
        if (!hostOut.empty() && hostOut.front() == '/') {
            given = platform::windowsPath(fs::path(hostOut));
            if (!record.setFileName(given)) {
                state().callError = "Output path too long: " + given;
                return kAnswerStop;
            }
        }
        const int32_t answer = ctx->callback(ctx->user, raw);
        const std::string left = record.fileName();
        if (left == given) {
            record.setFileName(hostOut);
        } else if (isWindowsPath(left)) {
            auto host = hostText(left);
            if (!host) {
                state().callError = "No place on this machine for " + left;
                return kAnswerStop;
            }
            if (!record.setFileName(*host)) {
                state().callError = "Output path too long: " + left;
                return kAnswerStop;
            }
        }
        return answer;
    }

    if (reason == kReasonNextVolume) {
        const std::string hostNext = record.pathText();
        std::string given = hostNext;
        if (!hostNext.empty() && hostNext.front() == '/') {
            given = platform::windowsPath(fs::path(hostNext));
            if (!record.setPathText(given)) given = hostNext;
        }
        const int32_t answer = ctx->callback(ctx->user, raw);
        const std::string left = record.pathText();
        if (left == given) {
            record.setPathText(hostNext);
        } else if (isWindowsPath(left)) {
            auto host = hostText(left);
            if (!host || !record.setPathText(*host)) {
                state().callError = "No place on this machine for the volume " + left;
                return kAnswerStop;
            }
        }
        return answer;
    }

    return ctx->callback(ctx->user, raw);
}

// Host path of a backup path, or the reason there is none.
std::optional<std::string> backupHostPath(std::string_view backupPath) {
    auto host = hostText(backupPath);
    if (!host) state().callError = "No place on this machine for " + std::string(backupPath);
    return host;
}

}  // namespace

// ---- records ----

int32_t NameList::count() const {
    int32_t n = 0;
    std::memcpy(&n, bytes.data(), sizeof n);
    return n;
}

std::vector<std::string> NameList::names() const {
    std::vector<std::string> out;
    const unsigned char* node = nullptr;
    std::memcpy(&node, bytes.data() + 4, sizeof node);
    while (node) {
        out.emplace_back(reinterpret_cast<const char*>(node + sizeof(void*)));
        const unsigned char* next = nullptr;
        std::memcpy(&next, node, sizeof next);
        node = next;
    }
    return out;
}

bool MakeArchiveOptions(ArchiveOptions& out, std::string_view password, std::string_view baseFolder,
                        bool split, int32_t volumeSize, std::string* error) {
    out.bytes.fill(0);
    unsigned char* b = out.bytes.data();
    writeBytes(b, 0, static_cast<int32_t>(ArchiveOptions::kSize));
    writeBytes(b, 4, 3);
    writeBytes(b, 16, 1);
    writeBytes(b, 32, 1);
    if (!writeField(b, ArchiveOptions::kPasswordOffset, ArchiveOptions::kPasswordSize, password)) {
        setError(error, "The backup password is too long.");
        return false;
    }
    if (!baseFolder.empty()) {
        auto host = hostText(baseFolder);
        if (!host) {
            setError(error, "No place on this machine for " + std::string(baseFolder));
            return false;
        }
        if (!writeField(b, ArchiveOptions::kBaseFolderOffset, ArchiveOptions::kBaseFolderSize,
                        *host)) {
            setError(error, "Folder path too long: " + std::string(baseFolder));
            return false;
        }
    }
    writeBytes(b, ArchiveOptions::kSplitOffset, split ? 1 : 0);
    writeBytes(b, 1404, 1);
    writeBytes(b, ArchiveOptions::kVolumeSizeOffset, volumeSize);
    return true;
}

bool MakeExtractOptions(ExtractOptions& out, bool subFolders, std::string_view outputFolder,
                        std::string* error) {
    out.bytes.fill(0);
    unsigned char* b = out.bytes.data();
    writeBytes(b, 0, static_cast<int32_t>(ExtractOptions::kSize));
    writeBytes(b, 4, 1);
    writeBytes(b, ExtractOptions::kSubFoldersOffset, subFolders ? 1 : 0);
    if (!outputFolder.empty()) {
        auto host = hostText(outputFolder);
        if (!host) {
            setError(error, "No place on this machine for " + std::string(outputFolder));
            return false;
        }
        if (!writeField(b, ExtractOptions::kOutputFolderOffset, ExtractOptions::kOutputFolderSize,
                        *host)) {
            setError(error, "Folder path too long: " + std::string(outputFolder));
            return false;
        }
    }
    return true;
}

int32_t CallbackRecord::readInt(size_t offset) const {
    int32_t v = 0;
    std::memcpy(&v, raw_ + offset, sizeof v);
    return v;
}

void CallbackRecord::writeInt(size_t offset, int32_t value) {
    std::memcpy(raw_ + offset, &value, sizeof value);
}

std::string CallbackRecord::readText(size_t offset, size_t size) const {
    const char* p = reinterpret_cast<const char*>(raw_ + offset);
    return std::string(p, ::strnlen(p, size));
}

bool CallbackRecord::writeText(size_t offset, size_t size, std::string_view text) {
    return writeField(raw_, offset, size, text);
}

// ---- loading ----

fs::path ArchiveLibraryFile() {
    if (const char* env = std::getenv("QUILLBOX_SQX"); env && *env) return fs::path(env);
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return fs::path("libsqx.so");
    const fs::path beside = exe.parent_path() / "libsqx.so";
    // An installation keeps it in its library folder (bin/../lib).
    for (const char* lib : {"lib", "lib64"}) {
        const fs::path installed = exe.parent_path().parent_path() / lib / "libsqx.so";
        if (!fs::exists(beside, ec) && fs::exists(installed, ec)) return installed;
    }
    return beside;
}

bool LoadArchiveLibrary() {
    UnloadArchiveLibrary();
    LibraryState& s = state();
    const fs::path file = ArchiveLibraryFile();
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        s.loadError = "Cannot load the archive library " + file.string() + ": " +
                      (why ? why : "unknown failure");
        return false;
    }
    EntryPoints e;
    std::string missing;
    resolve(handle, "SqxInitFileList", e.initFileList, missing);
    resolve(handle, "SqxAddFileList", e.addFileList, missing);
    resolve(handle, "SqxDoneFileList", e.doneFileList, missing);
    resolve(handle, "SqxAddFiles", e.addFiles, missing);
    resolve(handle, "SqxExtractFiles", e.extractFiles, missing);
    resolve(handle, "SqxInitArcFileList", e.initArcFileList, missing);
    resolve(handle, "SqxListFiles", e.listFiles, missing);
    resolve(handle, "SqxDoneArcFileList", e.doneArcFileList, missing);
    resolve(handle, "SqxAddArchiveComment", e.addArchiveComment, missing);
    resolve(handle, "SqxAddFileComments", e.addFileComments, missing);
    resolve(handle, "SqxTestFiles", e.testFiles, missing);
    resolve(handle, "SqxDeleteFiles", e.deleteFiles, missing);
    resolve(handle, "SqxRepairFiles", e.repairFiles, missing);
    if (!missing.empty()) {
        ::dlclose(handle);
        s.loadError = "The archive library " + file.string() + " lacks " + missing;
        return false;
    }
    std::string unused;
    resolve(handle, "SqxGetLastError", e.getLastError, unused);
    s.handle = handle;
    s.entries = e;
    s.loadError.clear();
    return true;
}

void UnloadArchiveLibrary() {
    LibraryState& s = state();
    if (s.handle) ::dlclose(s.handle);
    s.handle = nullptr;
    s.entries = EntryPoints{};
}

bool ArchiveLibraryLoaded() {
    return state().handle != nullptr;
}

const std::string& ArchiveLibraryLoadError() {
    return state().loadError;
}

// ---- entry points ----

namespace {
const EntryPoints& entries() {
    state().callError.clear();
    return state().entries;
}
}  // namespace

int32_t SqxInitFileList(FileList& list) {
    const auto& e = entries();
    return e.initFileList ? e.initFileList(list.raw()) : kResultNotLoaded;
}

int32_t SqxAddFileList(std::string_view pathOrName, FileList& list) {
    const auto& e = entries();
    if (!e.addFileList) return kResultNotLoaded;
    if (isWindowsPath(pathOrName)) {
        // A path on no drive of this machine cannot exist here: like any missing
        // source it is left out (see LeftOutOfFileList).
        auto host = hostText(pathOrName);
        if (!host) return kResultOk;
        return e.addFileList(host->c_str(), list.raw());
    }
    return e.addFileList(std::string(pathOrName).c_str(), list.raw());
}

bool LeftOutOfFileList(std::string_view pathOrName) {
    return isWindowsPath(pathOrName) && !platform::hostPath(pathOrName);
}

int32_t SqxDoneFileList(FileList& list) {
    const auto& e = entries();
    return e.doneFileList ? e.doneFileList(list.raw()) : kResultNotLoaded;
}

int32_t SqxAddFiles(std::string_view backupPath, FileList& list, ArchiveOptions& options,
                    SqxCallback callback, intptr_t user) {
    const auto& e = entries();
    if (!e.addFiles) return kResultNotLoaded;
    auto host = backupHostPath(backupPath);
    if (!host) return kResultPathNotMapped;
    CallContext ctx{callback, user};
    int32_t r = e.addFiles(host->c_str(), list.raw(), options.raw(),
                           callback ? trampoline : nullptr, reinterpret_cast<intptr_t>(&ctx));
    if (r == kResultAborted && !state().callError.empty()) return kResultNameTooLong;
    return r;
}

int32_t SqxExtractFiles(std::string_view backupPath, FileList& list, ExtractOptions& options,
                        SqxCallback callback, intptr_t user) {
    const auto& e = entries();
    if (!e.extractFiles) return kResultNotLoaded;
    auto host = backupHostPath(backupPath);
    if (!host) return kResultPathNotMapped;
    CallContext ctx{callback, user};
    int32_t r = e.extractFiles(host->c_str(), list.raw(), options.raw(),
                               callback ? trampoline : nullptr, reinterpret_cast<intptr_t>(&ctx));
    if (r == kResultAborted && !state().callError.empty()) return kResultNameTooLong;
    return r;
}

int32_t SqxInitArcFileList(NameList& names) {
    const auto& e = entries();
    return e.initArcFileList ? e.initArcFileList(names.raw()) : kResultNotLoaded;
}

int32_t SqxListFiles(std::string_view backupPath, FileList& list, NameList& names,
                     ArchiveInfo& info, ExtractOptions& options, SqxCallback callback,
                     intptr_t user) {
    const auto& e = entries();
    if (!e.listFiles) return kResultNotLoaded;
    auto host = backupHostPath(backupPath);
    if (!host) return kResultPathNotMapped;
    CallContext ctx{callback, user};
    return e.listFiles(host->c_str(), list.raw(), names.raw(), info.raw(), options.raw(),
                       callback ? trampoline : nullptr, reinterpret_cast<intptr_t>(&ctx));
}

int32_t SqxDoneArcFileList(NameList& names) {
    const auto& e = entries();
    return e.doneArcFileList ? e.doneArcFileList(names.raw()) : kResultNotLoaded;
}

std::string SqxLastError() {
    const LibraryState& s = state();
    if (!s.callError.empty()) return s.callError;
    if (!s.handle) return s.loadError.empty() ? "The archive library is not loaded." : s.loadError;
    if (!s.entries.getLastError) return {};
    char buf[2048] = {};
    s.entries.getLastError(buf, static_cast<int32_t>(sizeof buf));
    buf[sizeof buf - 1] = 0;
    return WindowsPathsInText(buf);
}

std::string WindowsPathsInText(std::string_view text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const bool starts = text[i] == '/' && (i == 0 || text[i - 1] == ' ' || text[i - 1] == '"');
        if (!starts) {
            out += text[i++];
            continue;
        }
        size_t end = text.size();
        for (size_t j = i; j < text.size(); ++j) {
            if (text[j] == '"' ||
                (text[j] == ':' && (j + 1 == text.size() || text[j + 1] == ' '))) {
                end = j;
                break;
            }
        }
        out += platform::windowsPath(fs::path(std::string(text.substr(i, end - i))));
        i = end;
    }
    return out;
}

}  // namespace qb::archive
