#include "Tarnwick/AppDelegate.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

#include "Tarnwick/panel/PanelPlacement.h"
#include "Tarnwick/panel/PanelWindow.h"
#include "Tarnwick/panel/PopoverView.h"
#include "Tarnwick/panel/views/Footer.h"
#include "Tarnwick/tray/StatusItem.h"
#include "Tarnwick/tray/TrayHost.h"

AppDelegate::AppDelegate(AppDelegateOptions options)
    : options_(std::move(options)), statusItem_(new StatusItem(this)) {
    if (!options_.model.arguments) options_.model.arguments = options_.arguments;
    model_ = std::make_unique<Model>(options_.model);
    connect(statusItem_, &StatusItem::activated, this, &AppDelegate::toggle);
}

AppDelegate::~AppDelegate() {
    model_->onUpdate = nullptr;
    if (monitoring_) qApp->removeEventFilter(this);
    delete panel_;
    delete trayMenu_;
}

std::chrono::steady_clock::time_point AppDelegate::now() const {
    return options_.clock ? options_.clock() : std::chrono::steady_clock::now();
}

void AppDelegate::applicationDidFinishLaunching() {
    buildPanel();
    buildTrayMenu();
    QPointer<AppDelegate> self(this);
    model_->onUpdate = [self] {
        if (self) self->updateStatusItem();
    };
    desktopTone_ = TrayColors::desktopTone();
    updateStatusItem();
    TrayHost::whenPresent(this, options_.trayWait, std::chrono::milliseconds(250),
                          [self](bool found) {
                              if (self) self->trayWaitEnded(found);
                          });
    if (options_.arguments.contains(QStringLiteral("--show-panel"))) {
        QTimer::singleShot(showPanelDelay, this, &AppDelegate::showPanel);
    }
}

bool AppDelegate::panelAsWindow(bool hostFound, bool trayAvailable) {
    return !hostFound && !trayAvailable;
}

void AppDelegate::trayWaitEnded(bool hostFound) {
    QTimer* watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, &AppDelegate::watchTray);
    watch->start(options_.trayWatch);
    if (hostFound) {
        createTrayIcon(TrayHost::hosts());
        return;
    }
    qtDecidedWithoutStatusNotifier_ = true;
    const bool trayAvailable = options_.trayAvailable ? options_.trayAvailable()
                                                      : QSystemTrayIcon::isSystemTrayAvailable();
    if (!panelAsWindow(hostFound, trayAvailable)) {
        // A tray only Qt knows how to find: it docks the icon, and the watch cannot judge it.
        statusItem_->createTrayIcon();
        return;
    }
    std::fprintf(stderr,
                 "tarnwick: no system tray found within %lld ms; showing the window instead "
                 "(the tray icon appears when a tray starts)\n",
                 static_cast<long long>(options_.trayWait.count()));
    std::fflush(stderr);
    if (panel_ == nullptr || panel_->isWindow()) return;
    hidePanel();
    panel_->becomeWindow();
    showPanel();
}

void AppDelegate::watchTray() {
    const TrayHost::Hosts hosts = TrayHost::hosts();
    if (!statusItem_->hasTrayIcon()) {
        if (hosts.any()) createTrayIcon(hosts);
        return;
    }
    const bool lost =
        (trayKind_ == TrayKind::xembed && !hosts.xembed && hosts.statusNotifier) ||
        (trayKind_ == TrayKind::statusNotifier && !hosts.statusNotifier && hosts.xembed);
    if (lost) emit restartRequested();
}

void AppDelegate::createTrayIcon(const TrayHost::Hosts& hosts) {
    if (hosts.statusNotifier && qtDecidedWithoutStatusNotifier_) {
        emit restartRequested();
        return;
    }
    trayKind_ = hosts.statusNotifier ? TrayKind::statusNotifier
                : hosts.xembed       ? TrayKind::xembed
                                     : TrayKind::none;
    statusItem_->createTrayIcon();
}

