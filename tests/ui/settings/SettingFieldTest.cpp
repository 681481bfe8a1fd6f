#include "config/EngineSettings.h"
#include "platform/Settings.h"
#include "support/QtPrinters.h"
#include "ui/settings/NetworkSection.h"
#include "ui/settings/SettingsForm.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

class SettingFieldTest : public ::testing::Test
{
public:
    QStringList writtenKeys() const
    {
        return QSettings(m_settings.filePath(), QSettings::IniFormat).allKeys();
    }

    QTemporaryDir m_dir;
    Settings m_settings{m_dir.filePath(QStringLiteral("settings.ini"))};
    NetworkSection m_section{m_settings};
    SettingField& field(const char* key) { return *m_section.form().field(QLatin1String(key)); }
};

} // namespace

TEST_F(SettingFieldTest, ShowsDefaultsWritesOnlyTheChangedKeyAndResets)
{
    EXPECT_EQ(field("findProcessMode").value(), QStringLiteral("always"));
    EXPECT_EQ(field("lanAllowedIPs").value(), QStringLiteral("0.0.0.0/0\n::/0"));
    EXPECT_EQ(field("allowLan").value(), QStringLiteral("false"));
    EXPECT_EQ(field("mixedPort").value(), QString());
    EXPECT_EQ(qobject_cast<QLineEdit*>(field("mixedPort").control())->placeholderText(),
              QString::number(EngineSettings::defaultMixedPort));
    // Showing, and committing what is shown, writes nothing.
    for (SettingField* each : m_section.form().fields())
        EXPECT_TRUE(each->commit()) << each->key().toStdString();
    EXPECT_EQ(writtenKeys(), QStringList());

    struct Change
    {
        const char* key;
        QString value;
        QVariant stored;
    };
    const Change changes[] = {
        {"allowLan", QStringLiteral("true"), true},
        {"findProcessMode", QStringLiteral("off"), QStringLiteral("off")},
        {"socksPort", QStringLiteral("0"), 0},
        {"lanDisallowedIPs", QStringLiteral("10.0.0.0/8\n\n 192.168.0.0/16 "),
         QStringLiteral("10.0.0.0/8\n192.168.0.0/16")},
    };
    for (const Change& change : changes) {
        QSignalSpy written(&m_settings, &Settings::changed);
        field(change.key).setValue(change.value);
        EXPECT_TRUE(field(change.key).commit());
        ASSERT_EQ(written.size(), 1) << change.key;
        EXPECT_EQ(written[0][0].toString(), QLatin1String(change.key));
        EXPECT_EQ(QSettings(m_settings.filePath(), QSettings::IniFormat)
                      .value(QLatin1String(change.key))
                      .toString(),
                  change.stored.toString());
    }
    EXPECT_EQ(writtenKeys().size(), qsizetype(std::size(changes)));

    field("findProcessMode").resetToDefault();
    EXPECT_FALSE(m_settings.contains(QStringLiteral("findProcessMode")));
    EXPECT_EQ(field("findProcessMode").value(), QStringLiteral("always"));

    // Written elsewhere (the command-line tool): the control follows.
    m_settings.setText(QStringLiteral("bindAddress"), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(field("bindAddress").value(), QStringLiteral("127.0.0.1"));
}

TEST_F(SettingFieldTest, BadInputIsExplainedAtTheControlAndNeverWritten)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    const QString held = QString::number(holder.serverPort());
    m_settings.setInteger(QStringLiteral("httpPort"), 7891);
    const QStringList before = writtenKeys();

    struct Case
    {
        const char* key;
        QString value;
        QString message;
    };
    const Case cases[] = {
        {"socksPort", QStringLiteral("70000"),
         QStringLiteral("Enter a port from 1 to 65535, or 0 to close it.")},
        {"socksPort", held, QStringLiteral("Port %1 is in use by another program.").arg(held)},
        {"socksPort", QStringLiteral("7891"), QStringLiteral("The HTTP port already uses 7891.")},
        {"redirPort", QString::number(EngineSettings::defaultMixedPort),
         QStringLiteral("The mixed port already uses %1.").arg(EngineSettings::defaultMixedPort)},
        {"authentication", QStringLiteral("alice"),
         QStringLiteral("\"alice\" is not a user name, a colon and a password.")},
    };
    for (const Case& c : cases) {
        field(c.key).setValue(c.value);
        EXPECT_EQ(field(c.key).errorText(), c.message) << c.key;
        EXPECT_FALSE(field(c.key).commit());
        EXPECT_EQ(field(c.key).errorText(), c.message) << c.key;
    }
    EXPECT_EQ(writtenKeys(), before);

    // Corrected, the message goes and the value is written.
    field("socksPort").setValue(QStringLiteral("0"));
    EXPECT_EQ(field("socksPort").errorText(), QString());
    EXPECT_TRUE(field("socksPort").commit());
    EXPECT_EQ(m_settings.integer(QStringLiteral("socksPort")), 0);
}
