#include "ui/form1_backup.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include "app/backup_run.h"
#include "app/settings.h"
#include "catalog/backup_name.h"
#include "catalog/identities.h"
#include "catalog/installed.h"
#include "catalog/kinds.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/running_check.h"
#include "ui/client_tree.h"
#include "ui/form1.h"
#include "ui/form1_restore.h"
#include "ui/machine_dialogs.h"
#include "ui/machine_tree.h"
#include "ui/tform2.h"
#include "ui/window_support.h"
#include "ui/windows.h"

namespace qb::ui {

namespace {

// A client the machine lacks: no identities listed, or (for a client with a
// backup of its own) nothing a backup could take, as the command line judges it.
bool clientAbsent(ClientKind code, const QListWidget& identities) {
    if (code == kind::None) return false;
    return identities.count() == 0 || (hasBackups(code) && !ClientInstalledForBackup(code));
}

using platform::Registry;
using platform::RootKey;

// The folder a tree selection stands for: the path, or its folder for a file.
std::string folderOfSelection(const std::string& path) {
    if (path.empty()) return {};
    return platform::fileExists(path) ? platform::extractFilePath(path) : path;
}

}  // namespace

BackupTab::BackupTab(Form1& form, QWidget* panel) : form_(form), panel_(panel) {
    Label1 = NamedLabel(panel, "Label1", "Data to backup");
    TreeView1 = new QTreeWidget(panel);
    TreeView1->setObjectName("TreeView1");
    TreeView1->setHeaderHidden(true);
    TreeView1->setItemsExpandable(false);
    TreeView1->setAccessibleName("Data to backup");
    Label1->setBuddy(TreeView1);
    Label2 = NamedLabel(panel, "Label2", "Identities");
    CheckListBox1 = CheckList(panel, "CheckListBox1", "Identities", Label2);
    Label3 = NamedLabel(panel, "Label3", "Items");
    CheckListBox2 = CheckList(panel, "CheckListBox2", "Items", Label3);

    GroupBox20 = new QGroupBox("Backup Location", panel);
    GroupBox20->setObjectName("GroupBox20");
    Label4 = NamedLabel(GroupBox20, "Label4", "Save backup file to:");
    Edit20 = new QLineEdit(GroupBox20);
    Edit20->setObjectName("Edit20");
    Label4->setBuddy(Edit20);
    Button3 = new QPushButton("...", GroupBox20);
    Button3->setObjectName("Button3");
    Button3->setAccessibleName("Browse for the backup file");
    Label20 = NamedLabel(GroupBox20, "Label20", "The Email Client is not Installed!");
    QPalette warn = Label20->palette();
    warn.setColor(QPalette::WindowText, QColor(Qt::red));
    Label20->setPalette(warn);
    Label20->hide();
    auto* location = new QGridLayout(GroupBox20);
    location->addWidget(Label4, 0, 0);
    location->addWidget(Label20, 0, 1, Qt::AlignRight);
    location->addWidget(Edit20, 1, 0, 1, 2);
    location->addWidget(Button3, 1, 2);
    location->setColumnStretch(0, 1);

    Button2 = new QPushButton("Create Backup!", panel);
    Button2->setObjectName("Button2");
    MakeBold(*Button2);
    Button2->setMinimumWidth(120);

    auto* grid = new QGridLayout(panel);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Label2, 0, 1);
    grid->addWidget(Label3, 0, 2);
    grid->addWidget(TreeView1, 1, 0);
    grid->addWidget(CheckListBox1, 1, 1);
    grid->addWidget(CheckListBox2, 1, 2);
    grid->setColumnStretch(0, 5);
    grid->setColumnStretch(1, 4);
    grid->setColumnStretch(2, 4);
    grid->setRowStretch(1, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(GroupBox20, 1);
    bottom->addWidget(Button2, 0, Qt::AlignBottom);
    grid->addLayout(bottom, 2, 0, 1, 3);

    QWidget::setTabOrder(TreeView1, CheckListBox1);
    QWidget::setTabOrder(CheckListBox1, CheckListBox2);
    QWidget::setTabOrder(CheckListBox2, Edit20);
    QWidget::setTabOrder(Edit20, Button3);
    QWidget::setTabOrder(Button3, Button2);

    FillClientTree(*TreeView1);
    connect(TreeView1, &QTreeWidget::itemClicked, this, [this] { TreeView1Click(); });
    // The keyboard chooses a client as a click does.
    connect(TreeView1, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* now, QTreeWidgetItem*) {
                if (now && KindOf(now) != currentClient_) TreeView1Click();
            });
    connect(Edit20, &QLineEdit::textChanged, this, [this] { Edit20Change(); });
    connect(Edit20, &QLineEdit::editingFinished, this, [this] { Edit20Exit(); });
    connect(Button3, &QPushButton::clicked, this, &BackupTab::Button3Click);
    connect(Button2, &QPushButton::clicked, this, &BackupTab::Button2Click);
    connect(form_.PageControl1(), &QTabWidget::currentChanged, this, [this](int) {
        if (form_.PageControl1()->currentWidget() == panel_->parentWidget()) TabSheet1Show();
    });
}

