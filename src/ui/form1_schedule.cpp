#include "ui/form1_schedule.h"

namespace qb::ui {

ScheduleTab::ScheduleTab(Form1& form, QWidget* panel) : form_(form), panel_(panel) {
    (void)form_;
    (void)panel_;
}

}  // namespace qb::ui
