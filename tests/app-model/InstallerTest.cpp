// Running the install and uninstall scripts: the message the user sees for each outcome, and the
// refresh that follows a run.

#include <QDir>
#include <QFile>
#include <string>

#include "AppSandbox.h"
#include "FanCore/Policy/Paths.h"

namespace {

using Installer::RunResult;

struct MessageCase {
    const char* name;
    RunResult result;
    std::optional<QString> expected;
};

RunResult exited(int code, const char* errorOutput, bool viaPkexec = false) {
    RunResult result;
    result.exitCode = code;
    result.errorOutput = QString::fromUtf8(errorOutput);
    result.viaPkexec = viaPkexec;
    return result;
}

RunResult crashed(const char* errorOutput) {
    RunResult result = exited(0, errorOutput);
    result.crashed = true;
    return result;
}

RunResult notStarted(const char* why) {
    RunResult result;
    result.started = false;
    result.startError = QString::fromUtf8(why);
    return result;
}

class Message : public ::testing::TestWithParam<MessageCase> {};

TEST_P(Message, ForOutcome) {
    EXPECT_EQ(Installer::message(GetParam().result), GetParam().expected);
}

const char* const kPkexecRefusal =
    "Error executing command as another user: Not authorized\n\nThis incident has been reported.\n";

INSTANTIATE_TEST_SUITE_P(
    Table, Message,
    ::testing::Values(
        MessageCase{"success", exited(0, ""), std::nullopt},
        MessageCase{"successWithChatter", exited(0, "warning: unit reloaded\n"), std::nullopt},
        MessageCase{"pkexecDismissed", exited(126, "", true), std::nullopt},
        MessageCase{"scriptOwn126IsAFailure", exited(126, "cannot execute\n"),
                    QString("cannot execute")},
        MessageCase{"pkexecRefused", exited(127, kPkexecRefusal, true), QString("not authorized")},
        MessageCase{"pkexecRefusedSilently", exited(127, "", true), QString("not authorized")},
        MessageCase{"scriptCommandNotFoundUnderPkexec",
                    exited(127, "install.sh: line 4: systemctl: command not found\n", true),
                    QString("line 4: systemctl: command not found")},
        MessageCase{"pkexecWithoutAgent",
                    exited(127,
                           "Error executing command as another user: No authentication agent "
                           "found.\n",
                           true),
                    QString("no authentication agent is running to ask for the password; start "
                            "your desktop's agent (polkit) and try again")},
        MessageCase{"lastLineWins", exited(1, "copying\ncannot write /usr/local/sbin\n\n  \n"),
                    QString("cannot write /usr/local/sbin")},
        MessageCase{"failureWithoutOutput", exited(3, ""), QString("something went wrong")},
        MessageCase{"failureWithBlankOutput", exited(3, " \n\t\n"),
                    QString("something went wrong")},
        MessageCase{"crashWithoutOutput", crashed(""), QString("something went wrong")},
        MessageCase{"crashWithOutput", crashed("half done\n"), QString("half done")},
        MessageCase{"notStarted", notStarted("cannot run pkexec: No such file or directory"),
                    QString("cannot run pkexec: No such file or directory")},
        MessageCase{"notStartedWithoutReason", notStarted(""), QString("something went wrong")}),
    CaseName());

class RunPrivileged : public ::testing::Test {
  protected:
    RunPrivileged() {
        options = sandbox.options();
        options.scriptRefreshDelay = std::chrono::milliseconds(200);
    }

    void addScript(const QString& name, const QByteArray& body) {
        writeFile(sandbox.bundle() + "/" + name, "#!/bin/bash\n" + body);
    }

    std::unique_ptr<Model> makeModel() {
        auto model = std::make_unique<Model>(options);
        QObject::connect(model.get(), &Model::refreshed, [this] { ++refreshes; });
        return model;
    }

    // The run has ended and its outcome is in the model.
    static bool finished(const Model& model) {
        return waitFor([&] { return !model.runningScript().has_value(); }, 5000);
    }

