#include "DesktopFrontend.h"

#include "ImportSubscriptionDialog.h"
#include "KernelDownloadWindow.h"
#include "MainWindow.h"
#include "OnboardingWindow.h"
#include "app/AppState.h"
#include "config/ProfileStore.h"
#include "platform/Error.h"
#include "platform/Logging.h"
#include "ui/menubar/MenuBarManager.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace tarnwick {

namespace {

QCoro::Task<> importLocalTask(QPointer<DesktopFrontend> self, QString path)
{
    try {
        const ProfileNode node = co_await self->state().profiles().importLocal(path);
        if (self)
            co_await self->state().reloadProfiles();
        qCInfo(lcProfiles, "Added local profile \"%s\"", qUtf8Printable(node.name));
    } catch (const std::exception& error) {
        if (self)
            QMessageBox::warning(self->mainWindow(), QStringLiteral("Add Local Profile"), describe(error));
    }
}

} // namespace

DesktopFrontend::DesktopFrontend() = default;

DesktopFrontend::~DesktopFrontend()
{
    detach();
}

DesktopHooks DesktopFrontend::hooks()
{
    DesktopHooks hooks;
    hooks.createApplication = [](int& argc, char** argv) -> std::unique_ptr<QCoreApplication> {
        auto application = std::make_unique<QApplication>(argc, argv);
        // The tray lives on when the last window closes.
        QApplication::setQuitOnLastWindowClosed(false);
        QApplication::setDesktopFileName(QStringLiteral("tarnwick"));
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tarnwick.svg")));
        return application;
    };
    hooks.createFrontend = [] { return std::make_unique<DesktopFrontend>(); };
    return hooks;
}

void DesktopFrontend::prepare(AppEnvironment& environment)
{
    QPointer<DesktopFrontend> self(this);
    environment.openFile = [self](const QString& path) {
        if (self)
            self->openFile(path);
    };
    environment.openKernelDownload = [self] {
        if (self)
            self->openKernelDownload();
    };
    environment.openOnboarding = [self] {
        if (self)
            self->openOnboarding();
    };
    environment.openMainWindow = [self] {
        if (self)
            self->openMainWindow();
    };
}

void DesktopFrontend::attach(AppState& state, std::function<void()> quit)
{
    m_state = &state;
    m_quit = std::move(quit);
    m_menuBar = std::make_unique<MenuBarManager>(state, *this);
    QPointer<DesktopFrontend> self(this);
    state.alertCoordinator().setSettingsOpener([self] {
        if (self)
            self->openMainWindow();
    });
    connect(&state.updateFlow(), &AppUpdateFlow::updateWindowRequested, this, [this] { openUpdateWindow(); });
    // A rule left for the editor (the webpage capture's) brings the rules page forward, which opens it.
    connect(&state, &AppState::browserRuleEditorModeChanged, this, [this] {
        if (m_state->browserRuleEditorMode())
            openMainWindow(QStringLiteral("rules"));
    });
    if (!m_menuBar->isTrayAvailable())
        showTrayFallback();
}

void DesktopFrontend::detach()
{
    delete m_onboarding;
    delete m_kernelDownload;
    delete m_updateWindow;
    delete m_mainWindow;
    m_menuBar.reset();
}

void DesktopFrontend::showTrayFallback()
{
    qCWarning(lcAppState, "The desktop shows no tray icons: opening the main window instead");
    MainWindow& window = openMainWindow();
    window.showNotice(QStringLiteral(
        "This desktop shows no tray icons (on GNOME, an AppIndicator extension adds them), so Tarnwick "
        "shows this window instead. Closing it quits Tarnwick."));
    window.setQuitOnClose(true);
}

MainWindow& DesktopFrontend::openMainWindow(const QString& page)
{
    if (!m_mainWindow)
        m_mainWindow = new MainWindow(*this);
    if (!page.isEmpty())
        m_mainWindow->showPage(page);
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
    return *m_mainWindow;
}

void DesktopFrontend::openOnboarding()
{
    if (!m_onboarding)
        m_onboarding = new OnboardingWindow(*this);
    m_onboarding->show();
    m_onboarding->raise();
    m_onboarding->activateWindow();
}

void DesktopFrontend::openKernelDownload()
{
    if (!m_kernelDownload) {
        m_kernelDownload = new KernelDownloadWindow(m_state->runtimeManager());
        QPointer<AppState> state(m_state);
        connect(m_kernelDownload, &KernelDownloadWindow::installed, this, [this, state] {
            if (!state || m_state->bootState() == AppBootState::onboarding)
                return;
            m_menuBar->startKernel();
        });
    }
    m_kernelDownload->show();
    m_kernelDownload->raise();
    m_kernelDownload->activateWindow();
}

UpdateWindow& DesktopFrontend::openUpdateWindow()
{
    if (!m_updateWindow)
        m_updateWindow = new UpdateWindow(m_state->updateFlow());
    m_updateWindow->show();
    m_updateWindow->raise();
    m_updateWindow->activateWindow();
    return *m_updateWindow;
}

void DesktopFrontend::openFile(const QString& path)
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        printDiagnostic(QStringLiteral("[Tarnwick] Failed to open ") + path);
}

void DesktopFrontend::revealFile(const QString& path)
{
    // The file manager's own "show this item" where it offers one, else the folder.
    const QString dbusSend = QStandardPaths::findExecutable(QStringLiteral("dbus-send"));
    if (!dbusSend.isEmpty()) {
        const QStringList arguments{QStringLiteral("--session"),
                                    QStringLiteral("--print-reply"),
                                    QStringLiteral("--dest=org.freedesktop.FileManager1"),
                                    QStringLiteral("/org/freedesktop/FileManager1"),
                                    QStringLiteral("org.freedesktop.FileManager1.ShowItems"),
                                    QStringLiteral("array:string:") + QUrl::fromLocalFile(path).toString(),
                                    QStringLiteral("string:")};
        auto* process = new QProcess(this);
        connect(process, &QProcess::finished, this,
                [this, process, path](int code, QProcess::ExitStatus status) {
                    if (status != QProcess::NormalExit || code != 0)
                        openFile(QFileInfo(path).absolutePath());
                    process->deleteLater();
                });
        process->start(dbusSend, arguments);
        return;
    }
    openFile(QFileInfo(path).absolutePath());
}

void DesktopFrontend::importSubscription()
{
    auto* dialog = new ImportSubscriptionDialog(*m_state, m_mainWindow);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void DesktopFrontend::addLocalProfile()
{
    const QString path =
        QFileDialog::getOpenFileName(m_mainWindow, QStringLiteral("Add Local Profile"), QDir::homePath(),
                                     QStringLiteral("Profiles (*.yaml *.yml)"));
    if (!path.isEmpty())
        importLocalTask(this, path);
}

void DesktopFrontend::quit()
{
    if (m_quit)
        m_quit();
}

} // namespace tarnwick
