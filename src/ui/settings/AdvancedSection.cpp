#include "AdvancedSection.h"

#include "SettingsForm.h"
#include "app/AppState.h"
#include "app/TrafficHistory.h"
#include "controller/RateFormatter.h"
#include "history/FlowDatabase.h"
#include "platform/Settings.h"
#include "ui/windows/DesktopFrontend.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace tarnwick {

namespace {

// How long after "Delete All Data" the figures are read again: the purge and vacuum run on the
// database's own thread.
constexpr std::chrono::milliseconds refreshAfterDelete{600};

} // namespace

AdvancedSection::AdvancedSection(DesktopFrontend& frontend, QWidget* parent)
    : QWidget(parent), m_frontend(frontend), m_form(new SettingsForm(frontend.state().settings(), this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_form);

    m_form->addGroup(QStringLiteral("Traffic History"));
    auto* history = new QWidget(this);
    auto* rows = new QFormLayout(history);
    rows->setContentsMargins(0, 0, 0, 0);
    m_retention = new QComboBox(history);
    m_retention->setAccessibleName(QStringLiteral("Keep history for"));
    for (const int days : {30, 60, 90})
        m_retention->addItem(QStringLiteral("%1 days").arg(days), days);
    m_retention->addItem(QStringLiteral("Forever"), 0);
    const qint64 days = m_frontend.state().settings().integer(
        QString::fromLatin1(TrafficHistory::retentionKey), TrafficHistory::defaultRetentionDays);
    const int index = m_retention->findData(int(days < 1 ? 0 : days));
    if (index < 0)
        m_retention->addItem(QStringLiteral("%1 days").arg(days), int(days));
    m_retention->setCurrentIndex(index < 0 ? m_retention->count() - 1 : index);
    connect(m_retention, &QComboBox::activated, this, [this] {
        m_frontend.state().settings().setInteger(QString::fromLatin1(TrafficHistory::retentionKey),
                                                 m_retention->currentData().toInt());
    });
    m_flowRecords = new QLabel(history);
    m_flowRecords->setAccessibleName(QStringLiteral("Flow Records"));
    m_databaseSize = new QLabel(history);
    m_databaseSize->setAccessibleName(QStringLiteral("Database Size"));
    m_deleteAll = new QPushButton(QIcon::fromTheme(QStringLiteral("edit-delete")),
                                  QStringLiteral("Delete All Data"), history);
    m_deleteAll->setAccessibleName(QStringLiteral("Delete All Data"));
    rows->addRow(QStringLiteral("Keep history for"), m_retention);
    rows->addRow(QStringLiteral("Flow Records"), m_flowRecords);
    rows->addRow(QStringLiteral("Database Size"), m_databaseSize);
    rows->addRow(QString(), m_deleteAll);
    m_form->addWidget(history);
    connect(m_deleteAll, &QPushButton::clicked, this, &AdvancedSection::deleteAllData);
    refreshHistory();

    m_form->addGroup(QStringLiteral("Geodata"));
    m_form->addEngineFields({
        {"geodataMode", "Use GeoIP.dat instead of the MMDB"},
        {"geodataLoader",
         "Loader",
         "memconservative reads the files as needed; standard loads them whole.",
         {QStringLiteral("memconservative"), QStringLiteral("standard")}},
        {"geoAutoUpdate", "Kernel updates the files itself"},
        {"geoUpdateInterval", "Every (hours)"},
        {"geoxGeoIP", "GeoIP.dat address"},
        {"geoxGeoSite", "GeoSite.dat address"},
        {"geoxMMDB", "Country MMDB address"},
        {"geoxASN", "ASN MMDB address"},
        {"geoxModelBin", "Model.bin address", "Used by the smart channel's kernel."},
    });
    m_form->addGroup(QStringLiteral("Kernel Web Interface"));
    m_form->addEngineFields({
        {"externalUI", "Folder", "Served by the controller; empty: none."},
        {"externalUIUrl", "Download from"},
        {"externalUIName", "Name"},
        {"externalDohServer", "DNS over HTTPS path", "Such as /dns-query; empty: off."},
    });
    m_form->addGroup(QStringLiteral("Kernel Behaviour"));
    m_form->addEngineFields({
        {"storeSelected", "Remember selected proxies"},
        {"storeFakeIP", "Remember fake IPs"},
        {"globalUA", "User agent for downloads"},
        {"etagSupport", "Use ETags for downloads"},
        {"quicGoDisableGso", "QUIC: no segmentation offload"},
        {"quicGoDisableEcn", "QUIC: no ECN"},
        {"dialerIp4pConvert", "Convert IP4P addresses"},
    });
    m_form->finish();
}

QString AdvancedSection::flowRecordsText() const
{
    return m_flowRecords->text();
}

QString AdvancedSection::databaseSizeText() const
{
    return m_databaseSize->text();
}

void AdvancedSection::refreshHistory()
{
    FlowDatabase* database = m_frontend.state().history().flowDatabase();
    m_deleteAll->setEnabled(database != nullptr);
    if (!database) {
        m_flowRecords->setText(QStringLiteral("History is off: its database could not be opened."));
        m_databaseSize->clear();
        return;
    }
    m_flowRecords->setText(QLocale().toString(database->rowCount()));
    m_databaseSize->setText(RateFormatter::bytes(database->fileSize()));
}

void AdvancedSection::deleteAllData()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Delete All Data"),
                    QStringLiteral("Are you sure you want to delete all traffic history?"),
                    QMessageBox::Cancel, this);
    box.setInformativeText(QStringLiteral("This action cannot be undone. All dashboard statistics and "
                                          "historical flow data will be permanently removed."));
    QPushButton* confirm = box.addButton(QStringLiteral("Delete Everything"), QMessageBox::DestructiveRole);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() != confirm)
        return;
    m_frontend.state().history().deleteAllData();
    QTimer::singleShot(refreshAfterDelete, this, &AdvancedSection::refreshHistory);
}

} // namespace tarnwick
