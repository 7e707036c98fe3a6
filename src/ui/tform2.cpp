#include "ui/tform2.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/backup_run.h"
#include "jobs/archive_job.h"
#include "platform/paths.h"
#include "ui/window_support.h"

namespace qb::ui {

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName("Form2");
    setWindowTitle("Backing Up");
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    Label3 = new QLabel("Backup in progress...", this);
    Label3->setObjectName("Label3");
    QFont bold = Label3->font();
    bold.setBold(true);
    Label3->setFont(bold);
    Label3->setWordWrap(true);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setAccessibleName("Backup progress");
    Label1 = new QLabel("Backing up your email data to:", this);
    Label1->setObjectName("Label1");
    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Label2 = new QLabel(Panel1);
    Label2->setObjectName("Label2");
    Label2->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* panelLayout = new QHBoxLayout(Panel1);
    panelLayout->setContentsMargins(8, 4, 8, 4);
    panelLayout->addWidget(Label2);
    Label1->setBuddy(Label2);

    Button1 = new QPushButton("Abort", this);
    Button1->setObjectName("Button1");
    Button1->setDefault(true);
    Button2 = new QPushButton("Go to Folder", this);
    Button2->setObjectName("Button2");
    Button2->setAutoDefault(false);
    Button2->hide();
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(100);
    Timer1->setSingleShot(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button2);
    buttons->addWidget(Button1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label3);
    layout->addWidget(ProgressBar1);
    layout->addSpacing(8);
    layout->addWidget(Label1);
    layout->addWidget(Panel1);
    layout->addLayout(buttons);
    setMinimumWidth(532);
    setTabOrder(Button1, Button2);

    connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
}

void TForm2::setJob(std::string backupPath, ClientKind kind, const QListWidget* identities,
                    const QListWidget* items) {
    backupPath_ = std::move(backupPath);
    kind_ = kind;
    identities_ = identities;
    items_ = items;
}

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TForm2::FormShow() {
    CentreOnMainWindow(*this);
    setStatus(JobText("Message24"), false);
    Label1->setText(JobText("Backing up your email data to:"));
    Button2->hide();
    jobs::ArchiveJob& job = jobs::archiveJob();
    job.abortRequest = false;
    Button1->setText(JobText("Message7"));
    Button1->setProperty("tag", 0);
    Label2->clear();
    ProgressBar1->setValue(0);
    job.errorFlag = false;
    job.aborted = false;
    succeeded_ = false;
    closeWhenDone_ = false;
    Timer1->start();
}

void TForm2::Timer1Timer() {
    Timer1->stop();
    Label2->setText(Q(backupPath_));
    const Selection identities = identities_ ? SelectionOf(*identities_) : Selection{};
    const Selection items = items_ ? SelectionOf(*items_) : Selection{};

    running_ = true;
    app::BackupReport report;
    {
        jobs::ScopedJobProgress bars(*this);
        report = app::RunBackupJob(kind_, backupPath_, identities, items);
    }
    running_ = false;

    ProgressBar1->setValue(100);
    Button1->setText(JobText("Message8"));
    Button1->setProperty("tag", 1);
    Button2->show();

    const jobs::ArchiveJob& job = jobs::archiveJob();
    if (job.errorFlag) {
        setStatus(JobText("Message20") + Q(job.errorText), true);
    } else if (job.aborted) {
        setStatus(JobText("Message21"), true);
        Label1->setText(JobText("Message22"));
    } else if (report.outcome != app::BackupOutcome::Done) {
        // The job reported nothing wrong, yet no new file is there: never a success.
        setStatus(
            JobText("Message20") + JobText("No backup file was written:") + " " + Q(backupPath_),
            true);
    } else {
        succeeded_ = true;
        setStatus(JobText("Message18"), false);
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

void TForm2::closeEvent(QCloseEvent* event) {
    if (running_) {
        // Closing the window while the backup runs stops it; the window goes once the
        // job has returned (an older file of the same name stays as it was).
        jobs::archiveJob().abortRequest = true;
        closeWhenDone_ = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TForm2::reject() {
    if (running_) {
        jobs::archiveJob().abortRequest = true;
        closeWhenDone_ = true;
        return;
    }
    QDialog::reject();
}

void TForm2::progress(int overall, int /*item*/, std::string_view /*label*/) {
    ProgressBar1->setValue(overall);
    // The job runs on this thread: the window repaints and Abort is heard only here.
    QApplication::processEvents();
}

void TForm2::setStatus(const QString& text, bool red) {
    Label3->setText(text.trimmed());
    QPalette p = Label3->palette();
    p.setColor(QPalette::WindowText, red ? QColor(Qt::red) : QColor(Qt::black));
    Label3->setPalette(p);
}

}  // namespace qb::ui
