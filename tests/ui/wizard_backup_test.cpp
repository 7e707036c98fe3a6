// The wizard's welcome page and backup pages driven through their widgets on fake
// machines with every client adapter, against what the quillbox program itself
// makes of the same machine.
#include <unistd.h>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <map>

#include "app/settings.h"
#include "catalog/backup_name.h"
#include "catalog/kinds.h"
#include "platform/registry.h"
#include "support/child_process.h"
#include "testkit/zip_check.h"
#include "ui/form1.h"
#include "ui/form1_wizard.h"
#include "ui/form1_wizard_backup.h"
#include "ui/tform5.h"
#include "ui/window_support.h"
#include "ui/windows.h"
#include "ui_fixture.h"
#include "ui_test_support.h"

namespace qb::test {
namespace {

using ui::WizardBackupPages;
using ui::WizardPages;

// The line of page 1 of a client family.
int lineOf(ClientKind family) {
    for (int i = 0; i < WizardBackupPages::kClients; ++i)
        if (WizardBackupPages::clientOfLine(i) == family) return i;
    return -1;
}

// Every file below a host folder by relative name, with its content.
std::map<std::string, std::string> contentsBelow(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const std::string& name : treeOf(root, false))
        out[name] = readHostFile(root / name);
    return out;
}

int shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

// The main window on the wizard's welcome page, reached by its "Wizard" button.
class WizardBackup : public WindowTest {
  protected:
    void openWizard() {
        openMainWindow([](app::Settings& s) { s.backupFolder = "C:\\Backups\\Wizard\\"; });
        wizard = &form->wizardPages();
        pages = &wizard->backupPages();
        click(child<QPushButton>(*form, "Button42"));
        ASSERT_TRUE(form->wizardMode());
        ASSERT_EQ(wizard->currentPage(), WizardPages::Welcome);
    }
    // Next, and the page shown after it.
    int next() {
        click(wizard->nextButton());
        return wizard->currentPage();
    }
    int back() {
        click(wizard->backButton());
        return wizard->currentPage();
    }
    void chooseClient(ClientKind family) {
        QLabel* label = pages->clientLabel[lineOf(family)];
        QTest::mouseClick(label, Qt::LeftButton);
        ASSERT_TRUE(pages->clientRadio[lineOf(family)]->isChecked());
    }
    // Leaves a field as the keyboard does.
    static void leave(QLineEdit* field) { QTest::keyClick(field, Qt::Key_Return); }
    static void type(QLineEdit* field, const std::string& text) {
        field->clear();
        QTest::keyClicks(field, QString::fromStdString(text));
    }
    std::vector<std::string> shownBoxes() {
        std::vector<std::string> out;
        for (const auto& b : boxes.boxes)
            out.push_back(b.text);
        boxes.boxes.clear();
        return out;
    }

