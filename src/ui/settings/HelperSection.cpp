#include "HelperSection.h"

#include "app/AppState.h"
#include "platform/Error.h"
#include "platform/HelperRegistration.h"
#include "platform/HelperSocketPath.h"
#include "ui/windows/DesktopFrontend.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>
#include <unistd.h>

namespace tarnwick {

namespace {

QLabel* wrappingLabel(QWidget* parent, const QString& accessibleName)
{
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAccessibleName(accessibleName);
    return label;
}

bool privilegedInstalled()
{
    return QFileInfo::exists(HelperSocketPath::privilegedPath(::getuid()));
}

} // namespace

HelperSection::HelperSection(DesktopFrontend& frontend, QWidget* parent)
    : QWidget(parent), m_frontend(frontend)
{
    auto* layout = new QVBoxLayout(this);
    auto* helper = new QGroupBox(QStringLiteral("Helper"), this);
    auto* helperRows = new QFormLayout(helper);
    auto* intro =
        new QLabel(QStringLiteral("The helper starts and stops the kernel and switches the system proxy "
                                  "for Tarnwick. It runs as you, in the background."),
                   helper);
    intro->setWordWrap(true);
    helperRows->addRow(intro);
    m_status = wrappingLabel(helper, QStringLiteral("Helper status"));
    helperRows->addRow(QStringLiteral("Status"), m_status);
    m_register = new QPushButton(QStringLiteral("Register Helper"), helper);
    m_register->setAccessibleName(QStringLiteral("Register Helper"));
    helperRows->addRow(QString(), m_register);
    layout->addWidget(helper);

    auto* privileged = new QGroupBox(QStringLiteral("Privileged Mode"), this);
    auto* privilegedRows = new QFormLayout(privileged);
    auto* privilegedIntro = new QLabel(
        QStringLiteral("TUN mode needs a system service that runs the kernel with network "
                       "administration rights and nothing more. Installing or removing it asks for "
                       "an administrator's password."),
        privileged);
    privilegedIntro->setWordWrap(true);
    privilegedRows->addRow(privilegedIntro);
    m_privileged = wrappingLabel(privileged, QStringLiteral("Privileged mode status"));
    privilegedRows->addRow(QStringLiteral("Status"), m_privileged);
    m_privilegedButton = new QPushButton(privileged);
    privilegedRows->addRow(QString(), m_privilegedButton);
    layout->addWidget(privileged);

    m_error = wrappingLabel(this, QStringLiteral("Error"));
    m_error->hide();
    layout->addWidget(m_error);
    layout->addStretch(1);

    connect(m_register, &QPushButton::clicked, this, &HelperSection::registerHelper);
    connect(m_privilegedButton, &QPushButton::clicked, this, &HelperSection::togglePrivilegedMode);
    refreshPrivileged();
    refresh();
}

QString HelperSection::statusText(HelperStatus status, const QString& version)
{
    switch (status) {
    case HelperStatus::ok:
        return QStringLiteral("Running — Helper Version %1").arg(version);
    case HelperStatus::notRegistered:
        return QStringLiteral("Not registered — Please Enable Helper: the kernel cannot start without it.");
    case HelperStatus::outdated:
        return QStringLiteral("Outdated — version %1 answers, this Tarnwick needs %2. Re-register it.")
            .arg(version, HelperClient::expectedVersion());
    case HelperStatus::unreachable:
        return QStringLiteral("Helper Unreachable — it is registered but does not answer. Re-register it.");
    }
    return {};
}

QStringList HelperSection::privilegedCommand(const QString& helperExecutable, bool install)
{
    return {QStringLiteral("pkexec"), helperExecutable,
            install ? QStringLiteral("--install-privileged") : QStringLiteral("--uninstall-privileged")};
}

QString HelperSection::status() const
{
    return m_status->text();
}

QString HelperSection::privilegedStatus() const
{
    return m_privileged->text();
}

QString HelperSection::errorText() const
{
    return m_error->isHidden() ? QString() : m_error->text();
}

void HelperSection::setBusy(bool busy)
{
    m_busy = busy;
    m_register->setEnabled(!busy);
    m_privilegedButton->setEnabled(!busy && !m_admin);
}

void HelperSection::refresh()
{
    if (m_busy)
        return;
    refreshTask(this);
}

QCoro::Task<> HelperSection::refreshTask(QPointer<HelperSection> self)
{
    self->setBusy(true);
    self->m_status->setText(QStringLiteral("Checking…"));
    HelperClient& helper = self->m_frontend.state().helper();
    HelperStatus status = HelperStatus::unreachable;
    QString version;
    try {
        status = co_await helper.checkStatus();
        if (status == HelperStatus::ok || status == HelperStatus::outdated)
            version = co_await helper.getVersion();
    } catch (const std::exception& error) {
        qWarning("Helper status: %s", qUtf8Printable(describe(error)));
    }
    if (!self)
        co_return;
    self->m_status->setText(statusText(status, version));
    self->m_register->setText(status == HelperStatus::notRegistered ? QStringLiteral("Register Helper")
                                                                    : QStringLiteral("Re-register Helper"));
    self->m_register->setAccessibleName(self->m_register->text());
    self->setBusy(false);
}

void HelperSection::registerHelper()
{
    if (m_busy)
        return;
    m_error->hide();
    registerTask(this);
}

QCoro::Task<> HelperSection::registerTask(QPointer<HelperSection> self)
{
    self->setBusy(true);
    self->m_status->setText(QStringLiteral("Registering…"));
    HelperClient& helper = self->m_frontend.state().helper();
    QString failure;
    try {
        co_await helper.registerHelper();
        if (!helper.isRegistered())
            failure = QStringLiteral("The helper could not be registered; the application's log says why.");
    } catch (const std::exception& error) {
        failure = describe(error);
    }
    if (!self)
        co_return;
    self->m_error->setText(failure);
    self->m_error->setVisible(!failure.isEmpty());
    self->setBusy(false);
    self->refresh();
}

void HelperSection::refreshPrivileged()
{
    const bool installed = privilegedInstalled();
    m_privileged->setText(installed ? QStringLiteral("Installed — TUN mode is available.")
                                    : QStringLiteral("Not installed — TUN mode cannot be switched on."));
    m_privilegedButton->setText(installed ? QStringLiteral("Remove Privileged Mode")
                                          : QStringLiteral("Install Privileged Mode"));
    m_privilegedButton->setAccessibleName(m_privilegedButton->text());
    m_privilegedButton->setEnabled(!m_busy && !m_admin);
}

void HelperSection::togglePrivilegedMode()
{
    if (m_admin)
        return;
    const QString helper = HelperRegistration::defaultOptions().helperExecutable;
    if (helper.isEmpty()) {
        m_error->setText(QStringLiteral("The tarnwick-helper program is not beside this application."));
        m_error->show();
        return;
    }
    const QStringList command = privilegedCommand(helper, !privilegedInstalled());
    m_error->hide();
    m_admin = new QProcess(this);
    m_admin->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_admin, &QProcess::finished, this, [this](int code, QProcess::ExitStatus exitStatus) {
        const QString output = QString::fromLocal8Bit(m_admin->readAll()).trimmed();
        m_admin->deleteLater();
        m_admin = nullptr;
        if (exitStatus != QProcess::NormalExit || code != 0) {
            // pkexec answers 126 when the password dialog was dismissed.
            m_error->setText(code == 126 ? QStringLiteral("Cancelled: no administrator password was given.")
                             : output.isEmpty()
                                 ? QStringLiteral("The command failed with status %1.").arg(code)
                                 : output);
            m_error->show();
        }
        refreshPrivileged();
    });
    connect(m_admin, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || !m_admin)
            return;
        m_error->setText(
            QStringLiteral("pkexec is not installed; run \"sudo tarnwick-helper --install-privileged\" "
                           "in a terminal instead."));
        m_error->show();
        m_admin->deleteLater();
        m_admin = nullptr;
        refreshPrivileged();
    });
    m_privilegedButton->setEnabled(false);
    m_admin->start(command.first(), command.mid(1));
}

} // namespace tarnwick
