#include "ui/form1_wizard_restore.h"

#include <QApplication>
#include <QDateTime>
#include <QFileIconProvider>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/backup_run.h"
#include "app/settings.h"
#include "jobs/archive_job.h"
#include "jobs/restore_job.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/running_check.h"
#include "ui/form1.h"
#include "ui/form1_wizard.h"
#include "ui/machine_dialogs.h"
#include "ui/machine_tree.h"
#include "ui/passwordform1.h"
#include "ui/window_support.h"

namespace qb::ui {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kFolderRole = Qt::UserRole + 1;
constexpr int kSortRole = Qt::UserRole + 2;

// The file list's columns: their English headers (texts of the language file's
// messages, keyed by the English text) and the widths they take.
const char* const kColumns[] = {"Name", "Size", "Type", "Modified"};
constexpr int kWidths[] = {160, 60, 80, 100};

QLabel* label(QWidget* parent, const char* name, const char* text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setWordWrap(true);
    return l;
}

void setRed(QLabel* l, bool red) {
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText,
               red ? QColor(Qt::red) : QApplication::palette(l).color(QPalette::WindowText));
    l->setPalette(p);
}

// Folders before files, each in name order (letter case ignored); the size and
// date columns by their values.
class FileEntry : public QTreeWidgetItem {
  public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const bool folder = data(0, kFolderRole).toBool();
        const bool otherFolder = other.data(0, kFolderRole).toBool();
        if (folder != otherFolder) return folder;
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (column == 1 || column == 3) {
            const qlonglong a = data(column, kSortRole).toLongLong();
            const qlonglong b = other.data(column, kSortRole).toLongLong();
            if (a != b) return a < b;
        }
        return text(0).compare(other.text(0), Qt::CaseInsensitive) < 0;
    }
};

// A text of the language file keyed by its English wording; that wording when the
// file is older than the text.
std::string keyed(std::string_view english) {
    const std::string text = app::MessageText(english);
    return text == "ERROR" ? std::string(english) : text;
}

std::string naming(std::string_view english, std::string_view what) {
    return keyed(english) + " " + std::string(what);
}

QString sizeText(uint64_t bytes) {
    // As the shell counts: kilobytes, rounded up.
    return QLocale().toString(static_cast<qulonglong>((bytes + 1023) / 1024)) + " KB";
}

}  // namespace

WizardRestorePages::WizardRestorePages(WizardPages& wizard) : wizard_(wizard) {
    buildChooseFile();
    buildItems();
    buildWhere();
    buildReady();
    buildRestoring();
    buildDone();
}

void WizardRestorePages::buildChooseFile() {
    QWidget* page = wizard_.page(WizardPages::ChooseBackupFile);
    TreeView200 = new MachineTree(page);
    TreeView200->setObjectName("TreeView200");
    TreeView200->setFoldersOnly(true);
    TreeView200->setIndentation(14);
    TreeView200->setAccessibleName("Folders");
    ListView200 = new QTreeWidget(page);
    ListView200->setObjectName("ListView200");
    ListView200->setAccessibleName("Folders and backup files");
    ListView200->setRootIsDecorated(false);
    ListView200->setUniformRowHeights(true);
    ListView200->setAllColumnsShowFocus(true);
    ListView200->setColumnCount(4);
    ListView200->setHeaderLabels({kColumns[0], kColumns[1], kColumns[2], kColumns[3]});
    // The last column takes what the others leave, so that the dates show whole.
    ListView200->header()->setStretchLastSection(true);
    ListView200->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ListView200->setSortingEnabled(true);
    ListView200->sortByColumn(0, Qt::AscendingOrder);
    wizard_.heading(WizardPages::ChooseBackupFile)->setBuddy(TreeView200);
    Timer200 = new QTimer(this);
    Timer200->setObjectName("Timer200");
    Timer200->setSingleShot(true);
    Timer200->setInterval(200);

    auto* row = new QHBoxLayout;
    row->addWidget(TreeView200, 2);
    row->addWidget(ListView200, 3);
    wizard_.body(WizardPages::ChooseBackupFile)->addLayout(row, 1);
    QWidget::setTabOrder(TreeView200, ListView200);

    connect(TreeView200, &QTreeWidget::currentItemChanged, this, [this] { TreeView200Change(); });
    connect(ListView200, &QTreeWidget::itemClicked, this, [this] { ListView200Click(); });
    connect(ListView200, &QTreeWidget::currentItemChanged, this, [this] { ListView200Click(); });
    connect(ListView200, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { ListView200DblClick(item); });
    // Return on an entry does what a double click does.
    ListView200->installEventFilter(this);
    connect(Timer200, &QTimer::timeout, this, &WizardRestorePages::Timer200Timer);
}

