#include "ui/form1_wizard.h"

namespace qb::ui {

WizardPages::WizardPages(Form1& form, QWidget* panel) : form_(form), panel_(panel) {
    (void)form_;
    (void)panel_;
}

}  // namespace qb::ui
