#include "jobs/backup_job.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <vector>

#include "archive/archive_library.h"
#include "catalog/kinds.h"
#include "jobs/archive_job.h"
#include "jobs/job_progress.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/text_codec.h"
#include "support/interaction.h"

namespace qb::jobs {

namespace fs = std::filesystem;

namespace {

std::map<ClientKind, BackupAdapter>& adapters() {
    static std::map<ClientKind, BackupAdapter> table;
    return table;
}

void fail(std::string text) {
    ArchiveJob& job = archiveJob();
    job.errorFlag = true;
    job.errorText = std::move(text);
}

// Reads `path` back; failures name `shown`, the file the person knows.
bool verifyBackup(std::string_view path, std::string_view shown) {
    ArchiveJob& job = archiveJob();
    archive::FileList all;
    archive::SqxInitFileList(all);
    const JobMode mode = job.mode;
    job.mode = JobMode::Verify;
    job.callbackError.clear();
    const int32_t result = archive::SqxTestFiles(path, all, ArchiveCallback, 0);
    job.mode = mode;
    const std::string detail = archive::SqxLastError();
    archive::SqxDoneFileList(all);
    if (result == archive::kResultOk && job.callbackError.empty()) return true;
    if (result == archive::kResultAborted && job.callbackError.empty()) {
        job.aborted = true;
        return false;
    }
    job.errorFlag = true;
    std::string why = !job.callbackError.empty() ? job.callbackError
                      : !detail.empty()
                          ? detail
                          : "the archive library failed with code " + std::to_string(result);
    job.errorText = "The backup file " + std::string(shown) + " failed its check";
    if (shown != path) job.errorText += " and was not kept";
    job.errorText += ": " + platform::escapeControls(why);
    return false;
}

bool isDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

// What a backup takes from below a listed path. The client under Wine follows
// symbolic links, so the backup does too, but only to places that belong to the
// machine (drive C: and the user's home folder) and never into a folder already on
// the way down (a link to "." or ".." would repeat the tree without end). The
// library itself follows no link below a listed folder: every link allowed here
// is listed as an entry of its own, under its place in the tree. Everything else
// left out (other links, pipes, sockets, devices) is noted by name.
class SourceWalk {
  public:
    SourceWalk() : roots_(platform::linkTargetRoots()) {}

    // Adds `source` (a Windows path whose host path is `host`) and, for a folder,
    // every allowed link below it. False when it is left out.
    bool add(const JobFileEntry& entry, const fs::path& host) {
        // The folders above the listed path are on the way too.
        for (fs::path p = host.parent_path(); !p.empty(); p = p.parent_path()) {
            struct stat st;
            if (::stat(p.c_str(), &st) == 0) onPath_.emplace_back(st.st_dev, st.st_ino);
            if (p == p.root_path()) break;
        }
        const bool added = visit(entry, host);
        onPath_.clear();
        return added;
    }

  private:
    bool visit(const JobFileEntry& entry, const fs::path& host) {
        struct stat st;
        if (::lstat(host.c_str(), &st) != 0) {
            // Missing: listed as before (the library passes over listed paths
            // that are not there, which adapters rely on for optional files).
            archiveJob().files.push_back(entry);
            return true;
        }
        if (S_ISLNK(st.st_mode)) {
            std::error_code ec;
            const fs::path target = fs::canonical(host, ec);
            if (ec || ::stat(target.c_str(), &st) != 0)
                return skip(entry.source, "its symbolic link leads nowhere");
            if (!insideRoots(target))
                return skip(entry.source,
                            "its symbolic link leads outside drive C: and the "
                            "home folder, to " +
                                target.string());
            if (S_ISDIR(st.st_mode) && onPath(st))
                return skip(entry.source,
                            "its symbolic link leads back into a folder above it, to " +
                                platform::windowsPath(target));
        }
        if (S_ISREG(st.st_mode)) {
            JobFileEntry e = entry;
            e.size = static_cast<uint64_t>(st.st_size);
            archiveJob().files.push_back(std::move(e));
            return true;
        }
        if (!S_ISDIR(st.st_mode)) return skip(entry.source, "it is not a file or a folder");
        const size_t index = archiveJob().files.size();
        archiveJob().files.push_back(entry);
        // The library reports a folder entry's progress as the share of these
        // bytes written, so the bars move through it.
        archiveJob().files[index].size = walk(entry, host, st);
        return true;
    }

