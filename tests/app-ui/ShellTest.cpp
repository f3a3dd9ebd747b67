#include <QtTest/qtestspontaneevent.h>
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include "FanCore/Diagnostics/Diagnostics.h"
#include "FanCore/Policy/Measurements.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Sensors/Sensors.h"
#include "Tarnwick/AppDelegate.h"
#include "Tarnwick/Snapshot.h"
#include "Tarnwick/panel/AboutView.h"
#include "Tarnwick/panel/AboutWindow.h"
#include "Tarnwick/panel/GlassVeil.h"
#include "Tarnwick/panel/PanelWindow.h"
#include "Tarnwick/panel/PopoverView.h"
#include "Tarnwick/panel/views/ControlSection.h"
#include "Tarnwick/panel/views/FansSection.h"
#include "Tarnwick/panel/views/Footer.h"
#include "Tarnwick/panel/views/MenuBarSection.h"
#include "Tarnwick/tray/StatusItem.h"
#include "Tarnwick/tray/TrayHost.h"
#include "Tarnwick/widgets/FittingScrollArea.h"
#include "Tarnwick/widgets/LabeledSlider.h"
#include "Tarnwick/widgets/ProminentButton.h"
#include "Tarnwick/widgets/SegmentedControl.h"
#include "Tarnwick/widgets/Text.h"
#include "UiTest.h"

namespace {

using std::chrono::milliseconds;

// The area a 1366x768 screen at scale 2 leaves under a 30-pixel bar, in logical pixels.
const QRect laptopAtScale2(0, 15, 683, 369);

// A launched shell whose clock the test moves by hand.
struct Shell {
    // `tray`: whether Qt sees a tray once the (immediate) wait for a tray host has given up;
    // `screen`: the area the panel may cover, the off-screen platform's when empty.
    explicit Shell(QStringList arguments = {QStringLiteral("tarnwick")}, bool tray = true,
                   QRect screen = {}) {
        AppDelegateOptions options;
        if (!screen.isEmpty()) options.availableArea = [screen] { return screen; };
        options.alert = [this](const Alert& alert) { alerts << alert.title + "|" + alert.body; };
        options.showPanel = appOptions(arguments).showPanel;
        options.expandMenuBar = appOptions(arguments).expandMenuBar;
        options.model = sandbox.options(arguments);
        options.trayWait = milliseconds(0);
        options.trayAvailable = [tray] { return tray; };
        options.clock = [this] { return now; };
        delegate = std::make_unique<AppDelegate>(options);
        delegate->applicationDidFinishLaunching();
    }
    ~Shell() { delegate->hidePanel(); }

    bool open() const { return delegate->panel()->isVisible(); }

    // A two-fan laptop with every sensor and a battery, as the daemon publishes it, so that the
    // refresh of each opening keeps the whole panel for the next five seconds.
    void measureLaptop() {
        std::filesystem::create_directories(Paths::statusDir());
        const Measurements laptop{static_cast<double>(QDateTime::currentSecsSinceEpoch()),
                                  {61.5, 58, 63, 41, 33, 45, 38, 31},
                                  {makeFan(0, 2000), makeFan(1, 2100)},
                                  {true, true, 80}};
        ASSERT_TRUE(laptop.save().has_value());
        delegate->model().refresh();
    }

