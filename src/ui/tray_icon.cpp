#include "ui/tray_icon.h"

#include <QApplication>
#include <QSystemTrayIcon>

namespace qb::ui {

TIconTaskBar::TIconTaskBar(QObject* owner) : QObject(owner) {}

TIconTaskBar::~TIconTaskBar() = default;

void TIconTaskBar::ShowIcon() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        if (!icon_) {
            icon_ = std::make_unique<QSystemTrayIcon>();
            connect(icon_.get(), &QSystemTrayIcon::activated, this,
                    [this](QSystemTrayIcon::ActivationReason r) { dispatch(static_cast<int>(r)); });
        }
        icon_->setIcon(QApplication::windowIcon());
        icon_->setToolTip(shownHint());
        icon_->show();
    }
    Visible = true;
    if (OnShow) OnShow();
}

void TIconTaskBar::HideIcon() {
    if (OnClose) OnClose();
    if (icon_) icon_->hide();
    Visible = false;
}

bool TIconTaskBar::inTray() const {
    return icon_ && icon_->isVisible();
}

// Qt reports clicks, not button presses: a click is the left button's down and
// up, the context request the right button's, the middle click the middle's.
void TIconTaskBar::dispatch(int reason) {
    if (OnEvent) OnEvent();
    switch (static_cast<QSystemTrayIcon::ActivationReason>(reason)) {
        case QSystemTrayIcon::Trigger:
            if (OnMouseDown) OnMouseDown(TrayButton::Left);
            if (OnEvent) OnEvent();
            if (OnClick) OnClick();
            break;
        case QSystemTrayIcon::DoubleClick:
            if (OnDblClick) OnDblClick();
            break;
        case QSystemTrayIcon::Context:
            if (OnMouseDown) OnMouseDown(TrayButton::Right);
            if (OnEvent) OnEvent();
            if (OnMouseUp) OnMouseUp(TrayButton::Right);
            break;
        case QSystemTrayIcon::MiddleClick:
            if (OnMouseDown) OnMouseDown(TrayButton::Middle);
            if (OnEvent) OnEvent();
            if (OnClick) OnClick();
            break;
        default:
            break;
    }
}

}  // namespace qb::ui
