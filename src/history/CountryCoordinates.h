#pragma once

#include <QHash>
#include <QList>
#include <QPointF>
#include <QString>
#include <optional>
#include <utility>

namespace tarnwick {

// The world the traffic map draws: country outlines with ISO codes, short names and label positions
// (the table scripts/provision-world.sh reduces from Natural Earth), and the map's projection.
class CountryCoordinates final
{
public:
    struct Country
    {
        QString iso;
        QString name;
        // Polygon rings of (lng, lat) points.
        QList<QList<QPointF>> rings;
        std::optional<double> labelLat;
        std::optional<double> labelLng;
    };

    // Reads the table; a missing or malformed file leaves the world empty.
    explicit CountryCoordinates(const QString& path);

    const QList<Country>& countries() const { return m_countries; }
    // The (lat, lng) a country's label and flows are drawn at.
    std::optional<std::pair<double, double>> centroid(const QString& iso) const;

    // (x, y) in 0…1: Miller cylindrical, centred on 150° east, about ±85° latitude filling the height.
    static QPointF project(double lat, double lng);

private:
    QList<Country> m_countries;
    QHash<QString, qsizetype> m_byCode;
};

} // namespace tarnwick