    AppSandbox sandbox;
    ModelOptions options;
    int refreshes = 0;
};

TEST_F(RunPrivileged, MissingScriptSaysSoAndSchedulesNothing) {
    int runs = 0;
    options.runner = [&](const QString&, const Installer::Done& done) {
        ++runs;
        done(RunResult{});
    };
    auto model = makeModel();
    model->runPrivileged("uninstall.sh");
    EXPECT_EQ(model->helperMessage(), "uninstall.sh is missing from " + model->bundleDir());
    EXPECT_EQ(runs, 0);
    EXPECT_FALSE(waitFor([&] { return refreshes > 0; }, 600));
}

TEST_F(RunPrivileged, NamesCannotReachOutOfTheBundle) {
    writeFile(sandbox.path("install.sh"), "#!/bin/bash\n");
    auto model = makeModel();
    model->runPrivileged("../install.sh");
    EXPECT_EQ(model->helperMessage(), "../install.sh is missing from " + model->bundleDir());
}

TEST_F(RunPrivileged, CancelClearsAnEarlierMessageAndStillRefreshes) {
    addScript("install.sh", "exit 0\n");
    QString ran;
    options.runner = [&](const QString& path, const Installer::Done& done) {
        ran = path;
        done(exited(126, "", true));
    };
    auto model = makeModel();
    model->setHelperMessage(QString("earlier failure"));
    model->runPrivileged("install.sh");
    EXPECT_EQ(model->runningScript(), QString("install.sh"));
    ASSERT_TRUE(finished(*model));
    EXPECT_EQ(ran, QFileInfo(sandbox.bundle() + "/install.sh").absoluteFilePath());
    EXPECT_FALSE(model->helperMessage().has_value());
    EXPECT_EQ(refreshes, 0);
    EXPECT_TRUE(waitFor([&] { return refreshes == 1; }, 3000));
}

TEST_F(RunPrivileged, FailingScriptShowsItsLastErrorLine) {
    addScript("install.sh",
              "echo 'copying daemon'\n"
              "echo 'step 1 of 2' >&2\n"
              "echo 'cannot reach the service manager' >&2\n"
              "exit 4\n");
    auto model = makeModel();
    model->runPrivileged("install.sh");
    ASSERT_TRUE(finished(*model));
    EXPECT_EQ(model->helperMessage(),
              QString("fan control was not installed\ncannot reach the service manager"));
    EXPECT_TRUE(waitFor([&] { return refreshes == 1; }, 3000));
}

TEST_F(RunPrivileged, SuccessfulInstallShowsAtTheDelayedRefresh) {
    // Stands in for the real script: puts the unit and an exact copy of the daemon in place.
    addScript("install.sh",
              "set -e\n"
              "here=$(dirname \"$0\")\n"
              "wants=\"$TARNWICK_ROOT/etc/systemd/system/multi-user.target.wants\"\n"
              "mkdir -p \"$wants\" \"$TARNWICK_ROOT/usr/local/sbin\"\n"
              "cp \"$here/tarnwickd\" \"$TARNWICK_ROOT/usr/local/sbin/tarnwickd\"\n"
              "echo '[Service]' > \"$wants/tarnwickd.service\"\n");
    writeFile(sandbox.bundle() + "/tarnwickd", "daemon bytes");
    auto model = makeModel();
    model->setHelperMessage(QString("earlier failure"));
    ASSERT_FALSE(model->helperInstalled());

    model->runPrivileged("install.sh");
    ASSERT_TRUE(finished(*model));
    EXPECT_FALSE(model->helperMessage().has_value());
    EXPECT_TRUE(std::filesystem::exists(Paths::daemonUnitLink()));
    EXPECT_FALSE(model->helperInstalled());  // not until the delayed pass
    ASSERT_TRUE(waitFor([&] { return refreshes == 1; }, 3000));
    EXPECT_TRUE(model->helperInstalled());
    EXPECT_FALSE(model->helperOutdated());
}

TEST_F(RunPrivileged, SettingsKeptBeforeTheInstallAreWrittenAfterIt) {
    // Until the install the settings folder cannot be made; the install makes it.
    std::filesystem::create_directories(Paths::dir().parent_path());
    writeFile(Paths::dir(), "in the way");
    addScript("install.sh", "rm -f \"$TARNWICK_ROOT/var/lib/tarnwick\"\n");
    auto model = makeModel();
    Config config = model->config();
    config.manualMode = true;
    model->setConfig(config);
    ASSERT_TRUE(model->settingsPending());
    EXPECT_EQ(model->settingsNote(), QString());  // no fans: nothing to say

    model->runPrivileged("install.sh");
    ASSERT_TRUE(finished(*model));
    EXPECT_FALSE(model->helperMessage().has_value()) << model->helperMessage()->toStdString();
    EXPECT_FALSE(model->settingsPending());
    EXPECT_EQ(Config::load(), config);
}

TEST_F(RunPrivileged, OneRunAtATime) {
    int runs = 0;
    Installer::Done pending;
    options.runner = [&](const QString&, const Installer::Done& done) {
        ++runs;
        pending = done;
    };
    addScript("install.sh", "exit 0\n");
    auto model = makeModel();
    model->runPrivileged("install.sh");
    ASSERT_TRUE(waitFor([&] { return runs == 1; }, 2000));
    model->runPrivileged("install.sh");
    model->runPrivileged("uninstall.sh");
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(model->runningScript(), QString("install.sh"));
    pending(exited(1, "install.sh: no disk\n"));
    EXPECT_FALSE(model->runningScript().has_value());
    EXPECT_EQ(model->helperMessage(), QString("fan control was not installed\nno disk"));
}

TEST_F(RunPrivileged, BundlePathWithQuotesAndSpacesReachesTheScriptIntact) {
    options.bundleDir = sandbox.path("odd \"bundle\" \\ $(touch pwned)");
    QDir().mkpath(*options.bundleDir);
    writeFile(*options.bundleDir + "/install.sh",
              "#!/bin/bash\necho \"$0\" > \"$TARNWICK_ROOT/ran-from\"\n");
    auto model = makeModel();
    model->runPrivileged("install.sh");
    ASSERT_TRUE(finished(*model));
    EXPECT_FALSE(model->helperMessage().has_value());
    EXPECT_EQ(readFile(QString::fromStdString((sandbox.root() / "ran-from").string())).trimmed(),
              (*options.bundleDir + "/install.sh").toUtf8());
    EXPECT_FALSE(QFileInfo::exists("pwned"));
}

TEST_F(RunPrivileged, RefreshIsDroppedWhenTheModelIsGone) {
    // A refresh reads the clock: calls after the model is gone show a refresh that outlived it.
    int clockReads = 0;
    options.now = [&] {
        ++clockReads;
        return 1.7e9;
    };
    options.startTimer = false;
    Installer::Done pending;
    options.runner = [&](const QString&, const Installer::Done& done) { pending = done; };
    addScript("install.sh", "exit 0\n");
    auto model = makeModel();
    model->runPrivileged("install.sh");
    ASSERT_TRUE(waitFor([&] { return static_cast<bool>(pending); }, 2000));
    pending(exited(0, ""));  // the delayed refresh is due in 200 ms
    clockReads = 0;
    model.reset();
    waitFor([] { return false; }, 600);
    EXPECT_EQ(clockReads, 0);
}

}  // namespace
