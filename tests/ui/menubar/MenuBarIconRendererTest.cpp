#include "ui/menubar/MenuBarIconRenderer.h"

#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

// How many pixels carry any ink.
int inked(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0;
    }
    return count;
}

} // namespace

TEST(MenuBarIconRendererTest, ModesSizesAndTint)
{
    MenuBarIconRenderer renderer(Qt::red);
    const struct
    {
        MenuBarIconMode mode;
        int logicalWidth;
    } modes[] = {{MenuBarIconMode::iconOnly, 22},
                 {MenuBarIconMode::iconAndSpeed, 22 + 5 + 48},
                 {MenuBarIconMode::speedOnly, 48}};
    for (const auto& mode : modes) {
        const QImage image = renderer.render(true, false, 2048, 4096, mode.mode);
        EXPECT_EQ(image.devicePixelRatio(), 2.0);
        EXPECT_EQ(image.size(), QSize(mode.logicalWidth * 2, 44)) << rawValue(mode.mode).toStdString();
        EXPECT_GT(inked(image), 0);
        // Monochrome: every inked pixel is the tint.
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                if (qAlpha(pixel) == 255) {
                    ASSERT_EQ(QColor(pixel).rgb(), QColor(Qt::red).rgb());
                }
            }
        }
    }
}

TEST(MenuBarIconRendererTest, RedrawsOnlyOnChangeAndShowsZeroWhenStopped)
{
    MenuBarIconRenderer renderer;
    const QImage first = renderer.render(true, false, 100, 200, MenuBarIconMode::iconAndSpeed);
    const QImage same = renderer.render(true, false, 100, 200, MenuBarIconMode::iconAndSpeed);
    EXPECT_EQ(renderer.drawCount(), 1);
    EXPECT_EQ(first.cacheKey(), same.cacheKey());

    const QImage faster = renderer.render(true, false, 100 * 1024 * 1024, 200, MenuBarIconMode::iconAndSpeed);
    EXPECT_EQ(renderer.drawCount(), 2);
    EXPECT_NE(faster, first);

    // Stopped: the rates given are ignored, both lines say 0.
    const QImage stopped = renderer.render(false, false, 5000, 7000, MenuBarIconMode::speedOnly);
    const QImage zero = renderer.render(true, false, 0, 0, MenuBarIconMode::speedOnly);
    EXPECT_EQ(stopped, zero);

    const QImage awake = renderer.render(true, false, 0, 0, MenuBarIconMode::iconOnly);
    const QImage asleep = renderer.render(true, true, 0, 0, MenuBarIconMode::iconOnly);
    EXPECT_NE(awake, asleep);

    const int before = renderer.drawCount();
    renderer.setTint(Qt::white);
    renderer.render(true, true, 0, 0, MenuBarIconMode::iconOnly);
    EXPECT_EQ(renderer.drawCount(), before + 1);
}
