#include "../DesktopAppTest.h"
#include "config/ProfileStore.h"
#include "controller/ConnectionStore.h"
#include "controller/LogStore.h"
#include "controller/ProxyStore.h"
#include "support/KernelProcess.h"
#include "support/TestSupport.h"
#include "ui/menubar/MenuBarManager.h"
#include "ui/models/ConnectionListModel.h"
#include "ui/models/LogListModel.h"
#include "ui/models/ProfileListModel.h"
#include "ui/windows/GuiAlertPresenter.h"
#include "ui/windows/ImportSubscriptionDialog.h"
#include "ui/windows/LogsPage.h"
#include "ui/windows/MainWindow.h"
#include "ui/windows/PolicyPage.h"
#include "ui/windows/ProfilesPage.h"
#include "ui/windows/RequestsPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

// A latency target a few milliseconds away (the kernel measures whole milliseconds, and an answer within
// one reads as 0, which every delay display takes for a failed test) and a subscription.
test::HttpResponse answer(const test::HttpRequest& request)
{
    if (request.path == "/generate_204") {
        QThread::msleep(5);
        return test::HttpResponse{204, {}, {}};
    }
    if (request.path == "/sub")
        return test::HttpResponse{
            200,
            {{"subscription-userinfo", "upload=1048576; download=3145728; total=8388608"}},
            "proxies: []\nrules:\n  - MATCH,DIRECT\n"};
    return test::HttpResponse{404, {}, "no such subscription"};
}

// The application on a desktop before its first boot, its profiles listed.
class WindowsTest : public test::DesktopAppTest
{
public:
    WindowsTest() : DesktopAppTest(answer) {}
    void SetUp() override
    {
        DesktopAppTest::SetUp();
        makeState();
        test::await(m_state->reloadProfiles());
    }
};

QStringList memberNames(const QAbstractItemModel& model, const QModelIndex& group)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(group); ++row)
        names << model.index(row, 0, group).data(ProxyTreeModel::MemberNameRole).toString();
    return names;
}

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
    auto* page = this->page<ProfilesPage>(QStringLiteral("profiles"));
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

