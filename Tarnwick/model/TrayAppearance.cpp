#include "Tarnwick/model/TrayAppearance.h"

QString textForm(TrayAppearance appearance) {
    switch (appearance) {
        case TrayAppearance::automatic:
            return QStringLiteral("automatic");
        case TrayAppearance::light:
            return QStringLiteral("light");
        case TrayAppearance::dark:
            return QStringLiteral("dark");
    }
    return QStringLiteral("automatic");
}

std::optional<TrayAppearance> trayAppearanceFromText(QStringView text) {
    for (TrayAppearance appearance : allTrayAppearances) {
        if (text == textForm(appearance)) return appearance;
    }
    return std::nullopt;
}
