#include <QApplication>
#include <gtest/gtest.h>

// Widget tests run on Qt's offscreen platform, with no display and no real home.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TARNWICK_SETTINGS", "/nonexistent/tarnwick-tests/settings.ini");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
