// The Restore tab: the machine's drives with their folders and files, what the
// chosen backup file holds, the restore location, and "Restore" with its checks,
// which runs the restore in the restore progress window.
#pragma once

#include <QObject>

#include <string>

#include "catalog/client_kind.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QWidget;

namespace qb::ui {

class Form1;
class MachineTree;

class RestoreTab : public QObject {
    Q_OBJECT
  public:
    // Builds the content on `panel` (the page's background panel).
    RestoreTab(Form1& form, QWidget* panel);

    void formCreate() {}
    void applySettings() {}
    void formShow() {}
    void formClose() {}

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
    QLineEdit* Edit21 = nullptr;
    QPushButton* Button4 = nullptr;  // "Browse"
    QPushButton* Button5 = nullptr;  // "Restore"

  public slots:
    void TabSheet2Show();
    void ShellTreeView1Click();
    void RadioButton1Click();
    void RadioButton2Click();
    void Edit21Change();
    void Button4Click();
    void Button5Click();

  private:
    void enableFolder(bool on);

    Form1& form_;
    QWidget* panel_;
    std::string restoreFilePath_;
    ClientKind restoreClient_ = kind::None;
};

}  // namespace qb::ui
