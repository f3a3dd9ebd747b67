#pragma once

// What the status item shows beside or instead of its icon on a machine with fans.

#include <QString>
#include <QStringView>
#include <array>
#include <optional>

enum class MenuBarValue { rpm, gauge, level, none };

// Every value in the order the panel offers them.
inline constexpr std::array<MenuBarValue, 4> allMenuBarValues{
    MenuBarValue::rpm, MenuBarValue::gauge, MenuBarValue::level, MenuBarValue::none};

// The text form used for storage and as identity: "rpm", "gauge", "level", "none".
QString textForm(MenuBarValue value);

// The value whose text form is exactly `text`; absent for anything else (no case folding).
std::optional<MenuBarValue> menuBarValueFromText(QStringView text);
