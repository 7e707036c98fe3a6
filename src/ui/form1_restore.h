// The Restore tab: backup file tree, identities and items, restore location, "Restore".
#pragma once

#include <QObject>

class QWidget;

namespace qb::ui {

class Form1;

class RestoreTab : public QObject {
    Q_OBJECT
  public:
    // Builds the content on `panel` (the page's background panel).
    RestoreTab(Form1& form, QWidget* panel);

    void formCreate() {}
    void applySettings() {}
    void formShow() {}
    void formClose() {}

  private:
    Form1& form_;
    QWidget* panel_;
};

}  // namespace qb::ui
