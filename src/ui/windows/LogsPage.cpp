#include "LogsPage.h"

#include "PageHeader.h"
#include "app/AppState.h"
#include "controller/LogStore.h"
#include "platform/Error.h"
#include "platform/Settings.h"
#include "ui/models/LogListModel.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <QVBoxLayout>

namespace tarnwick {

LogsPage::LogsPage(AppState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_model(new LogListModel(this)), m_filter(new QSortFilterProxyModel(this))
{
    auto* layout = new QVBoxLayout(this);
    auto* header = new PageHeader(QStringLiteral("Logs"), this);
    m_level = new QComboBox(header);
    m_level->setAccessibleName(QStringLiteral("Level"));
    for (const char* level : {"debug", "info", "warning", "error", "silent"})
        m_level->addItem(QString::fromLatin1(level).at(0).toUpper() + QString::fromLatin1(level).mid(1),
                         QString::fromLatin1(level));
    m_level->setCurrentIndex(
        qMax(0, m_level->findData(m_state.settings().text(levelKey, KernelStores::logLevel))));
    m_pause = header->addButton(QStringLiteral("Pause"), QStringLiteral("media-playback-pause"));
    QPushButton* clear = header->addButton(QStringLiteral("Clear"), QStringLiteral("edit-clear"));
    QPushButton* exportButton = header->addButton(QStringLiteral("Export…"), QStringLiteral("document-save"));
    QLineEdit* filter = header->addFilter(QStringLiteral("Filter messages"));
    layout->addWidget(header);
    header->layout()->addWidget(m_level);

    m_filter->setSourceModel(m_model);
    m_filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_filter->setFilterKeyColumn(-1);
    m_view = new QTreeView(this);
    m_view->setModel(m_filter);
    m_view->setRootIsDecorated(false);
    m_view->setUniformRowHeights(true);
    m_view->setAlternatingRowColors(true);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setAccessibleName(QStringLiteral("Log"));
    m_view->header()->setSectionResizeMode(LogListModel::TimeColumn, QHeaderView::ResizeToContents);
    m_view->header()->setSectionResizeMode(LogListModel::LevelColumn, QHeaderView::ResizeToContents);
    m_view->header()->setStretchLastSection(true);
    layout->addWidget(m_view, 1);
    m_status = new QLabel(this);
    m_status->setAccessibleName(QStringLiteral("Status"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_status);

    connect(filter, &QLineEdit::textChanged, m_filter, &QSortFilterProxyModel::setFilterFixedString);
    connect(m_pause, &QPushButton::clicked, this, [this] { setPaused(!m_paused); });
    connect(clear, &QPushButton::clicked, this, [this] { m_state.logStore().clear(); });
    connect(exportButton, &QPushButton::clicked, this, &LogsPage::chooseExportFile);
    connect(m_level, &QComboBox::currentIndexChanged, this, [this] { setLevel(m_level->currentData().toString()); });
    connect(&m_state.logStore(), &LogStore::entriesChanged, this, &LogsPage::refresh);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), this), &QShortcut::activated, this,
            [this] { setPaused(!m_paused); });
    refresh();
}

void LogsPage::refresh()
{
    if (m_paused)
        return;
    // New lines keep the view at the bottom only if the reader was there.
    QScrollBar* bar = m_view->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum() - 2;
    m_model->update(m_state.logStore().entries());
    if (atBottom)
        m_view->scrollToBottom();
    m_status->setText(m_model->rowCount() == 0 ? QStringLiteral("No log lines yet at this level.") : QString());
}

void LogsPage::setPaused(bool paused)
{
    m_paused = paused;
    m_pause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    m_pause->setIcon(QIcon::fromTheme(paused ? QStringLiteral("media-playback-start")
                                             : QStringLiteral("media-playback-pause")));
    if (!paused)
        refresh();
}

void LogsPage::setLevel(const QString& level)
{
    m_state.settings().setText(levelKey, level);
    if (m_state.logStore().isStreaming())
        m_state.logStore().startStreaming(level);
}

void LogsPage::chooseExportFile()
{
    const QString proposed =
        QDir::home().filePath(LogStore::exportFileName(QDateTime::currentDateTime()));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export Logs"), proposed,
                                                      QStringLiteral("Plain Text (*.txt)"));
    if (!path.isEmpty())
        exportTo(path);
}

QString LogsPage::exportTo(const QString& path)
{
    try {
        m_state.logStore().exportTo(path);
        m_status->setText(QStringLiteral("Exported %1 lines to %2").arg(m_model->rowCount()).arg(path));
        return {};
    } catch (const std::exception& error) {
        const QString text = describe(error);
        m_status->setText(QStringLiteral("\u26A0 ") + text);
        return text;
    }
}

} // namespace tarnwick
