#pragma once

#include "runtime/RuntimeChannel.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace tarnwick {

class RuntimeManager;

// Shown when no kernel is installed: pick a release channel, download, watch the progress; says what went
// wrong when the installation fails and offers to try again.
class KernelDownloadWindow final : public QDialog
{
    Q_OBJECT

public:
    explicit KernelDownloadWindow(RuntimeManager& runtime, QWidget* parent = nullptr);

    // A release channel as the channel pickers list it.
    static QString channelTitle(RuntimeChannel channel);

    QString statusText() const;
    void startDownload();

Q_SIGNALS:
    // A kernel is installed and active.
    void installed();

protected:
    // Closed while downloading, the window only hides: the download goes on and the kernel still starts
    // once it is installed.
    void closeEvent(QCloseEvent* event) override;

private:
    void stateChanged();

    RuntimeManager& m_runtime;
    QComboBox* m_channel;
    QProgressBar* m_progress;
    QLabel* m_status;
    QPushButton* m_download;
    bool m_running = false;
};

} // namespace tarnwick
