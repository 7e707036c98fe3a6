#include "ui/form1_wizard_restore.h"

#include "ui/form1_wizard.h"

namespace qb::ui {

WizardRestorePages::WizardRestorePages(WizardPages& wizard) : wizard_(wizard) {}

bool WizardRestorePages::nextAllowed(int) {
    return true;
}

void WizardRestorePages::pageShown(int) {}

void WizardRestorePages::pageHidden(int) {}

}  // namespace qb::ui
