// The application on a real X server (Xvfb) with a tray: the icon docks, a click opens the panel
// under it, Escape and a click elsewhere close it. Skipped where Xvfb or xdotool is missing.

#include <gtest/gtest.h>
#include <signal.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "daemon/ProcessSupport.h"
#include "support/TempDir.h"
#include "support/Xvfb.h"

namespace {

using namespace std::chrono_literals;

const std::filesystem::path appPath = e2e::buildDir / "bin" / "tarnwick";
const std::filesystem::path hostPath = e2e::buildDir / "tests" / "fake-tray-host";

bool onPath(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Standard output of a shell command.
std::string capture(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (const size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, n);
        ::pclose(pipe);
    }
    return output;
}

struct WindowState {
    bool viewable = false;
    bool overrideRedirect = false;  // a pop-up that no window manager decorates
    int x = 0, y = 0, width = 0, height = 0;
};

class TrayOnX : public ::testing::Test {
  protected:
    void SetUp() override { startServer(); }

    void startServer() {
        for (const char* tool : {"Xvfb", "xdotool", "xwininfo"}) {
            if (!onPath(tool)) GTEST_SKIP() << tool << " is not installed";
        }
        server_ = std::make_unique<support::Xvfb>(scratch_.path(), "1280x800x24");
        display_ = server_->display();
        ASSERT_FALSE(display_.empty()) << e2e::readText(scratch_.path() / "xvfb.log");
        if (delayHost_) return;
        startHost();
    }

    void startHost() {
        if (!hostCommand_.empty()) {
            host_ = std::make_unique<e2e::Child>(hostCommand_,
                                                 std::vector<std::string>{"DISPLAY=" + display_},
                                                 scratch_.path() / "host.log");
            return;
        }
        host_ = std::make_unique<e2e::Child>(std::vector<std::string>{hostPath.string()},
                                             std::vector<std::string>{"DISPLAY=" + display_},
                                             scratch_.path() / "host.log");
        ASSERT_TRUE(
            e2e::eventually([&] { return hostLog().find("ready") != std::string::npos; }, 10s));
    }

    void TearDown() override {
        if (app_) app_->signal(SIGTERM);
        app_.reset();
        host_.reset();
        server_.reset();
    }

    std::string hostLog() const { return e2e::readText(scratch_.path() / "host.log"); }

