#include "app/command_line.h"

#include <algorithm>
#include <array>
#include <exception>
#include <filesystem>

#include "app/auto_backup.h"
#include "app/backup_run.h"
#include "app/scheduler.h"
#include "app/settings.h"
#include "catalog/backup_name.h"
#include "catalog/detection.h"
#include "catalog/identities.h"
#include "catalog/kinds.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/interaction.h"
#ifdef QB_HAVE_RESTORE_JOB
#include "jobs/restore_job.h"
#endif

namespace qb::app {

namespace {

namespace fs = std::filesystem;
using platform::lowerAscii;

constexpr std::array<ClientKeyword, 10> kKeywords{{
    {"oexpress", kind::OutlookExpress},
    {"msoutlook", kind::Outlook},
    {"eudora", kind::Eudora},
    {"incredimail", kind::IncrediMail},
    {"pegasus", kind::PegasusMail},
    {"thebat", kind::TheBat},
    {"pocomail", kind::PocoMailFamily},
    {"opera", kind::OperaFamily},
    {"netscape", kind::NetscapeFamily},
    {"favorites", kind::Favorites},
}};

// Characters of parameter `text` from position `from` on ("" when shorter).
std::string from(std::string_view text, size_t pos) {
    return pos < text.size() ? std::string(text.substr(pos)) : std::string();
}

std::string firstTwoLower(std::string_view text) {
    return lowerAscii(text.substr(0, std::min<size_t>(2, text.size())));
}

// How a path is shown to the person: the way they wrote it.
std::string shown(const std::string& winPath, bool hostForm) {
    if (!hostForm) return winPath;
    auto host = platform::hostPath(winPath);
    return host ? host->string() : winPath;
}

// Makes the folder of a command-line run exist; false (with the reason on stderr)
// when it cannot.
bool makeFolder(const std::string& folder) {
    if (platform::directoryExists(folder)) return true;
    if (!platform::hostPath(folder)) {
        std::cerr << "quillbox: \"" << folder
                  << "\" is neither a full Windows path (C:\\...) nor a path of this computer "
                     "(/...)\n";
        return false;
    }
    if (platform::forceDirectories(folder)) return true;
    std::cerr << "quillbox: cannot create the folder " << folder << ": "
              << platform::lastFileError() << "\n";
    return false;
}

// ---- "/b" ----

struct BackupSwitch {
    bool syntaxError = false;
    std::string why;
    std::string clients;
    std::string folder;
};

BackupSwitch parseBackup(const std::vector<std::string>& p) {
    BackupSwitch b;
    const std::string p2 = p.size() > 1 ? p[1] : std::string();
    const std::string p3 = p.size() > 2 ? p[2] : std::string();
    if (p.size() <= 3) {
        b.syntaxError = true;
        b.why = "/b needs /c:CLIENTS, /p:FOLDER and one more parameter (for example -)";
    }
    if (firstTwoLower(p2) != "/c") {
        b.syntaxError = true;
        if (b.why.empty()) b.why = "the second parameter of /b must be /c:CLIENTS";
    }
    b.clients = lowerAscii(from(p2, 3));
    if (firstTwoLower(p3) != "/p" || p3.find(':') != 2) {
        b.syntaxError = true;
        if (b.why.empty()) b.why = "the third parameter of /b must be /p:FOLDER";
    }
    b.folder = from(p3, 3);
    if (!b.syntaxError && b.folder.empty()) {
        b.syntaxError = true;
        b.why = "/p: names no folder";
    }
    return b;
}

// Backs up one client code, everything selected; true when a complete backup file
// was written.
bool backupOne(ClientKind kind, const std::string& path, bool hostForm, std::ostream& out) {
    std::vector<std::string> identities, items;
    ListIdentitiesAndItems(kind, identities, items);
    Selection ids, its;
    for (const std::string& name : identities)
        ids.add(name, true);
    for (const std::string& name : items)
        its.add(name, true);
    const std::string name(ClientName(kind));
    const BackupReport r = RunCheckedBackup(kind, path, ids, its);
    switch (r.outcome) {
        case BackupOutcome::Done:
            out << name << ": backed up to " << shown(path, hostForm) << "\n";
            return true;
        case BackupOutcome::ClientRunning:
            out << name << ": not backed up, the client is running\n";
            return false;
        case BackupOutcome::Aborted:
            out << name << ": backup aborted: " << shown(path, hostForm) << "\n";
            return false;
        case BackupOutcome::Failed:
            break;
    }
    out << name << ": backup failed: " << shown(path, hostForm) << "\n";
    std::cerr << "quillbox: " << name << ": " << r.error << "\n";
    return false;
}

// Returns whether every requested backup succeeded.
bool runBackups(const BackupSwitch& b, std::ostream& out) {
    const bool hostForm = IsHostPath(b.folder);
    const std::string folder = platform::includeTrailingBackslash(CommandLinePath(b.folder));
    if (!makeFolder(folder)) return false;
    const std::vector<ClientKind> named = KindsNamedBy(b.clients);
    if (named.empty()) {
        std::cerr << "quillbox: /c:" << b.clients << " names no client; the clients are";
        for (const ClientKeyword& k : kKeywords)
            std::cerr << " " << k.keyword;
        std::cerr << "\n";
        return false;
    }
    bool allDone = true;
    for (ClientKind named1 : named) {
        const std::vector<ClientKind> kinds = BackupKindsFor(named1);
        if (kinds.empty()) {
            out << ClientName(named1) << ": not backed up, no version of it is installed\n";
            allDone = false;
            continue;
        }
        for (ClientKind k : kinds) {
            try {
                const std::string path = folder + CommandLineBackupName(k, kinds.size() > 1);
                if (!backupOne(k, path, hostForm, out)) allDone = false;
            } catch (const std::exception& e) {
                out << ClientName(k) << ": backup failed\n";
                std::cerr << "quillbox: " << ClientName(k) << ": " << e.what() << "\n";
                allDone = false;
            }
        }
    }
    return allDone;
}

// ---- "/r" ----

#ifdef QB_HAVE_RESTORE_JOB
void printJobError(ClientKind kind, std::string_view fallback) {
    const jobs::ArchiveJob& job = jobs::archiveJob();
    std::cerr << "quillbox: " << ClientName(kind) << ": "
              << (job.errorText.empty() ? fallback : std::string_view(job.errorText)) << "\n";
}
#endif

struct RestoreSwitch {
    bool syntaxError = false;
    std::string why;
    std::string file;
    std::string folder;
};

RestoreSwitch parseRestore(const std::vector<std::string>& p) {
    RestoreSwitch r;
    const std::string p2 = p.size() > 1 ? p[1] : std::string();
    const std::string p3 = p.size() > 2 ? p[2] : std::string();
    if (firstTwoLower(p2) != "/f") {
        r.syntaxError = true;
        r.why = "the second parameter of /r must be /f:BACKUPFILE";
    }
    r.file = from(p2, 3);
    if (firstTwoLower(p3) != "/p") {
        r.syntaxError = true;
        if (r.why.empty()) r.why = "the third parameter of /r must be /p:FOLDER";
    }
    if (p3.find(':') == 2) r.folder = from(p3, 3);
    return r;
}

bool runRestore(const RestoreSwitch& r, std::ostream& out) {
    if (r.folder.empty()) {
        out << "nothing restored: /p names no folder\n";
        return false;
    }
    const std::string folder = platform::includeTrailingBackslash(CommandLinePath(r.folder));
    const std::string file = CommandLinePath(r.file);
    if (!platform::fileExists(file)) {
        std::cerr << "quillbox: the backup file " << (r.file.empty() ? "\"\"" : r.file)
                  << " does not exist\n";
        out << "nothing restored\n";
        return false;
    }
    if (!makeFolder(folder)) return false;
#ifdef QB_HAVE_RESTORE_JOB
    const bool hostForm = IsHostPath(r.folder);
    const ClientKind kind = jobs::ReadBackupClient(file);
    if (kind == kind::None) {
        std::cerr << "quillbox: " << r.file
                  << " names no e-mail client this program knows (not a backup file, or a "
                     "damaged one)";
        if (!jobs::archiveJob().errorText.empty())
            std::cerr << ": " << jobs::archiveJob().errorText;
        std::cerr << "\n";
        out << "nothing restored\n";
        return false;
    }
    std::vector<bool> present(100, false);
    uint8_t itemCount = 0;
    std::vector<std::string> identities, items;
    bool mismatch = false;
    jobs::ListBackupContents(jobs::ListKindOf(kind), file, present, itemCount, identities, items,
                             mismatch);
    const std::string name(ClientName(kind));
    if (mismatch) {
        std::cerr << "quillbox: the contents of " << r.file << " do not match its client\n";
        out << name << ": not restored\n";
        return false;
    }
    Selection ids, its;
    for (const std::string& id : identities)
        ids.add(id, true);
    for (size_t k = 0; k < items.size(); ++k)
        its.add(items[k], k < present.size() && present[k]);
    if (ClientStillRuns(kind, false)) {
        const bool error = jobs::RunRestoreToFolder(file, folder, kind, ids, its);
        if (error || jobs::archiveJob().aborted) {
            out << name << ": restore into the folder " << shown(folder, hostForm) << " failed\n";
            printJobError(kind, "the restore failed");
        } else {
            out << name << ": the client is running; restored into the folder "
                << shown(folder, hostForm) << " instead\n";
        }
        return false;
    }
    const bool error = jobs::RunRestore(file, kind, ids, its);
    if (jobs::archiveJob().aborted) {
        out << name << ": restore aborted\n";
        return false;
    }
    if (error) {
        out << name << ": restore failed\n";
        printJobError(kind, "the restore failed");
        return false;
    }
    out << name << ": restored from " << (r.file) << "\n";
    return true;
#else
    std::cerr << "quillbox: restoring is not built into this program yet\n";
    out << "nothing restored\n";
    return false;
#endif
}

}  // namespace

std::span<const ClientKeyword> ClientKeywords() {
    return kKeywords;
}

std::vector<ClientKind> KindsNamedBy(std::string_view clientValue) {
    std::vector<ClientKind> out;
    for (const ClientKeyword& k : kKeywords)
        if (clientValue.find(k.keyword) != std::string_view::npos) out.push_back(k.kind);
    return out;
}

bool IsHostPath(std::string_view text) {
    return text.starts_with("/") || text == "." || text == ".." || text.starts_with("./") ||
           text.starts_with("../");
}

std::string CommandLinePath(std::string_view text) {
    if (!IsHostPath(text)) return std::string(text);
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(text), ec);
    if (ec) p = fs::path(text);
    return platform::windowsPath(p.lexically_normal());
}

