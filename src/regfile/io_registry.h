// Registry files: registry keys written to and read from REGEDIT4 text files.
//
// Backups carry client settings as these files, so the format is fixed: strings are
// written without escaping, the default value has an empty quoted name, only strings,
// DWORDs and binary data are carried (other types are written with no data), long
// binary values stay on one line, and lines end with CR LF. The reader reads exactly
// what the writer produces, and REGEDIT4 files of other tools as far as they follow
// the same rules.
//
// Text encoding: files are written as UTF-8 (without a byte order mark), the
// encoding of every string in this program; ASCII content is byte-for-byte the same
// as in a single-byte code page. A file that is not valid UTF-8 is read as
// Windows-1252, so files written by single-byte tools still read correctly.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace qb {

// The root keys a registry file setting can name; rkNONE names none.
enum TRootKeys {
    rkHKEY_CLASSES_ROOT,
    rkHKEY_CURRENT_USER,
    rkHKEY_LOCAL_MACHINE,
    rkHKEY_USERS,
    rkHKEY_CURRENT_CONFIG,
    rkHKEY_DYN_DATA,
    rkNONE
};

// Where an export puts its lines and an import takes them from: a file, or the
// component's RegistryData list.
enum TExpImpSource { eiFile, eiProperty };

// What an import line is.
enum TLineKind { lkHeader, lkKey, lkValue, lkComment, lkOther };

class TIORegistry;
using TProgressEvent = std::function<void(TIORegistry& sender, uint32_t progress, uint32_t level,
                                          uint32_t maxprogress, uint32_t maxlevel)>;

// An error that ends an import: unreadable hexadecimal data, a value line before
// any key line, a key that can be neither opened nor created, a value or a hive
// that the registry refuses to write, a file that exists but cannot be read. The
// text names the file, the line and what failed. What was written before stays.
class RegFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The registry file exporter and importer. The program keeps one for its whole run
// with the default settings below; export and import each use a registry accessor
// of their own and let it go (writing the hive back) before they return.
class TIORegistry {
  public:
    TIORegistry() = default;
    TIORegistry(const TIORegistry&) = delete;
    TIORegistry& operator=(const TIORegistry&) = delete;

    // Published settings. The export always writes the header "REGEDIT4"; the
    // import recognises RegHeader. IncludeSubKeys, RootKey, Filename and KeyToGet
    // are settings only: the operations take their own arguments.
    std::string RegHeader = "REGEDIT4";
    char DataNameValueDelim = '=';
    char StringStartEndChar = '"';
    char RootStart = '[';
    char RootEnd = ']';
    char KeyLevelDelim = '\\';
    std::string HexIntPrefix = "dword:";
    std::string BinaryPrefix = "hex:";
    bool IncludeSubKeys = true;
    TRootKeys RootKey = rkHKEY_CURRENT_USER;
    std::string Filename = "RegistryDump.reg";
    std::string KeyToGet;
    TExpImpSource ExportDestination = eiFile;
    TExpImpSource ImportSource = eiFile;
    // Lines exchanged when a destination or source is eiProperty. The export
    // appends to it and never clears it.
    std::vector<std::string> RegistryData;
    // Kept for users of the component; export and import leave them alone.
    std::vector<std::string> NewKeyList;
    std::vector<std::string> DeletedKeyList;
    std::vector<std::string> ExistingKeyList;
    std::string AddedPrefix = "Added   : ";
    std::string RemovedPrefix = "Removed : ";
    // Never raised by export or import.
    TProgressEvent OnProgressChange;

    // Writes the key `keyPath` (with or without a leading backslash) below the root
    // `rootName` ("" for HKEY_CURRENT_USER), with its whole subtree when
    // `includeSubKeys`, to the file `fileName` (a Windows path; replaced when it
    // exists). A key that does not exist is created, empty. Returns false, with the
    // reason in LastError(), when the key can be neither opened nor created (the
    // file then holds the header line only), when listing subkeys fails somewhere
    // in the subtree (that branch is left out) or when the file cannot be written.
    // Never throws and never shows anything.
    bool ExportKey(std::string_view rootName, std::string_view keyPath, bool includeSubKeys,
                   std::string_view fileName);

    // Reads the file `fileName` (a Windows path) into the registry. A missing file
    // shows "File "<name>" not found." and returns false; otherwise returns true,
    // or throws RegFileError when an error ends the import.
    bool ImportFile(std::string_view fileName);

    // The kind of an input line, judged after its leading blanks and control
    // characters: the header, a key line, a value line, a ";" comment, or other.
    TLineKind ClassifyLine(std::string_view line) const;

    // The exact, case-sensitive names of the predefined keys. A name that is none
    // of the six ("" and wrong letter case included) means HKEY_CURRENT_USER.
    static platform::RootKey RootKeyFromName(std::string_view name);
    static std::string RootKeyName(platform::RootKey root);

    // Why the last ExportKey returned false or the last ImportFile failed; empty
    // after a success.
    const std::string& LastError() const { return lastError_; }

  private:
    std::string lastError_;
};

}  // namespace qb
