// The Backup tab: client tree, identity and item lists, backup file, "Create Backup!".
#pragma once

#include <QObject>

class QWidget;

namespace qb::ui {

class Form1;

class BackupTab : public QObject {
    Q_OBJECT
  public:
    // Builds the content on `panel` (the page's background panel).
    BackupTab(Form1& form, QWidget* panel);

    void formCreate() {}
    void applySettings() {}
    void formShow() {}
    void formClose() {}

  private:
    Form1& form_;
    QWidget* panel_;
};

}  // namespace qb::ui
