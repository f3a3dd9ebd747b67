#pragma once

// One test's private world: a sandbox root for the system paths, a private XDG config home and
// HOME for the user defaults and the autostart entry, no SMC unless the test installs one, and a
// QCoreApplication for timers.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>

#include "CSMC/hid.h"
#include "CSMC/transport.h"
#include "FanCore/Policy/Paths.h"
#include "Tarnwick/AppOptions.h"
#include "Tarnwick/model/Model.h"
#include "support/QtTest.h"
#include "support/ScopedEnv.h"
#include "support/TempRoot.h"

// Qt's timers need an application object; one serves the whole test program.
inline QCoreApplication& testApplication() {
    static int argc = 1;
    static char name[] = "app_model_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() != nullptr
                                       ? QCoreApplication::instance()
                                       : new QCoreApplication(argc, argv);
    return *app;
}

class AppSandbox {
  public:
    AppSandbox() {
        testApplication();
        EXPECT_TRUE(dir_.isValid());
        QDir().mkpath(path("config"));
        QDir().mkpath(path("home"));
        QDir().mkpath(bundle());
        // No SMC at all unless a test installs a simulated one.
        smc_set_transport_factory([] { return SmcOpenResult{}; });
    }
    AppSandbox(const AppSandbox&) = delete;
    AppSandbox& operator=(const AppSandbox&) = delete;
    ~AppSandbox() { smc_set_transport_factory({}); }

    QString path(const QString& relative) const { return dir_.filePath(relative); }
    const std::filesystem::path& root() const { return root_.path(); }
    QString bundle() const { return path("bundle"); }

    // Options for a model that never polls on its own and reads the clock below.
    ModelOptions options(const QStringList& arguments = {QStringLiteral("tarnwick")}) {
        ModelOptions options;
        const AppOptions app = AppOptions::parse(arguments).value_or(AppOptions{});
        options.demo = app.demo;
        options.noFans = app.noFans;
        options.bundleDir = bundle();
        options.now = [this] { return now; };
        options.sensorPause = std::chrono::milliseconds(0);
        options.startTimer = false;
        options.executable = QStringLiteral("/opt/tarnwick/bin/tarnwick");
        return options;
    }

    double now = 1'700'000'000.0;

  private:
    static void reloadModel() {
        Paths::reload();
        hid_reset_services();
    }

    QTemporaryDir dir_;
    support::ScopedEnv config_{"XDG_CONFIG_HOME", path("config").toStdString()};
    support::ScopedEnv home_{"HOME", path("home").toStdString()};
    support::TempRoot root_{reloadModel, "tarnwick-app"};
};

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

inline void writeFile(const std::filesystem::path& path, const QByteArray& bytes) {
    writeFile(QString::fromStdString(path.string()), bytes);
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

using support::waitFor;

using support::CaseName;
using support::caseNameOf;