    WizardPages* wizard = nullptr;
    WizardBackupPages* pages = nullptr;
};

// The whole backup path: the welcome page's "Backup", the client page with the
// clients the machine lacks in grey and the default mail client chosen, the
// lists, the file, the run with Next and Back held while it goes, and the outcome
// with the file the command line makes.
TEST_F(WizardBackup, ABackupWalkedThroughThePagesIsTheFileTheCommandLineMakes) {
    installOutlookExpress(source);
    installEudora(source);
    setDefaultMailClient("Eudora");
    openWizard();
    EXPECT_FALSE(wizard->nextButton()->isVisible());
    click(pages->Button100);
    ASSERT_EQ(wizard->currentPage(), WizardPages::ChooseClient);
    EXPECT_TRUE(wizard->nextButton()->isVisible());
    EXPECT_EQ(wizard->WizardClient, kind::Eudora);
    EXPECT_TRUE(pages->clientRadio[lineOf(kind::Eudora)]->isChecked());
    const QColor grey(128, 128, 128);
    for (int i = 0; i < WizardBackupPages::kClients; ++i) {
        const ClientKind code = WizardBackupPages::clientOfLine(i);
        const bool installed = code == kind::OutlookExpress || code == kind::Eudora;
        EXPECT_EQ(pages->clientLabel[i]->palette().color(QPalette::WindowText) == grey, !installed)
            << pages->clientLabel[i]->text().toStdString();
    }
    chooseClient(kind::OutlookExpress);
    EXPECT_EQ(wizard->WizardClient, kind::OutlookExpress);
    EXPECT_FALSE(pages->clientRadio[lineOf(kind::Eudora)]->isChecked());

    ASSERT_EQ(next(), WizardPages::BackupItems);
    EXPECT_FALSE(pages->ComboBox100->isVisible());
    EXPECT_EQ(lines(pages->CheckListBox100, true),
              (std::vector<std::string>{"Main Identity", "Ann"}));
    EXPECT_EQ(lines(pages->CheckListBox101, true).size(), 6u);

    ASSERT_EQ(next(), WizardPages::BackupFile);
    const std::string path = pages->Edit100->text().toStdString();
    EXPECT_EQ(path, "C:\\Backups\\Wizard\\" + DefaultBackupFileName(kind::OutlookExpress));
    EXPECT_FALSE(pages->Edit101->isEnabled());
    EXPECT_TRUE(pages->RadioButton110->isChecked());
    EXPECT_FALSE(pages->ComboBox101->isEnabled());

    ASSERT_EQ(next(), WizardPages::ReadyToBackup);
    EXPECT_EQ(wizard->WizardFilePath, path);
    EXPECT_EQ(app::settings().backupFolder, "C:\\Backups\\Wizard\\");

    // Next runs the backup; while it runs the page is shown and both buttons rest.
    int reports = 0;
    bool heldWhileRunning = true;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (wizard->currentPage() != WizardPages::BackingUp) return;
        if (pages->ProgressBar101->value() == 100) return;
        ++reports;
        heldWhileRunning = heldWhileRunning && !wizard->nextButton()->isEnabled() &&
                           !wizard->backButton()->isEnabled();
    });
    watch.start();
    ASSERT_EQ(next(), WizardPages::BackingUp);
    watch.stop();
    EXPECT_GT(reports, 0);
    EXPECT_TRUE(heldWhileRunning);
    EXPECT_EQ(pages->ProgressBar100->value(), 100);
    EXPECT_EQ(pages->ProgressBar101->value(), 100);
    EXPECT_EQ(pages->Label120->text().toStdString(), path);
    EXPECT_TRUE(wizard->nextButton()->isEnabled());
    EXPECT_TRUE(shownBoxes().empty());

    ASSERT_EQ(next(), WizardPages::BackupDone);
    EXPECT_EQ(wizard->heading(WizardPages::BackupDone)->text(), "Backup successfully completed.");
    EXPECT_EQ(pages->Label121->text(), "Your email data has been saved in the backup file below.");
    EXPECT_NE(wizard->heading(WizardPages::BackupDone)->palette().color(QPalette::WindowText),
              QColor(Qt::red));
    EXPECT_EQ(pages->Label122->text().toStdString(), path);
    std::string opened;
    ui::FolderOpener previous = ui::folderOpener();
    ui::folderOpener() = [&](const std::string& folder) {
        opened = folder;
        return true;
    };
    click(pages->Button106);
    ui::folderOpener() = previous;
    EXPECT_EQ(opened, "C:\\Backups\\Wizard\\");

    // Back from the outcome shows the finished run again; it does not run twice.
    ASSERT_EQ(back(), WizardPages::BackingUp);
    EXPECT_EQ(pages->ProgressBar101->value(), 100);

    const std::string byProgram = backupThroughProgram(source, "oexpress", "OExpressBackup ");
    ASSERT_FALSE(byProgram.empty());
    const StoredFiles wizardFile = stored(path);
    const StoredFiles programFile = stored(byProgram);
    ASSERT_TRUE(wizardFile.ok) << wizardFile.error;
    EXPECT_EQ(wizardFile.everyName(), programFile.everyName());
    EXPECT_EQ(wizardFile.files, programFile.files);
}

