#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Tests never touch the real home: settings and workspaces are always given explicitly.
    qputenv("TARNWICK_SETTINGS", "/nonexistent/tarnwick-tests/settings.ini");
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
