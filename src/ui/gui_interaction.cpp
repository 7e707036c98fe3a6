#include "ui/gui_interaction.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace qb::ui {

MsgAnswer GuiInteraction::messageBox(std::string_view text, MsgIcon icon, MsgButtons buttons) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QApplication::applicationDisplayName());
    // The texts use CRLF line ends; a lone CR would show as a box.
    QString t = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    t.replace("\r\n", "\n").replace("\n\r", "\n").replace('\r', '\n');
    // Plain text: a message may quote a name from a backup file.
    box.setTextFormat(Qt::PlainText);
    box.setText(t);
    switch (icon) {
        case MsgIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MsgIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MsgIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MsgIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MsgIcon::Confirmation:
            box.setIcon(QMessageBox::Question);
            break;
    }
    QMessageBox::StandardButtons set;
    switch (buttons) {
        case MsgButtons::Ok:
            set = QMessageBox::Ok;
            break;
        case MsgButtons::OkCancel:
            set = QMessageBox::Ok | QMessageBox::Cancel;
            break;
        case MsgButtons::YesNo:
            set = QMessageBox::Yes | QMessageBox::No;
            break;
        case MsgButtons::YesNoCancel:
            set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            break;
        case MsgButtons::RetryCancel:
            set = QMessageBox::Retry | QMessageBox::Cancel;
            break;
    }
    box.setStandardButtons(set);
    // Closing the box by Escape or its frame gives the safe answer.
    const MsgAnswer safe = safeAnswer(buttons);
    switch (safe) {
        case MsgAnswer::Cancel:
            box.setEscapeButton(QMessageBox::Cancel);
            break;
        case MsgAnswer::No:
            box.setEscapeButton(QMessageBox::No);
            break;
        default:
            box.setEscapeButton(QMessageBox::Ok);
            break;
    }
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (!clicked) return safe;
    switch (box.standardButton(clicked)) {
        case QMessageBox::Ok:
            return MsgAnswer::Ok;
        case QMessageBox::Cancel:
            return MsgAnswer::Cancel;
        case QMessageBox::Yes:
            return MsgAnswer::Yes;
        case QMessageBox::No:
            return MsgAnswer::No;
        case QMessageBox::Retry:
            return MsgAnswer::Retry;
        default:
            return safe;
    }
}

void GuiInteraction::processMessages() {
    QApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace qb::ui
