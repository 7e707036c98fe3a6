#include "app/auto_backup.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <fstream>
#include <vector>

#include "app/backup_run.h"
#include "app/date_time.h"
#include "app/password.h"
#include "app/settings.h"
#include "catalog/backup_name.h"
#include "catalog/identities.h"
#include "catalog/kinds.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text_codec.h"
#ifdef QB_HAVE_RESTORE_JOB
#include "jobs/restore_job.h"
#endif

namespace qb::app {

namespace {

using platform::Registry;
using platform::RootKey;

struct StoredChoice {
    std::string name;
    bool checked = false;
};

// The boolean values of a schedule subkey, in the key's order.
std::vector<StoredChoice> storedChoices(const std::string& key) {
    std::vector<StoredChoice> out;
    Registry reg(RootKey::CurrentUser);
    if (!reg.openKeyReadOnly(key)) return out;
    for (const std::string& name : reg.valueNames()) {
        bool checked = false;
        try {
            checked = reg.readBool(name);
        } catch (const platform::RegistryError&) {
        }
        out.push_back({name, checked});
    }
    return out;
}

std::optional<ClientKind> kindFromEntryName(std::string_view name) {
    ClientKind kind = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), kind);
    if (ec != std::errc() || end != name.data() + name.size()) return std::nullopt;
    return kind;
}

// One line of the log: fields separated by tabs, each on one line, other control
// characters (from names of the machine or of a backup) escaped.
std::string logField(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return platform::escapeControls(out);
}

class AutoLog {
  public:
    explicit AutoLog(const std::string& folder) : path_(folder + std::string(kAutoBackupLogName)) {}
    void add(ClientKind kind, const std::string& file, std::string_view outcome,
             std::string_view error) {
        std::string line = FormatLocalTime(LocalNow()) + "\t" + logField(ClientName(kind)) + "\t" +
                           logField(file) + "\t" + logField(outcome) + "\t" + logField(error) +
                           "\n";
        auto host = platform::hostPath(path_);
        std::ofstream f;
        if (host) f.open(*host, std::ios::binary | std::ios::app);
        if (f) f << line;
        if (!f) std::cerr << "quillbox: cannot write the log file " << path_ << "\n";
    }

  private:
    std::string path_;
};

}  // namespace

std::string LogonUserPrefix() {
    try {
        Registry reg(RootKey::CurrentUser);
        if (!reg.openKeyReadOnly("\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer"))
            return {};
        const std::string user = reg.readString("Logon User Name");
        return user.empty() ? std::string() : user + " ";
    } catch (const platform::RegistryError&) {
        return {};
    }
}

ScheduledSelection LoadScheduledSelection(ClientKind kind, std::string_view entryName) {
    ScheduledSelection sel;
    std::vector<std::string> identities, items;
    const bool selectable = ListIdentitiesAndItems(kind, identities, items);
    const std::string entry = std::string(kScheduleKey) + "\\" + std::string(entryName);
    const std::vector<StoredChoice> storedIds = storedChoices(entry + "\\Identity");
    const std::vector<StoredChoice> storedItems = storedChoices(entry + "\\Items");
    for (const std::string& id : identities) {
        bool checked = false;
        for (const StoredChoice& c : storedIds)
            if (platform::equalsNoCase(c.name, id)) checked = c.checked;
        sel.identities.add(id, checked);
    }
    for (const std::string& item : items) {
        bool checked = !selectable;
        if (selectable)
            for (const StoredChoice& c : storedItems)
                if (c.name == item) checked = c.checked;
        sel.items.add(item, checked);
    }
    return sel;
}

