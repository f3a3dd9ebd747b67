#include "Tarnwick/model/MenuBarStyle.h"

#include <QVariant>

#include "Tarnwick/model/UserDefaults.h"

namespace {

const QString kShowIcon = QStringLiteral("showIcon");
const QString kValue = QStringLiteral("value");
const QString kShowUnit = QStringLiteral("showUnit");
const QString kColorize = QStringLiteral("colorize");
const QString kAppearance = QStringLiteral("trayAppearance");

}  // namespace

MenuBarStyle MenuBarStyle::load(const QSettings& settings) {
    MenuBarStyle style;
    style.showIcon = UserDefaults::readBool(settings, kShowIcon).value_or(style.showIcon);
    const QVariant value = settings.value(kValue);
    if (value.typeId() == QMetaType::QString) {
        style.value = menuBarValueFromText(value.toString()).value_or(style.value);
    }
    style.showUnit = UserDefaults::readBool(settings, kShowUnit).value_or(style.showUnit);
    style.colorize = UserDefaults::readBool(settings, kColorize).value_or(style.colorize);
    const QVariant appearance = settings.value(kAppearance);
    if (appearance.typeId() == QMetaType::QString) {
        style.appearance = trayAppearanceFromText(appearance.toString()).value_or(style.appearance);
    }
    return style;
}

MenuBarStyle MenuBarStyle::load() { return load(*UserDefaults::open()); }

void MenuBarStyle::save(QSettings& settings) const {
    settings.setValue(kShowIcon, showIcon);
    settings.setValue(kValue, textForm(value));
    settings.setValue(kShowUnit, showUnit);
    settings.setValue(kColorize, colorize);
    settings.setValue(kAppearance, textForm(appearance));
}

void MenuBarStyle::save() const {
    const auto settings = UserDefaults::open();
    save(*settings);
    settings->sync();
}
