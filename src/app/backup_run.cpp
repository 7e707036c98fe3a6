#include "app/backup_run.h"

#include <chrono>

#include "app/settings.h"
#include "catalog/kinds.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "platform/files.h"
#include "support/msg_texts.h"
#include "support/running_check.h"

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

BackupReport RunCheckedBackup(ClientKind kind, const std::string& path, const Selection& identities,
                              const Selection& items) {
    if (ClientStillRuns(kind, true)) {
        BackupReport report;
        report.outcome = BackupOutcome::ClientRunning;
        return report;
    }
    return RunBackupJob(kind, path, identities, items);
}

BackupReport RunBackupJob(ClientKind kind, const std::string& path, const Selection& identities,
                          const Selection& items) {
    BackupReport report;
    const auto started = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    const bool error = jobs::RunBackup(path, kind, identities, items);
    const jobs::ArchiveJob& job = jobs::archiveJob();
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

}  // namespace qb::app
