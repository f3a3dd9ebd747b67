#include "Tarnwick/model/MenuBarValue.h"

QString textForm(MenuBarValue value) {
    switch (value) {
        case MenuBarValue::rpm:
            return QStringLiteral("rpm");
        case MenuBarValue::gauge:
            return QStringLiteral("gauge");
        case MenuBarValue::level:
            return QStringLiteral("level");
        case MenuBarValue::none:
            return QStringLiteral("none");
    }
    return QStringLiteral("gauge");
}

std::optional<MenuBarValue> menuBarValueFromText(QStringView text) {
    for (MenuBarValue value : allMenuBarValues) {
        if (text == textForm(value)) return value;
    }
    return std::nullopt;
}
