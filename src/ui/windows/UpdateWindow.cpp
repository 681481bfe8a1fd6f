#include "UpdateWindow.h"

#include "app/AppUpdateFlow.h"
#include "controller/RateFormatter.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace tarnwick {

namespace {

// The release history as the window shows it: newest first, the running version marked.
QString historyMarkdown(const QList<ReleaseEntry>& releases)
{
    QString text;
    for (const ReleaseEntry& release : releases) {
        text +=
            QStringLiteral("### %1%2\n\n")
                .arg(release.version, release.isCurrentVersion ? QStringLiteral(" (installed)") : QString());
        if (release.publishedAt.isValid())
            text +=
                QStringLiteral("*%1*\n\n")
                    .arg(QLocale().toString(release.publishedAt.toLocalTime().date(), QLocale::LongFormat));
        text += release.body.trimmed() + QStringLiteral("\n\n");
    }
    return text;
}

} // namespace

UpdateWindow::UpdateWindow(AppUpdateFlow& flow, QWidget* parent) : QDialog(parent), m_flow(flow)
{
    setWindowTitle(QStringLiteral("Software Update"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    m_headline = new QLabel(this);
    QFont font = m_headline->font();
    font.setPointSizeF(font.pointSizeF() * 1.25);
    font.setWeight(QFont::DemiBold);
    m_headline->setFont(font);
    m_headline->setWordWrap(true);
    m_headline->setAccessibleName(QStringLiteral("Headline"));
    layout->addWidget(m_headline);
    m_detail = new QLabel(this);
    m_detail->setWordWrap(true);
    m_detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_detail->setAccessibleName(QStringLiteral("Detail"));
    layout->addWidget(m_detail);
    m_progress = new QProgressBar(this);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(QStringLiteral("Progress"));
    layout->addWidget(m_progress);
    m_history = new QTextBrowser(this);
    m_history->setOpenExternalLinks(true);
    m_history->setAccessibleName(QStringLiteral("Release history"));
    layout->addWidget(m_history, 1);
    // Takes the history's room while there is none, so that the texts stay at the top.
    m_filler = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding);
    layout->addItem(m_filler);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_action = buttons->addButton(QStringLiteral("Check Again"), QDialogButtonBox::ActionRole);
    m_action->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_action, &QPushButton::clicked, this, &UpdateWindow::act);
    connect(&m_flow, &AppUpdateFlow::phaseChanged, this, [this] { render(m_flow.phase()); });
    resize(560, 440);
    render(m_flow.phase());
}

void UpdateWindow::render(const AppUpdatePhase& phase)
{
    using Kind = AppUpdatePhase::Kind;
    m_shown = phase;
    const bool busy =
        phase.kind == Kind::checking || phase.kind == Kind::downloading || phase.kind == Kind::installing;
    m_progress->setVisible(busy);
    m_progress->setRange(0, phase.kind == Kind::downloading ? 1000 : 0);
    m_progress->setValue(int(phase.progress * 1000));
    const bool history = phase.kind == Kind::result && phase.result && !phase.result->releases.isEmpty();
    m_history->setVisible(history);
    m_filler->changeSize(0, 0, QSizePolicy::Minimum, history ? QSizePolicy::Fixed : QSizePolicy::Expanding);
    layout()->invalidate();
    m_action->setVisible(!busy);
    m_action->setText(QStringLiteral("Check Again"));
    switch (phase.kind) {
    case Kind::idle:
        m_headline->setText(QStringLiteral("Software Update"));
        m_detail->setText(QStringLiteral("Tarnwick %1 is installed.").arg(m_flow.bundle().shortVersion()));
        m_action->setText(QStringLiteral("Check for Updates"));
        break;
    case Kind::checking:
        m_headline->setText(QStringLiteral("Checking for updates…"));
        m_detail->clear();
        break;
    case Kind::result: {
        const AppUpdateResult& result = *phase.result;
        if (result.kind == AppUpdateResult::Kind::available) {
            m_headline->setText(QStringLiteral("Tarnwick %1 is available").arg(result.latest));
            m_detail->setText(
                QStringLiteral("You have %1. Installing it restarts Tarnwick; the kernel and the "
                               "system proxy are switched off and back on.")
                    .arg(result.currentVersion));
            m_action->setText(QStringLiteral("Install and Relaunch"));
        } else {
            m_headline->setText(QStringLiteral("Tarnwick is up to date"));
            m_detail->setText(QStringLiteral("%1 is the newest version.").arg(result.currentVersion));
        }
        m_history->setMarkdown(historyMarkdown(result.releases));
        break;
    }
    case Kind::downloading:
        m_headline->setText(QStringLiteral("Downloading…"));
        m_detail->setText(phase.total > 0 ? QStringLiteral("%1 of %2")
                                                .arg(RateFormatter::bytes(phase.downloaded),
                                                     RateFormatter::bytes(phase.total))
                                          : RateFormatter::bytes(phase.downloaded));
        break;
    case Kind::installing:
        m_headline->setText(QStringLiteral("Installing the update"));
        m_detail->setText(phase.text);
        break;
    case Kind::failed:
        m_headline->setText(QStringLiteral("The update failed"));
        m_detail->setText(phase.text);
        m_action->setText(QStringLiteral("Try Again"));
        break;
    }
    m_action->setAccessibleName(m_action->text());
}

QString UpdateWindow::headline() const
{
    return m_headline->text();
}

QString UpdateWindow::detail() const
{
    return m_detail->text();
}

QString UpdateWindow::historyText() const
{
    return m_history->isHidden() ? QString() : m_history->toPlainText();
}

void UpdateWindow::act()
{
    if (m_shown.kind == AppUpdatePhase::Kind::result && m_shown.result &&
        m_shown.result->kind == AppUpdateResult::Kind::available) {
        m_flow.performUpdate(m_shown.result->downloadURL);
        return;
    }
    m_flow.check(false);
}

} // namespace tarnwick
