#include "Tarnwick/AppDelegate.h"

#include <QAbstractSlider>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

#include "Tarnwick/alerts/DesktopNotifier.h"
#include "Tarnwick/panel/PanelPlacement.h"
#include "Tarnwick/panel/PanelWindow.h"
#include "Tarnwick/panel/PopoverView.h"
#include "Tarnwick/panel/SwayPlacement.h"
#include "Tarnwick/panel/views/Footer.h"
#include "Tarnwick/tray/HostClick.h"
#include "Tarnwick/tray/StatusItem.h"
#include "Tarnwick/tray/TrayHost.h"

AppDelegate::AppDelegate(AppDelegateOptions options)
    : options_(std::move(options)), statusItem_(new StatusItem(this)) {
    model_ = std::make_unique<Model>(options_.model);
    connect(statusItem_, &StatusItem::activated, this, &AppDelegate::toggle);
    connect(statusItem_, &StatusItem::contextMenuRequested, this, &AppDelegate::showTrayMenu);
    connect(model_.get(), &Model::privilegedRunStarting, this, &AppDelegate::privilegedRunStarting);
    connect(model_.get(), &Model::changed, this, &AppDelegate::privilegedRunSettled);
    notifier_ = new DesktopNotifier(
        [this](const Alert& alert) { statusItem_->showMessage(alert.title, alert.body); }, this);
    alerts_.setSettings(model_->alerts());
    connect(model_.get(), &Model::refreshed, this, &AppDelegate::checkAlerts);
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
    HostClick::watch();
    buildPanel();
    buildTrayMenu();
    watchScreens();
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
    if (options_.showPanel) {
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
    // The title sway finds the menu's window by.
    trayMenu_->setWindowTitle(QStringLiteral("tarnwick menu"));
    trayMenu_->addAction(QStringLiteral("open tarnwick"), this, &AppDelegate::showPanel);
    trayMenu_->addAction(QStringLiteral("copy diagnostics"), this,
                         [this] { Footer::copyDiagnostics(*model_); });
    trayMenu_->addSeparator();
    trayMenu_->addAction(QStringLiteral("quit tarnwick"), this, &AppDelegate::quitRequested);
    statusItem_->setMenu(trayMenu_);
}

void AppDelegate::showTrayMenu() {
    // Hosts that show the exported menu themselves never ask; the others get it at their click.
    if (trayKind_ != TrayKind::statusNotifier || trayMenu_ == nullptr) return;
    const std::optional<SwayPlacement::Areas> bar =
        QGuiApplication::platformName().startsWith(QLatin1String("wayland"))
            ? SwayPlacement::areas()
            : std::nullopt;
    if (!bar) {
        trayMenu_->popup(HostClick::nearPointer(QCursor::pos()).value_or(QCursor::pos()));
        return;
    }
    // Without a parent window the menu is a window of its own, which sway would centre.
    const QPoint at = PanelPlacement::atBar(trayMenu_->sizeHint(), bar->output, bar->usable);
    trayMenu_->popup(at);
    placeOnCompositor(trayMenu_, at, 10);
}

void AppDelegate::watchScreens() {
    // The panel is measured against the screen: only a change of screen measures it again.
    auto follow = [this](QScreen* screen) {
        connect(screen, &QScreen::availableGeometryChanged, this, [this] { scheduleLayout(); });
    };
    for (QScreen* screen : QGuiApplication::screens()) follow(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, follow);
    connect(qApp, &QGuiApplication::screenRemoved, this, [this] { scheduleLayout(); });
}

void AppDelegate::privilegedRunStarting() {
    const bool open = panel_ != nullptr && panel_->isVisible();
    scriptFromOpenPanel_ = open;
    // The pop-up holds the pointer and keyboard; the password prompt needs them.
    if (!open || panel_->isWindow()) return;
    hidePanel();
    // The release of the grab has to reach the X server before the prompt asks for it.
    QGuiApplication::sync();
}

void AppDelegate::privilegedRunSettled() {
    if (!scriptFromOpenPanel_ || model_->runningScript()) return;
    const bool fromPanel = *scriptFromOpenPanel_;
    scriptFromOpenPanel_.reset();
    const std::optional<QString> message = model_->helperMessage();
    if (!message) return;
    // A failure is never left for the next opening to tell: the panel that closed for the
    // prompt opens again with the message, and without an open panel the desktop says it.
    if (fromPanel) {
        QTimer::singleShot(0, this, &AppDelegate::showPanel);
        return;
    }
    const qsizetype lineEnd = message->indexOf(QLatin1Char('\n'));
    const Alert alert{AlertKind::installFailed, message->left(lineEnd),
                      lineEnd < 0 ? QString() : message->mid(lineEnd + 1)};
    if (options_.alert) {
        options_.alert(alert);
    } else {
        notifier_->show(alert);
    }
}

void AppDelegate::buildPanel() {
    view_ = new PopoverView(*model_, options_.expandMenuBar);
    panel_ = new PanelWindow(view_);
    connect(panel_, &PanelWindow::hidden, this, &AppDelegate::panelHidden);
    connect(panel_, &PanelWindow::closedByUser, this, [this] {
        // With a tray icon the window can be opened again; without one it is the way out.
        if (!statusItem_->hasTrayIcon()) emit quitRequested();
    });
    connect(panel_, &PanelWindow::contentResized, this, [this] { scheduleLayout(); });
}

void AppDelegate::updateStatusItem() {
    statusItem_->setTone(TrayColors::resolve(model_->menuBar().appearance, desktopTone_));
    statusItem_->set(statusButtonFor(*model_));
}

void AppDelegate::checkAlerts() {
    alerts_.setSettings(model_->alerts());
    AlertInput input;
    input.hottest = model_->readings().hottest();
    input.fans = model_->fans();
    input.daemonDriving = model_->daemonDriving();
    input.helperInstalled = model_->helperInstalled();
    input.helperRunning = model_->helperRunning();
    const double seconds = std::chrono::duration<double>(now().time_since_epoch()).count();
    for (const Alert& alert : alerts_.update(input, seconds)) {
        if (options_.alert) {
            options_.alert(alert);
        } else {
            notifier_->show(alert);
        }
    }
}

void AppDelegate::scheduleLayout() {
    // Layout changes arrive in bursts; the panel follows once, after they have settled.
    if (layoutQueued_) return;
    layoutQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        layoutQueued_ = false;
        layoutPanel();
    });
}