void WizardRestorePages::buildItems() {
    QWidget* page = wizard_.page(WizardPages::RestoreItems);
    Label200 = label(page, "Label200", "Identities:");
    CheckListBox200 = CheckList(page, "CheckListBox200", "Identities", Label200);
    Label201 = label(page, "Label201", "Items in main identity");
    CheckListBox201 = CheckList(page, "CheckListBox201", "Items", Label201);
    auto* grid = new QGridLayout;
    grid->addWidget(Label200, 0, 0);
    grid->addWidget(Label201, 0, 1);
    grid->addWidget(CheckListBox200, 1, 0);
    grid->addWidget(CheckListBox201, 1, 1);
    grid->setRowStretch(1, 1);
    wizard_.body(WizardPages::RestoreItems)->addLayout(grid, 1);
    QWidget::setTabOrder(CheckListBox200, CheckListBox201);
}

void WizardRestorePages::buildWhere() {
    QWidget* page = wizard_.page(WizardPages::RestoreWhere);
    RadioButton200 = new QRadioButton("Restore directly in Email Client", page);
    RadioButton200->setObjectName("RadioButton200");
    RadioButton200->setChecked(true);
    RadioButton201 = new QRadioButton("Restore in other directory in order to import", page);
    RadioButton201->setObjectName("RadioButton201");
    Edit200 = new QLineEdit(page);
    Edit200->setObjectName("Edit200");
    Edit200->setAccessibleName("Restore in other directory in order to import");
    Button200 = new QPushButton("Browse...", page);
    Button200->setObjectName("Button200");
    Button200->setAccessibleName("Browse for the folder");
    auto* grid = new QGridLayout;
    grid->addWidget(RadioButton200, 0, 0, 1, 2);
    grid->addWidget(RadioButton201, 1, 0, 1, 2);
    grid->addWidget(Edit200, 2, 0);
    grid->addWidget(Button200, 2, 1);
    grid->setColumnStretch(0, 1);
    grid->setContentsMargins(20, 10, 0, 0);
    QVBoxLayout* body = wizard_.body(WizardPages::RestoreWhere);
    body->addLayout(grid);
    body->addStretch(1);
    QWidget::setTabOrder(RadioButton200, RadioButton201);
    QWidget::setTabOrder(RadioButton201, Edit200);
    QWidget::setTabOrder(Edit200, Button200);
    connect(RadioButton200, &QRadioButton::toggled, this, [this](bool on) {
        if (on) RadioButton200Click();
    });
    connect(RadioButton201, &QRadioButton::toggled, this, [this](bool on) {
        if (on) RadioButton201Click();
    });
    connect(Button200, &QPushButton::clicked, this, &WizardRestorePages::Button200Click);
    enableFolder(false);
}

void WizardRestorePages::buildReady() {
    QWidget* page = wizard_.page(WizardPages::ReadyToRestore);
    Label202 = label(page, "Label202", "Make sure that EmailClient program is close.");
    Label203 = label(page, "Label203", "To continue, click Next.");
    MakeBold(*Label203);
    QVBoxLayout* body = wizard_.body(WizardPages::ReadyToRestore);
    body->addSpacing(10);
    body->addWidget(Label202);
    body->addSpacing(10);
    body->addWidget(Label203);
    body->addStretch(1);
}

