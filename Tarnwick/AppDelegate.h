#pragma once

// The application shell: owns the model, the tray item and the panel, opens and closes the panel
// and keeps the tray item drawn.

#include <QObject>
#include <QPoint>
#include <QRect>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "Tarnwick/alerts/AlertMonitor.h"
#include "Tarnwick/model/Model.h"
#include "Tarnwick/panel/SwayPlacement.h"
#include "Tarnwick/tray/TrayColors.h"
#include "Tarnwick/tray/TrayHost.h"

class DesktopNotifier;
class PanelWindow;
class QMenu;
class QWidget;
class PopoverView;
class StatusItem;

struct AppDelegateOptions {
    bool showPanel = false;      // open the panel shortly after launch
    bool expandMenuBar = false;  // the panel's menu-bar settings start expanded
    ModelOptions model;
    // How long launch waits for a tray host before showing the panel as an ordinary window
    // (unless Qt sees a tray all the same). The program takes it from TARNWICK_TRAY_WAIT_MS,
    // which exists for tests.
    std::chrono::milliseconds trayWait{std::chrono::seconds(2)};
    // How often the tray hosts are looked at again once the wait is over.
    std::chrono::milliseconds trayWatch{std::chrono::seconds(2)};
    // Whether Qt can show a tray icon; QSystemTrayIcon::isSystemTrayAvailable() when empty.
    std::function<bool()> trayAvailable;
    std::function<std::chrono::steady_clock::time_point()> clock;  // steady_clock::now
    // The screen area the panel may cover; worked out from the screens when empty (tests stand
    // in a laptop's screen for the off-screen platform's).
    std::function<QRect()> availableArea;
    // Where alerts go; a DesktopNotifier (desktop notifications, else the tray's message) when
    // empty.
    std::function<void(const Alert&)> alert;
};

class AppDelegate : public QObject {
    Q_OBJECT

  public:
    // A hide followed by a toggle within this time keeps the panel closed: the click that closed
    // the panel by landing outside it is also the tray icon's click.
    static constexpr std::chrono::milliseconds reopenGuard{300};
    // Fan changes animate only once the panel has been open this long.
    static constexpr std::chrono::milliseconds animationDelay{300};
    static constexpr std::chrono::milliseconds showPanelDelay{500};

    // Whether the panel has to be an ordinary window: neither a tray host was found within the
    // wait nor does Qt see a tray, so no icon could ever open the panel again.
    static bool panelAsWindow(bool hostFound, bool trayAvailable);

    explicit AppDelegate(AppDelegateOptions options);
    ~AppDelegate() override;

    // Builds the panel, draws the tray item, creates the tray icon once a tray host is there and
    // opens the panel after 0.5 s with showPanel. Without any tray after the wait, shows the
    // panel as an ordinary window instead.
    void applicationDidFinishLaunching();

    void toggle();
    void showPanel();
    void hidePanel();
    // Sizes the panel to its content and places it at the tray icon (or the cursor).
    void layoutPanel();
    void updateStatusItem();
    // Feeds the latest poll to the alert monitor and shows what it decides.
    void checkAlerts();

    // How often layoutPanel() has run; what an idle application should not increase.
    int layoutPasses() const { return layoutPasses_; }

    Model& model() { return *model_; }
    PanelWindow* panel() const { return panel_; }
    PopoverView* view() const { return view_; }
    StatusItem* statusItem() const { return statusItem_; }

  signals:
    // The user closed the panel's ordinary window while no tray icon could bring it back, or
    // chose quit from the tray icon's menu.
    void quitRequested();
    // The tray host was replaced by one of the other kind, which Qt can only serve in a new
    // process.
    void restartRequested();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildPanel();
    void panelHidden();
    void trayWaitEnded(bool hostFound);
    void watchTray();
    void createTrayIcon(const TrayHost::Hosts& hosts);
    void buildTrayMenu();
    void showTrayMenu();
    void scheduleLayout();
    void watchScreens();
    void privilegedRunStarting();
    void privilegedRunSettled();
    // The screen area the panel may cover around `probe`.
    QRect availableArea(QPoint probe) const;
    // Where the compositor alone can place windows: asks it (on sway) to move `window` to `at`,
    // up to `tries` times while the window is not mapped yet.
    void placeOnCompositor(QWidget* window, QPoint at, int tries);
    std::chrono::steady_clock::time_point now() const;

    AppDelegateOptions options_;
    std::unique_ptr<Model> model_;
    StatusItem* statusItem_ = nullptr;
    DesktopNotifier* notifier_ = nullptr;
    AlertMonitor alerts_;
    PanelWindow* panel_ = nullptr;
    PopoverView* view_ = nullptr;
    bool monitoring_ = false;
    // Where the cursor (or the tray host's click) was when the panel opened; the anchor of its
    // first placement when the tray icon's geometry is unknown.
    std::optional<QPoint> cursorAtOpen_;
    // The compositor's bar areas, asked once per opening where the compositor places windows.
    std::optional<SwayPlacement::Areas> barAreas_;
    int layoutPasses_ = 0;
    bool layoutQueued_ = false;
    // A privileged script is running that the panel was open for (it closed for the prompt).
    std::optional<bool> scriptFromOpenPanel_;
    std::optional<std::chrono::steady_clock::time_point> lastHide_;
    // A mouse button is down in the panel, and a layout waits for its release.
    bool dragging_ = false;
    bool layoutPending_ = false;
    // The kind of host the tray icon was made for; Qt picks the kind once per process.
    enum class TrayKind { none, xembed, statusNotifier } trayKind_ = TrayKind::none;
    // Qt was asked about trays while no StatusNotifier host was there, and keeps that answer.
    bool qtDecidedWithoutStatusNotifier_ = false;
    QMenu* trayMenu_ = nullptr;
    PanelTone desktopTone_ = PanelTone::unknown;  // read once at launch
};
