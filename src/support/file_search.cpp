#include "support/file_search.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

#include "platform/paths.h"
#include "support/interaction.h"

namespace qb {

namespace {

bool isDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

// Clears the running mark however the search ends, handlers' exceptions included.
class RunningMark {
  public:
    explicit RunningMark(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunningMark() { flag_ = false; }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

  private:
    bool& flag_;
};

// Which folder on the disk a host folder is (a link's target for a link); no value
// when it cannot be told.
std::optional<std::pair<uint64_t, uint64_t>> folderIdentity(const std::string& host) {
    struct stat st;
    if (host.empty() || ::stat(host.c_str(), &st) != 0) return std::nullopt;
    return std::make_pair(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
}

std::vector<std::string>& foundFolders() {
    static std::vector<std::string> folders;
    return folders;
}

}  // namespace

std::vector<std::string> TFileSearch::splitPatterns(std::string_view searchFile) {
    std::vector<std::string> patterns;
    std::string previous;
    bool first = true;
    size_t start = 0;
    for (;;) {
        const size_t sep = searchFile.find(';', start);
        std::string_view piece = searchFile.substr(
            start, sep == std::string_view::npos ? std::string_view::npos : sep - start);
        if (first) {
            previous = std::string(piece);
            first = false;
        } else {
            previous = platform::extractFilePath(previous) + std::string(piece);
        }
        // An empty piece (";;", a trailing ";") names no file and is not searched.
        if (!piece.empty()) patterns.push_back(previous);
        if (sep == std::string_view::npos) break;
        start = sep + 1;
    }
    return patterns;
}

void TFileSearch::Execute() {
    if (running_) throw std::logic_error("TFileSearch::Execute called while a search runs");
    RunningMark mark(running_);
    Stop = false;
    filesFound_.clear();
    for (const std::string& pattern : splitPatterns(SearchFile)) {
        // A stop ends the whole search, not only the pattern being searched.
        if (Stop) break;
        searchPattern(pattern);
    }
    if (OnFinish) OnFinish(*this);
}

void TFileSearch::searchPattern(const std::string& pattern) {
    const std::string folder = platform::extractFilePath(pattern);
    mask_ = platform::extractFileName(pattern);
    if (mask_.empty()) return;

    // The start folder's own entry serves as its record for OnChangeFolder.
    platform::SearchRec entry;
    const std::string self = platform::excludeTrailingBackslash(folder);
    if (!self.empty() && self.back() != ':') {
        std::vector<platform::SearchRec> found = platform::findFiles(self, platform::faAnyFile);
        for (platform::SearchRec& rec : found) {
            if (!isDotEntry(rec.name)) {
                entry = std::move(rec);
                break;
            }
        }
    } else if (!self.empty()) {
        entry.attr = platform::faDirectory;  // a drive's root has no entry of its own
    }
    depth_ = 0;
    openFolders_.clear();
    // The host side of the walk is mapped once, at the start; below it the names
    // the directory search returns are the names on the disk.
    std::string host;
    if (RecurseSubFolders) {
        if (auto path = platform::hostPath(folder)) host = path->string();
        while (host.size() > 1 && host.back() == '/')
            host.pop_back();
    }
    walk(folder, host, entry);
}

// Two listings per folder: the entries the mask admits, then the subfolders. The
// second is a directories-only search, which needs no look at the plain files; a
// single "*" listing would have to examine every file of the tree.
void TFileSearch::walk(const std::string& folder, const std::string& host,
                       const platform::SearchRec& entry) {
    ++depth_;
    if (Level == 0 || Level >= depth_) {
        // Symbolic links are followed (Wine links the profile's folders into the
        // home folder), so a link to a folder being walked would lead round in a
        // circle for ever: a folder already open further up is not searched again.
        bool opened = false;
        if (RecurseSubFolders) {
            if (auto id = folderIdentity(host)) {
                const FolderId here{id->first, id->second};
                if (std::find(openFolders_.begin(), openFolders_.end(), here) !=
                    openFolders_.end()) {
                    --depth_;
                    return;
                }
                openFolders_.push_back(here);
                opened = true;
            }
        }

        if (OnChangeFolder) OnChangeFolder(folder, entry);
        Interaction& ui = interaction();
        for (const platform::SearchRec& rec :
             platform::findFiles(folder + mask_, platform::faAnyFile)) {
            if (Stop) break;
            if (isDotEntry(rec.name)) continue;
            if (OnFileFind) {
                OnFileFind(folder, rec);
                filesFound_.push_back(folder + rec.name);
            }
            ui.processMessages();
        }

        // Folders deeper than Level are neither scanned nor entered: skip the
        // descent altogether when the next level would be beyond it.
        const bool descend = RecurseSubFolders && (Level == 0 || Level > depth_);
        const std::vector<platform::SearchRec> folders =
            (descend && !Stop) ? platform::findFolders(folder + "*", platform::faAnyFile)
                               : std::vector<platform::SearchRec>{};
        for (const platform::SearchRec& rec : folders) {
            if (Stop) break;
            if (isDotEntry(rec.name)) continue;
            ui.processMessages();
            walk(folder + rec.name + "\\", host.empty() ? host : host + "/" + rec.name, rec);
            ui.processMessages();
        }
        if (opened) openFolders_.pop_back();
    }
    --depth_;
}

const std::vector<std::string>& FoundFolders() {
    return foundFolders();
}

int FoundFolderCount() {
    return static_cast<int>(foundFolders().size());
}

void ClearFoundFolders() {
    foundFolders().clear();
}

void FileSearch1FileFind(const std::string& fullpath, const platform::SearchRec& /*info*/) {
    foundFolders().push_back(fullpath);
}

TFileSearch& FileSearch1() {
    static TFileSearch search = [] {
        TFileSearch s;
        s.OnFileFind = FileSearch1FileFind;
        return s;
    }();
    return search;
}

}  // namespace qb