TEST_F(WindowsTest, PolicyPageShowsTheKernelsGroupsAndActsThroughTheStore)
{
    TARNWICK_REQUIRE_KERNEL(kernelPath);
    // A profile of awkward names: 300 characters, right-to-left text, a group of 5 000 members.
    const QString longName = QString(300, QLatin1Char('x'));
    const QString rtlName = QStringLiteral("عقدة الشرق");
    const QString dead =
        QStringLiteral(", type: socks5, server: 127.0.0.1, port: %1}\n").arg(test::freePort());
    QString proxies = QStringLiteral("  - {name: dead") + dead + QStringLiteral("  - {name: \"") + longName +
                      QLatin1Char('"') + dead + QStringLiteral("  - {name: \"") + rtlName + QLatin1Char('"') +
                      dead;
    QString big = QLatin1Char('"') + longName + QLatin1Char('"');
    for (int i = 1; i < 5000; ++i) {
        proxies += QStringLiteral("  - {name: n%1").arg(i) + dead;
        big += QStringLiteral(", n%1").arg(i);
    }
    const QString profile =
        QStringLiteral("mixed-port: %1\nbind-address: 127.0.0.1\nmode: rule\n"
                       "profile: {store-selected: false}\nproxies:\n%2proxy-groups:\n"
                       "  - {name: Proxy, type: select, proxies: [DIRECT, dead, \"%3\"], url: \"%4\"}\n"
                       "  - {name: Big, type: select, proxies: [%5]}\n"
                       "  - {name: Hidden, type: select, proxies: [dead], hidden: true}\n"
                       "rules:\n  - MATCH,Proxy\n")
            .arg(test::freePort())
            .arg(proxies, rtlName, m_server.url(QStringLiteral("/generate_204")), big);
    test::KernelProcess kernel(kernelPath);
    ASSERT_TRUE(kernel.start(profile.toUtf8())) << kernel.output().toStdString();
    QNetworkAccessManager network;
    const MihomoClient client(ControllerEndpoint{kernel.host(), kernel.controllerPort(), kernel.secret()},
                              &network);
    m_state->kernelStores().setClient(client);
    ProxyStore& store = m_state->proxyStore();

    auto* page = this->page<PolicyPage>(QStringLiteral("policy"));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->model().rowCount(), 0); // no profile compiled yet: the page says why
    store.loadConfigStructure(kernel.configPath());
    test::await(store.refresh());
    page->refresh();
    QStringList groups;
    for (int row = 0; row < page->model().rowCount(); ++row)
        groups << page->model().groupAt(row)->name;
    EXPECT_EQ(groups, (QStringList{"Proxy", "Big", "GLOBAL", ProxyStore::localProxiesGroup}));
    EXPECT_EQ(page->model().groupAt(1)->members.size(), 5000);
    EXPECT_EQ(page->model().groupAt(1)->members.first().name, longName);

    // A click selects; the kernel follows and the tree changes in place, the current row staying put.
    QSignalSpy resets(&page->model(), &QAbstractItemModel::modelReset);
    const QAbstractItemModel& shown = *page->view().model();
    const QModelIndex proxy = shown.index(0, 0);
    page->view().setCurrentIndex(shown.index(1, 0, proxy));
    page->activate(page->view().currentIndex());
    const auto kernelSelection = [&] {
        for (const ProxyGroup& group : test::await(client.proxyGroups())) {
            if (group.name == QLatin1String("Proxy"))
                return group.selectedProxyName.value_or(QString());
        }
        return QString();
    };
    ASSERT_TRUE(test::waitFor([&] { return kernelSelection() == QLatin1String("dead"); }));

    // The group's test marks the closed node "Timeout" and gives DIRECT a delay.
    page->testCurrentGroup();
    ASSERT_TRUE(test::waitFor([&] {
        return shown.index(1, ProxyTreeModel::DelayColumn, proxy).data().toString() ==
                   QLatin1String("Timeout") &&
               shown.index(0, ProxyTreeModel::DelayColumn, proxy)
                   .data()
                   .toString()
                   .endsWith(QLatin1String(" ms"));
    }));

    // Hiding unavailable nodes keeps the selected one until another is chosen.
    auto* hide = page->findChild<QCheckBox*>();
    hide->click();
    EXPECT_TRUE(store.hideUnavailableProxies());
    page->refresh();
    EXPECT_EQ(memberNames(shown, proxy), (QStringList{"DIRECT", "dead"}));
    page->view().setCurrentIndex(shown.index(0, 0, proxy));
    page->activate(page->view().currentIndex());
    ASSERT_TRUE(test::waitFor([&] { return memberNames(shown, proxy) == QStringList{"DIRECT"}; }));
    EXPECT_EQ(kernelSelection(), QStringLiteral("DIRECT"));
    EXPECT_EQ(page->view().currentIndex().data(ProxyTreeModel::MemberNameRole).toString(),
              QStringLiteral("DIRECT"));
    EXPECT_EQ(resets.size(), 0);

    // A kernel that stops while the page is open: the last groups stay and a selection says what failed.
    kernel.stop();
    hide->click();
    page->refresh();
    page->activate(shown.index(2, 0, proxy));
    ASSERT_TRUE(test::waitFor([&] { return page->statusText().startsWith(QStringLiteral("\u26A0 ")); }));
    EXPECT_TRUE(page->statusText().startsWith(QStringLiteral("\u26A0 Selecting ") + rtlName +
                                              QStringLiteral(" in Proxy: ")))
        << page->statusText().toStdString();
    EXPECT_EQ(page->model().rowCount(), 4);
}

