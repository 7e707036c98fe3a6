// The wizard's pages 7 to 12: the restore. Page 7 chooses the backup file in a
// folder tree of the machine and a list of its folders and backup files, page 8
// what of it to restore (after its password when it is protected), page 9 where
// to, page 10 checks that the client does not run, page 11 runs the restore and
// page 12 tells how it went.
#pragma once

#include <QObject>

#include <string>

#include "jobs/job_progress.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace qb::ui {

class MachineTree;
class WizardPages;

class WizardRestorePages : public QObject, private jobs::JobProgress {
    Q_OBJECT
  public:
    // Builds the content of its pages below their headings (wizard.body(i)).
    explicit WizardRestorePages(WizardPages& wizard);

    // Next on one of its pages: the page's checks; false keeps the page.
    bool nextAllowed(int page);
    // A page of its own was shown or left.
    void pageShown(int page);
    void pageHidden(int page);

    void formCreate() {}
    void applySettings();
    void formShow() {}
    void formClose() {}

    // How the last restore of page 11 went.
    enum class Outcome { None, Done, Aborted, Failed };
    Outcome outcome() const { return outcome_; }
    // The backup made of the client's data before a direct restore; "" when none.
    const std::string& undoFile() const { return undoFile_; }

    // Page 7: the machine's folders and, of the folder chosen there, its folders
    // and backup files.
    MachineTree* TreeView200 = nullptr;
    QTreeWidget* ListView200 = nullptr;
    QTimer* Timer200 = nullptr;  // the list's column widths, 200 ms after showing
    // Page 8.
    QLabel* Label200 = nullptr;  // "Identities:"
    QListWidget* CheckListBox200 = nullptr;
    QLabel* Label201 = nullptr;  // "Items in main identity"
    QListWidget* CheckListBox201 = nullptr;
    // Page 9.
    QRadioButton* RadioButton200 = nullptr;  // into the client
    QRadioButton* RadioButton201 = nullptr;  // into a folder
    QLineEdit* Edit200 = nullptr;
    QPushButton* Button200 = nullptr;  // "Browse..."
    // Page 10.
    QLabel* Label202 = nullptr;
    QLabel* Label203 = nullptr;
    // Page 11.
    QLabel* Label204 = nullptr;
    QLabel* Label205 = nullptr;  // the backup file
    QProgressBar* ProgressBar200 = nullptr;
    // Page 12.
    QLabel* Label206 = nullptr;
    QLabel* Label207 = nullptr;  // the undo backup

  public slots:
    void TabSheet12Show();
    void TabSheet12Hide();
    void TabSheet13Show();
    void TabSheet14Show();
    void TabSheet16Show();
    void TabSheet17Show();
    void TreeView200Change();
    void ListView200Click();
    void ListView200DblClick(QTreeWidgetItem* item);
    void Timer200Timer();
    void RadioButton200Click();
    void RadioButton201Click();
    void Button200Click();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildChooseFile();
    void buildItems();
    void buildWhere();
    void buildReady();
    void buildRestoring();
    void buildDone();
    void fillFileList();
    void setColumnWidths(int a, int b, int c, int d);
    // Lists what the backup WizardFilePath holds into the two check lists; false
    // when it is not a backup that can be read (the wizard went back to page 7).
    bool listBackup();
    void enableFolder(bool on);
    bool folderRefused();
    void progress(int overall, int item, std::string_view label) override;

    WizardPages& wizard_;
    Outcome outcome_ = Outcome::None;
    std::string errorText_;
    std::string undoFile_;
    std::string targetFolder_;  // of the last restore into a folder
    bool running_ = false;
};

}  // namespace qb::ui
