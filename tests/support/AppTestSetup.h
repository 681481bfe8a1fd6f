#pragma once

#include "TestHttpServer.h"
#include "app/AppState.h"
#include "app/HelperClient.h"
#include "platform/HelperRegistration.h"
#include "platform/Settings.h"

#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace tarnwick::test {

// Settings for an application under test: geodata and release feeds at `unreachable` (a local server
// that answers 404), the controller and the mixed port on free ports.
void prepareAppSettings(Settings& settings, const QString& unreachable);
// The real helper as the tests run it: started by the application itself (there is no systemd user
// manager), its socket in `directory`/run.
HelperRegistration::Options helperOptions(const QString& directory);
// Unregisters the helper an application under test started on `socketPath`.
void unregisterHelper(const QString& socketPath);

// The application in a temporary directory: its settings kept offline by prepareAppSettings, their local
// server answering as `answer` says (404 unless a test says otherwise), the real helper, the workspace.
// The kernel it started is stopped and its helper unregistered at the end.
class AppTest : public ::testing::Test
{
public:
    explicit AppTest(TestHttpServer::Handler answer = notFound);
    void SetUp() override;
    void TearDown() override;

    static HttpResponse notFound(const HttpRequest&) { return {404, {}, "none", false}; }

    QString workspace() const { return m_dir.filePath(QStringLiteral("workspace")); }
    // The user is past the onboarding, with this profile active.
    void completedOnboarding(const QString& activeProfile);
    // What every application of the tests is built with; a fixture adds its own hooks.
    AppEnvironment environment(AlertPresenter& alerts) const;
    // Builds the application (kept in m_state) as the fixture builds it.
    virtual AppState& makeState() = 0;
    // The provisioned kernel installed, the profile active, booted; the kernel's status says how it went.
    AppState& bootWithKernel(const QString& activeProfile = QStringLiteral("Default"));
    // A GET on the running kernel's controller with the saved secret; empty on any failure.
    QByteArray controllerGet(const QString& path) const;

    QTemporaryDir m_dir;
    TestHttpServer m_server;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<HelperClient> m_helper;
    std::unique_ptr<AppState> m_state;
};

} // namespace tarnwick::test
