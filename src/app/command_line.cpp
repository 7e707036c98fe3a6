#include "app/command_line.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <exception>
#include <filesystem>

#include "app/auto_backup.h"
#include "app/backup_run.h"
#include "app/password.h"
#include "app/scheduler.h"
#include "app/settings.h"
#include "catalog/backup_name.h"
#include "catalog/detection.h"
#include "catalog/identities.h"
#include "catalog/installed.h"
#include "catalog/kinds.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "jobs/job_progress.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/text_codec.h"
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

// Makes the folder of a command-line run exist; false (with the one reason on
// stderr) when it cannot.
bool makeFolder(const std::string& folder) {
    if (platform::directoryExists(folder)) return true;
    if (!platform::hostPath(folder)) {
        // A full path whose drive letter has no place on the machine.
        const bool drivePath = folder.size() >= 3 &&
                               std::isalpha(static_cast<unsigned char>(folder[0])) &&
                               folder[1] == ':' && folder[2] == '\\';
        if (drivePath)
            std::cerr << "quillbox: " << platform::excludeTrailingBackslash(folder)
                      << ": the machine has no drive "
                      << static_cast<char>(std::toupper(static_cast<unsigned char>(folder[0])))
                      << ":\n";
        else
            std::cerr << "quillbox: \"" << folder
                      << "\" is neither a full Windows path (C:\\...) nor a path of this "
                         "computer (/...)\n";
        return false;
    }
    if (platform::forceDirectories(folder)) return true;
    // The file layer's account already names the folder it could not create.
    const std::string why = platform::lastFileError();
    if (why.find(platform::excludeTrailingBackslash(folder)) != std::string::npos)
        std::cerr << "quillbox: " << why << "\n";
    else
        std::cerr << "quillbox: cannot create the folder " << folder << ": " << why << "\n";
    return false;
}

// Progress of a command-line run on stderr. On a terminal one line per client,
// rewritten in place; elsewhere (a log, a pipe) nothing unless verbose, so that
// scripts see the result lines only.
class CommandLineProgress : public jobs::JobProgress {
  public:
    explicit CommandLineProgress(bool verbose)
        : terminal_(::isatty(STDERR_FILENO) == 1), verbose_(verbose) {}
    void setClient(std::string_view name) { client_ = std::string(name); }
    void start() override {
        label_.clear();
        lastOverall_ = -1;
    }
    void progress(int overall, int item, std::string_view label) override {
        const bool newItem = label != label_;
        if (terminal_) {
            if (!newItem && overall == lastOverall_ && item == lastItem_) return;
            label_ = std::string(label);
            lastOverall_ = overall;
            lastItem_ = item;
            std::cerr << "\r" << client_ << (client_.empty() ? "" : ": ");
            if (!label_.empty()) std::cerr << label_ << " " << item << "%";
            std::cerr << " (" << overall << "% in all)\x1b[K" << std::flush;
            shown_ = true;
            return;
        }
        if (!verbose_) return;
        const bool step = lastOverall_ < 0 || overall / 5 > lastOverall_ / 5;
        if (!newItem && !step) return;
        if (newItem) label_ = std::string(label);
        if (step) lastOverall_ = overall;
        std::cerr << "quillbox: " << client_ << (client_.empty() ? "" : ": ") << overall << "%";
        if (!label_.empty()) std::cerr << "  " << label_;
        std::cerr << "\n";
    }
    // Takes the in-place line away before a result line is printed.
    void clear() {
        if (shown_) std::cerr << "\r\x1b[K" << std::flush;
        shown_ = false;
    }

  private:
    bool terminal_;
    bool verbose_;
    bool shown_ = false;
    std::string client_;
    std::string label_;
    int lastOverall_ = -1;
    int lastItem_ = -1;
};

CommandLineProgress* gProgress = nullptr;

void progressFor(std::string_view client) {
    if (gProgress) gProgress->setClient(client);
}
void endProgressLine() {
    if (gProgress) gProgress->clear();
}

