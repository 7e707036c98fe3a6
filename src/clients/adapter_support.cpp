#include "clients/adapter_support.h"

#include <algorithm>
#include <fstream>
#include <unordered_map>

#include "catalog/identities.h"
#include "catalog/reads.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "jobs/restore_job.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/text_codec.h"
#include "regfile/io_registry.h"
#include "support/file_search.h"

namespace qb::clients {

using platform::RootKey;

// ---- failures ----------------------------------------------------------------

namespace {

// The failures recorded by the adapter run in progress.
std::vector<std::string>& recorded() {
    static std::vector<std::string> list;
    return list;
}

void appendLine(std::string& text, std::string_view line) {
    if (!text.empty()) text += "\n";
    text += line;
}

}  // namespace

// Failures and notes quote names and values of the machine and of backups:
// control characters in them are escaped here, once for every adapter.
void RecordError(std::string_view text) {
    jobs::ArchiveJob& job = jobs::archiveJob();
    job.errorFlag = true;
    const std::string shown = platform::escapeControls(text);
    appendLine(job.errorText, shown);
    recorded().emplace_back(shown);
}

void RecordNote(std::string_view text) {
    jobs::archiveJob().notes.push_back(platform::escapeControls(text));
}

namespace {

// Whether `path` may be added; a note for the item when the machine lacks it.
bool machineHas(std::string_view item, std::string_view path, bool folder) {
    const std::string what = folder ? "folder" : "file";
    if (!IsFullPath(path)) {
        RecordNote(std::string(item) + " adds nothing from " +
                   (path.empty() ? "its " + what + ": the machine names none"
                                 : "\"" + std::string(path) + "\": it names no " + what));
        return false;
    }
    const bool there = folder ? platform::directoryExists(path) : platform::fileExists(path);
    if (!there) {
        RecordNote(std::string(item) + " adds nothing from its " + what + " " + std::string(path) +
                   ": it does not exist");
        return false;
    }
    return true;
}

}  // namespace

void AddItemFile(std::string_view item, std::string_view source, std::string_view archiveFolder,
                 std::string_view baseFolder) {
    if (machineHas(item, source, false)) jobs::AddFileToJob(source, archiveFolder, baseFolder);
}

void AddItemFolder(std::string_view item, std::string_view folder, std::string_view archiveFolder,
                   std::string_view baseFolder, std::string_view mask) {
    const std::string bare = platform::excludeTrailingBackslash(folder);
    if (machineHas(item, bare, true)) jobs::AddFolderToJob(bare, archiveFolder, baseFolder, mask);
}

AdapterRun::AdapterRun() {
    recorded().clear();
}

AdapterRun::~AdapterRun() {
    jobs::ArchiveJob& job = jobs::archiveJob();
    for (const std::string& text : recorded()) {
        if (job.errorText.find(text) != std::string::npos) continue;
        job.errorFlag = true;
        appendLine(job.errorText, text);
    }
    recorded().clear();
}

// ---- names and paths ---------------------------------------------------------

std::string FolderNameProblem(std::string_view name) {
    if (name.empty()) return "an empty name";
    if (name.find_first_not_of(". ") == std::string_view::npos)
        return "nothing but dots and blanks";
    if (name.size() >= 2 && name[1] == ':') return "a drive";
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20) return "a control character";
        switch (c) {
            case '\\':
            case '/':
                return "a folder separator";
            case ':':
            case '*':
            case '?':
            case '"':
            case '<':
            case '>':
            case '|':
                return std::string("the character ") + c + " that Windows refuses in names";
            default:
                break;
        }
    }
    return {};
}

std::string RelativePathProblem(std::string_view path) {
    if (path.empty()) return "an empty name";
    if (path.front() == '\\') return "a leading backslash";
    if (path.back() == '\\') path.remove_suffix(1);
    size_t start = 0;
    for (;;) {
        const size_t cut = path.find('\\', start);
        const std::string_view level = path.substr(
            start, cut == std::string_view::npos ? std::string_view::npos : cut - start);
        if (std::string why = FolderNameProblem(level); !why.empty()) return why;
        if (cut == std::string_view::npos) return {};
        start = cut + 1;
    }
}

