#include "ui/form1_wizard.h"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "ui/form1.h"
#include "ui/form1_wizard_backup.h"
#include "ui/form1_wizard_restore.h"

namespace qb::ui {

namespace {

// The headings of the pages, in page order; page 9 has none.
const char* const kHeadings[WizardPages::kPageCount] = {
    "Welcome to Quillbox!",    "Select your Email Client:",
    "Choose items to backup:", "Please choose a backup filename",
    "Ready to backup",         "Backing Up ...",
    "Backup completed!",       "Choose a backup file to restore from",
    "Choose items to restore", "",
    "Ready to restore",        "Restoring ...",
    "Restore completed!",
};

}  // namespace

WizardPages::WizardPages(Form1& form, QWidget* panel, QWidget* nav) : form_(form), panel_(panel) {
    auto* tabs = static_cast<QTabWidget*>(panel_);
    for (int i = 0; i < kPageCount; ++i) {
        auto* page = new QWidget;
        page->setObjectName(QString("TabSheet%1").arg(5 + i));
        auto* layout = new QVBoxLayout(page);
        layout->setContentsMargins(12, 10, 12, 6);
        auto* heading = new QLabel(kHeadings[i], page);
        heading->setObjectName(QString("Label%1").arg(60 + i));
        QFont bold = heading->font();
        bold.setBold(true);
        bold.setPointSizeF(bold.pointSizeF() * 1.25);
        heading->setFont(bold);
        heading->setWordWrap(true);
        heading->setVisible(i != RestoreWhere);
        layout->addWidget(heading);
        auto* body = new QVBoxLayout;
        layout->addLayout(body, 1);
        pages_[i] = page;
        headings_[i] = heading;
        bodies_[i] = body;
        tabs->addTab(page, QString());
    }

    auto* bar = new QHBoxLayout(nav);
    bar->setContentsMargins(12, 4, 12, 4);
    back_ = new QPushButton("< Back", nav);
    back_->setObjectName("Button40");
    next_ = new QPushButton("Next >", nav);
    next_->setObjectName("Button41");
    next_->setDefault(true);
    bar->addStretch(1);
    bar->addWidget(back_);
    bar->addWidget(next_);
    connect(back_, &QPushButton::clicked, this, &WizardPages::BackClick);
    connect(next_, &QPushButton::clicked, this, &WizardPages::NextClick);

    backup_ = std::make_unique<WizardBackupPages>(*this);
    restore_ = std::make_unique<WizardRestorePages>(*this);
    updateButtons();
}

WizardPages::~WizardPages() = default;

QWidget* WizardPages::page(int index) const {
    return index >= 0 && index < kPageCount ? pages_[index] : nullptr;
}

QLabel* WizardPages::heading(int index) const {
    return index >= 0 && index < kPageCount ? headings_[index] : nullptr;
}

QVBoxLayout* WizardPages::body(int index) const {
    return index >= 0 && index < kPageCount ? bodies_[index] : nullptr;
}

int WizardPages::currentPage() const {
    return static_cast<QTabWidget*>(panel_)->currentIndex();
}

void WizardPages::formCreate() {
    backup_->formCreate();
    restore_->formCreate();
    static_cast<QTabWidget*>(panel_)->setCurrentIndex(Welcome);
    shown_ = Welcome;
    updateButtons();
}

void WizardPages::applySettings() {
    backup_->applySettings();
    restore_->applySettings();
}

void WizardPages::formShow() {
    backup_->formShow();
    restore_->formShow();
}

void WizardPages::formClose() {
    backup_->formClose();
    restore_->formClose();
}

void WizardPages::showPage(int index) {
    if (index < 0 || index >= kPageCount) return;
    form_.ShowWizardMode();
    if (shown_ >= 0 && shown_ != index) {
        if (shown_ <= BackupDone)
            backup_->pageHidden(shown_);
        else
            restore_->pageHidden(shown_);
    }
    static_cast<QTabWidget*>(panel_)->setCurrentIndex(index);
    shown_ = index;
    updateButtons();
    if (index <= BackupDone)
        backup_->pageShown(index);
    else
        restore_->pageShown(index);
    updateButtons();
}

void WizardPages::openBackupFile(const std::string& file) {
    WizardFilePath = file;
    GoingBack = false;
    GoingForward = true;
    showPage(RestoreItems);
}

void WizardPages::setJobRunning(bool running) {
    jobRunning_ = running;
    updateButtons();
}

void WizardPages::NextClick() {
    GoingBack = false;
    GoingForward = true;
    const int p = currentPage();
    const bool go = p <= BackupDone ? backup_->nextAllowed(p) : restore_->nextAllowed(p);
    if (go) showPage((p + 1) % kPageCount);
}

void WizardPages::BackClick() {
    GoingBack = true;
    GoingForward = false;
    const int p = currentPage();
    if (p == Welcome) return;
    showPage(p == ChooseBackupFile ? Welcome : p - 1);
}

void WizardPages::updateButtons() {
    // The welcome page has its own buttons; the others move with Back and Next.
    const bool welcome = currentPage() == Welcome;
    back_->setVisible(!welcome);
    next_->setVisible(!welcome);
    back_->setEnabled(!jobRunning_);
    next_->setEnabled(!jobRunning_);
}

}  // namespace qb::ui
