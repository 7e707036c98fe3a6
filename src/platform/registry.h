// The Windows registry of the emulated machine.
//
// Hives live in the prefix as Wine's text files: system.reg (HKEY_LOCAL_MACHINE),
// user.reg (HKEY_CURRENT_USER), userdef.reg (HKEY_USERS\.Default). They are loaded
// once per process, lazily, and shared by every accessor. Changes are written back
// atomically when the accessor that made them closes its key or is destroyed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_codec.h"  // string values are UTF-16LE

namespace qb::platform {

// The predefined keys, in the order of the Windows HKEY_* handles.
enum class RootKey { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig, DynData };

// Value types carry the Windows REG_* numbers; any other number is kept as raw bytes.
enum class ValueType : uint32_t {
    None = 0,
    String = 1,        // REG_SZ
    ExpandString = 2,  // REG_EXPAND_SZ
    Binary = 3,        // REG_BINARY
    Dword = 4,         // REG_DWORD
    DwordBigEndian = 5,
    Link = 6,
    MultiString = 7,  // REG_MULTI_SZ
    ResourceList = 8,
    FullResourceDescriptor = 9,
    ResourceRequirementsList = 10,
    Qword = 11,  // REG_QWORD
};

// A value as Windows stores it: strings are UTF-16LE with their terminating NUL.
struct RegValue {
    ValueType type = ValueType::None;
    std::vector<uint8_t> data;
};

// Refused or failed registry operation (malformed hive, write while a Wine server
// holds the prefix, write through a read-only accessor, type mismatch).
class RegistryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An accessor in the style of the VCL's TRegistry: pick a root, open one key,
// read and write its values. Key paths that start with "\" are absolute below the
// root; others are relative to the open key (or to the root when none is open).
// Names compare case-insensitively and keep their case when created.
class Registry {
  public:
    explicit Registry(RootKey root = RootKey::CurrentUser);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    RootKey rootKey() const { return root_; }
    void setRootKey(RootKey root);  // closes the open key

    bool openKey(std::string_view path, bool canCreate);
    bool openKeyReadOnly(std::string_view path);
    void closeKey();  // writes pending changes back
    bool hasOpenKey() const { return open_; }
    // Path of the open key below the root, without a leading backslash, in the
    // letter case of the stored key names.
    std::string currentPath() const;

    bool keyExists(std::string_view path) const;
    bool valueExists(std::string_view name) const;
    bool hasSubKeys() const;
    std::vector<std::string> keyNames() const;    // case-insensitive alphabetical order
    std::vector<std::string> valueNames() const;  // the key's own order; "" is the default value
    std::optional<ValueType> dataType(std::string_view name) const;

    // Reads of a missing value give "", 0, false or no bytes. Reading a value of
    // another type throws RegistryError.
    std::string readString(std::string_view name) const;  // REG_SZ and REG_EXPAND_SZ, UTF-8
    std::vector<std::string> readMultiString(std::string_view name) const;
    int32_t readInteger(std::string_view name) const;              // REG_DWORD
    bool readBool(std::string_view name) const;                    // any non-zero DWORD is true
    std::vector<uint8_t> readBinary(std::string_view name) const;  // raw bytes of any type
    double readDateTime(std::string_view name) const;  // 8-byte day count since 1899-12-30
    std::optional<RegValue> readValue(std::string_view name) const;

    void writeString(std::string_view name, std::string_view value);
    void writeExpandString(std::string_view name, std::string_view value);
    void writeMultiString(std::string_view name, const std::vector<std::string>& value);
    void writeInteger(std::string_view name, int32_t value);
    void writeBool(std::string_view name, bool value);
    void writeBinary(std::string_view name, const std::vector<uint8_t>& value);
    void writeDateTime(std::string_view name, double value);
    void writeValue(std::string_view name, const RegValue& value);

    bool deleteKey(std::string_view path);  // with its whole subtree
    bool deleteValue(std::string_view name);

  private:
    struct Impl;
    RootKey root_;
    bool open_ = false;
    bool readOnly_ = false;
    std::vector<std::string> path_;  // components of the open key below the root
    bool dirty_ = false;
    friend struct Impl;
};

// A string value (REG_SZ or REG_EXPAND_SZ; "" names the default value) read
// through an accessor of its own; "" when the key, the value or a string type is
// missing.
std::string readStringValue(RootKey root, std::string_view key, std::string_view name);

// Why the machine's registry cannot be changed now ("" when it can): a hive that
// cannot be read or may not be rewritten, a Wine server holding the prefix, a
// prefix folder this user cannot write. For checks before a job writes anything.
std::string registryWriteProblem();

// Writes every pending change of every loaded hive back to its file.
void flushRegistry();
// Forgets every loaded hive (after a change of machine, or to re-read files that
// another process changed). Pending changes are written first.
void unloadRegistry();

// REG_MULTI_SZ data: each string followed by its NUL, then one more NUL. Reading
// stops at the empty string that ends the list (or at the end of the data).
std::vector<uint8_t> multiStringBytes(const std::vector<std::string>& items);
std::vector<std::string> multiStringItems(std::span<const uint8_t> data);

}  // namespace qb::platform