// The parts of a client value between separators (any character that is not a
// letter) that select no client.
std::vector<std::string> unknownClientParts(std::string_view value) {
    std::vector<std::string> unknown;
    std::string part;
    auto flush = [&] {
        if (!part.empty() && KindsNamedBy(part).empty()) unknown.push_back(part);
        part.clear();
    };
    for (char c : value) {
        if (std::isalpha(static_cast<unsigned char>(c)))
            part += c;
        else
            flush();
    }
    flush();
    return unknown;
}

std::string validClientNames() {
    std::string names;
    for (const ClientKeyword& k : kKeywords)
        names += (names.empty() ? "" : " ") + std::string(k.keyword);
    return names;
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
    progressFor(name);
    const BackupReport r = RunCheckedBackup(kind, path, ids, its);
    endProgressLine();
    switch (r.outcome) {
        case BackupOutcome::Done:
            for (const std::string& note : r.notes)
                std::cerr << "quillbox: " << name << ": " << platform::escapeControls(note, true)
                          << "\n";
            out << name << ": backed up to " << shown(path, hostForm) << "\n";
            return true;
        case BackupOutcome::NotInstalled:
            out << name << ": not backed up, it is not installed on this machine\n";
            return false;
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
    std::cerr << "quillbox: " << name << ": " << platform::escapeControls(r.error, true) << "\n";
    return false;
}

// Whether the machine has any e-mail client at all (Favorites is no mail client).
bool anyMailClientInstalled() {
    for (const KindInfo& k : allKinds())
        if (k.code != kind::Favorites && hasBackups(k.code) && ClientInstalledForBackup(k.code))
            return true;
    return false;
}

// Returns whether every requested backup succeeded.
bool runBackups(const BackupSwitch& b, const PasswordOptions& passwordOptions, std::ostream& out) {
    std::string passwordError;
    const std::optional<RunPassword> password = BackupPassword(passwordOptions, passwordError);
    if (!password) {
        std::cerr << "quillbox: " << passwordError << "; nothing was backed up\n";
        return false;
    }
    const JobPasswordScope protect(password->password);
    const bool hostForm = IsHostPath(b.folder);
    // A misspelt name must not leave the person believing it was backed up: the
    // whole run stops before anything is written.
    const std::vector<ClientKind> named = KindsNamedBy(b.clients);
    const std::vector<std::string> unknown = unknownClientParts(b.clients);
    if (named.empty() || !unknown.empty()) {
        std::cerr << "quillbox: /c:";
        if (unknown.empty()) {
            std::cerr << b.clients << " names no client";
        } else {
            for (size_t i = 0; i < unknown.size(); ++i)
                std::cerr << (i ? ", " : "") << "\"" << unknown[i] << "\"";
            std::cerr << (unknown.size() == 1 ? " is no client" : " are no clients");
        }
        std::cerr << "; nothing was backed up. The clients are: " << validClientNames() << "\n";
        return false;
    }
    const std::string folder = platform::includeTrailingBackslash(CommandLinePath(b.folder));
    if (!makeFolder(folder)) return false;
    bool allDone = true;
    bool anyInstalled = false;
    for (ClientKind named1 : named) {
        const std::vector<ClientKind> kinds = BackupKindsFor(named1);
        for (ClientKind k : kinds)
            if (ClientInstalledForBackup(k)) anyInstalled = true;
        if (kinds.empty()) {
            out << ClientName(named1) << ": not backed up, no version of it is installed\n";
            allDone = false;
            continue;
        }
        for (ClientKind k : kinds) {
            try {
                const std::string path = folder + BackupFileNameFor(k);
                if (!backupOne(k, path, hostForm, out)) allDone = false;
            } catch (const std::exception& e) {
                out << ClientName(k) << ": backup failed\n";
                std::cerr << "quillbox: " << ClientName(k) << ": "
                          << platform::escapeControls(e.what(), true) << "\n";
                allDone = false;
            }
        }
    }
    if (!anyInstalled && !anyMailClientInstalled())
        std::cerr << "quillbox: no e-mail client is installed on the machine "
                  << platform::Machine::current().prefix().string()
                  << " (set QUILLBOX_PREFIX or WINEPREFIX to the Wine prefix that holds your "
                     "e-mail client)\n";
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

#ifdef QB_HAVE_RESTORE_JOB
// The password of a protected backup for "/r": a password file, else
// QUILLBOX_PASSWORD, else the terminal (three tries); never asked when nobody can
// answer.
jobs::PasswordPrompt restorePrompt(const PasswordOptions& options, const std::string& file,
                                   std::string& why) {
    return
        [&options, &file, &why, tries = 0](bool wrongBefore) mutable -> std::optional<std::string> {
            const bool fixed = !options.file.empty() || (!options.ask && PasswordFromEnvironment());
            if (wrongBefore && fixed) {
                why = MessageText("Message6") + " The password from " +
                      (options.file.empty() ? std::string(kPasswordVariable)
                                            : "the password file " + options.file) +
                      " does not open " + file;
                return std::nullopt;
            }
            if (!options.file.empty()) {
                std::optional<std::string> p = ReadPasswordFile(options.file, why);
                if (p) why.clear();
                return p;
            }
            if (!options.ask) {
                if (std::optional<std::string> p = PasswordFromEnvironment()) return p;
            }
            if (!CanAskOnTerminal()) {
                why = file +
                      " is protected by a password; give it with --password-file FILE or "
                      "QUILLBOX_PASSWORD, or run quillbox on a terminal";
                return std::nullopt;
            }
            if (wrongBefore) std::cerr << MessageText("Message6") << "\n";
            if (++tries > 3) {
                why = "the password typed does not open " + file;
                return std::nullopt;
            }
            std::optional<std::string> p = AskOnTerminal("Password for " + file + ": ");
            if (!p) why = "no password was typed for " + file;
            return p;
        };
}
#endif

bool runRestore(const RestoreSwitch& r, const PasswordOptions& passwordOptions, std::ostream& out,
                bool undo) {
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
#ifdef QB_HAVE_RESTORE_JOB
    // Nothing is made or written before the backup opens.
    const JobPasswordScope closeAfter({});
    std::string why;
    switch (jobs::UnlockBackup(file, restorePrompt(passwordOptions, r.file, why))) {
        case jobs::UnlockResult::Open:
            break;
        case jobs::UnlockResult::Cancelled:
            std::cerr << "quillbox: " << why << "\n";
            out << "nothing restored\n";
            return false;
        case jobs::UnlockResult::Failed:
            std::cerr << "quillbox: "
                      << platform::escapeControls(jobs::archiveJob().errorText, true) << "\n";
            out << "nothing restored\n";
            return false;
    }
    if (!makeFolder(folder)) return false;
    const bool hostForm = IsHostPath(r.folder);
    const ClientKind kind = jobs::ReadBackupClient(file);
    if (kind == kind::None) {
        std::cerr << "quillbox: " << r.file
                  << " names no e-mail client this program knows (not a backup file, or a "
                     "damaged one)";
        if (!jobs::archiveJob().errorText.empty())
            std::cerr << ": " << platform::escapeControls(jobs::archiveJob().errorText, true);
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
    progressFor(name);
    const RestoreReport done = RestoreIntoClient(file, kind, ids, its, undo);
    endProgressLine();
    const std::string undoNote = done.undoFile.empty()
                                     ? std::string()
                                     : "; its data before the restore is in " + done.undoFile;
    if (done.notStarted) {
        out << name << ": not restored, its current data could not be backed up first\n";
        std::cerr << "quillbox: " << name << ": " << platform::escapeControls(done.error, true)
                  << " (--no-undo restores without that backup)\n";
        return false;
    }
    if (done.aborted) {
        out << name << ": restore aborted" << undoNote << "\n";
        return false;
    }
    if (!done.done) {
        out << name << ": restore failed" << undoNote << "\n";
        printJobError(kind, "the restore failed");
        return false;
    }
    out << name << ": restored from " << (r.file) << undoNote << "\n";
    return true;
#else
    (void)passwordOptions;
    (void)undo;
    if (!makeFolder(folder)) return false;
    std::cerr << "quillbox: restoring is not built into this program yet\n";
    out << "nothing restored\n";
    return false;
#endif
}

// ---- "/t" ----

struct TestSwitch {
    bool syntaxError = false;
    std::string why;
    std::string file;
};

TestSwitch parseTest(const std::vector<std::string>& p) {
    TestSwitch t;
    const std::string p2 = p.size() > 1 ? p[1] : std::string();
    if (firstTwoLower(p2) != "/f" || p2.size() < 4 || p2[2] != ':') {
        t.syntaxError = true;
        t.why = "the second parameter of /t must be /f:BACKUPFILE";
    }
    t.file = from(p2, 3);
    return t;
}

bool runTest(const TestSwitch& t, std::ostream& out) {
    const std::string file = CommandLinePath(t.file);
    if (!platform::fileExists(file)) {
        std::cerr << "quillbox: the backup file " << t.file << " does not exist\n";
        out << t.file << ": not tested\n";
        return false;
    }
    jobs::ArchiveJob& job = jobs::archiveJob();
    job.errorFlag = false;
    job.errorText.clear();
    job.aborted = false;
    if (jobs::VerifyBackupFile(file)) {
        out << t.file << ": every entry is whole\n";
        return true;
    }
    std::cerr << "quillbox: "
              << (job.errorText.empty() ? "the test stopped"
                                        : platform::escapeControls(job.errorText, true))
              << "\n";
    out << t.file << ": damaged\n";
    return false;
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
    return BackupFileName(kind, withVersion);
}

std::vector<std::string> TakeOptions(const std::vector<std::string>& params,
                                     CommandLineOptions& options) {
    std::vector<std::string> rest;
    for (const std::string& p : params) {
        const std::string l = lowerAscii(p);
        if (l == "--no-undo")
            options.undo = false;
        else if (l == "--verbose")
            options.verbose = true;
        else
            rest.push_back(p);
    }
    return rest;
}

CommandLineResult RunCommandLine(const std::vector<std::string>& allParams, std::ostream& out,
                                 const CommandLineOptions& options) {
    CommandLineResult result;
    CommandLineOptions opts = options;
    const std::vector<std::string> given = TakeOptions(allParams, opts);
    if (given.empty()) return result;
    CommandLineProgress progress(opts.verbose);
    jobs::ScopedJobProgress progressScope(progress);
    gProgress = &progress;
    struct Reset {
        ~Reset() { gProgress = nullptr; }
    } reset;
    bool error = false;
    std::string why;
    std::vector<std::string> params = given;
    PasswordOptions passwordOptions;
    if (!TakePasswordOptions(params, passwordOptions, why)) error = true;
    // A password switch counts as the further parameter that "/b" wants.
    if (passwordOptions.given() && params.size() == 3) params.push_back("-");
    if (params.empty()) params.push_back({});
    const std::string sw = lowerAscii(params[0]);
    if (!error && passwordOptions.given() && sw != "/b" && sw != "/r") {
        error = true;
        why =
            "--password-file and --ask-password belong to /b and /r; scheduled backups take "
            "QUILLBOX_PASSWORD or the PasswordFile setting";
    }
    if (error) {
        // Said below.
    } else if (sw == "/auto") {
        if (!RunScheduledBackups(out)) result.failed = true;
    } else if (sw == "/uninstall") {
        if (!UninstallCleanup()) result.failed = true;
    } else if (sw == "/b") {
        const BackupSwitch b = parseBackup(params);
        if (b.syntaxError) {
            error = true;
            why = b.why;
        } else if (!runBackups(b, passwordOptions, out)) {
            result.failed = true;
        }
    } else if (sw == "/r") {
        const RestoreSwitch r = parseRestore(params);
        if (r.syntaxError) {
            error = true;
            why = r.why;
        } else if (!runRestore(r, passwordOptions, out, opts.undo)) {
            result.failed = true;
        }
    } else if (sw == "/t") {
        const TestSwitch t = parseTest(params);
        if (t.syntaxError) {
            error = true;
            why = t.why;
        } else if (!runTest(t, out)) {
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
