#include "ui/schedule_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyleOptionButton>
#include <QStyleOptionViewItem>
#include <QTimeEdit>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <chrono>
#include <exception>
#include <vector>

#include "app/date_time.h"
#include "app/schedule_setup.h"
#include "app/settings.h"
#include "catalog/detection.h"
#include "catalog/kinds.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/interaction.h"

namespace qb::ui {

namespace {

using namespace std::chrono;

constexpr int kCodeRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kIconSize = 16;

QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QIcon checkImage(QWidget* w, bool on) {
    QPixmap pm(kIconSize, kIconSize);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    QStyleOptionButton opt;
    opt.initFrom(w);
    opt.rect = QRect(1, 1, kIconSize - 2, kIconSize - 2);
    opt.state = QStyle::State_Enabled | (on ? QStyle::State_On : QStyle::State_Off);
    w->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &opt, &p, w);
    return QIcon(pm);
}

// The heading's image: a letter.
QIcon headingImage(QWidget* w) {
    QPixmap pm(kIconSize, kIconSize);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(1.5, 3.5, kIconSize - 3, kIconSize - 7);
    p.setPen(QPen(w->palette().color(QPalette::Text), 1.2));
    p.setBrush(w->palette().color(QPalette::Base));
    p.drawRect(r);
    p.drawLine(r.topLeft(), QPointF(r.center().x(), r.center().y() + 1));
    p.drawLine(r.topRight(), QPointF(r.center().x(), r.center().y() + 1));
    return QIcon(pm);
}

QDate toQDate(double value) {
    const year_month_day d(app::DatePart(app::FromDateTime(value)));
    return QDate(static_cast<int>(d.year()), static_cast<int>(static_cast<unsigned>(d.month())),
                 static_cast<int>(static_cast<unsigned>(d.day())));
}

double fromQDate(const QDate& d) {
    const local_days midnight(std::chrono::year(d.year()) /
                              std::chrono::month(static_cast<unsigned>(d.month())) /
                              std::chrono::day(static_cast<unsigned>(d.day())));
    return app::ToDateTime(app::LocalTime(midnight));
}

QTime toQTime(double value) {
    const auto seconds = app::TimeOfDay(app::FromDateTime(value)).count();
    return QTime(0, 0).addSecs(static_cast<int>(seconds));
}

double fromQTime(const QTime& t) {
    return static_cast<double>(t.msecsSinceStartOfDay() / 1000) / 86400.0;
}

void report(const std::exception& e) {
    interaction().messageBox(e.what(), MsgIcon::Error, MsgButtons::Ok);
}

std::vector<QTreeWidgetItem*> flatEntries(QTreeWidget* tree) {
    std::vector<QTreeWidgetItem*> entries;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        entries.push_back(*it);
    return entries;
}

void fillList(QListWidget* list, const std::vector<std::pair<std::string, bool>>& names) {
    for (const auto& [name, checked] : names) {
        auto* line = new QListWidgetItem(Q(name), list);
        line->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        line->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
}

std::vector<std::pair<std::string, bool>> listMarks(const QListWidget* list) {
    std::vector<std::pair<std::string, bool>> marks;
    for (int i = 0; i < list->count(); ++i)
        marks.emplace_back(list->item(i)->text().toStdString(),
                           list->item(i)->checkState() == Qt::Checked);
    return marks;
}

QLabel* label(const char* name, const char* text, QWidget* parent) {
    auto* l = new QLabel(QString::fromLatin1(text), parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

}  // namespace

// ---------------------------------------------------------------------------

ScheduleTree::ScheduleTree(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setIconSize(QSize(kIconSize, kIconSize));
    images_[kImageOff] = checkImage(this, false);
    images_[kImageOn] = checkImage(this, true);
    images_[kImageHeading] = headingImage(this);
    QPixmap none(kIconSize, kIconSize);
    none.fill(Qt::transparent);
    blank_ = QIcon(none);
}

ClientKind ScheduleTree::codeOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, kCodeRole).toInt() : kind::None;
}

int ScheduleTree::imageOf(const QTreeWidgetItem* item) {
    if (!item) return kImageNone;
    const QVariant v = item->data(0, kImageRole);
    return v.isValid() ? v.toInt() : kImageNone;
}

void ScheduleTree::setImage(QTreeWidgetItem* item, int image) {
    item->setData(0, kImageRole, image);
    // An entry without an image keeps an empty one, so that the labels line up.
    item->setIcon(0, image >= 0 && image <= 2 ? images_[image] : blank_);
    item->setData(0, Qt::AccessibleDescriptionRole,
                  image == kImageOn    ? QStringLiteral("scheduled")
                  : image == kImageOff ? QStringLiteral("not scheduled")
                                       : QString());
}

QRect ScheduleTree::iconRect(const QTreeWidgetItem* item) {
    if (!item || item->icon(0).isNull()) return {};
    QStyleOptionViewItem opt;
    initViewItemOption(&opt);
    opt.rect = visualItemRect(item);
    opt.index = indexFromItem(item);
    opt.features |= QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasDisplay;
    opt.icon = item->icon(0);
    opt.text = item->text(0);
    opt.decorationSize = iconSize();
    return style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &opt, this);
}