std::string RefusedPathReason(std::string_view path, std::string_view folder) {
    // Slashes separate levels too, for the question whether a level climbs.
    std::string levels(path);
    std::replace(levels.begin(), levels.end(), '/', '\\');
    const std::string climb = RelativePathProblem(levels);
    if (climb == "a leading backslash" || climb == "a drive" ||
        climb == "nothing but dots and blanks")
        return "it would lead outside " + std::string(folder);
    const std::string why = RelativePathProblem(path);
    return "its name holds " + (why.empty() ? climb : why) + ", which no Windows name may hold";
}

bool IsFullPath(std::string_view path) {
    const char d = path.empty() ? '\0' : path[0];
    const bool letter = (d >= 'A' && d <= 'Z') || (d >= 'a' && d <= 'z');
    return path.size() > 3 && letter && path[1] == ':' && path[2] == '\\' &&
           IsSafeRelativePath(path.substr(3));
}

// ---- staging files and text files ---------------------------------------------

std::string FreshStagingPath(std::string_view name) {
    const std::string path = jobs::StagingPath(name);
    if (platform::fileExists(path) && !platform::deleteFile(path)) {
        RecordError("Cannot replace " + path + ": " + platform::lastFileError());
        return {};
    }
    return path;
}

bool WriteTextFile(std::string_view winPath, std::string_view text) {
    const auto host = platform::hostPath(winPath);
    if (!host) return false;
    std::ofstream out(*host, std::ios::binary | std::ios::trunc);
    platform::noteNewEntry(*host);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    return static_cast<bool>(out);
}

bool WriteStagingIni(std::string_view relativeName, const IniSections& sections) {
    const std::string path = FreshStagingPath(relativeName);
    if (path.empty()) return false;
    std::string text;
    for (const auto& [section, keys] : sections) {
        text += "[" + section + "]\r\n";
        for (const auto& [key, value] : keys)
            text += key + "=" + value + "\r\n";
    }
    if (platform::forceDirectories(platform::extractFilePath(path)) && WriteTextFile(path, text))
        return true;
    RecordError("Cannot write " + path + ": " + platform::lastFileError());
    return false;
}

std::vector<std::string> ReadNumberedKeys(std::string_view iniPath, std::string_view section,
                                          std::string_view prefix) {
    const platform::IniFile ini{std::string(iniPath)};
    const size_t n = ini.readSectionValues(section).size();
    std::vector<std::string> values;
    values.reserve(n);
    for (size_t k = 1; k <= n; ++k)
        values.push_back(ini.readString(section, std::string(prefix) + std::to_string(k), ""));
    return values;
}

std::vector<std::string> FoldersHolding(std::string_view pattern) {
    ClearFoundFolders();
    TFileSearch& search = FileSearch1();
    search.SearchFile = std::string(pattern);
    search.Execute();
    // The search lists a folder once per match in it.
    std::vector<std::string> folders;
    std::unordered_set<std::string> seen;
    for (const std::string& found : FoundFolders())
        if (seen.insert(platform::lowerAscii(found)).second) folders.push_back(found);
    return folders;
}

std::string ItemName(const Selection& items, int index, ClientKind kind) {
    if (index >= 0 && index < items.count && !items[index].name.empty()) return items[index].name;
    const std::vector<std::string> list = BackupItems(kind);
    return index >= 0 && static_cast<size_t>(index) < list.size() ? list[static_cast<size_t>(index)]
                                                                  : std::string();
}

// ---- registry files of a backup ------------------------------------------------