QRect AppDelegate::availableArea(QPoint probe) const {
    if (options_.availableArea) return options_.availableArea();
    if (barAreas_) return barAreas_->usable;
    QScreen* screen = QGuiApplication::screenAt(probe);
    if (panel_->isVisible() && panel_->screen() != nullptr) screen = panel_->screen();
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return {};
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        // Qt does not see the bars' exclusive zones, and the compositor centres the window:
        // a cap that leaves room at both edges keeps the panel from under any bar.
        return screen->geometry().adjusted(0, PanelPlacement::unknownBarReserve, 0,
                                           -PanelPlacement::unknownBarReserve);
    }
    return screen->availableGeometry();
}

void AppDelegate::layoutPanel() {
    if (panel_ == nullptr) return;
    if (dragging_ && panel_->isVisible()) {
        // A control being dragged must stay under the pointer; the panel follows on release.
        layoutPending_ = true;
        return;
    }
    layoutPending_ = false;
    ++layoutPasses_;
    const std::optional<QRect> anchor = statusItem_->geometry();
    const QPoint cursor = cursorAtOpen_.value_or(QCursor::pos());
    const QRect available = availableArea(anchor ? anchor->center() : cursor);
    // Capped to the screen, the middle of the panel scrolls and the footer stays reachable.
    const QSize size = view_->fittingSize(
        available.isEmpty() ? QWIDGETSIZE_MAX : available.height() - 2 * PanelPlacement::margin);
    if (panel_->size() != size) panel_->setFixedSize(size);
    // The user may have moved the ordinary window; it only follows its content's size.
    if (panel_->isWindow() && panel_->isVisible()) return;
    QPoint at;
    if (barAreas_) {
        at = PanelPlacement::atBar(size, barAreas_->output, barAreas_->usable);
    } else if (panel_->isVisible()) {
        at = PanelPlacement::keptOpen(panel_->geometry(), size, available);
    } else {
        at = PanelPlacement::topLeft(size, anchor, cursor, available);
    }
    if (panel_->pos() != at) panel_->move(at);
}

void AppDelegate::placeOnCompositor(QWidget* window, QPoint at, int tries) {
    if (!window->isVisible()) return;
    // The window is mapped a moment after show(); sway finds it from then on.
    if (SwayPlacement::move(window->windowTitle(), at) || tries <= 1) return;
    QPointer<QWidget> later(window);
    QTimer::singleShot(50, this, [this, later, at, tries] {
        if (later) placeOnCompositor(later, at, tries - 1);
    });
}

void AppDelegate::showPanel() {
    if (panel_ == nullptr) return;
    model_->animateChanges = false;
    model_->refresh();
    if (!panel_->isVisible()) {
        const QPoint pointer = QCursor::pos();
        cursorAtOpen_ = HostClick::nearPointer(pointer).value_or(pointer);
        barAreas_.reset();
        if (!panel_->isWindow() &&
            QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
            barAreas_ = SwayPlacement::areas();
        }
    }
    layoutPanel();
    panel_->show();
    panel_->raise();
    panel_->activateWindow();
    if (barAreas_) {
        QTimer::singleShot(0, this, [this] {
            if (barAreas_) placeOnCompositor(panel_, panel_->pos(), 10);
        });
    }
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
    dragging_ = false;
    if (layoutPending_) layoutPanel();
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
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease) {
        auto* slider = qobject_cast<QAbstractSlider*>(watched);
        if (slider != nullptr && slider->window() == panel_) {
            dragging_ = event->type() == QEvent::MouseButtonPress;
            if (!dragging_ && layoutPending_) {
                scheduleLayout();
            }
        }
    }
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