    // Bytes of the files the library stores below a folder (links not counted:
    // those allowed are entries of their own).
    uint64_t walk(const JobFileEntry& entry, const fs::path& host, const struct stat& self) {
        onPath_.emplace_back(self.st_dev, self.st_ino);
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::directory_iterator it(host, ec), end; !ec && it != end; it.increment(ec))
            names.push_back(it->path().filename().string());
        std::sort(names.begin(), names.end());
        uint64_t total = 0;
        for (const std::string& name : names) {
            const fs::path child = host / name;
            JobFileEntry e = entry;
            e.source = entry.source + "\\" + name;
            struct stat st;
            if (::lstat(child.c_str(), &st) != 0) continue;  // vanished meanwhile
            if (S_ISREG(st.st_mode)) {
                total += static_cast<uint64_t>(st.st_size);
            } else if (S_ISDIR(st.st_mode)) {
                total += walk(e, child, st);
            } else if (S_ISLNK(st.st_mode)) {
                // Listed under its own Windows path, which must lead to this entry.
                const auto back = platform::hostPath(e.source);
                if (!back || *back != child)
                    skip(e.source, "its name has no Windows spelling");
                else
                    visit(e, child);
            } else {
                skip(e.source, "it is not a file or a folder");
            }
        }
        onPath_.pop_back();
        return total;
    }

    bool insideRoots(const fs::path& target) const {
        for (const fs::path& root : roots_) {
            auto r = root.begin();
            auto t = target.begin();
            while (r != root.end() && t != target.end() && *r == *t) {
                ++r;
                ++t;
            }
            if (r == root.end()) return true;
        }
        return false;
    }

    bool onPath(const struct stat& st) const {
        return std::find(onPath_.begin(), onPath_.end(), std::pair{st.st_dev, st.st_ino}) !=
               onPath_.end();
    }

    static bool skip(const std::string& source, const std::string& why) {
        archiveJob().notes.push_back(
            platform::escapeControls(source + " is left out of the backup: " + why));
        return false;
    }

    std::vector<fs::path> roots_;
    std::vector<std::pair<dev_t, ino_t>> onPath_;
};

// A backup is packed under a name of its own beside the target and takes the
// target's name only when the whole job succeeded: any error of the job, before
// the pack (an identity left out), in it or after it (a registry export, a check,
// a verification), leaves the older backup in place, since the job then reports
// failure.
struct StagedArchive {
    std::string staged;  // the first volume's Windows path; "" when none is pending
    std::string target;
    bool packed = false;  // the library wrote it completely
};

bool insideRunBackup = false;

StagedArchive& stagedArchive() {
    static StagedArchive a;
    return a;
}

// The stem and extension of a path's last level ("" when it has none; a leading
// dot starts a hidden name, not an extension), as the library names volumes.
std::pair<std::string, std::string> splitExtension(const std::string& path) {
    const size_t sep = path.find_last_of("\\/");
    const size_t start = sep == std::string::npos ? 0 : sep + 1;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= start) return {path, ""};
    return {path.substr(0, dot), path.substr(dot)};
}

// Volume `index` (0 for the first) of a set whose first volume is `first`.
std::string volumeName(const std::string& first, unsigned index) {
    if (index == 0) return first;
    char ext[16];
    std::snprintf(ext, sizeof ext, ".e%02u", index);
    return splitExtension(first).first + ext;
}