void WizardRestorePages::buildRestoring() {
    QWidget* page = wizard_.page(WizardPages::Restoring);
    Label204 = label(page, "Label204", "The program is restoring your Email Client data from:");
    Label205 = label(page, "Label205", "");
    Label205->setTextInteractionFlags(Qt::TextSelectableByMouse);
    MakeBold(*Label205);
    Label204->setBuddy(Label205);
    ProgressBar200 = new QProgressBar(page);
    ProgressBar200->setObjectName("ProgressBar200");
    ProgressBar200->setRange(0, 100);
    ProgressBar200->setValue(0);
    ProgressBar200->setAccessibleName("Restore progress");
    QVBoxLayout* body = wizard_.body(WizardPages::Restoring);
    body->addSpacing(10);
    body->addWidget(Label204);
    body->addWidget(Label205);
    body->addSpacing(16);
    body->addWidget(ProgressBar200);
    body->addStretch(1);
}

void WizardRestorePages::buildDone() {
    QWidget* page = wizard_.page(WizardPages::RestoreDone);
    Label206 = label(page, "Label206", "The items selected were succesful restored.");
    Label207 = label(page, "Label207", "");
    Label207->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QVBoxLayout* body = wizard_.body(WizardPages::RestoreDone);
    body->addSpacing(10);
    body->addWidget(Label206);
    body->addSpacing(10);
    body->addWidget(Label207);
    body->addStretch(1);
}

void WizardRestorePages::applySettings() {
    // The headers are the language file's texts, as the rest of the window.
    for (int i = 0; i < 4; ++i)
        ListView200->headerItem()->setText(i, Q(keyed(kColumns[i])));
}

// ---- Next and the page events ----

bool WizardRestorePages::nextAllowed(int page) {
    switch (page) {
        case WizardPages::RestoreItems: {
            if (!AnyChecked(*CheckListBox200)) {
                Refuse(app::MessageText("Message34"));
                return false;
            }
            if (!AnyChecked(*CheckListBox201)) {
                Refuse(app::MessageText("Message35"));
                return false;
            }
            return true;
        }
        case WizardPages::RestoreWhere:
            return !folderRefused();
        case WizardPages::ReadyToRestore:
            // A client without programs to look for has nothing to close.
            if (RunningCheckProgramNames(wizard_.WizardClient, false).empty()) return true;
            if (CheckRunningClient(wizard_.WizardClient, false)) return false;
            // After "Close all" the person looks at the page again before going on.
            return CloseDialogTag() != static_cast<int>(CloseChoice::CloseAll);
        default:
            return true;
    }
}

void WizardRestorePages::pageShown(int page) {
    switch (page) {
        case WizardPages::ChooseBackupFile:
            TabSheet12Show();
            break;
        case WizardPages::RestoreItems:
            TabSheet13Show();
            break;
        case WizardPages::RestoreWhere:
            TabSheet14Show();
            break;
        case WizardPages::ReadyToRestore:
            wizard_.nextButton()->setFocus();
            break;
        case WizardPages::Restoring:
            TabSheet16Show();
            break;
        case WizardPages::RestoreDone:
            TabSheet17Show();
            break;
        default:
            break;
    }
}

void WizardRestorePages::pageHidden(int page) {
    if (page == WizardPages::ChooseBackupFile) TabSheet12Hide();
}

// ---- page 7: the backup file ----

