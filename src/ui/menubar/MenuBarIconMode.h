#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace tarnwick {

// What the tray icon shows; persisted under "menuBarIconMode" as the raw value.
enum class MenuBarIconMode
{
    iconAndSpeed,
    iconOnly,
    speedOnly,
};

inline const QString menuBarIconModeKey = QStringLiteral("menuBarIconMode");

// In the order the menu offers them.
const QList<MenuBarIconMode>& allMenuBarIconModes();
QString rawValue(MenuBarIconMode mode);
QString label(MenuBarIconMode mode);
std::optional<MenuBarIconMode> menuBarIconModeFromRaw(const QString& raw);

} // namespace tarnwick
