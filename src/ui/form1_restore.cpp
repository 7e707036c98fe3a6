#include "ui/form1_restore.h"

namespace qb::ui {

RestoreTab::RestoreTab(Form1& form, QWidget* panel) : form_(form), panel_(panel) {
    (void)form_;
    (void)panel_;
}

}  // namespace qb::ui
