#include "support/TestSupport.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Widget tests run on Qt's offscreen platform, in a home of their own.
int main(int argc, char** argv)
{
    const QTemporaryDir home;
    if (!tarnwick::test::isolateEnvironment(home))
        return 1;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