bool ScheduleTree::onIcon(const QTreeWidgetItem* item, const QPoint& pos) {
    return iconRect(item).contains(pos);
}

void ScheduleTree::mousePressEvent(QMouseEvent* e) {
    // The page saves the choices of the entry that is about to be left.
    emit pressed(e->position().toPoint());
    QTreeWidget::mousePressEvent(e);
}

void ScheduleTree::mouseReleaseEvent(QMouseEvent* e) {
    QTreeWidget::mouseReleaseEvent(e);
    emit released(e->position().toPoint());
}

void ScheduleTree::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Space && e->modifiers() == Qt::NoModifier) {
        emit spacePressed();
        return;
    }
    QTreeWidget::keyPressEvent(e);
}

// ---------------------------------------------------------------------------

SchedulePage::SchedulePage(QWidget* parent) : QWidget(parent) {
    browseFolder = [this](const std::string& start) -> std::string {
        const auto host = platform::hostPath(start);
        const QString chosen = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Select Folder"), host ? Q(host->string()) : QString());
        if (chosen.isEmpty()) return {};
        return platform::includeTrailingBackslash(platform::windowsPath(chosen.toStdString()));
    };

    CheckBox3 = new QCheckBox(QStringLiteral("Enable Scheduled Backups"), this);
    CheckBox3->setObjectName(QStringLiteral("CheckBox3"));

    Label8 = label("Label8", "Data to Backup", this);
    TreeView2 = new ScheduleTree(this);
    TreeView2->setObjectName(QStringLiteral("TreeView2"));
    Label8->setBuddy(TreeView2);
    TreeView2->setAccessibleName(Label8->text());

    Label13 = label("Label13", "Identities", this);
    CheckListBox5 = new QListWidget(this);
    CheckListBox5->setObjectName(QStringLiteral("CheckListBox5"));
    Label13->setBuddy(CheckListBox5);
    CheckListBox5->setAccessibleName(Label13->text());

    Label9 = label("Label9", "Items", this);
    CheckListBox6 = new QListWidget(this);
    CheckListBox6->setObjectName(QStringLiteral("CheckListBox6"));
    Label9->setBuddy(CheckListBox6);
    CheckListBox6->setAccessibleName(Label9->text());

    Label10 = label("Label10", "Back Up data every", this);
    Edit3 = new QLineEdit(QStringLiteral("5"), this);
    Edit3->setObjectName(QStringLiteral("Edit3"));
    Edit3->setMaxLength(2);
    Edit3->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), Edit3));
    Edit3->setMaximumWidth(Edit3->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12);
    Label10->setBuddy(Edit3);
    Edit3->setAccessibleName(Label10->text());
    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    ComboBox2->addItems({QStringLiteral("Hours"), QStringLiteral("Days"), QStringLiteral("Weeks"),
                         QStringLiteral("Months")});
    ComboBox2->setAccessibleName(QStringLiteral("Unit"));

    Label11 = label("Label11", "Backup start day:", this);
    DateTimePicker1 = new QDateEdit(this);
    DateTimePicker1->setObjectName(QStringLiteral("DateTimePicker1"));
    DateTimePicker1->setCalendarPopup(true);
    Label11->setBuddy(DateTimePicker1);
    DateTimePicker1->setAccessibleName(Label11->text());

    Label12 = label("Label12", "Backup time:", this);
    DateTimePicker2 = new QTimeEdit(this);
    DateTimePicker2->setObjectName(QStringLiteral("DateTimePicker2"));
    DateTimePicker2->setDisplayFormat(QStringLiteral("HH:mm"));
    Label12->setBuddy(DateTimePicker2);
    DateTimePicker2->setAccessibleName(Label12->text());

    Label14 = label("Label14", "Backups Folder", this);
    Edit4 = new QLineEdit(this);
    Edit4->setObjectName(QStringLiteral("Edit4"));
    Label14->setBuddy(Edit4);
    Edit4->setAccessibleName(Label14->text());
    Button6 = new QPushButton(QStringLiteral("Browse"), this);
    Button6->setObjectName(QStringLiteral("Button6"));

    // Layout: the switch; the tree and the two lists side by side; the timing.
    auto* top = new QVBoxLayout(this);
    top->addWidget(CheckBox3);
    auto* lists = new QGridLayout;
    lists->addWidget(Label8, 0, 0);
    lists->addWidget(TreeView2, 1, 0);
    lists->addWidget(Label13, 0, 1);
    lists->addWidget(CheckListBox5, 1, 1);
    lists->addWidget(Label9, 0, 2);
    lists->addWidget(CheckListBox6, 1, 2);
    lists->setColumnStretch(0, 5);
    lists->setColumnStretch(1, 4);
    lists->setColumnStretch(2, 4);
    top->addLayout(lists, 1);
    auto* timing = new QGridLayout;
    timing->addWidget(Label10, 0, 0);
    auto* every = new QHBoxLayout;
    every->addWidget(Edit3);
    every->addWidget(ComboBox2);
    every->addStretch(1);
    timing->addLayout(every, 0, 1);
    timing->addWidget(Label11, 1, 0);
    timing->addWidget(DateTimePicker1, 1, 1, Qt::AlignLeft);
    timing->addWidget(Label12, 2, 0);
    timing->addWidget(DateTimePicker2, 2, 1, Qt::AlignLeft);
    timing->addWidget(Label14, 3, 0);
    auto* folder = new QHBoxLayout;
    folder->addWidget(Edit4, 1);
    folder->addWidget(Button6);
    timing->addLayout(folder, 3, 1);
    timing->setColumnStretch(1, 1);
    top->addLayout(timing);

    connect(CheckBox3, &QCheckBox::toggled, this, &SchedulePage::CheckBox3Click);
    connect(TreeView2, &ScheduleTree::pressed, this, &SchedulePage::TreeView2MouseDown);
    connect(TreeView2, &ScheduleTree::released, this, &SchedulePage::TreeView2MouseUp);
    connect(TreeView2, &ScheduleTree::spacePressed, this, [this] {
        QTreeWidgetItem* item = TreeView2->currentItem();
        saveChoices();
        toggle(item);
        selectEntry(item);
    });
    // A selection moved by the keyboard leaves and loads entries as a click does.
    connect(TreeView2, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
                if (treeMouseDown_ || !TreeView2->hasFocus()) return;
                saveChoices();
                selectEntry(current);
            });
    connect(Edit3, &QLineEdit::textChanged, this, &SchedulePage::Edit3Change);
    connect(ComboBox2, &QComboBox::currentIndexChanged, this, &SchedulePage::ComboBox2Change);
    connect(DateTimePicker1, &QDateEdit::dateChanged, this, &SchedulePage::DateTimePicker1Change);
    connect(DateTimePicker2, &QTimeEdit::timeChanged, this, &SchedulePage::DateTimePicker2Change);
    connect(Edit4, &QLineEdit::textChanged, this, &SchedulePage::Edit4Change);
    connect(Button6, &QPushButton::clicked, this, &SchedulePage::Button6Click);
    for (QWidget* w :
         std::initializer_list<QWidget*>{TreeView2, CheckListBox5, CheckListBox6, Edit3})
        w->installEventFilter(this);

    FillScheduleTree();
    CheckListBox5->setEnabled(false);
    CheckListBox6->setEnabled(false);
}

