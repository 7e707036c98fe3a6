#include "clients/netscape.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "catalog/client_paths.h"
#include "catalog/identities.h"
#include "catalog/mozilla_profiles.h"
#include "catalog/reads.h"
#include "clients/adapter_support.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "regfile/io_registry.h"

namespace qb::clients {

namespace {

using platform::excludeTrailingBackslash;
using platform::includeTrailingBackslash;
using platform::lowerAscii;
using platform::RootKey;
using platform::startsWithNoCase;

constexpr const char* kNavigator = "\\Software\\Netscape\\Netscape Navigator";
constexpr const char* kDirectoryIni = "directory.ini";
constexpr const char* kDirectoryDatIni = "directorydat.ini";
constexpr const char* kIdentityReg = "identity.reg";
constexpr int kMailItem = 1;  // every group is named after "Mail Folders"

// The files of a Mozilla profile that are saved besides its mail, in this order.
constexpr const char* kProfileFiles[] = {"prefs.js", "abook.mab",      "history.mab", "panacea.dat",
                                         "xul.mfl",  "localstore.rdf", "panels.rdf"};

bool isDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

// Adds the plain files of a folder (ending "\"). Its sub-folders are not added:
// every sub-folder that holds files is a found folder of its own, and adding it
// here as well would store its files twice.
void addFilesOf(const std::string& folder, std::string_view archiveFolder,
                std::string_view baseFolder) {
    for (const platform::SearchRec& r : platform::findFiles(folder + "*.*", platform::faAnyFile)) {
        if (isDotEntry(r.name) || (r.attr & platform::faDirectory)) continue;
        jobs::AddFileToJob(folder + r.name, archiveFolder, baseFolder);
    }
}

bool usableIdentity(const std::string& name, std::string_view what) {
    if (IsSafeFolderName(name)) return true;
    RecordError(std::string(what) + " \"" + name +
                "\" was left out: its name is not a folder name.");
    return false;
}

// ---- Netscape 4 ----

std::string userKey(const std::string& user) {
    return std::string(kNavigator) + "\\" + user;
}

// The user folder (ending "\") of a Netscape 4 user, from its first mail
// server's "popstatePath"; `mail` tells whether the mail folder is known too.
// Without a mail server the user's "DirRoot" still names its folder, but no
// mail; without either, "" (never a drive's root).
std::string netscape4UserFolder(const std::string& user, bool& mail) {
    mail = false;
    const std::string servers = std::string(kNavigator) + "\\biff\\users\\" + user + "\\servers";
    const std::vector<std::string> names = catalog::subKeyNames(RootKey::CurrentUser, servers);
    const std::string popstate =
        names.empty() ? std::string()
                      : catalog::readText(RootKey::CurrentUser, servers + "\\" + names.front(),
                                          "popstatePath");
    if (!popstate.empty()) {
        const std::string folder = CutTwoLevels(popstate);
        if (IsFullPath(folder)) {
            mail = true;
            return folder;
        }
        RecordError("Netscape user \"" + user + "\": the mail server's \"popstatePath\" (\"" +
                    popstate + "\") names no user folder on a drive; the user's files were not " +
                    "backed up.");
        return {};
    }
    const std::string dirRoot = catalog::readText(RootKey::CurrentUser, userKey(user), "DirRoot");
    if (IsFullPath(dirRoot)) {
        RecordNote("Netscape user \"" + user +
                   "\" has no mail server set up (no \"popstatePath\" " +
                   "under HKEY_CURRENT_USER" + servers + "): its mail was not backed up.");
        return includeTrailingBackslash(dirRoot);
    }
    RecordNote("Netscape user \"" + user + "\" has no mail server set up (no \"popstatePath\" " +
               "under HKEY_CURRENT_USER" + servers +
               ") and no user folder (\"DirRoot\"): " + "only its settings were backed up.");
    return {};
}

void backupNetscape4User(const std::string& user, const std::string& windows) {
    bool mail = false;
    const std::string uf = netscape4UserFolder(user, mail);
    const std::string ufBare = excludeTrailingBackslash(uf);
    if (!uf.empty()) jobs::AddFolderToJob(ufBare, user + "\\Address", uf, "na2");
    jobs::AddFileToJob(windows + "\\nsreg.dat", user, windows + "\\");
    if (!uf.empty()) {
        jobs::AddFileToJob(uf + "prefs.js", user, uf);
        jobs::AddFileToJob(uf + "liprefs.js", user, uf);
    }
    IniKeys subFolders;
    if (mail) {
        const std::string mailFolder = uf + "Mail\\";
        jobs::AddFolderToJob(uf + "Mail", user + "\\Mailbox", mailFolder, "*");
        for (const std::string& found : FoldersHolding(mailFolder + "*.*")) {
            if (lowerAscii(found) == lowerAscii(mailFolder)) continue;
            addFilesOf(found, user, uf);
            const std::string folder = excludeTrailingBackslash(found);
            if (folder.size() > 4 && lowerAscii(folder.substr(folder.size() - 4)) == ".sbd")
                subFolders.emplace_back("Dir" + std::to_string(subFolders.size() + 1),
                                        folder.substr(uf.size()));
        }
    }
    // One file per user: written into the user's own staging folder, so that
    // every user's backup keeps its own list.
    WriteStagingIni(user + "\\" + kDirectoryDatIni, {{"Directory", subFolders}});
    jobs::AddStagingFileToJob(user + "\\" + kDirectoryDatIni);

    // Exporting creates a missing key: only a key that is there is exported.
    if (catalog::keyExists(RootKey::CurrentUser, userKey(user))) {
        const std::string reg = FreshStagingPath(user + "\\" + kIdentityReg);
        platform::forceDirectories(platform::extractFilePath(reg));
        TIORegistry& io = jobs::IORegistry();
        if (!io.ExportKey("HKEY_CURRENT_USER", userKey(user), true, reg))
            RecordError("The settings of Netscape user \"" + user +
                        "\" could not be saved: " + io.LastError());
        jobs::AddStagingFileToJob(user + "\\" + kIdentityReg);
    }
    WriteStagingIni(user + "\\" + kDirectoryIni,
                    {{"Directory", {{"Dir", uf}, {"Dir2", uf.empty() ? uf : CutTwoLevels(uf)}}}});
    jobs::AddStagingFileToJob(user + "\\" + kDirectoryIni);
}

// Imports the user's registry file from the backup: only when it holds nothing
// but the user's own key (a file that names other keys is refused whole).
void importNetscape4Settings(const jobs::RestoreContext& ctx, const std::string& user) {
    const std::string name = user + "\\" + kIdentityReg;
    const std::string reg = ExtractToStaging(ctx.backupPath, name, user);
    if (reg.empty()) return;
    ImportBackupRegistryFile(reg, name, {{RootKey::CurrentUser, userKey(user).substr(1)}}, false,
                             OutsideKeys::RefuseFile);
}

}  // namespace

bool RestoreNetscape4(jobs::RestoreContext& ctx) {
    AdapterRun run;
    const std::string windows = platform::windowsFolder();
    if (!BeginRestore(ctx.backupPath)) return jobs::archiveJob().errorFlag;
    Extraction plan;
    std::vector<std::string> registryFiles;  // of a restore into a folder
    for (int i = 0; i < ctx.identities.count; ++i) {
        if (!ctx.identities.isChecked(i)) continue;
        const std::string& user = ctx.identities[i].name;
        if (!usableIdentity(user, "Netscape user")) continue;

        if (ctx.toFolder()) {
            const std::string target = ctx.targetFolder + user + "\\";
            plan.addFile(user + "\\" + kIdentityReg, target);
            registryFiles.push_back(target + kIdentityReg);
            plan.addTree(user + "\\Address", target + "Address\\");
            // The main mail folder and its sub-folders make one tree again.
            plan.addTree(user + "\\Mailbox", target + "Mail\\");
            plan.addTree(user + "\\Mail", target + "Mail\\");
            for (const char* f : {kDirectoryIni, "prefs.js", "liprefs.js"})
                plan.addFile(user + "\\" + f, target);
            continue;
        }

        const std::string dirIni =
            ExtractToStaging(ctx.backupPath, user + "\\" + kDirectoryIni, user);
        const std::string dir = dirIni.empty()
                                    ? std::string()
                                    : platform::IniFile(dirIni).readString("Directory", "Dir", "");
        const std::string uf = includeTrailingBackslash(dir);
        importNetscape4Settings(ctx, user);
        plan.addFile(user + "\\nsreg.dat", windows + "\\");
        if (!IsFullPath(uf)) {
            if (!ListedNamesUnder(user + "\\Mailbox").empty() ||
                !ListedName(user + "\\prefs.js").empty() ||
                !ListedNamesUnder(user + "\\Address").empty())
                RecordError("The files of Netscape user \"" + user +
                            "\" were not restored: the backup names no user folder on a drive "
                            "for them (\"" +
                            dir + "\").");
            continue;
        }
        plan.addTree(user + "\\Address", uf);
        plan.addTree(user + "\\Mailbox", uf + "Mail\\");
        plan.addTree(user + "\\Mail", uf + "Mail\\");
        plan.addFile(user + "\\prefs.js", uf);
        plan.addFile(user + "\\liprefs.js", uf);
    }
    plan.run(ctx.backupPath);
    for (const std::string& file : registryFiles)
        ConvertRegistryFileForHand(file);
    return jobs::archiveJob().errorFlag;
}

namespace {

// The folder of the profile listed as identity k (from 0) by the name `name`: the
// profile registry is read again, so that a backup without an earlier listing,
// or after the registry changed, still finds each profile by its name.
std::string mozillaProfileFolder(int k, const std::string& name) {
    const std::string atPlace = MozillaProfilePaths().path(k + 1);
    if (!atPlace.empty() && MozillaProfileName(atPlace) == name) return atPlace;
    for (const std::string& path : MozillaProfilePaths().paths())
        if (MozillaProfileName(path) == name) return path;
    return {};
}

}  // namespace

std::string CutTwoLevels(std::string_view path) {
    size_t found = 0;
    for (size_t i = path.size(); i-- > 0;) {
        if (path[i] != '\\') continue;
        if (++found == 2) return std::string(path.substr(0, i + 1));
    }
    return std::string(path.substr(0, found));
}

std::string MozillaProfileBelowProfiles(std::string_view profileFolder) {
    const std::string folder = excludeTrailingBackslash(profileFolder);
    const std::string marker = "\\mozilla\\profiles\\";
    const size_t at = lowerAscii(folder).rfind(marker);
    if (at != std::string::npos && at + marker.size() < folder.size())
        return folder.substr(at + marker.size());
    const size_t last = folder.rfind('\\');
    if (last == std::string::npos || last == 0) return {};
    const size_t before = folder.rfind('\\', last - 1);
    if (before == std::string::npos) return {};
    return folder.substr(before + 1);
}

void BackupNetscape4(jobs::BackupContext& ctx) {
    AdapterRun run;
    const std::string windows = platform::windowsFolder();
    jobs::StartBackupFrame(ctx);
    for (int i = 0; i < ctx.identities.count; ++i) {
        if (!ctx.identities.isChecked(i)) continue;
        const std::string& user = ctx.identities[i].name;
        if (!usableIdentity(user, "Netscape user")) continue;
        backupNetscape4User(user, windows);
        jobs::CloseProgressGroup(ctx, ItemName(ctx.items, kMailItem, ctx.kind));
    }
    jobs::WriteManifest(ctx);
    jobs::AddStagingFileToJob(jobs::kManifestName);
    jobs::FinishBackupFrame(ctx);
}

void BackupMozilla(jobs::BackupContext& ctx) {
    AdapterRun run;
    const std::string appData = AppDataFolder();
    if (!IsFullPath(appData)) {
        RecordError(
            "The application data folder is not known (value \"AppData\" of "
            "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
            "Shell Folders). Nothing was backed up.");
        return;
    }
    ListIdentities(kind::Mozilla);  // fills MozillaProfilePaths from the profile registry
    jobs::StartBackupFrame(ctx);
    std::vector<std::string> profiles;  // per chosen identity, "" when it was left out
    for (int k = 0; k < ctx.identities.count; ++k) {
        if (!ctx.identities.isChecked(k)) continue;
        const std::string& name = ctx.identities[k].name;
        profiles.emplace_back();
        if (!usableIdentity(name, "Profile")) continue;
        const std::string pp = mozillaProfileFolder(k, name);
        const std::string below = MozillaProfileBelowProfiles(pp);
        if (!IsFullPath(pp) || !IsSafeRelativePath(below)) {
            RecordError("Profile \"" + name + "\" was left out: the profile registry " +
                        MozillaRegistryFile() + " names no folder on a drive for it (\"" + pp +
                        "\").");
            continue;
        }
        profiles.back() = pp;
        // Mail folders are stored as their paths below the profiles folder.
        const std::string stored = "Mozilla\\Profiles\\" + below;
        const std::string mail = pp + "\\Mail";
        IniKeys dirs;
        for (const std::string& found : FoldersHolding(mail + "\\*.*")) {
            addFilesOf(found, stored, pp + "\\");
            dirs.emplace_back("Dir" + std::to_string(dirs.size() + 1),
                              below + "\\" + excludeTrailingBackslash(found.substr(pp.size() + 1)));
        }
        WriteStagingIni(name + "\\" + kDirectoryIni, {{"Directory", dirs}});
        jobs::AddStagingFileToJob(name + "\\" + kDirectoryIni);
        for (const char* f : kProfileFiles)
            jobs::AddFileToJob(pp + "\\" + f, name, pp + "\\");
        jobs::AddFileToJob(mail + "\\accounts.ini", "", mail + "\\");
        jobs::CloseProgressGroup(ctx, ItemName(ctx.items, kMailItem, ctx.kind));
    }
    jobs::AddFileToJob(appData + "\\Mozilla\\registry.dat", "", appData + "\\Mozilla");
    jobs::WriteManifest(ctx);
    for (size_t i = 0; i < profiles.size(); ++i)
        jobs::WriteManifestDirectory("Dir" + std::to_string(i + 1), profiles[i]);
    jobs::AddStagingFileToJob(jobs::kManifestName);
    jobs::FinishBackupFrame(ctx);
}

namespace {

// Whether a profile folder lies in an application data folder's profiles folder
// (...\Mozilla\Profiles\...), the place the browser gives every new profile.
bool inProfilesFolder(const std::string& profileFolder) {
    return lowerAscii(profileFolder).find("\\mozilla\\profiles\\") != std::string::npos;
}

// A profile registry ("registry.dat") as the browser's library keeps it: a
// 128-byte header (magic, version, the file's next free byte at 8, the root node
// at 12) and 32-byte node records that begin with their own offset. Keys chain
// their sub-keys (down) and their entries (value), both through "left". Every
// profile is a key below /Common/Profiles whose text entry "directory" names its
// folder; the entry's name is followed by its text, which is how the catalog
// finds the folders, so new texts are written right after a new name.
class ProfileRegistry {
  public:
    explicit ProfileRegistry(std::string bytes) : b_(std::move(bytes)) {}