void WizardRestorePages::TabSheet12Show() {
    ListView200->setEnabled(true);
    // Back from the items shows the file chosen before, where it is.
    const std::string chosen = wizard_.WizardFilePath;
    const std::string chosenFolder =
        chosen.empty() ? std::string()
                       : platform::excludeTrailingBackslash(platform::extractFilePath(chosen));
    const bool inFolder = !chosenFolder.empty() && platform::directoryExists(chosenFolder);
    const std::string restoreFolder = app::settings().restoreFolder;
    TreeView200->goTo(inFolder ? chosenFolder : restoreFolder);
    if (!TreeView200->currentItem()) TreeView200->setCurrentItem(TreeView200->topLevelItem(0));
    if (inFolder) {
        for (int i = 0; i < ListView200->topLevelItemCount(); ++i) {
            QTreeWidgetItem* e = ListView200->topLevelItem(i);
            if (platform::sameName(S(e->data(0, kPathRole).toString()), chosen))
                ListView200->setCurrentItem(e);
        }
    }
    // The widths kept in the settings first (stored now when missing); 200 ms later
    // the list's own.
    app::LoadColumnWidths(app::settings());
    const auto& cols = app::settings().columns;
    if (ListView200->columnCount() > 3) ListView200->setColumnWidth(2, 0);
    setColumnWidths(cols[0], cols[1], cols[2], cols[3]);
    Timer200->start();
    TreeView200->setFocus();
}

void WizardRestorePages::TabSheet12Hide() {
    Timer200->stop();
}

void WizardRestorePages::Timer200Timer() {
    setColumnWidths(kWidths[0], kWidths[1], kWidths[2], kWidths[3]);
}

void WizardRestorePages::setColumnWidths(int a, int b, int c, int d) {
    if (ListView200->columnCount() < 4) return;
    const int widths[] = {a, b, c, d};
    for (int i = 0; i < 4; ++i)
        ListView200->setColumnWidth(i, widths[i]);
}

void WizardRestorePages::TreeView200Change() {
    fillFileList();
    Timer200Timer();
}

void WizardRestorePages::fillFileList() {
    ListView200->clear();
    // The file chosen is the one selected in the list, nothing else.
    wizard_.WizardFilePath.clear();
    const std::string folder = TreeView200->selectedPath();
    if (folder.empty()) return;
    static QFileIconProvider icons;
    const std::string base = platform::includeTrailingBackslash(folder);
    const QString folderType = Q(keyed("File Folder"));
    const QString fileType = Q(keyed("Backup file"));
    ListView200->setSortingEnabled(false);
    for (const platform::SearchRec& r : platform::findFiles(base + "*", platform::faDirectory)) {
        if (r.name == "." || r.name == "..") continue;
        const bool isFolder = (r.attr & platform::faDirectory) != 0;
        if (!isFolder && !platform::equalsNoCase(platform::extractFileExt(r.name), ".ebk"))
            continue;
        auto* e = new FileEntry(ListView200);
        e->setText(0, Q(r.name));
        e->setIcon(0, icons.icon(isFolder ? QFileIconProvider::Folder : QFileIconProvider::File));
        e->setData(0, kPathRole, Q(base + r.name));
        e->setData(0, kFolderRole, isFolder);
        const QDateTime when = QDateTime::fromSecsSinceEpoch(r.lastWrite);
        e->setText(3, QLocale().toString(when, QLocale::ShortFormat));
        e->setData(3, kSortRole, static_cast<qlonglong>(r.lastWrite));
        if (isFolder) {
            e->setText(2, folderType);
        } else {
            e->setText(1, sizeText(r.size));
            e->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
            e->setData(1, kSortRole, static_cast<qlonglong>(r.size));
            e->setText(2, fileType);
        }
    }
    ListView200->setSortingEnabled(true);
}

void WizardRestorePages::ListView200Click() {
    const QTreeWidgetItem* e = ListView200->currentItem();
    const std::string path = e ? S(e->data(0, kPathRole).toString()) : std::string();
    wizard_.WizardFilePath =
        e && !e->data(0, kFolderRole).toBool() && platform::fileExists(path) ? path : std::string();
    Timer200Timer();
}

