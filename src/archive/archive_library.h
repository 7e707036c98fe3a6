// The program's interface to the archive library (libsqx.so): loading it at run
// time, typed calls of its entry points, the records it takes, and the translation
// between the Windows paths the jobs speak and the host paths the library opens.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qb::archive {

// Results of the library's operations.
constexpr int32_t kResultOk = 0;
constexpr int32_t kResultArchiveMissing = 2;
constexpr int32_t kResultPathNotMapped = 3;  // ours: a Windows path without a host path
constexpr int32_t kResultAccessDenied = 5;
constexpr int32_t kResultDamaged = 13;
constexpr int32_t kResultWrongPassword = 86;
constexpr int32_t kResultDiskFull = 101;
constexpr int32_t kResultWriteProtected = 150;
constexpr int32_t kResultNameTooLong = 206;
constexpr int32_t kResultAborted = 2926;
constexpr int32_t kResultExtractFailed = 9961;
constexpr int32_t kResultNotLoaded = -1;  // the entry point is absent

// Why the library calls back (the record's reason field).
constexpr int32_t kReasonProgress = 0;
constexpr int32_t kReasonOverwrite = 1;   // destination exists: answer kAnswerOverwrite
constexpr int32_t kReasonNextVolume = 2;  // path text: the next volume's path
constexpr int32_t kReasonPassword = 3;    // path text: the buffer for the password
constexpr int32_t kReasonNextEntry = 5;  // file name: the listed source, rewrite to the stored name
constexpr int32_t kReasonExtractEntry = 6;  // file name: the output path, may be rewritten
constexpr int32_t kReasonMissingEntry = 7;  // a listed name the archive does not hold

// Answers of a callback.
constexpr int32_t kAnswerStop = 0;
constexpr int32_t kAnswerGoOn = 1;
constexpr int32_t kAnswerOverwrite = 2;

// Volume kinds the library marks a next-volume request with when it reads.
constexpr int32_t kVolumeKindRead = 2;
constexpr int32_t kVolumeKindReadAlt = 11;

using SqxCallback = int32_t (*)(intptr_t user, void* record);

// The library's own file list: 12 bytes owned by the caller, filled by the library.
struct FileList {
    alignas(8) std::array<unsigned char, 12> bytes{};
    void* raw() { return bytes.data(); }
};

// The library's list of stored names: a 32-bit count at offset 0 and, at the
// unaligned offset 4, a pointer to a chain of nodes {next node, zero-terminated name}.
struct NameList {
    alignas(8) std::array<unsigned char, 12> bytes{};
    void* raw() { return bytes.data(); }
    int32_t count() const;
    // The names in chain order.
    std::vector<std::string> names() const;
};

// The 360-byte information record of a listing.
struct ArchiveInfo {
    alignas(8) std::array<unsigned char, 360> bytes{};
    void* raw() { return bytes.data(); }
};

// Options of an add operation (3740 bytes). Offsets: 0 size, 4 = 3, 16 = 1, 32 = 1,
// 40 password, 584 base folder (a host path), 1400 split flag, 1404 = 1, 1416 volume size.
struct ArchiveOptions {
    static constexpr size_t kSize = 3740;
    static constexpr size_t kPasswordOffset = 40;
    static constexpr size_t kPasswordSize = 584 - 40;
    static constexpr size_t kBaseFolderOffset = 584;
    static constexpr size_t kBaseFolderSize = 1400 - 584;
    static constexpr size_t kSplitOffset = 1400;
    static constexpr size_t kVolumeSizeOffset = 1416;
    alignas(8) std::array<unsigned char, kSize> bytes{};
    void* raw() { return bytes.data(); }
};

// Options of an extraction or a listing (828 bytes). Offsets: 0 size, 4 = 1,
// 8 sub-folder flag, 556 output folder (a host path).
struct ExtractOptions {
    static constexpr size_t kSize = 828;
    static constexpr size_t kSubFoldersOffset = 8;
    static constexpr size_t kOutputFolderOffset = 556;
    static constexpr size_t kOutputFolderSize = kSize - 556;
    alignas(8) std::array<unsigned char, kSize> bytes{};
    void* raw() { return bytes.data(); }
};

// Fills `out` from zero. The base folder is a Windows path and is stored as its host
// path. False, with `error` naming what failed, when the folder has no host path or
// a text does not fit its field.
bool MakeArchiveOptions(ArchiveOptions& out, std::string_view password, std::string_view baseFolder,
                        bool split, int32_t volumeSize, std::string* error = nullptr);
bool MakeExtractOptions(ExtractOptions& out, bool subFolders, std::string_view outputFolder,
                        std::string* error = nullptr);

