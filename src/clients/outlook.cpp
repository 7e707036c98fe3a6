#include "clients/outlook.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "catalog/client_paths.h"
#include "catalog/reads.h"
#include "clients/adapter_support.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/text_codec.h"
#include "regfile/io_registry.h"

namespace qb::clients {

namespace {

using platform::Registry;
using platform::RegValue;
using platform::RootKey;
using platform::ValueType;

constexpr std::string_view kShellFolders =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
// Windows NT keeps the mail profiles below the first key, Windows 9x below the second.
constexpr std::string_view kNtProfiles =
    "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
constexpr std::string_view kOldProfiles =
    "\\Software\\Microsoft\\Windows Messaging Subsystem\\Profiles";
// The personal store file of a profile service.
constexpr std::string_view kStoreValue = "001e6700";

constexpr std::string_view kSettingFile = "setting.reg";
struct RegFile {
    std::string_view file;
    std::string_view key;
};
constexpr RegFile kSetting2{"setting2.reg", "\\Software\\Microsoft\\Office\\11.0\\Outlook"};
constexpr RegFile kAccounts1{"accounts1.reg", "\\Program\\Microsoft\\Office\\Outlook"};
constexpr RegFile kAccounts2{"accounts2.reg", "\\Software\\Microsoft\\Office\\Outlook"};

// Written in the staging folder under the first name, stored under the second.
constexpr std::string_view kOthersFile = "others.ini";
constexpr std::string_view kOthersStored = "Others.ini";

// Where each Office version names its signatures folder (below AppData\Microsoft).
constexpr std::array<std::string_view, 3> kSignatureKeys = {
    "\\Software\\Microsoft\\Office\\10.0\\Common\\General",
    "\\Software\\Microsoft\\Office\\11.0\\Common\\General",
    "\\Software\\Microsoft\\Office\\9.0\\Common\\General"};

// UTF-16LE text starts with a character whose high byte is 0 (paths start with a
// drive letter); ANSI text has no NUL in its second byte unless it is one letter.
bool isUtf16Text(const std::vector<uint8_t>& d) {
    return d.size() >= 2 && d.size() % 2 == 0 && d[0] != 0 && d[1] == 0;
}

// The store value for `path`, in the form (type and encoding) of `old`.
RegValue storeValueLike(const RegValue& old, const std::string& path) {
    RegValue v;
    if (old.type == ValueType::Binary && !isUtf16Text(old.data)) {
        v.type = ValueType::Binary;
        const std::string ansi = platform::utf8ToWindows1252(path);
        v.data.assign(ansi.begin(), ansi.end());
        v.data.push_back(0);
    } else {
        v.type = old.type == ValueType::Binary ? ValueType::Binary : ValueType::String;
        v.data = platform::utf8ToUtf16Bytes(path, true);
    }
    return v;
}

// ---- folders and keys of the current user ----

std::string shellFolder(std::string_view name) {
    return platform::excludeTrailingBackslash(
        catalog::readText(RootKey::CurrentUser, kShellFolders, name));
}

// Is `path` inside `folder` (at any depth)? An empty folder holds nothing.
bool isBelow(std::string_view path, std::string_view folder) {
    return !folder.empty() &&
           platform::startsWithNoCase(path, platform::includeTrailingBackslash(folder));
}

std::string profilesKey(std::string_view root) {
    return std::string(root) + "\\";
}

// The first mail profile, in registry order: its key and its name. Windows NT's
// profiles first; the other key only when that one holds none.
struct Profile {
    std::string key;
    std::string name;
};
std::optional<Profile> firstProfile() {
    for (std::string_view root : {kNtProfiles, kOldProfiles}) {
        const auto names = catalog::subKeyNames(RootKey::CurrentUser, profilesKey(root));
        if (!names.empty()) return Profile{profilesKey(root) + names.front(), names.front()};
    }
    return std::nullopt;
}

std::optional<RegValue> readValue(std::string_view key, std::string_view name) {
    Registry reg(RootKey::CurrentUser);
    if (!reg.openKeyReadOnly(key)) return std::nullopt;
    return reg.readValue(name);
}

// The signatures folders the installed Office versions name, each once, in the
// order of kSignatureKeys.
std::vector<std::string> signatureFolders(const std::string& appData) {
    std::vector<std::string> folders;
    for (std::string_view key : kSignatureKeys) {
        const std::string name = catalog::readText(RootKey::CurrentUser, key, "Signatures");
        if (!IsSafeRelativePath(name)) continue;
        const std::string folder = appData + "\\Microsoft\\" + name;
        const bool known = std::any_of(folders.begin(), folders.end(), [&](const std::string& f) {
            return platform::equalsNoCase(f, folder);
        });
        if (!known) folders.push_back(folder);
    }
    return folders;
}

// ---- backup ----

void exportKey(std::string_view file, std::string_view key) {
    const std::string path = FreshStagingPath(file);
    if (path.empty()) return;
    TIORegistry& io = jobs::IORegistry();
    if (!io.ExportKey("HKEY_CURRENT_USER", key, true, path))
        RecordError("The registry key HKEY_CURRENT_USER" + std::string(key) +
                    " could not be saved in " + std::string(file) + ": " + io.LastError());
}

struct UserFolders {
    std::string appData;
    std::string localAppData;  // "" when the machine names none
    std::string outlook;       // AppData\Microsoft\Outlook
    std::string localOutlook;  // Local AppData\Microsoft\Outlook, or ""
};

// Adds the personal store file of every service of the profile, one progress group
// per service. Stores in the two Outlook folders are already in the backup; other
// stores in the user's folders go with them, under their path below the application
// data folder, so that two stores of one name stay apart (the restore points the
// profile to them below the Outlook folders); stores elsewhere go under
// Others\Dir<n>, one number per folder, recorded in others.ini.
void backupStores(jobs::BackupContext& ctx, const std::optional<Profile>& profile,
                  const UserFolders& user, const std::string& itemName) {
    const std::string othersPath = FreshStagingPath(kOthersFile);
    if (!WriteTextFile(othersPath, "[Directory]\r\n"))
        RecordError("Cannot write the list of personal store folders " + othersPath + ": " +
                    platform::lastFileError());
    if (!profile) return;
    platform::IniFile others(othersPath);
    std::vector<std::string> folders;
    std::vector<std::string> added;
    for (const std::string& service :
         catalog::subKeyNames(RootKey::CurrentUser, profile->key + "\\")) {
        const auto value = readValue(profile->key + "\\" + service + "\\", kStoreValue);
        const std::string path = value ? StorePathFromValue(*value) : std::string();
        const bool seen = std::any_of(added.begin(), added.end(), [&](const std::string& p) {
            return platform::equalsNoCase(p, path);
        });
        if (IsFullPath(path) && !seen && platform::fileExists(path)) {
            added.push_back(path);
            const std::string folder = platform::extractFilePath(path);
            if (isBelow(path, user.outlook) || isBelow(path, user.localOutlook)) {
                // packed with its folder
            } else if (isBelow(path, user.localAppData)) {
                jobs::AddFileToJob(path, "local", user.localAppData + "\\");
            } else if (isBelow(path, user.appData)) {
                jobs::AddFileToJob(path, "app", user.appData + "\\");
            } else {
                auto it = std::find_if(folders.begin(), folders.end(), [&](const std::string& f) {
                    return platform::equalsNoCase(f, folder);
                });
                if (it == folders.end()) {
                    folders.push_back(folder);
                    it = folders.end() - 1;
                    const std::string key = "Dir" + std::to_string(folders.size());
                    if (!others.writeString("Directory", key, folder))
                        RecordError("Cannot write the list of personal store folders " +
                                    othersPath + ": " + platform::lastFileError());
                }
                const std::string n = std::to_string(it - folders.begin() + 1);
                jobs::AddFileToJob(path, "Others\\Dir" + n, folder);
            }
        }
        jobs::CloseProgressGroup(ctx, itemName);
    }
}

// ---- restore ----

std::string trimmed(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
        s.remove_suffix(1);
    return std::string(s);
}

// The keys a restore imports from each registry file of the backup.
std::vector<AllowedKey> allowedKeys(std::string_view key) {
    return {{RootKey::CurrentUser, std::string(key.substr(1))}};
}
const std::vector<AllowedKey>& profileKeys() {
    static const std::vector<AllowedKey> keys = {
        {RootKey::CurrentUser, std::string(kNtProfiles.substr(1))},
        {RootKey::CurrentUser, std::string(kOldProfiles.substr(1))}};
    return keys;
}

// The keys a registry file's key lines name ("ROOT\path"), in file order.
std::vector<std::string> keyLines(std::string_view text) {
    const TIORegistry& io = jobs::IORegistry();
    std::vector<std::string> keys;
    for (const std::string& line : catalog::splitLines(text)) {
        if (io.ClassifyLine(line) != lkKey) continue;
        std::string body = trimmed(line).substr(1);
        if (!body.empty() && body.back() == io.RootEnd) body.pop_back();
        keys.push_back(std::move(body));
    }
    return keys;
}

// Whether a key of a registry file is one of the current user's profiles keys or
// below them.
bool isProfileKey(std::string_view key) {
    constexpr std::string_view root = "HKEY_CURRENT_USER";
    if (!key.starts_with(root)) return false;
    const std::string_view path = key.substr(root.size());
    for (std::string_view k : {kNtProfiles, kOldProfiles})
        if (isBelow(path, k) || platform::equalsNoCase(path, k)) return true;
    return false;
}

// The profile for the other Windows family: lines with the Windows NT profiles path
// lose "windows nt\currentversion\"; when there are none, the lines with the other
// path gain it. Line ends stay as they are.
std::string forOtherFamily(std::string_view text) {
    constexpr std::string_view nt = "windows nt\\currentversion\\";
    constexpr std::string_view old = "microsoft\\windows messaging";
    const bool fromNt = platform::containsNoCase(text, nt);
    std::string out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(start, end - start));
        const std::string lower = platform::lowerAscii(line);
        if (fromNt) {
            const size_t at = lower.find(nt);
            if (at != std::string::npos) line.erase(at, nt.size());
        } else {
            const size_t at = lower.find(old);
            if (at != std::string::npos)
                line.insert(at + std::string_view("microsoft\\").size(), nt);
        }
        out += line;
        if (end == text.size()) break;
        size_t next = end + 1;
        if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
        out += text.substr(end, next - end);
        start = next;
    }
    return out;
}

