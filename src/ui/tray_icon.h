// The tray icon: an icon in the desktop's notification area with a tooltip,
// reporting mouse actions on it as events. Shown only while a command-line run
// works; where the desktop has no notification area it is silently absent.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QSystemTrayIcon;

namespace qb::ui {

enum class TrayButton { None, Left, Right, Middle };

class TIconTaskBar : public QObject {
    Q_OBJECT
  public:
    explicit TIconTaskBar(QObject* owner = nullptr);
    ~TIconTaskBar() override;

    // The tooltip; at most 63 characters are shown.
    void SetHint(const QString& hint) { hint_ = hint; }
    QString Hint() const { return hint_; }
    QString shownHint() const { return hint_.left(63); }

    // A plain flag: true between ShowIcon and HideIcon.
    bool Visible = false;

    // Adds the icon to the notification area (when the desktop has one) and calls
    // OnShow. The icon is the application's.
    void ShowIcon();
    // Calls OnClose and removes the icon.
    void HideIcon();
    // Whether the icon really is in a notification area now.
    bool inTray() const;

    std::function<void()> OnShow, OnClose, OnClick, OnDblClick, OnEvent;
    std::function<void(TrayButton)> OnMouseDown, OnMouseUp;

    // How a tray activation reaches the events (for the tray and for tests).
    void dispatch(int reason);

  private:
    QString hint_;
    std::unique_ptr<QSystemTrayIcon> icon_;
};

}  // namespace qb::ui
