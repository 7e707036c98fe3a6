#include "ui/form1_wizard_backup.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/password.h"
#include "app/settings.h"
#include "catalog/backup_name.h"
#include "catalog/detection.h"
#include "catalog/identities.h"
#include "catalog/installed.h"
#include "catalog/kinds.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/running_check.h"
#include "ui/form1.h"
#include "ui/form1_wizard.h"
#include "ui/machine_dialogs.h"
#include "ui/window_support.h"

namespace qb::ui {

namespace {

// The clients of page 1, left column first, with their family codes.
struct ClientLine {
    const char* text;
    ClientKind code;
};
constexpr ClientLine kClientLines[WizardBackupPages::kClients] = {
    {"Microsoft Outlook Express", kind::OutlookExpress},
    {"Microsoft Outlook", kind::Outlook},
    {"Eudora", kind::Eudora},
    {"Opera Mail", kind::OperaFamily},
    {"Netscape Messenger", kind::NetscapeFamily},
    {"The Bat", kind::TheBat},
    {"Poco Mail", kind::PocoMailFamily},
    {"Incredi Mail", kind::IncrediMail},
    {"Pegasus Mail", kind::PegasusMail},
    {"Internet Explorer Favorites", kind::Favorites},
};

const QColor kNotInstalled(128, 128, 128);

template <class T>
T* named(QWidget* parent, const char* name) {
    T* w = new T(parent);
    w->setObjectName(name);
    return w;
}

template <class T>
T* named(QWidget* parent, const char* name, const char* text) {
    T* w = new T(text, parent);
    w->setObjectName(name);
    return w;
}

QLabel* wrapped(QWidget* parent, const char* name, const char* text) {
    auto* l = named<QLabel>(parent, name, text);
    l->setWordWrap(true);
    return l;
}

void setTextColour(QLabel* label, const QColor* colour) {
    QPalette p = label->parentWidget()->palette();
    if (colour) p.setColor(QPalette::WindowText, *colour);
    label->setPalette(p);
}

// Whether the machine has anything of a family that a backup could take: the
// family itself or one of its versions.
bool familyInstalled(ClientKind family) {
    if (ClientInstalledForBackup(family)) return true;
    for (const ClientVersion& v : InstalledVersions(family))
        if (ClientInstalledForBackup(v.kind)) return true;
    return false;
}

}  // namespace

WizardBackupPages::WizardBackupPages(WizardPages& wizard) : wizard_(wizard) {
    buildWelcome();
    buildClients();
    buildItems();
    buildFile();
    buildReady();
    buildRunning();
    buildDone();
}

ClientKind WizardBackupPages::clientOfLine(int line) {
    return line >= 0 && line < kClients ? kClientLines[line].code : kind::None;
}

// ---- building ----

void WizardBackupPages::buildWelcome() {
    QWidget* page = wizard_.page(WizardPages::Welcome);
    QVBoxLayout* body = wizard_.body(WizardPages::Welcome);
    Label100 = wrapped(page, "Label100",
                       "This wizard can backup and restore your favorite Email Client data: "
                       "identities, email and news messages, address book, accounts, message "
                       "rules, signatures and the blocked senders list.");
    Label101 = wrapped(page, "Label101", "To begin, click a button below:");
    MakeBold(*Label101);
    body->addWidget(Label100);
    body->addSpacing(10);
    body->addWidget(Label101);
    body->addSpacing(6);

    const struct {
        QPushButton** button;
        const char* name;
        const char* text;
        void (WizardBackupPages::*slot)();
    } buttons[] = {
        {&Button100, "Button100", "Backup", &WizardBackupPages::Button100Click},
        {&Button101, "Button101", "Restore", &WizardBackupPages::Button101Click},
        {&Button102, "Button102", "Schedule", &WizardBackupPages::Button102Click},
        {&Button103, "Button103", "Options", &WizardBackupPages::Button103Click},
        {&Button104, "Button104", "Standard Mode", &WizardBackupPages::Button104Click},
    };
    auto* column = new QVBoxLayout;
    column->setSpacing(6);
    for (const auto& b : buttons) {
        *b.button = named<QPushButton>(page, b.name, b.text);
        QPushButton* button = *b.button;
        QFont large = button->font();
        large.setBold(true);
        large.setPointSizeF(large.pointSizeF() * 1.15);
        button->setFont(large);
        button->setMinimumSize(220, 34);
        column->addWidget(button);
        connect(button, &QPushButton::clicked, this, b.slot);
    }
    auto* centred = new QHBoxLayout;
    centred->addStretch(1);
    centred->addLayout(column);
    centred->addStretch(1);
    body->addLayout(centred);
    body->addStretch(1);
}

void WizardBackupPages::buildClients() {
    QWidget* page = wizard_.page(WizardPages::ChooseClient);
    auto* group = new QButtonGroup(this);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(10);
    for (int i = 0; i < kClients; ++i) {
        const QByteArray radioName = "RadioButton" + QByteArray::number(100 + i);
        const QByteArray labelName = "Label" + QByteArray::number(102 + i);
        auto* radio = named<QRadioButton>(page, radioName.constData());
        radio->setAccessibleName(kClientLines[i].text);
        auto* label = named<QLabel>(page, labelName.constData(), kClientLines[i].text);
        label->setBuddy(radio);
        label->setCursor(Qt::PointingHandCursor);
        label->installEventFilter(this);
        group->addButton(radio, i);
        clientRadio[i] = radio;
        clientLabel[i] = label;
        auto* line = new QHBoxLayout;
        line->setSpacing(4);
        line->addWidget(radio);
        line->addWidget(label, 1);
        grid->addLayout(line, i % 5, i / 5);
    }
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    wizard_.body(WizardPages::ChooseClient)->addSpacing(8);
    wizard_.body(WizardPages::ChooseClient)->addLayout(grid);
    wizard_.body(WizardPages::ChooseClient)->addStretch(1);
    connect(group, &QButtonGroup::idClicked, this, &WizardBackupPages::ClientClick);
    // The keyboard goes down the left column, then the right one.
    for (int i = 0; i + 1 < kClients; ++i)
        QWidget::setTabOrder(clientRadio[i], clientRadio[i + 1]);
}

void WizardBackupPages::buildItems() {
    QWidget* page = wizard_.page(WizardPages::BackupItems);
    Label114 = named<QLabel>(page, "Label114", "Version:");
    ComboBox100 = named<QComboBox>(page, "ComboBox100");
    ComboBox100->setAccessibleName("Version");
    Label114->setBuddy(ComboBox100);
    Label112 = named<QLabel>(page, "Label112", "Identities:");
    CheckListBox100 = CheckList(page, "CheckListBox100", "Identities", Label112);
    Label113 = named<QLabel>(page, "Label113", "Items in main identity");
    CheckListBox101 = CheckList(page, "CheckListBox101", "Items in main identity", Label113);

    auto* version = new QHBoxLayout;
    version->addWidget(Label114);
    version->addWidget(ComboBox100);
    version->addStretch(1);
    auto* grid = new QGridLayout;
    grid->addWidget(Label112, 0, 0);
    grid->addWidget(Label113, 0, 1);
    grid->addWidget(CheckListBox100, 1, 0);
    grid->addWidget(CheckListBox101, 1, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);
    QVBoxLayout* body = wizard_.body(WizardPages::BackupItems);
    body->addLayout(version);
    body->addLayout(grid, 1);
    Label114->hide();
    ComboBox100->hide();
    QWidget::setTabOrder(ComboBox100, CheckListBox100);
    QWidget::setTabOrder(CheckListBox100, CheckListBox101);
    connect(ComboBox100, &QComboBox::activated, this, &WizardBackupPages::ComboBox100Change);
}

void WizardBackupPages::buildFile() {
    QWidget* page = wizard_.page(WizardPages::BackupFile);
    Edit100 = named<QLineEdit>(page, "Edit100");
    Edit100->setAccessibleName("Backup file");
    wizard_.heading(WizardPages::BackupFile)->setBuddy(Edit100);
    Button105 = named<QPushButton>(page, "Button105", "Browse...");
    auto* file = new QHBoxLayout;
    file->addWidget(Edit100, 1);
    file->addWidget(Button105);

    GroupBox100 = named<QGroupBox>(page, "GroupBox100", " Security ");
    CheckBox100 = named<QCheckBox>(GroupBox100, "CheckBox100", "Protect backup file with password");
    Label115 = named<QLabel>(GroupBox100, "Label115", "Password:");
    Edit101 = named<QLineEdit>(GroupBox100, "Edit101");
    Label116 = named<QLabel>(GroupBox100, "Label116", "Retype password:");
    Edit102 = named<QLineEdit>(GroupBox100, "Edit102");
    for (QLineEdit* field : {Edit101, Edit102}) {
        field->setEchoMode(QLineEdit::Password);
        field->setEnabled(false);
    }
    // The masks show "*", whatever the style's own choice.
    Edit101->setStyleSheet("lineedit-password-character: 42");
    Edit102->setStyleSheet("lineedit-password-character: 42");
    Label115->setBuddy(Edit101);
    Label116->setBuddy(Edit102);
    auto* security = new QGridLayout(GroupBox100);
    security->addWidget(CheckBox100, 0, 0, 1, 2);
    security->addWidget(Label115, 1, 0);
    security->addWidget(Edit101, 1, 1);
    security->addWidget(Label116, 2, 0);
    security->addWidget(Edit102, 2, 1);
    security->setColumnStretch(1, 1);

    GroupBox101 = named<QGroupBox>(page, "GroupBox101", "Files");
    RadioButton110 = named<QRadioButton>(GroupBox101, "RadioButton110", "One backup file");
    RadioButton111 = named<QRadioButton>(GroupBox101, "RadioButton111", "Multiple files");
    ComboBox101 = named<QComboBox>(GroupBox101, "ComboBox101");
    ComboBox101->addItems(
        {"Floppy Disk (1.44 Mb)", "ZIP 100Mb", "ZIP 250Mb", "CD 650Mb", "CD 700Mb"});
    ComboBox101->setAccessibleName("Volume size");
    RadioButton110->setChecked(true);
    ComboBox101->setEnabled(false);
    auto* files = new QVBoxLayout(GroupBox101);
    files->addWidget(RadioButton110);
    files->addWidget(RadioButton111);
    auto* size = new QHBoxLayout;
    size->setContentsMargins(20, 0, 0, 0);
    size->addWidget(ComboBox101, 1);
    files->addLayout(size);
    files->addStretch(1);

    auto* groups = new QHBoxLayout;
    groups->addWidget(GroupBox100, 3);
    groups->addWidget(GroupBox101, 2);
    QVBoxLayout* body = wizard_.body(WizardPages::BackupFile);
    body->addSpacing(4);
    body->addLayout(file);
    body->addSpacing(8);
    body->addLayout(groups);
    body->addStretch(1);

    QWidget::setTabOrder(Edit100, Button105);
    QWidget::setTabOrder(Button105, CheckBox100);
    QWidget::setTabOrder(CheckBox100, Edit101);
    QWidget::setTabOrder(Edit101, Edit102);
    QWidget::setTabOrder(Edit102, RadioButton110);
    QWidget::setTabOrder(RadioButton110, RadioButton111);
    QWidget::setTabOrder(RadioButton111, ComboBox101);

    connect(Button105, &QPushButton::clicked, this, &WizardBackupPages::Button105Click);
    connect(Edit100, &QLineEdit::editingFinished, this, &WizardBackupPages::Edit100Exit);
    connect(CheckBox100, &QCheckBox::clicked, this, &WizardBackupPages::CheckBox100Click);
    connect(Edit101, &QLineEdit::editingFinished, this, &WizardBackupPages::Edit101Exit);
    connect(Edit102, &QLineEdit::editingFinished, this, &WizardBackupPages::Edit102Exit);
    connect(RadioButton110, &QRadioButton::clicked, this, &WizardBackupPages::RadioButton110Click);
    connect(RadioButton111, &QRadioButton::clicked, this, &WizardBackupPages::RadioButton111Click);
    connect(ComboBox101, &QComboBox::activated, this, &WizardBackupPages::ComboBox101Change);
}

void WizardBackupPages::buildReady() {
    QWidget* page = wizard_.page(WizardPages::ReadyToBackup);
    Label117 = wrapped(page, "Label117", "To change backup settings, please click back.");
    Label118 = wrapped(page, "Label118", "To continue, click Next.");
    MakeBold(*Label118);
    QVBoxLayout* body = wizard_.body(WizardPages::ReadyToBackup);
    body->addSpacing(8);
    body->addWidget(Label117);
    body->addSpacing(8);
    body->addWidget(Label118);
    body->addStretch(1);
}

void WizardBackupPages::buildRunning() {
    QWidget* page = wizard_.page(WizardPages::BackingUp);
    Label119 = wrapped(page, "Label119", "The program is backing up your Email data to:");
    Label120 = named<QLabel>(page, "Label120");
    Label120->setWordWrap(true);
    Label120->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Label119->setBuddy(Label120);
    ProgressBar100 = named<QProgressBar>(page, "ProgressBar100");
    ProgressBar100->setAccessibleName("Progress of the item");
    ProgressBar101 = named<QProgressBar>(page, "ProgressBar101");
    ProgressBar101->setAccessibleName("Progress of the backup");
    for (QProgressBar* bar : {ProgressBar100, ProgressBar101})
        bar->setRange(0, 100);
    QVBoxLayout* body = wizard_.body(WizardPages::BackingUp);
    body->addSpacing(8);
    body->addWidget(Label119);
    body->addWidget(Label120);
    body->addSpacing(12);
    body->addWidget(ProgressBar100);
    body->addWidget(ProgressBar101);
    body->addStretch(1);
}

void WizardBackupPages::buildDone() {
    QWidget* page = wizard_.page(WizardPages::BackupDone);
    Label121 = wrapped(page, "Label121", "The backup was succesful completed.");
    Panel100 = named<QFrame>(page, "Panel100");
    Panel100->setFrameShape(QFrame::Panel);
    Panel100->setFrameShadow(QFrame::Sunken);
    Label122 = named<QLabel>(Panel100, "Label122");
    Label122->setWordWrap(true);
    Label122->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Label122->setAccessibleName("Backup file");
    auto* frame = new QHBoxLayout(Panel100);
    frame->setContentsMargins(8, 4, 8, 4);
    frame->addWidget(Label122);
    Button106 = named<QPushButton>(page, "Button106", "Go to folder");
    Button106->setMinimumWidth(120);
    Label123 = wrapped(page, "Label123",
                       "Note: Is recommended to copy the backup file to a floppy, CD-ROM, ZIP "
                       "diskette or network drive.");
    auto* folder = new QHBoxLayout;
    folder->addStretch(1);
    folder->addWidget(Button106);
    QVBoxLayout* body = wizard_.body(WizardPages::BackupDone);
    body->addSpacing(8);
    body->addWidget(Label121);
    body->addSpacing(6);
    body->addWidget(Panel100);
    body->addLayout(folder);
    body->addSpacing(8);
    body->addWidget(Label123);
    body->addStretch(1);
    connect(Button106, &QPushButton::clicked, this, &WizardBackupPages::Button106Click);
}

// ---- moving ----

bool WizardBackupPages::nextAllowed(int page) {
    switch (page) {
        case WizardPages::ChooseClient:
            if (wizard_.WizardClient == kind::None) {
                Refuse(app::MessageText("Message4"));
                return false;
            }
            return true;
        case WizardPages::BackupItems:
            if (!AnyChecked(*CheckListBox100)) {
                Refuse(app::MessageText("Message34"));
                return false;
            }
            if (!AnyChecked(*CheckListBox101)) {
                Refuse(app::MessageText("Message35"));
                return false;
            }
            return true;
        case WizardPages::BackupFile:
            return fileAllowed() && passwordAllowed();
        case WizardPages::ReadyToBackup: {
            if (CheckRunningClient(wizard_.WizardClient, true)) return false;
            // After "Close all" the person sees the page again before the backup
            // starts. A client without a check shows no dialog: an earlier "Close
            // all" does not count then.
            const bool closedAll = !RunningCheckProgramNames(wizard_.WizardClient, true).empty() &&
                                   CloseDialogTag() == static_cast<int>(CloseChoice::CloseAll);
            return !closedAll;
        }
        default:
            return true;
    }
}

bool WizardBackupPages::fileAllowed() {
    Edit100Exit();
    const std::string text = S(Edit100->text());
    const std::string folder = platform::extractFilePath(text);
    if (folder.empty()) {
        Refuse(app::MessageText("Message3"));
        Edit100->setFocus();
        return false;
    }
    if (!DriveReachable(text)) {
        Refuse(Naming("This machine has no drive:", std::string(1, DriveLetterOf(text)) + ":"));
        Edit100->setFocus();
        return false;
    }
    if (const char* refusal = BackupDriveRefusal(text)) {
        Refuse(app::MessageText(refusal));
        return false;
    }
    app::settings().backupFolder = folder;
    return true;
}

bool WizardBackupPages::passwordAllowed() {
    if (!CheckBox100->isChecked()) return true;
    if (Edit101->text() != Edit102->text()) {
        Refuse(app::MessageText("Message6"));
        Edit102->clear();
        Edit101->selectAll();
        Edit101->setFocus();
        return false;
    }
    if (const auto tooShort = app::PasswordTooShort(S(Edit101->text()))) {
        Refuse(*tooShort);
        Edit101->selectAll();
        Edit101->setFocus();
        return false;
    }
    return true;
}

void WizardBackupPages::pageShown(int page) {
    switch (page) {
        case WizardPages::ChooseClient:
            if (wizard_.GoingForward) showClients();
            break;
        case WizardPages::BackupItems:
            if (wizard_.GoingForward) showItems();
            break;
        case WizardPages::BackupFile:
            if (wizard_.GoingForward) showFile();
            break;
        case WizardPages::BackingUp:
            // Back from the outcome shows how the run ended; only Next runs it.
            if (wizard_.GoingForward) runBackup();
            break;
        case WizardPages::BackupDone:
            showOutcome();
            break;
        default:
            break;
    }
    // The keyboard starts on the page's first choice, else on Next.
    QWidget* first = nullptr;
    switch (page) {
        case WizardPages::Welcome:
            first = Button100;
            break;
        case WizardPages::ChooseClient:
            for (int i = 0; i < kClients && !first; ++i)
                if (clientRadio[i]->isChecked()) first = clientRadio[i];
            if (!first) first = clientRadio[0];
            break;
        case WizardPages::BackupItems:
            first = ComboBox100->isVisible() ? static_cast<QWidget*>(ComboBox100) : CheckListBox100;
            break;
        case WizardPages::BackupFile:
            first = Edit100;
            break;
        default:
            first = wizard_.nextButton();
            break;
    }
    if (first && first->isEnabled()) first->setFocus();
}

void WizardBackupPages::pageHidden(int page) {
    if (page == WizardPages::BackupFile) wizard_.WizardFilePath = S(Edit100->text());
}

// ---- page 0 ----

void WizardBackupPages::Button100Click() {
    wizard_.GoingBack = false;
    wizard_.GoingForward = true;
    wizard_.showPage(WizardPages::ChooseClient);
}

void WizardBackupPages::Button101Click() {
    wizard_.GoingBack = false;
    wizard_.GoingForward = true;
    wizard_.showPage(WizardPages::ChooseBackupFile);
}

void WizardBackupPages::Button102Click() {
    Form1& form = wizard_.form();
    form.ShowStandardMode();
    form.PageControl1()->setCurrentWidget(form.tabPanel(4)->parentWidget());
}

void WizardBackupPages::Button103Click() {
    Form1& form = wizard_.form();
    form.ShowStandardMode();
    form.PageControl1()->setCurrentWidget(form.tabPanel(3)->parentWidget());
}

void WizardBackupPages::Button104Click() {
    wizard_.form().ShowStandardMode();
}

// ---- page 1 ----

void WizardBackupPages::showClients() {
    wizard_.WizardClient = kind::None;
    for (int i = 0; i < kClients; ++i)
        setTextColour(clientLabel[i],
                      familyInstalled(kClientLines[i].code) ? nullptr : &kNotInstalled);
    wizard_.WizardClient = DefaultMailClient();
    QButtonGroup* group = clientRadio[0]->group();
    group->setExclusive(false);
    for (int i = 0; i < kClients; ++i)
        clientRadio[i]->setChecked(kClientLines[i].code == wizard_.WizardClient);
    group->setExclusive(true);
}

void WizardBackupPages::ClientClick(int line) {
    if (line < 0 || line >= kClients) return;
    wizard_.WizardClient = kClientLines[line].code;
    clientRadio[line]->setChecked(true);
}

bool WizardBackupPages::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (int i = 0; i < kClients; ++i)
            if (watched == clientLabel[i]) {
                ClientClick(i);
                clientRadio[i]->setFocus();
                return true;
            }
    }
    return QObject::eventFilter(watched, event);
}

