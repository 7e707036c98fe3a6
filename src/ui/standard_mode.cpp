#include "ui/standard_mode.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/backup_run.h"
#include "app/settings.h"
#include "catalog/backup_name.h"
#include "catalog/identities.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "jobs/restore_job.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/interaction.h"
#include "support/running_check.h"
#include "ui/backup_window.h"
#include "ui/client_tree.h"
#include "ui/machine_dialogs.h"
#include "ui/machine_tree.h"
#include "ui/restore_window.h"
#include "ui/window_support.h"

namespace qb::ui {

namespace {

// A backup needs at least this much room on its drive.
constexpr uint64_t kMinimumFreeSpace = 500000;

void inform(const std::string& text) {
    interaction().messageBox(text, MsgIcon::Information, MsgButtons::Ok);
}

void refuse(const std::string& text) {
    interaction().messageBox(text, MsgIcon::Error, MsgButtons::Ok);
}

// A message text followed by the file, folder or drive it names.
std::string naming(std::string_view key, std::string_view what) {
    return app::MessageText(key) + " " + std::string(what);
}

// The drive letter of a path written "X:...", else 0.
char driveLetterOf(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])))
        return static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    return 0;
}

// Whether the machine has the drive of a path written "X:..."; paths without a
// drive letter pass (other checks refuse them).
bool driveReachable(const std::string& path) {
    const char letter = driveLetterOf(path);
    return letter == 0 || platform::driveType(letter) != platform::DriveType::NoRootDir;
}

QListWidgetItem* addCheckLine(QListWidget& list, const std::string& text, bool checked) {
    auto* item = new QListWidgetItem(Q(text), &list);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    return item;
}

QListWidget* checkList(QWidget* parent, const char* name, const char* accessible) {
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->setAccessibleName(accessible);
    return list;
}

QLabel* label(QWidget* parent, const char* name, const char* text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QPushButton* boldButton(QWidget* parent, const char* name, const char* text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    QFont f = b->font();
    f.setBold(true);
    b->setFont(f);
    b->setMinimumWidth(120);
    return b;
}

void save(const StandardModeHost& host) {
    if (host.saveWindowAndFolderSettings)
        host.saveWindowAndFolderSettings();
    else
        app::SaveWindowAndFolderSettings(app::settings());
}

// The folder a tree selection stands for: the path, or its folder for a file.
std::string folderOfSelection(const std::string& path) {
    if (path.empty()) return {};
    return platform::fileExists(path) ? platform::extractFilePath(path) : path;
}

}  // namespace

// ---- Backup ----

BackupPage::BackupPage(const StandardModeHost& host, QWidget* parent)
    : QWidget(parent), host_(host) {
    setObjectName("Panel1");
    Label1 = label(this, "Label1", "Data to backup");
    TreeView1 = new QTreeWidget(this);
    TreeView1->setObjectName("TreeView1");
    TreeView1->setHeaderHidden(true);
    TreeView1->setRootIsDecorated(true);
    TreeView1->setItemsExpandable(false);
    TreeView1->setAccessibleName("Data to backup");
    Label1->setBuddy(TreeView1);
    Label2 = label(this, "Label2", "Identities");
    CheckListBox1 = checkList(this, "CheckListBox1", "Identities");
    Label2->setBuddy(CheckListBox1);
    Label3 = label(this, "Label3", "Items");
    CheckListBox2 = checkList(this, "CheckListBox2", "Items");
    Label3->setBuddy(CheckListBox2);

    GroupBox5 = new QGroupBox("Backup Location", this);
    GroupBox5->setObjectName("GroupBox5");
    Label4 = label(GroupBox5, "Label4", "Save backup file to:");
    Edit1 = new QLineEdit(GroupBox5);
    Edit1->setObjectName("Edit1");
    Label4->setBuddy(Edit1);
    Button3 = new QPushButton("Browse", GroupBox5);
    Button3->setObjectName("Button3");
    Button3->setAccessibleName("Browse for the backup file");
    Label19 = label(GroupBox5, "Label19", "The Email Client is not Installed!");
    QPalette warn = Label19->palette();
    warn.setColor(QPalette::WindowText, QColor(Qt::red));
    Label19->setPalette(warn);
    Label19->hide();
    auto* location = new QGridLayout(GroupBox5);
    location->addWidget(Label4, 0, 0);
    location->addWidget(Label19, 0, 1, Qt::AlignRight);
    location->addWidget(Edit1, 1, 0, 1, 2);
    location->addWidget(Button3, 1, 2);
    location->setColumnStretch(0, 1);

    Button2 = boldButton(this, "Button2", "Create BackUp!");

    auto* grid = new QGridLayout(this);
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
    bottom->addWidget(GroupBox5, 1);
    bottom->addWidget(Button2, 0, Qt::AlignBottom);
    grid->addLayout(bottom, 2, 0, 1, 3);

    setTabOrder(TreeView1, CheckListBox1);
    setTabOrder(CheckListBox1, CheckListBox2);
    setTabOrder(CheckListBox2, Edit1);
    setTabOrder(Edit1, Button3);
    setTabOrder(Button3, Button2);

    FillClientTree(*TreeView1);
    connect(TreeView1, &QTreeWidget::itemClicked, this, [this] { TreeView1Click(); });
    // The keyboard chooses a client as a click does.
    connect(TreeView1, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* now, QTreeWidgetItem*) {
                if (now && KindOf(now) != currentClient_) TreeView1Click();
            });
    connect(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    connect(Edit1, &QLineEdit::editingFinished, this, [this] { Edit1Exit(); });
    connect(Button3, &QPushButton::clicked, this, &BackupPage::Button3Click);
    connect(Button2, &QPushButton::clicked, this, &BackupPage::Button2Click);
}