void WizardRestorePages::ListView200DblClick(QTreeWidgetItem* item) {
    if (!item) return;
    if (!item->data(0, kFolderRole).toBool()) {
        ListView200Click();
        return;
    }
    // Into the folder: the tree opens its folder and selects the child of that name.
    QTreeWidgetItem* at = TreeView200->currentItem();
    if (!at) return;
    at->setExpanded(true);
    const std::string wanted = S(item->data(0, kPathRole).toString());
    for (int i = 0; i < at->childCount(); ++i) {
        QTreeWidgetItem* c = at->child(i);
        if (c->text(0) == item->text(0) || platform::sameName(MachineTree::pathOf(c), wanted)) {
            TreeView200->setCurrentItem(c);
            TreeView200->scrollToItem(c);
            break;
        }
    }
    Timer200Timer();
}

bool WizardRestorePages::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListView200 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && ListView200->currentItem()) {
            ListView200DblClick(ListView200->currentItem());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

// ---- page 8: what the backup holds ----

void WizardRestorePages::TabSheet13Show() {
    CheckListBox200->clear();
    CheckListBox201->clear();
    // Before the main window shows ("/o"), the password window and the messages
    // would come without it: they wait for the window.
    if (!wizard_.form().isVisible()) {
        const std::string file = wizard_.WizardFilePath;
        QTimer::singleShot(0, this, [this, file] {
            if (wizard_.currentPage() == WizardPages::RestoreItems &&
                wizard_.WizardFilePath == file)
                listBackup();
        });
        return;
    }
    listBackup();
}

bool WizardRestorePages::listBackup() {
    CheckListBox200->clear();
    CheckListBox201->clear();
    jobs::ArchiveJob& job = jobs::archiveJob();
    // The password of the backup chosen before never opens another one.
    job.password.clear();
    wizard_.WizardClient = kind::None;
    const std::string file = wizard_.WizardFilePath;
    if (file.empty()) return true;  // nothing chosen: nothing to list
    const auto backToFiles = [this](const std::string& text) {
        Refuse(text);
        wizard_.showPage(WizardPages::ChooseBackupFile);
        return false;
    };
    if (!platform::fileExists(file))
        return backToFiles(naming("The backup file cannot be found:", file));
    // A protected backup shows nothing of its contents before its password; Cancel
    // leaves the lists empty.
    switch (jobs::UnlockBackup(file, AskBackupPassword)) {
        case jobs::UnlockResult::Open:
            break;
        case jobs::UnlockResult::Cancelled:
            return true;
        case jobs::UnlockResult::Failed:
            return backToFiles(naming("This file cannot be read as a backup:", file));
    }
    wizard_.WizardClient = jobs::ReadBackupClient(file);
    if (wizard_.WizardClient == kind::None) {
        job.password.clear();
        return backToFiles(naming("This file cannot be read as a backup:", file));
    }
    // A backup of another client's contents lists no identities: Next refuses it.
    ListBackupInto(wizard_.WizardClient, file, *CheckListBox200, *CheckListBox201);
    if (CheckListBox200->count() > 0) CheckListBox200->setCurrentRow(0);
    CheckListBox200->setFocus();
    return true;
}

// ---- page 9: where to ----

void WizardRestorePages::TabSheet14Show() {
    // Back from the next page keeps the choice made here.
    if (wizard_.GoingForward) RadioButton200->setChecked(true);
    enableFolder(RadioButton201->isChecked());
    (RadioButton200->isChecked() ? RadioButton200 : RadioButton201)->setFocus();
}

void WizardRestorePages::enableFolder(bool on) {
    Edit200->setEnabled(on);
    Button200->setEnabled(on);
}

void WizardRestorePages::RadioButton200Click() {
    enableFolder(false);
}

void WizardRestorePages::RadioButton201Click() {
    enableFolder(true);
}

void WizardRestorePages::Button200Click() {
    if (const auto folder = PickFolder(&wizard_.form(), S(Edit200->text())))
        Edit200->setText(Q(*folder));
}

bool WizardRestorePages::folderRefused() {
    if (!RadioButton201->isChecked()) return false;
    const std::string folder = S(Edit200->text());
    // Only a full path of the machine says where the data goes; an empty one
    // would send the restore into the client.
    if (folder.empty() || DriveLetterOf(folder) == 0) {
        Inform(app::MessageText("Message3"));
    } else if (!DriveReachable(folder)) {
        Inform(Naming("This machine has no drive:", std::string(1, DriveLetterOf(folder)) + ":"));
    } else {
        return false;
    }
    Edit200->setFocus();
    return true;
}

// ---- page 11: the restore ----

void WizardRestorePages::TabSheet16Show() {
    // Back from the outcome does not restore again.
    if (!wizard_.GoingForward) return;
    const std::string file = wizard_.WizardFilePath;
    ProgressBar200->setValue(0);
    Label205->setText(Q(file));
    std::string folder = S(Edit200->text());
    if (!folder.empty()) folder = platform::includeTrailingBackslash(folder);
    const bool toFolder = RadioButton201->isChecked();
    const Selection identities = SelectionOf(*CheckListBox200);
    const Selection items = SelectionOf(*CheckListBox201);
    jobs::ArchiveJob& job = jobs::archiveJob();
    // The password is held for one restore: another one of the same backup asks
    // again, and Cancel starts nothing.
    if (job.password.empty() && jobs::IsProtectedBackup(file) &&
        jobs::UnlockBackup(file, AskBackupPassword) != jobs::UnlockResult::Open) {
        wizard_.showPage(WizardPages::ReadyToRestore);
        return;
    }
    job.abortRequest = false;
    job.errorFlag = false;
    job.aborted = false;
    job.errorText.clear();
    undoFile_.clear();
    targetFolder_ = toFolder ? folder : std::string();
    wizard_.setJobRunning(true);
    running_ = true;
    {
        jobs::ScopedJobProgress bar(*this);
        if (toFolder) {
            jobs::RunRestoreToFolder(file, folder, wizard_.WizardClient, identities, items);
        } else {
            // The client's current data is backed up first, so that the person
            // can undo the restore; without that backup nothing is restored.
            const app::RestoreReport done =
                app::RestoreIntoClient(file, wizard_.WizardClient, identities, items, true);
            undoFile_ = done.undoFile;
            if (done.notStarted) {
                job.errorFlag = true;
                job.errorText = done.error;
            }
        }
    }
    running_ = false;
    job.password.clear();
    outcome_ = job.errorFlag ? Outcome::Failed : job.aborted ? Outcome::Aborted : Outcome::Done;
    errorText_ = job.errorText;
    ProgressBar200->setValue(100);
    wizard_.setJobRunning(false);
    wizard_.nextButton()->setFocus();
}

void WizardRestorePages::progress(int overall, int /*item*/, std::string_view /*label*/) {
    ProgressBar200->setValue(overall);
    QApplication::processEvents();
}

// ---- page 12: the outcome ----

void WizardRestorePages::TabSheet17Show() {
    QLabel* heading = wizard_.heading(WizardPages::RestoreDone);
    setRed(heading, false);
    setRed(Label206, false);
    switch (outcome_) {
        case Outcome::Failed:
            heading->setText(Q(app::MessageText("Message45") + errorText_).trimmed());
            Label206->setText(Q(app::MessageText("Message48")));
            setRed(Label206, true);
            break;
        case Outcome::Aborted:
            heading->setText(Q(app::MessageText("Message44")));
            setRed(heading, true);
            Label206->setText(Q(app::MessageText("Message47")));
            break;
        default:
            heading->setText(Q(app::MessageText("Message43")));
            Label206->setText(Q(app::MessageText("Message46")));
            break;
    }
    // Where the data went: the folder it was written to, or the backup of what
    // the restore replaced in the client.
    std::string where;
    if (!targetFolder_.empty())
        where = naming("The items were written to:", targetFolder_);
    else if (!undoFile_.empty())
        where = naming("The data the restore replaced is kept in:", undoFile_);
    Label207->setText(Q(where));
    Label207->setVisible(!where.empty());
    wizard_.nextButton()->setFocus();
}

}  // namespace qb::ui
