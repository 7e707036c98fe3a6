// The wizard's restore pages driven through their widgets on fake machines, from
// the choice of the backup file to the outcome, against what the quillbox program
// itself makes of the same backup.
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "app/settings.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/child_process.h"
#include "ui/form1.h"
#include "ui/form1_wizard.h"
#include "ui/form1_wizard_restore.h"
#include "ui/machine_tree.h"
#include "ui/tform5.h"
#include "ui/windows.h"
#include "ui_test_support.h"

namespace qb::test {
namespace {

using ui::WizardPages;

std::vector<std::string> column(const QTreeWidget* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out.push_back(list->topLevelItem(i)->text(0).toStdString());
    return out;
}

void checkAll(QListWidget* list, bool on) {
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->flags() & Qt::ItemIsEnabled)
            list->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

// Runs the event loop until `done` or five seconds have gone.
bool spinUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class WizardRestore : public WindowTest {
  protected:
    // The program's windows on the current machine, the main window shown; with
    // `openFile` as "/o" gives it.
    void openWindows(const std::string& openFile = {}) {
        openMainWindow([](app::Settings& s) { s.restoreFolder = "C:\\Backups"; }, openFile);
        wizard = &form->wizardPages();
        pages = &wizard->restorePages();
    }
    int page() const { return wizard->currentPage(); }
    void next() { click(wizard->nextButton()); }
    void back() { click(wizard->backButton()); }
    // From standard mode through the Wizard button to the backup file page.
    void toFilePage() {
        click(form->findChild<QPushButton*>("Button42"));
        ASSERT_TRUE(form->wizardMode());
        ASSERT_EQ(page(), WizardPages::Welcome);
        wizard->GoingForward = true;
        wizard->showPage(WizardPages::ChooseBackupFile);
    }
    // Picks the file in page 7's list and goes on to its items.
    void chooseFile(const QString& name) {
        clickEntry(pages->ListView200, entryLabelled(pages->ListView200, name));
        next();
    }
    WizardPages* wizard = nullptr;
    ui::WizardRestorePages* pages = nullptr;
};

// The whole way: page 7 lists folders and backup files only, Back leads to the
// welcome page; page 8 lists the backup and refuses to go on without an identity
// or an item; the restore into the client puts back what "quillbox /r" puts back
// and names the backup that undoes it.
TEST_F(WizardRestore, ARestoreWalkedThroughThePagesPutsTheDataBackAsTheCommandLineDoes) {
    const std::string file = "C:\\Backups\\Old Mail.ebk";
    const std::string made = bobWithAnnsBackup(file);
    FakeMachine byProgram{"bob"};
    use(byProgram);
    installOutlookExpress(byProgram, {{"Main Identity", kOld}});
    carry(source, made, byProgram, file);
    ASSERT_TRUE(restoreThroughProgram(byProgram, file));
    use(target);
    target.writeFile("C:\\Backups\\notes.txt", "not a backup");
    target.writeFile("C:\\Backups\\Older\\Mail.EBK", "an old one");
    openWindows();

    toFilePage();
    EXPECT_EQ(ui::MachineTree::pathOf(pages->TreeView200->currentItem()), "C:\\Backups");
    // Folders first, then the backup files, whatever the case of ".ebk".
    EXPECT_EQ(column(pages->ListView200), (std::vector<std::string>{"Older", "Old Mail.ebk"}));
    EXPECT_EQ(pages->ListView200->headerItem()->text(1), "Size");
    // Back from here is the welcome page, not the backup's outcome.
    back();
    EXPECT_EQ(page(), WizardPages::Welcome);
    wizard->GoingForward = true;
    wizard->showPage(WizardPages::ChooseBackupFile);
    QTest::qWait(300);
    // The list's own widths; the last column takes the rest of the list.
    EXPECT_EQ(pages->ListView200->columnWidth(0), 160);
    EXPECT_EQ(pages->ListView200->columnWidth(1), 60);
    EXPECT_EQ(pages->ListView200->columnWidth(2), 80);
    EXPECT_GE(pages->ListView200->columnWidth(3), 100);
    // Showing the page stored the widths it started from.
    {
        platform::Registry r(RootKey::CurrentUser);
        ASSERT_TRUE(r.openKeyReadOnly(app::kSettingsKey));
        EXPECT_EQ(r.readInteger("Col1"), 173);
        EXPECT_EQ(r.readInteger("Col4"), 75);
    }
    // A double click on a folder opens it in the tree.
    QTreeWidgetItem* older = entryLabelled(pages->ListView200, "Older");
    ASSERT_NE(older, nullptr);
    // A double click is a press and a release, then the double click.
    clickEntry(pages->ListView200, older);
    QTest::mouseDClick(pages->ListView200->viewport(), Qt::LeftButton, {},
                       pages->ListView200->visualItemRect(older).center());
    EXPECT_EQ(ui::MachineTree::pathOf(pages->TreeView200->currentItem()), "C:\\Backups\\Older");
    EXPECT_EQ(column(pages->ListView200), (std::vector<std::string>{"Mail.EBK"}));
    EXPECT_TRUE(wizard->WizardFilePath.empty());
    pages->TreeView200->goTo("C:\\Backups");

    chooseFile("Old Mail.ebk");
    ASSERT_EQ(page(), WizardPages::RestoreItems);
    EXPECT_EQ(wizard->WizardFilePath, file);
    EXPECT_EQ(wizard->WizardClient, kind::OutlookExpress);
    EXPECT_EQ(lines(pages->CheckListBox200, true),
              (std::vector<std::string>{"Main Identity", "Ann"}));
    EXPECT_EQ(lines(pages->CheckListBox201, true).size(), 6u);
    // Nothing of one list chosen: the page says so and stays.
    checkAll(pages->CheckListBox200, false);
    next();
    checkAll(pages->CheckListBox200, true);
    checkAll(pages->CheckListBox201, false);
    next();
    EXPECT_EQ(page(), WizardPages::RestoreItems);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text, "Select at least one identity!");
    EXPECT_EQ(boxes.boxes[1].text, "Select at least one item!");
    checkAll(pages->CheckListBox201, true);

