#include "WorldMap.h"

#include "ChartText.h"
#include "RouteColors.h"
#include "StrokeRasterizer.h"
#include "history/CountryCoordinates.h"
#include "history/CountryFormatter.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSemaphore>
#include <QThreadPool>
#include <QToolTip>
#include <atomic>
#include <cmath>

namespace tarnwick {

namespace {

// Width over height of the projected world (360° of longitude against ±85° of Miller latitude).
constexpr double kAspect = 1.5344;
// Where every flight path starts.
const QString kClient = QStringLiteral("CN");

bool placed(const QString& code)
{
    return !code.isEmpty() && code != QLatin1String("Unknown") && code != QLatin1String("DIRECT");
}

// `from` moved towards `to` by `amount` of 255.
QRgb blend(QRgb from, QRgb to, int amount)
{
    const auto channel = [amount](int a, int b) { return a + ((b - a) * amount + 127) / 255; };
    return qRgb(channel(qRed(from), qRed(to)), channel(qGreen(from), qGreen(to)),
                channel(qBlue(from), qBlue(to)));
}

} // namespace

WorldMap::WorldMap(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

WorldMap::~WorldMap() = default;

void WorldMap::setWorld(std::shared_ptr<const CountryCoordinates> world)
{
    m_world = std::move(world);
    m_outlines.clear();
    if (m_world) {
        for (const CountryCoordinates::Country& country : m_world->countries()) {
            Outline outline{country.iso, {}, {}};
            outline.path.setFillRule(Qt::WindingFill);
            for (const QList<QPointF>& ring : country.rings) {
                // Rings that cross the map's edge are unwrapped into one piece and drawn again one map
                // width over, so both halves show.
                QPolygonF polygon;
                double previous = 0;
                double shift = 0;
                for (const QPointF& lngLat : ring) {
                    QPointF point = CountryCoordinates::project(lngLat.y(), lngLat.x());
                    if (!polygon.isEmpty()) {
                        if (point.x() + shift - previous > 0.5)
                            shift -= 1;
                        else if (point.x() + shift - previous < -0.5)
                            shift += 1;
                    }
                    point.rx() += shift;
                    previous = point.x();
                    polygon.append(point);
                }
                if (polygon.size() < 3)
                    continue;
                outline.path.addPolygon(polygon);
                const QRectF bounds = polygon.boundingRect();
                if (bounds.left() < 0)
                    outline.path.addPolygon(polygon.translated(1, 0));
                if (bounds.right() > 1)
                    outline.path.addPolygon(polygon.translated(-1, 0));
            }
            outline.bounds = outline.path.boundingRect();
            m_outlines.append(std::move(outline));
        }
    }
    invalidateLayers();
}

void WorldMap::setFlightPaths(QList<FlightPath> paths)
{
    m_paths = std::move(paths);
    m_figures.clear();
    for (const FlightPath& path : std::as_const(m_paths)) {
        m_figures[path.destCountry].asDestination += double(path.bytes);
        if (path.proxyCountry != QLatin1String("DIRECT"))
            m_figures[path.proxyCountry].asTunnel += double(path.bytes);
    }
    m_topFigure = 0;
    for (auto it = m_figures.cbegin(); it != m_figures.cend(); ++it)
        if (placed(it.key()))
            m_topFigure = std::max(m_topFigure, it->total());
    invalidate();
}

QString WorldMap::describe(const QString& iso) const
{
    QString text = CountryFormatter::display(iso);
    const Figures figures = m_figures.value(iso);
    if (figures.total() <= 0)
        return text + QStringLiteral("\nNo recorded traffic");
    if (figures.asDestination > 0)
        text += QStringLiteral("\nDestination: ") + ChartText::bytes(figures.asDestination);
    if (figures.asTunnel > 0)
        text += QStringLiteral("\nThrough proxies there: ") + ChartText::bytes(figures.asTunnel);
    return text;
}

QTransform WorldMap::mapTransform() const
{
    const double w = std::min(double(width()), double(height()) * kAspect);
    const double h = w / kAspect;
    QTransform transform;
    transform.translate((width() - w) / 2, (height() - h) / 2);
    transform.scale(w, h);
    return transform;
}

QPointF WorldMap::widgetPoint(double lat, double lng) const
{
    return mapTransform().map(CountryCoordinates::project(lat, lng));
}

QString WorldMap::countryAt(const QPointF& point) const
{
    bool invertible = false;
    const QPointF unit = mapTransform().inverted(&invertible).map(point);
    if (!invertible)
        return {};
    for (const Outline& outline : m_outlines)
        if (outline.bounds.contains(unit) && outline.path.contains(unit))
            return outline.iso;
    return {};
}

std::optional<QPointF> WorldMap::unitPoint(const QString& iso) const
{
    if (!m_world || !placed(iso))
        return std::nullopt;
    const std::optional<std::pair<double, double>> centroid = m_world->centroid(iso);
    if (!centroid)
        return std::nullopt;
    return CountryCoordinates::project(centroid->first, centroid->second);
}

void WorldMap::invalidate()
{
    m_baseStale = true;
    update();
}

void WorldMap::invalidateLayers()
{
    m_landRuns.clear();
    m_rowRuns.clear();
    m_landSize = QSize();
    invalidate();
}

void WorldMap::paintLayers(const QSize& pixels, qreal ratio)
{
    // Countries are painted with their number as the colour (red the high byte, green the low one),
    // then kept as 16 bits a pixel.
    QImage numbered(pixels, QImage::Format_RGB32);
    numbered.setDevicePixelRatio(ratio);
    numbered.fill(Qt::black);
    QImage borders(pixels, QImage::Format_Alpha8);
    borders.setDevicePixelRatio(ratio);
    borders.fill(Qt::transparent);
    {
        QPainter fills(&numbered);
        fills.setTransform(mapTransform());
        fills.setPen(Qt::NoPen);
        QPainter strokes(&borders);
        strokes.setRenderHint(QPainter::Antialiasing);
        strokes.setTransform(mapTransform());
        QPen pen(Qt::black, 0.8);
        pen.setCosmetic(true);
        strokes.setPen(pen);
        strokes.setBrush(Qt::NoBrush);
        for (qsizetype i = 0; i < m_outlines.size(); ++i) {
            const int number = int(i + 1);
            fills.setBrush(QColor(number >> 8, number & 0xff, 0));
            fills.drawPath(m_outlines[i].path);
            strokes.drawPath(m_outlines[i].path);
        }
    }
    // Along each row, the runs of pixels of one country and one border coverage.
    m_landRuns.clear();
    m_rowRuns.assign(size_t(pixels.height()) + 1, 0);
    for (int y = 0; y < pixels.height(); ++y) {
        m_rowRuns[size_t(y)] = m_landRuns.size();
        const auto* colours = reinterpret_cast<const QRgb*>(numbered.constScanLine(y));
        const uchar* cover = borders.constScanLine(y);
        for (int x = 0; x < pixels.width();) {
            const auto country = quint16(qRed(colours[x]) << 8 | qGreen(colours[x]));
            int end = x + 1;
            while (end < pixels.width() && colours[end] == colours[x] && cover[end] == cover[x])
                ++end;
            m_landRuns.push_back({country, cover[x], end - x});
            x = end;
        }
    }
    m_rowRuns.back() = m_landRuns.size();
    m_landSize = pixels;
}

QList<QRgb> WorldMap::landColours(const QPalette& palette) const
{
    // Each country's colour over the sea, opaque; the borders are the sea colour showing through.
    const QColor sea = palette.color(QPalette::Base);
    QColor land = palette.color(QPalette::WindowText);
    land.setAlphaF(0.09);
    const QColor heat = palette.color(QPalette::Highlight);
    const double logTop = std::log1p(m_topFigure);
    const auto over = [&sea](QColor colour) {
        const double a = colour.alphaF();
        return qRgb(int(colour.red() * a + sea.red() * (1 - a) + 0.5),
                    int(colour.green() * a + sea.green() * (1 - a) + 0.5),
                    int(colour.blue() * a + sea.blue() * (1 - a) + 0.5));
    };
    QList<QRgb> colours(m_outlines.size() + 1);
    colours[0] = sea.rgb();
    for (qsizetype i = 0; i < m_outlines.size(); ++i) {
        QColor fill = land;
        const double value = m_figures.value(m_outlines[i].iso).total();
        if (value > 0 && logTop > 0) {
            fill = heat;
            fill.setAlphaF(0.18 + 0.72 * std::log1p(value) / logTop);
        }
        colours[i + 1] = over(fill);
    }
    return colours;
}

void WorldMap::shadeLand(QImage& image, const QList<QRgb>& colours, int top, int bottom) const
{
    const QRgb sea = colours[0];
    const int count = int(colours.size());
    // The rows of a 32-bit image follow each other without padding, as the runs do.
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(top));
    const auto last = m_landRuns.begin() + qsizetype(m_rowRuns[size_t(bottom)]);
    for (auto run = m_landRuns.begin() + qsizetype(m_rowRuns[size_t(top)]); run != last; ++run) {
        const QRgb fill = run->country < count ? colours[run->country] : sea;
        std::fill_n(out, run->length, run->cover == 0 ? fill : blend(fill, sea, run->cover));
        out += run->length;
    }
}

StrokeRasterizer WorldMap::flightStrokes(qreal ratio)
{
    const QTransform transform = mapTransform();
    const QTransform toPixels = QTransform::fromScale(ratio, ratio);

    // The heaviest drawn last, on top; widths on a square-root scale.
    double heaviest = 0;
    for (const FlightPath& path : std::as_const(m_paths))
        heaviest = std::max(heaviest, double(path.bytes));
    m_drawnLegs = 0;
    StrokeRasterizer strokes;
    const std::optional<QPointF> client = unitPoint(kClient);
    const auto leg = [&](QPointF from, QPointF to, const QColor& color, double weight) {
        from = transform.map(from);
        to = transform.map(to);
        const QPointF middle = (from + to) / 2;
        const QPointF along = to - from;
        // Arcs bend to the left of their direction, by a fifth of their length.
        const QPointF control = middle + QPointF(along.y(), -along.x()) * 0.2;
        QPainterPath arc(from);
        arc.quadTo(control, to);
        QColor stroke = color;
        stroke.setAlphaF(0.35 + 0.55 * weight);
        strokes.add(arc.toSubpathPolygons(toPixels).value(0), (1 + 4 * weight) * ratio, stroke);
        ++m_drawnLegs;
    };
    for (qsizetype i = m_paths.size() - 1; i >= 0 && client; --i) {
        const FlightPath& path = m_paths[i];
        const double weight = heaviest > 0 ? std::sqrt(double(path.bytes) / heaviest) : 0;
        const std::optional<QPointF> proxy = unitPoint(path.proxyCountry);
        const std::optional<QPointF> destination = unitPoint(path.destCountry);
        if (proxy) {
            if (*proxy != *client)
                leg(*client, *proxy, RouteColors::of(QStringLiteral("Proxy")), weight);
            if (destination && *destination != *proxy)
                leg(*proxy, *destination, RouteColors::of(QStringLiteral("Proxy")), weight);
        } else if (destination && *destination != *client) {
            leg(*client, *destination, RouteColors::of(QStringLiteral("Direct")), weight);
        }
    }
    return strokes;
}

void WorldMap::drawBase()
{
    const QPalette& palette = this->palette();
    const QList<QRgb> colours = landColours(palette);
    const StrokeRasterizer strokes = flightStrokes(m_base.devicePixelRatio());
    // Band by band, each band's pixels stay in the cache from its shading to its last flight path.
    // A free pool thread takes bands too; each thread writes through its own view of the pixels.
    constexpr int kBand = 32;
    const int bands = (m_base.height() + kBand - 1) / kBand;
    std::atomic<int> next = 0;
    uchar* const bits = m_base.bits();
    const QSize size = m_base.size();
    const qsizetype stride = m_base.bytesPerLine();
    const auto work = [&] {
        QImage view(bits, size.width(), size.height(), stride, QImage::Format_ARGB32_Premultiplied);
        for (int band = next++; band < bands; band = next++) {
            const int top = band * kBand;
            const int bottom = std::min(top + kBand, view.height());
            shadeLand(view, colours, top, bottom);
            strokes.draw(view, top, bottom);
        }
    };
    QSemaphore done;
    const bool helped = QThreadPool::globalInstance()->tryStart([&work, &done] {
        work();
        done.release();
    });
    work();
    if (helped)
        done.acquire();

    QPainter painter(&m_base);
    painter.setRenderHint(QPainter::Antialiasing);
    if (const std::optional<QPointF> client = unitPoint(kClient)) {
        painter.setPen(QPen(palette.color(QPalette::Base), 2));
        painter.setBrush(palette.color(QPalette::Highlight));
        painter.drawEllipse(mapTransform().map(*client), 5, 5);
    }
    paintLegend(painter);
}

void WorldMap::paintLegend(QPainter& painter)
{
    const QPalette& palette = this->palette();
    const QFontMetrics metrics = fontMetrics();
    double x = 10;
    const double y = height() - 10 - metrics.descent();
    for (const QString& route : {QStringLiteral("Proxy"), QStringLiteral("Direct")}) {
        painter.setPen(QPen(RouteColors::of(route), 3, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(x, y - metrics.ascent() / 2.0 + 1),
                         QPointF(x + 18, y - metrics.ascent() / 2.0 + 1));
        painter.setPen(palette.color(QPalette::WindowText));
        painter.drawText(QPointF(x + 24, y), route);
        x += 24 + metrics.horizontalAdvance(route) + 16;
    }
}

void WorldMap::paintEvent(QPaintEvent*)
{
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = size() * ratio;
    if (m_landSize != pixels)
        paintLayers(pixels, ratio);
    if (m_baseStale || m_base.size() != pixels) {
        if (m_base.size() != pixels)
            m_base = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        m_base.setDevicePixelRatio(ratio);
        drawBase();
        m_baseStale = false;
    }
    QPainter painter(this);
    painter.drawImage(0, 0, m_base);
    if (m_hovered.isEmpty())
        return;
    for (const Outline& outline : std::as_const(m_outlines)) {
        if (outline.iso != m_hovered)
            continue;
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setTransform(mapTransform());
        QPen pen(palette().color(QPalette::Highlight), 2);
        pen.setCosmetic(true);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(outline.path);
        break;
    }
}

void WorldMap::resizeEvent(QResizeEvent*)
{
    invalidateLayers();
}

void WorldMap::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        invalidate();
    QWidget::changeEvent(event);
}

void WorldMap::mouseMoveEvent(QMouseEvent* event)
{
    const QString country = countryAt(event->position());
    if (country != m_hovered) {
        m_hovered = country;
        update();
    }
    if (country.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPosition().toPoint(), describe(country), this);
}

void WorldMap::leaveEvent(QEvent*)
{
    m_hovered.clear();
    update();
}

} // namespace tarnwick
