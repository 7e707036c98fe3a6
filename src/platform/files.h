// Files and folders of the emulated machine, addressed by Windows paths.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb::platform {

// Host path of a Windows path ("C:\x", "\x" on drive C:). Each existing component
// resolves case-insensitively; components that do not exist are kept as written.
// No value for UNC paths, relative paths and drives without a mapping.
std::optional<std::filesystem::path> hostPath(std::string_view winPath);
// Windows path of a host path: through the drive whose target holds it, else Z:.
std::string windowsPath(const std::filesystem::path& host);
// The host folders a symbolic link met while backing up may lead into: the target
// of drive C: and the user's home folder, each fully resolved. The rest of the
// host system is no part of the machine a client sees.
std::vector<std::filesystem::path> linkTargetRoots();

// While an object of this class lives, path lookups on this thread read each
// folder's listing at most once and keep it, and read each drive's mapping once,
// so that a job that resolves thousands of paths in one folder costs what its
// files cost instead of a listing per file. Entries this layer creates or removes
// (folders, files written through it) update the kept listings; entries another
// writer makes in the job's name are told with noteNewEntry. A kept name is
// checked on disk before it is used, so removed entries are never taken for
// present; an entry that someone else creates meanwhile under a spelling that
// differs only in case is not seen until the object ends. Objects nest; the
// outermost one owns the listings.
class FolderListingCache {
  public:
    FolderListingCache();
    ~FolderListingCache();
    FolderListingCache(const FolderListingCache&) = delete;
    FolderListingCache& operator=(const FolderListingCache&) = delete;
};
// Tells the listings kept on this thread that the host path `host` and the
// folders above it exist (or are about to be created under exactly this spelling).
void noteNewEntry(const std::filesystem::path& host);

// Temporary files and folders of a process carry "<mark><pid>-" in their names, so
// that a later run can remove those a process left when it died.
// Whether a process of that id runs (or may run: one of another user).
bool processAlive(long pid);
// The process id in a name "...<mark><pid>-...", or 0.
long pidAfter(std::string_view name, std::string_view mark);
// Removes the files and links of the host folder `folder` whose names begin with
// `start` followed by "<pid>-", when that process is gone (never this process's).
void removeStaleTemporaries(const std::filesystem::path& folder, std::string_view start);

// File attributes with the Windows numbers.
enum : uint32_t {
    faReadOnly = 0x01,
    faHidden = 0x02,
    faSysFile = 0x04,
    faVolumeId = 0x08,
    faDirectory = 0x10,
    faArchive = 0x20,
    faAnyFile = 0x3F,
};

struct SearchRec {
    std::string name;
    uint32_t attr = 0;
    uint64_t size = 0;
    int64_t lastWrite = 0;  // seconds since 1970-01-01 UTC
};

// FindFirst/FindNext over "folder\mask": "." and ".." first, then matching entries
// in case-insensitive name order. Masks: "*", "*.*" (every name), "?", "*.ext".
// Plain files always match; directories only with faDirectory in `attr`, hidden
// and system entries only with faHidden / faSysFile (as Windows filters them).
// A drive root has no "." and ".." (as on Windows). Names starting with "." are
// hidden; nothing is a system file. Read-only: no write permission bit at all.
// Only regular files and folders are listed; symbolic links count as what they
// point to, and dangling links are skipped. A missing folder lists nothing.
std::vector<SearchRec> findFiles(std::string_view pattern, uint32_t attr);
// The mask rules of findFiles (the Windows long-name rules; 8.3 aliases play no part).
// The folders among what findFiles would return (with faDirectory), found without
// looking at the other entries: a directories-only search for walks that descend.
std::vector<SearchRec> findFolders(std::string_view pattern, uint32_t attr);
bool matchesMask(std::string_view name, std::string_view mask);

// Names compared as Windows compares file names: without regard to case for ASCII,
// Latin-1, Latin Extended-A, Greek and Cyrillic letters. compareNames gives the
// order in which NTFS lists a folder (by upper-case form).
int compareNames(std::string_view a, std::string_view b);
bool sameName(std::string_view a, std::string_view b);

// Why the last failed file or INI operation of this thread failed, naming the file.
std::string lastFileError();

bool fileExists(std::string_view path);
bool directoryExists(std::string_view path);
bool deleteFile(std::string_view path);
bool removeDir(std::string_view path);  // an empty folder
bool createDir(std::string_view path);  // one level
bool forceDirectories(std::string_view path);
std::optional<uint64_t> fileSize(std::string_view path);
// Gives the file `from` the name `to`, replacing a file there in one step (readers
// see the old file or the new one); both on one drive.
bool moveFileReplacing(std::string_view from, std::string_view to);
bool copyFile(std::string_view from, std::string_view to, bool failIfExists);

// Drives: letters 'A'..'Z'. Free bytes, or no value for a drive without mapping.
std::optional<uint64_t> diskFree(char drive);
enum class DriveType {
    Unknown = 0,
    NoRootDir = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6
};
DriveType driveType(char drive);

std::string windowsFolder();  // "C:\windows"
// The user's temporary folder, from TEMP in HKCU\Environment, expanded; created
// when missing. With a trailing backslash, as GetTempPath returns it.
std::string tempFolder();
// The folder of the running program, as a Windows path with a trailing backslash.
std::string programFolder();
// Expands %NAME% from the machine's environment (the user's and the system's
// Environment keys, and the variables Windows derives: USERPROFILE, APPDATA, ...).
std::string expandEnvironmentStrings(std::string_view text);

}  // namespace qb::platform
