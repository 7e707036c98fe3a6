#include "ui/tform3.h"

#include <QLabel>
#include <QPushButton>

#include "app/backup_run.h"
#include "jobs/archive_job.h"
#include "jobs/restore_job.h"
#include "platform/paths.h"
#include "ui/window_support.h"

namespace qb::ui {

TForm3::TForm3(QWidget* parent)
    : ProgressWindow(
          {
              .form = "Form3",
              .title = "Restoring",
              .headingName = "Label1",
              .heading = "Restore in progress...",
              .barName = "Restore progress",
              .captionName = "Label2",
              .caption = "Restoring your email data from:",
              .pathName = "Label3",
              .minimumWidth = 531,
              // A restore stopped halfway would leave the client half restored:
              // closing the window lets it finish, and the window goes then.
              .closeAborts = false,
          },
          parent) {
    Label1 = heading_;
    Label2 = caption_;
    Label3 = path_;
    Button1->setMinimumWidth(99);
}

void TForm3::setJob(std::string backupPath, ClientKind kind, const QListWidget* identities,
                    const QListWidget* items, bool toFolder, std::string targetFolder) {
    setSource(std::move(backupPath), kind, identities, items);
    toFolder_ = toFolder;
    targetFolder_ = std::move(targetFolder);
}

void TForm3::FormShow() {
    undoFile_.clear();
    startShowing(JobText("Message26"), JobText("Restoring your email data from :"), Q(backupPath_));
}

void TForm3::Timer1Timer() {
    jobs::ArchiveJob& job = jobs::archiveJob();
    runJob([&](const Selection& identities, const Selection& items) {
        if (toFolder_) {
            jobs::RunRestoreToFolder(backupPath_, platform::includeTrailingBackslash(targetFolder_),
                                     kind_, identities, items);
            return;
        }
        // The client's current data is backed up first, so that the person can undo
        // the restore; without that backup nothing is restored.
        const app::RestoreReport done =
            app::RestoreIntoClient(backupPath_, kind_, identities, items, true);
        undoFile_ = done.undoFile;
        if (done.notStarted) {
            job.errorFlag = true;
            job.errorText = done.error;
        }
    });

    if (job.errorFlag) {
        setHeading(JobText("Message30") + Q(job.errorText), true);
    } else if (job.aborted) {
        setHeading(JobText("Message31"), true);
    } else {
        succeeded_ = true;
        setHeading(JobText("Message28"), false);
        Label2->setText(JobText("Quillbox has succesful restored your email data."));
    }
    if (!undoFile_.empty())
        Label2->setText(Label2->text() + "\n" +
                        JobText("The data the restore replaced is kept in:") + " " + Q(undoFile_));
    if (closeWhenDone_) reject();
}

void TForm3::Button1Click() {
    if (Button1->property("tag").toInt() == 1) {
        reject();
        return;
    }
    // The button also ends the window: after an abort it closes by itself as soon as
    // the restore has returned.
    jobs::archiveJob().abortRequest = true;
    closeWhenDone_ = true;
}

}  // namespace qb::ui