    UiSandbox sandbox;
    std::chrono::steady_clock::time_point now{std::chrono::seconds(1000)};
    QStringList alerts;
    std::unique_ptr<AppDelegate> delegate;
};

// Whether all of `widget` shows in the panel's scrolling middle.
bool inView(const PopoverView* view, const QWidget* widget) {
    const QWidget* port = view->scrollArea()->viewport();
    return port->rect().contains(QRect(widget->mapTo(port, QPoint(0, 0)), widget->size()));
}

TEST(PanelToggle, OpensAndClosesButNotRightAfterAClose) {
    Shell shell;
    EXPECT_FALSE(shell.open());
    shell.delegate->toggle();
    EXPECT_TRUE(shell.open());
    shell.now += milliseconds(50);
    shell.delegate->toggle();
    EXPECT_FALSE(shell.open());

    // The click that closed the panel by landing on the icon must not reopen it.
    shell.now += milliseconds(299);
    shell.delegate->toggle();
    EXPECT_FALSE(shell.open());
    shell.now += milliseconds(2);
    shell.delegate->toggle();
    EXPECT_TRUE(shell.open());
}

TEST(PanelToggle, HidingAClosedPanelKeepsTheLastHideTime) {
    Shell shell;
    shell.delegate->toggle();
    shell.delegate->hidePanel();
    shell.now += milliseconds(250);
    shell.delegate->hidePanel();  // already closed: must not count as a new hide
    shell.now += milliseconds(100);
    shell.delegate->toggle();
    EXPECT_TRUE(shell.open());
}

TEST(PanelToggle, OpeningRefreshesTheModelAndSizesThePanel) {
    Shell shell;
    QSignalSpy refreshed(&shell.delegate->model(), &Model::refreshed);
    shell.delegate->showPanel();
    EXPECT_EQ(refreshed.count(), 1);
    const QSize fitting = shell.delegate->view()->fittingSize();
    EXPECT_EQ(shell.delegate->panel()->size(), fitting);
    EXPECT_EQ(fitting.width(), PopoverView::panelWidth);
}

TEST(PanelKeys, EscapeClosesTheOpenPanel) {
    Shell shell;
    shell.delegate->showPanel();
    ASSERT_TRUE(shell.open());
    QTest::keyClick(shell.delegate->panel(), Qt::Key_Escape);
    EXPECT_FALSE(shell.open());
}

TEST(PanelKeys, EscapeInAFocusedControlClosesThePanel) {
    Shell shell({QStringLiteral("tarnwick")});
    shell.delegate->model().setFans({makeFan(0, 2000)});
    shell.delegate->showPanel();
    SegmentedControl* picker = shell.delegate->view()->controls()->picker();
    picker->setFocus();
    QTest::keyClick(picker, Qt::Key_Escape);
    EXPECT_FALSE(shell.open());
}

TEST(PanelKeys, OtherKeysReachTheControls) {
    Shell shell;
    shell.delegate->model().setFans({makeFan(0, 2000)});
    shell.delegate->showPanel();
    shell.delegate->view()->sync();
    SegmentedControl* picker = shell.delegate->view()->controls()->picker();
    ASSERT_EQ(picker->selected(), 0);
    QTest::keyClick(picker, Qt::Key_Right);
    EXPECT_TRUE(shell.open());
    EXPECT_EQ(picker->selected(), 1);
    EXPECT_TRUE(shell.delegate->model().config().manualMode);
}

TEST(PanelMouse, AClickOutsideClosesThePanel) {
    Shell shell;
    QWidget elsewhere;
    elsewhere.resize(200, 200);
    elsewhere.move(900, 600);
    elsewhere.show();
    shell.delegate->showPanel();
    ASSERT_TRUE(shell.open());
    // Qt delivers a press outside an open pop-up to the pop-up, which closes.
    const QPoint outside = shell.delegate->panel()->mapFromGlobal(QPoint(1000, 700));
    QTest::mouseClick(shell.delegate->panel(), Qt::LeftButton, {}, outside);
    EXPECT_FALSE(shell.open());
    // A click inside does not.
    shell.now += milliseconds(500);
    shell.delegate->toggle();
    ASSERT_TRUE(shell.open());
    QTest::mouseClick(shell.delegate->panel(), Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_TRUE(shell.open());
}

TEST(PanelMouse, ClosingByClickCountsAsAHide) {
    Shell shell;
    shell.delegate->showPanel();
    QTest::mouseClick(shell.delegate->panel(), Qt::LeftButton, {}, QPoint(-50, -50));
    ASSERT_FALSE(shell.open());
    shell.now += milliseconds(100);
    shell.delegate->toggle();  // the same click reaching the tray icon
    EXPECT_FALSE(shell.open());
}

TEST(PanelAnchor, ContentChangesDoNotMoveTheOpenPanelToTheCursor) {
    Shell shell;
    QCursor::setPos(QPoint(300, 200));
    shell.delegate->showPanel();
    const QPoint opened = shell.delegate->panel()->pos();
    // The pointer moves (to a control inside the panel) and the content grows.
    QCursor::setPos(opened + QPoint(20, 300));
    shell.delegate->view()->menuBar()->toggleExpanded();
    ASSERT_TRUE(waitFor(
        [&] { return shell.delegate->panel()->size() == shell.delegate->view()->fittingSize(); },
        2000));
    EXPECT_EQ(shell.delegate->panel()->pos().x(), opened.x());
    // Reopened, the panel goes to the cursor again.
    shell.delegate->hidePanel();
    shell.now += milliseconds(500);
    shell.delegate->toggle();
    EXPECT_NE(shell.delegate->panel()->pos().x(), opened.x());
}

TEST(PanelAnchor, PanelStaysPutWhileASliderIsDragged) {
    Shell shell;
    shell.delegate->showPanel();
    shell.delegate->model().setFans({makeFan(0, 2000), makeFan(1, 2100)});
    PanelWindow* panel = shell.delegate->panel();
    ASSERT_TRUE(
        waitFor([&] { return panel->size() == shell.delegate->view()->fittingSize(); }, 2000));
    const QRect before = panel->geometry();
    QSlider* slider = shell.delegate->view()->controls()->strengthSlider()->slider();
    ASSERT_TRUE(slider->isVisible());
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(4, slider->height() / 2));
    shell.delegate->model().setFans({});  // the content shrinks under the pointer
    QTest::qWait(200);
    EXPECT_EQ(panel->geometry(), before);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(4, slider->height() / 2));
    EXPECT_TRUE(waitFor([&] { return panel->height() < before.height(); }, 2000));
}

