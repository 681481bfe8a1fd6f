#include "MenuBarIconMode.h"

namespace tarnwick {

const QList<MenuBarIconMode>& allMenuBarIconModes()
{
    static const QList<MenuBarIconMode> modes{MenuBarIconMode::iconAndSpeed, MenuBarIconMode::iconOnly,
                                              MenuBarIconMode::speedOnly};
    return modes;
}

QString rawValue(MenuBarIconMode mode)
{
    switch (mode) {
    case MenuBarIconMode::iconOnly:
        return QStringLiteral("iconOnly");
    case MenuBarIconMode::speedOnly:
        return QStringLiteral("speedOnly");
    case MenuBarIconMode::iconAndSpeed:
        break;
    }
    return QStringLiteral("iconAndSpeed");
}

QString label(MenuBarIconMode mode)
{
    switch (mode) {
    case MenuBarIconMode::iconOnly:
        return QStringLiteral("Icon Only");
    case MenuBarIconMode::speedOnly:
        return QStringLiteral("Speed Only");
    case MenuBarIconMode::iconAndSpeed:
        break;
    }
    return QStringLiteral("Icon and Speed");
}

std::optional<MenuBarIconMode> menuBarIconModeFromRaw(const QString& raw)
{
    for (const MenuBarIconMode mode : allMenuBarIconModes()) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

} // namespace tarnwick
