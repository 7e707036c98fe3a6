// The wizard: pages of one backup and one restore in PageControl2, moved by Next and Back.
#pragma once

#include <QObject>

class QWidget;

namespace qb::ui {

class Form1;

class WizardPages : public QObject {
    Q_OBJECT
  public:
    // Builds the pages into `panel` (PageControl2, a QTabWidget with its tab bar hidden).
    WizardPages(Form1& form, QWidget* panel);

    void formCreate() {}
    void applySettings() {}
    void formShow() {}
    void formClose() {}

  private:
    Form1& form_;
    QWidget* panel_;
};

}  // namespace qb::ui