// A password given on page 3 protects the backup: its entries are AES (AE-2, no
// CRC), it opens with that password only and holds what the command line backs
// up; the password is nowhere on the machine afterwards.
TEST_F(WizardBackup, APasswordOnTheFilePageProtectsTheBackup) {
    const std::string password = "Sesame, open 42";
    installOutlookExpress(source);
    setDefaultMailClient("Outlook Express");
    openWizard();
    click(pages->Button100);
    ASSERT_EQ(next(), WizardPages::BackupItems);
    ASSERT_EQ(next(), WizardPages::BackupFile);
    const std::string path = "C:\\Backups\\Locked.ebk";
    type(pages->Edit100, path);
    click(pages->CheckBox100);
    EXPECT_TRUE(pages->Edit101->isEnabled());
    EXPECT_EQ(pages->Edit101->echoMode(), QLineEdit::Password);

    // The second field differs when it is left: said, emptied, the first selected.
    type(pages->Edit101, password);
    type(pages->Edit102, "Sesame, open 24");
    leave(pages->Edit102);
    EXPECT_EQ(shownBoxes(), (std::vector<std::string>{"Incorect password!"}));
    EXPECT_TRUE(pages->Edit102->text().isEmpty());
    EXPECT_EQ(pages->Edit101->selectedText().toStdString(), password);
    // Still different at Next: the page stays.
    EXPECT_EQ(next(), WizardPages::BackupFile);
    EXPECT_EQ(shownBoxes(), (std::vector<std::string>{"Incorect password!"}));
    // Too short for a new backup.
    type(pages->Edit101, "abcd");
    type(pages->Edit102, "abcd");
    leave(pages->Edit102);
    EXPECT_EQ(next(), WizardPages::BackupFile);
    EXPECT_EQ(shownBoxes(),
              (std::vector<std::string>{"The password must be at least 5 characters long"}));

    type(pages->Edit101, password);
    type(pages->Edit102, password);
    leave(pages->Edit102);
    ASSERT_EQ(next(), WizardPages::ReadyToBackup);
    ASSERT_EQ(next(), WizardPages::BackingUp);
    ASSERT_EQ(next(), WizardPages::BackupDone);
    ASSERT_EQ(wizard->heading(WizardPages::BackupDone)->text(), "Backup successfully completed.")
        << pages->Label121->text().toStdString();
    EXPECT_TRUE(shownBoxes().empty());
    // Held for the run only.
    EXPECT_TRUE(jobs::archiveJob().password.empty());
    EXPECT_TRUE(pages->Edit101->text().isEmpty());

    const fs::path host = source.host(path);
    const std::vector<StoredEntry> entries = checkAe2(readHostFile(host));
    EXPECT_GE(entries.size(), 10u);
    EXPECT_NE(shell("7z t -pwrong '" + host.string() + "'"), 0);
    TempDir laidOut;
    ASSERT_EQ(shell("7z x '-p" + password + "' '-o" + laidOut.path().string() + "' '" +
                    host.string() + "'"),
              0);
    const std::string byProgram = backupThroughProgram(source, "oexpress", "OExpressBackup ");
    ASSERT_FALSE(byProgram.empty());
    EXPECT_EQ(contentsBelow(laidOut.path()), stored(byProgram).files);

    expectNowhereOn(source, password);
}

