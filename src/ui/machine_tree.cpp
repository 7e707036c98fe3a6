#include "ui/machine_tree.h"

#include <QFileIconProvider>
#include <QHeaderView>

#include "platform/files.h"
#include "platform/paths.h"
#include "ui/window_support.h"

namespace qb::ui {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kFilledRole = Qt::UserRole + 1;
constexpr int kFolderRole = Qt::UserRole + 2;

QFileIconProvider& icons() {
    static QFileIconProvider provider;
    return provider;
}

QString driveLabel(char letter) {
    const QString drive = QString("%1:").arg(QChar(letter));
    switch (platform::driveType(letter)) {
        case platform::DriveType::CdRom:
            return "CD Drive (" + drive + ")";
        case platform::DriveType::Removable:
            return "Removable Disk (" + drive + ")";
        case platform::DriveType::Remote:
            return "Network Drive (" + drive + ")";
        default:
            return "Local Disk (" + drive + ")";
    }
}

// A placeholder child, so that a level not yet read shows that it can be opened.
void addPlaceholder(QTreeWidgetItem* item) {
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
}

}  // namespace

std::vector<char> MachineDrives() {
    std::vector<char> out;
    for (char c = 'A'; c <= 'Z'; ++c)
        if (platform::driveType(c) != platform::DriveType::NoRootDir) out.push_back(c);
    return out;
}

MachineTree::MachineTree(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setUniformRowHeights(true);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { fill(item); });
    reload();
}

void MachineTree::reload() {
    clear();
    computer_ = new QTreeWidgetItem(this, QStringList{"My Computer"});
    computer_->setIcon(0, icons().icon(QFileIconProvider::Computer));
    computer_->setData(0, kFilledRole, true);
    for (char letter : MachineDrives()) {
        auto* drive = new QTreeWidgetItem(computer_, QStringList{driveLabel(letter)});
        drive->setIcon(0, icons().icon(QFileIconProvider::Drive));
        drive->setData(0, kPathRole, QString("%1:\\").arg(QChar(letter)));
        drive->setData(0, kFolderRole, true);
        addPlaceholder(drive);
    }
    computer_->setExpanded(true);
}

void MachineTree::fill(QTreeWidgetItem* item) {
    if (!item || item->data(0, kFilledRole).toBool() || !item->data(0, kFolderRole).toBool())
        return;
    item->setData(0, kFilledRole, true);
    const std::string folder = platform::includeTrailingBackslash(pathOf(item));
    std::vector<platform::SearchRec> folders, files;
    for (platform::SearchRec& r : platform::findFiles(folder + "*", platform::faDirectory)) {
        if (r.name == "." || r.name == "..") continue;
        ((r.attr & platform::faDirectory) ? folders : files).push_back(std::move(r));
    }
    for (const platform::SearchRec& r : folders) {
        auto* child = new QTreeWidgetItem(item, QStringList{Q(r.name)});
        child->setIcon(0, icons().icon(QFileIconProvider::Folder));
        child->setData(0, kPathRole, Q(folder + r.name));
        child->setData(0, kFolderRole, true);
        addPlaceholder(child);
    }
    for (const platform::SearchRec& r : files) {
        if (foldersOnly_) break;
        auto* child = new QTreeWidgetItem(item, QStringList{Q(r.name)});
        child->setIcon(0, icons().icon(QFileIconProvider::File));
        child->setData(0, kPathRole, Q(folder + r.name));
    }
    if (item->childCount() == 0)
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

std::string MachineTree::pathOf(const QTreeWidgetItem* item) {
    return item ? S(item->data(0, kPathRole).toString()) : std::string();
}

std::string MachineTree::selectedPath() const {
    return pathOf(currentItem());
}

QTreeWidgetItem* MachineTree::childNamed(QTreeWidgetItem* parent, const std::string& name) {
    fill(parent);
    for (int i = 0; i < parent->childCount(); ++i) {
        QTreeWidgetItem* c = parent->child(i);
        const std::string p = platform::excludeTrailingBackslash(pathOf(c));
        if (platform::sameName(platform::extractFileName(p), name) || platform::sameName(p, name))
            return c;
    }
    return nullptr;
}

bool MachineTree::goTo(const std::string& winPath) {
    // Read afresh: files may have come or gone since a level was opened.
    reload();
    const std::string drive = platform::extractFileDrive(winPath);
    if (drive.size() != 2) return false;
    QTreeWidgetItem* at = childNamed(computer_, drive);
    if (!at) return false;
    std::string rest = winPath.substr(2);
    size_t pos = 0;
    while (pos < rest.size()) {
        size_t next = rest.find('\\', pos);
        if (next == std::string::npos) next = rest.size();
        const std::string part = rest.substr(pos, next - pos);
        pos = next + 1;
        if (part.empty()) continue;
        QTreeWidgetItem* child = childNamed(at, part);
        if (!child) break;
        at->setExpanded(true);
        at = child;
    }
    setCurrentItem(at);
    scrollToItem(at);
    return true;
}

}  // namespace qb::ui
