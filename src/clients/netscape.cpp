#include "clients/netscape.h"

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
        RecordError("Netscape user \"" + user +
                    "\" has no mail server set up (no \"popstatePath\" " +
                    "under HKEY_CURRENT_USER" + servers + "): its mail was not backed up.");
        return includeTrailingBackslash(dirRoot);
    }
    RecordError("Netscape user \"" + user + "\" has no mail server set up (no \"popstatePath\" " +
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
    for (int i = 0; i < ctx.identities.count; ++i) {
        if (!ctx.identities.isChecked(i)) continue;
        const std::string& user = ctx.identities[i].name;
        if (!usableIdentity(user, "Netscape user")) continue;

        if (ctx.toFolder()) {
            const std::string target = ctx.targetFolder + user + "\\";
            plan.addFile(user + "\\" + kIdentityReg, target);
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

bool RestoreMozilla(jobs::RestoreContext& ctx) {
    AdapterRun run;
    if (!BeginRestore(ctx.backupPath)) return jobs::archiveJob().errorFlag;
    const std::vector<std::string> oldFolders =
        ReadNumberedKeys(jobs::StagingPath(jobs::kManifestName), "Directory", "Dir");
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
        const std::string profilesTarget = ctx.targetFolder + "Profiles\\";
        const std::string profileTarget =
            ctx.toFolder() ? profilesTarget + below + "\\" : excludeTrailingBackslash(old) + "\\";

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
            const std::string appData = AppDataFolder();
            if (IsFullPath(appData))
                target = appData + "\\Mozilla\\";
            else
                RecordError(
                    "The profile registry was not restored: the application data folder "
                    "is not known.");
        }
        if (!target.empty()) plan.addFile("registry.dat", target);
    }
    plan.run(ctx.backupPath);
    return jobs::archiveJob().errorFlag;
}

void RegisterNetscape() {
    jobs::RegisterBackupAdapter(kind::Netscape4, BackupNetscape4);
    jobs::RegisterRestoreAdapter(kind::Netscape4, RestoreNetscape4, RestoreNetscape4);
    jobs::RegisterBackupAdapter(kind::Mozilla, BackupMozilla);
    jobs::RegisterRestoreAdapter(kind::Mozilla, RestoreMozilla, RestoreMozilla);
}

}  // namespace qb::clients
