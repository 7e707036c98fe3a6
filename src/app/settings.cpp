#include "app/settings.h"

#include <cmath>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <limits>

#include "app/date_time.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/msg_texts.h"

namespace qb::app {

namespace {

using platform::Registry;
using platform::RegistryError;
using platform::RootKey;
using platform::ValueType;

constexpr std::string_view kShellFoldersKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// One open settings key. Reads check the stored type: a value of another type
// counts as missing. Writes that the registry refuses are noted in the settings'
// problems, and the run goes on with the values in memory.
// The scheduler and the scheduled runs write the registry files while the window
// is open; a save starts from what the files hold now, or it would be refused.
void rereadRegistry(Settings& s) {
    try {
        platform::unloadRegistry();
    } catch (const std::exception& e) {
        s.problems.emplace_back(e.what());
    }
}

class SettingsKey {
  public:
    SettingsKey(Settings& s, std::string_view path) : s_(s) {
        try {
            open_ = reg_.openKey(path, true);
            if (!open_) note("cannot open or create HKCU" + std::string(path));
        } catch (const std::exception& e) {
            note(e.what());
        }
    }
    ~SettingsKey() {
        try {
            reg_.closeKey();
        } catch (const std::exception& e) {
            note(e.what());
        }
    }
    SettingsKey(const SettingsKey&) = delete;
    SettingsKey& operator=(const SettingsKey&) = delete;

    bool has(std::string_view name, std::initializer_list<ValueType> types) {
        if (!open_) return false;
        try {
            auto t = reg_.dataType(name);
            if (!t) return false;
            for (ValueType want : types)
                if (*t == want) return true;
            note("HKCU" + std::string(kSettingsKey) + "\\" + std::string(name) +
                 " has the wrong type; the default is used");
        } catch (const std::exception& e) {
            note(e.what());
        }
        return false;
    }

    int32_t integer(std::string_view name, int32_t def, bool writeMissing = true) {
        if (has(name, {ValueType::Dword}))
            return guarded([&] { return reg_.readInteger(name); }, def);
        if (writeMissing) write([&] { reg_.writeInteger(name, def); });
        return def;
    }
    bool boolean(std::string_view name, bool def) {
        if (has(name, {ValueType::Dword})) return guarded([&] { return reg_.readBool(name); }, def);
        write([&] { reg_.writeBool(name, def); });
        return def;
    }
    // The stored text; `def` (written) when missing, or when empty if `emptyIsMissing`.
    std::string text(std::string_view name, const std::string& def, bool emptyIsMissing) {
        if (has(name, {ValueType::String, ValueType::ExpandString})) {
            std::string v = guarded([&] { return reg_.readString(name); }, std::string());
            if (!v.empty() || !emptyIsMissing) return v;
        }
        write([&] { reg_.writeString(name, def); });
        return def;
    }
    // The stored text, or no value when missing or empty; nothing is written.
    std::string optionalText(std::string_view name) {
        if (!has(name, {ValueType::String, ValueType::ExpandString})) return {};
        return guarded([&] { return reg_.readString(name); }, std::string());
    }
    double dateTime(std::string_view name, double def) {
        if (has(name, {ValueType::Binary})) {
            const double v = guarded([&] { return reg_.readDateTime(name); },
                                     std::numeric_limits<double>::quiet_NaN());
            if (std::isfinite(v)) return v;
        }
        write([&] { reg_.writeDateTime(name, def); });
        return def;
    }

    void writeInteger(std::string_view name, int32_t v) {
        write([&] { reg_.writeInteger(name, v); });
    }
    void writeBool(std::string_view name, bool v) {
        write([&] { reg_.writeBool(name, v); });
    }
    void writeString(std::string_view name, const std::string& v) {
        write([&] { reg_.writeString(name, v); });
    }
    void writeDateTime(std::string_view name, double v) {
        write([&] { reg_.writeDateTime(name, v); });
    }

    Registry& reg() { return reg_; }
    bool isOpen() const { return open_; }

