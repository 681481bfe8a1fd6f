#pragma once

#include <QColor>
#include <QImage>
#include <QPolygonF>
#include <vector>

namespace tarnwick {

// Wide antialiased polylines with round joins and caps, drawn straight into a premultiplied image.
// Qt's raster engine fills a wide stroke as an outline through a cell rasterizer whose cost grows with
// the square of a row's run, so a few hundred long, shallow arcs take tens of milliseconds; here each
// pixel near a line gets its coverage from its distance to the line, in one pass over the pixels the
// line touches. Each pixel is blended once per stroke: at a join, the bisector of the two segments
// decides which of them draws it. Points closer together than the line is wide are merged first; at a
// join that turns by more than a right angle, both segments draw the pixels they reach.
//
// The strokes are collected first and then drawn by bands of rows, each band in any order or on any
// thread: a band's pixels stay in the cache while every stroke crossing it is blended, and the result
// is the same as drawing each stroke over the whole image in turn.
class StrokeRasterizer final
{
public:
    // A stroke over those added before; `points` and `width` in the target's pixels (not scaled by its
    // device pixel ratio).
    void add(const QPolygonF& points, double width, const QColor& colour);
    // Draws the strokes' pixels in rows [top, bottom) of `target`, which is in
    // Format_ARGB32_Premultiplied. Calls for rows that do not overlap may run at the same time.
    void draw(QImage& target, int top, int bottom) const;

private:
    // The line through a join, bisecting the angle between its two segments, in single precision as
    // the pixels are worked out.
    struct Bisector
    {
        float x = 0; // the join
        float y = 0;
        float normalX = 0; // towards the later segment
        float normalY = 0;
        float slope = 0; // how far the line moves left per row down: normalY / normalX
    };
    struct Segment
    {
        QPointF from;
        QPointF to;
        float reach;    // half the width, and half a pixel of antialiasing
        quint32 colour; // premultiplied
        int top;        // the rows it may cover
        int bottom;
        bool hasStart;
        bool hasEnd;
        Bisector start;
        Bisector end;
    };

    static void paint(const Segment& segment, QImage& target, int top, int bottom);

    std::vector<Segment> m_segments;
};

} // namespace tarnwick
