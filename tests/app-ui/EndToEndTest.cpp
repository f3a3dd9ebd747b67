// The tray application's panel driving the real daemon on the simulated Mac: installed from the
// panel's button, then taken over by moving "strength" to "max".

#include <gtest/gtest.h>
#include <signal.h>

#include <QSlider>
#include <QTest>
#include <fstream>
#include <nlohmann/json.hpp>

#include "Tarnwick/panel/PopoverView.h"
#include "Tarnwick/panel/views/ControlSection.h"
#include "Tarnwick/panel/views/FansSection.h"
#include "Tarnwick/widgets/LabeledSlider.h"
#include "Tarnwick/widgets/ProminentButton.h"
#include "UiTest.h"
#include "daemon/ProcessSupport.h"

namespace {

using namespace std::chrono_literals;

struct SimFan {
    double actual = 0;
    double target = 0;
    int64_t mode = 0;
};

// The simulator's fans as it last wrote them; empty while its state cannot be read.
std::vector<SimFan> simFans(const std::filesystem::path& root) {
    const std::string text = e2e::readText(root / "run/tarnwick-sim/state.json");
    const nlohmann::json state = nlohmann::json::parse(text, nullptr, false);
    std::vector<SimFan> fans;
    if (state.is_discarded() || !state.is_object() || !state.contains("fans") ||
        !state["fans"].is_array()) {
        return fans;
    }
    for (const nlohmann::json& fan : state["fans"]) {
        SimFan parsed;
        if (fan.contains("actual") && fan["actual"].is_number()) {
            parsed.actual = fan["actual"].get<double>();
        }
        if (fan.contains("target") && fan["target"].is_number()) {
            parsed.target = fan["target"].get<double>();
        }
        if (fan.contains("mode") && fan["mode"].is_number()) {
            parsed.mode = fan["mode"].get<int64_t>();
        }
        fans.push_back(parsed);
    }
    return fans;
}

TEST(EndToEnd, StrengthToMaxHandsTheFansToTheDaemon) {
    UiSandbox sandbox;
    const std::filesystem::path root = sandbox.path("root").toStdString();
    e2e::Child sim({e2e::simPath.string(), "--root", root.string(), "--tick-ms", "100"}, {},
                   root.parent_path() / "sim.log");
    ASSERT_TRUE(e2e::eventually(
        [&] { return std::filesystem::exists(root / "run/tarnwick-sim/smc.sock"); }, 10s));
    // The model finds the simulated SMC like the real program does.
    smc_set_transport_factory({});

    ModelOptions options = sandbox.options();
    options.bundleDir = QString::fromStdString(e2e::libexecDir.string());
    Model model(options);
    PopoverView view(model, false);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    auto settle = [&] {
        model.refresh();
        view.sync();
        view.resize(view.fittingSize());
        QApplication::processEvents();
    };
    settle();
    ASSERT_EQ(model.fans().size(), 2u);
    EXPECT_EQ(model.modeLine(), QStringLiteral("fan control not installed"));

    // Installing from the panel needs no password inside the sandbox.
    ProminentButton* install = view.fans()->installButton();
    ASSERT_TRUE(install->isVisible());
    install->click();
    ASSERT_TRUE(waitFor([&] { return !model.runningScript(); }, 30000));
    EXPECT_EQ(model.helperMessage(), std::nullopt);
    ASSERT_TRUE(waitFor(
        [&] {
            settle();
            return model.helperRunning();
        },
        20000))
        << model.modeLine().toStdString();
    EXPECT_FALSE(install->isVisible());
    EXPECT_EQ(model.modeLine(), QStringLiteral("firmware in control"));

    QSlider* slider = view.controls()->strengthSlider()->slider();
    const int y = slider->height() / 2;
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(8, y));
    for (int x = 8; x < slider->width() + 30; x += 20) QTest::mouseMove(slider, QPoint(x, y));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() + 30, y));
    EXPECT_EQ(model.config().boost, 1.0);

    // Within a few daemon passes the fans are in manual mode and speeding up, and the panel's
    // mode line names the daemon's target.
    const double before = simFans(root).at(0).actual;
    EXPECT_TRUE(waitFor(
        [&] {
            settle();
            const std::vector<SimFan> fans = simFans(root);
            return model.modeLine().startsWith(QStringLiteral("tarnwick: ")) && !fans.empty() &&
                   fans[0].mode == 1 && fans[0].actual > before + 300;
        },
        30000))
        << model.modeLine().toStdString();

    // Uninstalling hands the fans back.
    model.runPrivileged(QStringLiteral("uninstall.sh"));
    ASSERT_TRUE(waitFor([&] { return !model.runningScript(); }, 30000));
    EXPECT_EQ(model.helperMessage(), std::nullopt);
    EXPECT_TRUE(e2e::eventually(
        [&] {
            const std::vector<SimFan> fans = simFans(root);
            return !fans.empty() && fans[0].mode == 0;
        },
        10s));
    smc_set_transport_factory([] { return SmcOpenResult{}; });
    sim.signal(SIGTERM);
    EXPECT_TRUE(sim.wait(10s).has_value());
}

}  // namespace
