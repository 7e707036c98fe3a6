// Passwords of protected backups on the command line and in scheduled runs: from
// a file readable only by its owner, from the environment variable
// QUILLBOX_PASSWORD, or typed on the terminal without echo. A password never goes
// on the command line, into the registry, a log or an error text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb::app {

inline constexpr std::string_view kPasswordVariable = "QUILLBOX_PASSWORD";
// The settings value naming the password file of scheduled backups.
inline constexpr std::string_view kPasswordFileValue = "PasswordFile";
// New backups take no shorter password.
inline constexpr size_t kMinPasswordLength = 5;

// The password switches of a command line.
struct PasswordOptions {
    std::string file;  // "--password-file FILE" (or "--password-file=FILE")
    bool ask = false;  // "--ask-password"
    bool given() const { return !file.empty() || ask; }
};

// Takes the password switches out of `params`, wherever they stand. False, with
// `error` saying why, for a "--password-file" without a file.
bool TakePasswordOptions(std::vector<std::string>& params, PasswordOptions& options,
                         std::string& error);

// The first line of the file (a path of this computer, or a Windows path of the
// machine). Nothing, with `error` naming the file, when it cannot be read, can be
// read by others than its owner, or holds no password.
std::optional<std::string> ReadPasswordFile(std::string_view file, std::string& error);

// QUILLBOX_PASSWORD; nothing when unset or empty.
std::optional<std::string> PasswordFromEnvironment();

// Whether somebody can answer a question: the standard input is a terminal.
bool CanAskOnTerminal();
// Shows `prompt` on standard error and reads one line from the terminal with its
// echo switched off. Nothing at the end of the input.
std::optional<std::string> AskOnTerminal(std::string_view prompt);

// Where a password came from, for the messages ("the password file ~/.pw").
struct RunPassword {
    std::string password;  // empty: the backups are not protected
    std::string source;
};

// The password for the new backups of a "/b" run: the file, else asked twice on
// the terminal, else QUILLBOX_PASSWORD, else none. Nothing, with `error`, when a
// source named fails, the two answers differ, or the password is too short.
std::optional<RunPassword> BackupPassword(const PasswordOptions& options, std::string& error);

// The password for the scheduled backups: the file named by the "PasswordFile"
// setting, else QUILLBOX_PASSWORD, else none. Nothing, with `error`, when the
// file cannot be used or the password is too short.
std::optional<RunPassword> ScheduledBackupPassword(std::string& error);

// The job's archive password for the length of one run, wiped after it.
class JobPasswordScope {
  public:
    explicit JobPasswordScope(std::string password);
    ~JobPasswordScope();
    JobPasswordScope(const JobPasswordScope&) = delete;
    JobPasswordScope& operator=(const JobPasswordScope&) = delete;
};

// Checks the length of a password for a new backup; the message text when short.
std::optional<std::string> PasswordTooShort(std::string_view password);

}  // namespace qb::app