TEST(PanelLayoutLoop, NoLayoutWorkWhileNothingChangesOnALaptopScreen) {
    Shell shell({QStringLiteral("tarnwick"), QStringLiteral("--expand-menu-bar")}, true,
                laptopAtScale2);
    shell.measureLaptop();
    for (const bool open : {false, true}) {
        if (open) shell.delegate->showPanel();
        QTest::qWait(300);
        ASSERT_LT(shell.delegate->panel()->height(),
                  shell.delegate->view()->fittingSize().height());
        const int before = shell.delegate->layoutPasses();
        QTest::qWait(2000);
        EXPECT_LE(shell.delegate->layoutPasses() - before, 3) << (open ? "open" : "closed");
    }
}

TEST(PanelScroll, WheelAndTabReachTheTemperaturesAtScale2) {
    Shell shell({QStringLiteral("tarnwick")}, true, laptopAtScale2);
    shell.measureLaptop();
    shell.delegate->showPanel();
    QTest::qWait(200);
    PopoverView* view = shell.delegate->view();
    const QWidget* temperatures = nullptr;
    for (const Text* text : view->findChildren<Text*>()) {
        if (text->text() == QStringLiteral("Temperatures")) temperatures = text;
    }
    ASSERT_NE(temperatures, nullptr);
    ASSERT_FALSE(inView(view, temperatures));
    // The pointer rests in the middle of the scrolling part, first over the strength slider; the
    // wheel goes to whatever passes under it, as the window system's own (spontaneous) events do.
    QSlider* slider = view->controls()->strengthSlider()->slider();
    const int strength = slider->value();
    QWidget* port = view->scrollArea()->viewport();
    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    bar->setValue(slider->mapTo(view->scrollArea()->widget(), slider->rect().center()).y() -
                  port->height() / 2);
    const QPoint pointer = port->mapTo(view, port->rect().center());
    auto wheelAt = [view](QPoint point) {
        QWidget* under = view->childAt(point);
        const QPoint at = under->mapFrom(view, point);
        QWheelEvent wheel(at, under->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&wheel);
        qApp->notify(under, &wheel);
    };
    ASSERT_EQ(view->childAt(pointer), slider);
    for (int turn = 0; turn < 20 && !inView(view, temperatures); ++turn) wheelAt(pointer);
    EXPECT_TRUE(inView(view, temperatures));
    EXPECT_EQ(slider->value(), strength);
    // Over the fans, which stay put, the wheel scrolls the middle too.
    bar->setValue(0);
    wheelAt(view->fans()->mapTo(view, view->fans()->rect().center()));
    EXPECT_GT(bar->value(), 0);

    // Tab goes top to bottom, each control coming into view, the temperatures on the way.
    bar->setValue(0);
    view->fans()->installButton()->setFocus();
    bool seen = false;
    QWidget* previous = nullptr;
    for (int step = 0; step < 20 && QApplication::focusWidget() != view->footer()->gearButton();
         ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        if (previous != nullptr) {
            EXPECT_GE(focused->mapTo(view, focused->rect().center()).y(),
                      previous->mapTo(view, previous->rect().center()).y())
                << focused->metaObject()->className();
        }
        previous = focused;
        if (view->scrollArea()->widget()->isAncestorOf(focused)) {
            EXPECT_TRUE(inView(view, focused) || focused->height() > port->height())
                << focused->metaObject()->className();
        }
        seen = seen || inView(view, temperatures);
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(QApplication::focusWidget(), view->footer()->gearButton());
    // Page Up from the footer scrolls the middle back.
    const int bottom = view->scrollArea()->verticalScrollBar()->value();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp);
    EXPECT_LT(view->scrollArea()->verticalScrollBar()->value(), bottom);
}

