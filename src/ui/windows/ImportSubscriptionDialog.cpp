#include "ImportSubscriptionDialog.h"

#include "app/AppState.h"
#include "config/ProfileStore.h"
#include "platform/Error.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

namespace tarnwick {

ImportSubscriptionDialog::ImportSubscriptionDialog(AppState& state, QWidget* parent)
    : QDialog(parent), m_state(state)
{
    setWindowTitle(QStringLiteral("Import Subscription"));
    auto* layout = new QFormLayout(this);
    m_url = new QLineEdit(this);
    m_url->setPlaceholderText(QStringLiteral("https://example.com/subscription"));
    m_url->setAccessibleName(QStringLiteral("Subscription URL"));
    m_url->setMinimumWidth(420);
    m_name = new QLineEdit(this);
    m_name->setPlaceholderText(QStringLiteral("From the subscription"));
    m_name->setAccessibleName(QStringLiteral("Name"));
    m_error = new QLabel(this);
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_error->hide();
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_buttons->addButton(QStringLiteral("Import"), QDialogButtonBox::AcceptRole)->setDefault(true);
    layout->addRow(QStringLiteral("URL:"), m_url);
    layout->addRow(QStringLiteral("Name:"), m_name);
    layout->addRow(m_error);
    layout->addRow(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &ImportSubscriptionDialog::import);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QString ImportSubscriptionDialog::errorText() const
{
    return m_error->isHidden() ? QString() : m_error->text();
}

void ImportSubscriptionDialog::setWorking(bool working)
{
    m_url->setEnabled(!working);
    m_name->setEnabled(!working);
    m_buttons->setEnabled(!working);
}

void ImportSubscriptionDialog::import()
{
    const QString url = m_url->text().trimmed();
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() ||
        (parsed.scheme() != QLatin1String("http") && parsed.scheme() != QLatin1String("https"))) {
        m_error->setText(QStringLiteral("Enter an http or https address."));
        m_error->show();
        m_url->setFocus();
        return;
    }
    importTask(this, url, m_name->text().trimmed());
}

QCoro::Task<> ImportSubscriptionDialog::importTask(QPointer<ImportSubscriptionDialog> self, QString url,
                                                   QString name)
{
    self->setWorking(true);
    self->m_error->setText(QStringLiteral("Downloading…"));
    self->m_error->show();
    try {
        const ProfileNode node = co_await self->m_state.profiles().importRemote(url, name, std::nullopt);
        if (!self)
            co_return;
        co_await self->m_state.reloadProfiles();
        if (!self)
            co_return;
        Q_EMIT self->imported(node.name);
        self->accept();
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        self->m_error->setText(describe(error));
        self->setWorking(false);
    }
}

} // namespace tarnwick