namespace {

struct RawLine {
    std::string text;
    std::string end;  // the line break that ended it; "" for the last line
};

std::vector<RawLine> splitRawLines(std::string_view text) {
    std::vector<RawLine> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        const size_t len = (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        lines.push_back(
            {std::string(text.substr(start, i - start)), std::string(text.substr(i, len))});
        i += len - 1;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back({std::string(text.substr(start)), ""});
    return lines;
}

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
        s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

// The index of the last line of the value that starts at lines[i]. The importer
// reads quoted data without a closing quote on its line as a string that goes on
// up to the next line ending with a quote; those lines belong to the value, even
// when one of them looks like a key line.
size_t valueEnd(const std::vector<RawLine>& lines, size_t i) {
    const std::string_view line = trimLeft(lines[i].text);
    const size_t close = line.find("\"=", 1);
    if (close == std::string_view::npos) return i;
    const std::string_view rest = line.substr(close + 2);
    if (rest.empty() || rest.front() != '"' || rest.find_last_of('"') > 0) return i;
    for (size_t j = i + 1; j < lines.size(); ++j)
        if (!lines[j].text.empty() && lines[j].text.back() == '"') return j;
    return i;
}

// Is `path` (below a root, no leading backslash) the key `allowed` or below it?
// Levels that name no key of their own ("", ".", "..") are never allowed.
bool insideKey(std::string_view path, std::string_view allowed) {
    size_t start = 0;
    for (;;) {
        const size_t cut = path.find('\\', start);
        const std::string_view level = path.substr(
            start, cut == std::string_view::npos ? std::string_view::npos : cut - start);
        if (level.empty() || level == "." || level == "..") return false;
        if (cut == std::string_view::npos) break;
        start = cut + 1;
    }
    if (!platform::startsWithNoCase(path, allowed)) return false;
    return path.size() == allowed.size() || path[allowed.size()] == '\\';
}

}  // namespace

bool ImportBackupRegistryFile(std::string_view file, std::string_view nameInBackup,
                              const std::vector<AllowedKey>& allowed,
                              bool localMachineToCurrentUser, OutsideKeys outside) {
    const std::string what = "Registry file \"" + std::string(nameInBackup) + "\" of the backup";
    const auto read = catalog::readFileBytes(file);
    if (!read) {
        RecordError(what + ": cannot read " + std::string(file));
        return false;
    }
    std::string text = *read;
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);

    std::string out;
    std::vector<std::string> leftOut;
    bool keep = false;  // no key line yet: values have nowhere to go
    const std::vector<RawLine> lines = splitRawLines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = trimLeft(lines[i].text);
        if (!line.empty() && line.front() == '[') {
            std::string_view body = trimRight(line).substr(1);
            if (!body.empty() && body.back() == ']') body.remove_suffix(1);
            const size_t split = body.find('\\');
            std::string rootName(split == std::string_view::npos ? std::string_view()
                                                                 : body.substr(0, split));
            const std::string_view path =
                split == std::string_view::npos ? std::string_view() : body.substr(split + 1);
            if (localMachineToCurrentUser && platform::equalsNoCase(rootName, "HKEY_LOCAL_MACHINE"))
                rootName = "HKEY_CURRENT_USER";
            keep = false;
            if (split != std::string_view::npos) {
                for (const AllowedKey& a : allowed) {
                    if (rootName == TIORegistry::RootKeyName(a.root) && insideKey(path, a.path)) {
                        keep = true;
                        break;
                    }
                }
            }
            if (keep)
                out += "[" + rootName + "\\" + std::string(path) + "]" + lines[i].end;
            else
                leftOut.emplace_back(body);
            continue;
        }
        size_t last = i;
        if (!line.empty() && line.front() == '"') last = valueEnd(lines, i);
        const bool isValue = !line.empty() && line.front() == '"';
        for (size_t k = i; k <= last; ++k)
            if (keep || !isValue) out += lines[k].text + lines[k].end;
        i = last;
    }

    if (!leftOut.empty()) {
        std::string keys;
        for (const std::string& k : leftOut)
            keys += (keys.empty() ? "\"" : ", \"") + k + "\"";
        if (outside == OutsideKeys::RefuseFile) {
            jobs::NoteRegistryImport(nameInBackup, false);
            RecordError(what +
                        " names keys outside the client's settings, so nothing of it was "
                        "imported: " +
                        keys);
            return false;
        }
        RecordError(what + ": keys outside the client's settings were not imported: " + keys);
    }
    if (!WriteTextFile(file, out)) {
        RecordError(what + ": cannot write " + std::string(file));
        return false;
    }
    TIORegistry& io = jobs::IORegistry();
    try {
        if (!io.ImportFile(file)) {
            jobs::NoteRegistryImport(nameInBackup, false);
            RecordError(what + ": " + io.LastError());
            return false;
        }
    } catch (const RegFileError& e) {
        jobs::NoteRegistryImport(nameInBackup, false);
        RecordError(what + ": " + e.what());
        return false;
    }
    jobs::NoteRegistryImport(nameInBackup, true);
    return leftOut.empty();
}

void ConvertRegistryFileForHand(std::string_view file) {
    if (!platform::fileExists(file)) return;
    TIORegistry& io = jobs::IORegistry();
    if (!io.ConvertToStandardFile(file))
        RecordError("The registry file " + std::string(file) +
                    " could not be made ready for the registry editor: " + io.LastError());
}

