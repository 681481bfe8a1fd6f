#include "ui/settings/SettingsPage.h"

#include "../DesktopAppTest.h"
#include "app/HelperClient.h"
#include "config/EngineSettings.h"
#include "support/QtPrinters.h"
#include "support/ReleaseFeedServer.h"
#include "support/TestSupport.h"
#include "ui/settings/HelperSection.h"
#include "ui/settings/KernelSection.h"
#include "ui/settings/SettingField.h"
#include "ui/settings/UpdatesSection.h"
#include "ui/windows/UpdateWindow.h"

#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

// The application with the real kernel in a temporary workspace, past the onboarding.
class SettingsPageTest : public test::DesktopAppTest
{
public:
    void SetUp() override
    {
        DesktopAppTest::SetUp();
        completedOnboarding(QStringLiteral("Default"));
    }

    QStringList engineKeysWritten() const
    {
        QStringList keys;
        for (const EngineSettings::Setting& setting : EngineSettings::table()) {
            if (m_settings->contains(QLatin1String(setting.key)))
                keys.append(QLatin1String(setting.key));
        }
        return keys;
    }
};

} // namespace

TEST_F(SettingsPageTest, EveryEngineSettingHasItsControlAndAChangeReachesTheRunningKernel)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    AppState& state = bootWithKernel();
    ASSERT_EQ(state.kernelStatus().kind, KernelStatus::Kind::running);
    ASSERT_TRUE(test::waitFor([&] { return state.isKernelReady(); }, 15s));

    auto* page = this->page<SettingsPage>(QStringLiteral("settings"));
    ASSERT_TRUE(page);
    const QStringList writtenBefore = engineKeysWritten();
    QHash<QString, SettingField*> fields;
    for (const QString& id : page->sectionIds()) {
        for (SettingField* field : page->section(id)->findChildren<SettingField*>()) {
            EXPECT_FALSE(fields.contains(field->key())) << field->key().toStdString() << " twice";
            fields.insert(field->key(), field);
        }
    }
    // TUN itself is switched from the tray, which also prepares what it needs.
    for (const EngineSettings::Setting& setting : EngineSettings::table())
        EXPECT_EQ(fields.contains(QLatin1String(setting.key)), qstrcmp(setting.key, "tunEnabled") != 0)
            << setting.key;
    EXPECT_EQ(engineKeysWritten(), writtenBefore);

    const QString newPort = QString::number(test::freePort());
    struct Change
    {
        const char* key;
        QString value;
        QByteArray configs; // what the kernel's "/configs" then says
    };
    const Change changes[] = {
        {"allowLan", QStringLiteral("true"), "\"allow-lan\":true"},
        {"mixedPort", newPort, "\"mixed-port\":" + newPort.toUtf8()},
        {"lanAllowedIPs", QStringLiteral("127.0.0.0/8\n10.0.0.0/8"),
         "\"lan-allowed-ips\":[\"127.0.0.0/8\",\"10.0.0.0/8\"]"},
        {"findProcessMode", QStringLiteral("off"), "\"find-process-mode\":\"off\""},
    };
    for (const Change& change : changes) {
        SettingField* field = fields.value(QLatin1String(change.key));
        ASSERT_TRUE(field) << change.key;
        QSignalSpy written(m_settings.get(), &Settings::changed);
        field->setValue(change.value);
        ASSERT_TRUE(field->commit()) << change.key << ": " << field->errorText().toStdString();
        ASSERT_EQ(written.size(), 1) << change.key;
        EXPECT_EQ(written[0][0].toString(), QLatin1String(change.key));
    }
    QByteArray configs;
    EXPECT_TRUE(test::waitFor(
        [&] {
            configs = controllerGet(QStringLiteral("/configs"));
            return std::all_of(std::begin(changes), std::end(changes),
                               [&](const Change& change) { return configs.contains(change.configs); });
        },
        15s))
        << configs.toStdString();
    EXPECT_EQ(state.kernelStatus().kind, KernelStatus::Kind::running);
}