struct OldFolders {
    std::string appData;       // Dir1 of the manifest, when it is a full path
    std::string localAppData;  // Dir2
};

// Where a store that lay in one of the backed-up user's application data folders
// (`oldBase`) is now: at the same place below the new Outlook folder when it lay in
// the old one, else (it came back with the Outlook folder's files) at its place
// below the old application data folder, now below the new Outlook folder.
std::string relocated(const std::string& path, const std::string& oldBase,
                      const std::string& newOutlook) {
    const std::string oldOutlook = oldBase + "\\Microsoft\\Outlook";
    if (isBelow(path, oldOutlook)) return newOutlook + path.substr(oldOutlook.size());
    return newOutlook + path.substr(oldBase.size());
}

// Points a service's store into the current user's Outlook folders when it lay in
// the backed-up user's application data folders (its file came back there).
void moveStorePath(const std::string& serviceKey, const OldFolders& old, const UserFolders& user) {
    Registry reg(RootKey::CurrentUser);
    if (!reg.openKey(serviceKey, false)) return;
    const auto value = reg.readValue(kStoreValue);
    if (!value) return;
    const std::string path = StorePathFromValue(*value);
    if (path.empty()) return;
    std::string moved = path;
    if (isBelow(path, old.appData)) moved = relocated(path, old.appData, user.outlook);
    if (isBelow(path, old.localAppData))
        moved = relocated(path, old.localAppData, user.localOutlook);
    if (moved != path) reg.writeValue(kStoreValue, storeValueLike(*value, moved));
}

