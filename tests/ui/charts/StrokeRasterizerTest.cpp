#include "ui/charts/StrokeRasterizer.h"

#include <QImage>
#include <QPainterPath>
#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

constexpr QRgb kGround = 0xff000000;

QImage strokeOn(const QPolygonF& points, double width, const QColor& colour)
{
    QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
    image.fill(kGround);
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
    struct Case
    {
        const char* name;
        QPolygonF points;
        double width;
        QList<std::pair<QPoint, QRgb>> pixels;
    };
    // Pixel centres lie on half pixels; a centre half a pixel beyond the edge is half covered.
    const QList<Case> cases{
        {"an edge between pixel centres",
         {{5, 10}, {30, 10}},
         3,
         {{{15, 10}, 0xffff0000}, {{15, 8}, 0xff800000}, {{15, 11}, 0xff800000}, {{15, 7}, kGround}}},
        // Straight past the end the cap reaches as far as at the sides, not into a square cap's corners.
        {"a round cap",
         {{5.5, 10.5}, {20, 10.5}},
         5,
         {{{21, 10}, 0xffff0000},
          {{22, 10}, 0xff800000},
          {{23, 10}, kGround},
          {{21, 12}, 0xff800000},
          {{22, 12}, kGround}}},
        {"a line through the image and beyond",
         {{-100, 10.5}, {100, 10.5}},
         1,
         {{{0, 10}, 0xffff0000}, {{39, 10}, 0xffff0000}, {{20, 11}, kGround}}},
        {"a single point",
         {{20.5, 20.5}},
         3,
         {{{20, 21}, 0xffff0000}, {{21, 21}, 0xff950000}, {{20, 22}, kGround}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage image = strokeOn(c.points, c.width, Qt::red);
        for (const auto& [at, expected] : c.pixels)
            EXPECT_EQ(hex(image.pixel(at)), hex(expected)) << at.x() << "," << at.y();
    }
}

TEST(StrokeRasterizerTest, BlendsEachPixelOnceAndLeavesNoGapAtTheJoins)
{
    // Translucent white over black: a pixel inked twice would be lighter than one fully covered once,
    // a gap at a join darker than that along the line's middle.
    const QRgb once = 0xff808080;
    QPainterPath arc(QPointF(3, 25));
    arc.quadTo(QPointF(20, -5), QPointF(37, 25));
    const QList<std::pair<const char*, QPolygonF>> cases{
        {"a flattened arc", arc.toSubpathPolygons().value(0)},
        {"a right angle", {{5, 20}, {20, 5}, {35, 20}}},
    };
    for (const auto& [name, points] : cases) {
        SCOPED_TRACE(name);
        const QImage image = strokeOn(points, 4, QColor(255, 255, 255, 128));
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ASSERT_LE(qRed(image.pixel(x, y)), qRed(once)) << x << "," << y;
        for (qsizetype i = 0; i + 1 < points.size(); ++i)
            for (double t = 0; t < 1; t += 0.25) {
                const QPointF at = points[i] + (points[i + 1] - points[i]) * t;
                ASSERT_EQ(hex(image.pixel(at.toPoint())), hex(once)) << at.x() << "," << at.y();
            }
    }
}

TEST(StrokeRasterizerTest, DrawsTheSameByBandsInAnyOrder)
{
    StrokeRasterizer strokes;
    strokes.add({{2, 3}, {30, 28}, {38, 4}}, 5, QColor(40, 200, 120, 150));
    strokes.add({{0, 15}, {40, 16}}, 3, QColor(200, 40, 40, 200));
    QImage whole(40, 30, QImage::Format_ARGB32_Premultiplied);
    whole.fill(kGround);
    QImage banded = whole;
    strokes.draw(whole, 0, whole.height());
    for (int top = 28; top > -7; top -= 7)
        strokes.draw(banded, top, top + 7);
    EXPECT_EQ(banded, whole);
    // Later strokes over earlier ones: where they cross, green (24, 118, 71) over black, then red
    // (157, 31, 31) with 55 / 255 of that showing through.
    EXPECT_EQ(hex(whole.pixel(15, 15)), hex(0xffa2382e));
}