void BackupPage::TabSheet1Show() {
    TreeView1->expandAll();
}

bool BackupPage::selectClient(ClientKind kind) {
    QTreeWidgetItem* item = FindClientEntry(*TreeView1, kind);
    if (!item) return false;
    {
        const QSignalBlocker quiet(TreeView1);
        TreeView1->setCurrentItem(item);
    }
    TreeView1Click();
    return true;
}

void BackupPage::TreeView1Click() {
    CheckListBox1->clear();
    CheckListBox2->clear();
    QTreeWidgetItem* selected = TreeView1->currentItem();
    currentClient_ = KindOf(selected);

    app::Settings& s = app::settings();
    if (s.backupFolder.empty()) s.backupFolder = s.defaultBackupLocation;
    // A folder kept without its closing backslash is still the folder itself.
    const std::string folder =
        s.backupFolder.empty() ? std::string() : platform::includeTrailingBackslash(s.backupFolder);
    Edit1->setText(Q(folder + DefaultBackupFileName(currentClient_)));

    std::vector<std::string> identities, items;
    const bool selectable = ListIdentitiesAndItems(currentClient_, identities, items);
    for (const std::string& id : identities)
        addCheckLine(*CheckListBox1, id, true);
    for (const std::string& item : items)
        addCheckLine(*CheckListBox2, item, true);
    CheckListBox2->setEnabled(selectable);

    if (!identities.empty()) {
        Label19->hide();
    } else {
        // The heading is no client; every other entry without identities is absent.
        Label19->setVisible(selected && currentClient_ != kind::None);
        CheckListBox2->clear();
    }

    if (restoreTree_) {
        const std::string picked = folderOfSelection(restoreTree_->selectedPath());
        if (!picked.empty()) s.restoreFolder = picked;
    }
}

void BackupPage::Edit1Change() {
    backupFilePath_ = platform::extractFilePath(S(Edit1->text()));
}

void BackupPage::Edit1Exit() {
    const std::string text = S(Edit1->text());
    if (!text.empty() && platform::extractFileExt(text).empty() && text.back() != '\\')
        Edit1->setText(Q(text + "\\"));
}

void BackupPage::Button3Click() {
    if (const auto file =
            PickBackupFile(host_.mainWindow ? host_.mainWindow : this, S(Edit1->text())))
        Edit1->setText(Q(*file));
}