// Replaces the current user's mail profiles by the backed-up one, under both
// profiles keys, and points its stores to this user's folders. Without a profile
// in the backup the current profiles stay as they are.
void restoreProfile(std::string_view backupPath, const OldFolders& old, const UserFolders& user) {
    const std::string path = ExtractToStaging(backupPath, kSettingFile);
    if (path.empty()) return;
    const auto text = catalog::readFileBytes(path);
    if (!text) {
        RecordError("Cannot read the registry file " + path + ": " + platform::lastFileError());
        return;
    }
    const std::vector<std::string> keys = keyLines(*text);
    if (keys.empty()) return;
    if (std::none_of(keys.begin(), keys.end(), isProfileKey)) {
        std::string names;
        for (const std::string& k : keys)
            names += (names.empty() ? "\"" : ", \"") + k + "\"";
        RecordError("The backup's registry file " + std::string(kSettingFile) +
                    " holds no mail profile, only " + names +
                    "; it is not imported and the profiles are left as they are.");
        return;
    }
    {
        Registry reg(RootKey::CurrentUser);
        reg.deleteKey(kNtProfiles);
        reg.deleteKey(kOldProfiles);
    }
    // Keys outside the profiles are left out of the file (and named) on import.
    ImportBackupRegistryFile(path, kSettingFile, profileKeys(), false);
    const auto imported = catalog::readFileBytes(path);
    if (!imported || !WriteTextFile(path, forOtherFamily(*imported))) {
        RecordError("Cannot write the registry file " + path + ": " + platform::lastFileError());
        return;
    }
    ImportBackupRegistryFile(path, kSettingFile, profileKeys(), false);

    const auto profile = firstProfile();
    if (!profile) return;  // the file held no profile: no store to point anywhere
    for (std::string_view root : {kNtProfiles, kOldProfiles}) {
        const std::string key = profilesKey(root) + profile->name + "\\";
        for (const std::string& service : catalog::subKeyNames(RootKey::CurrentUser, key))
            moveStorePath(key + service + "\\", old, user);
    }
}

