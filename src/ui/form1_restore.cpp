#include "ui/form1_restore.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/backup_run.h"
#include "app/settings.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "jobs/restore_job.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/running_check.h"
#include "ui/form1.h"
#include "ui/machine_dialogs.h"
#include "ui/machine_tree.h"
#include "ui/passwordform1.h"
#include "ui/tform3.h"
#include "ui/window_support.h"
#include "ui/windows.h"

namespace qb::ui {

RestoreTab::RestoreTab(Form1& form, QWidget* panel) : form_(form), panel_(panel) {
    Label18 = NamedLabel(panel, "Label18", "Please select the backup file");
    ShellTreeView1 = new MachineTree(panel);
    ShellTreeView1->setObjectName("ShellTreeView1");
    ShellTreeView1->setAccessibleName("Please select the backup file");
    ShellTreeView1->setIndentation(14);
    ShellTreeView1->setMinimumWidth(240);
    Label18->setBuddy(ShellTreeView1);
    Label5 = NamedLabel(panel, "Label5", "Identities");
    CheckListBox3 = CheckList(panel, "CheckListBox3", "Identities", Label5);
    Label6 = NamedLabel(panel, "Label6", "Items");
    CheckListBox4 = CheckList(panel, "CheckListBox4", "Items", Label6);

    GroupBox1 = new QGroupBox(" Restore Location ", panel);
    GroupBox1->setObjectName("GroupBox1");
    RadioButton1 = new QRadioButton("Restore directly in the Email Client ", GroupBox1);
    RadioButton1->setObjectName("RadioButton1");
    RadioButton1->setChecked(true);
    RadioButton2 = new QRadioButton("Restore to a custom path", GroupBox1);
    RadioButton2->setObjectName("RadioButton2");
    Edit21 = new QLineEdit(GroupBox1);
    Edit21->setObjectName("Edit21");
    Edit21->setAccessibleName("Restore to a custom path");
    Button4 = new QPushButton("Browse", GroupBox1);
    Button4->setObjectName("Button4");
    Button4->setAccessibleName("Browse for the restore folder");
    auto* location = new QGridLayout(GroupBox1);
    location->addWidget(RadioButton1, 0, 0, 1, 2);
    location->addWidget(RadioButton2, 1, 0, 1, 2);
    location->addWidget(Edit21, 2, 0);
    location->addWidget(Button4, 2, 1);
    location->setColumnStretch(0, 1);

    Button5 = new QPushButton("Restore", panel);
    Button5->setObjectName("Button5");
    MakeBold(*Button5);
    Button5->setMinimumWidth(120);

    auto* grid = new QGridLayout(panel);
    grid->addWidget(Label18, 0, 0);
    grid->addWidget(Label5, 0, 1);
    grid->addWidget(Label6, 0, 2);
    grid->addWidget(ShellTreeView1, 1, 0, 2, 1);
    grid->addWidget(CheckListBox3, 1, 1);
    grid->addWidget(CheckListBox4, 1, 2);
    auto* right = new QVBoxLayout;
    right->addWidget(GroupBox1);
    right->addWidget(Button5, 0, Qt::AlignRight);
    grid->addLayout(right, 2, 1, 1, 2);
    grid->setColumnStretch(0, 6);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(2, 3);
    grid->setRowStretch(1, 1);

    QWidget::setTabOrder(ShellTreeView1, CheckListBox3);
    QWidget::setTabOrder(CheckListBox3, CheckListBox4);
    QWidget::setTabOrder(CheckListBox4, RadioButton1);
    QWidget::setTabOrder(RadioButton1, RadioButton2);
    QWidget::setTabOrder(RadioButton2, Edit21);
    QWidget::setTabOrder(Edit21, Button4);
    QWidget::setTabOrder(Button4, Button5);

    connect(ShellTreeView1, &QTreeWidget::currentItemChanged, this,
            [this] { ShellTreeView1Click(); });
    connect(RadioButton1, &QRadioButton::clicked, this, &RestoreTab::RadioButton1Click);
    connect(RadioButton2, &QRadioButton::clicked, this, &RestoreTab::RadioButton2Click);
    connect(Edit21, &QLineEdit::textChanged, this, [this] { Edit21Change(); });
    connect(Button4, &QPushButton::clicked, this, &RestoreTab::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &RestoreTab::Button5Click);
    connect(form_.PageControl1(), &QTabWidget::currentChanged, this, [this](int) {
        if (form_.PageControl1()->currentWidget() == panel_->parentWidget()) TabSheet2Show();
    });
    Button5->setEnabled(false);
    enableFolder(false);
}

void RestoreTab::enableFolder(bool on) {
    Edit21->setEnabled(on);
    Button4->setEnabled(on);
}

void RestoreTab::TabSheet2Show() {
    Button5->setEnabled(false);
    enableFolder(!RadioButton1->isChecked());
    const std::string folder = app::settings().restoreFolder;
    if (!folder.empty()) ShellTreeView1->goTo(folder);
}

void RestoreTab::ShellTreeView1Click() {
    CheckListBox3->clear();
    CheckListBox4->clear();
    restoreFilePath_ = ShellTreeView1->selectedPath();
    const std::string manifest = jobs::StagingPath(jobs::kManifestName);
    if (platform::fileExists(manifest)) platform::deleteFile(manifest);
    restoreClient_ = kind::None;
    // The password of the backup chosen before never opens another one.
    jobs::archiveJob().password.clear();
    if (restoreFilePath_.empty() || !platform::fileExists(restoreFilePath_)) {
        Button5->setEnabled(false);
        return;
    }
    // A protected backup shows nothing of its contents before its password.
    if (jobs::UnlockBackup(restoreFilePath_, AskBackupPassword) != jobs::UnlockResult::Open) {
        Button5->setEnabled(false);
        return;
    }
    restoreClient_ = jobs::ReadBackupClient(restoreFilePath_);
    if (restoreClient_ == kind::None) {
        Button5->setEnabled(false);
        return;
    }
    // A backup whose contents do not match its client offers nothing to restore.
    Button5->setEnabled(
        ListBackupInto(restoreClient_, restoreFilePath_, *CheckListBox3, *CheckListBox4));
}

void RestoreTab::RadioButton1Click() {
    enableFolder(false);
}

void RestoreTab::RadioButton2Click() {
    enableFolder(true);
}

void RestoreTab::Edit21Change() {
    app::settings().restoreFolder = S(Edit21->text());
}

void RestoreTab::Button4Click() {
    if (const auto folder = PickFolder(&form_, S(Edit21->text()))) Edit21->setText(Q(*folder));
}

void RestoreTab::Button5Click() {
    std::string file = restoreFilePath_;
    // A volume's name picked: the restore reads the ".ebk" file beside it.
    if (platform::extractFileExt(file) != ".ebk") file = platform::changeFileExt(file, ".ebk");
    const bool toFolder = RadioButton2->isChecked();
    const std::string folder = S(Edit21->text());
    if (toFolder) {
        if (folder.empty()) {
            Inform(app::MessageText("Message3"));
            return;
        }
        if (!DriveReachable(folder)) {
            Inform(
                Naming("This machine has no drive:", std::string(1, DriveLetterOf(folder)) + ":"));
            Edit21->setFocus();
            return;
        }
        if (DriveLetterOf(folder) == 0) {
            // Only a full path of the machine says where the data goes.
            Inform(app::MessageText("Message3"));
            Edit21->setFocus();
            return;
        }
    }
    if (CheckRunningClient(restoreClient_, false)) return;
    TForm3* window = windows().form3;
    if (!window) return;
    // The password is held only for one restore; another one of the same backup
    // asks again.
    if (jobs::archiveJob().password.empty() && jobs::IsProtectedBackup(file) &&
        jobs::UnlockBackup(file, AskBackupPassword) != jobs::UnlockResult::Open)
        return;
    window->setJob(file, restoreClient_, CheckListBox3, CheckListBox4, toFolder, folder);
    window->exec();
    jobs::archiveJob().password.clear();
}

}  // namespace qb::ui
