#include "ui/tform2.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "app/backup_run.h"
#include "jobs/archive_job.h"
#include "platform/paths.h"
#include "ui/window_support.h"

namespace qb::ui {

TForm2::TForm2(QWidget* parent)
    : ProgressWindow(
          {
              .form = "Form2",
              .title = "Backing Up",
              .headingName = "Label3",
              .heading = "Backup in progress...",
              .barName = "Backup progress",
              .captionName = "Label1",
              .caption = "Backing up your email data to:",
              .pathName = "Label2",
              .minimumWidth = 532,
              // Closing the window while the backup runs stops it; the window goes
              // once the job has returned (an older file of the same name stays as
              // it was).
              .closeAborts = true,
          },
          parent) {
    Label3 = heading_;
    Label1 = caption_;
    Label2 = path_;
    Button2 = new QPushButton("Go to Folder", this);
    Button2->setObjectName("Button2");
    Button2->setAutoDefault(false);
    Button2->hide();
    buttons_->insertWidget(1, Button2);
    setTabOrder(Button1, Button2);

    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
}

void TForm2::setJob(std::string backupPath, ClientKind kind, const QListWidget* identities,
                    const QListWidget* items) {
    setSource(std::move(backupPath), kind, identities, items);
}

void TForm2::FormShow() {
    Button2->hide();
    startShowing(JobText("Message24"), JobText("Backing up your email data to:"), QString());
}

void TForm2::Timer1Timer() {
    Label2->setText(Q(backupPath_));
    app::BackupReport report;
    runJob([&](const Selection& identities, const Selection& items) {
        report = app::RunBackupJob(kind_, backupPath_, identities, items);
    });
    Button2->show();

    const jobs::ArchiveJob& job = jobs::archiveJob();
    if (job.errorFlag) {
        setHeading(JobText("Message20") + Q(job.errorText), true);
    } else if (job.aborted) {
        setHeading(JobText("Message21"), true);
        Label1->setText(JobText("Message22"));
    } else if (report.outcome != app::BackupOutcome::Done) {
        // The job reported nothing wrong, yet no new file is there: never a success.
        setHeading(
            JobText("Message20") + JobText("No backup file was written:") + " " + Q(backupPath_),
            true);
    } else {
        succeeded_ = true;
        setHeading(JobText("Message18"), false);
        Label1->setText(JobText("Message19"));
    }
    if (closeWhenDone_) accept();
}

void TForm2::Button1Click() {
    if (Button1->property("tag").toInt() == 1) {
        accept();
        return;
    }
    jobs::archiveJob().abortRequest = true;
}

void TForm2::Button2Click() {
    folderOpener()(platform::extractFilePath(backupPath_));
}

}  // namespace qb::ui
