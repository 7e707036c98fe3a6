// The Backup and Restore tabs driven through their widgets on fake machines, with
// the progress windows and "Active windows..." they open, against what the quillbox
// program itself makes of the same machine.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "app/settings.h"
#include "catalog/kinds.h"
#include "platform/registry.h"
#include "support/child_process.h"
#include "ui/client_tree.h"
#include "ui/form1.h"
#include "ui/form1_backup.h"
#include "ui/form1_restore.h"
#include "ui/machine_tree.h"
#include "ui/tform2.h"
#include "ui/tform3.h"
#include "ui/tform5.h"
#include "ui/window_support.h"
#include "ui/windows.h"
#include "ui_test_support.h"

namespace qb::test {
namespace {

using ui::BackupTab;
using ui::RestoreTab;

// The program's windows on the current machine, the main window open on its
// Backup tab.
class StandardMode : public WindowTest {
  protected:
    void openWindows() {
        openMainWindow([](app::Settings& s) { s.backupFolder = "C:\\Backups\\Windows\\"; });
        backup = &form->backupTab();
        restore = &form->restoreTab();
        backupWindow = ui::windows().form2;
        restoreWindow = ui::windows().form3;
    }
    void showTab(int index) { form->PageControl1()->setCurrentIndex(index); }
    // The Restore tab on the backup of Ann's Outlook Express: both identities and
    // the six items checked, Restore enabled.
    void expectAnnsBackupListed() {
        EXPECT_EQ(restore->restoreClient(), kind::OutlookExpress);
        EXPECT_EQ(lines(restore->CheckListBox3, true),
                  (std::vector<std::string>{"Main Identity", "Ann"}));
        EXPECT_EQ(lines(restore->CheckListBox4, true).size(), 6u);
        ASSERT_TRUE(restore->Button5->isEnabled());
    }

    // Clicks the button and runs the progress window it opens to its end; returns
    // the heading shown at the end (empty when no window came).
    template <class Window>
    std::string runToEnd(QPushButton* button, Window& window, QLabel* heading) {
        std::string shown;
        WhileModal finish([&] {
            if (!window.isVisible() || window.running() ||
                window.Button1->property("tag").toInt() != 1)
                return false;
            shown = heading->text().toStdString();
            click(window.Button1);
            return true;
        });
        click(button);
        return shown;
    }

    ScopedInteraction quietBoxes{boxes};
    BackupTab* backup = nullptr;
    RestoreTab* restore = nullptr;
    ui::TForm2* backupWindow = nullptr;
    ui::TForm3* restoreWindow = nullptr;
};

TEST_F(StandardMode, ABackupChosenInTheTreeIsTheFileTheCommandLineMakes) {
    installOutlookExpress(source);
    openWindows();
    // The last client of the first start is Outlook Express, with its check marks.
    EXPECT_EQ(backup->currentClient(), kind::OutlookExpress);
    EXPECT_EQ(lines(backup->CheckListBox1, true), (std::vector<std::string>{"Main Identity"}));
    clickEntry(backup->TreeView1, entryLabelled(backup->TreeView1, "Outlook Express"));
    EXPECT_EQ(backup->currentClient(), kind::OutlookExpress);
    EXPECT_EQ(lines(backup->CheckListBox1, true),
              (std::vector<std::string>{"Main Identity", "Ann"}));
    EXPECT_EQ(lines(backup->CheckListBox2, true).size(), 6u);
    EXPECT_FALSE(backup->Label20->isVisible());
    const std::string path = backup->Edit20->text().toStdString();
    EXPECT_TRUE(path.starts_with("C:\\Backups\\Windows\\OExpressBackup ")) << path;
    EXPECT_TRUE(path.ends_with(".ebk")) << path;

    EXPECT_EQ(runToEnd(backup->Button2, *backupWindow, backupWindow->Label3),
              "Backup succesfully completed.");
    EXPECT_TRUE(backupWindow->succeeded());
    EXPECT_EQ(backupWindow->Label1->text(),
              "Quillbox has been succesfully backed up your email data to:");
    EXPECT_EQ(backupWindow->Label2->text().toStdString(), path);
    platform::Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.openKeyReadOnly(app::kSettingsKey));
    EXPECT_EQ(r.readString("BackupDir"), "C:\\Backups\\Windows\\");
    r.closeKey();
    EXPECT_EQ(app::settings().backupFolder, "C:\\Backups\\Windows\\");

