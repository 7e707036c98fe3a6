// The wizard's pages 7 to 12: the restore.
#pragma once

#include <QObject>

namespace qb::ui {

class WizardPages;

class WizardRestorePages : public QObject {
    Q_OBJECT
  public:
    // Builds the content of its pages below their headings (wizard.body(i)).
    explicit WizardRestorePages(WizardPages& wizard);

    // Next on one of its pages: the page's checks; false keeps the page.
    bool nextAllowed(int page);
    // A page of its own was shown or left.
    void pageShown(int page);
    void pageHidden(int page);

    void formCreate() {}
    void applySettings() {}
    void formShow() {}
    void formClose() {}

  private:
    WizardPages& wizard_;
};

}  // namespace qb::ui
