#pragma once

#include <QColor>
#include <QStringList>

namespace tarnwick {

// The colours of the three traffic routes ("Direct", "Proxy", "Reject"), the same in every chart and
// legend; chosen to read on light and dark palettes alike.
class RouteColors final
{
public:
    // The routes in the order charts stack and list them.
    static const QStringList& routes();
    // The route's colour; anything else is a neutral grey.
    static QColor of(const QString& route);
};

} // namespace tarnwick
