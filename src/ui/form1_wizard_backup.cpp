#include "ui/form1_wizard_backup.h"

#include "ui/form1_wizard.h"

namespace qb::ui {

WizardBackupPages::WizardBackupPages(WizardPages& wizard) : wizard_(wizard) {}

bool WizardBackupPages::nextAllowed(int) {
    return true;
}

void WizardBackupPages::pageShown(int) {}

void WizardBackupPages::pageHidden(int) {}

}  // namespace qb::ui
