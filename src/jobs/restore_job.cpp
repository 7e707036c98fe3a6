#include "jobs/restore_job.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <map>

#include "archive/archive_library.h"
#include "catalog/identities.h"
#include "catalog/kinds.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "jobs/job_progress.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text_codec.h"

namespace qb::jobs {

using archive::CallbackRecord;

namespace {

// What the restore side keeps beside the shared job state.
struct RestoreState {
    std::map<ClientKind, RestoreAdapter> direct;
    std::map<ClientKind, RestoreAdapter> toFolder;
    bool subFolders = false;
    bool optionsValid = false;
    std::string optionsError;
    // Entries of the current cycle that were not restored, each as a short phrase;
    // ExtractJob turns them into the error text.
    std::vector<std::string> leftOut;
    // The staging folder as the library's output paths spell it (see restBelowStaging).
    std::vector<std::string> stagingSpellings;
    // The restore bar reports only between SetRestoreScale and the end of the
    // restore, so that the manifest reads before it do not move it.
    bool reporting = false;
    // The library's result of the last extraction.
    int32_t lastResult = 0;
    // Destination files the library was handed during this restore, outside the
    // staging folder: what a failure may have written.
    std::vector<std::string> written;
    // Registry files of the backup imported into the machine during this restore,
    // and those whose import failed.
    std::vector<std::string> imported;
    std::vector<std::string> notImported;
};

RestoreState& state() {
    static RestoreState s;
    return s;
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

std::string withTrailingBackslash(std::string_view folder) {
    std::string s(folder);
    if (!s.empty() && s.back() != '\\') s += '\\';
    return s;
}

std::string stagingPrefix() {
    return archiveJob().stagingFolder + "\\";
}

// A folder entry keeps its trailing separator in the listing.
bool isFolderEntry(std::string_view name) {
    return !name.empty() && isSeparator(name.back());
}

std::string entryNameProblem(std::string_view name) {
    if (isFolderEntry(name)) name.remove_suffix(1);
    return EntryNameProblem(name);
}

// A name from a backup file, quoted for a message: control characters (escape
// sequences, BEL, CR, LF) are shown escaped, never sent to the terminal.
std::string quoteName(std::string_view name) {
    return "\"" + platform::escapeControls(name) + "\"";
}

void leaveOut(std::string phrase) {
    std::vector<std::string>& left = state().leftOut;
    if (std::find(left.begin(), left.end(), phrase) == left.end())
        left.push_back(std::move(phrase));
}

// The library reports host paths, which come back as Windows paths through the
// drive that holds them: the staging folder may come back spelt otherwise.
void noteStagingSpellings() {
    std::vector<std::string>& spellings = state().stagingSpellings;
    spellings.assign(1, stagingPrefix());
    if (auto host = platform::hostPath(archiveJob().stagingFolder)) {
        std::string other = platform::windowsPath(*host) + "\\";
        if (other != spellings.front()) spellings.push_back(std::move(other));
    }
}

// The part of the library's output path below the staging folder.
bool restBelowStaging(const std::string& out, std::string& rest) {
    for (const std::string& p : state().stagingSpellings) {
        if (out.size() > p.size() && platform::startsWithNoCase(out, p)) {
            rest = out.substr(p.size());
            while (!rest.empty() && rest.back() == '\\')
                rest.pop_back();
            return true;
        }
    }
    return false;
}

void reportProgress(int percent) {
    if (!state().reporting) return;
    const ArchiveJob& job = archiveJob();
    const double share =
        static_cast<double>(RoundHalfEven(std::clamp(percent, 0, 100) * job.restoreScale / 100.0));
    const int64_t bar =
        RoundHalfEven(static_cast<double>(job.filesStarted) * job.restoreScale + share);
    const int value = static_cast<int>(std::clamp<int64_t>(bar, 0, 100));
    jobProgress().progress(value, value, {});
}

// The library is about to write the next entry of its list: put it into the
// entry's destination folder, or write nothing when the name would leave it.
int32_t redirect(CallbackRecord& record) {
    ArchiveJob& job = archiveJob();
    // The library announces one file per entry; anything beyond the list stays
    // where the library put it, and the counters stay where they are.
    if (job.position >= job.files.size()) return archive::kAnswerGoOn;
    ++job.position;
    ++job.filesStarted;
    const JobFileEntry& entry = job.files[job.position - 1];
    const std::string out = record.fileName();
    std::string rest;
    const std::string why = restBelowStaging(out, rest) ? EntryNameProblem(rest)
                                                        : "would be written outside its folder";
    if (!why.empty()) {
        record.setFileName("");
        leaveOut(quoteName(entry.source) + " " + why);
        return archive::kAnswerGoOn;
    }
    const std::string& folder =
        entry.destinationFolder.empty() ? stagingPrefix() : entry.destinationFolder;
    const std::string target = folder + rest;
    // Checked before any folder is made, so a refused entry leaves none behind.
    auto host = platform::hostPath(target);
    if (!host || host->string().size() >= CallbackRecord::kFileNameSize) {
        record.setFileName("");
        leaveOut(quoteName(entry.source) + " cannot be written to " + quoteName(target) +
                 (host ? " (the path is longer than " +
                             std::to_string(CallbackRecord::kFileNameSize - 1) + " bytes)"
                       : " (no such place)"));
        return archive::kAnswerGoOn;
    }
    if (!platform::directoryExists(folder) && !platform::forceDirectories(folder)) {
        record.setFileName("");
        const std::string failure = platform::lastFileError();
        leaveOut("cannot create the folder " + folder + " for " + quoteName(entry.source) +
                 (failure.empty() ? "" : " (" + failure + ")"));
        return archive::kAnswerGoOn;
    }
    if (!record.setFileName(target)) {
        record.setFileName("");
        leaveOut(quoteName(entry.source) + " cannot be written to " + quoteName(target) +
                 " (the path is too long)");
        return archive::kAnswerGoOn;
    }
    if (!entry.destinationFolder.empty() && entry.destinationFolder != stagingPrefix())
        state().written.push_back(target);
    return archive::kAnswerGoOn;
}

int32_t onExtractNotice(CallbackRecord& record) {
    switch (record.reason()) {
        case archive::kReasonProgress:
            reportProgress(record.percent());
            return archive::kAnswerGoOn;
        case archive::kReasonExtractEntry:
            return redirect(record);
        case archive::kReasonMissingEntry: {
            // The archive does not hold this name: the next announcement is for
            // the entry after it.
            ArchiveJob& job = archiveJob();
            if (job.position < job.files.size()) ++job.position;
            return archive::kAnswerGoOn;
        }
        default:
            return archive::kAnswerGoOn;
    }
}

void closeLibraryList() {
    ArchiveJob& job = archiveJob();
    if (!job.fileListOpen) return;
    archive::SqxDoneFileList(job.fileList);
    job.fileListOpen = false;
}

// The library's account of a failure names the entry or the volume it concerns;
// the person also needs to know which backup file it was.
void nameTheBackup(int32_t result, std::string_view backupPath) {
    ArchiveJob& job = archiveJob();
    if (result == archive::kResultOk || result == archive::kResultAborted || !job.errorFlag) return;
    if (job.errorText.find(backupPath) != std::string::npos) return;
    job.errorText +=
        (job.errorText.empty() ? "" : " ") + std::string("(") + std::string(backupPath) + ")";
}

// Puts the entries left out of this cycle into the error text, behind whatever
// the library reported.
void reportLeftOut(std::string_view backupPath) {
    RestoreState& s = state();
    if (s.leftOut.empty()) return;
    ArchiveJob& job = archiveJob();
    std::string text = "Not restored from " + std::string(backupPath) + ": ";
    for (size_t i = 0; i < s.leftOut.size(); ++i)
        text += (i ? "; " : "") + s.leftOut[i];
    text += ".";
    job.errorFlag = true;
    job.errorText = job.errorText.empty() ? text : job.errorText + " " + text;
    s.leftOut.clear();
}

// The manifest of a backup, freshly extracted into the staging folder. An old one
// is removed first, so that a backup without a manifest never reads another's.
std::string extractManifest(std::string_view backupPath) {
    const std::string path = StagingPath(kManifestName);
    if (platform::fileExists(path)) platform::deleteFile(path);
    BeginExtraction(false);
    AddExtractEntry(kManifestName, stagingPrefix());
    ExtractJob(backupPath);
    EndExtraction();
    return path;
}

struct ListKindInfo {
    int listKind;
    std::array<std::string_view, 6> items;
    bool selectable;
};

constexpr std::array<ListKindInfo, 10> kListKinds{{
    {1,
     {item::AccountsSettings, item::MailFolders, item::Signatures, item::MessageRules,
      item::AddressBook, item::Stationery},
     true},
    {2,
     {item::AccountsSettings, item::MailFolders, item::PersonalStore, item::MessageRules,
      item::AddressBook, item::Signatures},
     false},
    {3,
     {item::AccountsSettings, item::MailFolders, item::Filters, item::Signatures,
      item::AddressBook},
     true},
    {4,
     {item::AccountsSettings, item::MailFolders, item::MessageRules, item::AddressBook,
      item::Stationery},
     true},
    {5, {item::AccountsSettings, item::MailFolders, item::Signatures, item::AddressBook}, false},
    {6, {item::AccountsSettings, item::MailFolders, item::Filters, item::AddressBook}, true},
    {7,
     {item::AccountsSettings, item::MailFolders, item::Filters, item::Signatures, item::AddressBook,
      item::Scripts},
     true},
    {8,
     {item::AccountsSettings, item::MailFolders, item::Filters, item::Signatures,
      item::AddressBook},
     true},
    {9, {item::AccountsSettings, item::MailFolders, item::Filters, item::AddressBook}, false},
    {10, {item::Favorites}, true},
}};

// The manifest keys a list kind accepts: the family's own, or those of all its
// versions for the families whose backups carry version codes.
std::vector<std::string_view> acceptedKeys(int listKind) {
    std::vector<std::string_view> keys;
    const std::vector<ClientKind> versions = versionsOf(listKind);
    if (versions.empty()) {
        keys.push_back(manifestKey(listKind));
    } else {
        for (ClientKind v : versions)
            keys.push_back(manifestKey(v));
    }
    return keys;
}

// What can be known before a direct restore writes anything: that the registry
// can take the settings, and that the drive of the staging folder (the client's
// drive) has room for everything the backup holds. "" when nothing stands in
// the way; single entries are checked against their own destination as well.
std::string restoreObstacle(const RestoreContext& ctx) {
    if (const std::string why = platform::registryWriteProblem(); !why.empty())
        return "Nothing was restored from " + ctx.backupPath +
               ": the registry of this machine cannot be written now (" + why + ").";
    ListArchive(ctx.backupPath);
    ArchiveJob& job = archiveJob();
    if (job.errorFlag) {  // the adapter reports a backup it cannot read, as always
        job.errorFlag = false;
        job.errorText.clear();
        return {};
    }
    const std::string& staging = job.stagingFolder;
    const auto free =
        staging.size() >= 2 && staging[1] == ':' ? platform::diskFree(staging[0]) : std::nullopt;
    constexpr uint64_t kMargin = 16 << 20;
    if (free && job.listedBytes + kMargin > *free)
        return "Nothing was restored from " + ctx.backupPath + ": it holds " +
               std::to_string(job.listedBytes) + " bytes, and drive " + staging.substr(0, 2) +
               " has only " + std::to_string(*free) + " bytes free.";
    return {};
}

// After a failed direct restore: what was written, and the way back.
void reportPartialRestore() {
    ArchiveJob& job = archiveJob();
    const std::vector<std::string>& written = state().written;
    std::string text = written.empty()
                           ? "No file of the client was written before the restore stopped."
                           : "Before the restore stopped, " + std::to_string(written.size()) +
                                 " file(s) of the client were written, the first " +
                                 written.front() + " and the last " + written.back() + ".";
    const RestoreState& s = state();
    auto names = [](const std::vector<std::string>& list) {
        std::string out;
        for (size_t i = 0; i < list.size(); ++i)
            out += (i ? ", " : "") + quoteName(list[i]);
        return out;
    };
    if (s.imported.empty())
        text += " No registry file of the backup was imported.";
    else
        text += " Imported into the registry: " + names(s.imported) + ".";
    if (!s.notImported.empty()) text += " Not imported: " + names(s.notImported) + ".";
    if (!job.undoBackup.empty()) text += " To undo the restore, restore " + job.undoBackup + ".";
    job.errorText += (job.errorText.empty() ? "" : " ") + text;
}

bool dispatch(std::map<ClientKind, RestoreAdapter>& table, RestoreContext ctx) {
    if (!hasBackups(ctx.kind)) return false;
    auto it = table.find(ctx.kind);
    if (it == table.end()) return false;
    ArchiveJob& job = archiveJob();
    job.errorFlag = false;
    job.errorText.clear();
    job.aborted = false;
    RestoreState& s = state();
    s.reporting = false;
    s.written.clear();
    s.imported.clear();
    s.notImported.clear();
    const bool direct = &table == &s.direct;
    if (direct) {
        if (std::string why = restoreObstacle(ctx); !why.empty()) {
            job.errorFlag = true;
            job.errorText = std::move(why);
            EndJobFiles();
            return true;
        }
    }
    bool result = false;
    // Every destination folder is listed once for the whole restore.
    platform::FolderListingCache listings;
    try {
        result = it->second(ctx);
    } catch (const OperationAbandoned&) {
        job.aborted = true;
    } catch (const std::exception& e) {
        job.errorFlag = true;
        job.errorText = platform::escapeControls(e.what());
    }
    EndExtraction();
    EndJobFiles();
    s.reporting = false;
    if (direct && (result || job.errorFlag) && !job.aborted) reportPartialRestore();
    return result || job.errorFlag;
}

}  // namespace

void RegisterRestoreAdapter(ClientKind kind, RestoreAdapter direct, RestoreAdapter toFolder) {
    RestoreState& s = state();
    if (direct)
        s.direct[kind] = std::move(direct);
    else
        s.direct.erase(kind);
    if (toFolder)
        s.toFolder[kind] = std::move(toFolder);
    else
        s.toFolder.erase(kind);
}

ClientKind ReadBackupClient(std::string_view backupPath) {
    const platform::IniFile manifest(extractManifest(backupPath));
    return kindFromManifestKey(manifest.readString("Backup", "EmailClient", ""));
}

std::optional<ClientKind> PeekBackupClient(std::string_view backupPath) {
    ArchiveJob& job = archiveJob();
    const bool errorFlag = job.errorFlag, aborted = job.aborted;
    const std::string errorText = job.errorText, callbackError = job.callbackError;
    job.errorFlag = false;
    const std::string path = extractManifest(backupPath);
    const bool failed = job.errorFlag || job.aborted || !platform::fileExists(path);
    job.errorFlag = errorFlag;
    job.aborted = aborted;
    job.errorText = errorText;
    job.callbackError = callbackError;
    if (failed) return std::nullopt;
    const platform::IniFile manifest(path);
    return kindFromManifestKey(manifest.readString("Backup", "EmailClient", ""));
}

bool IsProtectedBackup(std::string_view backupPath) {
    ArchiveJob& job = archiveJob();
    archive::FileList patterns;
    archive::NameList names;
    archive::ArchiveInfo info;
    archive::ExtractOptions options;
    if (!archive::MakeExtractOptions(options, false, job.stagingFolder)) return false;
    archive::SqxInitFileList(patterns);
    archive::SqxAddFileList("*.*", patterns);
    archive::SqxInitArcFileList(names);
    const int32_t result =
        archive::SqxListFiles(backupPath, patterns, names, info, options, ArchiveCallback, 0);
    archive::SqxDoneArcFileList(names);
    archive::SqxDoneFileList(patterns);
    // Files whose data is encrypted: a 32-bit count at offset 16.
    int32_t encrypted = 0;
    std::memcpy(&encrypted, info.bytes.data() + 16, sizeof encrypted);
    return result == archive::kResultOk && encrypted > 0;
}

UnlockResult UnlockBackup(std::string_view backupPath, const PasswordPrompt& prompt) {
    ArchiveJob& job = archiveJob();
    job.password.clear();
    if (!IsProtectedBackup(backupPath)) return UnlockResult::Open;
    bool wrong = false;
    for (;;) {
        std::optional<std::string> answer = prompt ? prompt(wrong) : std::nullopt;
        if (!answer) {
            job.password.clear();
            return UnlockResult::Cancelled;
        }
        job.password = std::move(*answer);
        job.errorFlag = false;
        job.errorText.clear();
        extractManifest(backupPath);
        if (state().lastResult == archive::kResultWrongPassword) {
            job.errorFlag = false;
            job.errorText.clear();
            wrong = true;
            continue;
        }
        if (job.errorFlag || job.aborted) {
            job.password.clear();
            return UnlockResult::Failed;
        }
        return UnlockResult::Open;
    }
}

int ListKindOf(ClientKind kind) {
    return familyOf(kind);
}

bool ListBackupContents(int listKind, std::string_view backupPath, std::vector<bool>& present,
                        uint8_t& itemCount, std::vector<std::string>& identities,
                        std::vector<std::string>& items, bool& mismatch) {
    present.clear();
    itemCount = 0;
    mismatch = true;
    if (isVersionCode(listKind)) listKind = ListKindOf(listKind);
    const auto info = std::find_if(kListKinds.begin(), kListKinds.end(),
                                   [&](const ListKindInfo& k) { return k.listKind == listKind; });
    if (info == kListKinds.end()) return false;
    std::vector<std::string> fixed;
    for (std::string_view name : info->items)
        if (!name.empty()) fixed.emplace_back(name);
    items.insert(items.end(), fixed.begin(), fixed.end());
    present.assign(fixed.size(), false);

    const platform::IniFile manifest(extractManifest(backupPath));
    mismatch = false;
    const std::string client = manifest.readString("Backup", "EmailClient", "");
    const std::vector<std::string_view> keys = acceptedKeys(listKind);
    if (client.empty() || std::find(keys.begin(), keys.end(), client) == keys.end()) {
        mismatch = true;
        return info->selectable;
    }

    const size_t n = manifest.readSectionValues("Identities").size();
    for (size_t i = 1; i <= n; ++i)
        identities.push_back(manifest.readString("Identities", "Item" + std::to_string(i), ""));

    const size_t m = manifest.readSectionValues("Items").size();
    std::vector<std::string> held;
    for (size_t i = 1; i <= m; ++i)
        held.push_back(manifest.readString("Items", "Item" + std::to_string(i), ""));
    for (size_t k = 0; k < fixed.size(); ++k) {
        ++itemCount;
        present[k] = std::find(held.begin(), held.end(), fixed[k]) != held.end();
    }
    return info->selectable;
}

bool RunRestore(std::string_view backupPath, ClientKind kind, const Selection& identities,
                const Selection& items) {
    RestoreContext ctx;
    ctx.backupPath = std::string(backupPath);
    ctx.kind = kind;
    ctx.identities = identities;
    ctx.items = items;
    return dispatch(state().direct, std::move(ctx));
}

bool RunRestoreToFolder(std::string_view backupPath, std::string_view targetFolder, ClientKind kind,
                        const Selection& identities, const Selection& items) {
    RestoreContext ctx;
    ctx.backupPath = std::string(backupPath);
    ctx.kind = kind;
    ctx.identities = identities;
    ctx.items = items;
    ctx.targetFolder = withTrailingBackslash(targetFolder);
    if (ctx.targetFolder.empty() && hasBackups(kind) && state().toFolder.count(kind)) {
        ArchiveJob& job = archiveJob();
        job.errorFlag = true;
        job.errorText = "No folder was given to restore " + ctx.backupPath + " into.";
        return true;
    }
    return dispatch(state().toFolder, std::move(ctx));
}

void NoteRegistryImport(std::string_view nameInBackup, bool imported) {
    std::vector<std::string>& list = imported ? state().imported : state().notImported;
    if (std::find(list.begin(), list.end(), nameInBackup) == list.end())
        list.emplace_back(nameInBackup);
}

void BeginExtraction(bool subFolders) {
    ArchiveJob& job = archiveJob();
    RestoreState& s = state();
    closeLibraryList();
    job.files.clear();
    job.position = 0;
    job.groupPosition = 0;
    job.finishedBytes = 0;
    job.groupFinishedBytes = 0;
    s.subFolders = subFolders;
    s.leftOut.clear();
    s.optionsError.clear();
    s.optionsValid = archive::MakeExtractOptions(job.extractOptions, subFolders, job.stagingFolder,
                                                 &s.optionsError);
    job.extractHandler = onExtractNotice;
    job.mode = JobMode::Extract;
    noteStagingSpellings();
    job.fileList = archive::FileList{};
    archive::SqxInitFileList(job.fileList);
    job.fileListOpen = true;
}

void AddExtractEntry(std::string_view name, std::string_view destinationFolder) {
    if (const std::string why = entryNameProblem(name); !why.empty()) {
        leaveOut(quoteName(name) + " " + why);
        return;
    }
    JobFileEntry e;
    e.source = std::string(name);
    e.destinationFolder =
        destinationFolder.empty() ? stagingPrefix() : withTrailingBackslash(destinationFolder);
    archiveJob().files.push_back(std::move(e));
}

void AddExtractEntriesUnder(std::string_view prefix, std::string_view destinationFolder) {
    const std::string start = std::string(prefix) + "\\";
    // Copied: the listing must not change under the loop.
    const std::vector<std::string> listing = archiveJob().listing;
    for (const std::string& name : listing) {
        if (!platform::startsWithNoCase(name, start)) continue;
        if (isFolderEntry(name) && !state().subFolders) continue;
        AddExtractEntry(name, destinationFolder);
    }
}

void ExtractJob(std::string_view backupPath) {
    ArchiveJob& job = archiveJob();
    RestoreState& s = state();
    job.aborted = false;
    job.callbackError.clear();
    if (!s.optionsValid || !job.fileListOpen) {
        job.errorFlag = true;
        job.errorText = s.optionsValid ? "No extraction was begun for " + std::string(backupPath)
                                       : s.optionsError;
        reportLeftOut(backupPath);
        return;
    }
    // A fresh library list, so that the library and the job's list stay in step.
    archive::SqxDoneFileList(job.fileList);
    job.fileList = archive::FileList{};
    archive::SqxInitFileList(job.fileList);
    for (const JobFileEntry& e : job.files)
        archive::SqxAddFileList(e.source, job.fileList);
    job.position = 0;
    job.mode = JobMode::Extract;
    job.extractHandler = onExtractNotice;
    const int32_t result =
        archive::SqxExtractFiles(backupPath, job.fileList, job.extractOptions, ArchiveCallback, 0);
    s.lastResult = result;
    MapArchiveResult(result);
    nameTheBackup(result, backupPath);
    reportLeftOut(backupPath);
}

void EndExtraction() {
    ArchiveJob& job = archiveJob();
    closeLibraryList();
    if (job.mode == JobMode::Extract) job.mode = JobMode::Idle;
}

void ListArchive(std::string_view backupPath) {
    ArchiveJob& job = archiveJob();
    job.listing.clear();
    archive::FileList patterns;
    archive::NameList names;
    archive::ArchiveInfo info;
    archive::ExtractOptions options;
    std::string why;
    if (!archive::MakeExtractOptions(options, false, job.stagingFolder, &why)) {
        job.errorFlag = true;
        job.errorText = why;
        return;
    }
    archive::SqxInitFileList(patterns);
    archive::SqxAddFileList("*.*", patterns);
    archive::SqxInitArcFileList(names);
    job.callbackError.clear();
    const int32_t result =
        archive::SqxListFiles(backupPath, patterns, names, info, options, ArchiveCallback, 0);
    if (result == archive::kResultOk) job.listing = names.names();
    job.listedBytes = 0;
    if (result == archive::kResultOk)
        for (int i = 7; i >= 0; --i)
            job.listedBytes =
                (job.listedBytes << 8) | info.bytes[24 + static_cast<size_t>(i)];  // total size
    archive::SqxDoneArcFileList(names);
    archive::SqxDoneFileList(patterns);
    MapArchiveResult(result);
    nameTheBackup(result, backupPath);
}

const std::vector<std::string>& ArchiveListing() {
    return archiveJob().listing;
}

void SetRestoreScale(size_t n) {
    archiveJob().restoreScale = n == 0 ? 100.0 : 100.0 / static_cast<double>(n);
    if (!state().reporting) jobProgress().start();
    state().reporting = true;
}

std::string MakeFolderOrUseFixedDrive(std::string_view folder) {
    const std::string path(folder);
    if (path.empty()) return path;
    const std::string bare = platform::excludeTrailingBackslash(path);
    if (platform::directoryExists(bare) || platform::createDir(bare)) return path;
    for (char drive = 'A'; drive <= 'X'; ++drive) {
        if (platform::driveType(drive) == platform::DriveType::Fixed)
            return std::string(1, drive) + path.substr(1);
    }
    return path;
}

bool IsSafeRelativeName(std::string_view name) {
    return EntryNameProblem(name).empty();
}

std::string EntryNameProblem(std::string_view name) {
    const std::string outside = "would be written outside its folder";
    if (name.empty() || isSeparator(name.front())) return outside;
    if (name.find(':') != std::string_view::npos) return outside;
    size_t i = 0;
    while (i <= name.size()) {
        size_t end = i;
        while (end < name.size() && !isSeparator(name[end]))
            ++end;
        const std::string_view part = name.substr(i, end - i);
        if (part.empty()) return outside;
        if (part.find_first_not_of(". ") == std::string_view::npos) return outside;
        i = end + 1;
    }
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return "holds a control character, which no Windows name may hold";
    return {};
}

}  // namespace qb::jobs