// ---- restores ------------------------------------------------------------------

namespace {

// The backup's names by their lower-case form, so that single names are found
// fast in listings of many thousand names; rebuilt by every BeginRestore.
std::unordered_map<std::string, std::string>& listingIndex() {
    static std::unordered_map<std::string, std::string> index;
    return index;
}

}  // namespace

bool BeginRestore(std::string_view backupPath) {
    jobs::ListArchive(backupPath);
    listingIndex().clear();
    for (const std::string& name : jobs::ArchiveListing())
        listingIndex().emplace(platform::lowerAscii(name), name);
    const std::string manifest = ExtractToStaging(backupPath, jobs::kManifestName);
    jobs::archiveJob().filesStarted = 0;
    jobs::SetRestoreScale(jobs::ArchiveListing().size());
    if (!manifest.empty()) return true;
    RecordError("The backup file " + std::string(backupPath) + " holds no contents list (" +
                std::string(jobs::kManifestName) + "); nothing was restored.");
    return false;
}

std::string ListedName(std::string_view name) {
    const auto it = listingIndex().find(platform::lowerAscii(name));
    return it == listingIndex().end() ? std::string() : it->second;
}

std::vector<std::string> ListedNamesUnder(std::string_view prefix) {
    const std::string head = std::string(prefix) + "\\";
    std::vector<std::string> names;
    for (const std::string& name : jobs::ArchiveListing())
        if (name.size() > head.size() && platform::startsWithNoCase(name, head))
            names.push_back(name);
    return names;
}

std::string ExtractToStaging(std::string_view backupPath, std::string_view name,
                             std::string_view subfolder) {
    std::string relative = subfolder.empty() ? std::string() : std::string(subfolder) + "\\";
    relative += platform::extractFileName(name);
    const std::string path = FreshStagingPath(relative);
    if (path.empty()) return {};
    if (!ExtractFile(backupPath, name, platform::extractFilePath(path))) return {};
    return platform::fileExists(path) ? path : std::string();
}

bool ExtractFile(std::string_view backupPath, std::string_view name,
                 std::string_view destinationFolder) {
    Extraction cycle;
    if (!cycle.addFile(name, destinationFolder)) return false;
    cycle.run(backupPath);
    return true;
}

bool Extraction::addFile(std::string_view name, std::string_view destinationFolder) {
    const std::string stored = ListedName(name);
    if (stored.empty()) return false;
    addListed(stored, destinationFolder);
    return true;
}

void Extraction::addListed(const std::string& stored, std::string_view folder) {
    std::string destination = platform::includeTrailingBackslash(folder);
    if (!destinations_.insert(platform::lowerAscii(destination + platform::extractFileName(stored)))
             .second)
        return;
    entries_.emplace_back(stored, std::move(destination));
}

void Extraction::addTree(std::string_view prefix, std::string_view folder, bool directOnly) {
    const std::string base = platform::includeTrailingBackslash(folder);
    for (const std::string& stored : ListedNamesUnder(prefix)) {
        const std::string rest = stored.substr(prefix.size() + 1);
        if (std::string why = RelativePathProblem(rest); !why.empty()) {
            RecordError("\"" + stored +
                        "\" in the backup was not restored: " + RefusedPathReason(rest, base));
            continue;
        }
        const std::string sub = platform::extractFilePath(rest);
        if (directOnly && !sub.empty()) continue;
        if (rest.back() == '\\')
            folders_.push_back(base + rest);
        else
            addListed(stored, base + sub);
    }
}

void Extraction::run(std::string_view backupPath) {
    for (const std::string& folder : folders_)
        if (!platform::forceDirectories(folder))
            RecordError("Cannot create the folder " + folder + ": " + platform::lastFileError());
    if (!entries_.empty()) {
        jobs::BeginExtraction(false);
        for (const auto& [name, folder] : entries_)
            jobs::AddExtractEntry(name, folder);
        jobs::ExtractJob(backupPath);
        jobs::EndExtraction();
    }
    entries_.clear();
    folders_.clear();
    destinations_.clear();
}

void RestoreTree(std::string_view backupPath, std::string_view prefix, std::string_view folder) {
    Extraction cycle;
    cycle.addTree(prefix, folder);
    cycle.run(backupPath);
}

}  // namespace qb::clients