    bool valid() const { return in(0, kHeader) && r32(0) == kMagic; }
    const std::string& bytes() const { return b_; }

    // The profiles, (key name, folder), in key order.
    std::vector<std::pair<std::string, std::string>> profiles() const {
        std::vector<std::pair<std::string, std::string>> out;
        for (const int64_t key : profileKeys()) {
            if (r16(key + kType) != kKey) continue;
            const int64_t entry = directoryEntry(key);
            if (entry != 0)
                out.emplace_back(text(key, kName, r16(key + kNameLen)), folderOf(entry));
        }
        return out;
    }

    // Points the profile that names `from` (ignoring case) at `to`: in place when
    // the new text fits the old one's room, else after a new name at the end (the
    // old text cleared, so that the folder is named once).
    void move(const std::string& from, const std::string& to) {
        for (const int64_t key : profileKeys()) {
            const int64_t entry = r16(key + kType) == kKey ? directoryEntry(key) : 0;
            if (entry == 0 || !platform::equalsNoCase(folderOf(entry), from)) continue;
            const int64_t value = r32(entry + kValue), room = r32(entry + kValueLen);
            const auto len = static_cast<int64_t>(to.size()) + 1;
            b_.replace(static_cast<size_t>(value), static_cast<size_t>(room),
                       static_cast<size_t>(room), '\0');
            if (len <= room) {
                b_.replace(static_cast<size_t>(value), to.size(), to);
            } else {
                w32(entry + kName, append("directory"));
                w32(entry + kValue, append(to));
                w32(entry + kDown, len);  // the room the new text has
            }
            w32(entry + kValueLen, len);
            w32(8, static_cast<int64_t>(b_.size()));
        }
    }