void SchedulePage::FillScheduleTree() {
    TreeView2->clear();
    auto entry = [this](QTreeWidgetItem* parent, ClientKind code, std::string_view text) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(TreeView2);
        item->setText(0, Q(text));
        item->setData(0, kCodeRole, code);
        TreeView2->setImage(item, kImageOff);
        return item;
    };
    QTreeWidgetItem* heading = entry(nullptr, kind::None, "Email Client");
    std::vector<QTreeWidgetItem*> families;
    for (ClientKind code = 1; code <= 9; ++code)
        families.push_back(entry(heading, code, findKind(code)->treeLabel));
    families.push_back(entry(nullptr, kind::Favorites, findKind(kind::Favorites)->treeLabel));
    for (QTreeWidgetItem* family : families) {
        const std::vector<ClientVersion> versions = InstalledVersions(ScheduleTree::codeOf(family));
        if (versions.size() == 1) {
            family->setData(0, kCodeRole, versions[0].kind);
        } else if (versions.size() > 1) {
            TreeView2->setImage(family, kImageNone);
            for (const ClientVersion& v : versions)
                entry(family, v.kind, v.label);
        }
    }
    TreeView2->setImage(heading, kImageNone);
    TreeView2->expandAll();
}

void SchedulePage::ShowScheduleSettings() {
    const app::Settings& s = app::settings();
    // The controls' change actions store what they are given: the same values.
    Edit4->setText(Q(s.autoBackupFolder));
    Edit3->setText(QString::number(s.scheduleInterval));
    ComboBox2->setCurrentIndex(s.schedulePeriod >= 0 && s.schedulePeriod < 4 ? s.schedulePeriod
                                                                             : -1);
    DateTimePicker1->setDate(toQDate(s.scheduleDate));
    DateTimePicker2->setTime(toQTime(s.scheduleTime));
    // A change of state runs the switch's action (toggled), as a click does.
    CheckBox3->setChecked(s.autoBackupEnabled);
}

