#include "jobs/archive_job.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "jobs/job_progress.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text_codec.h"
#include "support/interaction.h"

namespace qb::jobs {

using archive::CallbackRecord;

namespace {

int clampPercent(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, 0, 100));
}

// Moves to the group that holds the current position. Items that added nothing
// own no entry and are passed over.
void followGroups(ArchiveJob& job) {
    bool moved = false;
    while (job.groupPosition + 1 < job.groups.size() &&
           job.position > job.groups[job.groupPosition].lastEntry) {
        ++job.groupPosition;
        moved = true;
    }
    if (!moved) return;
    const ProgressGroup& g = job.groups[job.groupPosition];
    job.groupFinishedBytes = 0;
    job.groupScale = g.total == 0 ? 100.0 : 100.0 / static_cast<double>(g.total);
    job.lastItem = 0;
    job.groupLabel = JobTexts().GetMessageText("Message36") + g.name;
}

// One step to the next entry: the previous one is finished.
void stepEntry(ArchiveJob& job) {
    ++job.position;
    if (job.position > 1 && job.position - 2 < job.files.size()) {
        const uint64_t previous = job.files[job.position - 2].size;
        job.finishedBytes += previous;
        job.groupFinishedBytes += previous;
    }
    followGroups(job);
}

int32_t onProgress(ArchiveJob& job, CallbackRecord& record) {
    const int p = std::clamp(record.percent(), 0, 100);
    uint64_t size = 0;
    if (job.position >= 1 && job.position <= job.files.size())
        size = job.files[job.position - 1].size;
    const double done = static_cast<double>(RoundHalfEven(static_cast<double>(size) * p / 100.0));
    const double finished = static_cast<double>(job.finishedBytes);
    const double groupFinished = static_cast<double>(job.groupFinishedBytes);
    int overall =
        clampPercent(RoundHalfEven(finished * job.overallScale + done * job.overallScale));
    int item = clampPercent(RoundHalfEven(groupFinished * job.groupScale + done * job.groupScale));
    // Sums of rounded terms can dip by one where a file's end meets the next file's
    // start; the bars only move forward.
    overall = std::max(overall, job.lastOverall);
    item = std::max(item, job.lastItem);
    job.lastOverall = overall;
    job.lastItem = item;
    jobProgress().progress(overall, item, job.groupLabel);
    interaction().processMessages();
    return archive::kAnswerGoOn;
}

int32_t onNextEntry(ArchiveJob& job, CallbackRecord& record) {
    // Paths the library was never given (no place on this machine) are never
    // announced: pass over them, so that no entry is stored under another's name.
    size_t target = job.position + 1;
    while (target <= job.files.size() && archive::LeftOutOfFileList(job.files[target - 1].source))
        ++target;
    while (job.position < target)
        stepEntry(job);
    if (job.position < 1 || job.position > job.files.size()) return archive::kAnswerGoOn;

    const JobFileEntry& e = job.files[job.position - 1];
    const std::string rest = e.source.substr(std::min(e.baseFolder.size(), e.source.size()));
    const std::string name = e.archiveFolder + "\\" + rest;
    if (!record.setFileName(name)) {
        job.callbackError = "Name too long for the backup file: " + name;
        return archive::kAnswerStop;
    }
    return archive::kAnswerGoOn;
}

int32_t onNextVolume(ArchiveJob& job, CallbackRecord& record) {
    job.abortRequest = false;
    const std::string text =
        JobTexts().GetMessageText("Message14") + " " + std::to_string(record.diskNumber());
    const int32_t kind = record.volumeKind();
    if (kind == archive::kVolumeKindRead || kind == archive::kVolumeKindReadAlt) {
        const MsgAnswer a =
            interaction().messageBox(text, MsgIcon::Confirmation, MsgButtons::OkCancel);
        return a == MsgAnswer::Ok ? archive::kAnswerGoOn : archive::kAnswerStop;
    }
    // Writing. After a full disk the question offers Cancel too, so that a disk that
    // never frees enough space cannot hold the job in a loop.
    MsgButtons buttons = MsgButtons::Ok;
    for (;;) {
        const MsgAnswer a = interaction().messageBox(text, MsgIcon::Confirmation, buttons);
        if (a != MsgAnswer::Ok) return archive::kAnswerStop;
        const std::string next = record.pathText();
        if (next.size() >= 2 && next[1] == ':') {
            const auto free = platform::diskFree(next[0]);
            if (free && *free < record.bytesNeeded()) {
                interaction().messageBox(JobTexts().GetMessageText("Message15"), MsgIcon::Error,
                                         MsgButtons::Ok);
                buttons = MsgButtons::OkCancel;
                continue;
            }
        }
        return archive::kAnswerGoOn;
    }
}