TEST_F(WindowsTest, RequestsPageFollowsTheStoreInPlaceAndClosesThroughTheController)
{
    test::TestHttpServer controller([](const test::HttpRequest&) { return test::HttpResponse{204, {}, {}}; });
    QNetworkAccessManager network;
    ConnectionStore& store = m_state->connectionStore();
    store.setClient(MihomoClient(
        ControllerEndpoint{QStringLiteral("127.0.0.1"), controller.port(), QString()}, &network));
    const auto snapshot = [](QList<int> ids, qint64 bytes) {
        ConnectionSnapshot result;
        for (const int id : ids) {
            ConnectionItem item;
            item.id = QString::number(id);
            item.metadata.host = QStringLiteral("host%1.example").arg(id);
            item.download = bytes * id;
            item.start = QDateTime::currentDateTimeUtc();
            result.connections.append(item);
        }
        result.activeCount = int(ids.size());
        return result;
    };
    auto* page = this->page<RequestsPage>(QStringLiteral("requests"));
    ASSERT_TRUE(page);
    EXPECT_EQ(
        page->statusText(),
        QStringLiteral("The kernel is not running: start it from the tray menu to see its connections."));
    store.apply(snapshot({1, 2, 3}, 100));
    QAbstractItemModel& shown = *page->activeView().model();
    ASSERT_EQ(shown.rowCount(), 3);
    QSignalSpy resets(&page->activeModel(), &QAbstractItemModel::modelReset);
    page->activeView().selectionModel()->select(
        shown.match(shown.index(0, 0), ConnectionListModel::ConnectionIdRole, QStringLiteral("2")).first(),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    store.apply(snapshot({2, 3, 4}, 300));
    EXPECT_EQ(shown.rowCount(), 3);
    EXPECT_EQ(page->closedModel().rowCount(), 1);
    const QModelIndexList selected = page->activeView().selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().data(ConnectionListModel::ConnectionIdRole).toString(), QStringLiteral("2"));
    EXPECT_EQ(resets.size(), 0);

    page->closeSelected();
    page->findChild<QLineEdit*>()->setText(QStringLiteral("HOST4"));
    EXPECT_EQ(shown.rowCount(), 1);
    page->closeAll();
    ASSERT_TRUE(test::waitFor([&] { return controller.requests().size() == 2; }));
    EXPECT_EQ(controller.requestLines(true), (QStringList{"DELETE /connections/2", "DELETE /connections"}));
}

TEST_F(WindowsTest, LogsPageShowsPausesAndExportsTheStoresLines)
{
    LogStore& store = m_state->logStore();
    auto* page = this->page<LogsPage>(QStringLiteral("logs"));
    ASSERT_TRUE(page);
    store.receive({{QStringLiteral("1"), QStringLiteral("warning"), QStringLiteral("dial failed"),
                    QStringLiteral("10:15:02")},
                   {QStringLiteral("2"), QStringLiteral("info"), QStringLiteral("\u0639\u0642\u062F\u0629"),
                    std::nullopt}});
    ASSERT_TRUE(test::waitFor([&] { return page->model().rowCount() == 2; }));

    const QString path = m_dir.filePath(QStringLiteral("export.txt"));
    EXPECT_EQ(page->exportTo(path), QString());
    EXPECT_EQ(test::readFile(path),
              QStringLiteral("[10:15:02] [WARNING] dial failed\n[] [INFO] \u0639\u0642\u062F\u0629"));
    EXPECT_EQ(page->statusText(), QStringLiteral("Exported 2 lines to ") + path);

    // Pausing stops the store's stream across kernel restarts; the level chosen is remembered.
    page->setPaused(true);
    EXPECT_TRUE(m_state->kernelStores().isLogPaused());
    m_state->kernelStores().kernelReady();
    EXPECT_FALSE(store.isStreaming());
    page->setPaused(false);
    EXPECT_TRUE(store.isStreaming());
    m_state->kernelStores().kernelStopped();
    auto* level = page->findChild<QComboBox*>();
    level->setCurrentIndex(level->findData(QStringLiteral("debug")));
    EXPECT_EQ(m_settings->text(KernelStores::logLevelKey), QStringLiteral("debug"));
}