void SchedulePage::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (!e->spontaneous()) TabSheet4Show();
}

void SchedulePage::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    if (!e->spontaneous()) TabSheet4Hide();
}

bool SchedulePage::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::FocusOut) {
        if (watched == TreeView2) TreeView2Exit();
        if (watched == CheckListBox5) CheckListBox5Exit();
        if (watched == CheckListBox6) CheckListBox6Exit();
        if (watched == Edit3) Edit3Exit();
    }
    return QWidget::eventFilter(watched, e);
}

void SchedulePage::TabSheet4Show() {
    if (shown_) return;
    shown_ = true;
    std::vector<QTreeWidgetItem*> entries = flatEntries(TreeView2);
    std::vector<ClientKind> codes;
    std::vector<QTreeWidgetItem*> clients;
    for (QTreeWidgetItem* item : entries) {
        if (item == TreeView2->topLevelItem(0)) continue;  // the heading
        codes.push_back(ScheduleTree::codeOf(item));
        clients.push_back(item);
    }
    try {
        const std::vector<bool> selected = app::PrepareScheduleEntries(codes);
        for (size_t i = 0; i < clients.size(); ++i) {
            // An entry that nothing can be backed up for (a family whose versions
            // are listed below it, or that has none installed) takes no check mark.
            const bool schedulable = hasBackups(codes[i]);
            TreeView2->setImage(clients[i], !schedulable  ? kImageNone
                                            : selected[i] ? kImageOn
                                                          : kImageOff);
        }
    } catch (const std::exception& e) {
        report(e);
    }
    if (QTreeWidgetItem* heading = TreeView2->topLevelItem(0)) {
        TreeView2->setImage(heading, kImageHeading);
        TreeView2->expandAll();
        scheduleClient_ = kind::None;
        const QSignalBlocker quiet(TreeView2);
        TreeView2->setCurrentItem(heading);
    }
    // The lists keep what they show, but they belong to no entry now.
    CheckListBox5->setEnabled(false);
    CheckListBox6->setEnabled(false);
}