    // `extra`: further arguments; `trayWaitMs`: the wait for a tray host, when not the default.
    void startApp(const std::vector<std::string>& extra = {},
                  std::optional<int> trayWaitMs = std::nullopt) {
        const std::filesystem::path root = scratch_.path() / "root";
        std::filesystem::create_directories(root);
        std::vector<std::string> arguments{appPath.string(), "--demo", "hot"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::vector<std::string> environment = appEnvironment();
        if (trayWaitMs)
            environment.push_back("TARNWICK_TRAY_WAIT_MS=" + std::to_string(*trayWaitMs));
        app_ = std::make_unique<e2e::Child>(arguments, environment, scratch_.path() / "app.log");
    }

    std::vector<std::string> appEnvironment() const {
        return {"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb",
                "TARNWICK_ROOT=" + (scratch_.path() / "root").string(),
                "XDG_CONFIG_HOME=" + (scratch_.path() / "config").string(),
                "DBUS_SESSION_BUS_ADDRESS=disabled:"};
    }

    std::string x(const std::string& arguments) const {
        return capture("DISPLAY=" + display_ + " " + arguments + " 2>/dev/null");
    }

    // The state of the window titled `title` (a regular expression); the pop-up by default.
    std::optional<WindowState> panel(const std::string& title = "^tarnwick panel$") const {
        std::istringstream ids(x("xdotool search --onlyvisible --name '" + title + "'"));
        std::string id;
        if (!(ids >> id)) return std::nullopt;
        const std::string info = x("xwininfo -id " + id);
        auto number = [&](const std::string& label) {
            std::smatch match;
            if (!std::regex_search(info, match, std::regex(label + ":\\s+(-?[0-9]+)"))) return 0;
            return std::stoi(match[1]);
        };
        WindowState state;
        state.viewable = info.find("IsViewable") != std::string::npos;
        state.overrideRedirect = info.find("Override Redirect State: yes") != std::string::npos;
        state.x = number("Absolute upper-left X");
        state.y = number("Absolute upper-left Y");
        state.width = number("Width");
        state.height = number("Height");
        return state;
    }

    bool panelOpen() const {
        const std::optional<WindowState> state = panel();
        return state && state->viewable;
    }

    void click(int atX, int atY) const {
        x("xdotool mousemove " + std::to_string(atX) + " " + std::to_string(atY) + " click 1");
    }

    bool delayHost_ = false;
    std::vector<std::string> hostCommand_;  // a real tray host instead of the fake one
    support::TempDir scratch_{"tarnwick-tray"};
    std::string display_;
    std::unique_ptr<support::Xvfb> server_;
    std::unique_ptr<e2e::Child> host_;
    std::unique_ptr<e2e::Child> app_;
};

TEST_F(TrayOnX, IconDocksAndThePanelOpensUnderIt) {
    startApp();
    std::smatch docked;
    std::string log;
    ASSERT_TRUE(e2e::eventually(
        [&] {
            log = hostLog();
            return std::regex_search(log, docked,
                                     std::regex("docked \\d+ (\\d+) (\\d+) (\\d+) (\\d+)"));
        },
        30s))
        << log << e2e::readText(scratch_.path() / "app.log");
    const int iconX = std::stoi(docked[1]);
    const int iconY = std::stoi(docked[2]);
    const int iconSide = std::stoi(docked[3]);
    const int centreX = iconX + iconSide / 2;
    const int centreY = iconY + iconSide / 2;

    click(centreX, centreY);
    ASSERT_TRUE(e2e::eventually([&] { return panelOpen(); }, 10s))
        << e2e::readText(scratch_.path() / "app.log");
    const WindowState open = *panel();
    EXPECT_EQ(open.width, 330);
    EXPECT_EQ(open.y, iconY + iconSide + 6);
    // Centred under the icon unless that would cross the screen's right margin.
    EXPECT_EQ(open.x, std::min(centreX - 165, 1280 - 330 - 8));

    x("xdotool key Escape");
    EXPECT_TRUE(e2e::eventually([&] { return !panelOpen(); }, 5s));

    std::this_thread::sleep_for(400ms);
    click(centreX, centreY);
    ASSERT_TRUE(e2e::eventually([&] { return panelOpen(); }, 10s));
    click(100, 600);  // far from the panel
    EXPECT_TRUE(e2e::eventually([&] { return !panelOpen(); }, 5s));

    // A click on the icon while the panel is open closes it and does not reopen it.
    std::this_thread::sleep_for(400ms);
    click(centreX, centreY);
    ASSERT_TRUE(e2e::eventually([&] { return panelOpen(); }, 10s));
    std::this_thread::sleep_for(400ms);
    click(centreX, centreY);
    EXPECT_TRUE(e2e::eventually([&] { return !panelOpen(); }, 5s));
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(panelOpen());
}

// A second start, with or without --show-panel, opens the running one's panel and ends.
TEST_F(TrayOnX, SecondLaunchOpensTheRunningOnesPanel) {
    startApp();
    ASSERT_TRUE(e2e::eventually([&] { return hostLog().find("docked") != std::string::npos; }, 30s))
        << e2e::readText(scratch_.path() / "app.log");
    for (const std::vector<std::string>& secondArgv :
         {std::vector<std::string>{appPath.string()}, {appPath.string(), "--show-panel"}}) {
        e2e::Child second(secondArgv, appEnvironment(), scratch_.path() / "second.log");
        EXPECT_TRUE(e2e::exitedWith(second.wait(20s), 0))
            << e2e::readText(scratch_.path() / "second.log");
        EXPECT_TRUE(e2e::eventually([&] { return panelOpen(); }, 10s)) << secondArgv.size();
        x("xdotool key Escape");
        EXPECT_TRUE(e2e::eventually([&] { return !panelOpen(); }, 5s));
        std::this_thread::sleep_for(400ms);
    }
    EXPECT_TRUE(app_->running());
}

// Started before the desktop's tray: the icon still appears once the tray does.
class LateTray : public TrayOnX {
  protected:
    void SetUp() override {
        delayHost_ = true;
        TrayOnX::SetUp();
    }
};

TEST_F(LateTray, IconDocksWhenTheTrayAppears) {
    startApp();
    std::this_thread::sleep_for(2s);
    startHost();
    EXPECT_TRUE(e2e::eventually([&] { return hostLog().find("docked") != std::string::npos; }, 30s))
        << hostLog() << e2e::readText(scratch_.path() / "app.log");
}

// No tray host on the display at all.
class NoTray : public TrayOnX {
  protected:
    void SetUp() override {
        delayHost_ = true;
        TrayOnX::SetUp();
    }

