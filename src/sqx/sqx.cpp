// The exported C entry points: record handling around the jobs.
#include "sqx/sqx.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sqx/callback.h"
#include "sqx/jobs.h"
#include "sqx/names.h"
#include "sqx/support.h"

using namespace sqx;

namespace {

// What a file list record points to. The tag catches records that were
// never initialised or are used after SqxDoneFileList.
struct FileListStorage {
    static constexpr uint32_t kTag = 0x5153464cu;
    uint32_t tag = kTag;
    std::vector<std::string> items;
};

FileListStorage& storageOf(void* fileList) {
    if (!fileList) fail(SQX_ERR_INVALID_PARAM, "file list missing");
    auto* s = static_cast<FileListStorage*>(getPtr(fileList, SQX_FILELIST_OFS_STORAGE));
    if (!s || s->tag != FileListStorage::kTag)
        fail(SQX_ERR_INVALID_PARAM, "file list not initialised");
    return *s;
}

std::string pathArg(const char* path, const char* what) {
    if (!path || !*path) fail(SQX_ERR_INVALID_PARAM, std::string("no ") + what + " given");
    return path;
}

void freeNodes(void* nameList) {
    auto* node = static_cast<SqxArcFileNode*>(getPtr(nameList, SQX_NAMELIST_OFS_FIRST));
    while (node) {
        SqxArcFileNode* next = node->next;
        std::free(node);
        node = next;
    }
    putI32(nameList, SQX_NAMELIST_OFS_COUNT, 0);
    putPtr(nameList, SQX_NAMELIST_OFS_FIRST, nullptr);
}

SqxArcFileNode* newNode(const std::string& name) {
    size_t bytes =
        std::max(sizeof(SqxArcFileNode), offsetof(SqxArcFileNode, name) + name.size() + 1);
    void* mem = std::calloc(1, bytes);
    if (!mem) throw std::bad_alloc();
    auto* node = static_cast<SqxArcFileNode*>(mem);
    // The name runs past the declared one-byte array: address it from the
    // start of the allocation.
    std::memcpy(static_cast<char*>(mem) + offsetof(SqxArcFileNode, name), name.c_str(),
                name.size() + 1);
    return node;
}

int32_t notSupported(const char* what) {
    return runJob([&]() -> int32_t {
        fail(SQX_ERR_NOT_SUPPORTED, std::string(what) + " is not supported by this library");
    });
}

}  // namespace