void SchedulePage::TabSheet4Hide() {
    if (!shown_) return;
    shown_ = false;
    Edit3Exit();
    const int n = Edit3->text().toInt();
    const double last =
        app::LastBackupDateFor(fromQDate(DateTimePicker1->date()),
                               fromQTime(DateTimePicker2->time()), n, ComboBox2->currentIndex());
    try {
        app::SaveScheduleTiming(app::settings(), last);
        std::vector<std::pair<ClientKind, bool>> selected;
        for (QTreeWidgetItem* item : flatEntries(TreeView2))
            selected.emplace_back(ScheduleTree::codeOf(item),
                                  ScheduleTree::imageOf(item) == kImageOn);
        app::WriteScheduleSelected(selected);
    } catch (const std::exception& e) {
        report(e);
    }
    saveChoices();
}

void SchedulePage::CheckBox3Click(bool checked) {
    app::SetSchedulerEnabled(checked);
}

void SchedulePage::TreeView2MouseDown() {
    treeMouseDown_ = true;
    saveChoices();
}

void SchedulePage::TreeView2MouseUp(const QPoint& pos) {
    treeMouseDown_ = false;
    QTreeWidgetItem* item = TreeView2->currentItem();
    if (item && TreeView2->itemAt(pos) == item && TreeView2->onIcon(item, pos)) toggle(item);
    selectEntry(item);
}

void SchedulePage::TreeView2Exit() {
    saveChoices();
}

void SchedulePage::CheckListBox5Exit() {
    saveChoices();
}

void SchedulePage::CheckListBox6Exit() {
    saveChoices();
}

void SchedulePage::Edit3Change(const QString& text) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (ok) app::settings().scheduleInterval = n;
}

void SchedulePage::Edit3Exit() {
    if (Edit3->text().toInt() <= 0) Edit3->setText(QStringLiteral("1"));
}

void SchedulePage::ComboBox2Change(int index) {
    if (index >= 0) app::settings().schedulePeriod = index;
}

void SchedulePage::DateTimePicker1Change() {
    app::settings().scheduleDate = fromQDate(DateTimePicker1->date());
}

void SchedulePage::DateTimePicker2Change() {
    app::settings().scheduleTime = fromQTime(DateTimePicker2->time());
}

void SchedulePage::Edit4Change(const QString& text) {
    app::settings().autoBackupFolder = text.toStdString();
}

void SchedulePage::Button6Click() {
    const std::string chosen = browseFolder(Edit4->text().toStdString());
    if (!chosen.empty()) Edit4->setText(Q(chosen));
}

void SchedulePage::saveChoices() {
    if (scheduleClient_ <= 0) return;
    app::ScheduleChoices c;
    c.identities = listMarks(CheckListBox5);
    c.items = listMarks(CheckListBox6);
    try {
        app::SaveScheduleChoices(scheduleClient_, c);
    } catch (const std::exception& e) {
        report(e);
    }
}

void SchedulePage::selectEntry(QTreeWidgetItem* item) {
    CheckListBox5->clear();
    CheckListBox6->clear();
    scheduleClient_ = ScheduleTree::codeOf(item);
    if (scheduleClient_ > 0) {
        try {
            const app::ScheduleChoices c = app::LoadScheduleChoices(scheduleClient_);
            fillList(CheckListBox5, c.identities);
            fillList(CheckListBox6, c.items);
            CheckListBox6->setEnabled(c.itemsSelectable);
        } catch (const std::exception& e) {
            report(e);
        }
    }
    if (ScheduleTree::imageOf(item) == kImageOn) {
        CheckListBox5->setEnabled(true);
    } else {
        CheckListBox5->setEnabled(false);
        CheckListBox6->setEnabled(false);
    }
}

void SchedulePage::toggle(QTreeWidgetItem* item) {
    const int image = ScheduleTree::imageOf(item);
    if (image == kImageOff) TreeView2->setImage(item, kImageOn);
    if (image == kImageOn) TreeView2->setImage(item, kImageOff);
}

}  // namespace qb::ui
