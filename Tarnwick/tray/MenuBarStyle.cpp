#include "Tarnwick/tray/MenuBarStyle.h"

#include <QVariant>

#include "Tarnwick/model/UserDefaults.h"

namespace {

const QString kShowIcon = QStringLiteral("showIcon");
const QString kValue = QStringLiteral("value");
const QString kShowUnit = QStringLiteral("showUnit");
const QString kColorize = QStringLiteral("colorize");

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
    return style;
}

MenuBarStyle MenuBarStyle::load() { return load(*UserDefaults::open()); }

void MenuBarStyle::save(QSettings& settings) const {
    settings.setValue(kShowIcon, showIcon);
    settings.setValue(kValue, textForm(value));
    settings.setValue(kShowUnit, showUnit);
    settings.setValue(kColorize, colorize);
}

void MenuBarStyle::save() const {
    const auto settings = UserDefaults::open();
    save(*settings);
    settings->sync();
}