int32_t handle(void* raw) {
    ArchiveJob& job = archiveJob();
    CallbackRecord record(raw);
    if (job.abortRequest) return archive::kAnswerStop;
    interaction().processMessages();
    const int32_t reason = record.reason();
    const bool extracting = job.mode == JobMode::Extract && job.extractHandler;
    switch (reason) {
        case archive::kReasonProgress:
            // Reading the new backup back leaves the bars at their end.
            if (job.mode == JobMode::Verify) return archive::kAnswerGoOn;
            return extracting ? job.extractHandler(record) : onProgress(job, record);
        case archive::kReasonOverwrite:
            return archive::kAnswerOverwrite;
        case archive::kReasonNextVolume:
            return onNextVolume(job, record);
        case archive::kReasonPassword:
            if (!record.setPathText(job.password)) {
                job.callbackError = "The backup password is too long.";
                return archive::kAnswerStop;
            }
            return archive::kAnswerGoOn;
        case archive::kReasonNextEntry:
            return onNextEntry(job, record);
        case archive::kReasonExtractEntry:
        case archive::kReasonMissingEntry:
            return extracting ? job.extractHandler(record) : archive::kAnswerGoOn;
        default:
            return archive::kAnswerGoOn;
    }
}

}  // namespace

ArchiveJob& archiveJob() {
    static ArchiveJob job;
    return job;
}

TMsgINISupp& JobTexts() {
    static TMsgINISupp texts;
    return texts;
}

TIORegistry& IORegistry() {
    static TIORegistry registry;
    return registry;
}

int32_t ArchiveCallback(intptr_t user, void* record) {
    (void)user;
    // Nothing may leave through the library's frames.
    try {
        return handle(record);
    } catch (const OperationAbandoned&) {
        return archive::kAnswerStop;
    } catch (const std::exception& e) {
        archiveJob().callbackError = platform::escapeControls(e.what());
        return archive::kAnswerStop;
    } catch (...) {
        archiveJob().callbackError = "Unexpected failure while packing.";
        return archive::kAnswerStop;
    }
}

int64_t RoundHalfEven(double value) {
    const double floor = std::floor(value);
    const double diff = value - floor;
    double r;
    if (diff < 0.5) {
        r = floor;
    } else if (diff > 0.5) {
        r = floor + 1.0;
    } else {
        r = std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
    }
    return static_cast<int64_t>(r);
}

void MapArchiveResult(int32_t result) {
    ArchiveJob& job = archiveJob();
    if (result == archive::kResultOk && job.callbackError.empty()) return;
    job.errorText.clear();
    if (!job.callbackError.empty()) {
        job.errorText = job.callbackError;
        job.errorFlag = true;
        return;
    }
    if (result == archive::kResultAborted) {
        job.aborted = true;
        return;
    }
    job.errorFlag = true;
    // The library's account quotes names from the archive as they are stored.
    const std::string detail = platform::escapeControls(archive::SqxLastError());
    const char* key = nullptr;
    switch (result) {
        case archive::kResultAccessDenied:
            key = "Message16";
            break;
        case archive::kResultDiskFull:
            key = "Message15";
            break;
        case archive::kResultWriteProtected:
            key = "Message17";
            break;
        default:
            break;
    }
    if (key) {
        job.errorText = JobTexts().GetMessageText(key);
        if (!detail.empty()) job.errorText += " " + detail;
    } else if (!detail.empty()) {
        job.errorText = detail;
    } else {
        job.errorText = "The archive library failed with code " + std::to_string(result) + ".";
    }
}

int32_t VolumeSizeCode(int index) {
    switch (index) {
        case 0:
            return 1357664;
        case 1:
            return 9;
        case 2:
            return 11;
        case 3:
            return 12;
        case 4:
            return 13;
        default:
            return 0;
    }
}

}  // namespace qb::jobs
