// INI files with the semantics of the Windows profile functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qb::platform {

// Section and key names match without regard to case; values are trimmed and lose
// one pair of enclosing double quotes; ";" starts a comment line. Writes go to the
// file at once, creating the file and the section as needed, with CRLF line ends.
// The text is UTF-8. A missing file reads as empty.
class IniFile {
  public:
    explicit IniFile(std::string winPath);
    const std::string& fileName() const { return path_; }

    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    int readInteger(std::string_view section, std::string_view key, int defaultValue) const;
    bool readBool(std::string_view section, std::string_view key, bool defaultValue) const;
    std::vector<std::string> readSections() const;
    std::vector<std::string> readSection(std::string_view section) const;  // key names
    // The section's lines as "key=value" (values as read), in file order.
    std::vector<std::string> readSectionValues(std::string_view section) const;
    bool sectionExists(std::string_view section) const;
    bool valueExists(std::string_view section, std::string_view key) const;

    // Return false when the file cannot be written.
    bool writeString(std::string_view section, std::string_view key, std::string_view value);
    bool writeInteger(std::string_view section, std::string_view key, int value);
    bool eraseSection(std::string_view section);
    bool deleteKey(std::string_view section, std::string_view key);

  private:
    std::string path_;
};

}  // namespace qb::platform