  private:
    template <typename T, typename F>
    T guarded(F read, T fallback) {
        try {
            return read();
        } catch (const std::exception& e) {
            note(e.what());
            return fallback;
        }
    }
    void write(const std::function<void()>& w) {
        if (!open_) return;
        try {
            w();
        } catch (const std::exception& e) {
            note(e.what());
        }
    }
    void note(std::string text) {
        for (const std::string& p : s_.problems)
            if (p == text) return;
        s_.problems.push_back(std::move(text));
    }

    Settings& s_;
    Registry reg_{RootKey::CurrentUser};
    bool open_ = false;
};

std::string documentsFolder() {
    std::string personal;
    try {
        Registry reg(RootKey::CurrentUser);
        if (reg.openKeyReadOnly(kShellFoldersKey) &&
            reg.dataType("Personal").value_or(ValueType::None) == ValueType::String)
            personal = reg.readString("Personal");
    } catch (const std::exception&) {
    }
    // Without the shell folder the documents would land at the root of the drive.
    if (personal.empty())
        personal = platform::expandEnvironmentStrings("%USERPROFILE%") + "\\Documents";
    return platform::includeTrailingBackslash(personal);
}

// A language name is a file name in the program's folder, never a path.
bool plainName(std::string_view name) {
    return !name.empty() && name.find_first_of("\\/:") == std::string_view::npos && name != "." &&
           name != "..";
}

}  // namespace

Settings& settings() {
    static Settings s;
    return s;
}

void LoadSettings(Settings& s) {
    if (s.programFolder.empty()) s.programFolder = platform::programFolder();
    s.documentsFolder = documentsFolder();
    LoadOptionSettings(s);
    LoadWindowAndFolderSettings(s);
    {
        SettingsKey key(s, kSettingsKey);
        for (size_t i = 0; i < s.columns.size(); ++i)
            s.columns[i] = key.integer("Col" + std::to_string(i + 1), s.columns[i], false);
    }
    EnsureLastClient(s);
    if (!platform::directoryExists(s.restoreFolder)) s.restoreFolder = s.documentsFolder;
}

void LoadColumnWidths(Settings& s) {
    SettingsKey key(s, kSettingsKey);
    for (size_t i = 0; i < s.columns.size(); ++i)
        s.columns[i] = key.integer("Col" + std::to_string(i + 1), s.columns[i]);
}

void LoadOptionSettings(Settings& s) {
    SettingsKey key(s, kSettingsKey);
    s.languageName = key.text("Language", "English", false);
    s.multipleVolumes = key.boolean("MultipleVolumes", false);
    s.volumeSizeIndex = key.integer("Volumes", 4);
    s.backupMode = key.integer("BackupMode", kNewBackupFile);
    s.previousBackupMode = key.integer("OldBackupMode", kKeepLastBackups);
    s.backupKeep = key.integer("BackupKeep", 3);
}

void LoadWindowAndFolderSettings(Settings& s) {
    SettingsKey key(s, kSettingsKey);
    s.windowX = key.integer("X", 355);
    s.windowY = key.integer("Y", 143);
    s.defaultBackupLocation = key.optionalText("DefaultBackDir");
    if (!s.defaultBackupLocation.empty())
        s.backupFolder = s.defaultBackupLocation;
    else
        s.backupFolder = key.text("BackupDir", s.documentsFolder, true);
    s.restoreFolder = key.text("RestoreDir", s.documentsFolder, true);
    s.autoBackupEnabled = key.boolean("AutoBackup", false);
    s.autoBackupFolder = key.text("AutoBackupDir", s.documentsFolder + "AutoBackup\\", true);
    const LocalTime now = LocalNow();
    s.scheduleTime =
        key.dateTime("BackupTime", static_cast<double>(TimeOfDay(now).count()) / 86400.0);
    s.scheduleDate = key.dateTime("BackupDate", ToDateTime(DatePart(now)));
    s.schedulePeriod = key.integer("BackupPeriod", 3);
    s.scheduleInterval = key.integer("BackupInterval", 2);
}

void EnsureLastClient(Settings& s) {
    {
        Registry probe(RootKey::CurrentUser);
        try {
            if (probe.keyExists(kLastClientKey)) return;
        } catch (const std::exception&) {
            return;
        }
    }
    {
        SettingsKey key(s, kLastClientKey);
        key.writeInteger("Code", 1);
    }
    {
        SettingsKey key(s, std::string(kLastClientKey) + "\\Identity");
        key.writeBool("Main Identity", true);
    }
    SettingsKey key(s, std::string(kLastClientKey) + "\\Items");
    for (const char* item : {"Accounts Settings", "Address Book", "Mail Folders", "Message Rules",
                             "Signatures", "Stationery"})
        key.writeBool(item, true);
}

void SaveWindowAndFolderSettings(Settings& s) {
    rereadRegistry(s);
    SettingsKey key(s, kSettingsKey);
    key.writeInteger("X", s.windowX);
    key.writeInteger("Y", s.windowY);
    key.writeBool("AutoBackup", s.autoBackupEnabled);
    if (!s.backupFolder.empty()) key.writeString("BackupDir", s.backupFolder);
    key.writeString("RestoreDir", s.restoreFolder);
    key.writeString("AutoBackupDir", s.autoBackupFolder);
    key.writeDateTime("BackupTime", s.scheduleTime);
    key.writeDateTime("BackupDate", s.scheduleDate);
    key.writeInteger("BackupPeriod", s.schedulePeriod);
    key.writeInteger("BackupInterval", s.scheduleInterval);
}

void SaveOptionSettings(Settings& s) {
    rereadRegistry(s);
    SettingsKey key(s, kSettingsKey);
    key.writeString("Language", s.languageName);
    key.writeBool("MultipleVolumes", s.multipleVolumes);
    key.writeInteger("Volumes", s.volumeSizeIndex);
    key.writeInteger("OldBackupMode", s.previousBackupMode);
    key.writeInteger("BackupMode", s.backupMode);
    key.writeInteger("BackupKeep", s.backupKeep);
}

std::string UserLanguageFolder() {
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && xdg[0] == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::filesystem::path(home) / ".local" / "share";
    else
        return {};
    const std::string win = platform::windowsPath(base / "quillbox");
    return win.empty() ? std::string() : platform::includeTrailingBackslash(win);
}

std::vector<std::string> LanguageFolders(const Settings& s) {
    std::vector<std::string> folders{s.programFolder};
    // An installed program keeps its language files in the installation's share folder.
    if (auto host = platform::hostPath(s.programFolder)) {
        const std::filesystem::path share =
            std::filesystem::path(*host).parent_path().parent_path() / "share" / "quillbox";
        std::error_code ec;
        if (std::filesystem::is_directory(share, ec)) {
            const std::string win = platform::windowsPath(share);
            if (!win.empty()) folders.push_back(platform::includeTrailingBackslash(win));
        }
    }
    const std::string user = UserLanguageFolder();
    if (!user.empty()) folders.push_back(user);
    return folders;
}

std::string ChooseLanguageFile(Settings& s) {
    const std::string userFolder = UserLanguageFolder();
    const std::vector<std::string> folders = LanguageFolders(s);
    auto find = [&](const std::string& name) -> std::string {
        for (const std::string& folder : folders)
            if (platform::fileExists(folder + name)) return folder + name;
        return {};
    };
    if (plainName(s.languageName)) {
        const std::string chosen = find(s.languageName + ".lng");
        if (!chosen.empty()) {
            s.languageFile = chosen;
            return s.languageFile;
        }
    }
    s.languageName = "English";
    std::string english = find("English.lng");
    if (english.empty()) {
        english = s.programFolder + "English.lng";
        if (!WriteBuiltInLanguageFile(english) && !userFolder.empty()) {
            // An installed program's folder is not the user's to write.
            platform::forceDirectories(userFolder);
            if (WriteBuiltInLanguageFile(userFolder + "English.lng"))
                english = userFolder + "English.lng";
        }
    }
    s.languageFile = english;
    return s.languageFile;
}

}  // namespace qb::app
