#include "ui/window_support.h"

#include <QDesktopServices>
#include <QLabel>
#include <QListWidget>
#include <QUrl>
#include <QWidget>

#include <cctype>
#include <vector>

#include "app/backup_run.h"
#include "app/settings.h"
#include "catalog/backup_name.h"
#include "catalog/identities.h"
#include "jobs/archive_job.h"
#include "jobs/restore_job.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/interaction.h"
#include "support/msg_texts.h"
#include "ui/form1.h"
#include "ui/windows.h"

namespace qb::ui {

void CentreOnMainWindow(QWidget& dialog) {
    const QWidget* mainWindow = windows().form1;
    if (!mainWindow || !mainWindow->isVisible()) return;
    const QRect main = mainWindow->frameGeometry();
    const int left = main.left() + main.width() / 2 - dialog.frameGeometry().width() / 2;
    const int top = main.top() + main.height() / 2 - dialog.frameGeometry().height() / 2;
    dialog.move(left, top);
}

QString JobText(std::string_view key) {
    try {
        return Q(jobs::JobTexts().GetMessageText(key));
    } catch (const OperationAbandoned&) {
        return QStringLiteral("ERROR");
    }
}

QLabel* NamedLabel(QWidget* parent, const char* name, const char* text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QListWidget* CheckList(QWidget* parent, const char* name, const char* accessible, QLabel* label) {
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->setAccessibleName(accessible);
    if (label) label->setBuddy(list);
    return list;
}

void MakeBold(QWidget& widget) {
    QFont f = widget.font();
    f.setBold(true);
    widget.setFont(f);
}

bool AnyChecked(const QListWidget& list) {
    for (int i = 0; i < list.count(); ++i)
        if (list.item(i)->checkState() == Qt::Checked) return true;
    return false;
}

std::string ProposedBackupFile(ClientKind kind) {
    app::Settings& s = app::settings();
    if (s.backupFolder.empty()) s.backupFolder = s.defaultBackupLocation;
    const std::string folder =
        s.backupFolder.empty() ? std::string() : platform::includeTrailingBackslash(s.backupFolder);
    return folder + DefaultBackupFileName(kind);
}

const char* BackupDriveRefusal(const std::string& path) {
    // A backup needs at least this much room on its drive.
    constexpr uint64_t kMinimumFreeSpace = 500000;
    const std::string upper = platform::upperAscii(path);
    const size_t slash = upper.find('\\');
    const std::string root = slash == std::string::npos ? upper : upper.substr(0, slash + 1);
    if (root.size() == 3 && root[1] == ':' &&
        platform::driveType(root[0]) == platform::DriveType::CdRom)
        return "Message17";
    const auto free = platform::diskFree(upper.empty() ? '\0' : upper[0]);
    if (!free || *free < kMinimumFreeSpace) return "Message15";
    return nullptr;
}

QListWidgetItem* AddCheckLine(QListWidget& list, const std::string& text, bool checked) {
    auto* item = new QListWidgetItem(Q(text), &list);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    return item;
}

void ListClientInto(ClientKind kind, QListWidget& identities, QListWidget& items) {
    identities.clear();
    items.clear();
    std::vector<std::string> ids, names;
    const bool selectable = ListIdentitiesAndItems(kind, ids, names);
    for (const std::string& id : ids)
        AddCheckLine(identities, id, true);
    for (const std::string& name : names)
        AddCheckLine(items, name, true);
    items.setEnabled(selectable);
}

bool ListBackupInto(ClientKind client, const std::string& file, QListWidget& identities,
                    QListWidget& items) {
    identities.clear();
    items.clear();
    std::vector<bool> present;
    uint8_t itemCount = 0;
    std::vector<std::string> ids, names;
    bool mismatch = false;
    const bool selectable = jobs::ListBackupContents(jobs::ListKindOf(client), file, present,
                                                     itemCount, ids, names, mismatch);
    for (const std::string& id : ids)
        AddCheckLine(identities, id, true);
    for (size_t k = 0; k < names.size(); ++k) {
        const bool held = k >= present.size() || present[k];
        QListWidgetItem* line = AddCheckLine(items, names[k], held);
        // What the backup does not hold cannot be chosen.
        if (!held) line->setFlags(line->flags() & ~Qt::ItemIsEnabled);
    }
    items.setEnabled(selectable);
    return !mismatch;
}

void Inform(const std::string& text) {
    interaction().messageBox(text, MsgIcon::Information, MsgButtons::Ok);
}

void Refuse(const std::string& text) {
    interaction().messageBox(text, MsgIcon::Error, MsgButtons::Ok);
}

std::string Naming(std::string_view key, std::string_view what) {
    return app::MessageText(key) + " " + std::string(what);
}

char DriveLetterOf(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])))
        return static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    return 0;
}

bool DriveReachable(const std::string& path) {
    const char letter = DriveLetterOf(path);
    return letter == 0 || platform::driveType(letter) != platform::DriveType::NoRootDir;
}

Selection SelectionOf(const QListWidget& list) {
    Selection s;
    for (int i = 0; i < list.count() && i < kMaxSelection; ++i) {
        const QListWidgetItem* item = list.item(i);
        s.add(S(item->text()), item->checkState() == Qt::Checked);
    }
    return s;
}

FolderOpener& folderOpener() {
    static FolderOpener opener = [](const std::string& windowsFolder) {
        const auto host = platform::hostPath(windowsFolder);
        if (!host) return false;
        return QDesktopServices::openUrl(
            QUrl::fromLocalFile(QString::fromStdString(host->string())));
    };
    return opener;
}

}  // namespace qb::ui