// Each refused Next keeps its page; going back shows every choice as it was left;
// the file field's folder rule; the welcome page's ways out of the wizard.
TEST_F(WizardBackup, RefusedNextStaysAndGoingBackKeepsTheChoices) {
    installOutlookExpress(source);
    installOutlook(source);
    setDefaultMailClient("Outlook Express");
    openWizard();
    // D: a CD drive of the machine.
    addCdDrive();

    click(pages->Button100);
    ASSERT_EQ(wizard->currentPage(), WizardPages::ChooseClient);
    ASSERT_EQ(next(), WizardPages::BackupItems);
    for (int i = 0; i < pages->CheckListBox100->count(); ++i)
        pages->CheckListBox100->item(i)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(next(), WizardPages::BackupItems);
    EXPECT_EQ(shownBoxes(), (std::vector<std::string>{"Select at least one identity!"}));
    pages->CheckListBox100->item(1)->setCheckState(Qt::Checked);  // Ann
    for (int i = 0; i < pages->CheckListBox101->count(); ++i)
        pages->CheckListBox101->item(i)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(next(), WizardPages::BackupItems);
    EXPECT_EQ(shownBoxes(), (std::vector<std::string>{"Select at least one item!"}));
    pages->CheckListBox101->item(2)->setCheckState(Qt::Checked);
    const std::vector<std::string> items = lines(pages->CheckListBox101, true);
    ASSERT_EQ(next(), WizardPages::BackupFile);

    // A folder without extension takes the client's file name, with one "\".
    const std::string name = DefaultBackupFileName(kind::OutlookExpress);
    type(pages->Edit100, "C:\\Backups\\Mine");
    leave(pages->Edit100);
    EXPECT_EQ(pages->Edit100->text().toStdString(), "C:\\Backups\\Mine\\" + name);
    type(pages->Edit100, "C:\\Backups\\Mine\\");
    leave(pages->Edit100);
    EXPECT_EQ(pages->Edit100->text().toStdString(), "C:\\Backups\\Mine\\" + name);
    for (const auto& [field, message] : std::vector<std::pair<std::string, std::string>>{
             {"D:\\mail.ebk", "Drive is write protected!"},
             {"\\\\server\\share\\mail.ebk", "Disk is full. Replace or select other!"},
             {"mail.ebk", "Invalid directory!"}}) {
        type(pages->Edit100, field);
        EXPECT_EQ(next(), WizardPages::BackupFile) << field;
        EXPECT_EQ(shownBoxes(), (std::vector<std::string>{message}));
    }
    type(pages->Edit100, "C:\\Backups\\Mine\\kept.ebk");
    click(pages->RadioButton111);
    EXPECT_TRUE(pages->ComboBox101->isEnabled());
    EXPECT_TRUE(app::settings().multipleVolumes);
    pages->ComboBox101->setCurrentIndex(1);
    click(pages->CheckBox100);
    type(pages->Edit101, "secret1");
    type(pages->Edit102, "secret1");

    // Back and forth: the file page, the lists and the client as they were left.
    ASSERT_EQ(next(), WizardPages::ReadyToBackup);
    ASSERT_EQ(back(), WizardPages::BackupFile);
    EXPECT_EQ(pages->Edit100->text(), "C:\\Backups\\Mine\\kept.ebk");
    EXPECT_TRUE(pages->RadioButton111->isChecked());
    EXPECT_EQ(pages->ComboBox101->currentIndex(), 1);
    EXPECT_TRUE(pages->CheckBox100->isChecked());
    EXPECT_EQ(pages->Edit102->text(), "secret1");
    ASSERT_EQ(back(), WizardPages::BackupItems);
    EXPECT_EQ(wizard->WizardFilePath, "C:\\Backups\\Mine\\kept.ebk");
    EXPECT_EQ(lines(pages->CheckListBox100, true), (std::vector<std::string>{"Ann"}));
    EXPECT_EQ(lines(pages->CheckListBox101, true), items);
    ASSERT_EQ(back(), WizardPages::ChooseClient);
    EXPECT_TRUE(pages->clientRadio[lineOf(kind::OutlookExpress)]->isChecked());

    // Another client: its lists and file proposed afresh. Outlook runs on page 4:
    // "Close all" ends it and the page stays; the next Next goes on. The file's
    // folder cannot be made: the outcome says the backup failed, in red.
    chooseClient(kind::Outlook);
    ASSERT_EQ(next(), WizardPages::BackupItems);
    EXPECT_EQ(lines(pages->CheckListBox100, true), ListIdentities(kind::Outlook));
    ASSERT_EQ(next(), WizardPages::BackupFile);
    EXPECT_EQ(pages->Edit100->text().toStdString(),
              "C:\\Backups\\Mine\\" + DefaultBackupFileName(kind::Outlook));
    EXPECT_FALSE(pages->CheckBox100->isChecked());
    source.writeFile("C:\\Backups\\blocker", "a file, not a folder");
    type(pages->Edit100, "C:\\Backups\\blocker\\mail.ebk");
    ASSERT_EQ(next(), WizardPages::ReadyToBackup);
    {
        ScopedEnv noDisplay{"DISPLAY", std::nullopt};
        ScopedEnv prefix{"WINEPREFIX", source.prefix().string()};
        TempDir bin;
        ChildProcess client = ChildProcess::namedSleep(
            bin.path(), "qb" + std::to_string(::getpid()) + "-outlook.exe");
        WhileModal closeAll([&] {
            auto* dialog = modal<ui::TForm5>();
            if (!dialog) return false;
            click(dialog->Button3);
            return true;
        });
        EXPECT_EQ(next(), WizardPages::ReadyToBackup);
        EXPECT_TRUE(closeAll.done());
        EXPECT_TRUE(client.ended());
        ASSERT_EQ(next(), WizardPages::BackingUp);
    }
    ASSERT_EQ(next(), WizardPages::BackupDone);
    QLabel* heading = wizard->heading(WizardPages::BackupDone);
    EXPECT_EQ(heading->text(), "The backup failed.");
    EXPECT_EQ(heading->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(pages->Label121->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_TRUE(pages->Label121->text().startsWith(
        "No backup file was written. An older backup file of the same name was left as it was.\n"))
        << pages->Label121->text().toStdString();
    EXPECT_TRUE(pages->Label122->text().isEmpty());
    EXPECT_FALSE(pages->Button106->isVisible());
    EXPECT_TRUE(shownBoxes().empty());
    for (int page : {5, 4, 3, 2, 1})
        ASSERT_EQ(back(), page);

    // A client the machine lacks can be chosen; its empty lists stop at page 2.
    chooseClient(kind::TheBat);
    ASSERT_EQ(next(), WizardPages::BackupItems);
    EXPECT_EQ(pages->CheckListBox100->count(), 0);
    EXPECT_EQ(next(), WizardPages::BackupItems);
    EXPECT_EQ(shownBoxes(), (std::vector<std::string>{"Select at least one identity!"}));

    // Back to the welcome page and out: the Schedule and Options tabs, standard mode.
    ASSERT_EQ(back(), WizardPages::ChooseClient);
    ASSERT_EQ(back(), WizardPages::Welcome);
    click(pages->Button102);
    EXPECT_FALSE(form->wizardMode());
    EXPECT_EQ(form->PageControl1()->currentIndex(), 2);
    click(child<QPushButton>(*form, "Button42"));
    click(pages->Button103);
    EXPECT_FALSE(form->wizardMode());
    EXPECT_EQ(form->PageControl1()->currentIndex(), 3);
    click(child<QPushButton>(*form, "Button42"));
    click(pages->Button104);
    EXPECT_FALSE(form->wizardMode());
    EXPECT_EQ(filesBelow("C:\\Backups"), Names{"blocker"});
}

// Two PocoMail versions: the version list shows with the first one chosen and its
// identities; choosing the other lists that version's.
TEST_F(WizardBackup, TwoPocoMailVersionsGiveTheVersionList) {
    installPocoMail(source, kind::PocoMail3, {"Ann", "Bob"});
    installPocoMail(source, kind::PocoMail2, {"Carl"});
    openWizard();
    click(pages->Button100);
    // No default mail client: none chosen, the keyboard on the first, and Next asks
    // for one.
    EXPECT_EQ(wizard->WizardClient, kind::None);
    EXPECT_EQ(form->focusWidget(), pages->clientRadio[0]);
    EXPECT_EQ(next(), WizardPages::ChooseClient);
    EXPECT_EQ(shownBoxes(), (std::vector<std::string>{"Select a email client!"}));
    // The space bar chooses.
    QRadioButton* poco = pages->clientRadio[lineOf(kind::PocoMailFamily)];
    poco->setFocus();
    QTest::keyClick(poco, Qt::Key_Space);
    EXPECT_TRUE(poco->isChecked());
    EXPECT_EQ(wizard->WizardClient, kind::PocoMailFamily);
    ASSERT_EQ(next(), WizardPages::BackupItems);
    ASSERT_TRUE(pages->ComboBox100->isVisible());
    ASSERT_EQ(pages->ComboBox100->count(), 2);
    EXPECT_EQ(pages->ComboBox100->currentText(), "3.x");
    EXPECT_EQ(pages->ComboBox100->itemText(1), "2.x");
    EXPECT_EQ(wizard->WizardClient, kind::PocoMail3);
    const std::vector<std::string> v3 = lines(pages->CheckListBox100, true);
    ASSERT_EQ(v3, ListIdentities(kind::PocoMail3));

    // The keyboard chooses the other version.
    pages->ComboBox100->setFocus();
    QTest::keyClick(pages->ComboBox100, Qt::Key_Down);
    EXPECT_EQ(wizard->WizardClient, kind::PocoMail2);
    const std::vector<std::string> v2 = lines(pages->CheckListBox100, true);
    EXPECT_EQ(v2, ListIdentities(kind::PocoMail2));
    EXPECT_NE(v2, v3);
    ASSERT_EQ(next(), WizardPages::BackupFile);
    EXPECT_EQ(platform::extractFileName(pages->Edit100->text().toStdString()),
              DefaultBackupFileName(kind::PocoMail2));
}

}  // namespace
}  // namespace qb::test
