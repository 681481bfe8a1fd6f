#pragma once

#include <QString>
#include <functional>

namespace tarnwick {

// How a chart writes its values: byte totals unless told otherwise.
using ValueFormatter = std::function<QString(double)>;

namespace ChartText {
// Binary units, one decimal below 100 (the application's byte totals).
QString bytes(double value);
// A whole count with the locale's grouping.
QString count(double value);
} // namespace ChartText

} // namespace tarnwick