void BackupPage::Button2Click() {
    const std::string text = S(Edit1->text());
    const std::string folder = platform::extractFilePath(text);
    if (folder.empty()) {
        inform("Please input backup directory!");
        Edit1->setFocus();
        return;
    }
    if (platform::extractFileExt(text) != ".ebk") {
        inform("Please click an Email client!");
        return;
    }
    // Nothing is written for a drive the machine does not have.
    if (!driveReachable(text)) {
        inform(naming("This machine has no drive:", std::string(1, driveLetterOf(text)) + ":"));
        Edit1->setFocus();
        return;
    }
    app::Settings& s = app::settings();
    s.backupFolder = folder;
    save(host_);
    backupFilePath_ = text;

    const std::string upper = platform::upperAscii(text);
    const size_t slash = upper.find('\\');
    const std::string root = slash == std::string::npos ? upper : upper.substr(0, slash + 1);
    if (root.size() == 3 && root[1] == ':' &&
        platform::driveType(root[0]) == platform::DriveType::CdRom) {
        inform(app::MessageText("Message17"));
        return;
    }
    const auto free = platform::diskFree(upper.empty() ? '\0' : upper[0]);
    if (!free || *free < kMinimumFreeSpace) {
        inform(app::MessageText("Message15"));
        return;
    }
    if (!platform::directoryExists(s.backupFolder) && !platform::forceDirectories(s.backupFolder)) {
        refuse(naming("The folder cannot be created:", s.backupFolder));
        return;
    }
    if (CheckListBox1->count() == 0) {
        inform(app::MessageText("Message4"));
        return;
    }
    bool anyIdentity = false;
    for (int i = 0; i < CheckListBox1->count(); ++i)
        if (CheckListBox1->item(i)->checkState() == Qt::Checked) anyIdentity = true;
    if (!anyIdentity) {
        inform(app::MessageText("Message5"));
        return;
    }
    if (CheckRunningClient(currentClient_, true)) return;
    if (!host_.backupWindow) return;
    host_.backupWindow->setJob(backupFilePath_, currentClient_, CheckListBox1, CheckListBox2);
    host_.backupWindow->exec();
}

// ---- Restore ----

RestorePage::RestorePage(const StandardModeHost& host, QWidget* parent)
    : QWidget(parent), host_(host) {
    setObjectName("Panel2");
    Label18 = label(this, "Label18", "Please select the backup file");
    ShellTreeView1 = new MachineTree(this);
    ShellTreeView1->setObjectName("ShellTreeView1");
    ShellTreeView1->setAccessibleName("Please select the backup file");
    ShellTreeView1->setIndentation(14);
    ShellTreeView1->setMinimumWidth(240);
    Label18->setBuddy(ShellTreeView1);
    Label5 = label(this, "Label5", "Identities");
    CheckListBox3 = checkList(this, "CheckListBox3", "Identities");
    Label5->setBuddy(CheckListBox3);
    Label6 = label(this, "Label6", "Items");
    CheckListBox4 = checkList(this, "CheckListBox4", "Items");
    Label6->setBuddy(CheckListBox4);

    GroupBox1 = new QGroupBox(" Restore Location ", this);
    GroupBox1->setObjectName("GroupBox1");
    RadioButton1 = new QRadioButton("Restore directly in the Email Client ", GroupBox1);
    RadioButton1->setObjectName("RadioButton1");
    RadioButton1->setChecked(true);
    RadioButton2 = new QRadioButton("Restore to a custom path", GroupBox1);
    RadioButton2->setObjectName("RadioButton2");
    Edit2 = new QLineEdit(GroupBox1);
    Edit2->setObjectName("Edit2");
    Edit2->setAccessibleName("Restore to a custom path");
    Button4 = new QPushButton("Browse", GroupBox1);
    Button4->setObjectName("Button4");
    Button4->setAccessibleName("Browse for the restore folder");
    auto* location = new QGridLayout(GroupBox1);
    location->addWidget(RadioButton1, 0, 0, 1, 2);
    location->addWidget(RadioButton2, 1, 0, 1, 2);
    location->addWidget(Edit2, 2, 0);
    location->addWidget(Button4, 2, 1);
    location->setColumnStretch(0, 1);

    Button5 = boldButton(this, "Button5", "Restore");

    auto* grid = new QGridLayout(this);
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

    setTabOrder(ShellTreeView1, CheckListBox3);
    setTabOrder(CheckListBox3, CheckListBox4);
    setTabOrder(CheckListBox4, RadioButton1);
    setTabOrder(RadioButton1, RadioButton2);
    setTabOrder(RadioButton2, Edit2);
    setTabOrder(Edit2, Button4);
    setTabOrder(Button4, Button5);

    connect(ShellTreeView1, &QTreeWidget::currentItemChanged, this,
            [this] { ShellTreeView1Click(); });
    connect(RadioButton1, &QRadioButton::clicked, this, &RestorePage::RadioButton1Click);
    connect(RadioButton2, &QRadioButton::clicked, this, &RestorePage::RadioButton2Click);
    connect(Edit2, &QLineEdit::textChanged, this, [this] { Edit2Change(); });
    connect(Button4, &QPushButton::clicked, this, &RestorePage::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &RestorePage::Button5Click);
    Button5->setEnabled(false);
    enableFolder(false);
}

