#include "CountryCoordinates.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarnwick {

namespace {

Q_LOGGING_CATEGORY(lcMap, "app.tarnwick.CountryCoordinates")

} // namespace

CountryCoordinates::CountryCoordinates(const QString& path)
{
    QFile file(path);
    const QJsonDocument document =
        file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()) : QJsonDocument();
    if (!document.isArray()) {
        qCWarning(lcMap, "No country outlines in %s", qUtf8Printable(path));
        return;
    }
    for (const QJsonValue& value : document.array()) {
        const QJsonObject object = value.toObject();
        Country country{object.value(QLatin1String("iso")).toString(),
                        object.value(QLatin1String("name")).toString(),
                        {},
                        std::nullopt,
                        std::nullopt};
        if (country.iso.isEmpty())
            continue;
        for (const QJsonValue& ring : object.value(QLatin1String("rings")).toArray()) {
            QList<QPointF> points;
            for (const QJsonValue& point : ring.toArray())
                points.append(QPointF(point[0].toDouble(), point[1].toDouble()));
            country.rings.append(points);
        }
        const QJsonArray label = object.value(QLatin1String("label")).toArray();
        if (label.size() == 2) {
            country.labelLat = label[0].toDouble();
            country.labelLng = label[1].toDouble();
        }
        m_byCode.insert(country.iso, m_countries.size());
        m_countries.append(std::move(country));
    }
}

std::optional<std::pair<double, double>> CountryCoordinates::centroid(const QString& iso) const
{
    const auto found = m_byCode.constFind(iso.toUpper());
    if (found == m_byCode.cend())
        return std::nullopt;
    const Country& country = m_countries[*found];
    if (!country.labelLat || !country.labelLng)
        return std::nullopt;
    return std::pair(*country.labelLat, *country.labelLng);
}

QPointF CountryCoordinates::project(double lat, double lng)
{
    double shifted = std::fmod(lng - 150 + 540, 360.0);
    if (shifted < 0)
        shifted += 360;
    const double x = (shifted - 180 + 180) / 360;
    const double latRad = lat * std::numbers::pi / 180;
    const double y = 0.5 - 1.25 * std::log(std::tan(std::numbers::pi / 4 + 0.4 * latRad)) / 4.09484670632464;
    return QPointF(std::clamp(x, 0.0, 1.0), std::clamp(std::isnan(y) ? 1.0 : y, 0.0, 1.0));
}

} // namespace tarnwick
