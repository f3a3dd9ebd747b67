#include "Tarnwick/tray/StatusItem.h"

#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "Tarnwick/AppIcon.h"
#include "Tarnwick/tray/TrayPicture.h"

StatusItem::StatusItem(QObject* parent) : QObject(parent) {}

StatusItem::~StatusItem() = default;

void StatusItem::createTrayIcon() {
    if (tray_ != nullptr) return;
    tray_ = new QSystemTrayIcon(this);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    emit activated();
                } else if (reason == QSystemTrayIcon::Context) {
                    emit contextMenuRequested();
                }
            });
    // A host that finds no menu keeps asking for one; every icon gets it before it shows.
    if (menu_ != nullptr) tray_->setContextMenu(menu_);
    apply();
    tray_->show();
}

void StatusItem::set(const StatusButton& button) {
    button_ = button;
    apply();
}

bool StatusItem::showMessage(const QString& title, const QString& body) {
    if (tray_ == nullptr || !tray_->isVisible()) return false;
    tray_->showMessage(title, body, QSystemTrayIcon::Warning);
    return true;
}

void StatusItem::setTone(PanelTone tone) {
    tone_ = tone;
    apply();
}

void StatusItem::setMenu(QMenu* menu) {
    menu_ = menu;
    if (tray_ != nullptr) tray_->setContextMenu(menu);
}

std::optional<QRect> StatusItem::geometry() const {
    if (tray_ == nullptr) return std::nullopt;
    const QRect rect = tray_->geometry();
    if (!rect.isValid() || rect.isEmpty()) return std::nullopt;
    return rect;
}

void StatusItem::apply() {
    if (tray_ == nullptr) return;
    const QString toolTip = trayToolTip(button_);
    if (tray_->toolTip() != toolTip) tray_->setToolTip(toolTip);
    // Every new picture is sent to the tray host (over the bus for StatusNotifier hosts), so
    // an unchanged one is neither drawn nor sent.
    const QString shown = (button_.image ? button_.image->identity : QString()) + QLatin1Char('|') +
                          button_.title + QLatin1Char('|') +
                          (button_.titleColor ? button_.titleColor->name() : QString()) +
                          QLatin1Char('|') + QString::number(static_cast<int>(tone_));
    if (shown == shown_) return;
    shown_ = shown;
    ++redraws_;
    QIcon icon;
    if (!button_.image && button_.title.trimmed().isEmpty()) {
        icon = AppIcon::icon();
    } else {
        for (const int side : {16, 22, 24, 32, 48, 64}) {
            icon.addPixmap(QPixmap::fromImage(trayPicture(button_, side, tone_)));
        }
    }
    tray_->setIcon(icon);
}