    // "Go to Folder" opens the backup's folder.
    std::string opened;
    ui::FolderOpener previous = ui::folderOpener();
    ui::folderOpener() = [&](const std::string& folder) {
        opened = folder;
        return true;
    };
    backupWindow->Button2Click();
    ui::folderOpener() = previous;
    EXPECT_EQ(opened, "C:\\Backups\\Windows\\");

    const std::string byProgram = backupThroughProgram(source, "oexpress", "OExpressBackup ");
    ASSERT_FALSE(byProgram.empty());
    const StoredFiles windowFile = stored(path);
    const StoredFiles programFile = stored(byProgram);
    ASSERT_TRUE(windowFile.ok) << windowFile.error;
    EXPECT_EQ(windowFile.everyName(), programFile.everyName());
    EXPECT_EQ(windowFile.files, programFile.files);
}

TEST_F(StandardMode, ARestoreChosenInTheTabPutsTheDataBackAsTheCommandLineDoes) {
    installOutlookExpress(source);
    const std::string made = backupThroughProgram(source, "oexpress", "OExpressBackup ");
    ASSERT_FALSE(made.empty());
    const std::string file = "C:\\Backups\\Old Mail.ebk";

    // Bob's machine restored with the program, a second one of Bob's with the window.
    FakeMachine byProgram{"bob"};
    for (const FakeMachine* m : {&target, &byProgram}) {
        use(*m);
        installOutlookExpress(*m, {{"Main Identity", kOld}});
        carry(source, made, *m, file);
    }
    ASSERT_TRUE(restoreThroughProgram(byProgram, file));

    use(target);
    openWindows();
    app::settings().restoreFolder = "C:\\Backups";
    showTab(1);
    EXPECT_FALSE(restore->Button5->isEnabled());
    EXPECT_FALSE(restore->Edit21->isEnabled());
    QTreeWidgetItem* folder = restore->ShellTreeView1->currentItem();
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(ui::MachineTree::pathOf(folder), "C:\\Backups");
    folder->setExpanded(true);
    clickEntry(restore->ShellTreeView1, entryLabelled(restore->ShellTreeView1, "Old Mail.ebk"));
    EXPECT_EQ(restore->restoreFilePath(), file);
    ASSERT_NO_FATAL_FAILURE(expectAnnsBackupListed());

    EXPECT_EQ(runToEnd(restore->Button5, *restoreWindow, restoreWindow->Label1),
              "Backup succesfully completed.");
    EXPECT_TRUE(restoreWindow->succeeded());
    // The outcome names the backup of Bob's data made before the restore.
    const std::string outcome = restoreWindow->Label2->text().toStdString();
    EXPECT_TRUE(
        outcome.starts_with("Quillbox has succesful restored your email data.\n"
                            "The data the restore replaced is kept in: "))
        << outcome;
    EXPECT_NE(restoreWindow->undoFile().find("BeforeRestore OExpressBackup "), outcome.npos);
    EXPECT_NE(outcome.find(restoreWindow->undoFile()), outcome.npos);
    EXPECT_TRUE(fs::is_regular_file(target.host(restoreWindow->undoFile())))
        << restoreWindow->undoFile();
    EXPECT_EQ(restoreWindow->Label3->text().toStdString(), file);

    expectRestoredAlike(target, byProgram);
}

TEST_F(StandardMode, ARestoreToACustomPathLaysTheBackupOutInThatFolder) {
    installOutlookExpress(source);
    const std::string made = backupThroughProgram(source, "oexpress", "OExpressBackup ");
    ASSERT_FALSE(made.empty());
    use(target);
    carry(source, made, target, "C:\\Backups\\mail.e01");
    carry(source, made, target, "C:\\Backups\\mail.ebk");
    openWindows();
    app::settings().restoreFolder = "C:\\Backups";
    showTab(1);
    restore->ShellTreeView1->currentItem()->setExpanded(true);
    // A volume's name picked: the restore reads the ".ebk" file beside it.
    clickEntry(restore->ShellTreeView1, entryLabelled(restore->ShellTreeView1, "mail.e01"));
    ASSERT_TRUE(restore->Button5->isEnabled());
    click(restore->RadioButton2);
    EXPECT_TRUE(restore->Edit21->isEnabled());
    QTest::keyClicks(restore->Edit21, "D:\\Restored");
    EXPECT_EQ(runToEnd(restore->Button5, *restoreWindow, restoreWindow->Label1), "");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "This machine has no drive: D:");

