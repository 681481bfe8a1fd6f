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

// Rounding without a call into the maths library, for values well within the range of an int.
int floorOf(float value)
{
    const int truncated = int(value);
    return truncated - int(float(truncated) > value);
}

int ceilOf(float value)
{
    const int truncated = int(value);
    return truncated + int(float(truncated) < value);
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
        const QPointF between = b - a;
        return QPointF::dotProduct(between, between) >= shortest * shortest;
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
            const QPointF normal = in + out;
            segment.end = {float(to.x()), float(to.y()), float(normal.x()), float(normal.y()),
                           normal.x() != 0 ? float(normal.y() / normal.x()) : 0.0f};
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
    // Where a join's bisector divides the pixels of a row in [left, right]: columns from `column` on
    // lie on the later segment's side if `laterRight`, on the earlier one's otherwise. Both segments
    // of the join compute it from the same numbers in the same order, so each pixel falls on one side.
    struct Split
    {
        int column;
        bool laterRight;
    };
    const auto split = [](const Bisector& bisector, float centreY, int left, int right) {
        if (bisector.normalX == 0)
            return Split{(centreY - bisector.y) * bisector.normalY >= 0 ? left : right + 1, true};
        // Where the bisector crosses the row; within a pixel or two of the row's part, as beyond it
        // every pixel is on the same side anyway.
        const float crossing = std::clamp(bisector.x - (centreY - bisector.y) * bisector.slope,
                                          float(left) - 2, float(right) + 2);
        if (bisector.normalX > 0)
            return Split{ceilOf(crossing - 0.5f), true};
        return Split{floorOf(crossing - 0.5f) + 1, false};
    };
    const int width = target.width();
    uchar* const bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    for (int y = top; y <= bottom; ++y) {
        const float centreY = float(y) + 0.5f;
        // The part of the segment within reach of this row, vertically, widened by the reach.
        float low = 0;
        float high = 1;
        if (dy != 0) {
            low = (centreY - reach - fromY) * inverseDy;
            high = (centreY + reach - fromY) * inverseDy;
            if (low > high)
                std::swap(low, high);
            low = std::max(low, 0.0f);
            high = std::min(high, 1.0f);
            if (low > high)
                continue;
        }
        const float leftX = fromX + dx * (dx < 0 ? high : low) - reach;
        const float rightX = fromX + dx * (dx < 0 ? low : high) + reach;
        const int left = std::max(0, ceilOf(std::max(leftX, -1.0f) - 0.5f));
        const int right = std::min(width - 1, floorOf(std::min(rightX, float(width) + 1) - 0.5f));
        auto* pixels = reinterpret_cast<quint32*>(bits + y * stride);
        const float offsetY = centreY - fromY;
        const float alongRow = offsetY * dy;
        const float acrossRow = -offsetY * dx * inverseLength;
        const float acrossStep = dy * inverseLength;
        int first = left;
        int last = right;
        if (segment.hasStart) {
            const Split start = split(segment.start, centreY, left, right);
            if (start.laterRight)
                first = std::max(first, start.column);
            else
                last = std::min(last, start.column - 1);
        }
        if (segment.hasEnd) {
            const Split end = split(segment.end, centreY, left, right);
            if (end.laterRight)
                last = std::min(last, end.column - 1);
            else
                first = std::max(first, end.column);
        }
        for (int x = first; x <= last; ++x) {
            const float centreX = float(x) + 0.5f;
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
