// The windowed side of the program's start.
#pragma once

#include <optional>
#include <string>

namespace qb::ui {

// Whether windows can be shown: a display the platform plugin can open (the
// offscreen platform always can). `why` says what is missing otherwise.
bool DisplayAvailable(std::string& why);

// Opens the main window and runs until it closes: creates the windows in start-up
// order, runs the main window's creation handler (unless `archiveLoaded` says the
// command line already started the program), shows it (on the wizard's restore
// page for `openBackupFile`) and runs the message loop. The exit status.
int RunWindows(int& argc, char** argv, const std::string& openBackupFile = {},
               std::optional<bool> archiveLoaded = std::nullopt);

// A command-line run with the tray icon shown for its duration where the desktop
// has a notification area. `run` does the work and returns the exit status.
int WithTrayIcon(int& argc, char** argv, int (*run)(void*), void* context);

}  // namespace qb::ui
