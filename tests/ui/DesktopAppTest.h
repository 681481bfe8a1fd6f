#pragma once

#include "support/AppTestSetup.h"
#include "ui/windows/DesktopFrontend.h"
#include "ui/windows/MainWindow.h"

#include <functional>

namespace tarnwick::test {

// The application as tarnwick-app builds it on a desktop, without the automatic update check.
class DesktopAppTest : public AppTest
{
public:
    using AppTest::AppTest;

    void SetUp() override
    {
        AppTest::SetUp();
        m_settings->setBoolean(QStringLiteral("update.autoCheck"), false);
    }
    void TearDown() override
    {
        m_frontend.detach();
        AppTest::TearDown();
    }

    AppState& makeState() override
    {
        AppEnvironment env = environment(m_frontend.alertPresenter());
        m_frontend.prepare(env);
        m_state = std::make_unique<AppState>(env);
        m_frontend.attach(*m_state, [this] { ++m_quitRequests; });
        return *m_state;
    }

    // The main window's page, opened on it.
    template <typename Page> Page* page(const QString& id)
    {
        return qobject_cast<Page*>(m_frontend.openMainWindow(id).page(id));
    }

    DesktopFrontend m_frontend;
    int m_quitRequests = 0;
};

} // namespace tarnwick::test