TEST_F(SettingsPageTest, KernelSectionInstallsFromTheFeedListsNewestFirstAndRollsBack)
{
    TARNWICK_REQUIRE_KERNEL(kernel);
    ASSERT_TRUE(test::installKernel(workspace()));
    test::ReleaseFeedServer feed;
    feed.publish(QStringLiteral("MetaCubeX/mihomo"), QStringLiteral("v1.19.31"), false,
                 {test::ReleaseFeedServer::kernelAsset(QStringLiteral("v1.19.31"), test::gzipped(kernel))});
    feed.publish(QStringLiteral("tarnwick/Tarnwick"), QStringLiteral("v9.0.0"), false,
                 {{QStringLiteral("Tarnwick-9.0.0-linux-amd64.zip"), "zip", -1, 200}});
    m_settings->setText(QStringLiteral("releases.apiBaseURL"), feed.apiBase());
    m_settings->setBoolean(QStringLiteral("isKernelIntentionallyStopped"), true);
    makeState();
    auto* page = this->page<SettingsPage>(QStringLiteral("settings"));
    auto* kernelSection = qobject_cast<KernelSection*>(page->section(QStringLiteral("kernel")));
    ASSERT_TRUE(kernelSection);
    const auto versions = [&] {
        QStringList texts;
        for (int i = 0; i < kernelSection->versions().count(); ++i)
            texts.append(kernelSection->versions().item(i)->text());
        return texts;
    };
    EXPECT_EQ(versions(), QStringList{QStringLiteral("v1.19.30  ·  stable  ·  active")});

    kernelSection->checkForUpdates();
    ASSERT_TRUE(test::waitFor(
        [&] { return kernelSection->updateText() == QStringLiteral("Version v1.19.31 is available."); }));
    // The first word of each status shown: the kernel on disk is ready at once, then the newer one arrives.
    QStringList shown;
    QObject::connect(&m_state->runtimeManager(), &RuntimeManager::stateChanged, kernelSection, [&] {
        const QString word = kernelSection->statusText().section(u' ', 0, 0);
        if (shown.value(shown.size() - 1) != word)
            shown.append(word);
    });
    kernelSection->upgrade();
    ASSERT_TRUE(test::waitFor(
        [&] { return kernelSection->statusText() == QStringLiteral("Kernel v1.19.31 is installed."); }, 60s))
        << kernelSection->statusText().toStdString();
    EXPECT_EQ(shown, (QStringList{QStringLiteral("Looking"), QStringLiteral("Kernel"),
                                  QStringLiteral("Downloading…"), QStringLiteral("Installing…"),
                                  QStringLiteral("Checking"), QStringLiteral("Activating…"),
                                  QStringLiteral("Kernel")}));
    EXPECT_EQ(versions(), (QStringList{QStringLiteral("v1.19.31  ·  stable  ·  active"),
                                       QStringLiteral("v1.19.30  ·  stable")}));

    kernelSection->versions().setCurrentRow(1);
    kernelSection->rollback();
    ASSERT_TRUE(test::waitFor([&] { return versions().value(1).endsWith(QStringLiteral("active")); }));
    EXPECT_EQ(m_state->runtimeManager().activeVersion(), QStringLiteral("v1.19.30"));
    EXPECT_EQ(kernelSection->errorText(), QString());

    // A newer release that cannot be downloaded leaves the newest kernel on disk active, and says why.
    feed.publish(QStringLiteral("MetaCubeX/mihomo"), QStringLiteral("v1.19.32"), false,
                 {test::ReleaseFeedServer::kernelAsset(QStringLiteral("v1.19.32"), {}, 404)});
    kernelSection->upgrade();
    EXPECT_TRUE(test::waitFor([&] {
        return kernelSection->statusText() ==
               QStringLiteral("Kernel v1.19.31 is installed. The newest release "
                              "was not installed: Network failure: HTTP 404");
    })) << kernelSection->statusText().toStdString();

    // The application's own update from its section: the window comes up with the result, then a refusal.
    auto* updates = qobject_cast<UpdatesSection*>(page->section(QStringLiteral("updates")));
    ASSERT_TRUE(updates);
    EXPECT_EQ(updates->lastCheckText(), QStringLiteral("Never"));
    updates->checkNow();
    UpdateWindow& window = m_frontend.openUpdateWindow();
    ASSERT_TRUE(
        test::waitFor([&] { return window.headline() == QStringLiteral("Tarnwick 9.0.0 is available"); }));
    EXPECT_NE(updates->lastCheckText(), QStringLiteral("Never"));
    // The build tree is not where an update may be installed.
    window.actionButton().click();
    ASSERT_TRUE(test::waitFor([&] { return window.headline() == QStringLiteral("The update failed"); }));
    EXPECT_EQ(window.detail(),
              QStringLiteral("Please move Tarnwick to the Applications folder before updating."));
    EXPECT_EQ(window.actionButton().text(), QStringLiteral("Try Again"));
}

