#include "LogsPage.h"

#include "PageHeader.h"
#include "app/AppState.h"
#include "controller/LogStore.h"
#include "platform/Error.h"
#include "ui/models/LogListModel.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <QVBoxLayout>

namespace tarnwick {

LogsPage::LogsPage(AppState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_model(new LogListModel(this)),
      m_filter(new QSortFilterProxyModel(this))
{
    auto* layout = new QVBoxLayout(this);
    auto* header = new PageHeader(QStringLiteral("Logs"), this);
    m_level = new QComboBox(header);
    m_level->setAccessibleName(QStringLiteral("Level"));
    for (const char* level : {"debug", "info", "warning", "error", "silent"})
        m_level->addItem(QString::fromLatin1(level).at(0).toUpper() + QString::fromLatin1(level).mid(1),
                         QString::fromLatin1(level));
    m_level->setCurrentIndex(qMax(0, m_level->findData(m_state.kernelStores().logLevel())));
    header->layout()->addWidget(m_level);
    m_pause = header->addButton(QStringLiteral("Pause"), QStringLiteral("media-playback-pause"));
    QPushButton* clear = header->addButton(QStringLiteral("Clear"), QStringLiteral("edit-clear"));
    QPushButton* exportButton = header->addButton(QStringLiteral("Export…"), QStringLiteral("document-save"));
    header->addFilter(QStringLiteral("Filter messages"));
    layout->addWidget(header);

    m_view = header->addFilteredList(m_model, m_filter, QStringLiteral("Log"));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->header()->setSectionResizeMode(LogListModel::TimeColumn, QHeaderView::ResizeToContents);
    m_view->header()->setSectionResizeMode(LogListModel::LevelColumn, QHeaderView::ResizeToContents);
    m_view->header()->setStretchLastSection(true);
    layout->addWidget(m_view, 1);
    m_status = new QLabel(this);
    m_status->setAccessibleName(QStringLiteral("Status"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_status);

    connect(m_pause, &QPushButton::clicked, this, [this] { setPaused(!isPaused()); });
    connect(clear, &QPushButton::clicked, this, [this] {
        m_message.clear();
        m_state.logStore().clear();
    });
    connect(exportButton, &QPushButton::clicked, this, &LogsPage::chooseExportFile);
    connect(m_level, &QComboBox::currentIndexChanged, this,
            [this] { setLevel(m_level->currentData().toString()); });
    connect(&m_state.logStore(), &LogStore::entriesChanged, this, &LogsPage::refresh);
    connect(&m_state.logStore(), &LogStore::streamingChanged, this, &LogsPage::refreshStatus);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), this), &QShortcut::activated, this,
            [this] { setPaused(!isPaused()); });
    showPaused();
    refresh();
}

void LogsPage::refresh()
{
    // New lines keep the view at the bottom only if the reader was there.
    QScrollBar* bar = m_view->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum() - 2;
    m_model->update(m_state.logStore().entries());
    if (atBottom)
        m_view->scrollToBottom();
    refreshStatus();
}

void LogsPage::refreshStatus()
{
    if (!m_message.isEmpty())
        m_status->setText(m_message);
    else if (isPaused())
        m_status->setText(QStringLiteral("Paused: new lines are not collected until you resume."));
    else if (!m_state.logStore().isStreaming())
        m_status->setText(QStringLiteral("The kernel is not running: its log continues when it starts."));
    else if (m_model->rowCount() == 0)
        m_status->setText(QStringLiteral("No log lines yet at this level."));
    else
        m_status->clear();
}

QString LogsPage::statusText() const
{
    return m_status->text();
}

bool LogsPage::isPaused() const
{
    return m_state.kernelStores().isLogPaused();
}

void LogsPage::setPaused(bool paused)
{
    m_message.clear();
    m_state.kernelStores().setLogPaused(paused);
    showPaused();
    refreshStatus();
}

void LogsPage::showPaused()
{
    const bool paused = isPaused();
    m_pause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    m_pause->setAccessibleName(m_pause->text());
    m_pause->setIcon(QIcon::fromTheme(paused ? QStringLiteral("media-playback-start")
                                             : QStringLiteral("media-playback-pause")));
}

void LogsPage::setLevel(const QString& level)
{
    m_state.kernelStores().setLogLevel(level);
}

void LogsPage::chooseExportFile()
{
    const QString proposed = QDir::home().filePath(LogStore::exportFileName(QDateTime::currentDateTime()));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export Logs"), proposed,
                                                      QStringLiteral("Plain Text (*.txt)"));
    if (!path.isEmpty())
        exportTo(path);
}

QString LogsPage::exportTo(const QString& path)
{
    try {
        m_state.logStore().exportTo(path);
        m_message =
            QStringLiteral("Exported %1 lines to %2").arg(m_state.logStore().entries().size()).arg(path);
        refreshStatus();
        return {};
    } catch (const std::exception& error) {
        const QString text = describe(error);
        m_message = QStringLiteral("\u26A0 ") + text;
        refreshStatus();
        return text;
    }
}

} // namespace tarnwick
