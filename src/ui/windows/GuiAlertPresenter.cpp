#include "GuiAlertPresenter.h"

#include <QMessageBox>
#include <QPushButton>

namespace tarnwick {

int GuiAlertPresenter::present(const Alert& alert)
{
    QMessageBox box;
    box.setWindowTitle(alert.title);
    box.setText(alert.title);
    box.setInformativeText(alert.text);
    box.setIcon(alert.style == Alert::Style::critical  ? QMessageBox::Critical
                : alert.style == Alert::Style::warning ? QMessageBox::Warning
                                                       : QMessageBox::Information);
    QList<QAbstractButton*> buttons;
    const QStringList titles = alert.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : alert.buttons;
    for (qsizetype i = 0; i < titles.size(); ++i) {
        // The last of several buttons is the one that declines (Escape chooses it).
        const QMessageBox::ButtonRole role =
            i == 0 ? QMessageBox::AcceptRole
                   : (i == titles.size() - 1 ? QMessageBox::RejectRole : QMessageBox::ActionRole);
        buttons.append(box.addButton(titles[i], role));
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    box.setEscapeButton(buttons.last());
    box.exec();
    const qsizetype chosen = buttons.indexOf(box.clickedButton());
    return chosen < 0 ? int(buttons.size() - 1) : int(chosen);
}

} // namespace tarnwick
