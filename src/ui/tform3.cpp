#include "ui/tform3.h"

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
#include "jobs/restore_job.h"
#include "platform/paths.h"
#include "ui/window_support.h"

namespace qb::ui {

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
    setObjectName("Form3");
    setWindowTitle("Restoring");
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    Label1 = new QLabel("Restore in progress...", this);
    Label1->setObjectName("Label1");
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->setWordWrap(true);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setAccessibleName("Restore progress");
    Label2 = new QLabel("Restoring your email data from:", this);
    Label2->setObjectName("Label2");
    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Label3 = new QLabel(Panel1);
    Label3->setObjectName("Label3");
    Label3->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* panelLayout = new QHBoxLayout(Panel1);
    panelLayout->setContentsMargins(8, 4, 8, 4);
    panelLayout->addWidget(Label3);
    Label2->setBuddy(Label3);

    Button1 = new QPushButton("Abort", this);
    Button1->setObjectName("Button1");
    Button1->setDefault(true);
    Button1->setMinimumWidth(99);
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(100);
    Timer1->setSingleShot(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(ProgressBar1);
    layout->addSpacing(8);
    layout->addWidget(Label2);
    layout->addWidget(Panel1);
    layout->addLayout(buttons);
    setMinimumWidth(531);

    connect(Timer1, &QTimer::timeout, this, &TForm3::Timer1Timer);
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
}

void TForm3::setJob(std::string backupPath, ClientKind kind, const QListWidget* identities,
                    const QListWidget* items, bool toFolder, std::string targetFolder) {
    backupPath_ = std::move(backupPath);
    kind_ = kind;
    identities_ = identities;
    items_ = items;
    toFolder_ = toFolder;
    targetFolder_ = std::move(targetFolder);
}

void TForm3::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TForm3::FormShow() {
    CentreOnMainWindow(*this);
    setHeading(JobText("Message26"), false);
    Label2->setText(JobText("Restoring your email data from :"));
    jobs::ArchiveJob& job = jobs::archiveJob();
    job.abortRequest = false;
    Button1->setText(JobText("Message7"));
    Button1->setProperty("tag", 0);
    Label3->setText(Q(backupPath_));
    ProgressBar1->setValue(0);
    job.errorFlag = false;
    job.aborted = false;
    succeeded_ = false;
    closeWhenDone_ = false;
    undoFile_.clear();
    Timer1->start();
}

void TForm3::Timer1Timer() {
    Timer1->stop();
    const Selection identities = identities_ ? SelectionOf(*identities_) : Selection{};
    const Selection items = items_ ? SelectionOf(*items_) : Selection{};
    jobs::ArchiveJob& job = jobs::archiveJob();

    running_ = true;
    {
        jobs::ScopedJobProgress bars(*this);
        if (toFolder_) {
            jobs::RunRestoreToFolder(backupPath_, platform::includeTrailingBackslash(targetFolder_),
                                     kind_, identities, items);
        } else {
            // The client's current data is backed up first, so that the person
            // can undo the restore; without that backup nothing is restored.
            const app::RestoreReport done =
                app::RestoreIntoClient(backupPath_, kind_, identities, items, true);
            undoFile_ = done.undoFile;
            if (done.notStarted) {
                job.errorFlag = true;
                job.errorText = done.error;
            }
        }
    }
    running_ = false;

    ProgressBar1->setValue(100);
    Button1->setText(JobText("Message8"));
    Button1->setProperty("tag", 1);
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

void TForm3::closeEvent(QCloseEvent* event) {
    if (running_) {
        // A restore stopped halfway would leave the client half restored: closing the
        // window lets it finish, and the window goes then.
        closeWhenDone_ = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TForm3::reject() {
    if (running_) {
        closeWhenDone_ = true;
        return;
    }
    QDialog::reject();
}

void TForm3::progress(int overall, int /*item*/, std::string_view /*label*/) {
    ProgressBar1->setValue(overall);
    QApplication::processEvents();
}

void TForm3::setHeading(const QString& text, bool red) {
    Label1->setText(text.trimmed());
    QPalette p = Label1->palette();
    p.setColor(QPalette::WindowText, red ? QColor(Qt::red) : QColor(Qt::black));
    Label1->setPalette(p);
}

}  // namespace qb::ui
