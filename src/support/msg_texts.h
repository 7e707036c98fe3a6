// Message texts: every text the program shows in a message box, and the few window
// texts that change while a job runs, looked up by key in section "Messages" of the
// current language file.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace qb {

// Thrown where the operation that asked for a text is to be abandoned without a
// further message (the person has already been told). Whoever starts an operation
// catches it and stops quietly.
class OperationAbandoned : public std::exception {
  public:
    const char* what() const noexcept override { return "operation abandoned"; }
};

// Whatever knows the current language file (the window translation component).
class LanguageFileSource {
  public:
    virtual ~LanguageFileSource() = default;
    virtual std::string languageFileName() const = 0;
};

// Looks up message texts in a language file. The opened state is shared by all
// instances: closing one makes every instance open its file again at its next lookup.
// Nothing is cached; an edited file takes effect at the next lookup.
class TMsgINISupp {
  public:
    // The language file, a Windows path. Stored only; the file is read at lookup.
    void SetFileName(std::string_view path) { fileName_ = std::string(path); }
    const std::string& FileName() const { return fileName_; }
    // Links the component that knows the language file and takes its file name now
    // (and at each open while the own file name is empty). Not owned; nullptr unlinks.
    void SetLngINISupp(const LanguageFileSource* source);

    // Makes sure there is a file name, warns when the file cannot be read, and marks
    // the texts opened. Without any file name: tells the person "File not preset!"
    // and throws OperationAbandoned.
    void OpenFile();
    // Forgets the file name and the shared opened state.
    void CloseFile();

    // The text of `key` in section "Messages" (keys match without regard to case).
    // A key the file lacks gives the built-in English text, "ERROR" when there is
    // none or when the file is missing. A value with double quotes is a text of
    // several lines: each quote and the seven characters after it end a line.
    std::string GetMessageText(std::string_view key);

    // Shared state, for the owner and tests.
    static bool Opened();
    static bool FileNameMissing();

  private:
    std::string fileName_;
    const LanguageFileSource* lngINISupp_ = nullptr;
};

// The lines of a value as GetMessageText returns them (the quote and marker rule).
std::string ExpandMessageLines(std::string_view value);

// The English language file the program holds: section "Language", section
// "Messages" and the window sections, with CRLF line ends.
std::string_view BuiltInEnglishLanguageFile();
// Writes that text to `winPath` (replacing a file there). False when it cannot.
bool WriteBuiltInLanguageFile(std::string_view winPath);

}  // namespace qb
