// The one job state of the process, shared by the backup and the restore job, and
// the callback through which the archive library reports to it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_library.h"
#include "regfile/io_registry.h"
#include "support/msg_texts.h"

namespace qb::jobs {

// One entry of the job's file list. A backup fills source, archive folder, base
// folder and size (of a file; of all files below a folder; 0 for a missing path);
// a restore keeps the name inside the backup file in `source` and the folder it
// goes to in `destinationFolder`.
struct JobFileEntry {
    std::string source;
    std::string archiveFolder;
    std::string baseFolder;
    uint64_t size = 0;
    std::string destinationFolder;
};

// The entries of one backup item: their total size, the index (from 1) of the
// item's last entry in the file list, and the item's name.
struct ProgressGroup {
    uint64_t total = 0;
    size_t lastEntry = 0;
    std::string name;
};

enum class JobMode { Idle, Backup, Extract, Verify };

struct ArchiveJob {
    // Set at start-up: the process's own folder below the Windows temporary folder,
    // without its trailing backslash.
    std::string stagingFolder;
    // Whether the staging folder keeps the manifest when a job ends.
    bool keepManifest = false;
    std::string password;
    bool multipleVolumes = false;
    int volumeSizeIndex = 4;

    JobMode mode = JobMode::Idle;
    std::vector<JobFileEntry> files;  // no cap: every entry added is packed
    archive::FileList fileList;
    bool fileListOpen = false;
    archive::ArchiveOptions archiveOptions;
    bool archiveOptionsValid = false;
    archive::ExtractOptions extractOptions;

    // Progress of a backup. groups[0] is the empty record before the first item.
    std::vector<ProgressGroup> groups{ProgressGroup{}};
    size_t position = 0;       // entry (from 1) the library works on
    size_t groupPosition = 0;  // group of that entry
    uint64_t finishedBytes = 0;
    uint64_t groupFinishedBytes = 0;
    double overallScale = 100.0;
    double groupScale = 100.0;
    std::string groupLabel;
    int lastOverall = 0;
    int lastItem = 0;

    // Restore side: files whose extraction began, the scale of the restore bar, and
    // the names of the backup file in archive order.
    size_t filesStarted = 0;
    double restoreScale = 100.0;
    std::vector<std::string> listing;
    uint64_t listedBytes = 0;  // the files' declared sizes, summed by the listing
    // Called by ArchiveCallback for reasons 0, 6 and 7 while mode is Extract (after
    // the abort check and the message pump); its answer goes to the library.
    std::function<int32_t(archive::CallbackRecord&)> extractHandler;

    // The backup made of the client's data just before a direct restore, set by the
    // caller; a failed restore names it as the way back. "" when none was made.
    std::string undoBackup;

    std::string errorText;
    bool errorFlag = false;
    bool aborted = false;
    bool abortRequest = false;
    // A failure the callback found itself (a stored name that cannot be handed to
    // the library); it wins over the library's result.
    std::string callbackError;
    // What a backup left out without failing: an item whose source the machine
    // does not have or that holds nothing. Cleared when a backup starts.
    std::vector<std::string> notes;
};

// The process's job state.
ArchiveJob& archiveJob();
// The jobs' own message texts.
TMsgINISupp& JobTexts();
// The registry file exporter and importer of the run, with its default settings.
TIORegistry& IORegistry();

// The callback handed to the library (user value unused).
int32_t ArchiveCallback(intptr_t user, void* record);

// Nearest whole number, halves to even.
int64_t RoundHalfEven(double value);

// Turns the library's result into the job's flags and error text. 0 changes nothing;
// 2926 sets the aborted flag; every other result sets the error flag. 5, 101 and 150
// get their message texts, others the library's account of the failure; the
// library's account is appended to the message texts too, so the text names the file.
void MapArchiveResult(int32_t result);

// Volume size field for the "Volumes" setting: 0 floppy (a byte count), 1..4 the
// library's codes for ZIP 100, ZIP 250, CD 650 and CD 700; others 0.
int32_t VolumeSizeCode(int index);

}  // namespace qb::jobs
