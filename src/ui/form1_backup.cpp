#include "ui/form1_backup.h"

namespace qb::ui {

BackupTab::BackupTab(Form1& form, QWidget* panel) : form_(form), panel_(panel) {
    (void)form_;
    (void)panel_;
}

}  // namespace qb::ui
