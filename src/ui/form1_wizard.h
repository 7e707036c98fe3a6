// The wizard: pages of one backup and one restore in PageControl2, moved by Next and
// Back. This class is the frame: the thirteen pages with their headings, the Next and
// Back buttons below them, the page show and hide events and the wizard's state. The
// content of the pages and their checks belong to two halves, each in its own file:
//   WizardBackupPages   form1_wizard_backup.h/.cpp   pages 0 to 6 (welcome, backup)
//   WizardRestorePages  form1_wizard_restore.h/.cpp  pages 7 to 12 (restore)
#pragma once

#include <QObject>
#include <memory>
#include <string>

class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace qb::ui {

class Form1;
class WizardBackupPages;
class WizardRestorePages;

class WizardPages : public QObject {
    Q_OBJECT
  public:
    static constexpr int kPageCount = 13;
    enum Page {
        Welcome = 0,
        ChooseClient = 1,
        BackupItems = 2,
        BackupFile = 3,
        ReadyToBackup = 4,
        BackingUp = 5,
        BackupDone = 6,
        ChooseBackupFile = 7,
        RestoreItems = 8,
        RestoreWhere = 9,
        ReadyToRestore = 10,
        Restoring = 11,
        RestoreDone = 12,
    };

    // Builds the pages into `panel` (PageControl2, a QTabWidget with its tab bar
    // hidden); `nav` is the bar below it that receives the Back and Next buttons.
    WizardPages(Form1& form, QWidget* panel, QWidget* nav);
    ~WizardPages() override;

    void formCreate();
    void applySettings();
    void formShow();
    void formClose();

    Form1& form() const { return form_; }
    // The page widget (object name "TabSheet5" + index), its bold heading (a
    // QLabel, object name "Label" + (60 + index), empty on page 9) and the layout
    // below the heading where the page's content goes.
    QWidget* page(int index) const;
    QLabel* heading(int index) const;
    QVBoxLayout* body(int index) const;
    QPushButton* nextButton() const { return next_; }
    QPushButton* backButton() const { return back_; }
    WizardBackupPages& backupPages() const { return *backup_; }
    WizardRestorePages& restorePages() const { return *restore_; }

    int currentPage() const;
    // Shows a page: the hide event of the page shown before, then the page and its
    // show event. Also switches the main window to wizard mode.
    void showPage(int index);
    // Wizard mode on the restore page "Choose items to restore" for `file` ("/o").
    void openBackupFile(const std::string& file);

    // Wizard state shared by both halves.
    int WizardClient = 0;        // ClientKind of the wizard's job
    std::string WizardFilePath;  // backup file of the wizard's job
    bool GoingForward = false;
    bool GoingBack = false;
    // Whether a job runs inside a page's show event: Next and Back are disabled.
    void setJobRunning(bool running);

  public slots:
    void NextClick();
    void BackClick();

  private:
    void updateButtons();

    Form1& form_;
    QWidget* panel_;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QWidget* pages_[kPageCount] = {};
    QLabel* headings_[kPageCount] = {};
    QVBoxLayout* bodies_[kPageCount] = {};
    int shown_ = -1;
    bool jobRunning_ = false;
    std::unique_ptr<WizardBackupPages> backup_;
    std::unique_ptr<WizardRestorePages> restore_;
};

}  // namespace qb::ui
