#include "StrokeRasterizer.h"

#include <algorithm>
#include <cmath>

namespace tarnwick {

namespace {

// Each of the four 8-bit channels of `pixel` times `amount` / 255, rounded.
quint32 scaled(quint32 pixel, quint32 amount)
{
    quint32 redBlue = (pixel & 0xff00ff) * amount;
    redBlue = ((redBlue + ((redBlue >> 8) & 0xff00ff) + 0x800080) >> 8) & 0xff00ff;
    quint32 alphaGreen = ((pixel >> 8) & 0xff00ff) * amount;
    alphaGreen = (alphaGreen + ((alphaGreen >> 8) & 0xff00ff) + 0x800080) & 0xff00ff00;
    return alphaGreen | redBlue;
}

} // namespace

void StrokeRasterizer::stroke(QImage& target, const QPolygonF& points, double width, const QColor& colour)
{
    Q_ASSERT(target.format() == QImage::Format_ARGB32_Premultiplied);
    if (points.isEmpty() || width <= 0 || colour.alpha() == 0)
        return;
    if (target.width() != m_width || target.height() != m_height) {
        m_width = target.width();
        m_height = target.height();
        m_coverage.assign(size_t(m_width) * size_t(m_height), 0);
    }
    const double radius = width / 2;
    for (qsizetype i = 1; i < points.size(); ++i)
        cover(points[i - 1], points[i], radius);
    if (points.size() == 1)
        cover(points[0], points[0], radius);

    // Each covered pixel is blended once; the spans that overlap it later find it cleared.
    const quint32 source = qPremultiply(colour.rgba());
    uchar* const bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    for (const Span& span : m_spans) {
        quint8* coverage = m_coverage.data() + size_t(span.y) * size_t(m_width);
        auto* pixels = reinterpret_cast<quint32*>(bits + span.y * stride);
        for (int x = span.left; x <= span.right; ++x) {
            if (coverage[x] == 0)
                continue;
            const quint32 ink = coverage[x] == 255 ? source : scaled(source, coverage[x]);
            pixels[x] = ink + scaled(pixels[x], 255 - qAlpha(ink));
            coverage[x] = 0;
        }
    }
    m_spans.clear();
}

void StrokeRasterizer::cover(QPointF from, QPointF to, double radius)
{
    // A pixel is covered by how far its centre lies inside the line's edge, up to one pixel: the
    // distance-to-line approximation of its covered area.
    const double reach = radius + 0.5;
    const double reachSquared = reach * reach;
    const double solidSquared = reach > 1 ? (reach - 1) * (reach - 1) : -1;
    const double dx = to.x() - from.x();
    const double dy = to.y() - from.y();
    const double lengthSquared = dx * dx + dy * dy;
    const double inverse = lengthSquared > 0 ? 1 / lengthSquared : 0;
    const int top = std::max(0, int(std::ceil(std::min(from.y(), to.y()) - reach - 0.5)));
    const int bottom = std::min(m_height - 1, int(std::floor(std::max(from.y(), to.y()) + reach - 0.5)));
    for (int y = top; y <= bottom; ++y) {
        const double centreY = y + 0.5;
        // The part of the segment within reach of this row, vertically, widened by the reach.
        double first = 0;
        double last = 1;
        if (dy != 0) {
            first = (centreY - reach - from.y()) / dy;
            last = (centreY + reach - from.y()) / dy;
            if (first > last)
                std::swap(first, last);
            first = std::max(first, 0.0);
            last = std::min(last, 1.0);
            if (first > last)
                continue;
        }
        const double leftX = from.x() + dx * (dx < 0 ? last : first) - reach;
        const double rightX = from.x() + dx * (dx < 0 ? first : last) + reach;
        const int left = std::max(0, int(std::ceil(leftX - 0.5)));
        const int right = std::min(m_width - 1, int(std::floor(rightX - 0.5)));
        if (left > right)
            continue;
        quint8* coverage = m_coverage.data() + size_t(y) * size_t(m_width);
        const double offsetY = centreY - from.y();
        for (int x = left; x <= right; ++x) {
            const double offsetX = x + 0.5 - from.x();
            const double along = std::clamp((offsetX * dx + offsetY * dy) * inverse, 0.0, 1.0);
            const double awayX = offsetX - along * dx;
            const double awayY = offsetY - along * dy;
            const double distanceSquared = awayX * awayX + awayY * awayY;
            if (distanceSquared >= reachSquared)
                continue;
            const double inside = distanceSquared <= solidSquared ? 1 : reach - std::sqrt(distanceSquared);
            coverage[x] = std::max(coverage[x], quint8(inside * 255 + 0.5));
        }
        m_spans.push_back({y, left, right});
    }
}

} // namespace tarnwick
