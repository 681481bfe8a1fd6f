#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace tarnwick {

class DesktopFrontend;

// The first launch: what Tarnwick does, the kernel (download one when none is installed) and the profile
// to start with; "Get Started" finishes onboarding and boots.
class OnboardingWindow final : public QDialog
{
    Q_OBJECT

public:
    explicit OnboardingWindow(DesktopFrontend& frontend, QWidget* parent = nullptr);

    QComboBox& profileChoice() const { return *m_profiles; }
    void finish();

private:
    void refresh();

    DesktopFrontend& m_frontend;
    QLabel* m_kernel;
    QPushButton* m_download;
    QComboBox* m_profiles;
};

} // namespace tarnwick