void BackupTab::applySettings() {
    Edit20->setText(Q(app::settings().backupFolder));
}

void BackupTab::formShow() {
    // The versions on the machine may have changed since the last showing.
    {
        const QSignalBlocker quiet(TreeView1);
        FillClientTree(*TreeView1);
    }
    Edit20->setText(Q(ProposedBackupFile(currentClient_)));
    RestoreLastClient();
}

void BackupTab::formClose() {
    SaveLastClient();
}

void BackupTab::TabSheet1Show() {
    TreeView1->expandAll();
}

bool BackupTab::selectClient(ClientKind kind) {
    QTreeWidgetItem* item = FindClientEntry(*TreeView1, kind);
    if (!item) return false;
    {
        const QSignalBlocker quiet(TreeView1);
        TreeView1->setCurrentItem(item);
    }
    TreeView1Click();
    return true;
}

void BackupTab::TreeView1Click() {
    QTreeWidgetItem* selected = TreeView1->currentItem();
    currentClient_ = KindOf(selected);
    Edit20->setText(Q(ProposedBackupFile(currentClient_)));
    listClient(currentClient_);
    if (!clientAbsent(currentClient_, *CheckListBox1)) {
        Label20->hide();
    } else {
        // The heading is no client; any other entry the machine lacks is absent.
        Label20->setVisible(selected != nullptr);
        if (CheckListBox1->count() == 0) CheckListBox2->clear();
    }
    const std::string picked = folderOfSelection(form_.restoreTab().ShellTreeView1->selectedPath());
    if (!picked.empty()) app::settings().restoreFolder = picked;
}

void BackupTab::listClient(ClientKind kind) {
    ListClientInto(kind, *CheckListBox1, *CheckListBox2);
}