bool isOthersKey(std::string_view key) {
    return key.size() > 3 && platform::startsWithNoCase(key, "Dir") &&
           std::all_of(key.begin() + 3, key.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The personal store folders of others.ini: each back into the folder it came from
// (`target` empty) or into target\Others\Dir<n>\.
void restoreOthers(std::string_view backupPath, const std::string& target) {
    const platform::IniFile others(jobs::StagingPath(kOthersFile));
    for (const std::string& line : others.readSectionValues("Directory")) {
        const size_t eq = line.find('=');
        const std::string key = line.substr(0, eq);
        const std::string folder = eq == std::string::npos ? "" : trimmed(line.substr(eq + 1));
        if (!isOthersKey(key)) {
            RecordError("The backup's list of personal store folders holds the entry \"" + line +
                        "\", which is not one of its own; it is skipped.");
            continue;
        }
        if (!target.empty()) {
            RestoreTree(backupPath, "Others\\" + key, target + "Others\\" + key + "\\");
        } else if (IsFullPath(folder)) {
            RestoreTree(backupPath, "Others\\" + key, platform::includeTrailingBackslash(folder));
        } else {
            RecordError("The backup's personal store folder " + key + " = \"" + folder +
                        "\" is no full folder path; its files are not restored.");
        }
    }
}

}  // namespace

std::string StorePathFromValue(const RegValue& value) {
    switch (value.type) {
        case ValueType::String:
        case ValueType::ExpandString:
            return platform::utf16BytesToUtf8(value.data);
        case ValueType::Binary: {
            if (isUtf16Text(value.data)) return platform::utf16BytesToUtf8(value.data);
            const auto nul = std::find(value.data.begin(), value.data.end(), uint8_t{0});
            return platform::windows1252ToUtf8(std::string(value.data.begin(), nul));
        }
        default:
            return {};
    }
}

void BackupOutlook(jobs::BackupContext& ctx) {
    AdapterRun run;
    UserFolders user;
    user.appData = shellFolder("AppData");
    if (!IsFullPath(user.appData)) {
        RecordError(
            "Outlook is not backed up: the user's application data folder (\"AppData\" "
            "of HKEY_CURRENT_USER" +
            std::string(kShellFolders) + ") is " +
            (user.appData.empty() ? std::string("not set") : "\"" + user.appData + "\"") + ".");
        return;
    }
    // Without a local application data folder every store counts as kept elsewhere.
    user.localAppData = shellFolder("Local AppData");
    if (!IsFullPath(user.localAppData)) user.localAppData.clear();
    user.outlook = user.appData + "\\Microsoft\\Outlook";
    if (!user.localAppData.empty()) user.localOutlook = user.localAppData + "\\Microsoft\\Outlook";
    ctx.work = user.appData;

    jobs::StartBackupFrame(ctx);
    const auto item = [&](int i) { return ItemName(ctx.items, i, kind::Outlook); };
    if (ctx.identities.isChecked(0)) {
        jobs::AddFolderToJob(user.outlook, "app", user.outlook + "\\", "*");
        if (!user.localOutlook.empty())
            jobs::AddFolderToJob(user.localOutlook, "local", user.localOutlook + "\\", "*");
        jobs::CloseProgressGroup(ctx, item(1));

        // Without a profile there is no setting.reg: a restore then keeps the
        // profiles it finds instead of replacing them by none.
        const auto profile = firstProfile();
        std::vector<RegFile> files;
        if (profile) files.push_back({kSettingFile, profile->key});
        files.insert(files.end(), {kSetting2, kAccounts1, kAccounts2});
        for (const RegFile& f : files) {
            exportKey(f.file, f.key);
            jobs::AddStagingFileToJob(f.file);
            jobs::CloseProgressGroup(ctx, item(2));
        }

        backupStores(ctx, profile, user, item(3));
        jobs::AddStagingFileToJob(kOthersStored);
        jobs::CloseProgressGroup(ctx, item(4));
    }

    // The first signatures folder that exists; none when no Office names one.
    bool signatures = false;
    for (const std::string& folder : signatureFolders(user.appData)) {
        if (!platform::directoryExists(folder)) continue;
        jobs::AddFolderToJob(folder, "Signatures", folder, "*");
        signatures = true;
        break;
    }
    if (!signatures) RecordNote(item(5) + " adds nothing: the machine has no signatures folder");
    jobs::CloseProgressGroup(ctx, item(5));

    if (jobs::WriteManifest(ctx, true) && jobs::WriteManifestDirectory("Dir1", user.appData))
        jobs::WriteManifestDirectory("Dir2", user.localAppData);
    jobs::AddStagingFileToJob(jobs::kManifestName);
    jobs::FinishBackupFrame(ctx);
}

bool RestoreOutlook(jobs::RestoreContext& ctx) {
    AdapterRun run;
    UserFolders user;
    user.appData = shellFolder("AppData");
    user.localAppData = shellFolder("Local AppData");
    if (!IsFullPath(user.appData) || !IsFullPath(user.localAppData)) {
        RecordError(
            "Outlook is not restored: the user's application data folders (\"AppData\" "
            "and \"Local AppData\" of HKEY_CURRENT_USER" +
            std::string(kShellFolders) + ") are not both set.");
        return true;
    }
    user.outlook = user.appData + "\\Microsoft\\Outlook";
    user.localOutlook = user.localAppData + "\\Microsoft\\Outlook";
    std::vector<std::string> signatures = signatureFolders(user.appData);
    if (signatures.empty()) signatures.push_back(user.appData + "\\Microsoft\\Signatures");

    if (!BeginRestore(ctx.backupPath)) return true;
    const platform::IniFile manifest(jobs::StagingPath(jobs::kManifestName));
    OldFolders old;
    old.appData = platform::excludeTrailingBackslash(manifest.readString("Directory", "Dir1", ""));
    old.localAppData =
        platform::excludeTrailingBackslash(manifest.readString("Directory", "Dir2", ""));
    if (!IsFullPath(old.appData)) old.appData.clear();
    if (!IsFullPath(old.localAppData)) old.localAppData.clear();

    if (ctx.identities.isChecked(0)) {
        ExtractToStaging(ctx.backupPath, kOthersFile);
        for (const RegFile& f : {kAccounts1, kAccounts2, kSetting2}) {
            const std::string path = ExtractToStaging(ctx.backupPath, f.file);
            if (!path.empty()) ImportBackupRegistryFile(path, f.file, allowedKeys(f.key), false);
        }
        restoreProfile(ctx.backupPath, old, user);
        RestoreTree(ctx.backupPath, "local", user.localOutlook + "\\");
        RestoreTree(ctx.backupPath, "app", user.outlook + "\\");
        restoreOthers(ctx.backupPath, "");
        for (const std::string& folder : signatures)
            RestoreTree(ctx.backupPath, "Signatures", folder + "\\");
    }
    // Outlook rebuilds its favourites from the restored profile.
    const std::string favorites = user.outlook + "\\outlook.FAV";
    if (platform::fileExists(favorites)) platform::deleteFile(favorites);
    return jobs::archiveJob().errorFlag;
}

bool RestoreOutlookToFolder(jobs::RestoreContext& ctx) {
    AdapterRun run;
    const std::string target = platform::includeTrailingBackslash(ctx.targetFolder);
    if (!BeginRestore(ctx.backupPath)) return true;
    if (ctx.identities.isChecked(0)) {
        ExtractToStaging(ctx.backupPath, kOthersFile);
        for (std::string_view file :
             {kSettingFile, kAccounts1.file, kAccounts2.file, kSetting2.file}) {
            ExtractFile(ctx.backupPath, file, target);
            ConvertRegistryFileForHand(target + std::string(file));
        }
        RestoreTree(ctx.backupPath, "local", target + "local\\");
        RestoreTree(ctx.backupPath, "app", target + "app\\");
        RestoreTree(ctx.backupPath, "Signatures", target + "Signatures\\");
        restoreOthers(ctx.backupPath, target);
    }
    return jobs::archiveJob().errorFlag;
}

void RegisterOutlook() {
    jobs::RegisterBackupAdapter(kind::Outlook, BackupOutlook);
    jobs::RegisterRestoreAdapter(kind::Outlook, RestoreOutlook, RestoreOutlookToFolder);
}

}  // namespace qb::clients
