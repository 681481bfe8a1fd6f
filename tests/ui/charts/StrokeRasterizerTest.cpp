#include "ui/charts/StrokeRasterizer.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

constexpr QRgb kGround = 0xff000000;

QImage strokeOn(const QPolygonF& points, double width, const QColor& colour)
{
    QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
    image.fill(kGround);
    StrokeRasterizer strokes;
    strokes.stroke(image, points, width, colour);
    return image;
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
            EXPECT_EQ(QString::number(image.pixel(pixel.at), 16), QString::number(pixel.expected, 16))
                << pixel.at.x() << "," << pixel.at.y();
    }
}

TEST(StrokeRasterizerTest, BlendsEachPixelOnceWhereSegmentsJoin)
{
    // The same bent line in one segment per leg and in many short ones: translucent ink laid twice at
    // a join would show darker there.
    QPolygonF coarse{{4, 4}, {20, 25}, {36, 6}};
    QPolygonF fine;
    for (int i = 0; i < 2; ++i)
        for (int step = 0; step < 16; ++step)
            fine.append(coarse[i] + (coarse[i + 1] - coarse[i]) * step / 16.0);
    fine.append(coarse.last());
    const QColor ink(40, 200, 120, 150);
    EXPECT_EQ(strokeOn(fine, 4, ink), strokeOn(coarse, 4, ink));

    // Strokes after each other blend one over the other.
    QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
    image.fill(kGround);
    StrokeRasterizer strokes;
    for (int i = 0; i < 2; ++i)
        strokes.stroke(image, {{5, 10.5}, {30, 10.5}}, 1, QColor(255, 255, 255, 128));
    EXPECT_EQ(QString::number(image.pixel(15, 10), 16), QStringLiteral("ffc0c0c0"));
}
