// Launch at login through the XDG autostart entry.

#include <string>
#include <tuple>

#include "AppSandbox.h"
#include "Tarnwick/model/LoginItem.h"
#include "Tarnwick/model/ProgramPaths.h"

namespace {

struct EntryCase {
    const char* name;
    std::optional<const char*> content;  // absent: no file
    bool enabled;
};

class AutostartEntry : public ::testing::TestWithParam<EntryCase> {
  protected:
    AppSandbox sandbox;
};

TEST_P(AutostartEntry, ReadsAsEnabled) {
    const QString file = sandbox.path("config/autostart/tarnwick.desktop");
    if (GetParam().content) writeFile(file, QByteArray(*GetParam().content));
    EXPECT_EQ(LoginItem::isEnabled(), GetParam().enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AutostartEntry,
    ::testing::Values(
        EntryCase{"missing", std::nullopt, false},
        EntryCase{"plain", "[Desktop Entry]\nType=Application\nExec=tarnwick\n", true},
        EntryCase{"emptyFile", "", true},
        EntryCase{"hidden", "[Desktop Entry]\nExec=tarnwick\nHidden=true\n", false},
        EntryCase{"hiddenFalse", "[Desktop Entry]\nHidden=false\n", true},
        EntryCase{"hiddenWithSpaces", "[Desktop Entry]\nHidden = true\n", false},
        EntryCase{"gnomeDisabled", "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        EntryCase{"gnomeEnabled", "[Desktop Entry]\nX-GNOME-Autostart-enabled=true\n", true},
        EntryCase{"hiddenInActionGroupOnly",
                  "[Desktop Entry]\nExec=tarnwick\n[Desktop Action quit]\nHidden=true\n", true},
        EntryCase{"commentedOut", "[Desktop Entry]\n# Hidden=true\n", true},
        EntryCase{"localisedKeyIsAnotherKey", "[Desktop Entry]\nHidden[de]=true\n", true}),
    CaseName());

TEST(LoginItem, RegisterThenUnregister) {
    AppSandbox sandbox;
    EXPECT_EQ(LoginItem::path(), sandbox.path("config/autostart/tarnwick.desktop"));
    ASSERT_TRUE(LoginItem::setEnabled(true, "/opt/tarnwick/bin/tarnwick").has_value());
    EXPECT_TRUE(LoginItem::isEnabled());
    const QByteArray entry = readFile(LoginItem::path());
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(entry.contains("\nExec=/opt/tarnwick/bin/tarnwick\n"));
    EXPECT_TRUE(entry.contains("\nType=Application\n"));
    ASSERT_TRUE(LoginItem::setEnabled(false, "").has_value());
    EXPECT_FALSE(QFileInfo::exists(LoginItem::path()));
    EXPECT_TRUE(LoginItem::setEnabled(false, "").has_value());
}

TEST(LoginItem, RegisteringReplacesADisabledEntry) {
    AppSandbox sandbox;
    writeFile(LoginItem::path(), "[Desktop Entry]\nExec=old\nX-GNOME-Autostart-enabled=false\n");
    ASSERT_FALSE(LoginItem::isEnabled());
    ASSERT_TRUE(LoginItem::setEnabled(true, "/usr/bin/tarnwick").has_value());
    EXPECT_TRUE(LoginItem::isEnabled());
}

struct ExecCase {
    const char* executable;
    const char* line;
};

class ExecQuoting : public ::testing::TestWithParam<ExecCase> {};

TEST_P(ExecQuoting, FollowsTheEntryRules) {
    AppSandbox sandbox;
    ASSERT_TRUE(LoginItem::setEnabled(true, GetParam().executable).has_value());
    const QByteArray expected = QByteArray("\nExec=") + GetParam().line + "\n";
    EXPECT_TRUE(readFile(LoginItem::path()).contains(expected))
        << readFile(LoginItem::path()).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExecQuoting,
    ::testing::Values(ExecCase{"/usr/bin/tarnwick", "/usr/bin/tarnwick"},
                      ExecCase{"/opt/my apps/tarnwick", "\"/opt/my apps/tarnwick\""},
                      ExecCase{"/opt/100%/tarnwick", "/opt/100%%/tarnwick"},
                      ExecCase{"/opt/a\"b/t", "\"/opt/a\\\\\"b/t\""},
                      ExecCase{"/opt/$x/t", "\"/opt/\\\\$x/t\""},
                      ExecCase{"/opt/a\\b/t", "\"/opt/a\\\\\\\\b/t\""}),
    [](const auto& testCase) { return caseNameOf(testCase.param.executable, testCase.index); });

// The login item starts the command-line program, whichever program registers it.
TEST(ProgramPaths, LayoutAroundTheRunningProgram) {
    using Layout = std::tuple<const char*, const char*, const char*>;
    for (const auto& [program, launcher, bundle] :
         {Layout{"/usr/libexec/tarnwick/tarnwick-app", "/usr/bin/tarnwick",
                 "/usr/libexec/tarnwick"},
          Layout{"/usr/bin/tarnwick", "/usr/bin/tarnwick", "/usr/libexec/tarnwick"},
          Layout{"/b/tests/app_model_tests", "/b/tests/app_model_tests", "/b/libexec/tarnwick"},
          Layout{"tarnwick-app", "", ""}}) {
        const ProgramPaths::Layout layout = ProgramPaths::layoutOf(program);
        EXPECT_EQ(layout.launcher, QString::fromLatin1(launcher)) << program;
        EXPECT_EQ(layout.bundleDir, QString::fromLatin1(bundle)) << program;
    }
}

TEST(LoginItem, LineBreakInPathIsRefused) {
    AppSandbox sandbox;
    EXPECT_FALSE(LoginItem::setEnabled(true, "/opt/a\nHidden=true").has_value());
    EXPECT_FALSE(QFileInfo::exists(LoginItem::path()));
}

class LaunchAtLogin : public ::testing::Test {
  protected:
    LaunchAtLogin() {
        QObject::connect(&model, &Model::changed, [this] { ++changes; });
    }
    AppSandbox sandbox;
    Model model{sandbox.options()};
    int changes = 0;
};

TEST_F(LaunchAtLogin, SuccessLeavesTheMessageAndAnnounces) {
    model.setHelperMessage(QString("earlier failure"));
    changes = 0;
    model.setLaunchAtLogin(true);
    EXPECT_TRUE(model.launchAtLogin());
    EXPECT_TRUE(readFile(LoginItem::path()).contains("\nExec=/opt/tarnwick/bin/tarnwick\n"));
    EXPECT_EQ(model.helperMessage(), QString("earlier failure"));
    EXPECT_EQ(changes, 1);
    model.setLaunchAtLogin(false);
    EXPECT_FALSE(model.launchAtLogin());
}

TEST_F(LaunchAtLogin, FailureIsReported) {
    // A file where the autostart folder belongs.
    writeFile(sandbox.path("config/autostart"), "in the way");
    model.setLaunchAtLogin(true);
    EXPECT_FALSE(model.launchAtLogin());
    ASSERT_TRUE(model.helperMessage().has_value());
    EXPECT_TRUE(model.helperMessage()->startsWith("launch at login: "))
        << model.helperMessage()->toStdString();
    EXPECT_GT(model.helperMessage()->size(), QString("launch at login: ").size());
    EXPECT_GE(changes, 1);
}

}  // namespace
