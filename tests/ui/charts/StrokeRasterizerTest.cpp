#include "ui/charts/StrokeRasterizer.h"

#include <QImage>
#include <QPainterPath>
#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

constexpr QRgb kGround = 0xff000000;

QImage ground()
{
    QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
    image.fill(kGround);
    return image;
}

QImage strokeOn(const QPolygonF& points, double width, const QColor& colour)
{
    QImage image = ground();
    StrokeRasterizer strokes;
    strokes.add(points, width, colour);
    strokes.draw(image, 0, image.height());
    return image;
}

QString hex(QRgb pixel)
{
    return QString::number(pixel, 16);
}

} // namespace

TEST(StrokeRasterizerTest, CoversPixelsByTheirDistanceFromTheLine)
{
    struct Pixel
    {
        QPoint at;
        QRgb expected;
    };
    struct Case
    {
        const char* name;
        QPolygonF points;
        double width;
        QColor colour;
        QList<Pixel> pixels;
    };
    const QColor red(255, 0, 0);
    const QList<Case> cases{
        // Pixel centres lie on half pixels: rows 9 to 11 are within the line, rows 8 and 12 one
        // pixel beyond its edge.
        {"a horizontal line three pixels wide",
         {{5, 10.5}, {30, 10.5}},
         3,
         red,
         {{{15, 9}, 0xffff0000}, {{15, 11}, 0xffff0000}, {{15, 8}, kGround}, {{15, 12}, kGround}}},
        // Half a pixel beyond the edge is half covered.
        {"an edge between pixel centres",
         {{5, 10}, {30, 10}},
         3,
         red,
         {{{15, 10}, 0xffff0000}, {{15, 8}, 0xff800000}, {{15, 11}, 0xff800000}, {{15, 7}, kGround}}},
        // The cap is round: straight past the end it reaches as far as at the sides, not into the
        // corners a square cap would fill.
        {"a round cap",
         {{5.5, 10.5}, {20, 10.5}},
         5,
         red,
         {{{21, 10}, 0xffff0000},
          {{22, 10}, 0xff800000},
          {{23, 10}, kGround},
          {{21, 12}, 0xff800000},
          {{22, 12}, kGround}}},
        // Translucent ink over black: half the colour.
        {"a translucent colour",
         {{5, 10.5}, {30, 10.5}},
         1,
         QColor(255, 255, 255, 128),
         {{{15, 10}, 0xff808080}, {{15, 9}, kGround}}},
        // Outside the image on both sides: the part inside is drawn.
        {"a line through the whole image and beyond",
         {{-100, 10.5}, {100, 10.5}},
         1,
         red,
         {{{0, 10}, 0xffff0000}, {{39, 10}, 0xffff0000}}},
        {"a single point",
         {{20.5, 20.5}},
         3,
         red,
         {{{20, 21}, 0xffff0000}, {{21, 21}, 0xff950000}, {{20, 22}, kGround}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage image = strokeOn(c.points, c.width, c.colour);
        for (const Pixel& pixel : c.pixels)
            EXPECT_EQ(hex(image.pixel(pixel.at)), hex(pixel.expected)) << pixel.at.x() << "," << pixel.at.y();
    }
}

TEST(StrokeRasterizerTest, BlendsEachPixelOnceAndLeavesNoGapAtTheJoins)
{
    // Translucent white over black: a pixel inked twice would be lighter than one fully covered once,
    // a gap at a join darker than that along the line's middle.
    const QColor ink(255, 255, 255, 128);
    const QRgb once = 0xff808080;
    QPainterPath arc(QPointF(3, 25));
    arc.quadTo(QPointF(20, -5), QPointF(37, 25));
    QPolygonF straightInPieces;
    for (int step = 0; step <= 30; ++step)
        straightInPieces.append(QPointF(5 + step, 15.5));
    struct Case
    {
        const char* name;
        QPolygonF points;
    };
    const QList<Case> cases{
        {"a flattened arc", arc.toSubpathPolygons().value(0)},
        {"a line in pieces shorter than it is wide", straightInPieces},
        {"a right angle", {{5, 20}, {20, 5}, {35, 20}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage image = strokeOn(c.points, 4, ink);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ASSERT_LE(qRed(image.pixel(x, y)), qRed(once)) << x << "," << y;
        for (qsizetype i = 0; i + 1 < c.points.size(); ++i)
            for (double t = 0; t < 1; t += 0.25) {
                const QPointF at = c.points[i] + (c.points[i + 1] - c.points[i]) * t;
                ASSERT_EQ(hex(image.pixel(at.toPoint())), hex(once)) << at.x() << "," << at.y();
            }
    }
}

TEST(StrokeRasterizerTest, DrawsTheSameByBandsInAnyOrder)
{
    StrokeRasterizer strokes;
    strokes.add({{2, 3}, {30, 28}, {38, 4}}, 5, QColor(40, 200, 120, 150));
    strokes.add({{0, 15}, {40, 16}}, 3, QColor(200, 40, 40, 200));
    QImage whole = ground();
    strokes.draw(whole, 0, whole.height());
    QImage banded = ground();
    for (int top = 28; top > -7; top -= 7)
        strokes.draw(banded, top, top + 7);
    EXPECT_EQ(banded, whole);
    // Later strokes over earlier ones: where they cross, green (24, 118, 71) over black, then red
    // (157, 31, 31) with 55 / 255 of that showing through.
    EXPECT_EQ(hex(whole.pixel(15, 15)), hex(0xffa2382e));
}
