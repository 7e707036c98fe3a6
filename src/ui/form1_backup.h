// The Backup tab: the client tree, the identity and item check lists of the chosen
// client, the backup file, and "Create BackUp!" with its checks, which runs the
// backup in the backup progress window.
#pragma once

#include <QObject>

#include <string>

#include "catalog/client_kind.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QWidget;

namespace qb::ui {

class Form1;

class BackupTab : public QObject {
    Q_OBJECT
  public:
    // Builds the content on `panel` (the page's background panel).
    BackupTab(Form1& form, QWidget* panel);

    void formCreate() {}
    // The backup folder into the file field.
    void applySettings();
    // The client tree with the machine's versions, and the last client chosen.
    void formShow();
    // The check marks of the last client into the settings store.
    void formClose();

    // Selects the entry of `kind` and lists its identities and items, as a click does;
    // false when the tree has no such entry.
    bool selectClient(ClientKind kind);
    // "LastClient": the client and its check marks of the last run; and saving them.
    void RestoreLastClient();
    void SaveLastClient();

    ClientKind currentClient() const { return currentClient_; }
    const std::string& backupFilePath() const { return backupFilePath_; }

    QLabel* Label1 = nullptr;  // "Data to backup"
    QTreeWidget* TreeView1 = nullptr;
    QLabel* Label2 = nullptr;  // "Identities"
    QListWidget* CheckListBox1 = nullptr;
    QLabel* Label3 = nullptr;  // "Items"
    QListWidget* CheckListBox2 = nullptr;
    QGroupBox* GroupBox20 = nullptr;  // "Backup Location"
    QLabel* Label4 = nullptr;         // "Save backup file to:"
    QLineEdit* Edit20 = nullptr;
    QPushButton* Button3 = nullptr;  // "Browse"
    QLabel* Label20 = nullptr;       // "The Email Client is not Installed!"
    QPushButton* Button2 = nullptr;  // "Create BackUp!"

  public slots:
    void TabSheet1Show();
    void TreeView1Click();
    void Edit20Change();
    void Edit20Exit();
    void Button3Click();
    void Button2Click();

  private:
    void listClient(ClientKind kind);

    Form1& form_;
    QWidget* panel_;
    ClientKind currentClient_ = kind::None;
    std::string backupFilePath_;
};

}  // namespace qb::ui