    // Adds a profile key with its folder; false when there is no profile list.
    bool add(const std::string& name, const std::string& folder) {
        const int64_t parent = profilesKey();
        if (parent == 0) return false;
        const int64_t key =
            appendNode(append(name), static_cast<int64_t>(name.size()) + 1, kKey, parent);
        const std::vector<int64_t> siblings = chain(r32(parent + kDown));
        w32(siblings.empty() ? parent + kDown : siblings.back() + kLeft, key);
        const int64_t entryName = append("directory");
        const int64_t value = append(folder);
        const int64_t entry = appendNode(entryName, 10, kString, key);
        const auto len = static_cast<int64_t>(folder.size()) + 1;
        w32(entry + kValue, value);
        w32(entry + kValueLen, len);
        w32(entry + kDown, len);
        w32(key + kValue, entry);
        return true;
    }

  private:
    static constexpr int64_t kHeader = 128, kNode = 32, kMagic = 0x76644441;
    static constexpr int64_t kName = 4, kNameLen = 8, kType = 10, kLeft = 12, kDown = 16,
                             kValue = 20, kValueLen = 24, kParent = 28;
    static constexpr int64_t kKey = 0x0001, kString = 0x0011;

    bool in(int64_t at, int64_t n) const {
        return at >= 0 && n >= 0 && at + n <= static_cast<int64_t>(b_.size());
    }
    int64_t r32(int64_t at) const {
        if (!in(at, 4)) return 0;
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<uint8_t>(b_[static_cast<size_t>(at + i)]);
        return static_cast<int32_t>(v);
    }
    int64_t r16(int64_t at) const {
        if (!in(at, 2)) return 0;
        return static_cast<uint8_t>(b_[static_cast<size_t>(at)]) |
               static_cast<uint8_t>(b_[static_cast<size_t>(at + 1)]) << 8;
    }
    void w32(int64_t at, int64_t v) {
        const auto u = static_cast<uint32_t>(v);
        for (int i = 0; i < 4; ++i)
            b_[static_cast<size_t>(at + i)] = static_cast<char>(u >> (8 * i));
    }
    void w16(int64_t at, int64_t v) {
        b_[static_cast<size_t>(at)] = static_cast<char>(v);
        b_[static_cast<size_t>(at + 1)] = static_cast<char>(v >> 8);
    }
    int64_t append(std::string_view data) {
        const auto at = static_cast<int64_t>(b_.size());
        b_.append(data);
        b_.push_back('\0');
        w32(8, static_cast<int64_t>(b_.size()));
        return at;
    }
    int64_t appendNode(int64_t name, int64_t nameLen, int64_t type, int64_t parent) {
        const auto at = static_cast<int64_t>(b_.size());
        b_.append(static_cast<size_t>(kNode), '\0');
        w32(at, at);
        w32(at + kName, name);
        w16(at + kNameLen, nameLen);
        w16(at + kType, type);
        w32(at + kParent, parent);
        w32(8, static_cast<int64_t>(b_.size()));
        return at;
    }
    // The nodes of a chain through "left", each a whole record, none twice.
    std::vector<int64_t> chain(int64_t first) const {
        std::vector<int64_t> out;
        std::set<int64_t> seen;
        for (int64_t n = first; n != 0 && in(n, kNode) && r32(n) == n && seen.insert(n).second;
             n = r32(n + kLeft))
            out.push_back(n);
        return out;
    }
    // A NUL-terminated text of `len` bytes (NUL included) at the offset in a field.
    std::string text(int64_t node, int64_t field, int64_t len) const {
        const int64_t at = r32(node + field);
        if (len < 1 || !in(at, len)) return {};
        const std::string raw = b_.substr(static_cast<size_t>(at), static_cast<size_t>(len - 1));
        return raw.substr(0, raw.find('\0'));
    }
    std::string folderOf(int64_t entry) const {
        return text(entry, kValue, r32(entry + kValueLen));
    }
    int64_t subKey(int64_t key, std::string_view name) const {
        if (key == 0) return 0;
        for (const int64_t k : chain(r32(key + kDown)))
            if (r16(k + kType) == kKey && text(k, kName, r16(k + kNameLen)) == name) return k;
        return 0;
    }
    int64_t profilesKey() const {
        if (!valid()) return 0;
        const int64_t root = r32(12);
        if (!in(root, kNode) || r32(root) != root) return 0;
        return subKey(subKey(root, "Common"), "Profiles");
    }
    std::vector<int64_t> profileKeys() const {
        const int64_t list = profilesKey();
        return list == 0 ? std::vector<int64_t>{} : chain(r32(list + kDown));
    }
    int64_t directoryEntry(int64_t key) const {
        for (const int64_t e : chain(r32(key + kValue)))
            if (r16(e + kType) == kString && text(e, kName, r16(e + kNameLen)) == "directory" &&
                r32(e + kValueLen) >= 1 && in(r32(e + kValue), r32(e + kValueLen)))
                return e;
        return 0;
    }