extern "C" {

SQX_API int32_t SqxInitFileList(void* fileList) {
    return runJob(
        [&] {
            if (!fileList) fail(SQX_ERR_INVALID_PARAM, "file list missing");
            auto* s = new FileListStorage;
            putI32(fileList, SQX_FILELIST_OFS_COUNT, 0);
            putPtr(fileList, SQX_FILELIST_OFS_STORAGE, s);
            return SQX_OK;
        },
        Clears::Nothing);
}

SQX_API int32_t SqxAddFileList(const char* pathOrPattern, void* fileList) {
    return runJob(
        [&] {
            FileListStorage& s = storageOf(fileList);
            if (!pathOrPattern) fail(SQX_ERR_INVALID_PARAM, "no name given");
            s.items.emplace_back(pathOrPattern);
            putI32(fileList, SQX_FILELIST_OFS_COUNT,
                   clampI32(static_cast<int64_t>(s.items.size())));
            return SQX_OK;
        },
        Clears::Nothing);
}

SQX_API int32_t SqxDoneFileList(void* fileList) {
    return runJob(
        [&] {
            FileListStorage& s = storageOf(fileList);
            s.tag = 0;
            delete &s;
            putI32(fileList, SQX_FILELIST_OFS_COUNT, 0);
            putPtr(fileList, SQX_FILELIST_OFS_STORAGE, nullptr);
            return SQX_OK;
        },
        Clears::Nothing);
}

SQX_API int32_t SqxAddFiles(const char* archivePath, void* fileList, void* archiveOptions,
                            SqxCallback callback, intptr_t user) {
    return runJob([&] {
        std::string path = pathArg(archivePath, "archive path");
        const FileListStorage& s = storageOf(fileList);
        AddOptions options = parseAddOptions(archiveOptions);
        Callback cb(callback, user);
        addFiles(path, s.items, options, cb);
        return SQX_OK;
    });
}

SQX_API int32_t SqxExtractFiles(const char* archivePath, void* fileList, void* extractOptions,
                                SqxCallback callback, intptr_t user) {
    return runJob([&] {
        std::string path = pathArg(archivePath, "archive path");
        const FileListStorage& s = storageOf(fileList);
        ExtractOptions options = parseExtractOptions(extractOptions);
        Callback cb(callback, user);
        return extractFiles(path, s.items, options, cb);
    });
}

SQX_API int32_t SqxInitArcFileList(void* nameList) {
    return runJob(
        [&] {
            if (!nameList) fail(SQX_ERR_INVALID_PARAM, "name list missing");
            putI32(nameList, SQX_NAMELIST_OFS_COUNT, 0);
            putPtr(nameList, SQX_NAMELIST_OFS_FIRST, nullptr);
            return SQX_OK;
        },
        Clears::Nothing);
}

SQX_API int32_t SqxListFiles(const char* archivePath, void* fileList, void* nameList, void* info,
                             void* extractOptions, SqxCallback callback, intptr_t user) {
    (void)extractOptions;  // nothing in it concerns listing
    return runJob([&] {
        std::string path = pathArg(archivePath, "archive path");
        if (!nameList) fail(SQX_ERR_INVALID_PARAM, "name list missing");
        std::vector<std::string> patterns;
        if (fileList) patterns = storageOf(fileList).items;
        Callback cb(callback, user);
        Listing listing = listArchive(path, cb);

        freeNodes(nameList);
        SqxArcFileNode* head = nullptr;
        SqxArcFileNode** tail = &head;
        int64_t count = 0, files = 0, folders = 0, encrypted = 0, totalSize = 0;
        try {
            for (const ListedName& e : listing.entries) {
                std::string hostName = hostNameOf(e.name);
                bool wanted = patterns.empty();
                for (const std::string& p : patterns)
                    if (!wanted && wildcardMatch(p, hostName)) wanted = true;
                if (!wanted) continue;
                *tail = newNode(hostName);
                tail = &(*tail)->next;
                ++count;
                if (e.folder) {
                    ++folders;
                } else {
                    ++files;
                    totalSize += e.size;
                    if (e.encrypted) ++encrypted;
                }
            }
        } catch (...) {
            putPtr(nameList, SQX_NAMELIST_OFS_FIRST, head);
            freeNodes(nameList);
            throw;
        }
        putPtr(nameList, SQX_NAMELIST_OFS_FIRST, head);
        putI32(nameList, SQX_NAMELIST_OFS_COUNT, clampI32(count));

        if (info) {
            std::memset(info, 0, SQX_INFO_SIZE);
            putI32(info, SQX_INFO_OFS_SIZE, SQX_INFO_SIZE);
            putI32(info, SQX_INFO_OFS_ENTRIES, clampI32(count));
            putI32(info, SQX_INFO_OFS_FILES, clampI32(files));
            putI32(info, SQX_INFO_OFS_FOLDERS, clampI32(folders));
            putI32(info, SQX_INFO_OFS_ENCRYPTED, clampI32(encrypted));
            putI32(info, SQX_INFO_OFS_VOLUMES, clampI32(static_cast<int64_t>(listing.volumes)));
            putI64(info, SQX_INFO_OFS_TOTAL_SIZE, totalSize);
            putI64(info, SQX_INFO_OFS_ARCHIVE_SIZE, static_cast<int64_t>(listing.archiveBytes));
            putI32(info, SQX_INFO_OFS_ALL_ENTRIES,
                   clampI32(static_cast<int64_t>(listing.entries.size())));
            putText(info, SQX_INFO_OFS_FORMAT, SQX_INFO_FORMAT_LEN, "ZIP");
        }
        return SQX_OK;
    });
}

SQX_API int32_t SqxDoneArcFileList(void* nameList) {
    return runJob(
        [&] {
            if (!nameList) fail(SQX_ERR_INVALID_PARAM, "name list missing");
            freeNodes(nameList);
            return SQX_OK;
        },
        Clears::Nothing);
}

SQX_API int32_t SqxAddArchiveComment(const char* archivePath, const char* comment,
                                     SqxCallback callback, intptr_t user) {
    (void)archivePath, (void)comment, (void)callback, (void)user;
    return notSupported("adding an archive comment");
}

SQX_API int32_t SqxAddFileComments(const char* archivePath, void* fileList, SqxCallback callback,
                                   intptr_t user) {
    (void)archivePath, (void)fileList, (void)callback, (void)user;
    return notSupported("adding file comments");
}

SQX_API int32_t SqxTestFiles(const char* archivePath, void* fileList, void* extractOptions,
                             SqxCallback callback, intptr_t user) {
    (void)extractOptions;  // nothing in it concerns testing
    return runJob([&] {
        std::string path = pathArg(archivePath, "archive path");
        std::vector<std::string> patterns;
        if (fileList) patterns = storageOf(fileList).items;
        Callback cb(callback, user);
        return testArchive(path, patterns, cb);
    });
}

SQX_API int32_t SqxDeleteFiles(const char* archivePath, void* fileList, SqxCallback callback,
                               intptr_t user) {
    (void)archivePath, (void)fileList, (void)callback, (void)user;
    return notSupported("deleting from an archive");
}

SQX_API int32_t SqxRepairFiles(const char* archivePath, const char* repairedPath,
                               SqxCallback callback, intptr_t user) {
    (void)archivePath, (void)repairedPath, (void)callback, (void)user;
    return notSupported("repairing an archive");
}

SQX_API int32_t SqxGetLastError(char* buffer, int32_t size) {
    std::string text = lastError();
    if (buffer && size > 0) {
        size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
        // Do not cut a UTF-8 sequence in half.
        while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return clampI32(static_cast<int64_t>(text.size()));
}

}  // extern "C"
