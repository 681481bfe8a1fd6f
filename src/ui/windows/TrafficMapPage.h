#pragma once

#include "history/FlowStatistics.h"

#include <QTimer>
#include <QWidget>

class QComboBox;
class QLabel;

namespace tarnwick {

class DesktopFrontend;
class TopList;
class WorldMap;

// Where the traffic went: the world map with flight paths from the history, and the countries ranked
// beside it (also those the outlines do not have). Loads off the main thread while it is shown.
class TrafficMapPage final : public QWidget
{
    Q_OBJECT

public:
    explicit TrafficMapPage(DesktopFrontend& frontend, QWidget* parent = nullptr);

    WorldMap& map() const { return *m_map; }
    TopList& countries() const { return *m_countries; }
    // The outline table: in the workspace's work directory beside the GeoIP databases, else installed
    // with the application. Empty when there is none.
    static QString worldFile(const QString& workDirectory);
    // Reads the period's flight paths off the main thread; asked during a read, reads again after it.
    void load();

signals:
    void loaded();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void apply(const QList<FlightPath>& paths);

    DesktopFrontend& m_frontend;
    WorldMap* m_map;
    TopList* m_countries;
    QComboBox* m_period;
    QLabel* m_note;
    QTimer m_refresh;
    bool m_loading = false;
    bool m_stale = false;
};

} // namespace tarnwick
