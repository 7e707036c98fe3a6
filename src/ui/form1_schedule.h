// The Schedule tab: scheduled clients, their identities and items, interval, start, folder.
#pragma once

#include <QObject>

class QWidget;

namespace qb::ui {

class Form1;

class ScheduleTab : public QObject {
    Q_OBJECT
  public:
    // Builds the content on `panel` (the page's background panel).
    ScheduleTab(Form1& form, QWidget* panel);

    void formCreate() {}
    void applySettings() {}
    void formShow() {}
    void formClose() {}

  private:
    Form1& form_;
    QWidget* panel_;
};

}  // namespace qb::ui