// ---- page 2 ----

void WizardBackupPages::showItems() {
    const ClientKind family = familyOf(wizard_.WizardClient);
    ComboBox100->clear();
    const std::vector<ClientVersion> versions = InstalledVersions(family);
    for (const ClientVersion& v : versions)
        ComboBox100->addItem(Q(v.label), v.kind);
    const bool hasVersions = !versions.empty();
    Label114->setVisible(hasVersions);
    ComboBox100->setVisible(hasVersions);
    if (hasVersions) {
        wizard_.WizardClient = versions.front().kind;
        ComboBox100->setCurrentIndex(0);
    } else if (family != kind::None) {
        wizard_.WizardClient = family;
    }
    listItems();
}

void WizardBackupPages::ComboBox100Change(int index) {
    const std::vector<ClientVersion> versions = InstalledVersions(familyOf(wizard_.WizardClient));
    if (index < 0 || index >= static_cast<int>(versions.size())) return;
    wizard_.WizardClient = versions[static_cast<size_t>(index)].kind;
    listItems();
}

void WizardBackupPages::listItems() {
    ListClientInto(wizard_.WizardClient, *CheckListBox100, *CheckListBox101);
}

// ---- page 3 ----

void WizardBackupPages::showFile() {
    const app::Settings& s = app::settings();
    Edit100->setText(Q(ProposedBackupFile(wizard_.WizardClient)));
    CheckBox100->setChecked(false);
    Edit101->clear();
    Edit102->clear();
    CheckBox100Click();
    RadioButton111->setChecked(s.multipleVolumes);
    RadioButton110->setChecked(!s.multipleVolumes);
    ComboBox101->setEnabled(s.multipleVolumes);
    if (s.volumeSizeIndex >= 0 && s.volumeSizeIndex < ComboBox101->count())
        ComboBox101->setCurrentIndex(s.volumeSizeIndex);
}

