// The menu-bar style in the user defaults: what a hand-edited or foreign preferences file loads
// as, and that a saved style comes back unchanged.

#include <QSettings>
#include <string>

#include "AppSandbox.h"
#include "Tarnwick/model/MenuBarStyle.h"
#include "Tarnwick/model/UserDefaults.h"

namespace {

MenuBarStyle style(bool showIcon, MenuBarValue value, bool showUnit, bool colorize) {
    return MenuBarStyle{showIcon, value, showUnit, colorize};
}

const MenuBarStyle kDefault = style(true, MenuBarValue::gauge, false, true);

struct LoadCase {
    const char* name;
    const char* ini;
    MenuBarStyle expected;
};

class StyleLoad : public ::testing::TestWithParam<LoadCase> {
  protected:
    AppSandbox sandbox;
};

TEST_P(StyleLoad, FromFile) {
    const QString file = sandbox.path("prefs.conf");
    writeFile(file, QByteArray(GetParam().ini));
    const auto settings = UserDefaults::open(file);
    EXPECT_EQ(MenuBarStyle::load(*settings), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StyleLoad,
    ::testing::Values(
        LoadCase{"emptyFile", "", kDefault},
        LoadCase{"allWritten",
                 "[General]\nshowIcon=false\nvalue=level\nshowUnit=true\ncolorize=false\n",
                 style(false, MenuBarValue::level, true, false)},
        LoadCase{"eachValue_rpm", "[General]\nvalue=rpm\n",
                 style(true, MenuBarValue::rpm, false, true)},
        LoadCase{"eachValue_none", "[General]\nvalue=none\n",
                 style(true, MenuBarValue::none, false, true)},
        LoadCase{"unknownValueWord", "[General]\nvalue=speed\n", kDefault},
        LoadCase{"valueOtherCase", "[General]\nvalue=Rpm\n", kDefault},
        LoadCase{"valueWithSpace", "[General]\nvalue=\"rpm \"\n", kDefault},
        LoadCase{"valueIsList", "[General]\nvalue=rpm, level\n", kDefault},
        LoadCase{"valueEmpty", "[General]\nvalue=\n", kDefault},
        // A stray word must not read as true, as QVariant::toBool would have it.
        LoadCase{"strayWordsKeepDefaults", "[General]\nshowIcon=no\nshowUnit=yes\ncolorize=off\n",
                 kDefault},
        LoadCase{"showUnitStrayWordIsNotTrue", "[General]\nshowUnit=banana\n", kDefault},
        LoadCase{"numbersAsBooleans", "[General]\nshowIcon=0\nshowUnit=1\ncolorize=0\n",
                 style(false, MenuBarValue::gauge, true, false)},
        LoadCase{"otherNumbersAreNotBooleans", "[General]\nshowIcon=2\nshowUnit=-1\n", kDefault},
        LoadCase{"capitalisedBooleans", "[General]\nshowIcon=FALSE\nshowUnit=True\n",
                 style(false, MenuBarValue::gauge, true, true)},
        LoadCase{"booleanList", "[General]\ncolorize=false, false\n", kDefault},
        LoadCase{"otherGroupIgnored", "[other]\nshowIcon=false\nvalue=rpm\n", kDefault},
        LoadCase{"notIniAtAll", "\x01\x02\xff garbage = = =\n[[[\n", kDefault}),
    CaseName());

TEST(StyleSave, EveryStyleComesBack) {
    AppSandbox sandbox;
    const QString file = sandbox.path("sub/dir/prefs.conf");
    for (MenuBarValue value : allMenuBarValues) {
        for (int bits = 0; bits < 8; ++bits) {
            const MenuBarStyle saved =
                style((bits & 1) != 0, value, (bits & 2) != 0, (bits & 4) != 0);
            {
                const auto settings = UserDefaults::open(file);
                saved.save(*settings);
            }
            const auto settings = UserDefaults::open(file);
            EXPECT_EQ(MenuBarStyle::load(*settings), saved)
                << textForm(value).toStdString() << bits;
        }
    }
}

TEST(StyleSave, DefaultFileLivesUnderTheConfigHome) {
    AppSandbox sandbox;
    const MenuBarStyle saved = style(false, MenuBarValue::rpm, true, false);
    saved.save();
    EXPECT_EQ(UserDefaults::path(), sandbox.path("config/tarnwick/tarnwick.conf"));
    EXPECT_TRUE(QFileInfo::exists(sandbox.path("config/tarnwick/tarnwick.conf")));
    EXPECT_EQ(MenuBarStyle::load(), saved);
}

TEST(ReadBool, InMemoryValuesOfOtherTypes) {
    AppSandbox sandbox;
    QSettings settings(sandbox.path("mem.conf"), QSettings::IniFormat);
    settings.setValue("b", true);
    settings.setValue("one", 1);
    settings.setValue("two", 2);
    settings.setValue("real", 1.0);
    settings.setValue("list", QStringList{"true"});
    EXPECT_EQ(UserDefaults::readBool(settings, "b"), true);
    EXPECT_EQ(UserDefaults::readBool(settings, "one"), true);
    EXPECT_EQ(UserDefaults::readBool(settings, "two"), std::nullopt);
    EXPECT_EQ(UserDefaults::readBool(settings, "real"), std::nullopt);
    EXPECT_EQ(UserDefaults::readBool(settings, "list"), std::nullopt);
    EXPECT_EQ(UserDefaults::readBool(settings, "missing"), std::nullopt);
}

}  // namespace
