#include "KernelDownloadWindow.h"

#include "runtime/RuntimeManager.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick {

QString KernelDownloadWindow::channelTitle(RuntimeChannel channel)
{
    switch (channel) {
    case RuntimeChannel::alpha:
        return QStringLiteral("Alpha — the newest changes");
    case RuntimeChannel::smart:
        return QStringLiteral("Smart — with the Smart group type");
    case RuntimeChannel::stable:
        break;
    }
    return QStringLiteral("Stable — recommended");
}

KernelDownloadWindow::KernelDownloadWindow(RuntimeManager& runtime, QWidget* parent)
    : QDialog(parent), m_runtime(runtime)
{
    setWindowTitle(QStringLiteral("Download the Mihomo Kernel"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* intro =
        new QLabel(QStringLiteral("Tarnwick runs the Mihomo kernel, and none is installed yet. Choose a "
                                  "release channel to download and install it."),
                   this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* form = new QFormLayout;
    m_channel = new QComboBox(this);
    m_channel->setAccessibleName(QStringLiteral("Channel"));
    for (const RuntimeChannel channel : allRuntimeChannels)
        m_channel->addItem(channelTitle(channel), rawValue(channel));
    m_channel->setCurrentIndex(m_channel->findData(rawValue(m_runtime.currentChannel())));
    form->addRow(QStringLiteral("Channel:"), m_channel);
    layout->addLayout(form);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(QStringLiteral("Progress"));
    layout->addWidget(m_progress);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setAccessibleName(QStringLiteral("Status"));
    layout->addWidget(m_status);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_download = buttons->addButton(QStringLiteral("Download"), QDialogButtonBox::ActionRole);
    m_download->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
    connect(m_download, &QPushButton::clicked, this, &KernelDownloadWindow::startDownload);
    connect(&m_runtime, &RuntimeManager::stateChanged, this, &KernelDownloadWindow::stateChanged);
    setMinimumWidth(440);
    stateChanged();
}

void KernelDownloadWindow::closeEvent(QCloseEvent* event)
{
    if (!m_running) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    hide();
}

QString KernelDownloadWindow::statusText() const
{
    return m_status->text();
}

void KernelDownloadWindow::startDownload()
{
    const std::optional<RuntimeChannel> channel =
        runtimeChannelFromRawValue(m_channel->currentData().toString());
    if (!channel || m_running)
        return;
    m_running = true;
    m_runtime.setCurrentChannel(*channel);
    m_runtime.installOrUpdate(*channel);
    stateChanged();
}

void KernelDownloadWindow::stateChanged()
{
    const RuntimeState& state = m_runtime.state();
    using Kind = RuntimeState::Kind;
    const bool busy =
        m_running && state.kind != Kind::ready && state.kind != Kind::failed && state.kind != Kind::missing;
    m_channel->setEnabled(!busy);
    m_download->setEnabled(!busy);
    m_progress->setRange(0, state.kind == Kind::downloading || !busy ? 1000 : 0);
    m_progress->setValue(state.kind == Kind::downloading ? int(state.progress * 1000)
                         : state.kind == Kind::ready     ? 1000
                                                         : 0);
    switch (state.kind) {
    case Kind::checking:
        m_status->setText(QStringLiteral("Looking for the newest release…"));
        break;
    case Kind::downloading:
        m_status->setText(QStringLiteral("Downloading… %1 %").arg(int(state.progress * 100)));
        break;
    case Kind::installing:
        m_status->setText(QStringLiteral("Installing…"));
        break;
    case Kind::validating:
        m_status->setText(QStringLiteral("Checking the kernel…"));
        break;
    case Kind::switching:
        m_status->setText(QStringLiteral("Activating…"));
        break;
    case Kind::ready:
        m_status->setText(QStringLiteral("Kernel %1 is installed.").arg(state.version));
        m_download->setText(QStringLiteral("Download Again"));
        if (m_running) {
            m_running = false;
            Q_EMIT installed();
        }
        break;
    case Kind::failed:
        m_running = false;
        m_status->setText(state.error ? state.error->description()
                                      : QStringLiteral("The installation failed."));
        m_download->setText(QStringLiteral("Try Again"));
        break;
    case Kind::missing:
        m_status->setText(QStringLiteral("No kernel installed."));
        break;
    }
}

} // namespace tarnwick
