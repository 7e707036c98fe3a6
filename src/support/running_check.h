// The check before a backup or restore that the client is not running, and the
// "Active windows..." dialog loop that lets the user retry, close the client by
// force or cancel.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/client_kind.h"

namespace qb {

// The button that closed the dialog; the numbers are the dialog's tag.
enum class CloseChoice : int { Cancel = 0, CloseAll = 1, Wait = 2, Ok = 3 };

// The "Active windows..." dialog: lists the client's windows and asks what to do.
// The windows install their own; command-line runs and tests use the console one.
class CloseProgramsDialog {
  public:
    virtual ~CloseProgramsDialog() = default;
    // Shows the list modally and returns the button pressed; closing the dialog by
    // its frame is Cancel. `showWait` makes "Wait 5 minutes" visible (it acts like
    // OK). "Close all" is carried out by the caller after the dialog returns.
    virtual CloseChoice show(const std::vector<std::string>& windows, bool showWait) = 0;
};

// The dialog in force; the console one until another is installed.
CloseProgramsDialog& closeProgramsDialog();
// Installs `impl` (not owned) and returns the previous one; nullptr restores the console.
CloseProgramsDialog* setCloseProgramsDialog(CloseProgramsDialog* impl);

// Lists the windows on stderr. With a terminal on stdin the person answers there;
// without one the answer is Cancel, so a command-line run skips a running client.
class ConsoleCloseProgramsDialog : public CloseProgramsDialog {
  public:
    CloseChoice show(const std::vector<std::string>& windows, bool showWait) override;
};

// Answers from a script (then Cancel) and records what it was shown; for tests and
// runs that must not ask. `onShow` runs before each answer (the person acting
// while the dialog is open).
class ScriptedCloseProgramsDialog : public CloseProgramsDialog {
  public:
    explicit ScriptedCloseProgramsDialog(std::vector<CloseChoice> answers = {})
        : answers_(std::move(answers)) {}
    CloseChoice show(const std::vector<std::string>& windows, bool showWait) override;

    std::vector<std::vector<std::string>> shown;
    std::vector<bool> waitShown;
    std::function<void(int showIndex)> onShow;

  private:
    std::vector<CloseChoice> answers_;
    size_t next_ = 0;
};

class ScopedCloseProgramsDialog {
  public:
    explicit ScopedCloseProgramsDialog(CloseProgramsDialog& impl)
        : previous_(setCloseProgramsDialog(&impl)) {}
    ~ScopedCloseProgramsDialog() { setCloseProgramsDialog(previous_); }
    ScopedCloseProgramsDialog(const ScopedCloseProgramsDialog&) = delete;
    ScopedCloseProgramsDialog& operator=(const ScopedCloseProgramsDialog&) = delete;

  private:
    CloseProgramsDialog* previous_;
};

// The program names looked for before a backup (true) or a restore (false) of a
// client, in the order they are tried; empty when no check is made.
std::vector<std::string> RunningCheckProgramNames(ClientKind kind, bool backup);

// Looks for the client's running programs and asks the user; true when the user
// cancelled (the backup or restore must not start).
bool CheckRunningClient(ClientKind kind, bool backup);

// The dialog loop for one program name; true when the user cancelled.
bool AskToCloseWindows(std::string_view programName);

// A running program as the dialog lists it: a window of the program's process, or
// a process of the program that shows no window (no display, a hidden or tray-only
// client), listed as "<name> (process <id>)".
struct RunningProgram {
    std::string line;
    uint32_t processId = 0;
};
// Whether a process runs in the current machine: its environment names the
// machine's prefix (WINEPREFIX or QUILLBOX_PREFIX), or it is a Windows program
// started without WINEPREFIX while the machine is Wine's default ~/.wine. A
// program of another prefix, or a native program that has nothing to do with
// the machine, is none of its clients and must never be closed for it.
bool RunsInThisMachine(uint32_t processId);

// The windows and windowless processes of every process of this machine
// (RunsInThisMachine) whose executable name contains `programName` (letter case
// ignored). Windows titled "mci command handling window" are never listed.
std::vector<RunningProgram> FindRunningProgram(std::string_view programName);

// "Close all": ends the processes behind the dialog's lines, first line first,
// removing each line handled. Lines that find no window in one walk stay.
void CloseAllPrograms(std::vector<std::string>& lines, std::string_view programName);

// Ends a process: SIGTERM, then SIGKILL when it has not ended within `grace`, and
// waits for it to end. False when it could not be signalled (gone, not ours) or
// did not end.
bool TerminateProcessAndWait(pid_t pid, std::chrono::milliseconds grace);
// The grace period "Close all" gives a program before it is killed (5 seconds).
std::chrono::milliseconds CloseGracePeriod();
void SetCloseGracePeriod(std::chrono::milliseconds grace);

// The choice that closed the dialog last (0 when the last loop ran without showing
// it); kept when a check runs no loop at all.
int CloseDialogTag();

}  // namespace qb
