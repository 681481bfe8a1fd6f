#pragma once

#include <QDialog>
#include <QPointer>
#include <qcoro/qcorotask.h>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

namespace tarnwick {

class AppState;

// Asks for a subscription URL (and an optional name), downloads it as a new remote profile and says
// why when it cannot, without closing.
class ImportSubscriptionDialog final : public QDialog
{
    Q_OBJECT

public:
    explicit ImportSubscriptionDialog(AppState& state, QWidget* parent = nullptr);

    QLineEdit& urlField() const { return *m_url; }
    QLineEdit& nameField() const { return *m_name; }
    QString errorText() const;
    void import();

Q_SIGNALS:
    void imported(const QString& name);

private:
    static QCoro::Task<> importTask(QPointer<ImportSubscriptionDialog> self, QString url, QString name);
    void setWorking(bool working);

    AppState& m_state;
    QLineEdit* m_url;
    QLineEdit* m_name;
    QLabel* m_error;
    QDialogButtonBox* m_buttons;
};

} // namespace tarnwick
