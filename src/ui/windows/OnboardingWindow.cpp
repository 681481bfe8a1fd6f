#include "OnboardingWindow.h"

#include "DesktopFrontend.h"
#include "app/AppState.h"
#include "runtime/RuntimeManager.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick {

OnboardingWindow::OnboardingWindow(DesktopFrontend& frontend, QWidget* parent)
    : QDialog(parent), m_frontend(frontend)
{
    setWindowTitle(QStringLiteral("Welcome to Tarnwick"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("Welcome to Tarnwick"), this);
    QFont font = title->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setWeight(QFont::DemiBold);
    title->setFont(font);
    layout->addWidget(title);
    auto* intro = new QLabel(
        QStringLiteral(
            "Tarnwick runs the Mihomo proxy kernel with your profile and lives in the tray: start and "
            "stop it, switch modes, profiles and proxies from there, and open this window for "
            "everything else."),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("<b>1. Kernel</b>"), this), 0, 0);
    m_kernel = new QLabel(this);
    m_kernel->setWordWrap(true);
    grid->addWidget(m_kernel, 0, 1);
    m_download = new QPushButton(QStringLiteral("Download Kernel…"), this);
    grid->addWidget(m_download, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("<b>2. Profile</b>"), this), 1, 0);
    m_profiles = new QComboBox(this);
    m_profiles->setAccessibleName(QStringLiteral("Profile"));
    grid->addWidget(m_profiles, 1, 1);
    auto* import = new QPushButton(QStringLiteral("Import Subscription…"), this);
    grid->addWidget(import, 1, 2);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    layout->addStretch(1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* start = buttons->addButton(QStringLiteral("Get Started"), QDialogButtonBox::AcceptRole);
    start->setDefault(true);
    layout->addWidget(buttons);

    AppState& state = m_frontend.state();
    connect(m_download, &QPushButton::clicked, this, [this] { m_frontend.openKernelDownload(); });
    connect(import, &QPushButton::clicked, this, [this] { m_frontend.importSubscription(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &OnboardingWindow::finish);
    connect(&state, &AppState::profileNodesChanged, this, &OnboardingWindow::refresh);
    connect(&state.runtimeManager(), &RuntimeManager::stateChanged, this, &OnboardingWindow::refresh);
    setMinimumWidth(560);
    // The list is read at boot, which onboarding comes before.
    state.reloadProfiles();
    refresh();
}

void OnboardingWindow::refresh()
{
    const AppState& state = m_frontend.state();
    const std::optional<QString> version = state.runtimeManager().activeVersion();
    m_kernel->setText(version ? QStringLiteral("Mihomo %1 is installed.").arg(*version)
                              : QStringLiteral("No kernel is installed yet."));
    m_download->setText(version ? QStringLiteral("Download Another…") : QStringLiteral("Download Kernel…"));
    const QString chosen = m_profiles->currentText();
    m_profiles->clear();
    for (const ProfileNode& profile : state.profileNodes())
        m_profiles->addItem(profile.name);
    const int keep =
        m_profiles->findText(chosen.isEmpty() ? state.activeProfileName().value_or(QString()) : chosen);
    // A freshly imported subscription is the likely choice.
    m_profiles->setCurrentIndex(keep >= 0 ? keep : m_profiles->count() - 1);
}

void OnboardingWindow::finish()
{
    AppState& state = m_frontend.state();
    if (!m_profiles->currentText().isEmpty())
        state.setActiveProfileName(m_profiles->currentText());
    state.completeOnboardingInBackground();
    accept();
}

} // namespace tarnwick