void RestorePage::enableFolder(bool on) {
    Edit2->setEnabled(on);
    Button4->setEnabled(on);
}

void RestorePage::TabSheet2Show() {
    Button5->setEnabled(false);
    enableFolder(!RadioButton1->isChecked());
    const std::string folder = app::settings().restoreFolder;
    if (!folder.empty()) ShellTreeView1->goTo(folder);
}

void RestorePage::ShellTreeView1Click() {
    CheckListBox3->clear();
    CheckListBox4->clear();
    restoreFilePath_ = ShellTreeView1->selectedPath();
    const std::string manifest = jobs::StagingPath(jobs::kManifestName);
    if (platform::fileExists(manifest)) platform::deleteFile(manifest);
    restoreClient_ = kind::None;
    if (restoreFilePath_.empty() || !platform::fileExists(restoreFilePath_)) {
        Button5->setEnabled(false);
        return;
    }
    jobs::archiveJob().password.clear();
    restoreClient_ = jobs::ReadBackupClient(restoreFilePath_);
    if (restoreClient_ == kind::None) {
        Button5->setEnabled(false);
        return;
    }
    std::vector<bool> present;
    uint8_t itemCount = 0;
    std::vector<std::string> identities, items;
    bool mismatch = false;
    const bool selectable =
        jobs::ListBackupContents(jobs::ListKindOf(restoreClient_), restoreFilePath_, present,
                                 itemCount, identities, items, mismatch);
    for (const std::string& id : identities)
        addCheckLine(*CheckListBox3, id, true);
    for (size_t k = 0; k < items.size(); ++k) {
        QListWidgetItem* line = addCheckLine(*CheckListBox4, items[k], false);
        const bool held = k >= present.size() || present[k];
        if (!held) line->setFlags(line->flags() & ~Qt::ItemIsEnabled);
        line->setCheckState(held ? Qt::Checked : Qt::Unchecked);
    }
    CheckListBox4->setEnabled(selectable);
    // A backup whose contents do not match its client offers nothing to restore.
    Button5->setEnabled(!mismatch);
}

void RestorePage::RadioButton1Click() {
    enableFolder(false);
}

void RestorePage::RadioButton2Click() {
    enableFolder(true);
}

void RestorePage::Edit2Change() {
    app::settings().restoreFolder = S(Edit2->text());
}

void RestorePage::Button4Click() {
    if (const auto folder =
            PickFolder(host_.mainWindow ? host_.mainWindow : this, S(Edit2->text())))
        Edit2->setText(Q(*folder));
}

void RestorePage::Button5Click() {
    std::string file = restoreFilePath_;
    if (platform::extractFileExt(file) != ".ebk") file = platform::changeFileExt(file, ".ebk");
    const bool toFolder = RadioButton2->isChecked();
    const std::string folder = S(Edit2->text());
    if (toFolder) {
        if (folder.empty()) {
            inform(app::MessageText("Message3"));
            return;
        }
        if (!driveReachable(folder)) {
            inform(
                naming("This machine has no drive:", std::string(1, driveLetterOf(folder)) + ":"));
            Edit2->setFocus();
            return;
        }
        if (driveLetterOf(folder) == 0) {
            // Only a full path of the machine says where the data goes.
            inform(app::MessageText("Message3"));
            Edit2->setFocus();
            return;
        }
    }
    if (CheckRunningClient(restoreClient_, false)) return;
    if (!host_.restoreWindow) return;
    host_.restoreWindow->setJob(file, restoreClient_, CheckListBox3, CheckListBox4, toFolder,
                                folder);
    host_.restoreWindow->exec();
}

}  // namespace qb::ui