void AppDelegate::buildTrayMenu() {
    trayMenu_ = new QMenu;
    trayMenu_->addAction(QStringLiteral("open tarnwick"), this, &AppDelegate::showPanel);
    trayMenu_->addAction(QStringLiteral("copy diagnostics"), this,
                         [this] { Footer::copyDiagnostics(*model_); });
    trayMenu_->addSeparator();
    trayMenu_->addAction(QStringLiteral("quit tarnwick"), this, &AppDelegate::quitRequested);
    statusItem_->setMenu(trayMenu_);
}

void AppDelegate::buildPanel() {
    view_ = new PopoverView(*model_, PopoverView::expandMenuBarFrom(options_.arguments));
    panel_ = new PanelWindow(view_);
    connect(panel_, &PanelWindow::hidden, this, &AppDelegate::panelHidden);
    connect(panel_, &PanelWindow::closedByUser, this, [this] {
        // With a tray icon the window can be opened again; without one it is the way out.
        if (!statusItem_->hasTrayIcon()) emit quitRequested();
    });
    // Layout changes arrive in bursts; the panel follows once they have settled.
    connect(panel_, &PanelWindow::contentResized, this,
            [this] { QTimer::singleShot(0, this, &AppDelegate::layoutPanel); });
}

void AppDelegate::updateStatusItem() {
    statusItem_->setTone(TrayColors::resolve(model_->menuBar().appearance, desktopTone_));
    statusItem_->set(statusButtonFor(*model_));
}

void AppDelegate::layoutPanel() {
    if (panel_ == nullptr) return;
    const QSize size = view_->fittingSize();
    if (panel_->isWindow() && panel_->isVisible()) {
        // The user may have moved the window; it only follows its content's size.
        panel_->setFixedSize(size);
        return;
    }
    const std::optional<QRect> anchor = statusItem_->geometry();
    const QPoint cursor = cursorAtOpen_.value_or(QCursor::pos());
    const QPoint probe = anchor ? anchor->center() : cursor;
    QScreen* screen = QGuiApplication::screenAt(probe);
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
    const QPoint at = PanelPlacement::topLeft(size, anchor, cursor, available);
    panel_->setFixedSize(size);
    panel_->move(at);
}

void AppDelegate::showPanel() {
    if (panel_ == nullptr) return;
    model_->animateChanges = false;
    model_->refresh();
    if (!panel_->isVisible()) cursorAtOpen_ = QCursor::pos();
    layoutPanel();
    panel_->show();
    panel_->raise();
    panel_->activateWindow();
    // The ordinary window closes only when the user closes it.
    if (!monitoring_ && !panel_->isWindow()) {
        qApp->installEventFilter(this);
        monitoring_ = true;
    }
    QPointer<AppDelegate> self(this);
    QTimer::singleShot(animationDelay, this, [self] {
        if (self && self->panel_->isVisible()) self->model_->animateChanges = true;
    });
}

void AppDelegate::hidePanel() {
    if (panel_ == nullptr || !panel_->isVisible()) return;
    panel_->hide();  // panelHidden() does the rest, as it does when Qt closes the pop-up
}

void AppDelegate::panelHidden() {
    if (monitoring_) {
        qApp->removeEventFilter(this);
        monitoring_ = false;
    }
    model_->animateChanges = false;
    cursorAtOpen_.reset();
    lastHide_ = now();
}

void AppDelegate::toggle() {
    if (panel_ != nullptr && panel_->isVisible()) {
        hidePanel();
        return;
    }
    if (lastHide_ && now() - *lastHide_ <= reopenGuard) return;
    showPanel();
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        // Only keys meant for the panel: a menu opened from it closes on its own Escape.
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && widget->window() == panel_) {
            hidePanel();
            return true;
        }
    }
    if (event->type() == QEvent::ApplicationDeactivate) hidePanel();
    return QObject::eventFilter(watched, event);
}
