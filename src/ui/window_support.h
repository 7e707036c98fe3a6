// Small pieces the windows share: placing a dialog over the main window, the
// jobs' message texts, the check lists and the desktop's file manager.
#pragma once

#include <QString>

#include <functional>
#include <string>
#include <string_view>

#include "catalog/client_kind.h"

class QLabel;
class QListWidget;
class QListWidgetItem;
class QWidget;

namespace qb::ui {

// Centres `dialog` on the main window (integer halves, rounded toward zero); leaves
// it where the window system puts it when there is no main window.
void CentreOnMainWindow(QWidget& dialog);

// A text of the jobs' message instance; "ERROR" when no language file is known.
QString JobText(std::string_view key);

// Text between the program and Qt: the program's strings are UTF-8.
inline QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string S(const QString& s) {
    return s.toStdString();
}

// A label with its object name (its language file key) and design text.
QLabel* NamedLabel(QWidget* parent, const char* name, const char* text);
// An empty check list with its object name and the name a screen reader says; the
// buddy of `label` when one is given.
QListWidget* CheckList(QWidget* parent, const char* name, const char* accessible,
                       QLabel* label = nullptr);
// The widget's own font, bold.
void MakeBold(QWidget& widget);

// A check list's line, checkable, with its check mark.
QListWidgetItem* AddCheckLine(QListWidget& list, const std::string& text, bool checked);

// The identities and items `kind` has on this machine into two emptied check
// lists, all checked; the item list is enabled when its items can be chosen.
void ListClientInto(ClientKind kind, QListWidget& identities, QListWidget& items);
// The identities and items the backup `file` of `client` holds into two emptied
// check lists: every identity and every item it holds checked, the items it lacks
// disabled. False when the backup's contents do not match its client (nothing of it
// can be restored).
bool ListBackupInto(ClientKind client, const std::string& file, QListWidget& identities,
                    QListWidget& items);

// One record per line of a check list (its check mark and text), in list order, at
// most as many as a job carries.
Selection SelectionOf(const QListWidget& list);

// Whether any line of a check list is checked.
bool AnyChecked(const QListWidget& list);

// The proposed backup file of a client in the backup folder (the default location
// when no folder is set). A folder kept without its closing backslash is still the
// folder itself.
std::string ProposedBackupFile(ClientKind kind);
// Why the drive of the backup file `path` cannot take a backup: the message key of a
// CD-ROM drive or of too little free room; nullptr when it can.
const char* BackupDriveRefusal(const std::string& path);

// Message boxes of the tabs: an input problem (information icon) and a refusal of
// the environment (error icon), with an OK button.
void Inform(const std::string& text);
void Refuse(const std::string& text);
// A message text followed by the file, folder or drive it names.
std::string Naming(std::string_view key, std::string_view what);

// The drive letter (upper case) of a path written "X:...", else 0.
char DriveLetterOf(const std::string& path);
// Whether the machine has the drive of a path written "X:..."; true for paths
// without a drive letter (other checks refuse those).
bool DriveReachable(const std::string& path);

// Opens a folder of the machine (a Windows path) in the desktop's file manager.
// Replaceable, so that tests see what would be opened instead of a file manager.
using FolderOpener = std::function<bool(const std::string& windowsFolder)>;
FolderOpener& folderOpener();

}  // namespace qb::ui
