#include "Tarnwick/panel/views/Footer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHBoxLayout>
#include <QKeyEvent>
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
      menu_(new QMenu(this)),
      copied_(
          new Text(QStringLiteral("copied"), Theme::TextStyle::caption, Tone::secondary, this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    launchAtLogin_->setFont(Theme::font(Theme::TextStyle::caption));
    layout->addWidget(launchAtLogin_, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    copied_->hide();
    layout->addWidget(copied_, 0, Qt::AlignVCenter);
    copiedTimer_.setSingleShot(true);
    copiedTimer_.setInterval(copiedShownMs);
    connect(&copiedTimer_, &QTimer::timeout, copied_, &QWidget::hide);
    gear_->setIcon(gearIcon(palette()));
    gear_->setIconSize(QSize(18, 18));
    gear_->setAutoRaise(true);
    gear_->setPopupMode(QToolButton::InstantPopup);
    gear_->setMenu(menu_);
    gear_->setStyleSheet(
        QStringLiteral("QToolButton { border: 1px solid transparent; border-radius: 5px;"
                       " padding: 1px; }"
                       "QToolButton:focus { border-color: %1; }"
                       "QToolButton::menu-indicator { image: none; width: 0; }")
            .arg(Theme::accent(palette()).name()));
    gear_->setFocusPolicy(Qt::StrongFocus);
    gear_->installEventFilter(this);
    gear_->setCursor(Qt::PointingHandCursor);
    gear_->setToolTip(QStringLiteral("more"));
    gear_->setAccessibleName(QStringLiteral("more"));
    layout->addWidget(gear_, 0, Qt::AlignVCenter);
    menu_->setFont(Theme::font(Theme::TextStyle::body));
    // The entries follow the installation state at the moment the menu opens.
    connect(menu_, &QMenu::aboutToShow, this, &Footer::rebuildMenu);
    connect(launchAtLogin_, &QCheckBox::toggled, this,
            [this](bool on) { model_.setLaunchAtLogin(on); });
    sync();
}

bool Footer::eventFilter(QObject* watched, QEvent* event) {
    // A tool button answers Space only; Return opens the menu too, as on a push button.
    if (watched == gear_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            gear_->showMenu();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Footer::sync() {
    const QSignalBlocker block(launchAtLogin_);
    launchAtLogin_->setChecked(model_.launchAtLogin());
}

QList<Footer::Entry> Footer::entries() {
    const bool installed = model_.helperInstalled();
    const bool hasFans = !model_.fans().empty();
    const bool idle = !model_.runningScript().has_value();
    auto run = [this](const QString& script) {
        return [this, script] { model_.runPrivileged(script); };
    };
    QList<Entry> list;
    list.append({QStringLiteral("about tarnwick"), true,
                 [this] {
                     // The about window takes the focus, which the panel would lose anyway.
                     if (QWidget* panel = window();
                         panel != this && panel->windowType() == Qt::Popup) {
                         panel->close();
                     }
                     AboutWindow::show();
                 },
                 std::nullopt});
    list.append(Entry{});
    if (installed && hasFans) {
        list.append({QStringLiteral("reinstall fan control…"), idle,
                     run(QStringLiteral("install.sh")), std::nullopt});
    }
    if (installed) {
        list.append({QStringLiteral("uninstall fan control…"), idle,
                     run(QStringLiteral("uninstall.sh")), std::nullopt});
    }
    if (!installed && hasFans && !model_.fanControlBlocked()) {
        list.append({QStringLiteral("install fan control…"), idle,
                     run(QStringLiteral("install.sh")), std::nullopt});
    }
    list.append({QStringLiteral("copy diagnostics"), true,
                 [this] {
                     copyDiagnostics(model_);
                     copied_->show();
                     copiedTimer_.start();
                 },
                 std::nullopt});
    list.append(Entry{});
    struct Toggle {
        const char* text;
        bool AlertSettings::*field;
    };
    static constexpr Toggle kToggles[] = {
        {"alert when the chip stays hot", &AlertSettings::chipHot},
        {"alert when a fan may have failed", &AlertSettings::fanFailure},
        {"alert when fan control stops", &AlertSettings::controlStopped},
    };
    for (const Toggle& toggle : kToggles) {
        const auto field = toggle.field;
        list.append({QString::fromLatin1(toggle.text), true,
                     [this, field] {
                         AlertSettings alerts = model_.alerts();
                         alerts.*field = !(alerts.*field);
                         model_.setAlerts(alerts);
                     },
                     model_.alerts().*field});
    }
    list.append(Entry{});
    list.append(
        {QStringLiteral("quit tarnwick"), true, [] { QCoreApplication::quit(); }, std::nullopt});
    return list;
}

void Footer::rebuildMenu() {
    menu_->clear();
    for (const Entry& entry : entries()) {
        if (entry.text.isEmpty()) {
            menu_->addSeparator();
            continue;
        }
        QAction* action = menu_->addAction(entry.text, this, entry.run);
        action->setEnabled(entry.enabled);
        if (entry.checked) {
            action->setCheckable(true);
            action->setChecked(*entry.checked);
        }
    }
}

QStringList Footer::menuItems() {
    QStringList items;
    for (const Entry& entry : entries()) {
        items << (entry.text.isEmpty() ? QStringLiteral("-") : entry.text);
    }
    return items;
}

bool Footer::trigger(const QString& text) {
    for (const Entry& entry : entries()) {
        if (!entry.text.isEmpty() && entry.text == text && entry.enabled) {
            entry.run();
            return true;
        }
    }
    return false;
}

void Footer::copyDiagnostics(const Model& model) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    // With the final line break, byte for byte what "tarnwick --diagnostics" prints.
    clipboard->setText(
        QString::fromStdString(Diagnostics::printable(Diagnostics::report(
                                   [&model]() -> const Sensors& { return model.sensors(); })) +
                               "\n"));
}
