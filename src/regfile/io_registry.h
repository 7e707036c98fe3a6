// Registry files: registry keys written to and read from text files, in two forms.
//
// The backup form (RegFileFormat::Backup) is what backups carry, so it stays as
// backups have always had it: header "REGEDIT4", strings written without escaping,
// the default value with an empty quoted name, DWORDs as "dword:" and eight digits,
// binary data as "hex:" on one line, lines ending with CR LF, UTF-8 text. Every
// value that this plain notation cannot carry exactly is written in the REGEDIT4
// typed notation instead: "hex(2):" for REG_EXPAND_SZ, "hex(7):" for REG_MULTI_SZ,
// "hex(b):" for REG_QWORD, "hex(N):" for any other type N, "hex(1):" for a string
// holding line breaks or NULs or lacking its terminator, "hex:" with no bytes for
// empty binary data. As in REGEDIT4, the bytes of the string types are the text in
// the file's encoding (here UTF-8), NULs included. Files written before the typed
// notation existed read exactly as they always did (their strings that span lines
// included).
//
// The standard form (RegFileFormat::Standard) is what the Windows registry editor
// writes with /E and imports by hand: header "Windows Registry Editor Version
// 5.00", UTF-16LE with a byte order mark, "@=" for the default value, "\\" and "\""
// escaped in names and strings, every other type as "hex(N):" with UTF-16LE string
// bytes, long data wrapped with ",\" continuation lines. Its reader also takes
// REGEDIT4 files of the registry editor (escaped, code page bytes in hex(N) data),
// UTF-8 with or without a byte order mark, "=-" (delete a value) and "[-KEY]"
// (delete a key).
//
// Text encoding of backup-form files: UTF-8 without a byte order mark; a file that
// is not valid UTF-8 is read as Windows-1252, so files of single-byte tools still
// read correctly.
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

// The two file forms (see the top of this file).
enum class RegFileFormat { Backup, Standard };

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

    // The form ExportKey writes. With Standard a file gets the registry editor's
    // form and RegistryData gets its lines (UTF-8, long data already wrapped).
    RegFileFormat ExportFormat = RegFileFormat::Backup;
    // How ImportFile reads a file headed "REGEDIT4" or without a header: Backup (a
    // backup's own file) or Standard (a registry editor's file, which must then
    // start with its header). A file headed "Windows Registry Editor Version 5.00"
    // is always read as the standard form.
    RegFileFormat ImportFormat = RegFileFormat::Backup;

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
    // or throws RegFileError when an error ends the import. The whole file is read
    // before anything is written, so a line that cannot be read (its number and
    // text are in the error) leaves the registry as it was.
    bool ImportFile(std::string_view fileName);

    // Rewrites the backup-form file `fileName` (a Windows path) in the standard
    // form, with the same keys and values, for import by hand. Returns false, with
    // the reason in LastError(), when it cannot be read or written; the file is
    // then left as it was.
    bool ConvertToStandardFile(std::string_view fileName);

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
