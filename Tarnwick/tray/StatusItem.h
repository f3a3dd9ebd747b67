#pragma once

// The tray item: the one square tray icon that carries a status button.

#include <QObject>
#include <QRect>
#include <QString>
#include <optional>

#include "Tarnwick/tray/StatusButton.h"
#include "Tarnwick/tray/TrayColors.h"

class QMenu;
class QSystemTrayIcon;

class StatusItem : public QObject {
    Q_OBJECT

  public:
    explicit StatusItem(QObject* parent = nullptr);
    ~StatusItem() override;

    // Creates the tray icon (call once a tray host is there); shows what was set before.
    void createTrayIcon();
    bool hasTrayIcon() const { return tray_ != nullptr; }

    // Shows `button` in the tray (kept until the tray icon exists); redraws only when the
    // picture or the tooltip changes.
    void set(const StatusButton& button);
    const StatusButton& button() const { return button_; }

    // A balloon message at the tray icon; false when there is no tray icon to show it.
    bool showMessage(const QString& title, const QString& body);
    // The panel the icon is drawn for.
    void setTone(PanelTone tone);
    PanelTone tone() const { return tone_; }

    // The menu the icon offers on a right click (and to hosts that ask for one); not owned.
    void setMenu(QMenu* menu);

    // How many times the tray pictures were drawn; what an idle tray should not increase.
    int redraws() const { return redraws_; }

    // Where the tray icon is on screen; absent when the tray does not say.
    std::optional<QRect> geometry() const;

  signals:
    // The icon was clicked (left button) or chosen from the keyboard.
    void activated();
    // The host asked for the icon's menu (a right click where the host does not show the menu
    // itself).
    void contextMenuRequested();

  private:
    void apply();

    StatusButton button_;
    PanelTone tone_ = PanelTone::unknown;
    QMenu* menu_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QString shown_;  // identity of what the tray shows
    int redraws_ = 0;
};