TEST(PanelPrompt, AFailedInstallReopensThePanelOrAlerts) {
    for (const bool open : {true, false}) {
        Shell shell;
        QFile script(shell.sandbox.path("bundle/install.sh"));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("echo 'install.sh: no room' >&2; exit 3\n");
        script.close();
        if (open) shell.delegate->showPanel();
        shell.delegate->model().runPrivileged(QStringLiteral("install.sh"));
        EXPECT_FALSE(shell.open());
        ASSERT_TRUE(waitFor([&] { return !shell.delegate->model().runningScript(); }, 5000));
        QTest::qWait(50);
        EXPECT_EQ(shell.open(), open);
        EXPECT_EQ(shell.alerts,
                  open ? QStringList() : QStringList{"fan control was not installed|no room"});
        EXPECT_EQ(shell.delegate->view()->fans()->messageText()->isVisible(), open);
    }
}

TEST(PanelPrompt, OpenPopUpClosesBeforeAPrivilegedScriptStarts) {
    Shell shell;
    shell.delegate->showPanel();
    ASSERT_TRUE(shell.open());
    QFile script(shell.sandbox.path("bundle/uninstall.sh"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("exit 0\n");
    script.close();
    shell.delegate->model().runPrivileged(QStringLiteral("uninstall.sh"));
    EXPECT_FALSE(shell.open());
    EXPECT_TRUE(waitFor([&] { return !shell.delegate->model().runningScript(); }, 5000));
}

TEST(PanelWithoutTray, TheDecisionNeedsBothTheHostAndQtToSeeNoTray) {
    struct Case {
        bool hostFound;
        bool trayAvailable;
        bool window;
    };
    for (const Case c : {Case{true, true, false}, Case{true, false, false},
                         Case{false, true, false}, Case{false, false, true}}) {
        EXPECT_EQ(AppDelegate::panelAsWindow(c.hostFound, c.trayAvailable), c.window)
            << c.hostFound << c.trayAvailable;
    }
}

TEST(PanelWithoutTray, BecomesAnOrdinaryWindowThatStaysUntilClosed) {
    Shell shell({QStringLiteral("tarnwick")}, false);
    PanelWindow* panel = shell.delegate->panel();
    ASSERT_TRUE(waitFor([&] { return panel->isWindow() && panel->isVisible(); }, 3000));
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("tarnwick"));
    EXPECT_EQ(panel->windowType(), Qt::Window);
    EXPECT_FALSE(panel->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_FALSE(panel->windowIcon().isNull());
    EXPECT_EQ(panel->size(), shell.delegate->view()->fittingSize());

    // Neither Escape nor a deactivation nor a click elsewhere closes it.
    QTest::keyClick(panel, Qt::Key_Escape);
    QEvent deactivate(QEvent::ApplicationDeactivate);
    QCoreApplication::sendEvent(qApp, &deactivate);
    QTest::mouseClick(panel, Qt::LeftButton, {}, QPoint(-50, -50));
    QTest::qWait(300);
    EXPECT_TRUE(panel->isVisible());

    // Its content still follows the model, and the window its content's size.
    shell.delegate->view()->menuBar()->toggleExpanded();
    EXPECT_TRUE(
        waitFor([&] { return panel->size() == shell.delegate->view()->fittingSize(); }, 2000));

    // Closing it is the user's way out of the application.
    QSignalSpy quit(shell.delegate.get(), &AppDelegate::quitRequested);
    panel->close();
    EXPECT_EQ(quit.count(), 1);
    EXPECT_FALSE(panel->isVisible());
}

TEST(PanelWithoutTray, StaysAPopUpWhenQtSeesATray) {
    Shell shell;
    // The icon comes when the tray wait ends, with the panel's kind decided.
    ASSERT_TRUE(waitFor([&] { return shell.delegate->statusItem()->hasTrayIcon(); }, 3000));
    EXPECT_FALSE(shell.delegate->panel()->isWindow());
    EXPECT_FALSE(shell.open());
}

TEST(PanelAnimation, FanChangesAnimateFromAFractionOfASecondAfterOpening) {
    Shell shell;
    Model& model = shell.delegate->model();
    EXPECT_FALSE(model.animateChanges);
    shell.delegate->showPanel();
    EXPECT_FALSE(model.animateChanges);
    ASSERT_TRUE(waitFor([&] { return model.animateChanges; }, 2000));
    shell.delegate->hidePanel();
    EXPECT_FALSE(model.animateChanges);
}

TEST(PanelAnimation, AQuickCloseCancelsThePendingStart) {
    Shell shell;
    Model& model = shell.delegate->model();
    shell.delegate->showPanel();
    shell.delegate->hidePanel();
    QTest::qWait(400);
    EXPECT_FALSE(model.animateChanges);
}

TEST(PanelLaunch, ShowPanelOptionOpensItHalfASecondAfterLaunch) {
    Shell shell({QStringLiteral("tarnwick"), QStringLiteral("--show-panel")});
    EXPECT_FALSE(shell.open());
    ASSERT_TRUE(waitFor([&] { return shell.open(); }, 3000));
}

TEST(PanelLaunch, StatusItemFollowsTheModel) {
    Shell shell;
    Model& model = shell.delegate->model();
    model.setFans({makeFan(0, 2345)});
    model.setMenuBar(MenuBarStyle{false, MenuBarValue::rpm, false, true});
    EXPECT_EQ(shell.delegate->statusItem()->button().title, QStringLiteral("2350"));
    model.setFans({makeFan(0, 3011)});
    model.refresh();  // the refresh reads no fans in the sandbox
    EXPECT_EQ(shell.delegate->statusItem()->button().title, QStringLiteral("–"));
}

TEST(PanelLaunch, TrayRedrawsOnlyWhenWhatItShowsChanges) {
    Shell shell;
    ASSERT_TRUE(waitFor([&] { return shell.delegate->statusItem()->hasTrayIcon(); }, 3000));
    Model& model = shell.delegate->model();
    model.setFans({makeFan(0, 2345)});
    model.setMenuBar(MenuBarStyle{true, MenuBarValue::rpm, false, true});
    const int drawn = shell.delegate->statusItem()->redraws();
    for (int i = 0; i < 3; ++i) shell.delegate->updateStatusItem();
    EXPECT_EQ(shell.delegate->statusItem()->redraws(), drawn);
    model.setFans({makeFan(0, 3011)});
    shell.delegate->updateStatusItem();
    EXPECT_EQ(shell.delegate->statusItem()->redraws(), drawn + 1);
}

TEST(Snapshot, PictureIsTwiceThePanelsPointSize) {
    UiSandbox sandbox;
    const QString out = sandbox.path("panel.png");
    const QStringList arguments{"tarnwick", "--snapshot", out,
                                "--demo",   "hot",        "--expand-menu-bar"};
    Snapshot::run(appOptions(arguments), out, sandbox.options(arguments));
    QImage picture(out);
    ASSERT_FALSE(picture.isNull());

    Model model(sandbox.options(arguments));
    PopoverView view(model, true);
    const QSize points = view.fittingSize();
    EXPECT_EQ(picture.size(), points * 2);
    // The window background covers the whole picture: no transparent corners.
    EXPECT_EQ(qAlpha(picture.pixel(0, 0)), 255);
    EXPECT_EQ(qAlpha(picture.pixel(picture.width() - 1, picture.height() - 1)), 255);
}

TEST(Snapshot, AboutPictureIsTwiceTheAboutViewsSize) {
    UiSandbox sandbox;
    const QString out = sandbox.path("about.png");
    const QStringList arguments{"tarnwick", "--snapshot", out, "--about"};
    Snapshot::run(appOptions(arguments), out, sandbox.options(arguments));
    QImage picture(out);
    ASSERT_FALSE(picture.isNull());
    AboutView view;
    EXPECT_EQ(picture.size(), view.sizeHint() * 2);
}

TEST(Snapshot, FailedWriteLeavesNoFileAndKeepsAnOldOne) {
    UiSandbox sandbox;
    QImage image(4, 4, QImage::Format_ARGB32);
    image.fill(Qt::red);
    EXPECT_FALSE(Snapshot::write(image, sandbox.path("missing/out.png")));
    EXPECT_FALSE(QFileInfo::exists(sandbox.path("missing")));
    EXPECT_FALSE(Snapshot::write(QImage(), sandbox.path("empty.png")));
    EXPECT_FALSE(QFileInfo::exists(sandbox.path("empty.png")));
    ASSERT_TRUE(Snapshot::write(image, sandbox.path("kept.png")));
    EXPECT_EQ(QImage(sandbox.path("kept.png")).size(), QSize(4, 4));
}

TEST(AboutView, ShowsAQuestionMarkWithoutVersion) {
    uiApplication();
    const QString saved = QCoreApplication::applicationVersion();
    QCoreApplication::setApplicationVersion(QString());
    EXPECT_EQ(AboutView::version(), QStringLiteral("?"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2.3"));
    EXPECT_EQ(AboutView::version(), QStringLiteral("1.2.3"));
    QCoreApplication::setApplicationVersion(saved);
}

TEST(AboutWindow, OneWindowReusedAfterClosing) {
    uiApplication();
    AboutWindow::show();
    QWidget* first = AboutWindow::window();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    AboutWindow::show();
    EXPECT_EQ(AboutWindow::window(), first);
    first->close();
    EXPECT_FALSE(first->isVisible());
    EXPECT_EQ(AboutWindow::window(), first);  // closing hides it, nothing more
    AboutWindow::show();
    EXPECT_EQ(AboutWindow::window(), first);
    EXPECT_TRUE(first->isVisible());
    // Neither minimised nor resized: only a title and a close button.
    EXPECT_FALSE(first->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(first->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(first->minimumSize(), first->maximumSize());
    EXPECT_EQ(first->windowTitle(), QStringLiteral("about tarnwick"));
    QTest::keyClick(first, Qt::Key_Escape);
    EXPECT_FALSE(first->isVisible());
    first->close();
}

TEST(GlassVeil, DrawsNothingOnLinux) {
    uiApplication();
    GlassVeil veil;
    veil.resize(100, 60);
    QImage image(veil.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    veil.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) ASSERT_EQ(qAlpha(image.pixel(x, y)), 0);
    }
}

TEST(TrayHostWait, GivesUpAfterTheLimitAndCallsOnce) {
    uiApplication();  // the off-screen platform has no tray
    int calls = 0;
    std::optional<bool> found;
    QObject context;
    TrayHost::whenPresent(&context, milliseconds(100), milliseconds(10), [&](bool present) {
        ++calls;
        found = present;
    });
    ASSERT_TRUE(waitFor([&] { return calls > 0; }, 3000));
    QTest::qWait(100);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(found, false);
}

TEST(TrayHostWait, EndsWithItsContext) {
    uiApplication();
    int calls = 0;
    {
        QObject context;
        TrayHost::whenPresent(&context, milliseconds(50), milliseconds(10), [&](bool) { ++calls; });
    }
    QTest::qWait(150);
    EXPECT_EQ(calls, 0);
}

// The program itself, run as a user would.
struct ProgramRun {
    int exitCode = -1;
    bool crashed = true;
    QByteArray out;
    QByteArray err;
};

class Program : public ::testing::Test {
  protected:
    ProgramRun run(const QStringList& arguments) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TARNWICK_ROOT"), sandbox.path("root"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), sandbox.path("config"));
        environment.insert(QStringLiteral("HOME"), sandbox.path("home"));
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            environment.remove(QString::fromLatin1(name));
        }
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TARNWICK_BUILD_DIR "/bin/tarnwick"), arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitCode(), process.exitStatus() != QProcess::NormalExit,
                process.readAllStandardOutput(), process.readAllStandardError()};
    }

    UiSandbox sandbox;
};

TEST_F(Program, SnapshotWithoutADisplayWritesAPictureAndExitsZero) {
    const QString out = sandbox.path("out.png");
    const ProgramRun process = run({"--snapshot", out, "--demo", "hot", "--expand-menu-bar"});
    EXPECT_FALSE(process.crashed);
    EXPECT_EQ(process.exitCode, 0);
    QImageReader reader(out);
    EXPECT_EQ(reader.format(), QByteArray("png"));
    const QSize size = reader.size();
    EXPECT_EQ(size.width(), 2 * PopoverView::panelWidth);
    EXPECT_EQ(size.height() % 2, 0);
    EXPECT_GT(size.height(), 400);
}

TEST_F(Program, SnapshotIntoAMissingFolderWritesNothingAndSaysSo) {
    const QString out = sandbox.path("no/such/folder/out.png");
    const ProgramRun process = run({"--snapshot", out});
    EXPECT_FALSE(process.crashed);
    EXPECT_EQ(process.exitCode, 1);
    const std::string expected = "tarnwick: cannot write the picture to " + out.toStdString();
    EXPECT_NE(process.err.toStdString().find(expected + "\n"), std::string::npos)
        << process.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(sandbox.path("no")));
    const ProgramRun bare = run({"--snapshot"});
    EXPECT_EQ(bare.exitCode, 2) << "no path is an error, not the tray application";
}

TEST_F(Program, DiagnosticsPrintsTheReportWithoutADisplay) {
    const ProgramRun process = run({"--diagnostics"});
    EXPECT_FALSE(process.crashed);
    EXPECT_EQ(process.exitCode, 0);
    const QByteArray output = process.out;
    const Sensors sensors(milliseconds(0));
    const std::string report = Diagnostics::report(sensors);
    EXPECT_EQ(output.toStdString(), report + "\n");
    EXPECT_EQ(process.err, QByteArray());
}

}  // namespace
