// Measures how long the panel takes from the open request to its first finished paint, on the
// platform the environment selects (run it on a real X server for figures that mean something).
// Prints one line per figure; not a test.

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "Tarnwick/AppDelegate.h"
#include "Tarnwick/AppOptions.h"
#include "Tarnwick/panel/PanelWindow.h"

namespace {

// Notes when the panel window has been painted.
class PaintWatch : public QObject {
  public:
    bool painted = false;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted = true;
        return QObject::eventFilter(watched, event);
    }
};

void spin(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
    return values[at];
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    AppDelegateOptions options;
    const AppOptions given = AppOptions::parse(QApplication::arguments()).value_or(AppOptions{});
    options.showPanel = given.showPanel;
    options.expandMenuBar = given.expandMenuBar;
    options.model.demo = given.demo;
    options.model.noFans = given.noFans;
    options.trayWait = std::chrono::milliseconds(0);
    AppDelegate delegate(options);
    delegate.applicationDidFinishLaunching();
    PaintWatch watch;
    delegate.panel()->installEventFilter(&watch);
    spin(500);

    constexpr int rounds = 30;
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        watch.painted = false;
        QElapsedTimer clock;
        clock.start();
        delegate.showPanel();
        // The panel's children are painted in the same pass as the panel; the pass is over once
        // the event loop comes back to a zero timer.
        while (!watch.painted) QApplication::processEvents(QEventLoop::AllEvents, 1);
        bool done = false;
        QTimer::singleShot(0, [&] { done = true; });
        while (!done) QApplication::processEvents(QEventLoop::AllEvents, 1);
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        delegate.hidePanel();
        spin(400);
    }
    std::printf("panel open-to-painted, first: %.1f ms\n", times.front());
    const std::vector<double> rest(times.begin() + 1, times.end());
    std::printf("panel open-to-painted, later %d: median %.1f ms, p90 %.1f ms, max %.1f ms\n",
                rounds - 1, percentile(rest, 0.5), percentile(rest, 0.9),
                *std::max_element(rest.begin(), rest.end()));
    return 0;
}
