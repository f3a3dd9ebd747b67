#include "Tarnwick/panel/views/Footer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QSignalBlocker>
#include <QToolButton>

#include "FanCore/Diagnostics/Diagnostics.h"
#include "Tarnwick/Symbols.h"
#include "Tarnwick/model/Model.h"
#include "Tarnwick/panel/AboutWindow.h"
#include "Tarnwick/widgets/Text.h"

namespace {

QIcon gearIcon(const QPalette& palette) {
    QIcon icon;
    for (const double ratio : {1.0, 2.0}) {
        const double side = Symbols::boxSize(15);
        QPixmap pixmap(QSize(static_cast<int>(side * ratio), static_cast<int>(side * ratio)));
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        Symbols::paint(painter, QStringLiteral("gearshape"), QRectF(0, 0, side, side),
                       Theme::secondary(palette));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

Footer::Footer(Model& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      launchAtLogin_(new QCheckBox(QStringLiteral("launch at login"), this)),
      gear_(new QToolButton(this)),
      menu_(new QMenu(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    launchAtLogin_->setFont(Theme::font(Theme::TextStyle::caption));
    layout->addWidget(launchAtLogin_, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    gear_->setIcon(gearIcon(palette()));
    gear_->setIconSize(QSize(18, 18));
    gear_->setAutoRaise(true);
    gear_->setPopupMode(QToolButton::InstantPopup);
    gear_->setMenu(menu_);
    gear_->setStyleSheet(
        QStringLiteral("QToolButton { border: none; padding: 2px; }"
                       "QToolButton::menu-indicator { image: none; width: 0; }"));
    gear_->setCursor(Qt::PointingHandCursor);
    gear_->setToolTip(QStringLiteral("more"));
    layout->addWidget(gear_, 0, Qt::AlignVCenter);
    menu_->setFont(Theme::font(Theme::TextStyle::body));
    // The entries follow the installation state at the moment the menu opens.
    connect(menu_, &QMenu::aboutToShow, this, &Footer::rebuildMenu);
    connect(launchAtLogin_, &QCheckBox::toggled, this,
            [this](bool on) { model_.setLaunchAtLogin(on); });
    sync();
}

void Footer::sync() {
    {
        const QSignalBlocker block(launchAtLogin_);
        launchAtLogin_->setChecked(model_.launchAtLogin());
    }
    rebuildMenu();
}

void Footer::rebuildMenu() {
    menu_->clear();
    const bool installed = model_.helperInstalled();
    const bool hasFans = !model_.fans().empty();
    menu_->addAction(QStringLiteral("about tarnwick"), this, [this] {
        // The about window takes the focus, which the panel would lose anyway.
        if (QWidget* panel = window(); panel != this && panel->windowType() == Qt::Popup) {
            panel->close();
        }
        AboutWindow::show();
    });
    menu_->addSeparator();
    auto run = [this](const QString& script) {
        return [this, script] { model_.runPrivileged(script); };
    };
    if (installed && hasFans) {
        menu_->addAction(QStringLiteral("reinstall fan control…"), this,
                         run(QStringLiteral("install.sh")));
    }
    if (installed) {
        menu_->addAction(QStringLiteral("uninstall fan control…"), this,
                         run(QStringLiteral("uninstall.sh")));
    }
    if (!installed && hasFans && !model_.fanControlBlocked()) {
        menu_->addAction(QStringLiteral("install fan control…"), this,
                         run(QStringLiteral("install.sh")));
    }
    menu_->addAction(QStringLiteral("copy diagnostics"), this, [this] { copyDiagnostics(model_); });
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("quit tarnwick"), this, [] { QCoreApplication::quit(); });
}

QStringList Footer::menuItems() const {
    QStringList items;
    for (const QAction* action : menu_->actions()) {
        items << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return items;
}

bool Footer::trigger(const QString& text) {
    for (QAction* action : menu_->actions()) {
        if (!action->isSeparator() && action->text() == text) {
            action->trigger();
            return true;
        }
    }
    return false;
}

void Footer::copyDiagnostics(const Model& model) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(QString::fromStdString(Diagnostics::report(model.sensors())));
}