    restore->Edit21->clear();
    QTest::keyClicks(restore->Edit21, "C:\\Restored Mail");
    EXPECT_EQ(app::settings().restoreFolder, "C:\\Restored Mail");
    EXPECT_EQ(runToEnd(restore->Button5, *restoreWindow, restoreWindow->Label1),
              "Backup succesfully completed.");
    EXPECT_EQ(restoreWindow->Label3->text(), "C:\\Backups\\mail.ebk");
    const Names laidOut = filesBelow("C:\\Restored Mail");
    EXPECT_TRUE(laidOut.count("Address Book/ann.wab"));
    EXPECT_TRUE(laidOut.count("Main Identity/accounts.reg"));
    EXPECT_TRUE(laidOut.count(kMain + "/Inbox.dbx"));
    // Nothing went into the client.
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, "\\Identities\\" + kMain));
}

// A protected backup lists nothing before the password window got its password:
// Cancel leaves the tab empty, a wrong password is said and asked again, the
// right one lists the backup and restores it; the password is held for that one
// restore and kept nowhere on the machine.
TEST_F(StandardMode, AProtectedBackupOpensInTheRestoreTabOnlyWithItsPassword) {
    const std::string password = "Sesame, open 42";
    const std::string inboxBefore = bobWithAnnsProtectedBackup(password, "C:\\Backups\\Locked.ebk");
    ASSERT_FALSE(inboxBefore.empty());
    openWindows();
    app::settings().restoreFolder = "C:\\Backups";
    showTab(1);
    QTreeWidgetItem* folder = restore->ShellTreeView1->currentItem();
    ASSERT_NE(folder, nullptr);
    folder->setExpanded(true);
    QTreeWidgetItem* locked = entryLabelled(restore->ShellTreeView1, "Locked.ebk");

    // Cancel, even with a password typed, opens nothing.
    auto cancelled = answering({{password, false}});
    clickEntry(restore->ShellTreeView1, locked);
    EXPECT_TRUE(cancelled->done());
    EXPECT_EQ(restore->restoreFilePath(), "C:\\Backups\\Locked.ebk");
    EXPECT_EQ(restore->CheckListBox3->count(), 0);
    EXPECT_EQ(restore->CheckListBox4->count(), 0);
    EXPECT_FALSE(restore->Button5->isEnabled());
    EXPECT_TRUE(jobs::archiveJob().password.empty());
    EXPECT_TRUE(boxes.boxes.empty());

    // Chosen again: a wrong password, "Incorect password!", then the right one.
    clickEntry(restore->ShellTreeView1, folder);
    auto unlocked = answering({{"not the password", true}, {password, true}});
    clickEntry(restore->ShellTreeView1, locked);
    EXPECT_TRUE(unlocked->done());
    EXPECT_EQ(boxesBefore, (std::vector<size_t>{0, 1}));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Incorect password!");
    ASSERT_NO_FATAL_FAILURE(expectAnnsBackupListed());

    EXPECT_EQ(runToEnd(restore->Button5, *restoreWindow, restoreWindow->Label1),
              "Backup succesfully completed.");
    EXPECT_TRUE(restoreWindow->succeeded());
    EXPECT_TRUE(jobs::archiveJob().password.empty());
    const std::string restored = readHostFile(target.host("C:\\users\\bob") / kInbox);
    EXPECT_FALSE(restored.empty());
    EXPECT_EQ(restored, inboxBefore);

    // Another restore of it asks again; Cancel starts nothing.
    auto again = answering({{"", false}});
    EXPECT_EQ(runToEnd(restore->Button5, *restoreWindow, restoreWindow->Label1), "");
    EXPECT_TRUE(again->done());
    EXPECT_FALSE(restoreWindow->isVisible());

    // Nothing of the machine holds the password: not the settings, not the
    // staging folder.
    expectNowhereOn(target, password);
}