    std::optional<WindowState> window() const { return panel("^tarnwick$"); }
};

TEST_F(NoTray, PanelBecomesAnOrdinaryWindowThatStays) {
    startApp({}, 1000);
    ASSERT_TRUE(e2e::eventually([&] { return window() && window()->viewable; }, 30s))
        << e2e::readText(scratch_.path() / "app.log");
    const WindowState shown = *window();
    EXPECT_FALSE(shown.overrideRedirect);
    EXPECT_EQ(shown.width, 330);
    EXPECT_FALSE(panelOpen());  // no pop-up besides it
    std::istringstream ids(x("xdotool search --onlyvisible --name '^tarnwick$'"));
    std::string id;
    ASSERT_TRUE(ids >> id);
    EXPECT_NE(x("xprop -id " + id + " _NET_WM_ICON").find("Icon ("), std::string::npos);

    click(shown.x > 200 ? 50 : 1200, 700);  // elsewhere
    x("xdotool key Escape");
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(window());
    EXPECT_TRUE(window()->viewable);
}

// Before the wait has given up, the pop-up opens at the cursor. When its content changes under
// the pointer it keeps its place instead of following the pointer, which would leave the pointer
// outside and the pop-up exposed to closing on the next focus change.
TEST_F(NoTray, PopUpKeepsItsPlaceWhenItsContentChanges) {
    // High enough on the screen that the expanded panel still fits below the pointer.
    x("xdotool mousemove 640 40");
    startApp({"--show-panel"}, 60000);
    ASSERT_TRUE(e2e::eventually([&] { return panelOpen(); }, 30s))
        << e2e::readText(scratch_.path() / "app.log");
    const WindowState before = *panel();
    // The "Tray icon" header, the last section but the footer: it expands the panel.
    const int atX = before.x + 40;
    const int atY = before.y + before.height - 78;
    click(atX, atY);
    ASSERT_TRUE(e2e::eventually([&] { return panel() && panel()->height > before.height; }, 5s))
        << "the menu-bar settings did not expand";
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(panelOpen());
    const WindowState after = *panel();
    EXPECT_EQ(after.x, before.x);
    EXPECT_TRUE(atX >= after.x && atX < after.x + after.width && atY >= after.y &&
                atY < after.y + after.height)
        << "the pointer is outside the panel at " << after.x << "," << after.y;
}

// The WCAG contrast ratio of two colours given as 0xRRGGBB.
double contrast(uint32_t a, uint32_t b) {
    auto luminance = [](uint32_t rgb) {
        double sum = 0;
        const double weights[] = {0.2126, 0.7152, 0.0722};
        for (int i = 0; i < 3; ++i) {
            const double c = ((rgb >> (16 - 8 * i)) & 0xff) / 255.0;
            sum += weights[i] * (c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        return sum + 0.05;
    };
    const double la = luminance(a), lb = luminance(b);
    return std::max(la, lb) / std::min(la, lb);
}

// The screen's pixels in a rectangle, as 0xRRGGBB; empty when the grab fails.
std::vector<uint32_t> grab(const std::string& display, int x, int y, int width, int height) {
    std::vector<uint32_t> pixels;
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection) == 0) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, static_cast<int16_t>(x),
                          static_cast<int16_t>(y), static_cast<uint16_t>(width),
                          static_cast<uint16_t>(height), ~0u),
            nullptr);
        if (image != nullptr && xcb_get_image_data_length(image) == width * height * 4) {
            const uint8_t* data = xcb_get_image_data(image);
            for (int i = 0; i < width * height; ++i) {
                pixels.push_back(static_cast<uint32_t>(data[4 * i + 2] << 16 |
                                                       data[4 * i + 1] << 8 | data[4 * i]));
            }
        }
        std::free(image);
    }
    xcb_disconnect(connection);
    return pixels;
}

