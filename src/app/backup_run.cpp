#include "app/backup_run.h"

#include <chrono>

#include "app/date_time.h"
#include "app/settings.h"
#include "catalog/identities.h"
#include "catalog/installed.h"
#include "catalog/kinds.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/msg_texts.h"
#include "support/running_check.h"
#ifdef QB_HAVE_RESTORE_JOB
#include "jobs/restore_job.h"
#endif

namespace qb::app {

bool ClientStillRuns(ClientKind kind, bool backup) {
    return CheckRunningClient(kind, backup);
}

std::string_view ClientName(ClientKind kind) {
    const KindInfo* k = findKind(kind);
    return k ? k->name : std::string_view("client");
}

std::string MessageText(std::string_view key) {
    TMsgINISupp texts;
    texts.SetFileName(settings().languageFile);
    try {
        return texts.GetMessageText(key);
    } catch (const OperationAbandoned&) {
        return "ERROR";
    }
}

BackupReport RunBackupJob(ClientKind kind, const std::string& path, const Selection& identities,
                          const Selection& items) {
    BackupReport report;
    const auto started = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    // The volume choice in force now (the Options tab and the wizard change it).
    jobs::archiveJob().multipleVolumes = settings().multipleVolumes;
    jobs::archiveJob().volumeSizeIndex = settings().volumeSizeIndex;
    const bool error = jobs::RunBackup(path, kind, identities, items);
    const jobs::ArchiveJob& job = jobs::archiveJob();
    report.notes = job.notes;
    if (job.aborted) {
        report.outcome = BackupOutcome::Aborted;
        return report;
    }
    if (error) {
        report.error = job.errorText.empty() ? "the backup failed" : job.errorText;
        return report;
    }
    for (const platform::SearchRec& r : platform::findFiles(path, platform::faAnyFile))
        if (!(r.attr & platform::faDirectory) && r.lastWrite >= started.time_since_epoch().count())
            report.outcome = BackupOutcome::Done;
    if (report.outcome != BackupOutcome::Done) report.error = "no backup file was written";
    return report;
}

BackupReport RunCheckedBackup(ClientKind kind, const std::string& path, const Selection& identities,
                              const Selection& items) {
    if (!ClientInstalledForBackup(kind)) {
        BackupReport report;
        report.outcome = BackupOutcome::NotInstalled;
        return report;
    }
    if (ClientStillRuns(kind, true)) {
        BackupReport report;
        report.outcome = BackupOutcome::ClientRunning;
        return report;
    }
    return RunBackupJob(kind, path, identities, items);
}

UndoBackupReport BackupBeforeRestore(ClientKind kind, const Selection& identities,
                                     const Selection& items) {
    UndoBackupReport report;
    const std::string prefix(fileNamePrefix(kind));
    if (prefix.empty() || !ClientInstalledForBackup(kind)) {
        report.ok = true;
        return report;
    }
    Selection ids, its;
    for (const std::string& id : ListIdentities(kind)) {
        bool chosen = false;
        for (int i = 0; i < identities.count; ++i)
            if (identities.isChecked(i) && platform::equalsNoCase(identities[i].name, id))
                chosen = true;
        ids.add(id, chosen);
    }
    bool anyIdentity = false;
    for (int i = 0; i < ids.count; ++i)
        anyIdentity = anyIdentity || ids.isChecked(i);
    if (!anyIdentity) {
        report.ok = true;
        return report;
    }
    for (const std::string& it : BackupItems(kind)) {
        bool chosen = false;
        for (int i = 0; i < items.count; ++i)
            if (items.isChecked(i) && items[i].name == it) chosen = true;
        its.add(it, chosen);
    }
    if (settings().autoBackupFolder.empty()) {
        report.error = "no automatic backup folder is set to keep the current data in";
        return report;
    }
    const std::string folder = platform::includeTrailingBackslash(settings().autoBackupFolder);
    if (!platform::directoryExists(folder) && !platform::forceDirectories(folder)) {
        report.error = "cannot create the folder " + folder + ": " + platform::lastFileError();
        return report;
    }
    // Date and time with the characters a file name may hold; two restores within
    // one second do not share a file.
    const std::string stamp = FormatLocalTime(LocalNow());
    std::string safe;
    for (char c : stamp)
        safe += (c >= '0' && c <= '9') ? c : (c == ' ' ? ' ' : '-');
    std::string path = folder + "BeforeRestore " + prefix + safe + ".ebk";
    for (int n = 2; platform::fileExists(path); ++n)
        path = folder + "BeforeRestore " + prefix + safe + " (" + std::to_string(n) + ").ebk";
    const BackupReport r = RunBackupJob(kind, path, ids, its);
    if (r.outcome == BackupOutcome::Done) {
        report.ok = true;
        report.file = path;
    } else if (r.outcome == BackupOutcome::Aborted) {
        report.error = "the backup of the current data was aborted";
    } else {
        report.error = r.error;
    }
    return report;
}

#ifdef QB_HAVE_RESTORE_JOB
RestoreReport RestoreIntoClient(std::string_view backupPath, ClientKind kind,
                                const Selection& identities, const Selection& items, bool undo) {
    RestoreReport report;
    if (undo) {
        const UndoBackupReport u = BackupBeforeRestore(kind, identities, items);
        if (!u.ok) {
            report.notStarted = true;
            report.error = u.error;
            return report;
        }
        report.undoFile = u.file;
    }
    // A restore that fails midway names the backup that undoes it.
    jobs::ArchiveJob& job = jobs::archiveJob();
    job.undoBackup = report.undoFile;
    const bool error = jobs::RunRestore(backupPath, kind, identities, items);
    job.undoBackup.clear();
    report.aborted = job.aborted;
    report.done = !error && !job.aborted;
    if (error) report.error = job.errorText.empty() ? "the restore failed" : job.errorText;
    return report;
}
#endif

}  // namespace qb::app
