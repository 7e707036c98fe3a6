#include "ui/form1_schedule.h"

#include <QVBoxLayout>

#include "ui/schedule_page.h"

namespace qb::ui {

ScheduleTab::ScheduleTab(Form1& form, QWidget* panel)
    : form_(form), page_(new SchedulePage(panel)) {
    (void)form_;
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page_);
}

void ScheduleTab::applySettings() {
    page_->ShowScheduleSettings();
}

void ScheduleTab::formShow() {
    // While the tab is shown its marks are the person's, not yet stored.
    if (!page_->isVisible()) page_->FillScheduleTree();
}

}  // namespace qb::ui