void WizardBackupPages::Button105Click() {
    if (const auto file = PickBackupFile(&wizard_.form(), S(Edit100->text())))
        Edit100->setText(Q(*file));
}

void WizardBackupPages::Edit100Exit() {
    const std::string text = S(Edit100->text());
    if (text.empty() || !platform::extractFileExt(text).empty()) return;
    const std::string separator = text.back() == '\\' ? "" : "\\";
    Edit100->setText(Q(text + separator + DefaultBackupFileName(wizard_.WizardClient)));
}

void WizardBackupPages::CheckBox100Click() {
    const bool on = CheckBox100->isChecked();
    Edit101->setEnabled(on);
    Edit102->setEnabled(on);
    Label115->setEnabled(on);
    Label116->setEnabled(on);
}

void WizardBackupPages::Edit101Exit() {
    if (Edit102->isEnabled() && Edit101->hasFocus()) Edit102->setFocus();
}

void WizardBackupPages::Edit102Exit() {
    if (!CheckBox100->isChecked() || Edit101->text() == Edit102->text()) return;
    // The box takes the focus from the field: a second exit must not ask again.
    const QSignalBlocker quiet(Edit102);
    Edit102->clear();
    Refuse(app::MessageText("Message6"));
    Edit101->selectAll();
    Edit101->setFocus();
}

