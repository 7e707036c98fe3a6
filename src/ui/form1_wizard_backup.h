// The wizard's pages 0 to 6: the welcome page and the backup. The welcome page
// leads into the backup (page 1), the restore (page 7) or back to standard mode;
// pages 1 to 3 choose the client, its identities and items and the backup file,
// page 4 checks that the client does not run, page 5 runs the backup the command
// line runs, page 6 tells how it ended.
#pragma once

#include <QObject>

#include <string>
#include <string_view>

#include "app/backup_run.h"
#include "catalog/client_kind.h"
#include "jobs/job_progress.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace qb::ui {

class WizardPages;

class WizardBackupPages : public QObject, private jobs::JobProgress {
    Q_OBJECT
  public:
    static constexpr int kClients = 10;

    // Builds the content of its pages below their headings (wizard.body(i)).
    explicit WizardBackupPages(WizardPages& wizard);

    // Next on one of its pages: the page's checks; false keeps the page.
    bool nextAllowed(int page);
    // A page of its own was shown or left.
    void pageShown(int page);
    void pageHidden(int page);

    void formCreate() {}
    void applySettings() {}
    void formShow() {}
    void formClose() {}

    // The client code of each line of page 1 (left column first).
    static ClientKind clientOfLine(int line);
    // How the last backup of page 5 ended; nothing ran yet: Failed.
    const app::BackupReport& lastReport() const { return report_; }

    // Page 0.
    QLabel* Label100 = nullptr;        // the welcome text
    QLabel* Label101 = nullptr;        // "To begin, click a button below:"
    QPushButton* Button100 = nullptr;  // Backup
    QPushButton* Button101 = nullptr;  // Restore
    QPushButton* Button102 = nullptr;  // Schedule
    QPushButton* Button103 = nullptr;  // Options
    QPushButton* Button104 = nullptr;  // Standard Mode
    // Page 1: line i is RadioButton(100 + i) with Label(102 + i).
    QRadioButton* clientRadio[kClients] = {};
    QLabel* clientLabel[kClients] = {};
    // Page 2.
    QLabel* Label114 = nullptr;  // "Version:"
    QComboBox* ComboBox100 = nullptr;
    QLabel* Label112 = nullptr;  // "Identities:"
    QListWidget* CheckListBox100 = nullptr;
    QLabel* Label113 = nullptr;  // "Items in main identity"
    QListWidget* CheckListBox101 = nullptr;
    // Page 3.
    QLineEdit* Edit100 = nullptr;      // the backup file
    QPushButton* Button105 = nullptr;  // "Browse..."
    QGroupBox* GroupBox100 = nullptr;  // " Security "
    QCheckBox* CheckBox100 = nullptr;  // "Protect backup file with password"
    QLabel* Label115 = nullptr;        // "Password:"
    QLineEdit* Edit101 = nullptr;
    QLabel* Label116 = nullptr;  // "Retype password:"
    QLineEdit* Edit102 = nullptr;
    QGroupBox* GroupBox101 = nullptr;        // "Files"
    QRadioButton* RadioButton110 = nullptr;  // "One backup file"
    QRadioButton* RadioButton111 = nullptr;  // "Multiple files"
    QComboBox* ComboBox101 = nullptr;        // volume size
    // Page 4.
    QLabel* Label117 = nullptr;
    QLabel* Label118 = nullptr;
    // Page 5.
    QLabel* Label119 = nullptr;
    QLabel* Label120 = nullptr;              // the file path
    QProgressBar* ProgressBar100 = nullptr;  // the item
    QProgressBar* ProgressBar101 = nullptr;  // the whole backup
    // Page 6.
    QLabel* Label121 = nullptr;  // the outcome's text
    QFrame* Panel100 = nullptr;
    QLabel* Label122 = nullptr;        // the file path in the frame
    QPushButton* Button106 = nullptr;  // "Go to folder"
    QLabel* Label123 = nullptr;        // the note

  public slots:
    void Button100Click();
    void Button101Click();
    void Button102Click();
    void Button103Click();
    void Button104Click();
    void ClientClick(int line);
    void ComboBox100Change(int index);
    void Button105Click();
    void Edit100Exit();
    void CheckBox100Click();
    void Edit101Exit();
    void Edit102Exit();
    void RadioButton110Click();
    void RadioButton111Click();
    void ComboBox101Change(int index);
    void Button106Click();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildWelcome();
    void buildClients();
    void buildItems();
    void buildFile();
    void buildReady();
    void buildRunning();
    void buildDone();

    void showClients();
    void showItems();
    void listItems();
    void showFile();
    void runBackup();
    void showOutcome();
    bool fileAllowed();
    bool passwordAllowed();
    void progress(int overall, int item, std::string_view label) override;

    WizardPages& wizard_;
    app::BackupReport report_;
    bool ran_ = false;
};

}  // namespace qb::ui
