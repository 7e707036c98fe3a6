#include "clients/adapter_support.h"

#include <fstream>
#include <iterator>

#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "jobs/restore_job.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "regfile/io_registry.h"

namespace qb::clients {

using platform::RootKey;

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

void RecordError(std::string_view text) {
    jobs::ArchiveJob& job = jobs::archiveJob();
    job.errorFlag = true;
    appendLine(job.errorText, text);
    recorded().emplace_back(text);
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

std::string FolderNameProblem(std::string_view name) {
    if (name.empty()) return "an empty name";
    // Windows drops trailing dots and blanks, so ". ." would name the folder itself
    // and ".. " its parent.
    if (name.find_first_not_of(". ") == std::string_view::npos)
        return "nothing but dots and blanks";
    if (name.size() >= 2 && name[1] == ':') return "a drive";
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20) return "a control character";
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

bool IsDrivePath(std::string_view path) {
    if (path.size() < 2 || path[1] != ':') return false;
    const char d = path[0];
    if (!((d >= 'A' && d <= 'Z') || (d >= 'a' && d <= 'z'))) return false;
    return path.size() == 2 || path[2] == '\\';
}

// ---- registry files ----------------------------------------------------------

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

bool readWholeFile(std::string_view winPath, std::string& text) {
    const auto host = platform::hostPath(winPath);
    if (!host) return false;
    std::ifstream in(*host, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeWholeFile(std::string_view winPath, std::string_view text) {
    const auto host = platform::hostPath(winPath);
    if (!host) return false;
    std::ofstream out(*host, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(out);
}

}  // namespace

bool ImportBackupRegistryFile(std::string_view file, std::string_view nameInBackup,
                              const std::vector<AllowedKey>& allowed,
                              bool localMachineToCurrentUser) {
    const std::string what = "Registry file \"" + std::string(nameInBackup) + "\" of the backup";
    std::string text;
    if (!readWholeFile(file, text)) {
        RecordError(what + ": cannot read " + std::string(file));
        return false;
    }
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

    bool ok = true;
    if (!leftOut.empty()) {
        ok = false;
        std::string keys;
        for (const std::string& k : leftOut)
            keys += (keys.empty() ? "\"" : ", \"") + k + "\"";
        RecordError(what + ": keys outside the client's settings were not imported: " + keys);
    }
    if (!writeWholeFile(file, out)) {
        RecordError(what + ": cannot write " + std::string(file));
        return false;
    }
    TIORegistry& io = jobs::IORegistry();
    try {
        if (!io.ImportFile(file)) {
            RecordError(what + ": " + io.LastError());
            return false;
        }
    } catch (const RegFileError& e) {
        RecordError(what + ": " + e.what());
        return false;
    }
    return ok;
}

// ---- restores ----------------------------------------------------------------

namespace {

std::string stagingFolderSlash() {
    return jobs::archiveJob().stagingFolder + "\\";
}

}  // namespace

void BeginAdapterRestore(std::string_view backupPath) {
    const std::string manifest = jobs::StagingPath(jobs::kManifestName);
    if (platform::fileExists(manifest)) platform::deleteFile(manifest);
    jobs::BeginExtraction(false);
    jobs::AddExtractEntry(jobs::kManifestName, stagingFolderSlash());
    jobs::ExtractJob(backupPath);
    jobs::ListArchive(backupPath);
    jobs::EndExtraction();
    jobs::archiveJob().filesStarted = 0;
    jobs::SetRestoreScale(jobs::ArchiveListing().size());
}

std::string ExtractToStaging(std::string_view backupPath, std::string_view nameInBackup) {
    const std::string path = jobs::StagingPath(platform::extractFileName(nameInBackup));
    if (platform::fileExists(path) && !platform::deleteFile(path)) {
        RecordError("Cannot replace " + path + ": " + platform::lastFileError());
        return {};
    }
    ExtractFileTo(backupPath, nameInBackup, stagingFolderSlash());
    return platform::fileExists(path) ? path : std::string();
}

void ExtractFileTo(std::string_view backupPath, std::string_view nameInBackup,
                   std::string_view destinationFolder) {
    jobs::BeginExtraction(false);
    jobs::AddExtractEntry(nameInBackup, destinationFolder);
    jobs::ExtractJob(backupPath);
    jobs::EndExtraction();
}

std::vector<std::string> ListedNamesUnder(std::string_view prefix) {
    const std::string head = std::string(prefix) + "\\";
    std::vector<std::string> names;
    for (const std::string& name : jobs::ArchiveListing())
        if (name.size() > head.size() && platform::startsWithNoCase(name, head))
            names.push_back(name);
    return names;
}

size_t RestoreTree(std::string_view backupPath, std::string_view prefix,
                   std::string_view destinationFolder) {
    const std::vector<std::string> names = ListedNamesUnder(prefix);
    if (names.empty()) return 0;
    const std::string dest = platform::includeTrailingBackslash(destinationFolder);
    const std::string tail = std::string(prefix) + "\\";

    // Where the destination ends with the prefix, the stored paths fit below the
    // folder in front of it: the library writes them there directly.
    if (dest.size() > tail.size() && dest[dest.size() - tail.size() - 1] == '\\' &&
        platform::equalsNoCase(std::string_view(dest).substr(dest.size() - tail.size()), tail)) {
        jobs::BeginExtraction(true);
        jobs::AddExtractEntriesUnder(prefix, dest.substr(0, dest.size() - tail.size()));
        jobs::ExtractJob(backupPath);
        jobs::EndExtraction();
        return names.size();
    }

    // Otherwise the tree is unpacked into the staging folder and each file moved
    // to its place below the destination. Copies left in the staging folder by an
    // earlier job must not stand in for files this extraction did not produce.
    std::vector<std::string> rests;
    for (const std::string& name : names) {
        const std::string rest = name.substr(tail.size());
        if (std::string why = RelativePathProblem(rest); !why.empty()) {
            RecordError("\"" + name + "\" in the backup was not restored: its name holds " + why);
            rests.emplace_back();
            continue;
        }
        const std::string staged = jobs::StagingPath(name);
        if (platform::fileExists(staged)) platform::deleteFile(staged);
        rests.push_back(rest);
    }
    jobs::BeginExtraction(true);
    jobs::AddExtractEntriesUnder(prefix, stagingFolderSlash());
    jobs::ExtractJob(backupPath);
    jobs::EndExtraction();
    for (size_t i = 0; i < names.size(); ++i) {
        if (rests[i].empty()) continue;
        const std::string staged = jobs::StagingPath(platform::excludeTrailingBackslash(names[i]));
        const std::string target = dest + platform::excludeTrailingBackslash(rests[i]);
        if (platform::directoryExists(staged)) {
            if (!platform::forceDirectories(target))
                RecordError("Cannot create the folder " + target + ": " +
                            platform::lastFileError());
            continue;
        }
        if (!platform::fileExists(staged)) continue;  // not extracted: the job says why
        if (!platform::forceDirectories(platform::extractFilePath(target)) ||
            !platform::copyFile(staged, target, false)) {
            RecordError("Cannot restore " + target + ": " + platform::lastFileError());
            continue;
        }
        platform::deleteFile(staged);
    }
    return names.size();
}

}  // namespace qb::clients