// Each refusal of "Create BackUp!" and "Restore" with the message it shows; none of
// them opens a progress window.
TEST_F(StandardMode, EveryRefusalShowsItsMessageAndStartsNothing) {
    installOutlookExpress(source);
    openWindows();
    // D: a CD drive of the machine.
    addCdDrive();

    struct Case {
        const char* name;
        ClientKind client;
        std::string field;  // empty: as the click on the client left it
        bool uncheckIdentities;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"no folder", kind::OutlookExpress, "mail.ebk", false, "Please input backup directory!"},
        {"the heading", kind::None, "", false, "Please click an Email client!"},
        {"no such drive", kind::OutlookExpress, "Q:\\Backups\\mail.ebk", false,
         "This machine has no drive: Q:"},
        {"a CD drive", kind::OutlookExpress, "D:\\mail.ebk", false, "Drive is write protected!"},
        {"a network path", kind::OutlookExpress, "\\\\server\\share\\mail.ebk", false,
         "Disk is full. Replace or select other!"},
        {"not installed", kind::TheBat, "", false, "Select a email client!"},
        {"no identity", kind::OutlookExpress, "", true, "No identity selected!"},
    };
    int windowsOpened = 0;
    WhileModal guard(
        [&] {
            if (auto* w = modal<QDialog>()) {
                ++windowsOpened;
                w->reject();
            }
            return false;
        },
        1 << 30);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.boxes.clear();
        // A refused folder is still remembered as the backup folder: start afresh.
        app::settings().backupFolder = "C:\\Backups\\Windows\\";
        clickEntry(backup->TreeView1, ui::FindClientEntry(*backup->TreeView1, c.client));
        // The hint beside the file field: shown for a client that is not there.
        EXPECT_EQ(backup->Label20->isVisible(), c.client == kind::TheBat);
        if (!c.field.empty()) backup->Edit20->setText(QString::fromStdString(c.field));
        if (c.uncheckIdentities)
            for (int i = 0; i < backup->CheckListBox1->count(); ++i)
                backup->CheckListBox1->item(i)->setCheckState(Qt::Unchecked);
        click(backup->Button2);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, c.message);
        EXPECT_EQ(boxes.boxes[0].icon, MsgIcon::Information);
    }
    EXPECT_TRUE(filesBelow("C:\\Backups").empty());

    // "Restore to a custom path" with the folder field emptied.
    const std::string made = backupThroughProgram(source, "oexpress", "OExpressBackup ");
    ASSERT_FALSE(made.empty());
    restore->ShellTreeView1->goTo(made);
    ASSERT_TRUE(restore->Button5->isEnabled());
    click(restore->RadioButton2);
    restore->Edit21->clear();
    boxes.boxes.clear();
    click(restore->Button5);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Invalid directory!");
    EXPECT_EQ(windowsOpened, 0);
}

TEST_F(StandardMode, ARunningClientBringsUpActiveWindowsAndCancelStopsTheRestore) {
    ASSERT_FALSE(bobWithAnnsBackup("C:\\Backups\\mail.ebk").empty());
    openWindows();
    restore->ShellTreeView1->goTo("C:\\Backups\\mail.ebk");
    ASSERT_TRUE(restore->Button5->isEnabled());

    // The client runs in this machine, windowless as it is without a display.
    ScopedEnv noDisplay{"DISPLAY", std::nullopt};
    ScopedEnv prefix{"WINEPREFIX", target.prefix().string()};
    TempDir bin;
    const std::string name = "qb" + std::to_string(::getpid()) + "-msimn.exe";
    ChildProcess client = ChildProcess::namedSleep(bin.path(), name);
    const std::string line = name + " (process " + std::to_string(client.pid()) + ")";

    std::vector<std::string> listed;
    QString caption;
    int restoreWindows = 0;
    WhileModal answer([&] {
        if (modal<ui::TForm3>()) ++restoreWindows;
        auto* dialog = modal<ui::TForm5>();
        if (!dialog) return false;
        caption = dialog->windowTitle();
        listed = lines(dialog->ListBox1);
        EXPECT_FALSE(dialog->Button2->isVisible());
        click(dialog->Button4);
        return true;
    });
    click(restore->Button5);
    ASSERT_TRUE(answer.done());
    EXPECT_EQ(caption, "Active windows...");
    EXPECT_EQ(listed, (std::vector<std::string>{line}));
    EXPECT_EQ(CloseDialogTag(), 0);
    EXPECT_EQ(restoreWindows, 0);
    EXPECT_FALSE(restoreWindow->isVisible());
    EXPECT_FALSE(client.ended());
    // Nothing restored: Bob's old identity is still there, Ann's store is not.
    EXPECT_TRUE(keyExists(RootKey::CurrentUser, "\\Identities\\" + kOld));
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, "\\Identities\\" + kMain));
}

}  // namespace
}  // namespace qb::test