bool RunScheduledBackups(std::ostream& out) {
    const Settings& s = settings();
    const std::string folder = platform::includeTrailingBackslash(s.autoBackupFolder);
    std::string folderError;
    if (!platform::directoryExists(folder) && !platform::forceDirectories(folder))
        folderError = "cannot create the automatic backup folder " + folder + ": " +
                      platform::lastFileError();
    const std::string user = LogonUserPrefix();
    std::vector<std::string> entries;
    {
        Registry reg(RootKey::CurrentUser);
        if (reg.openKeyReadOnly(kScheduleKey)) entries = reg.keyNames();
    }
    AutoLog log(folder);
    // A password that was asked for but cannot be had stops every backup: none is
    // written unprotected.
    std::string passwordError;
    const std::optional<RunPassword> password = ScheduledBackupPassword(passwordError);
    const JobPasswordScope protect(password ? password->password : std::string());
    bool allDone = true;
    for (const std::string& entry : entries) {
        bool selected = false;
        try {
            Registry reg(RootKey::CurrentUser);
            selected = reg.openKeyReadOnly(std::string(kScheduleKey) + "\\" + entry) &&
                       reg.readBool("Selected");
        } catch (const platform::RegistryError&) {
        }
        if (!selected) continue;
        const std::optional<ClientKind> kind = kindFromEntryName(entry);
        // The heading and the family entries have no backup of their own.
        if (!kind || !hasBackups(*kind)) {
            std::cerr << "quillbox: the schedule entry " << entry
                      << " names no client to back up\n";
            continue;
        }
        const std::string name(ClientName(*kind));
        const std::string path = folder + user + BackupFileNameFor(*kind);
        if (!folderError.empty()) {
            out << name << ": backup failed: " << path << "\n";
            std::cerr << "quillbox: " << folderError << "\n";
            allDone = false;
            continue;
        }
        if (!password) {
            out << name << ": backup failed: " << path << "\n";
            std::cerr << "quillbox: " << name << ": " << passwordError << "\n";
            log.add(*kind, path, "failed", passwordError);
            allDone = false;
            continue;
        }
        try {
            const ScheduledSelection sel = LoadScheduledSelection(*kind, entry);
            const BackupReport r = RunCheckedBackup(*kind, path, sel.identities, sel.items);
            switch (r.outcome) {
                case BackupOutcome::Done: {
                    PruneAutomaticBackups(*kind, path);
                    out << name << ": backed up to " << path << "\n";
                    std::string noted;
                    for (const std::string& note : r.notes) {
                        std::cerr << "quillbox: " << name << ": "
                                  << platform::escapeControls(note, true) << "\n";
                        noted += (noted.empty() ? "" : "; ") + note;
                    }
                    log.add(*kind, path, "backed up", noted);
                    continue;
                }
                case BackupOutcome::NotInstalled:
                    out << name << ": not backed up, it is not installed on this machine\n";
                    log.add(*kind, path, "skipped", "not installed on this machine");
                    break;
                case BackupOutcome::ClientRunning:
                    out << name << ": not backed up, the client is running\n";
                    log.add(*kind, path, "skipped", "the client is running");
                    break;
                case BackupOutcome::Aborted:
                    out << name << ": backup aborted: " << path << "\n";
                    log.add(*kind, path, "aborted", "");
                    break;
                case BackupOutcome::Failed:
                    out << name << ": backup failed: " << path << "\n";
                    std::cerr << "quillbox: " << name << ": "
                              << platform::escapeControls(r.error, true) << "\n";
                    log.add(*kind, path, "failed", r.error);
                    break;
            }
        } catch (const std::exception& e) {
            out << name << ": backup failed: " << path << "\n";
            std::cerr << "quillbox: " << name << ": " << platform::escapeControls(e.what(), true)
                      << "\n";
            log.add(*kind, path, "failed", e.what());
        }
        allDone = false;
    }
    return allDone;
}

void PruneAutomaticBackups(ClientKind kind, std::string_view newFile) {
    PruneAutomaticBackups(kind, newFile, settings().backupMode, settings().backupKeep);
}

void PruneAutomaticBackups(ClientKind kind, std::string_view newFile, int32_t backupMode,
                           int32_t backupKeep) {
    if (backupMode == kNewBackupFile) return;
    std::string clientPrefix(fileNamePrefix(kind));
    if (!clientPrefix.empty() && clientPrefix.back() == ' ') clientPrefix.pop_back();
    if (clientPrefix.empty()) clientPrefix = "ebk";
    const std::string folder = platform::extractFilePath(newFile);
    const std::string newName = platform::extractFileName(newFile);
    const size_t at = newName.find(clientPrefix);
    const std::string namePrefix =
        (at == std::string::npos ? std::string() : newName.substr(0, at)) + clientPrefix;

    // Names are matched here rather than by a search mask, so that a user name
    // holding "*" or "?" cannot reach other users' backups.
    struct Found {
        std::string name;
        int64_t date;
    };
    std::vector<Found> files;
    for (const platform::SearchRec& r : platform::findFiles(folder + "*", platform::faAnyFile)) {
        if (r.attr & platform::faDirectory) continue;
        if (!platform::startsWithNoCase(r.name, namePrefix)) continue;
        if (!platform::equalsNoCase(platform::extractFileExt(r.name), ".ebk")) continue;
        if (!platform::sameName(r.name, newName) &&
            !BackupOfVersion(kind, folder + r.name, r.name.substr(namePrefix.size())))
            continue;
        files.push_back({r.name, r.lastWrite});
    }
    std::stable_sort(files.begin(), files.end(),
                     [](const Found& a, const Found& b) { return a.date < b.date; });

    // The new file is recognised as Windows compares names: an older file of another
    // letter case that the backup replaced keeps its name on the disk.
    int32_t others = 0;
    for (auto it = files.rbegin(); it != files.rend(); ++it) {
        if (platform::sameName(it->name, newName)) continue;
        if (backupMode == kOverwriteLastBackup) {
            platform::deleteFile(folder + it->name);
            return;
        }
        ++others;
        if (backupKeep > 0 && others > backupKeep) platform::deleteFile(folder + it->name);
    }
}

bool BackupOfVersion(ClientKind kind, const std::string& path, std::string_view rest) {
    const std::vector<ClientKind> versions = versionsOf(familyOf(kind));
    if (!isVersionCode(kind) || versions.size() < 2) return true;
    if (rest.starts_with(' ')) rest.remove_prefix(1);
    // The longest label that the name carries: "2.x PE" before "2.x".
    ClientKind labelled = kind::None;
    size_t longest = 0;
    for (ClientKind v : versions) {
        const std::string label = FileNameVersionLabel(v) + " ";
        if (label.size() > longest && platform::startsWithNoCase(rest, label)) {
            labelled = v;
            longest = label.size();
        }
    }
    if (labelled != kind::None) return labelled == kind;
        // A name without a label was made while one version was installed: its
        // manifest says which. What cannot be read is nobody's to delete.
#ifdef QB_HAVE_RESTORE_JOB
    const std::optional<ClientKind> named = jobs::PeekBackupClient(path);
    return named && *named == kind;
#else
    (void)path;
    return false;
#endif
}

}  // namespace qb::app