std::string stagedName(const std::string& target) {
    static std::mt19937_64 random{std::random_device{}()};
    char tag[64];
    std::snprintf(tag, sizeof tag, "%s%ld-%08llx", kStagedBackupMark, static_cast<long>(::getpid()),
                  static_cast<unsigned long long>(random() & 0xffffffffu));
    auto [stem, ext] = splitExtension(target);
    return stem + tag + ext;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

bool hostFileExists(const std::string& winPath) {
    auto host = platform::hostPath(winPath);
    std::error_code ec;
    return host && std::filesystem::is_regular_file(std::filesystem::symlink_status(*host, ec));
}

// Renames the packed volumes over the target's (the later volumes first, so that
// the target's own name appears last) when `keep`, else removes them.
void settleStagedArchive(bool keep) {
    StagedArchive& a = stagedArchive();
    if (a.staged.empty()) return;
    const StagedArchive pending = a;
    a = StagedArchive{};
    unsigned count = 0;
    while (hostFileExists(volumeName(pending.staged, count)))
        ++count;
    std::string failure;
    for (unsigned i = count; i-- > 0;) {
        const auto from = platform::hostPath(volumeName(pending.staged, i));
        const auto to = platform::hostPath(volumeName(pending.target, i));
        std::error_code ec;
        if (keep && failure.empty() && from && to) {
            std::filesystem::rename(*from, *to, ec);
            if (!ec) continue;
            failure = "cannot put the new backup in place as " + volumeName(pending.target, i) +
                      ": " + ec.message();
        }
        if (from) std::filesystem::remove(*from, ec);
    }
    if (!failure.empty()) {
        ArchiveJob& job = archiveJob();
        job.errorFlag = true;
        job.errorText = failure;
        return;
    }
    if (!keep || count == 0) return;
    // Volumes of an earlier, longer set would otherwise hang on beside it.
    for (unsigned i = count;; ++i) {
        const auto stale = platform::hostPath(volumeName(pending.target, i));
        std::error_code ec;
        if (!stale || !hostFileExists(volumeName(pending.target, i)) ||
            !std::filesystem::remove(*stale, ec))
            break;
    }
}

// Files of this backup's name that a run which died left while packing
// ("NAME-qbnew-<pid>-...", with the library's own temporary files); only those
// whose process is gone.
void removeStaleStagedArchives(const std::string& target) {
    const auto host = platform::hostPath(target);
    if (!host) return;
    platform::removeStaleTemporaries(
        host->parent_path(),
        std::filesystem::path(splitExtension(host->string()).first).filename().string() +
            kStagedBackupMark);
}

// Puts the progress of a pack back to before its first entry.
void rewindProgress(ArchiveJob& job) {
    job.position = 0;
    job.groupPosition = 0;
    job.finishedBytes = 0;
    job.groupFinishedBytes = 0;
    job.groupScale = 100.0;
    job.lastOverall = 0;
    job.lastItem = 0;
}

constexpr const char* kStagingMark = "quillbox-";

// The staging folder of this process: a folder of its own below the temporary
// folder, readable by its owner only, so that two processes never share their
// registry exports and manifests and nobody else reads them. It goes when the
// process ends; folders of processes that died are removed by the next one.
struct StagingFolder {
    std::filesystem::path host;
    ~StagingFolder() {
        std::error_code ec;
        if (!host.empty()) std::filesystem::remove_all(host, ec);
    }
};

StagingFolder& ownStaging() {
    static StagingFolder folder;
    return folder;
}

std::string makeStagingFolder(const std::string& temp) {
    const auto tempHost = platform::hostPath(temp);
    if (!tempHost) return temp;
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::directory_iterator it(*tempHost, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(kStagingMark)) continue;
        const long pid = platform::pidAfter(name, kStagingMark);
        std::error_code ec2;
        if (pid != 0 && pid != ::getpid() && !platform::processAlive(pid) &&
            fs::is_directory(fs::symlink_status(it->path(), ec2)))
            fs::remove_all(it->path(), ec2);
    }
    StagingFolder& own = ownStaging();
    if (!own.host.empty() && own.host.parent_path() == *tempHost)
        return temp + "\\" + own.host.filename().string();
    static std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 16; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%ld-%08llx", kStagingMark,
                      static_cast<long>(::getpid()),
                      static_cast<unsigned long long>(random() & 0xffffffffu));
        const fs::path host = *tempHost / name;
        if (::mkdir(host.c_str(), 0700) == 0) {
            std::error_code ec2;
            if (!own.host.empty()) fs::remove_all(own.host, ec2);
            own.host = host;
            return temp + "\\" + name;
        }
        if (errno != EEXIST) break;
    }
    std::cerr << "quillbox: cannot make a staging folder in " << temp << "\n";
    return temp;
}

// Removes what the jobs put into the staging folder; the manifest stays while
// the windows show what it lists.
void cleanStaging() {
    StagingFolder& own = ownStaging();
    if (own.host.empty()) return;
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::directory_iterator it(own.host, ec), end; !ec && it != end; it.increment(ec)) {
        if (archiveJob().keepManifest && it->path().filename() == std::string(kManifestName))
            continue;
        std::error_code ec2;
        fs::remove_all(it->path(), ec2);
    }
}

}  // namespace

void EndJobFiles() {
    cleanStaging();
}

void RegisterBackupAdapter(ClientKind kind, BackupAdapter adapter) {
    if (adapter)
        adapters()[kind] = std::move(adapter);
    else
        adapters().erase(kind);
}

