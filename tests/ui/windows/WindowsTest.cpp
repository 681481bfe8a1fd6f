#include "app/AppState.h"
#include "app/HelperClient.h"
#include "config/ProfileStore.h"
#include "platform/Settings.h"
#include "support/TestHttpServer.h"
#include "support/TestSupport.h"
#include "ui/menubar/MenuBarManager.h"
#include "ui/models/ProfileListModel.h"
#include "ui/windows/DesktopFrontend.h"
#include "ui/windows/GuiAlertPresenter.h"
#include "ui/windows/ImportSubscriptionDialog.h"
#include "ui/windows/MainWindow.h"
#include "ui/windows/ProfilesPage.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

// The application as tarnwick-app builds it on a desktop, in a temporary workspace.
class WindowsTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_settings = std::make_unique<Settings>(m_dir.filePath(QStringLiteral("settings.ini")));
        m_settings->setBoolean(QStringLiteral("update.autoCheck"), false);
        for (const char* key : {"geoxGeoIP", "geoxGeoSite", "geoxMMDB", "geoxASN", "geoxModelBin"})
            m_settings->setText(QString::fromLatin1(key), m_server.url(QStringLiteral("/missing")));
        m_settings->setInteger(QStringLiteral("apiPort"), test::freePort());
        HelperRegistration::Options options;
        options.socketPath = m_dir.filePath(QStringLiteral("run/helper.sock"));
        options.helperExecutable = test::binaryDir() + QStringLiteral("/bin/tarnwick-helper");
        options.unitDirectory = m_dir.filePath(QStringLiteral("units"));
        options.systemctl = QStringLiteral("/bin/false");
        m_helper = std::make_unique<HelperClient>(options, HelperClient::Timeouts{});

        AppEnvironment environment;
        environment.settings = m_settings.get();
        environment.paths = ClashPaths(m_dir.filePath(QStringLiteral("workspace")));
        environment.helper = m_helper.get();
        environment.alertPresenter = &m_frontend.alertPresenter();
        environment.defaultProfileResource = test::sourceDir() + QStringLiteral("/resources/Default.yaml");
        m_frontend.prepare(environment);
        m_state = std::make_unique<AppState>(environment);
        m_frontend.attach(*m_state, [this] { ++m_quitRequests; });
        test::await(m_state->reloadProfiles());
    }

    void TearDown() override
    {
        m_frontend.detach();
        m_state.reset();
        test::await(m_helper->unregisterHelper());
    }

    QTemporaryDir m_dir;
    test::TestHttpServer m_server{[](const test::HttpRequest& request) {
        if (request.path == "/sub")
            return test::HttpResponse{
                200,
                {{"subscription-userinfo", "upload=1048576; download=3145728; total=8388608"}},
                "proxies: []\nrules:\n  - MATCH,DIRECT\n"};
        return test::HttpResponse{404, {}, "no such subscription"};
    }};
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<HelperClient> m_helper;
    DesktopFrontend m_frontend;
    std::unique_ptr<AppState> m_state;
    int m_quitRequests = 0;
};

} // namespace

TEST_F(WindowsTest, WithoutATrayTheMainWindowOpensSaysWhyAndRemembersItsPlace)
{
    // The offscreen platform has no tray: the window stands in for it.
    ASSERT_FALSE(m_frontend.menuBar()->isTrayAvailable());
    QPointer<MainWindow> window = m_frontend.mainWindow();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    const QList<QLabel*> labels = window->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.cbegin(), labels.cend(), [](const QLabel* label) {
        return label->isVisibleTo(label->window()) && label->text().contains(QStringLiteral("no tray icons"));
    }));

    window->resize(1001, 701);
    window->showPage(QStringLiteral("profiles"));
    window->close();
    // Closed is gone, and with no tray closing quits.
    EXPECT_TRUE(test::waitFor([&] { return window.isNull(); }));
    EXPECT_EQ(m_quitRequests, 1);

    MainWindow& reopened = m_frontend.openMainWindow();
    EXPECT_EQ(reopened.size(), QSize(1001, 701));
    EXPECT_EQ(reopened.currentPage(), QStringLiteral("profiles"));
}

TEST_F(WindowsTest, ProfilesPageFollowsTheStoreAndShowsFailuresInPlace)
{
    auto* page =
        qobject_cast<ProfilesPage*>(m_frontend.openMainWindow(QStringLiteral("profiles")).page("profiles"));
    ASSERT_TRUE(page);
    ASSERT_EQ(page->model().rowCount(), 1); // the seeded default profile
    QSignalSpy resets(&page->model(), &QAbstractItemModel::modelReset);

    // Importing through the dialog: a wrong address is refused on the spot, a real one lands in the list
    // with its quota.
    ImportSubscriptionDialog dialog(*m_state);
    dialog.urlField().setText(QStringLiteral("ftp://example.com/x"));
    dialog.import();
    EXPECT_EQ(dialog.errorText(), QStringLiteral("Enter an http or https address."));
    dialog.urlField().setText(m_server.url(QStringLiteral("/sub")));
    dialog.nameField().setText(QStringLiteral("Office"));
    QSignalSpy imported(&dialog, &ImportSubscriptionDialog::imported);
    dialog.import();
    ASSERT_TRUE(test::waitFor([&] { return imported.size() == 1 && page->model().rowCount() == 2; }));
    const int row = page->model().profileAt(0)->name == QLatin1String("Office") ? 0 : 1;
    EXPECT_EQ(page->model().index(row, ProfileListModel::QuotaColumn).data().toString(),
              QStringLiteral("4.0 MB of 8.0 MB"));

    // An update whose server fails names the profile and the failure, under the list.
    const ProfileNode office = *page->model().profileAt(row);
    test::await(m_state->profiles().updateMetadata(office.id, m_server.url(QStringLiteral("/gone")),
                                                   office.name, std::nullopt));
    test::await(m_state->reloadProfiles());
    page->view().setCurrentIndex(page->view().model()->index(row, 0));
    page->updateSelected();
    ASSERT_TRUE(test::waitFor([&] { return !page->errorText().isEmpty(); }));
    EXPECT_TRUE(page->errorText().startsWith(QStringLiteral("Office: "))) << page->errorText().toStdString();
    EXPECT_EQ(resets.size(), 0);

    // Activating with the kernel stopped makes it the profile of the next start.
    page->activateSelected();
    EXPECT_EQ(m_state->activeProfileName(), QStringLiteral("Office"));
    EXPECT_TRUE(page->model().index(row, 0).data(ProfileListModel::IsActiveRole).toBool());
}

TEST_F(WindowsTest, AlertsShowTheirTextsAndButtonsInOrder)
{
    GuiAlertPresenter presenter;
    QStringList seen;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        seen << box->windowTitle() << box->informativeText();
        for (QAbstractButton* button : box->buttons())
            seen << button->text();
        EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("Edit Config"));
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == QLatin1String("OK"))
                button->click();
        }
    });
    const int choice = presenter.present({QStringLiteral("Configuration Error"),
                                          QStringLiteral("bad rule"),
                                          Alert::Style::warning,
                                          {QStringLiteral("Edit Config"), QStringLiteral("OK")}});
    EXPECT_EQ(seen.mid(0, 2), (QStringList{"Configuration Error", "bad rule"}));
    EXPECT_TRUE(seen.contains(QStringLiteral("Edit Config")) && seen.contains(QStringLiteral("OK")));
    EXPECT_EQ(choice, 1);
}
