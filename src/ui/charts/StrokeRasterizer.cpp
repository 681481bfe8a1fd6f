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

QPointF unit(QPointF vector)
{
    return vector / std::hypot(vector.x(), vector.y());
}

} // namespace

void StrokeRasterizer::add(const QPolygonF& points, double width, const QColor& colour)
{
    if (points.isEmpty() || width <= 0 || colour.alpha() == 0)
        return;
    const double reach = width / 2 + 0.5;
    // Segments at least as long as the line's reach across, so that the bisectors of a segment's two
    // joins meet beyond its pixels; a curve flattened finer than that hardly moves.
    const auto apart = [shortest = 2 * reach](QPointF a, QPointF b) {
        return std::hypot(a.x() - b.x(), a.y() - b.y()) >= shortest;
    };
    QPolygonF line{points.first()};
    for (qsizetype i = 1; i + 1 < points.size(); ++i)
        if (apart(line.last(), points[i]))
            line.append(points[i]);
    if (points.last() != line.last()) {
        if (line.size() > 1 && !apart(line.last(), points.last()))
            line.last() = points.last();
        else
            line.append(points.last());
    }
    if (line.size() == 1)
        line.append(line[0]);

    const quint32 premultiplied = qPremultiply(colour.rgba());
    Bisector start{};
    bool hasStart = false;
    for (qsizetype i = 0; i + 1 < line.size(); ++i) {
        const QPointF from = line[i];
        const QPointF to = line[i + 1];
        Segment segment{from,
                        to,
                        float(reach),
                        premultiplied,
                        int(std::ceil(std::min(from.y(), to.y()) - reach - 0.5)),
                        int(std::floor(std::max(from.y(), to.y()) + reach - 0.5)),
                        hasStart,
                        false,
                        start,
                        {}};
        if (i + 2 < line.size()) {
            const QPointF in = unit(to - from);
            const QPointF out = unit(line[i + 2] - to);
            // Past a right angle the bisectors of neighbouring joins may cross within the line: both
            // segments draw the join in full.
            segment.hasEnd = QPointF::dotProduct(in, out) >= 0;
            segment.end = {to, in + out};
        }
        m_segments.push_back(segment);
        hasStart = segment.hasEnd;
        start = segment.end;
    }
}

void StrokeRasterizer::draw(QImage& target, int top, int bottom) const
{
    Q_ASSERT(target.format() == QImage::Format_ARGB32_Premultiplied);
    top = std::max(top, 0);
    bottom = std::min(bottom, target.height());
    for (const Segment& segment : m_segments)
        if (segment.top < bottom && segment.bottom >= top)
            paint(segment, target, std::max(top, segment.top), std::min(bottom - 1, segment.bottom));
}

// Blends the pixels within reach of the segment in rows [top, bottom], between the bisectors of its
// joins, by how far their centres lie inside the line's edge, up to one pixel: the distance
// approximation of the area covered.
void StrokeRasterizer::paint(const Segment& segment, QImage& target, int top, int bottom)
{
    const float reach = segment.reach;
    const auto fromX = float(segment.from.x());
    const auto fromY = float(segment.from.y());
    const auto dx = float(segment.to.x() - segment.from.x());
    const auto dy = float(segment.to.y() - segment.from.y());
    const float lengthSquared = dx * dx + dy * dy;
    const float inverse = lengthSquared > 0 ? 1 / lengthSquared : 0;
    const float inverseLength = std::sqrt(inverse);
    const float inverseDy = dy != 0 ? 1 / dy : 0;
    // A bisector's test in a row: positive or zero on the later segment's side. The two segments of a
    // join compute it from the same numbers in the same order, so every pixel falls on one side.
    struct Side
    {
        float x = 0;
        float normalX = 0;
        float row = 0;
        bool later(float centreX) const { return (centreX - x) * normalX + row >= 0; }
    };
    const auto side = [](const Bisector& bisector, float centreY) {
        return Side{float(bisector.at.x()), float(bisector.normal.x()),
                    (centreY - float(bisector.at.y())) * float(bisector.normal.y())};
    };
    const int width = target.width();
    uchar* const bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    for (int y = top; y <= bottom; ++y) {
        const float centreY = float(y) + 0.5f;
        // The part of the segment within reach of this row, vertically, widened by the reach.
        float first = 0;
        float last = 1;
        if (dy != 0) {
            first = (centreY - reach - fromY) * inverseDy;
            last = (centreY + reach - fromY) * inverseDy;
            if (first > last)
                std::swap(first, last);
            first = std::max(first, 0.0f);
            last = std::min(last, 1.0f);
            if (first > last)
                continue;
        }
        const float leftX = fromX + dx * (dx < 0 ? last : first) - reach;
        const float rightX = fromX + dx * (dx < 0 ? first : last) + reach;
        const int left = std::max(0, int(std::ceil(leftX - 0.5f)));
        const int right = std::min(width - 1, int(std::floor(rightX - 0.5f)));
        auto* pixels = reinterpret_cast<quint32*>(bits + y * stride);
        const float offsetY = centreY - fromY;
        const float alongRow = offsetY * dy;
        const float acrossRow = -offsetY * dx * inverseLength;
        const float acrossStep = dy * inverseLength;
        const Side start = segment.hasStart ? side(segment.start, centreY) : Side{};
        const Side end = segment.hasEnd ? side(segment.end, centreY) : Side{};
        for (int x = left; x <= right; ++x) {
            const float centreX = float(x) + 0.5f;
            if ((segment.hasStart && !start.later(centreX)) || (segment.hasEnd && end.later(centreX)))
                continue;
            const float offsetX = centreX - fromX;
            // Beside the segment the distance is straight across it; beyond its ends (and around a
            // segment of no length), to the nearer end.
            const float along = (offsetX * dx + alongRow) * inverse;
            float inside;
            if (along > 0 && along < 1) {
                inside = reach - std::abs(offsetX * acrossStep + acrossRow);
            } else {
                const float tip = along <= 0 ? 0 : 1;
                const float awayX = offsetX - tip * dx;
                const float awayY = offsetY - tip * dy;
                inside = reach - std::sqrt(awayX * awayX + awayY * awayY);
            }
            if (inside <= 0)
                continue;
            const quint32 colour =
                inside >= 1 ? segment.colour : scaled(segment.colour, quint32(inside * 255 + 0.5f));
            pixels[x] = colour + scaled(pixels[x], 255 - qAlpha(colour));
        }
    }
}

} // namespace tarnwick
