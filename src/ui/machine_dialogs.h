// File and folder pickers on the machine's drives. They show the drives as places
// to start from and return Windows paths of the machine, the paths the command line
// takes; a folder outside every drive comes back on Z:.
#pragma once

#include <optional>
#include <string>

class QWidget;

namespace qb::ui {

// Object names of the open dialogs (for the language file and for tests).
inline constexpr const char* kSaveDialogName = "SaveDialog1";
inline constexpr const char* kFolderDialogName = "FolderDialog1";

// The save-file dialog of a backup file: extension "ebk", filter "Quillbox file
// (*.ebk)", starting in the folder of `current` when the machine has it. No value
// when the person cancels.
std::optional<std::string> PickBackupFile(QWidget* parent, const std::string& current);

// The folder browser "Select Folder", starting at `current` when the machine has it,
// else at the root of drive C.
std::optional<std::string> PickFolder(QWidget* parent, const std::string& current);

}  // namespace qb::ui