// A view of the record the library hands to its callback.
class CallbackRecord {
  public:
    static constexpr size_t kFileNameOffset = 4;
    static constexpr size_t kFileNameSize = 272;
    static constexpr size_t kPathTextOffset = 276;
    static constexpr size_t kPathTextSize = 288;
    static constexpr size_t kVolumeKindOffset = 564;
    static constexpr size_t kReasonOffset = 572;
    static constexpr size_t kPercentOffset = 576;
    static constexpr size_t kDiskNumberOffset = 580;
    static constexpr size_t kMinSize = 584;

    explicit CallbackRecord(void* raw) : raw_(static_cast<unsigned char*>(raw)) {}
    void* raw() const { return raw_; }

    int32_t reason() const { return readInt(kReasonOffset); }
    int32_t volumeKind() const { return readInt(kVolumeKindOffset); }
    int32_t percent() const { return readInt(kPercentOffset); }
    uint32_t bytesNeeded() const { return static_cast<uint32_t>(readInt(kPercentOffset)); }
    int32_t diskNumber() const { return readInt(kDiskNumberOffset); }

    std::string fileName() const { return readText(kFileNameOffset, kFileNameSize); }
    std::string pathText() const { return readText(kPathTextOffset, kPathTextSize); }
    // False, and nothing written, when the text with its terminating zero does not fit.
    bool setFileName(std::string_view text) {
        return writeText(kFileNameOffset, kFileNameSize, text);
    }
    bool setPathText(std::string_view text) {
        return writeText(kPathTextOffset, kPathTextSize, text);
    }

    int32_t readInt(size_t offset) const;
    void writeInt(size_t offset, int32_t value);

  private:
    std::string readText(size_t offset, size_t size) const;
    bool writeText(size_t offset, size_t size, std::string_view text);
    unsigned char* raw_;
};

// Loading. The library is "libsqx.so" in the folder of the running program, or the
// file named by the environment variable QUILLBOX_SQX. Every one of the 13 entry
// points must resolve; otherwise the library is released, the table stays empty and
// the result is false. Loading again first releases a loaded library.
bool LoadArchiveLibrary();
void UnloadArchiveLibrary();
bool ArchiveLibraryLoaded();
// The file LoadArchiveLibrary opens.
std::filesystem::path ArchiveLibraryFile();
// Why the last load failed, naming the file and the failure ("" after success).
const std::string& ArchiveLibraryLoadError();

// The entry points. Each does nothing and gives kResultNotLoaded when its entry point
// is absent. Paths are Windows paths: a backup path, and a file-list entry that
// begins with a drive ("C:\...") or "\\", are handed to the library as host paths;
// other file-list texts (names inside a backup file, masks) go as they are. The
// callback sees Windows paths where the library reports host paths (the source at
// reason 5, the output path at reason 6, the next volume's path at reason 2), and
// a Windows path it leaves at reason 6 reaches the library as a host path.
int32_t SqxInitFileList(FileList& list);
int32_t SqxAddFileList(std::string_view pathOrName, FileList& list);
int32_t SqxDoneFileList(FileList& list);
// True for a Windows path with no place on this machine (an unmapped drive, a
// network path): SqxAddFileList leaves it out, so the library never announces it.
bool LeftOutOfFileList(std::string_view pathOrName);
int32_t SqxAddFiles(std::string_view backupPath, FileList& list, ArchiveOptions& options,
                    SqxCallback callback, intptr_t user);
int32_t SqxExtractFiles(std::string_view backupPath, FileList& list, ExtractOptions& options,
                        SqxCallback callback, intptr_t user);
// Reads back every file of the backup matching the list's masks (every file for an
// empty list) and checks it: kResultOk when all are whole, kResultExtractFailed
// with SqxLastError naming the first damaged entry, kResultDamaged for a file
// that cannot be read as a backup at all.
int32_t SqxTestFiles(std::string_view backupPath, FileList& list, SqxCallback callback,
                     intptr_t user);
int32_t SqxInitArcFileList(NameList& names);
int32_t SqxListFiles(std::string_view backupPath, FileList& list, NameList& names,
                     ArchiveInfo& info, ExtractOptions& options, SqxCallback callback,
                     intptr_t user);
int32_t SqxDoneArcFileList(NameList& names);

// Text of the last failure: a path translation of this interface, else the
// library's own last error (naming the file, as a Windows path, and what failed);
// "" when there is none.
std::string SqxLastError();
// `text` with every host path in it (from a "/" at the start or after a blank or a
// quote, up to a quote, a ": " or the end) written as a Windows path.
std::string WindowsPathsInText(std::string_view text);

}  // namespace qb::archive