    std::string b_;
};

// Brings the restored profile registry to this machine: the moved profiles
// pointed at their new folders, and the profiles this machine listed before the
// restore (`before`, its old registry) that the backup does not name kept on the
// list. Returns "" or what went wrong.
std::string updateRestoredRegistry(const std::string& file,
                                   const std::vector<std::pair<std::string, std::string>>& moves,
                                   const std::optional<std::string>& before) {
    const auto restored = catalog::readFileBytes(file);
    if (!restored) return "it cannot be read";
    ProfileRegistry reg(*restored);
    if (!reg.valid()) return "it is not a profile registry";
    for (const auto& [from, to] : moves)
        reg.move(from, to);
    if (before) {
        std::set<std::string> names;
        for (const auto& [name, folder] : reg.profiles())
            names.insert(lowerAscii(name));
        for (const auto& [name, folder] : ProfileRegistry(*before).profiles()) {
            if (!names.insert(lowerAscii(name)).second) continue;
            if (!reg.add(name, folder))
                return "it holds no profile list, so this machine's profile \"" + name +
                       "\" could not be kept on it";
        }
    }
    if (reg.bytes() == *restored) return {};
    return WriteTextFile(file, reg.bytes()) ? std::string() : "it cannot be written";
}

}  // namespace

bool RestoreMozilla(jobs::RestoreContext& ctx) {
    AdapterRun run;
    if (!BeginRestore(ctx.backupPath)) return jobs::archiveJob().errorFlag;
    const std::vector<std::string> oldFolders =
        ReadNumberedKeys(jobs::StagingPath(jobs::kManifestName), "Directory", "Dir");
    const std::string appData = ctx.toFolder() ? std::string() : AppDataFolder();
    const bool appDataKnown = IsFullPath(appData);
    // Profiles moved from the old user's application data folder into this one's:
    // (old folder, new folder), for the restored profile registry.
    std::vector<std::pair<std::string, std::string>> moves;
    Extraction plan;
    for (int i = 0; i < ctx.identities.count; ++i) {
        if (!ctx.identities.isChecked(i)) continue;
        const std::string& name = ctx.identities[i].name;
        if (!usableIdentity(name, "Profile")) continue;
        const std::string old =
            static_cast<size_t>(i) < oldFolders.size() ? oldFolders[static_cast<size_t>(i)] : "";
        const std::string below = MozillaProfileBelowProfiles(old);
        // Into the client the profile goes back to the folder the restored profile
        // registry names; into a folder, below its "Profiles" folder.
        const bool placeKnown = ctx.toFolder() ? IsSafeRelativePath(below)
                                               : IsFullPath(old) && IsSafeRelativePath(below);
        if (!placeKnown) {
            RecordError("Profile \"" + name + "\" was not restored: the backup names no usable " +
                        "profile folder for it (\"" + old + "\").");
            continue;
        }
        // A profile of the old application data folder goes into this user's, as
        // the browser would have made it here: the old user's folders may not be
        // there, or belong to someone else. A profile kept elsewhere keeps its place.
        std::string profileTarget = excludeTrailingBackslash(old) + "\\";
        if (ctx.toFolder()) {
            profileTarget = ctx.targetFolder + "Profiles\\" + below + "\\";
        } else if (appDataKnown && inProfilesFolder(old)) {
            profileTarget = appData + "\\Mozilla\\Profiles\\" + below + "\\";
            const std::string now = excludeTrailingBackslash(profileTarget);
            if (!platform::equalsNoCase(now, excludeTrailingBackslash(old)))
                moves.emplace_back(excludeTrailingBackslash(old), now);
        }

        const std::string dirIni =
            ExtractToStaging(ctx.backupPath, name + "\\" + kDirectoryIni, name);
        const std::vector<std::string> dirs = dirIni.empty()
                                                  ? std::vector<std::string>{}
                                                  : ReadNumberedKeys(dirIni, "Directory", "Dir");
        for (size_t j = dirs.size(); j >= 1; --j) {
            const std::string& dir = dirs[j - 1];
            const bool ofThisProfile = startsWithNoCase(dir, below + "\\");
            if (!IsSafeRelativePath(dir) || !ofThisProfile) {
                RecordError("Not restored: mail folder \"" + dir + "\" of profile \"" + name +
                            "\" does not lie in the profile's folder " + below);
                continue;
            }
            plan.addTree("Mozilla\\Profiles\\" + dir,
                         profileTarget + dir.substr(below.size() + 1) + "\\");
        }
        for (const char* f : kProfileFiles)
            plan.addFile(name + "\\" + f, profileTarget);
    }
    // The profile registry names the profiles' folders: it goes where this
    // machine's browser reads it (into a folder restore's target).
    if (ctx.identities.count > 0) {
        std::string target = ctx.targetFolder;
        if (!ctx.toFolder()) {
            if (appDataKnown)
                target = appData + "\\Mozilla\\";
            else
                RecordError(
                    "The profile registry was not restored: the application data folder "
                    "is not known.");
        }
        if (!target.empty()) plan.addFile("registry.dat", target);
    }
    // This machine's profile list before the restore: the restored one replaces it.
    const std::string registry = appData + "\\Mozilla\\registry.dat";
    const std::optional<std::string> before =
        appDataKnown ? catalog::readFileBytes(registry) : std::nullopt;
    plan.run(ctx.backupPath);
    if (appDataKnown && platform::fileExists(registry) && (!moves.empty() || before)) {
        const std::string why = updateRestoredRegistry(registry, moves, before);
        if (!why.empty())
            RecordError("The profile registry " + registry + " could not be brought up to date " +
                        "with the restored profiles' folders and this machine's profiles: " + why +
                        ".");
    }
    return jobs::archiveJob().errorFlag;
}

void RegisterNetscape() {
    jobs::RegisterBackupAdapter(kind::Netscape4, BackupNetscape4);
    jobs::RegisterRestoreAdapter(kind::Netscape4, RestoreNetscape4, RestoreNetscape4);
    jobs::RegisterBackupAdapter(kind::Mozilla, BackupMozilla);
    jobs::RegisterRestoreAdapter(kind::Mozilla, RestoreMozilla, RestoreMozilla);
}

}  // namespace qb::clients
