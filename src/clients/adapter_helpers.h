// Steps that the Opera, Netscape/Mozilla and Favorites adapters share: telling
// usable folders and safe stored names from hostile ones, collecting the notes
// of a job for its error text, staging files, and extraction cycles built from
// the backup's listing.
#pragma once

#include <initializer_list>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalog/client_kind.h"
#include "jobs/restore_job.h"

namespace qb::clients::helpers {

// A folder a client's data may live in: a drive, ":\" and at least one level
// ("C:\Mail"), no "." or ".." level. A drive's root, a relative path, a network
// path and "" are not.
bool IsUsableFolder(std::string_view folder);
// A name that stays below the folder it is put in (the restore job's rule).
using jobs::IsSafeRelativeName;
// One level of a path (an identity used as a folder name): a safe relative name
// without "\" or "/".
bool IsSafeFolderName(std::string_view name);

// The display name of item `index` of the client: the catalog's list.
std::string ItemName(ClientKind kind, int index);

// The problems one job run met, one line each. They are added to the job's error
// text (and set its error flag) when the run reports them at its end, after the
// archive library's own outcome, so that a later library result cannot wipe them.
class JobNotes {
  public:
    void add(std::string text) { lines_.push_back(std::move(text)); }
    bool empty() const { return lines_.empty(); }
    // Appends the lines to the job's error text and sets the error flag; returns
    // the job's error flag.
    bool report();

  private:
    std::vector<std::string> lines_;
};

// The sections of a generated INI file, each with its keys, in file order.
using IniKeys = std::vector<std::pair<std::string, std::string>>;
using IniSections = std::vector<std::pair<std::string, IniKeys>>;

// Writes an INI file of the staging folder anew (the old file is deleted first;
// `relativeName` may name a subfolder, which is created). False, with a note
// naming the file, when it cannot be written.
bool WriteStagingIni(std::string_view relativeName, const IniSections& sections, JobNotes& notes);

// The values of a section's keys `prefix` + 1 .. `prefix` + n of an INI file, n
// being the number of lines of the section (as the backups write them); a key
// that is missing gives "".
std::vector<std::string> ReadNumberedKeys(std::string_view iniPath, std::string_view section,
                                          std::string_view prefix);

// ---- restores ----

// The opening of every restore: each named stored file is extracted into the
// staging folder (after an older copy there is deleted, so that a file the
// backup lacks is never read from an earlier job), the backup is listed and the
// restore bar is scaled to the listing.
void BeginRestore(std::string_view backupPath, std::initializer_list<std::string_view> names);
// Extracts one stored file into the given subfolder of the staging folder (""
// for the staging folder itself), deleting an older copy first. Returns the
// staging path of the file when the backup held it, else "".
std::string ExtractToStaging(std::string_view backupPath, std::string_view name,
                             std::string_view subfolder);

// The stored spelling of a listed file name (compared ignoring case); "" when
// the backup does not hold it.
std::string ListedName(std::string_view name);
// The listed files below `prefix` + "\" (ignoring case), in listing order;
// folder entries are left out.
std::vector<std::string> ListedFilesUnder(std::string_view prefix);

// A set of (stored name, destination folder) pairs extracted in one flat cycle:
// each file is written under its bare name into its own folder.
class ExtractionPlan {
  public:
    // Adds the file when the backup holds it. A file whose destination (folder
    // and bare name) is already planned is not added again: the first one wins.
    void addFile(std::string_view name, std::string_view folder);
    // Adds every listed file below `prefix`, each into `folder` followed by its
    // path below the prefix, so that the stored tree is rebuilt below `folder`.
    // A file whose path below the prefix is not a safe relative name is left out
    // with a note naming it. `directOnly` takes only the files directly below
    // the prefix.
    void addTree(std::string_view prefix, std::string_view folder, JobNotes& notes,
                 bool directOnly = false);
    bool empty() const { return entries_.empty(); }
    // One extraction cycle of the planned files (none when nothing is planned);
    // the plan is emptied.
    void run(std::string_view backupPath);

  private:
    void addListed(const std::string& stored, std::string_view folder);
    std::vector<std::pair<std::string, std::string>> entries_;
    std::set<std::string> destinations_;  // lower-cased paths already planned
};

}  // namespace qb::clients::helpers