bool InitJobModule(std::string_view languageFile) {
    IORegistry();
    if (!languageFile.empty()) JobTexts().SetFileName(languageFile);
    archiveJob().stagingFolder =
        makeStagingFolder(platform::excludeTrailingBackslash(platform::tempFolder()));
    if (archive::LoadArchiveLibrary()) return true;
    std::cerr << "quillbox: " << archive::ArchiveLibraryLoadError() << "\n";
    interaction().messageBox("SQX.DLL not found! Reinstall Quillbox!", MsgIcon::Error,
                             MsgButtons::Ok);
    return false;
}

bool RunBackup(std::string_view backupPath, ClientKind kind, const Selection& identities,
               const Selection& items) {
    auto it = adapters().find(kind);
    if (it == adapters().end()) return false;
    ArchiveJob& job = archiveJob();
    // Each backup reports its own outcome, also when several run one after another.
    job.errorFlag = false;
    job.errorText.clear();
    job.aborted = false;
    job.notes.clear();
    BackupContext ctx;
    insideRunBackup = true;
    struct Leave {
        ~Leave() { insideRunBackup = false; }
    } leave;
    ctx.backupPath = std::string(backupPath);
    ctx.kind = kind;
    ctx.identities = identities;
    ctx.items = items;
    platform::FolderListingCache listings;
    try {
        it->second(ctx);
    } catch (const OperationAbandoned&) {
        job.aborted = true;
    } catch (const std::exception& e) {
        fail(platform::escapeControls(e.what()));
    }
    job.mode = JobMode::Idle;
    EndBackupArchive();
    const StagedArchive& a = stagedArchive();
    settleStagedArchive(a.packed && !job.aborted && !job.errorFlag);
    cleanStaging();
    return job.errorFlag;
}

void StartBackupFrame(BackupContext& ctx) {
    ctx.group = 0;
    ctx.groupStart = 0;
    BeginBackupArchive();
}

void BeginBackupArchive() {
    ArchiveJob& job = archiveJob();
    EndBackupArchive();
    job.files.clear();
    job.groups.assign(1, ProgressGroup{});
    rewindProgress(job);
    job.overallScale = 100.0;
    job.groupLabel.clear();
    job.callbackError.clear();
    std::string why;
    job.archiveOptionsValid =
        archive::MakeArchiveOptions(job.archiveOptions, job.password, job.stagingFolder,
                                    job.multipleVolumes, VolumeSizeCode(job.volumeSizeIndex), &why);
    if (!job.archiveOptionsValid) fail(why);
    job.fileList = archive::FileList{};
    archive::SqxInitFileList(job.fileList);
    job.fileListOpen = true;
}

void AddFileToJob(std::string_view source, std::string_view archiveFolder,
                  std::string_view baseFolder) {
    JobFileEntry e;
    e.source = std::string(source);
    e.archiveFolder = std::string(archiveFolder);
    e.baseFolder = std::string(baseFolder);
    const auto host = platform::hostPath(e.source);
    if (!host) {
        // No place on this machine: the list leaves it out and nothing is announced.
        archiveJob().files.push_back(std::move(e));
        return;
    }
    SourceWalk().add(e, *host);
}

void AddFolderToJob(std::string_view folder, std::string_view archiveFolder,
                    std::string_view baseFolder, std::string_view mask) {
    const std::string base(folder);
    const std::string pattern = "*." + std::string(mask);
    std::vector<std::string> listed;
    for (const platform::SearchRec& r :
         platform::findFiles(base + "\\" + pattern, platform::faAnyFile)) {
        if (isDotEntry(r.name)) continue;
        listed.push_back(r.name);
        AddFileToJob(base + "\\" + r.name, archiveFolder, baseFolder);
    }
    // The listing shows files and folders only: what else matches is said.
    const auto host = platform::hostPath(base);
    if (!host) return;
    std::error_code ec;
    for (fs::directory_iterator it(*host, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!platform::matchesMask(name, pattern)) continue;
        if (std::find(listed.begin(), listed.end(), name) != listed.end()) continue;
        std::error_code ec2;
        const fs::file_status st = fs::status(it->path(), ec2);
        // Files and folders the listing passed over by its own rules stay out unsaid.
        if (fs::is_regular_file(st) || fs::is_directory(st)) continue;
        archiveJob().notes.push_back(platform::escapeControls(
            base + "\\" + name + " is left out of the backup: " +
            (fs::is_symlink(it->symlink_status(ec2)) ? "its symbolic link leads nowhere"
                                                     : "it is not a file or a folder")));
    }
}

