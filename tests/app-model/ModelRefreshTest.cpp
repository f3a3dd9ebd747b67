// One polling pass over a sandbox root: installation state, the daemon's status, the command
// line's demo and no-fans switches.

#include <QDir>
#include <string>

#include "AppSandbox.h"
#include "CSMC/sandbox_root.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/Status.h"
#include "Tarnwick/model/DemoReadings.h"

namespace {

const QByteArray kDaemon(
    "\x7f"
    "ELF daemon build 1",
    19);

QByteArray oneByteDifferent() {
    QByteArray copy = kDaemon;
    copy[10] = static_cast<char>(copy[10] ^ 0x01);
    return copy;
}

enum class Binary { missing, same, oneByteDifferent, longer, directory };

struct OutdatedCase {
    const char* name;
    bool unitLink;  // the unit is enabled
    bool bundled;   // the bundle carries "tarnwickd"
    Binary installed;
    bool expectInstalled;
    bool expectOutdated;
};

class Outdated : public ::testing::TestWithParam<OutdatedCase> {
  protected:
    AppSandbox sandbox;
};

TEST_P(Outdated, ComparesInstalledWithBundledBytes) {
    const OutdatedCase& c = GetParam();
    if (c.unitLink) writeFile(Paths::daemonUnitLink(), "[Unit]\n");
    if (c.bundled) writeFile(sandbox.bundle() + "/tarnwickd", kDaemon);
    const QString binary = QString::fromStdString(Paths::daemonBinary().string());
    switch (c.installed) {
        case Binary::missing:
            break;
        case Binary::same:
            writeFile(binary, kDaemon);
            break;
        case Binary::oneByteDifferent:
            writeFile(binary, oneByteDifferent());
            break;
        case Binary::longer:
            writeFile(binary, kDaemon + '\0');
            break;
        case Binary::directory:
            QDir().mkpath(binary);
            break;
    }
    Model model{sandbox.options()};
    EXPECT_EQ(model.helperInstalled(), c.expectInstalled);
    EXPECT_EQ(model.helperOutdated(), c.expectOutdated);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Outdated,
    ::testing::Values(
        OutdatedCase{"notInstalledIsNeverOutdated", false, true, Binary::oneByteDifferent, false,
                     false},
        OutdatedCase{"equalBytes", true, true, Binary::same, true, false},
        OutdatedCase{"oneByteDifferent", true, true, Binary::oneByteDifferent, true, true},
        OutdatedCase{"oneByteLonger", true, true, Binary::longer, true, true},
        OutdatedCase{"installedExecutableDeleted", true, true, Binary::missing, true, true},
        OutdatedCase{"installedPathIsAFolder", true, true, Binary::directory, true, true},
        OutdatedCase{"bundleCarriesNoCopy", true, false, Binary::same, true, true},
        OutdatedCase{"neitherExists", true, false, Binary::missing, true, false}),
    CaseName());

TEST(Refresh, BundledCopyIsReadOnce) {
    AppSandbox sandbox;
    writeFile(Paths::daemonUnitLink(), "[Unit]\n");
    writeFile(sandbox.bundle() + "/tarnwickd", kDaemon);
    writeFile(Paths::daemonBinary(), kDaemon);
    Model model{sandbox.options()};
    EXPECT_FALSE(model.helperOutdated());
    // A newer build dropped into the bundle while the application runs is not seen.
    writeFile(sandbox.bundle() + "/tarnwickd", oneByteDifferent());
    model.refresh();
    EXPECT_FALSE(model.helperOutdated());
    writeFile(Paths::daemonBinary(), oneByteDifferent());
    model.refresh();
    EXPECT_TRUE(model.helperOutdated());
}

// A packaged unit runs the package's daemon, which the package manager keeps current; only a
// copy it does not run could be outdated.
TEST(Refresh, TheDaemonTheUnitRunsIsTheOneCompared) {
    AppSandbox sandbox;
    const std::filesystem::path unit =
        SandboxRoot::under("/usr/lib/systemd/system/tarnwickd.service");
    writeFile(unit, "[Service]\nExecStart=/usr/libexec/tarnwick/tarnwickd\n");
    std::filesystem::create_directories(Paths::daemonUnitLink().parent_path());
    std::filesystem::create_symlink(unit, Paths::daemonUnitLink());
    writeFile(SandboxRoot::under("/usr/libexec/tarnwick/tarnwickd"), kDaemon);
    writeFile(sandbox.bundle() + "/tarnwickd", kDaemon);
    Model model{sandbox.options()};
    EXPECT_TRUE(model.helperInstalled());
    EXPECT_FALSE(model.helperOutdated()) << "no copy in /usr/local/sbin, and none needed";
    writeFile(SandboxRoot::under("/usr/libexec/tarnwick/tarnwickd"), oneByteDifferent());
    model.refresh();
    EXPECT_TRUE(model.helperOutdated());
}

TEST(Refresh, StatusFileIsReadEveryPass) {
    AppSandbox sandbox;
    Model model{sandbox.options()};
    EXPECT_FALSE(model.status().has_value());

    Status status;
    status.updated = sandbox.now - 3;
    status.manual = true;
    status.targetRPM = 2800;
    status.reason = "battery 36 \u00b0C";
    std::filesystem::create_directories(Paths::statusDir());
    ASSERT_TRUE(status.save().has_value());
    model.refresh();
    ASSERT_TRUE(model.status().has_value());
    EXPECT_EQ(*model.status(), status);
    EXPECT_TRUE(model.helperRunning());

    sandbox.now += 7;  // now 10 s old
    EXPECT_FALSE(model.helperRunning());

    writeFile(Paths::status(), "{ not json");
    model.refresh();
    EXPECT_FALSE(model.status().has_value());
}

TEST(Refresh, SettingsWrittenElsewhereAreAdoptedAndHistoryGrows) {
    AppSandbox sandbox;
    Model model{sandbox.options()};
    Config panel = model.config();
    panel.boost = 0.3;
    model.setConfig(panel);

    Config other = panel;
    other.boost = 0.8;
    ASSERT_TRUE(other.save().has_value());  // as "tarnwick set" does
    sandbox.now += 2;
    model.refresh();
    EXPECT_EQ(model.config(), other);

    // A settings file that cannot be read is no reason to forget the panel's settings.
    writeFile(Paths::config(), "{ not json");
    sandbox.now += 2;
    model.refresh();
    EXPECT_EQ(model.config(), other);
    EXPECT_EQ(model.history().size(), 3U);
}

struct DemoCase {
    const char* name;
    QStringList arguments;
    std::optional<QString> expected;
};

class DemoArgument : public ::testing::TestWithParam<DemoCase> {};

TEST_P(DemoArgument, Parsed) {
    const auto parsed = AppOptions::parse(GetParam().arguments);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->demo, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DemoArgument,
    ::testing::Values(
        DemoCase{"absent", {"tarnwick"}, std::nullopt},
        DemoCase{"hot", {"tarnwick", "--demo", "hot"}, QString("hot")},
        DemoCase{"warm", {"tarnwick", "--no-fans", "--demo", "warm"}, QString("warm")},
        DemoCase{"otherWord", {"tarnwick", "--demo", "cold"}, std::nullopt},
        DemoCase{"otherCase", {"tarnwick", "--demo", "Hot"}, std::nullopt},
        DemoCase{"lastArgument", {"tarnwick", "--demo"}, std::nullopt},
        DemoCase{
            "firstOccurrenceDecides", {"tarnwick", "--demo", "x", "--demo", "hot"}, std::nullopt},
        DemoCase{
            "firstOfTwoValid", {"tarnwick", "--demo", "hot", "--demo", "warm"}, QString("hot")},
        DemoCase{"equalsFormIsNotTheSwitch", {"tarnwick", "--demo=hot"}, std::nullopt}),
    CaseName());

TEST(AppOptionsParse, SnapshotPathIsTheWordAfterTheFirstOption) {
    EXPECT_EQ(AppOptions::parse({"tarnwick", "--snapshot", "out.png"})->snapshot, "out.png");
    EXPECT_EQ(AppOptions::parse({"tarnwick", "--snapshot", "a", "--snapshot", "b"})->snapshot, "a");
    EXPECT_EQ(AppOptions::parse({"tarnwick"})->snapshot, std::nullopt);
    EXPECT_FALSE(AppOptions::parse({"tarnwick", "--about", "--snapshot"}).has_value());
    EXPECT_FALSE(AppOptions::parse({"tarnwick", "--history", "901"}).has_value());
}

TEST(Refresh, DemoHotGivesFixedReadingsOnEveryPass) {
    AppSandbox sandbox;
    Model model{sandbox.options({"tarnwick", "--demo", "hot"})};
    ASSERT_EQ(model.demo(), QString("hot"));
    model.refresh();
    const Readings expected = demoReadings("hot");
    EXPECT_EQ(model.readings(), expected);
    EXPECT_EQ(model.readings().cpu, 97.4);
    EXPECT_EQ(model.readings().palmRest, 36.8);
    EXPECT_EQ(model.chipHeat(), Heat::hot);
}

TEST(Refresh, NoFansSwitchAnywhere) {
    AppSandbox sandbox;
    Model model{sandbox.options({"tarnwick", "--demo", "--no-fans"})};
    EXPECT_TRUE(model.simulateNoFans());
    EXPECT_FALSE(model.demo().has_value());
    Model plain{sandbox.options({"tarnwick", "--no-fans-please"})};
    EXPECT_FALSE(plain.simulateNoFans());
}

}  // namespace
