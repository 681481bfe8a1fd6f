#pragma once

#include <QMainWindow>

class QLabel;

namespace tarnwick {

class DesktopFrontend;
class SidebarStack;

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
    QWidget* createPage(const QString& id, QWidget* parent);
    void saveState() const;

    DesktopFrontend& m_frontend;
    SidebarStack* m_pages = nullptr;
    QLabel* m_notice = nullptr;
    bool m_quitOnClose = false;
};

} // namespace tarnwick