    next();
    ASSERT_EQ(page(), WizardPages::RestoreWhere);
    EXPECT_TRUE(pages->RadioButton200->isChecked());
    EXPECT_FALSE(pages->Edit200->isEnabled());
    next();
    ASSERT_EQ(page(), WizardPages::ReadyToRestore);
    EXPECT_EQ(pages->Label202->text(), "Make sure that EmailClient program is close.");
    next();
    ASSERT_EQ(page(), WizardPages::Restoring);
    EXPECT_EQ(pages->ProgressBar200->value(), 100);
    EXPECT_EQ(pages->Label205->text().toStdString(), file);
    EXPECT_TRUE(wizard->nextButton()->isEnabled());
    next();
    ASSERT_EQ(page(), WizardPages::RestoreDone);
    EXPECT_EQ(pages->outcome(), ui::WizardRestorePages::Outcome::Done);
    EXPECT_EQ(wizard->heading(WizardPages::RestoreDone)->text(), "Restore successfully completed.");
    EXPECT_EQ(pages->Label206->text(), "Your email data has been put back in place.");
    EXPECT_NE(pages->Label206->palette().color(QPalette::WindowText), QColor(Qt::red));
    // The outcome names the backup of Bob's data made before the restore.
    EXPECT_NE(pages->undoFile().find("BeforeRestore OExpressBackup "), std::string::npos);
    EXPECT_EQ(pages->Label207->text().toStdString(),
              "The data the restore replaced is kept in: " + pages->undoFile());
    EXPECT_TRUE(fs::is_regular_file(target.host(pages->undoFile())));
    EXPECT_EQ(boxes.boxes.size(), 2u);

    expectRestoredAlike(target, byProgram);

    // Back from the outcome does not restore again (no new undo backup is
    // written); Next after it starts over.
    const std::string undo = pages->undoFile();
    const auto undoWritten = fs::last_write_time(target.host(undo));
    const Names undoFolder = filesBelow(platform::extractFilePath(undo));
    QTest::qWait(20);
    back();
    EXPECT_EQ(page(), WizardPages::Restoring);
    EXPECT_EQ(pages->undoFile(), undo);
    EXPECT_EQ(fs::last_write_time(target.host(undo)), undoWritten);
    EXPECT_EQ(filesBelow(platform::extractFilePath(undo)), undoFolder);
    next();
    next();
    EXPECT_EQ(page(), WizardPages::Welcome);
}

// "Restore in other directory in order to import": a folder of the machine is
// needed, and the backup is laid out there with nothing going into the client.
TEST_F(WizardRestore, ARestoreIntoAFolderLaysTheBackupOutThere) {
    bobWithAnnsBackup("C:\\Backups\\mail.ebk");
    openWindows();
    toFilePage();
    chooseFile("mail.ebk");
    next();
    ASSERT_EQ(page(), WizardPages::RestoreWhere);
    click(pages->RadioButton201);
    EXPECT_TRUE(pages->Edit200->isEnabled());
    EXPECT_TRUE(pages->Button200->isEnabled());
    // An empty field or a drive the machine lacks keeps the page.
    next();
    QTest::keyClicks(pages->Edit200, "Q:\\Mail");
    next();
    EXPECT_EQ(page(), WizardPages::RestoreWhere);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text, "Invalid directory!");
    EXPECT_EQ(boxes.boxes[1].text, "This machine has no drive: Q:");
    // Back and forth keeps the choice.
    pages->Edit200->clear();
    QTest::keyClicks(pages->Edit200, "C:\\Restored Mail");
    next();
    ASSERT_EQ(page(), WizardPages::ReadyToRestore);
    back();
    EXPECT_TRUE(pages->RadioButton201->isChecked());
    EXPECT_EQ(pages->Edit200->text(), "C:\\Restored Mail");
    next();
    ASSERT_EQ(page(), WizardPages::ReadyToRestore);