// A real XEmbed tray from the distribution: tint2 with a dark or a light panel.
class Tint2Tray : public TrayOnX, public ::testing::WithParamInterface<uint32_t> {
  protected:
    void SetUp() override {
        if (!onPath("tint2")) GTEST_SKIP() << "tint2 is not installed (scripts/setup installs it)";
        char colour[8];
        std::snprintf(colour, sizeof colour, "#%06x", GetParam());
        const std::filesystem::path config = scratch_.path() / "tint2rc";
        std::ofstream(config) << "rounded = 0\nborder_width = 0\nbackground_color = " << colour
                              << " 100\nborder_color = #000000 0\npanel_items = S\n"
                                 "panel_size = 200 30\npanel_position = top right horizontal\n"
                                 "panel_background_id = 1\nstrut_policy = none\n"
                                 "systray_padding = 4 4 4\nsystray_icon_size = 22\n";
        hostCommand_ = {"/usr/bin/tint2", "-c", config.string()};
        TrayOnX::SetUp();
    }

    // The tray icon's window as the tray placed it.
    std::optional<WindowState> icon() const {
        std::istringstream ids(x("xdotool search --onlyvisible --class '^tarnwick$'"));
        for (std::string id; ids >> id;) {
            const std::string info = x("xwininfo -id " + id);
            std::smatch m;
            if (std::regex_search(info, m,
                                  std::regex("Absolute upper-left X:\\s+(\\d+)[\\s\\S]*"
                                             "Absolute upper-left Y:\\s+(\\d+)[\\s\\S]*"
                                             "Width:\\s+(\\d+)[\\s\\S]*Height:\\s+(\\d+)")) &&
                std::stoi(m[3]) <= 64 && std::stoi(m[3]) > 8) {
                return WindowState{
                    true,           false, std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]),
                    std::stoi(m[4])};
            }
        }
        return std::nullopt;
    }
};

TEST_P(Tint2Tray, IconStandsOutOnThePanelAndOffersItsMenu) {
    startApp();
    std::optional<WindowState> docked;
    ASSERT_TRUE(e2e::eventually([&] { return (docked = icon()).has_value(); }, 60s))
        << e2e::readText(scratch_.path() / "app.log") << hostLog()
        << e2e::readText(scratch_.path() / "xvfb.log");
    std::this_thread::sleep_for(1s);  // painted
    const std::vector<uint32_t> pixels =
        grab(display_, docked->x, docked->y, docked->width, docked->height);
    ASSERT_EQ(pixels.size(), static_cast<size_t>(docked->width * docked->height));
    int legible = 0;
    double best = 1;
    for (const uint32_t pixel : pixels) {
        const double c = contrast(pixel, GetParam());
        legible += c >= 3;
        best = std::max(best, c);
    }
    std::printf("tint2 panel #%06x: %d of %zu icon pixels at 3:1 or more, highest %.1f:1\n",
                GetParam(), legible, pixels.size(), best);
    EXPECT_GE(legible, docked->width * 4 / 3);

    // A right click opens the icon's menu, a window of its own.
    const auto windows = [&] { return x("xdotool search --onlyvisible --class '^tarnwick$'"); };
    const std::string before = windows();
    x("xdotool mousemove " + std::to_string(docked->x + docked->width / 2) + " " +
      std::to_string(docked->y + docked->height / 2) + " click 3");
    EXPECT_TRUE(e2e::eventually([&] { return windows() != before; }, 5s));
}

INSTANTIATE_TEST_SUITE_P(Panels, Tint2Tray, ::testing::Values(0x1e1e1eu, 0xeeeeeeu),
                         [](const ::testing::TestParamInfo<uint32_t>& panel) {
                             return panel.param < 0x800000 ? "Dark" : "Light";
                         });

}  // namespace
