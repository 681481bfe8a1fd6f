#pragma once

#include <QColor>
#include <QImage>
#include <QPolygonF>
#include <vector>

namespace tarnwick {

// Draws wide antialiased polylines with round joins and caps straight into a premultiplied image.
// Qt's raster engine fills a wide stroke as an outline through a cell rasterizer whose cost grows with
// the square of a row's run, so a few hundred long, shallow arcs take tens of milliseconds; here each
// pixel near the line gets its coverage from its distance to the line, in one pass over the pixels the
// line touches. Every stroke is blended once per pixel, however its segments overlap at the joins.
class StrokeRasterizer final
{
public:
    // `target` in Format_ARGB32_Premultiplied; `points` and `width` in its pixels (not scaled by its
    // device pixel ratio).
    void stroke(QImage& target, const QPolygonF& points, double width, const QColor& colour);

private:
    // Raises the coverage of the pixels within reach of one segment.
    void cover(QPointF from, QPointF to, double radius);

    int m_width = 0;
    int m_height = 0;
    // Per pixel of the last target, the coverage of the stroke being drawn; all zero between strokes.
    std::vector<quint8> m_coverage;
    struct Span
    {
        int y;
        int left;
        int right; // inclusive
    };
    // The runs of pixels the stroke being drawn has covered, overlapping where its segments do.
    std::vector<Span> m_spans;
};

} // namespace tarnwick