TEST_F(SettingsPageTest, HelperSectionShowsTheHelpersStatusRegistersItAndRunsThePrivilegedModeCommand)
{
    const std::pair<HelperStatus, QString> texts[] = {
        {HelperStatus::ok, QStringLiteral("Running — Helper Version 1.2.3")},
        {HelperStatus::notRegistered,
         QStringLiteral("Not registered — Please Enable Helper: the kernel cannot start without it.")},
        {HelperStatus::outdated, QStringLiteral("Outdated — version 1.2.3 answers, this Tarnwick needs %1. "
                                                "Re-register it.")
                                     .arg(HelperClient::expectedVersion())},
        {HelperStatus::unreachable,
         QStringLiteral("Helper Unreachable — it is registered but does not answer. Re-register it.")},
    };
    for (const auto& [status, text] : texts)
        EXPECT_EQ(HelperSection::statusText(status, QStringLiteral("1.2.3")), text);

    // pkexec cannot run here: one that records what it was asked and answers as each case says.
    QTemporaryDir bin;
    test::writeFile(bin.filePath(QStringLiteral("pkexec")),
                    QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$*\" >> '%1/asked'\ncat '%1/output'\n"
                                   "exit \"$(cat '%1/status')\"\n")
                        .arg(bin.path())
                        .toUtf8());
    QFile(bin.filePath(QStringLiteral("pkexec"))).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    const QString helperProgram = test::binaryDir() + QStringLiteral("/bin/tarnwick-helper");
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8() + ':' + path);
    qputenv("TARNWICK_HELPER_PATH", helperProgram.toUtf8());
    const auto restore = qScopeGuard([path] {
        qputenv("PATH", path);
        qunsetenv("TARNWICK_HELPER_PATH");
    });

    makeState();
    auto* page = this->page<SettingsPage>(QStringLiteral("settings"));
    auto* section = qobject_cast<HelperSection*>(page->section(QStringLiteral("helper")));
    ASSERT_TRUE(section);
    const QString running = HelperSection::statusText(HelperStatus::ok, HelperClient::expectedVersion());
    ASSERT_TRUE(test::waitFor([&] { return section->status() == running; }, 15s))
        << section->status().toStdString();
    section->registerHelper();
    EXPECT_EQ(section->status(), QStringLiteral("Registering…"));
    ASSERT_TRUE(test::waitFor([&] { return section->status() == running; }, 15s))
        << section->status().toStdString();
    EXPECT_EQ(section->errorText(), QString());

    const bool installed = section->privilegedStatus().startsWith(QStringLiteral("Installed"));
    const QString action =
        installed ? QStringLiteral("Remove Privileged Mode") : QStringLiteral("Install Privileged Mode");
    QPushButton* button = nullptr;
    for (QPushButton* candidate : section->findChildren<QPushButton*>()) {
        if (candidate->text() == action)
            button = candidate;
    }
    ASSERT_TRUE(button);
    struct Case
    {
        int status;
        QByteArray output;
        QString error;
    };
    const Case cases[] = {
        {0, {}, {}},
        {126, {}, QStringLiteral("Cancelled: no administrator password was given.")},
        {1, "tarnwick-helper: cannot write /etc/systemd/system\n",
         QStringLiteral("tarnwick-helper: cannot write /etc/systemd/system")},
        {3, {}, QStringLiteral("The command failed with status 3.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        QFile::remove(bin.filePath(QStringLiteral("asked")));
        test::writeFile(bin.filePath(QStringLiteral("output")), c.output);
        test::writeFile(bin.filePath(QStringLiteral("status")), QByteArray::number(c.status));
        button->click();
        EXPECT_FALSE(button->isEnabled());
        ASSERT_TRUE(test::waitFor([&] { return button->isEnabled(); }, 15s));
        EXPECT_EQ(test::readFile(bin.filePath(QStringLiteral("asked"))),
                  helperProgram + (installed ? QStringLiteral(" --uninstall-privileged\n")
                                             : QStringLiteral(" --install-privileged\n")));
        EXPECT_EQ(section->errorText(), c.error);
    }
}