void CloseProgressGroup(BackupContext& ctx, std::string_view itemName) {
    ArchiveJob& job = archiveJob();
    ++ctx.group;
    ProgressGroup g;
    for (size_t i = ctx.groupStart; i < job.files.size(); ++i)
        g.total += job.files[i].size;
    g.lastEntry = job.files.size();
    g.name = std::string(itemName);
    const auto index = static_cast<size_t>(ctx.group);
    if (job.groups.size() <= index) job.groups.resize(index + 1);
    job.groups[index] = std::move(g);
    ctx.groupStart = job.files.size();
}

void PackJob(std::string_view backupPath) {
    ArchiveJob& job = archiveJob();
    job.aborted = false;
    job.callbackError.clear();
    if (!job.archiveOptionsValid) return;  // the reason is in the error text

    uint64_t total = 0;
    for (const JobFileEntry& e : job.files)
        total += e.size;
    job.overallScale = total == 0 ? 100.0 : 100.0 / static_cast<double>(total);

    // Entries added after the last item (the manifest and its companions) make a
    // group of their own, so that the item bar stays within 0..100 for them.
    const size_t lastGrouped = job.groups.back().lastEntry;
    if (job.files.size() > lastGrouped) {
        ProgressGroup rest;
        for (size_t i = lastGrouped; i < job.files.size(); ++i)
            rest.total += job.files[i].size;
        rest.lastEntry = job.files.size();
        job.groups.push_back(std::move(rest));
    }
    rewindProgress(job);

    for (const JobFileEntry& e : job.files)
        archive::SqxAddFileList(e.source, job.fileList);
    job.mode = JobMode::Backup;
    jobProgress().start();
    settleStagedArchive(false);
    const std::string target(backupPath);
    removeStaleStagedArchives(target);
    const std::string staged = stagedName(target);
    const int32_t result =
        archive::SqxAddFiles(staged, job.fileList, job.archiveOptions, ArchiveCallback, 0);
    job.mode = JobMode::Idle;
    bool packed = result == archive::kResultOk && job.callbackError.empty();
    MapArchiveResult(result);
    // Read back before it may replace the older backup: one that fails its check
    // leaves the older one as it was.
    if (packed && !verifyBackup(staged, target)) packed = false;
    // Messages name the file the person chose.
    replaceAll(job.errorText, splitExtension(staged).first, splitExtension(target).first);
    stagedArchive() = StagedArchive{staged, target, packed};
    // A caller that packs outside RunBackup gets the file at once.
    if (!insideRunBackup) settleStagedArchive(packed);
}

bool VerifyBackupFile(std::string_view path) {
    return verifyBackup(path, path);
}

void EndBackupArchive() {
    ArchiveJob& job = archiveJob();
    if (!job.fileListOpen) return;
    archive::SqxDoneFileList(job.fileList);
    job.fileListOpen = false;
}

bool FinishBackupFrame(BackupContext& ctx) {
    PackJob(ctx.backupPath);
    EndBackupArchive();
    return archiveJob().errorFlag;
}

std::string StagingPath(std::string_view name) {
    return archiveJob().stagingFolder + "\\" + std::string(name);
}

bool WriteManifest(const BackupContext& ctx, bool listEveryEntry) {
    const std::string path = StagingPath(kManifestName);
    if (platform::fileExists(path)) platform::deleteFile(path);
    platform::IniFile ini(path);
    bool ok = ini.writeString("Backup", "EmailClient", manifestKey(ctx.kind));
    auto writeList = [&](std::string_view section, const Selection& list) {
        int n = 0;
        for (int i = 0; i < list.count; ++i) {
            if (!listEveryEntry && !list[i].checked) continue;
            ok = ini.writeString(section, "Item" + std::to_string(++n), list[i].name) && ok;
        }
    };
    writeList("Identities", ctx.identities);
    writeList("Items", ctx.items);
    if (!ok) fail("Cannot write the backup's contents list " + path);
    return ok;
}

bool WriteManifestDirectory(std::string_view key, std::string_view value) {
    const std::string path = StagingPath(kManifestName);
    if (platform::IniFile(path).writeString("Directory", key, value)) return true;
    fail("Cannot write the backup's contents list " + path);
    return false;
}

void AddStagingFileToJob(std::string_view name) {
    const std::string& staging = archiveJob().stagingFolder;
    AddFileToJob(staging + "\\" + std::string(name), "", staging + "\\");
}

}  // namespace qb::jobs
