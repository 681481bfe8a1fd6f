#include "ChartText.h"

#include "controller/RateFormatter.h"

#include <QLocale>

namespace tarnwick {

QString ChartText::bytes(double value)
{
    return RateFormatter::bytes(qint64(value));
}

QString ChartText::count(double value)
{
    return QLocale().toString(qint64(value));
}

} // namespace tarnwick