std::vector<ClientKind> BackupKindsFor(ClientKind kind) {
    if (kind != kind::PocoMailFamily && kind != kind::OperaFamily && kind != kind::NetscapeFamily)
        return {kind};
    std::vector<ClientKind> out;
    for (const ClientVersion& v : InstalledVersions(kind))
        out.push_back(v.kind);
    return out;
}

std::string CommandLineBackupName(ClientKind kind, bool withVersion) {
    std::string name = DefaultBackupFileName(kind);
    const KindInfo* k = findKind(kind);
    if (!withVersion || !k || k->versionLabel.empty() || name.empty()) return name;
    std::string label(k->versionLabel);
    std::replace(label.begin(), label.end(), '/', '-');
    name.insert(k->fileNamePrefix.size(), label + " ");
    return name;
}

CommandLineResult RunCommandLine(const std::vector<std::string>& params, std::ostream& out) {
    CommandLineResult result;
    if (params.empty()) return result;
    bool error = false;
    std::string why;
    const std::string sw = lowerAscii(params[0]);
    if (sw == "/auto") {
        if (!RunScheduledBackups(out)) result.failed = true;
    } else if (sw == "/uninstall") {
        if (!UninstallCleanup()) result.failed = true;
    } else if (sw == "/b") {
        const BackupSwitch b = parseBackup(params);
        if (b.syntaxError) {
            error = true;
            why = b.why;
        } else if (!runBackups(b, out)) {
            result.failed = true;
        }
    } else if (sw == "/r") {
        const RestoreSwitch r = parseRestore(params);
        if (r.syntaxError) {
            error = true;
            why = r.why;
        } else if (!runRestore(r, out)) {
            result.failed = true;
        }
    } else if (sw == "/o") {
        // The main window opens on the backup file once the command line is done;
        // the program decides whether it can show windows.
        result.terminate = false;
        if (params.size() >= 2) result.openBackupFile = CommandLinePath(params[1]);
    } else {
        std::cerr << "quillbox: unknown switch \"" << params[0] << "\"; see quillbox --help\n";
        result.failed = true;
    }
    if (error) {
        interaction().messageBox(MessageText("Message1"), MsgIcon::Error, MsgButtons::Ok);
        if (!why.empty()) std::cerr << "quillbox: " << why << "; see quillbox --help\n";
        result.failed = true;
    }
    return result;
}

}  // namespace qb::app
