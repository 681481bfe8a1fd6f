#pragma once

#include <QHash>
#include <QMainWindow>

class QLabel;
class QListWidget;
class QStackedWidget;

namespace tarnwick {

class DesktopFrontend;

// The one main window: a sidebar of pages on the left, the page on the right. Remembers its size,
// position and page; closing it destroys it and every page (the tray stays).
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    static inline const QString geometryKey = QStringLiteral("mainWindow.geometry");
    static inline const QString pageKey = QStringLiteral("mainWindow.page");

    explicit MainWindow(DesktopFrontend& frontend, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Page ids, in sidebar order.
    QStringList pageIds() const;
    QString currentPage() const;
    void showPage(const QString& id);
    // The page widget, created on first use.
    QWidget* page(const QString& id);
    // A line above the pages saying something the user should know (why there is no tray icon).
    void showNotice(const QString& text);
    void setQuitOnClose(bool quit) { m_quitOnClose = quit; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct PageEntry
    {
        QString id;
        QString title;
        QString iconName; // the desktop theme's name
        QString fallbackIcon;
    };

    QWidget* createPage(const QString& id);
    void saveState() const;

    DesktopFrontend& m_frontend;
    QList<PageEntry> m_entries;
    QListWidget* m_sidebar = nullptr;
    QStackedWidget* m_stack = nullptr;
    QLabel* m_notice = nullptr;
    QHash<QString, QWidget*> m_pages;
    bool m_quitOnClose = false;
};

} // namespace tarnwick
