// The main window's "Schedule" tab: which clients the scheduled backups take,
// with which identities and items, how often, from when, into which folder, and
// the switch that registers and starts the scheduler.
//
// The schedule tree's icons are its check marks: a click on an entry's icon
// schedules or unschedules the client, a click on its label only selects it and
// shows its identities and items. Space does the same as a click on the icon.
//
// The page stores its entries itself when it is shown and hidden (a change of
// tab, or the window closing): the host only shows it inside the tab set and
// calls ShowScheduleSettings whenever the settings are (re)applied.
#pragma once

#include <QIcon>
#include <QTreeWidget>
#include <QWidget>

#include <functional>
#include <string>

#include "catalog/client_kind.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimeEdit;

namespace qb::ui {

// The images of the schedule tree's entries.
enum ScheduleImage : int { kImageNone = -1, kImageOff = 0, kImageOn = 1, kImageHeading = 2 };

// The schedule tree: entries carry a client code and an image; a press and a
// release are told with the position, so that the page can tell the icon from the
// label.
class ScheduleTree : public QTreeWidget {
    Q_OBJECT
  public:
    explicit ScheduleTree(QWidget* parent = nullptr);

    static ClientKind codeOf(const QTreeWidgetItem* item);
    static int imageOf(const QTreeWidgetItem* item);
    // Sets the image (and the matching icon and accessible description).
    void setImage(QTreeWidgetItem* item, int image);
    // The icon of `item` in viewport coordinates; empty when it has none.
    QRect iconRect(const QTreeWidgetItem* item);
    // Whether `pos` (viewport coordinates) lies on the icon of `item`.
    bool onIcon(const QTreeWidgetItem* item, const QPoint& pos);

  signals:
    void pressed(const QPoint& pos);
    void released(const QPoint& pos);
    void spacePressed();

  protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    QIcon images_[3];
    QIcon blank_;
};

// The tab's background panel with its controls.
class SchedulePage : public QWidget {
    Q_OBJECT
  public:
    explicit SchedulePage(QWidget* parent = nullptr);

    // The entries of the tree, as the client tree has them: the heading with the
    // clients below it, a client with one installed version carrying its code, one
    // with several a child per version (and no image of its own).
    void FillScheduleTree();
    // Puts the schedule settings in memory into the controls; a change of the
    // switch runs its action, so a start with scheduled backups on registers and,
    // when needed, starts the scheduler.
    void ShowScheduleSettings();

    ClientKind scheduleClient() const { return scheduleClient_; }

    // Picks a folder (a Windows path) starting at `start`; empty when cancelled.
    // Replaceable for tests; the default is the desktop's folder dialog.
    std::function<std::string(const std::string& start)> browseFolder;

    QCheckBox* CheckBox3 = nullptr;  // "Enable Scheduled Backups"
    QLabel* Label8 = nullptr;        // "Data to Backup"
    ScheduleTree* TreeView2 = nullptr;
    QLabel* Label13 = nullptr;  // "Identities"
    QListWidget* CheckListBox5 = nullptr;
    QLabel* Label9 = nullptr;  // "Items"
    QListWidget* CheckListBox6 = nullptr;
    QLabel* Label10 = nullptr;  // "Back Up data every"
    QLineEdit* Edit3 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QLabel* Label11 = nullptr;  // "Backup start day:"
    QDateEdit* DateTimePicker1 = nullptr;
    QLabel* Label12 = nullptr;  // "Backup time:"
    QTimeEdit* DateTimePicker2 = nullptr;
    QLabel* Label14 = nullptr;  // "Backups Folder"
    QLineEdit* Edit4 = nullptr;
    QPushButton* Button6 = nullptr;  // "Browse"

  public slots:
    void TabSheet4Show();
    void TabSheet4Hide();
    void CheckBox3Click(bool checked);
    void TreeView2MouseDown();
    void TreeView2MouseUp(const QPoint& pos);
    void TreeView2Exit();
    void CheckListBox5Exit();
    void CheckListBox6Exit();
    void Edit3Change(const QString& text);
    void Edit3Exit();
    void ComboBox2Change(int index);
    void DateTimePicker1Change();
    void DateTimePicker2Change();
    void Edit4Change(const QString& text);
    void Button6Click();

  protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void saveChoices();
    // Clears the lists and shows the choices of the selected entry.
    void selectEntry(QTreeWidgetItem* item);
    void toggle(QTreeWidgetItem* item);

    ClientKind scheduleClient_ = kind::None;
    bool treeMouseDown_ = false;
    bool shown_ = false;
};

}  // namespace qb::ui