void BackupTab::RestoreLastClient() {
    ClientKind code = 1;
    std::vector<std::pair<std::string, bool>> identityMarks, itemMarks;
    try {
        Registry r(RootKey::CurrentUser);
        if (r.openKeyReadOnly(app::kLastClientKey) && r.valueExists("Code"))
            code = r.readInteger("Code");
        r.closeKey();
        const std::string identityKey = std::string(app::kLastClientKey) + "\\Identity";
        if (r.openKeyReadOnly(identityKey))
            for (const std::string& name : r.valueNames())
                identityMarks.emplace_back(name, r.readBool(name));
        r.closeKey();
        const std::string itemKey = std::string(app::kLastClientKey) + "\\Items";
        if (r.openKeyReadOnly(itemKey))
            for (const std::string& name : r.valueNames())
                itemMarks.emplace_back(name, r.readBool(name));
    } catch (const std::exception&) {
        // Settings of the wrong type read as absent.
    }
    currentClient_ = code;
    QTreeWidgetItem* entry = FindClientEntry(*TreeView1, code);
    if (!entry) {
        CheckListBox1->clear();
        CheckListBox2->clear();
        return;
    }
    {
        const QSignalBlocker quiet(TreeView1);
        TreeView1->setCurrentItem(entry);
    }
    // The file field proposes the client's file, as a click on the entry does.
    Edit20->setText(Q(ProposedBackupFile(code)));
    listClient(code);
    for (int i = 0; i < CheckListBox1->count(); ++i) {
        QListWidgetItem* line = CheckListBox1->item(i);
        line->setCheckState(Qt::Unchecked);
        for (const auto& [name, on] : identityMarks)
            if (platform::equalsNoCase(name, S(line->text())))
                line->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    for (int i = 0; i < CheckListBox2->count(); ++i) {
        QListWidgetItem* line = CheckListBox2->item(i);
        line->setCheckState(CheckListBox2->isEnabled() ? Qt::Unchecked : Qt::Checked);
        if (!CheckListBox2->isEnabled()) continue;
        for (const auto& [name, on] : itemMarks)
            if (name == S(line->text())) line->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    Label20->setVisible(clientAbsent(code, *CheckListBox1));
}

void BackupTab::SaveLastClient() {
    try {
        Registry r(RootKey::CurrentUser);
        const std::string identityKey = std::string(app::kLastClientKey) + "\\Identity";
        if (r.openKey(app::kLastClientKey, true)) {
            r.deleteKey("Identity");
            r.writeInteger("Code", currentClient_);
        }
        r.closeKey();
        if (r.openKey(identityKey, true))
            for (int i = 0; i < CheckListBox1->count(); ++i)
                r.writeBool(S(CheckListBox1->item(i)->text()),
                            CheckListBox1->item(i)->checkState() == Qt::Checked);
        r.closeKey();
        if (r.openKey(std::string(app::kLastClientKey) + "\\Items", true))
            for (int i = 0; i < CheckListBox2->count(); ++i)
                r.writeBool(S(CheckListBox2->item(i)->text()),
                            CheckListBox2->item(i)->checkState() == Qt::Checked);
        r.closeKey();
    } catch (const std::exception&) {
        // A registry that refuses the write keeps the last choice it had.
    }
}

void BackupTab::Edit20Change() {
    backupFilePath_ = platform::extractFilePath(S(Edit20->text()));
}

void BackupTab::Edit20Exit() {
    const std::string text = S(Edit20->text());
    if (!text.empty() && platform::extractFileExt(text).empty() && text.back() != '\\')
        Edit20->setText(Q(text + "\\"));
}

void BackupTab::Button3Click() {
    if (const auto file = PickBackupFile(&form_, S(Edit20->text()))) Edit20->setText(Q(*file));
}

void BackupTab::Button2Click() {
    const std::string text = S(Edit20->text());
    const std::string folder = platform::extractFilePath(text);
    if (folder.empty()) {
        Inform("Please input backup directory!");
        Edit20->setFocus();
        return;
    }
    if (platform::extractFileExt(text) != ".ebk") {
        Inform("Please click an Email client!");
        return;
    }
    // Nothing is written for a drive the machine does not have.
    if (!DriveReachable(text)) {
        Inform(Naming("This machine has no drive:", std::string(1, DriveLetterOf(text)) + ":"));
        Edit20->setFocus();
        return;
    }
    app::Settings& s = app::settings();
    s.backupFolder = folder;
    form_.SaveWindowAndFolderSettings();
    backupFilePath_ = text;

    if (const char* refusal = BackupDriveRefusal(text)) {
        Inform(app::MessageText(refusal));
        return;
    }
    if (!platform::directoryExists(s.backupFolder) && !platform::forceDirectories(s.backupFolder)) {
        Refuse(Naming("The folder cannot be created:", s.backupFolder));
        return;
    }
    if (clientAbsent(currentClient_, *CheckListBox1)) {
        Inform(app::MessageText("Message4"));
        return;
    }
    if (!AnyChecked(*CheckListBox1)) {
        Inform(app::MessageText("Message5"));
        return;
    }
    if (CheckRunningClient(currentClient_, true)) return;
    TForm2* window = windows().form2;
    if (!window) return;
    window->setJob(backupFilePath_, currentClient_, CheckListBox1, CheckListBox2);
    window->exec();
}

}  // namespace qb::ui
