// The Schedule tab: scheduled clients, their identities and items, interval, start, folder.
#pragma once

#include <QObject>

class QWidget;

namespace qb::ui {

class Form1;
class SchedulePage;

// Puts the schedule page (schedule_page.h) on the tab's panel and hands it the
// main window's moments.
class ScheduleTab : public QObject {
    Q_OBJECT
  public:
    // Builds the content on `panel` (the page's background panel).
    ScheduleTab(Form1& form, QWidget* panel);

    void formCreate() {}
    // The schedule settings into the controls; the switch's action runs when its
    // state changes, so a start with scheduled backups on starts the scheduler.
    void applySettings();
    // The tree's entries for the clients installed now.
    void formShow();
    // The controls keep the settings in memory up to date as they change.
    void formClose() {}

    SchedulePage& page() const { return *page_; }

  private:
    Form1& form_;
    SchedulePage* page_;
};

}  // namespace qb::ui
