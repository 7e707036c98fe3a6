// The main window's everyday tabs: "Backup" (a client, its identities and items and
// a backup file, then the backup in its progress window) and "Restore" (a backup
// file picked on the machine's drives, what it holds, then the restore into the
// client or into a folder in the restore window).
#pragma once

#include <QWidget>

#include <functional>
#include <string>

#include "catalog/client_kind.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace qb::ui {

class MachineTree;
class TForm2;
class TForm3;

// What the tabs need of the main window.
struct StandardModeHost {
    QWidget* mainWindow = nullptr;
    TForm2* backupWindow = nullptr;
    TForm3* restoreWindow = nullptr;
    // Writes the window position and the folders (before every backup); empty: the
    // settings store's own save of the settings in memory.
    std::function<void()> saveWindowAndFolderSettings;
};

// The Backup tab's panel.
class BackupPage : public QWidget {
    Q_OBJECT
  public:
    BackupPage(const StandardModeHost& host, QWidget* parent = nullptr);

    // The Restore tab's tree, whose selected folder becomes the restore folder when a
    // client is chosen.
    void setRestoreTree(const MachineTree* tree) { restoreTree_ = tree; }

    // Selects the entry of `kind` and lists its identities and items, as a click does;
    // false when the tree has no such entry.
    bool selectClient(ClientKind kind);

    ClientKind currentClient() const { return currentClient_; }
    const std::string& backupFilePath() const { return backupFilePath_; }

    QLabel* Label1 = nullptr;  // "Data to backup"
    QTreeWidget* TreeView1 = nullptr;
    QLabel* Label2 = nullptr;  // "Identities"
    QListWidget* CheckListBox1 = nullptr;
    QLabel* Label3 = nullptr;  // "Items"
    QListWidget* CheckListBox2 = nullptr;
    QGroupBox* GroupBox5 = nullptr;  // "Backup Location"
    QLabel* Label4 = nullptr;        // "Save backup file to:"
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button3 = nullptr;  // "Browse"
    QLabel* Label19 = nullptr;       // "The Email Client is not Installed!"
    QPushButton* Button2 = nullptr;  // "Create BackUp!"

  public slots:
    void TabSheet1Show();
    void TreeView1Click();
    void Edit1Change();
    void Edit1Exit();
    void Button3Click();
    void Button2Click();

  private:
    StandardModeHost host_;
    const MachineTree* restoreTree_ = nullptr;
    ClientKind currentClient_ = kind::None;
    std::string backupFilePath_;
};

// The Restore tab's panel.
class RestorePage : public QWidget {
    Q_OBJECT
  public:
    RestorePage(const StandardModeHost& host, QWidget* parent = nullptr);

    const std::string& restoreFilePath() const { return restoreFilePath_; }
    ClientKind restoreClient() const { return restoreClient_; }

    QLabel* Label18 = nullptr;  // "Please select the backup file"
    MachineTree* ShellTreeView1 = nullptr;
    QLabel* Label5 = nullptr;  // "Identities"
    QListWidget* CheckListBox3 = nullptr;
    QLabel* Label6 = nullptr;  // "Items"
    QListWidget* CheckListBox4 = nullptr;
    QGroupBox* GroupBox1 = nullptr;  // " Restore Location "
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* Button4 = nullptr;  // "Browse"
    QPushButton* Button5 = nullptr;  // "Restore"

  public slots:
    void TabSheet2Show();
    void ShellTreeView1Click();
    void RadioButton1Click();
    void RadioButton2Click();
    void Edit2Change();
    void Button4Click();
    void Button5Click();

  private:
    void enableFolder(bool on);

    StandardModeHost host_;
    std::string restoreFilePath_;
    ClientKind restoreClient_ = kind::None;
};

}  // namespace qb::ui
