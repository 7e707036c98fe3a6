// Recursive search of a folder tree for file masks, and the shared list of the
// folders in which the main search found matches. Lives outside any window so
// that command-line runs and the client backups use it the same way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace qb {

class TFileSearch;

// `fullpath` is the folder being searched, ending in "\"; `info` is the entry
// (a match, or for a folder change the folder's own entry).
using TFindFileEvent =
    std::function<void(const std::string& fullpath, const platform::SearchRec& info)>;
using TChangeFolderEvent =
    std::function<void(const std::string& fullpath, const platform::SearchRec& info)>;
using TNotifyEvent = std::function<void(TFileSearch& sender)>;

class TFileSearch {
  public:
    // Deepest folder level searched: 0 no limit, 1 the start folder only, 2 the
    // start folder and its direct subfolders, ...
    int Level = 0;
    // Set (by a handler or the user interface) to end a running search at the
    // next entry. Stays set after a stopped search until the next Execute.
    bool Stop = false;
    // One or more patterns separated by ";": "C:\Mail\*.mbx;*.toc;Sub\*.fol".
    std::string SearchFile;
    // Whether subfolders are entered at all.
    bool RecurseSubFolders = true;

    TFindFileEvent OnFileFind;
    TChangeFolderEvent OnChangeFolder;
    TNotifyEvent OnFinish;

    // Runs the search described by SearchFile and returns when it has ended or was
    // stopped. A handler must not start a search on the same object while one runs
    // (std::logic_error).
    void Execute();

    // Full paths of the matches of the last search (collected only while
    // OnFileFind is set).
    const std::vector<std::string>& FilesFound() const { return filesFound_; }

    // The start patterns that Execute searches for a SearchFile, in order: each
    // bare piece after ";" takes the folder of the pattern before it.
    static std::vector<std::string> splitPatterns(std::string_view searchFile);

  private:
    void searchPattern(const std::string& pattern);
    // `host` is the folder's host path, for telling folders apart ("" when unknown).
    void walk(const std::string& folder, const std::string& host, const platform::SearchRec& entry);

    struct FolderId {
        uint64_t device;
        uint64_t inode;
        bool operator==(const FolderId&) const = default;
    };

    std::vector<std::string> filesFound_;
    std::string mask_;
    int depth_ = 0;
    bool running_ = false;
    std::vector<FolderId> openFolders_;  // the folders being walked, start folder first
};

// The folders in which the main file search found matches: one entry per match
// (a folder with three matches stands there three times), in the order of the
// search, for the whole run. Grows as needed; nothing is dropped.
const std::vector<std::string>& FoundFolders();
int FoundFolderCount();
// Every caller clears the list before it starts a search.
void ClearFoundFolders();

// The main search's match handler: appends `fullpath` to FoundFolders.
void FileSearch1FileFind(const std::string& fullpath, const platform::SearchRec& info);

// The program's shared search (Level 0, OnFileFind = FileSearch1FileFind); callers
// set SearchFile, clear FoundFolders and call Execute.
TFileSearch& FileSearch1();

}  // namespace qb
