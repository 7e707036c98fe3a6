#include "ui/window_support.h"

#include <QDesktopServices>
#include <QListWidget>
#include <QUrl>
#include <QWidget>

#include "jobs/archive_job.h"
#include "platform/files.h"
#include "support/msg_texts.h"

namespace qb::ui {

void CentreOn(QWidget& dialog, const QWidget* mainWindow) {
    if (!mainWindow) return;
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
