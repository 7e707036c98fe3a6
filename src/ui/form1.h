// The main window: banner, the standard-mode tab set (Backup, Restore, Schedule,
// Options), the wizard's page set in the same place, and the bottom bar (About,
// Web, Help, Exit). It owns the settings in memory (app::settings()), the window
// translation (LngP), the message texts (LngM) and the tray icon (Tray1).
//
// Extension points for the tabs and windows built in other files:
//
// * Each tab's content is built by its own class in its own file pair, owned by
//   Form1 and created in the constructor on the tab's background panel:
//     BackupTab    form1_backup.h/.cpp    on Panel1 in TabSheet1 "Backup"
//     RestoreTab   form1_restore.h/.cpp   on Panel2 in TabSheet2 "Restore"
//     ScheduleTab  form1_schedule.h/.cpp  on Panel4 in TabSheet4 "Schedule"
//     OptionsTab   form1_options.h/.cpp   on Panel3 in TabSheet3 "Options"
//     WizardPages  form1_wizard.h/.cpp    fills PageControl2 (tab bar hidden)
//   The sheet names are those of the language file: "Schedule" is TabSheet4 and
//   "Options" TabSheet3, although Schedule comes third. Each class is a QObject
//   whose slots carry the handler names (Button2Click, TabSheet4Show, ...). Every
//   widget a language file may name gets that name as its object name
//   (setObjectName("Button2")); widgets are children of the panel, so the
//   translation finds them below Form1.
// * The hooks each tab class provides (empty where a tab needs nothing):
//     formCreate()    FormCreate, after the settings are loaded and applied
//     applySettings() ApplyLanguageAndSettings, after the language is applied:
//                     put the settings in memory into the tab's controls
//     formShow()      FormShow, after ApplyLanguageAndSettings
//     formClose()     FormClose, before the window and folder settings are saved:
//                     copy the controls' values into the settings in memory
// * Other windows (TForm2, TForm3, Tpasswordform1, TForm5, the about window TForm4)
//   are created by CreateWindows (windows.h) in start-up order, the main window
//   first; each is a QDialog whose object name is its language-file section
//   ("Form2", "Form3", "passwordform1", "Form5", "Form4"), and reached through
//   windows() from anywhere in the program.
// * Texts from the language file: ReapplyLanguage() applies the current file to
//   every window created by CreateWindows (TLngINISupp::Apply matches the window's
//   object name with the section and each child's object name with the key). A
//   window that sets texts itself after translation does so in its showEvent.
#pragma once

#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "support/msg_texts.h"
#include "ui/lng_ini_supp.h"

class QLabel;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QFrame;

namespace qb::ui {

class BackupTab;
class RestoreTab;
class ScheduleTab;
class OptionsTab;
class WizardPages;
class TIconTaskBar;

class Form1 : public QWidget {
    Q_OBJECT
  public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up of the window (the creation handler): settings, language, job
    // module, placement, "LastClient". False when the archive library is missing
    // (the program must end after its message).
    // `archiveLoaded` when a command-line run has already started the program.
    bool FormCreate(std::optional<bool> archiveLoaded = std::nullopt);

    // The language file in LngP/LngM and the Schedule and Backup controls.
    void ApplyLanguageAndSettings();
    // Applies the current LanguageName again to every window.
    void ReapplyLanguage();
    // The values "X" to "BackupInterval", with the window's position.
    void SaveWindowAndFolderSettings();

    // Whether the windows set their own English texts over the language file's
    // (the save button's "Save changes!", "backups.", ...): with the English
    // file only, so another language's texts stand.
    static bool builtInTexts();

    // Which of the two page sets fills the middle of the window.
    void ShowStandardMode();
    void ShowWizardMode();
    bool wizardMode() const;

    // Opens the project's manual in the default browser. False when it cannot.
    bool OpenManual();
    // The manual's index.html beside the program or in the installation; empty
    // when there is none.
    static QString manualPath();
    // Fixes the window's size: the designed size grown with the font and texts.
    void fitSize();

    // The parts, for the tab classes and the other windows.
    QTabWidget* PageControl1() const { return pageControl1_; }
    QTabWidget* PageControl2() const { return pageControl2_; }
    QWidget* tabPanel(int sheet) const;  // Panel of TabSheet1..4
    BackupTab& backupTab() const { return *backupTab_; }
    RestoreTab& restoreTab() const { return *restoreTab_; }
    ScheduleTab& scheduleTab() const { return *scheduleTab_; }
    OptionsTab& optionsTab() const { return *optionsTab_; }
    WizardPages& wizardPages() const { return *wizardPages_; }
    TLngINISupp& LngP() { return lngP_; }
    TMsgINISupp& LngM() { return lngM_; }
    TIconTaskBar& Tray1() const { return *tray1_; }

    // The backup file that "/o" asked the window to open (the wizard's restore page).
    std::string openBackupFile;

  public slots:
    void FormShow();
    void Image1Click();    // banner: the product's page
    void Button11Click();  // About
    void Button10Click();  // Web
    void Button9Click();   // Help
    void Button8Click();   // Exit
    void Button42Click();  // Wizard: the wizard's welcome page

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildFrame();
    void placeWindow();

    QLabel* image1_ = nullptr;
    QStackedWidget* modes_ = nullptr;
    QTabWidget* pageControl1_ = nullptr;
    QTabWidget* pageControl2_ = nullptr;
    QWidget* panel6_ = nullptr;  // the wizard: PageControl2 and the Back/Next bar
    QWidget* panel7_ = nullptr;  // the Back/Next bar
    QWidget* panels_[5] = {};
    QFrame* panel5_ = nullptr;
    QPushButton* button11_ = nullptr;
    QPushButton* button10_ = nullptr;
    QPushButton* button9_ = nullptr;
    QPushButton* button8_ = nullptr;
    QPushButton* button42_ = nullptr;

    TLngINISupp lngP_;
    TMsgINISupp lngM_;
    std::unique_ptr<TIconTaskBar> tray1_;
    std::unique_ptr<BackupTab> backupTab_;
    std::unique_ptr<RestoreTab> restoreTab_;
    std::unique_ptr<ScheduleTab> scheduleTab_;
    std::unique_ptr<OptionsTab> optionsTab_;
    std::unique_ptr<WizardPages> wizardPages_;
    bool created_ = false;
};

}  // namespace qb::ui