    // The client runs in this machine (windowless, as without a display): "Close
    // all" ends it and the page stays for another look; then Next goes on.
    {
        ScopedEnv noDisplay{"DISPLAY", std::nullopt};
        ScopedEnv prefix{"WINEPREFIX", target.prefix().string()};
        TempDir bin;
        ChildProcess client =
            ChildProcess::namedSleep(bin.path(), "qb" + std::to_string(::getpid()) + "-msimn.exe");
        int shown = 0;
        WhileModal closeAll([&] {
            auto* dialog = modal<ui::TForm5>();
            if (!dialog) return false;
            ++shown;
            click(dialog->Button3);
            return true;
        });
        next();
        EXPECT_TRUE(closeAll.done());
        EXPECT_EQ(shown, 1);
        EXPECT_TRUE(client.ended());
        EXPECT_EQ(page(), WizardPages::ReadyToRestore);
        EXPECT_FALSE(fs::exists(target.host("C:\\Restored Mail")));
    }
    next();
    ASSERT_EQ(page(), WizardPages::Restoring);
    next();
    ASSERT_EQ(page(), WizardPages::RestoreDone);
    EXPECT_EQ(pages->outcome(), ui::WizardRestorePages::Outcome::Done);
    EXPECT_TRUE(pages->undoFile().empty());
    EXPECT_EQ(pages->Label207->text(), "The items were written to: C:\\Restored Mail\\");
    const Names laidOut = filesBelow("C:\\Restored Mail");
    EXPECT_TRUE(laidOut.count("Address Book/ann.wab"));
    EXPECT_TRUE(laidOut.count("Main Identity/accounts.reg"));
    EXPECT_TRUE(laidOut.count(kMain + "/Inbox.dbx"));
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, "\\Identities\\" + kMain));
    EXPECT_EQ(boxes.boxes.size(), 2u);
}

// "/o FILE": the main window on the items of the file. A file that is not there
// says so and leaves the wizard on the file page; a protected one is listed only
// after the password window got its password (Cancel lists nothing and Next is
// refused, a wrong one is said and asked again), and restores with it.
TEST_F(WizardRestore, OpenedWithAFileTheWizardListsItsItemsAfterItsPassword) {
    openWindows("C:\\Backups\\gone.ebk");
    ASSERT_TRUE(form->wizardMode());
    ASSERT_TRUE(spinUntil([&] { return !boxes.boxes.empty(); }));
    EXPECT_EQ(boxes.boxes[0].text, "The backup file cannot be found: C:\\Backups\\gone.ebk");
    EXPECT_EQ(page(), WizardPages::ChooseBackupFile);
    EXPECT_TRUE(wizard->WizardFilePath.empty());
    boxes.boxes.clear();

    const std::string password = "Sesame, open 42";
    const std::string file = "C:\\Backups\\Locked.ebk";
    const std::string inboxBefore = bobWithAnnsProtectedBackup(password, file);
    ASSERT_FALSE(inboxBefore.empty());

    // The password window comes once the main window is there: Cancel.
    auto cancelled = answering({{password, false}});
    openWindows(file);
    ASSERT_TRUE(spinUntil([&] { return cancelled->done(); }));
    EXPECT_EQ(page(), WizardPages::RestoreItems);
    EXPECT_EQ(pages->CheckListBox200->count(), 0);
    EXPECT_EQ(pages->CheckListBox201->count(), 0);
    EXPECT_TRUE(jobs::archiveJob().password.empty());
    next();
    EXPECT_EQ(page(), WizardPages::RestoreItems);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Select at least one identity!");

    // Back shows the file where it is; Next asks again: a wrong one, then the right one.
    back();
    ASSERT_EQ(page(), WizardPages::ChooseBackupFile);
    EXPECT_EQ(wizard->WizardFilePath, file);
    ASSERT_NE(pages->ListView200->currentItem(), nullptr);
    EXPECT_EQ(pages->ListView200->currentItem()->text(0), "Locked.ebk");
    auto unlocked = answering({{"not the password", true}, {password, true}});
    next();
    EXPECT_TRUE(unlocked->done());
    EXPECT_EQ(boxesBefore, (std::vector<size_t>{1, 2}));
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].text, "Incorect password!");
    EXPECT_EQ(lines(pages->CheckListBox200, true),
              (std::vector<std::string>{"Main Identity", "Ann"}));
    EXPECT_EQ(lines(pages->CheckListBox201, true).size(), 6u);

    next();
    next();
    next();
    ASSERT_EQ(page(), WizardPages::Restoring);
    next();
    ASSERT_EQ(page(), WizardPages::RestoreDone);
    EXPECT_EQ(pages->outcome(), ui::WizardRestorePages::Outcome::Done);
    EXPECT_TRUE(jobs::archiveJob().password.empty());
    const std::string restored = readHostFile(target.host("C:\\users\\bob") / kInbox);
    EXPECT_FALSE(restored.empty());
    EXPECT_EQ(restored, inboxBefore);
    EXPECT_EQ(boxes.boxes.size(), 2u);
}

}  // namespace
}  // namespace qb::test
