// The three jobs behind the entry points. Each throws Failure on error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sqx/callback.h"

namespace sqx {

struct AddOptions {
    int level = 6;  // zlib level; 0 stores
    bool recurse = true;
    std::string password;
    uint64_t volumeSize = 0;  // 0: no volumes
    bool askVolumes = true;
};
// Reads (and checks) the caller's 3740-byte record.
AddOptions parseAddOptions(const void* record);
void addFiles(const std::string& archivePath, const std::vector<std::string>& sources,
              const AddOptions& options, Callback& cb);

struct ExtractOptions {
    bool askOverwrite = true;
    bool subfolders = false;
    std::string outputFolder;
};
ExtractOptions parseExtractOptions(const void* record);
// Returns the result code: 0, or the code of the first entry that failed
// while the job went on (refused names, damaged entries).
int32_t extractFiles(const std::string& archivePath, const std::vector<std::string>& names,
                     const ExtractOptions& options, Callback& cb);

struct ListedName {
    std::string name;  // as stored, "/" separators, folders end with "/"
    bool folder = false;
    bool encrypted = false;
    int64_t size = 0;
};
struct Listing {
    std::vector<ListedName> entries;  // every entry, in archive order
    size_t volumes = 0;
    uint64_t archiveBytes = 0;
};
Listing listArchive(const std::string& archivePath, Callback& cb);

// Reads every stored file whose name matches one of the patterns (all files
// when there are none) to its end, so that its CRC-32 and, when encrypted, its
// authentication code are checked. Returns SQX_OK, or throws: SQX_ERR_EXTRACT
// naming the first damaged entry, SQX_ERR_BAD_ARCHIVE for an archive that
// cannot be read at all.
int32_t testArchive(const std::string& archivePath, const std::vector<std::string>& patterns,
                    Callback& cb);

}  // namespace sqx
