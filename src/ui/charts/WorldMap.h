#pragma once

#include "StrokeRasterizer.h"
#include "history/FlowStatistics.h"

#include <QHash>
#include <QImage>
#include <QPainterPath>
#include <QWidget>
#include <memory>
#include <vector>

namespace tarnwick {

class CountryCoordinates;

// The traffic map: country outlines in the map projection, shaded by the traffic that reached or
// passed through each country, and flight paths client → proxy country → destination country whose
// width follows their bytes. Hovering a country names it with its figures.
class WorldMap final : public QWidget
{
    Q_OBJECT

public:
    struct Figures
    {
        double asDestination = 0; // bytes of flows that ended there
        double asTunnel = 0;      // bytes of flows whose proxy server is there
        double total() const { return asDestination + asTunnel; }
    };

    explicit WorldMap(QWidget* parent = nullptr);
    ~WorldMap() override;

    void setWorld(std::shared_ptr<const CountryCoordinates> world);
    void setFlightPaths(QList<FlightPath> paths);
    const QList<FlightPath>& flightPaths() const { return m_paths; }
    // Per country code, from the flight paths; includes codes the outlines lack.
    const QHash<QString, Figures>& figures() const { return m_figures; }
    // Where a place is drawn in the widget.
    QPointF widgetPoint(double lat, double lng) const;
    // The country drawn under a point of the widget; empty over the sea.
    QString countryAt(const QPointF& point) const;
    // The hover text for a country: its name and figures.
    QString describe(const QString& iso) const;
    // How many legs the last drawing drew (a path through a known proxy country has two).
    int drawnLegs() const { return m_drawnLegs; }

    QSize sizeHint() const override { return {800, 480}; }
    QSize minimumSizeHint() const override { return {320, 200}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct Outline
    {
        QString iso;
        QPainterPath path; // unit coordinates, with copies shifted by a map width where rings wrap
        QRectF bounds;
    };

    // The unit square's place in the widget: the projection keeps its proportions.
    QTransform mapTransform() const;
    std::optional<QPointF> unitPoint(const QString& iso) const;
    // The layers that depend only on the size: which country covers each pixel, and how much of it
    // the borders cover.
    void paintLayers(const QSize& pixels, qreal ratio);
    // Per country number of the layers, its shade for the traffic that reached it (0 is the sea).
    QList<QRgb> landColours(const QPalette& palette) const;
    // The land in rows [top, bottom) of `image` (of the layers' size), run by run.
    void shadeLand(QImage& image, const QList<QRgb>& colours, int top, int bottom) const;
    // The legs of the flight paths, in the image's pixels.
    StrokeRasterizer flightStrokes(qreal ratio);
    // The shaded land, the flight paths, the client's place and the legend, into m_base.
    void drawBase();
    void paintLegend(QPainter& painter);
    void invalidate();
    void invalidateLayers();

    std::shared_ptr<const CountryCoordinates> m_world;
    QList<Outline> m_outlines;
    QList<FlightPath> m_paths;
    QHash<QString, Figures> m_figures;
    double m_topFigure = 0;
    struct LandRun
    {
        quint16 country; // 0 for the sea, 1 + the outline's index for land
        quint8 cover;    // how much of each pixel a border covers
        int length;
    };
    // The map's pixels, row after row, as runs of one country and border coverage. Countries are
    // drawn without antialiasing; the antialiased borders cover their edges.
    std::vector<LandRun> m_landRuns;
    std::vector<size_t> m_rowRuns; // where each row's runs start, and one past the last
    QSize m_landSize;
    QImage m_base; // the shaded land with the flight paths, in the raster engine's own format
    bool m_baseStale = true;
    QString m_hovered;
    int m_drawnLegs = 0;
};

} // namespace tarnwick