void WizardBackupPages::RadioButton110Click() {
    ComboBox101->setEnabled(false);
    app::settings().multipleVolumes = false;
}

void WizardBackupPages::RadioButton111Click() {
    ComboBox101->setEnabled(true);
    app::settings().multipleVolumes = true;
}

void WizardBackupPages::ComboBox101Change(int index) {
    app::settings().volumeSizeIndex = index;
}

// ---- page 5 ----

void WizardBackupPages::runBackup() {
    ProgressBar100->setValue(0);
    ProgressBar101->setValue(0);
    const std::string path = wizard_.WizardFilePath;
    Label120->setText(Q(path));
    report_ = app::BackupReport{};
    ran_ = false;
    wizard_.setJobRunning(true);
    // The page shows before the job takes the thread.
    QApplication::processEvents();

    const std::string folder = platform::extractFilePath(path);
    if (!folder.empty() && !platform::directoryExists(folder) &&
        !platform::forceDirectories(folder)) {
        report_.error = Naming("The folder cannot be created:", folder);
    } else {
        wizard_.form().SaveWindowAndFolderSettings();
        const Selection identities = SelectionOf(*CheckListBox100);
        const Selection items = SelectionOf(*CheckListBox101);
        jobs::ArchiveJob& job = jobs::archiveJob();
        job.abortRequest = false;
        job.errorFlag = false;
        job.aborted = false;
        const app::JobPasswordScope protect(CheckBox100->isChecked() ? S(Edit101->text())
                                                                     : std::string());
        const jobs::ScopedJobProgress bars(*this);
        report_ = app::RunBackupJob(wizard_.WizardClient, path, identities, items);
    }
    // The password was for this one backup: a second run asks for it again.
    Edit101->clear();
    Edit102->clear();
    ran_ = true;
    ProgressBar100->setValue(100);
    ProgressBar101->setValue(100);
    wizard_.setJobRunning(false);
}

