#include "platform/LoginItem.h"

#include "platform/Error.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarnwick;

TEST(LoginItemTest, TheAutostartEntryIsWrittenWholeAndRemoved)
{
    QTemporaryDir dir;
    const LoginItem item(dir.filePath("autostart"), "/opt/Tarnwick App/bin/tarnwick-app");
    EXPECT_FALSE(item.isEnabled());
    item.setEnabled(true);
    EXPECT_TRUE(item.isEnabled());
    const QString entry = test::readFile(item.filePath());
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\nType=Application\n"));
    EXPECT_TRUE(entry.contains("\nExec=\"/opt/Tarnwick App/bin/tarnwick-app\"\n"));
    // The desktop's own switch turns it off without removing it.
    test::writeFile(item.filePath(), entry.toUtf8().replace("X-GNOME-Autostart-enabled=true", "Hidden=true"));
    EXPECT_FALSE(item.isEnabled());
    item.setEnabled(false);
    EXPECT_FALSE(QFileInfo::exists(item.filePath()));
    item.setEnabled(false);

    // A directory that cannot be made names itself.
    test::writeFile(dir.filePath("blocked"), "a file");
    const LoginItem blocked(dir.filePath("blocked/autostart"), "/usr/bin/tarnwick-app");
    EXPECT_EQ(test::errorText([&] { blocked.setEnabled(true); }),
              QStringLiteral("Could not create %1.").arg(dir.filePath("blocked/autostart")));
}
