// One registry hive in memory, read from and written to Wine's text format.
//
// Wine writes a hive as "WINE REGISTRY Version 2", a few header lines, then one
// section per key:
//
//   [Software\\Vendor\\App] 1796676580      <- path, modification time (Unix seconds)
//   #time=1dd868c7a8a0cf2                   <- modification time (FILETIME ticks)
//   #class="..." / #link                    <- options
//   @="default"                             <- values
//   "Name"=dword:00000001
//
// Keys come in the order of a depth-first walk with siblings sorted
// case-insensitively; a key with subkeys but no values is not written (it exists
// through its subkeys). The hive keeps the source text: sections of keys that did
// not change are written back verbatim, and so are unchanged values of changed
// keys, so loading and saving without a change reproduces the file byte for byte.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qb::platform::hive {

struct HiveParser;

// Modification times are FILETIME ticks: 100 ns since 1601-01-01 UTC.
uint64_t nowFileTime();

struct Value {
    std::string name;  // UTF-8; "" is the default value
    uint32_t type = 0;
    std::vector<uint8_t> data;
    // The value's lines in the source text, line ends included. Kept verbatim
    // while the value is unchanged; an empty range means "write in Wine's format".
    uint32_t srcBegin = 0;
    uint32_t srcEnd = 0;
};

struct Key {
    std::string name;  // UTF-8, as created
    Key* parent = nullptr;
    std::vector<std::unique_ptr<Key>> subkeys;  // sorted by compareNames
    std::vector<Value> values;                  // in the order the key holds them
    uint64_t modified = 0;

    bool hasBlock = false;  // has its own section in the source text
    bool changed = false;   // its section must be written anew
    bool symlink = false;   // "#link": a symbolic link, kept as it is
    bool hasClass = false;  // "#class="
    // Source section: the text [blockBegin, blockEnd), then blank lines up to sepEnd.
    uint32_t blockBegin = 0;
    uint32_t blockEnd = 0;
    uint32_t sepEnd = 0;
    // Option and comment lines of the section other than "#time=", kept verbatim.
    std::vector<std::pair<uint32_t, uint32_t>> extraLines;

    Key* findSubkey(std::string_view wanted) const;
    Value* findValue(std::string_view wanted);
    const Value* findValue(std::string_view wanted) const;
};

class Hive {
  public:
    // An empty hive whose file will start with `header` (the lines before the first key).
    explicit Hive(std::string header);
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;

    // Parses Wine's text. Throws RegistryError "<fileName>, line N: <what>"; lines
    // of no known kind are skipped and noted (skippedLine).
    static std::unique_ptr<Hive> parse(std::string text, const std::string& fileName);
    // The hive in Wine's text format.
    std::string serialize() const;

    Key& root() { return root_; }
    const Key& root() const { return root_; }
    // The lines before the first key.
    std::string_view header() const;
    // Path of the text after ";; All keys relative to " in the header ("" when absent).
    std::string relativeTo() const;

    // Finds a key below `from` by path components; null when missing.
    static Key* find(Key& from, const std::vector<std::string>& path, size_t first = 0);
    // Finds or creates the key; new keys are stamped with the current time.
    Key& create(Key& from, const std::vector<std::string>& path, size_t first = 0);
    // Removes a key with its subtree from its parent.
    void remove(Key& key);
    // Sets a value (replacing one of the same name in place, else appending).
    void setValue(Key& key, std::string_view name, uint32_t type, std::vector<uint8_t> data);
    bool deleteValue(Key& key, std::string_view name);

    // The first line the parser did not understand and skipped ("" when none),
    // and how many it skipped. Such a hive is read, never rewritten.
    const std::string& skippedLine() const { return skipped_; }
    size_t skippedCount() const { return skippedCount_; }

    bool dirty() const { return dirty_; }
    void setDirty(bool dirty) { dirty_ = dirty; }

  private:
    friend struct HiveParser;
    Hive() = default;
    void touch(Key& key);
    void writeKey(std::string& out, const Key& key) const;
    static bool shouldWrite(const Key& key);

    std::string text_;  // the source text
    std::string generatedHeader_;
    uint32_t headerEnd_ = 0;  // header lines [0, headerEnd_), blank lines up to headerSepEnd_
    uint32_t headerSepEnd_ = 0;
    Key root_;
    bool dirty_ = false;
    std::string skipped_;
    size_t skippedCount_ = 0;
};

// Case-insensitive order of key and value names, as Wine sorts them: UTF-16 code
// units compared after lower-casing.
int compareNames(std::string_view a, std::string_view b);
// Case folding keeps the length of UTF-8 names, so only names of one length can match.
inline bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && compareNames(a, b) == 0;
}

// Text of Wine's format (hive_format.cpp).
// Escapes UTF-16 text as Wine does: `quote` is the pair of extra characters that
// take a backslash ("\"\"" for values, "[]" for key names). Returns the count of
// characters written.
size_t appendEscaped(std::string& out, const std::u16string& text, const char quote[2]);
// One value as Wine writes it, with its line end; long binary data wraps at 76 columns.
void appendValue(std::string& out, const Value& value);
// "[path] seconds\n#time=ticks\n" of a key.
void appendKeyLine(std::string& out, const Key& key);

}  // namespace qb::platform::hive
