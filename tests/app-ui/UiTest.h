#pragma once

// Shared ground for the panel and shell tests: one QApplication on the off-screen platform, and
// a private sandbox per test (system paths, user config, no SMC).

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFont>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <map>
#include <string>

#include "CSMC/hid.h"
#include "CSMC/sandbox_root.h"
#include "CSMC/transport.h"
#include "FanCore/Policy/Paths.h"
#include "Tarnwick/AppOptions.h"
#include "Tarnwick/model/Model.h"
#include "support/MakeFan.h"
#include "support/QtTest.h"

// The application object lives for the whole test program; widgets need it before anything.
inline QApplication& uiApplication() {
    static int argc = 1;
    static char name[] = "app_ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // The off-screen platform reports every fixed-size window as unsupported; nothing to see.
        static const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (message.contains(QStringLiteral("propagateSizeHints"))) return;
                previous(type, context, message);
            });
        auto* created = new QApplication(argc, argv);
        // The fonts the pictures are judged with; tests must not depend on the desktop's.
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));
        return created;
    }();
    return *app;
}

// The application's options in `arguments` (program name first); the defaults where they do not
// parse.
inline AppOptions appOptions(const QStringList& arguments) {
    return AppOptions::parse(arguments).value_or(AppOptions{});
}

class UiSandbox {
  public:
    UiSandbox() {
        uiApplication();
        EXPECT_TRUE(dir_.isValid());
        for (const char* name : {"TARNWICK_ROOT", "XDG_CONFIG_HOME", "HOME"}) {
            if (const char* old = std::getenv(name)) saved_[name] = old;
        }
        for (const char* sub : {"root", "config", "home", "bundle"}) QDir().mkpath(path(sub));
        ::setenv("TARNWICK_ROOT", path("root").toLocal8Bit().constData(), 1);
        ::setenv("XDG_CONFIG_HOME", path("config").toLocal8Bit().constData(), 1);
        ::setenv("HOME", path("home").toLocal8Bit().constData(), 1);
        reloadAll();
        smc_set_transport_factory([] { return SmcOpenResult{}; });
    }
    UiSandbox(const UiSandbox&) = delete;
    UiSandbox& operator=(const UiSandbox&) = delete;
    ~UiSandbox() {
        for (const char* name : {"TARNWICK_ROOT", "XDG_CONFIG_HOME", "HOME"}) {
            const auto old = saved_.find(name);
            if (old != saved_.end()) {
                ::setenv(name, old->second.c_str(), 1);
            } else {
                ::unsetenv(name);
            }
        }
        smc_set_transport_factory({});
        reloadAll();
    }

    QString path(const QString& relative) const { return dir_.filePath(relative); }

    // A model that never polls on its own and whose scripts are looked up in the sandbox.
    ModelOptions options(const QStringList& arguments = {QStringLiteral("tarnwick")}) const {
        ModelOptions options;
        const AppOptions app = appOptions(arguments);
        options.demo = app.demo;
        options.noFans = app.noFans;
        options.bundleDir = path("bundle");
        options.sensorPause = std::chrono::milliseconds(0);
        options.startTimer = false;
        options.executable = QStringLiteral("/opt/tarnwick/bin/tarnwick");
        return options;
    }

  private:
    static void reloadAll() {
        SandboxRoot::reload();
        Paths::reload();
        hid_reset_services();
    }

    QTemporaryDir dir_;
    std::map<std::string, std::string> saved_;
};

using support::waitFor;

using support::makeFan;

using support::CaseName;
using support::caseNameOf;