void WizardBackupPages::progress(int overall, int item, std::string_view) {
    ProgressBar100->setValue(item);
    ProgressBar101->setValue(overall);
    // The job runs on this thread: the window repaints and is closed only here.
    QApplication::processEvents();
}

// ---- page 6 ----

void WizardBackupPages::showOutcome() {
    QLabel* heading = wizard_.heading(WizardPages::BackupDone);
    Label122->setText(Q(wizard_.WizardFilePath));
    setTextColour(heading, nullptr);
    setTextColour(Label121, nullptr);
    const auto text = [](const char* key) { return Q(app::MessageText(key)).trimmed(); };
    const bool done = ran_ && report_.outcome == app::BackupOutcome::Done;
    if (done) {
        heading->setText(text("Message37"));
        Label121->setText(text("Message40"));
    } else if (ran_ && report_.outcome == app::BackupOutcome::Aborted) {
        heading->setText(text("Message38"));
        Label121->setText(text("Message41"));
        Label122->clear();
    } else {
        const QColor red(Qt::red);
        setTextColour(heading, &red);
        setTextColour(Label121, &red);
        heading->setText(text("Message39"));
        // The job's reason, so that the person knows what to mend.
        QString why = text("Message42");
        if (!report_.error.empty()) why += "\n" + Q(report_.error);
        Label121->setText(why);
        Label122->clear();
    }
    Panel100->setVisible(done);
    Button106->setVisible(done);
    Label123->setVisible(done);
}

void WizardBackupPages::Button106Click() {
    const std::string file = S(Label122->text());
    if (!file.empty()) folderOpener()(platform::extractFilePath(file));
}

}  // namespace qb::ui
