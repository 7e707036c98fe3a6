#include "ui/progress_window.h"

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

#include "jobs/archive_job.h"
#include "ui/window_support.h"

namespace qb::ui {

ProgressWindow::ProgressWindow(const Design& design, QWidget* parent)
    : QDialog(parent), closeAborts_(design.closeAborts) {
    setObjectName(design.form);
    setWindowTitle(design.title);
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    heading_ = new QLabel(design.heading, this);
    heading_->setObjectName(design.headingName);
    MakeBold(*heading_);
    heading_->setWordWrap(true);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setAccessibleName(design.barName);
    caption_ = new QLabel(design.caption, this);
    caption_->setObjectName(design.captionName);
    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    path_ = new QLabel(Panel1);
    path_->setObjectName(design.pathName);
    path_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* panelLayout = new QHBoxLayout(Panel1);
    panelLayout->setContentsMargins(8, 4, 8, 4);
    panelLayout->addWidget(path_);
    caption_->setBuddy(path_);

    Button1 = new QPushButton("Abort", this);
    Button1->setObjectName("Button1");
    Button1->setDefault(true);
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(100);
    Timer1->setSingleShot(true);

    buttons_ = new QHBoxLayout;
    buttons_->addStretch();
    buttons_->addWidget(Button1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading_);
    layout->addWidget(ProgressBar1);
    layout->addSpacing(8);
    layout->addWidget(caption_);
    layout->addWidget(Panel1);
    layout->addLayout(buttons_);
    setMinimumWidth(design.minimumWidth);

    connect(Timer1, &QTimer::timeout, this, &ProgressWindow::Timer1Timer);
    connect(Button1, &QPushButton::clicked, this, &ProgressWindow::Button1Click);
}

void ProgressWindow::setSource(std::string backupPath, ClientKind kind,
                               const QListWidget* identities, const QListWidget* items) {
    backupPath_ = std::move(backupPath);
    kind_ = kind;
    identities_ = identities;
    items_ = items;
}

void ProgressWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void ProgressWindow::startShowing(const QString& heading, const QString& caption,
                                  const QString& path) {
    CentreOnMainWindow(*this);
    setHeading(heading, false);
    caption_->setText(caption);
    jobs::ArchiveJob& job = jobs::archiveJob();
    job.abortRequest = false;
    Button1->setText(JobText("Message7"));
    Button1->setProperty("tag", 0);
    path_->setText(path);
    ProgressBar1->setValue(0);
    job.errorFlag = false;
    job.aborted = false;
    succeeded_ = false;
    closeWhenDone_ = false;
    Timer1->start();
}

void ProgressWindow::runJob(
    const std::function<void(const Selection& identities, const Selection& items)>& job) {
    Timer1->stop();
    const Selection identities = identities_ ? SelectionOf(*identities_) : Selection{};
    const Selection items = items_ ? SelectionOf(*items_) : Selection{};

    running_ = true;
    {
        jobs::ScopedJobProgress bars(*this);
        job(identities, items);
    }
    running_ = false;

    ProgressBar1->setValue(100);
    Button1->setText(JobText("Message8"));
    Button1->setProperty("tag", 1);
}

bool ProgressWindow::closeAfterJob() {
    if (!running_) return false;
    if (closeAborts_) jobs::archiveJob().abortRequest = true;
    closeWhenDone_ = true;
    return true;
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    if (closeAfterJob()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void ProgressWindow::reject() {
    if (closeAfterJob()) return;
    QDialog::reject();
}

void ProgressWindow::progress(int overall, int /*item*/, std::string_view /*label*/) {
    ProgressBar1->setValue(overall);
    // The job runs on this thread: the window repaints and Abort is heard only here.
    QApplication::processEvents();
}

void ProgressWindow::setHeading(const QString& text, bool red) {
    heading_->setText(text.trimmed());
    QPalette p = heading_->palette();
    p.setColor(QPalette::WindowText, red ? QColor(Qt::red) : QColor(Qt::black));
    heading_->setPalette(p);
}

}  // namespace qb::ui
