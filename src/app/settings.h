// The program's settings: loaded from HKEY_CURRENT_USER\Software\Quillbox at
// start, each missing value replaced by its default (and most defaults written
// back at once), held in memory for the whole run. The command line, the
// scheduled run and the main window all read them here.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qb::app {

inline constexpr std::string_view kSettingsKey = "\\Software\\Quillbox";
inline constexpr std::string_view kLastClientKey = "\\Software\\Quillbox\\LastClient";
inline constexpr std::string_view kScheduleKey = "\\Software\\Quillbox\\AutoBackup";

// Backup modes: what happens to older backup files of the same client.
enum : int32_t {
    kOverwriteLastBackup = 1,
    kNewBackupFile = 2,
    kKeepLastBackups = 3,
};

struct Settings {
    std::string programFolder;    // the executable's folder, with trailing backslash
    std::string documentsFolder;  // the user's documents folder, with trailing backslash

    // "BackupDir" (or "DefaultBackDir" when set), "RestoreDir", "AutoBackupDir".
    std::string backupFolder;
    std::string restoreFolder;
    std::string autoBackupFolder;
    std::string defaultBackupLocation;  // "DefaultBackDir"; empty when absent

    int32_t windowX = 355;
    int32_t windowY = 143;

    // The schedule: "AutoBackup", "BackupTime", "BackupDate", "BackupPeriod"
    // (0 hours, 1 days, 2 weeks, 3 months), "BackupInterval".
    bool autoBackupEnabled = false;
    double scheduleTime = 0;
    double scheduleDate = 0;
    int32_t schedulePeriod = 3;
    int32_t scheduleInterval = 2;

    std::string languageName = "English";
    bool multipleVolumes = false;
    int32_t volumeSizeIndex = 4;  // 0 floppy, 1 ZIP 100, 2 ZIP 250, 3 CD 650, 4 CD 700
    int32_t backupMode = kNewBackupFile;
    int32_t previousBackupMode = kKeepLastBackups;
    int32_t backupKeep = 3;

    std::array<int32_t, 4> columns{173, 75, 75, 75};  // "Col1".."Col4"

    // The language file in use, chosen by ChooseLanguageFile.
    std::string languageFile;

    // Settings that could not be read or written (a registry that refuses writes,
    // a value of the wrong type); the values above are the defaults then.
    std::vector<std::string> problems;
};

// The process's settings.
Settings& settings();

// Everything a start needs, in start-up order: the program folder (unless already
// set) and the documents folder,
// LoadOptionSettings, LoadWindowAndFolderSettings, "Col1".."Col4", and the
// "LastClient" subkey with its defaults when it does not exist.
void LoadSettings(Settings& s);

// "Language", "MultipleVolumes", "Volumes", "BackupMode", "OldBackupMode",
// "BackupKeep"; each missing one is written with its default.
void LoadOptionSettings(Settings& s);
// "X" and "Y", the folders and the schedule values; missing ones are written
// with their defaults (the folders also when stored empty).
void LoadWindowAndFolderSettings(Settings& s);
// Creates "LastClient" with "Code" 1, "Identity\Main Identity" and the six items
// of Outlook Express checked, unless it exists.
void EnsureLastClient(Settings& s);

// "Col1".."Col4" (the wizard's file list) read again, each missing one written with
// the width in `s`.
void LoadColumnWidths(Settings& s);

// Write the values back ("X" to "BackupInterval"; the Options values).
void SaveWindowAndFolderSettings(Settings& s);
void SaveOptionSettings(Settings& s);

// The language file: languageName + ".lng" from the first of LanguageFolders
// that has it; when none has it, "English.lng" from the same places, written from the built-in text
// when it is missing too (into the user's language folder when the program's folder is not
// writable, as for an installed program). Sets languageName and languageFile and returns the file.
std::string ChooseLanguageFile(Settings& s);

// Where language files are looked up, in this order: the program's folder, the
// installation's share/quillbox folder (beside bin/) when there is one, and the
// user's language folder.
std::vector<std::string> LanguageFolders(const Settings& s);

// The user's own language folder, $XDG_DATA_HOME/quillbox (~/.local/share/quillbox
// without it), as a Windows path with a trailing backslash; empty when the machine
// cannot name it. Not created here.
std::string UserLanguageFolder();

}  // namespace qb::app
