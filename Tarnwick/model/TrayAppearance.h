#pragma once

// The user's choice of the panel the tray icon is drawn for, stored with the other menu-bar
// settings.

#include <QString>
#include <QStringView>
#include <array>
#include <optional>

enum class TrayAppearance { automatic, light, dark };

inline constexpr std::array<TrayAppearance, 3> allTrayAppearances{
    TrayAppearance::automatic, TrayAppearance::light, TrayAppearance::dark};

// "automatic", "light", "dark": the stored text form.
QString textForm(TrayAppearance appearance);
// The appearance whose text form is exactly `text`; absent for anything else.
std::optional<TrayAppearance> trayAppearanceFromText(QStringView text);
