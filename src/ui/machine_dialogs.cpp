#include "ui/machine_dialogs.h"

#include <QFileDialog>
#include <QList>
#include <QUrl>

#include "platform/files.h"
#include "platform/paths.h"
#include "ui/machine_tree.h"
#include "ui/window_support.h"

namespace qb::ui {

namespace {

QString hostOf(const std::string& winPath) {
    const auto host = platform::hostPath(winPath);
    return host ? QString::fromStdString(host->string()) : QString();
}

// The drives as the places of the dialog's side bar.
QList<QUrl> drivePlaces() {
    QList<QUrl> places;
    for (char letter : MachineDrives()) {
        const QString host = hostOf(std::string(1, letter) + ":\\");
        if (!host.isEmpty()) places.push_back(QUrl::fromLocalFile(host));
    }
    return places;
}

// The first existing folder of `winPath` going up, else C:\.
QString startFolder(const std::string& winPath) {
    std::string folder = platform::excludeTrailingBackslash(winPath);
    while (!folder.empty() && !platform::directoryExists(folder)) {
        const std::string up =
            platform::excludeTrailingBackslash(platform::extractFilePath(folder));
        if (up == folder) break;
        folder = up;
    }
    if (folder.empty() || !platform::directoryExists(folder)) folder = "C:\\";
    if (folder.size() == 2) folder += "\\";
    return hostOf(folder);
}

std::optional<std::string> run(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setSidebarUrls(drivePlaces());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return platform::windowsPath(dialog.selectedFiles().front().toStdString());
}

}  // namespace

std::optional<std::string> PickBackupFile(QWidget* parent, const std::string& current) {
    QFileDialog dialog(parent, "Save As", startFolder(platform::extractFilePath(current)),
                       "Quillbox file (*.ebk)");
    dialog.setObjectName(kSaveDialogName);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix("ebk");
    const std::string name = platform::extractFileName(current);
    if (!name.empty()) dialog.selectFile(Q(name));
    return run(dialog);
}

std::optional<std::string> PickFolder(QWidget* parent, const std::string& current) {
    QFileDialog dialog(parent, "Select Folder", startFolder(current));
    dialog.setObjectName(kFolderDialogName);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::LookIn, "Plase select folder");
    return run(dialog);
}

}  // namespace qb::ui
